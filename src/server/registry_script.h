// Registry scripts: the text resources (REGISTRY 105) that say which keys and values registration
// writes and unregistration removes. Parsing and the meaning of both modes live here, portable;
// the Win32 registrar supplies the registry behind the `registry` interface.
//
// Syntax: a root key name, then keys in nested braces. A key line is an optional marker
// (NoRemove, ForceRemove, Delete), the key name and optionally "= type value" for its default
// value; inside its braces "val name = type value" sets a named value. Types: s string, d 32-bit
// number (decimal or 0x hex), b bytes (hex digit pairs). Values are in single quotes, a doubled
// quote standing for one. Keywords and type letters ignore case.
//
// The whole script is parsed before anything is written, so a malformed script changes nothing.
#pragma once

#include "common/result_codes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hyd::regscript {

// Every script error (syntax, a key that can be neither opened nor created) ends a run with this.
inline constexpr hresult disp_e_exception = make_hresult(0x80020009);

enum class root_key {
    classes_root,
    current_user,
    local_machine,
    users,
    performance_data,
    dyn_data,
    current_config,
};

enum class marker { none, no_remove, force_remove, remove };

enum class value_type { string, dword, binary };

struct value {
    std::string name; // empty: the key's default value
    value_type type = value_type::string;
    std::string text;                // string
    std::uint32_t number = 0;        // dword
    std::vector<std::uint8_t> bytes; // binary
};

struct key {
    marker mark = marker::none;
    std::string name;
    std::optional<value> default_value;
    std::vector<value> values; // the val lines
    std::vector<key> subkeys;
};

struct root {
    root_key which = root_key::classes_root;
    std::vector<key> keys;
};

struct script {
    std::vector<root> roots;
};

// Replaces each %NAME% by its replacement; "%%" stands for one '%'. An unknown or unterminated
// variable is an error. Replacements go in as given: callers quote them for where they land.
hresult expand(std::string_view text,
               std::span<const std::pair<std::string, std::string>> variables, std::string& out);

// The text of `path` ready for a quoted script value: every single quote doubled.
std::string quote_for_script(std::string_view path);

// Parses a script. On failure returns disp_e_exception and, when `error` is given, a short reason.
hresult parse(std::string_view text, script& out, std::string* error = nullptr);

// The registry as the interpreter needs it. Handles are opaque; 0 means none.
class registry {
  public:
    using handle = std::uintptr_t;
    virtual ~registry() = default;
    virtual handle root(root_key which) = 0; // never closed
    // Opens parent\name, with full access if possible, else read-only; 0 when that fails.
    virtual handle open(handle parent, const std::string& name) = 0;
    virtual handle create(handle parent, const std::string& name) = 0; // 0 on failure
    virtual void close(handle key) = 0;
    virtual hresult set_value(handle key, const value& v) = 0;
    virtual void delete_value(handle key, const std::string& name) = 0;
    virtual bool has_subkeys(handle key) = 0;
    // Deletes parent\name with everything below it.
    virtual hresult delete_tree(handle parent, const std::string& name) = 0;
};

enum class mode { register_keys, unregister_keys };

// Register: keys are opened or created and their values set; a ForceRemove key is first deleted
// with its subkeys; a Delete key is deleted and its block skipped; keys named CLSID or TYPELIB are
// never deleted by a marker. Unregister: listed named values are deleted; a missing key is
// skipped with its block; an existing key is deleted after its block when it has no subkeys left
// and is not NoRemove.
hresult run(const script& s, mode m, registry& reg);

// expand + parse + run in one step.
hresult run_text(std::string_view text,
                 std::span<const std::pair<std::string, std::string>> variables, mode m,
                 registry& reg);

} // namespace hyd::regscript
