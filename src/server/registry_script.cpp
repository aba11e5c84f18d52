#include "server/registry_script.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace hyd::regscript {

namespace {

// Deep nesting is never legitimate; the limit keeps hostile input from exhausting the stack.
constexpr int max_depth = 64;

bool same_word(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

struct token {
    std::string text;
    bool quoted = false;
    bool is(std::string_view word) const { return !quoted && same_word(text, word); }
};

class parser {
  public:
    explicit parser(std::string_view text) : text_(text) {}

    bool parse_script(script& out) {
        token t;
        while (next(t)) {
            root r;
            if (!root_from(t, r.which)) return fail("unknown root key '" + t.text + "'");
            if (!expect_open()) return false;
            if (!parse_keys(r.keys, 0, false)) return false;
            out.roots.push_back(std::move(r));
        }
        return error_.empty();
    }

    const std::string& error() const { return error_; }

  private:
    // Reads the next token; false at the end of the text or on a lexical error.
    bool next(token& t) {
        while (pos_ < text_.size() && is_space(text_[pos_])) ++pos_;
        if (pos_ >= text_.size()) return false;
        t = {};
        const char c = text_[pos_];
        if (c == '\'') {
            t.quoted = true;
            ++pos_;
            for (;;) {
                if (pos_ >= text_.size()) return fail("unterminated quoted text");
                if (text_[pos_] == '\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                        t.text += '\'';
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    return true;
                }
                t.text += text_[pos_++];
            }
        }
        const bool opens_block = c == '{' && (pos_ + 1 >= text_.size() ||
                                              is_space(text_[pos_ + 1]) || text_[pos_ + 1] == '{' ||
                                              text_[pos_ + 1] == '}' || text_[pos_ + 1] == '\'');
        if (c == '}' || c == '=' || opens_block) {
            t.text = c;
            ++pos_;
            return true;
        }
        while (pos_ < text_.size() && !is_space(text_[pos_]) && text_[pos_] != '=' &&
               text_[pos_] != '\'')
            t.text += text_[pos_++];
        return true;
    }

    bool peek(token& t) {
        const std::size_t saved = pos_;
        const bool ok = next(t);
        pos_ = saved;
        return ok;
    }

    bool fail(std::string reason) {
        if (error_.empty()) error_ = std::move(reason);
        return false;
    }

    bool expect_open() {
        token t;
        if (!next(t) || !t.is("{")) return fail("'{' expected");
        return true;
    }

    static bool root_from(const token& t, root_key& which) {
        static constexpr std::pair<std::string_view, root_key> names[] = {
            {"HKCR", root_key::classes_root},
            {"HKEY_CLASSES_ROOT", root_key::classes_root},
            {"HKCU", root_key::current_user},
            {"HKEY_CURRENT_USER", root_key::current_user},
            {"HKLM", root_key::local_machine},
            {"HKEY_LOCAL_MACHINE", root_key::local_machine},
            {"HKU", root_key::users},
            {"HKEY_USERS", root_key::users},
            {"HKPD", root_key::performance_data},
            {"HKEY_PERFORMANCE_DATA", root_key::performance_data},
            {"HKDD", root_key::dyn_data},
            {"HKEY_DYN_DATA", root_key::dyn_data},
            {"HKCC", root_key::current_config},
            {"HKEY_CURRENT_CONFIG", root_key::current_config},
        };
        for (const auto& [name, k] : names)
            if (t.is(name)) {
                which = k;
                return true;
            }
        return false;
    }

    // Keys (and, inside a key, val lines) up to the closing brace.
    bool parse_keys(std::vector<key>& keys, int depth, bool inside_key,
                    std::vector<value>* values = nullptr) {
        if (depth > max_depth) return fail("keys nested too deeply");
        token t;
        for (;;) {
            if (!next(t)) return fail("'}' expected");
            if (t.is("}")) return true;
            if (t.is("{") || t.is("=")) return fail("key name expected");
            if (inside_key && t.is("val")) {
                value v;
                if (!next(t) || (!t.quoted && (t.text == "{" || t.text == "}" || t.text == "=")))
                    return fail("value name expected");
                v.name = t.text;
                if (!next(t) || !t.is("=")) return fail("'=' expected after value name");
                if (!parse_value(v)) return false;
                values->push_back(std::move(v));
                continue;
            }
            key k;
            if (t.is("NoRemove"))
                k.mark = marker::no_remove;
            else if (t.is("ForceRemove"))
                k.mark = marker::force_remove;
            else if (t.is("Delete"))
                k.mark = marker::remove;
            if (k.mark != marker::none && !next(t)) return fail("key name expected");
            if (!t.quoted && (t.text == "{" || t.text == "}" || t.text == "="))
                return fail("key name expected");
            if (t.text.empty()) return fail("empty key name");
            if (t.text.find('\\') != std::string::npos)
                return fail("key name '" + t.text + "' holds a backslash");
            k.name = t.text;
            token p;
            if (peek(p) && p.is("=")) {
                next(p);
                value v;
                if (!parse_value(v)) return false;
                k.default_value = std::move(v);
            }
            if (!error_.empty()) return false;
            if (peek(p) && p.is("{")) {
                next(p);
                if (!parse_keys(k.subkeys, depth + 1, true, &k.values)) return false;
            }
            if (!error_.empty()) return false;
            keys.push_back(std::move(k));
        }
    }

    bool parse_value(value& v) {
        token type;
        if (!next(type) || type.quoted) return fail("value type expected");
        token data;
        if (!next(data) ||
            (!data.quoted && (data.text == "{" || data.text == "}" || data.text == "=")))
            return fail("value expected");
        if (type.is("s")) {
            v.type = value_type::string;
            v.text = std::move(data.text);
            return true;
        }
        if (type.is("d")) {
            v.type = value_type::dword;
            return parse_number(data.text, v.number) || fail("bad number '" + data.text + "'");
        }
        if (type.is("b")) {
            v.type = value_type::binary;
            return parse_bytes(data.text, v.bytes) || fail("bad byte string");
        }
        return fail("unknown value type '" + type.text + "'");
    }

    static bool parse_number(std::string_view s, std::uint32_t& out) {
        bool negative = false;
        int base = 10;
        if (!s.empty() && s[0] == '-') {
            negative = true;
            s.remove_prefix(1);
        } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            base = 16;
            s.remove_prefix(2);
        }
        std::uint64_t n = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n, base);
        if (s.empty() || ec != std::errc{} || end != s.data() + s.size()) return false;
        if (negative ? n > 0x80000000ull : n > 0xFFFFFFFFull) return false;
        out = static_cast<std::uint32_t>(negative ? 0 - n : n);
        return true;
    }

    static bool parse_bytes(std::string_view s, std::vector<std::uint8_t>& out) {
        if (s.size() % 2 != 0) return false;
        for (std::size_t i = 0; i < s.size(); i += 2) {
            std::uint8_t b = 0;
            const auto [end, ec] = std::from_chars(s.data() + i, s.data() + i + 2, b, 16);
            if (ec != std::errc{} || end != s.data() + i + 2) return false;
            out.push_back(b);
        }
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

bool protected_name(const std::string& name) {
    return same_word(name, "CLSID") || same_word(name, "TYPELIB");
}

// Closes a handle on every path out of a key's block.
class key_guard {
  public:
    key_guard(registry& reg, registry::handle h) : reg_(reg), h_(h) {}
    ~key_guard() { release(); }
    key_guard(const key_guard&) = delete;
    key_guard& operator=(const key_guard&) = delete;
    void release() {
        if (h_ != 0) reg_.close(h_);
        h_ = 0;
    }

  private:
    registry& reg_;
    registry::handle h_;
};

hresult register_key(registry& reg, registry::handle parent, const key& k) {
    if (k.mark == marker::remove) {
        if (!protected_name(k.name)) reg.delete_tree(parent, k.name);
        return s_ok;
    }
    if (k.mark == marker::force_remove && !protected_name(k.name)) {
        if (const registry::handle existing = reg.open(parent, k.name); existing != 0) {
            reg.close(existing);
            reg.delete_tree(parent, k.name);
        }
    }
    registry::handle h = reg.open(parent, k.name);
    if (h == 0) h = reg.create(parent, k.name);
    if (h == 0) return disp_e_exception;
    key_guard guard(reg, h);
    if (k.default_value)
        if (const hresult hr = reg.set_value(h, *k.default_value); failed(hr)) return hr;
    for (const value& v : k.values)
        if (const hresult hr = reg.set_value(h, v); failed(hr)) return hr;
    for (const key& sub : k.subkeys)
        if (const hresult hr = register_key(reg, h, sub); failed(hr)) return hr;
    return s_ok;
}

hresult unregister_key(registry& reg, registry::handle parent, const key& k) {
    const registry::handle h = reg.open(parent, k.name);
    if (h == 0) return s_ok;
    key_guard guard(reg, h);
    for (const value& v : k.values) reg.delete_value(h, v.name);
    for (const key& sub : k.subkeys)
        if (const hresult hr = unregister_key(reg, h, sub); failed(hr)) return hr;
    const bool keep = k.mark == marker::no_remove || reg.has_subkeys(h);
    guard.release();
    if (!keep) reg.delete_tree(parent, k.name);
    return s_ok;
}

} // namespace

hresult expand(std::string_view text,
               std::span<const std::pair<std::string, std::string>> variables, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const std::size_t end = text.find('%', i + 1);
        if (end == std::string_view::npos) return disp_e_exception;
        const std::string_view name = text.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += '%';
        } else {
            const auto it = std::find_if(variables.begin(), variables.end(),
                                         [&](const auto& v) { return same_word(v.first, name); });
            if (it == variables.end()) return disp_e_exception;
            out += it->second;
        }
        i = end;
    }
    return s_ok;
}

std::string quote_for_script(std::string_view path) {
    std::string out;
    for (const char c : path) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

hresult parse(std::string_view text, script& out, std::string* error) {
    out = {};
    parser p(text);
    if (p.parse_script(out)) return s_ok;
    if (error) *error = p.error();
    out = {};
    return disp_e_exception;
}

hresult run(const script& s, mode m, registry& reg) {
    for (const root& r : s.roots) {
        const registry::handle h = reg.root(r.which);
        for (const key& k : r.keys) {
            const hresult hr =
                m == mode::register_keys ? register_key(reg, h, k) : unregister_key(reg, h, k);
            if (failed(hr)) return hr;
        }
    }
    return s_ok;
}

hresult run_text(std::string_view text,
                 std::span<const std::pair<std::string, std::string>> variables, mode m,
                 registry& reg) {
    std::string expanded;
    if (const hresult hr = expand(text, variables, expanded); failed(hr)) return hr;
    script s;
    if (const hresult hr = parse(expanded, s); failed(hr)) return hr;
    return run(s, m, reg);
}

} // namespace hyd::regscript
