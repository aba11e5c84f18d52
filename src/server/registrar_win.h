// Registration on Win32: runs the module's registry scripts (REGISTRY resources) against the real
// registry and registers the module's type library.
#pragma once

#include "server/registry_script.h"

#include <windows.h>

#include <string>

namespace hyd {

// The registry behind the script interpreter: HKEYs as handles.
class win32_registry final : public regscript::registry {
  public:
    handle root(regscript::root_key which) override;
    handle open(handle parent, const std::string& name) override;
    handle create(handle parent, const std::string& name) override;
    void close(handle key) override;
    hresult set_value(handle key, const regscript::value& v) override;
    void delete_value(handle key, const std::string& name) override;
    bool has_subkeys(handle key) override;
    hresult delete_tree(handle parent, const std::string& name) override;
};

// Full path of this module's file.
std::string module_file_name();

// Reads REGISTRY resource `id` from the module's file and runs it with %MODULE% set to the
// module's path.
HRESULT run_registry_resource(UINT id, bool do_register);

// Loads the type library from the module (else from the same path ending in ".tlb") and registers
// it with the module's folder as help directory.
HRESULT register_type_library();

} // namespace hyd
