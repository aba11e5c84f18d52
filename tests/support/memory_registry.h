// An in-memory registry for the registry-script interpreter's tests and fuzz target.
#pragma once

#include "server/registry_script.h"

#include <strings.h>

#include <map>
#include <memory>
#include <set>
#include <string>

namespace hyd::regscript {

struct ci_less {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

struct node {
    std::map<std::string, std::unique_ptr<node>, ci_less> children;
    std::map<std::string, value, ci_less> values;
};

// A registry in memory, with case-blind names like the real one; `refuse` names keys that cannot
// be created.
class memory_registry final : public registry {
  public:
    node roots[7];
    std::set<std::string> refuse;
    int open_handles = 0;

    handle root(root_key which) override { return handle(&roots[int(which)]); }
    handle open(handle parent, const std::string& name) override {
        const auto it = at(parent).children.find(name);
        if (it == at(parent).children.end()) return 0;
        ++open_handles;
        return handle(it->second.get());
    }
    handle create(handle parent, const std::string& name) override {
        if (refuse.count(name) || name.size() > 255) return 0; // the real one refuses long names
        auto& slot = at(parent).children[name];
        if (!slot) slot = std::make_unique<node>();
        ++open_handles;
        return handle(slot.get());
    }
    void close(handle) override { --open_handles; }
    hresult set_value(handle key, const value& v) override {
        at(key).values[v.name] = v;
        return s_ok;
    }
    void delete_value(handle key, const std::string& name) override { at(key).values.erase(name); }
    bool has_subkeys(handle key) override { return !at(key).children.empty(); }
    hresult delete_tree(handle parent, const std::string& name) override {
        return at(parent).children.erase(name) ? s_ok : e_fail;
    }

    // Every key as its path (HKCR keys without a root prefix), each followed by its values:
    // "A [=text] B\C [n=#16] [raw=00ff]".
    std::string dump() const {
        static const char* const names[] = {
            "", "HKCU:", "HKLM:", "HKU:", "HKPD:", "HKDD:", "HKCC:"};
        std::string out;
        for (int r = 0; r < 7; ++r) dump(roots[r], names[r], out);
        return out;
    }

  private:
    static node& at(handle h) { return *reinterpret_cast<node*>(h); }
    static void dump(const node& n, const std::string& path, std::string& out) {
        for (const auto& [name, child] : n.children) {
            const std::string at = path + (path.empty() || path.back() == ':' ? "" : "\\") + name;
            out += (out.empty() ? "" : " ") + at;
            for (const auto& [key, v] : child->values) {
                out += " [" + key + "=" + (v.type == value_type::string ? v.text : "");
                if (v.type == value_type::dword) out += "#" + std::to_string(v.number);
                for (std::uint8_t b : v.bytes)
                    out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
                out += "]";
            }
            dump(*child, at, out);
        }
    }
};

} // namespace hyd::regscript
