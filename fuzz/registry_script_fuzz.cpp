// Arbitrary text through the registry-script interpreter: %MODULE% expansion, parsing, then both
// modes against an in-memory registry. Every opened key must be closed again, whatever happened.
#include "server/registry_script.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace {

using namespace hyd::regscript;

struct node {
    std::map<std::string, std::unique_ptr<node>> children;
    std::map<std::string, value> values;
};

class memory_registry final : public registry {
  public:
    node roots[7];
    long open_handles = 0;

    handle root(root_key which) override { return reinterpret_cast<handle>(&roots[int(which)]); }
    handle open(handle parent, const std::string& name) override {
        auto& children = as_node(parent)->children;
        const auto it = children.find(name);
        if (it == children.end()) return 0;
        ++open_handles;
        return reinterpret_cast<handle>(it->second.get());
    }
    handle create(handle parent, const std::string& name) override {
        if (name.size() > 255) return 0; // as the real registry refuses over-long names
        auto& slot = as_node(parent)->children[name];
        if (!slot) slot = std::make_unique<node>();
        ++open_handles;
        return reinterpret_cast<handle>(slot.get());
    }
    void close(handle) override { --open_handles; }
    hyd::hresult set_value(handle key, const value& v) override {
        as_node(key)->values[v.name] = v;
        return hyd::s_ok;
    }
    void delete_value(handle key, const std::string& name) override {
        as_node(key)->values.erase(name);
    }
    bool has_subkeys(handle key) override { return !as_node(key)->children.empty(); }
    hyd::hresult delete_tree(handle parent, const std::string& name) override {
        return as_node(parent)->children.erase(name) ? hyd::s_ok : hyd::e_fail;
    }

  private:
    static node* as_node(handle h) { return reinterpret_cast<node*>(h); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::pair<std::string, std::string> vars[] = {
        {"MODULE", quote_for_script("C:\\it's\\Hyd.dll")}};
    memory_registry reg;
    const hyd::hresult first = run_text(text, vars, mode::register_keys, reg);
    run_text(text, vars, mode::register_keys, reg);
    const hyd::hresult undone = run_text(text, vars, mode::unregister_keys, reg);
    if (reg.open_handles != 0) std::abort();
    // Parsing decides both runs alike: a script that cannot be parsed fails in every mode.
    script s;
    std::string expanded;
    if (hyd::failed(expand(text, vars, expanded)) || hyd::failed(parse(expanded, s))) {
        if (first != disp_e_exception || undone != disp_e_exception) std::abort();
    }
    return 0;
}
