#include "server/registrar_win.h"

#include "common/module_win.h"
#include "common/text_win.h"
#include "common/win_raii_win.h"

#include <oleauto.h>

#include <vector>

namespace hyd {

namespace {

HKEY as_key(regscript::registry::handle h) {
    return reinterpret_cast<HKEY>(h);
}
regscript::registry::handle as_handle(HKEY k) {
    return reinterpret_cast<regscript::registry::handle>(k);
}

// Script text of REGISTRY resource `id`, read from the module's file as a data file.
HRESULT load_script(UINT id, std::string& text) {
    const unique_module file(
        LoadLibraryExA(module_file_name().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = E_FAIL;
    if (HRSRC found = FindResourceA(file.get(), MAKEINTRESOURCEA(id), "REGISTRY");
        found != nullptr) {
        if (HGLOBAL loaded = LoadResource(file.get(), found); loaded != nullptr) {
            if (const void* bytes = LockResource(loaded); bytes != nullptr) {
                text.assign(static_cast<const char*>(bytes), SizeofResource(file.get(), found));
                hr = S_OK;
            }
        }
    }
    if (FAILED(hr) && GetLastError() != 0) hr = HRESULT_FROM_WIN32(GetLastError());
    return hr;
}

} // namespace

win32_registry::handle win32_registry::root(regscript::root_key which) {
    switch (which) {
    case regscript::root_key::classes_root:
        return as_handle(HKEY_CLASSES_ROOT);
    case regscript::root_key::current_user:
        return as_handle(HKEY_CURRENT_USER);
    case regscript::root_key::local_machine:
        return as_handle(HKEY_LOCAL_MACHINE);
    case regscript::root_key::users:
        return as_handle(HKEY_USERS);
    case regscript::root_key::performance_data:
        return as_handle(HKEY_PERFORMANCE_DATA);
    case regscript::root_key::dyn_data:
        return as_handle(HKEY_DYN_DATA);
    case regscript::root_key::current_config:
        return as_handle(HKEY_CURRENT_CONFIG);
    }
    return 0;
}

win32_registry::handle win32_registry::open(handle parent, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(as_key(parent), name.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS)
        return as_handle(key);
    if (RegOpenKeyExA(as_key(parent), name.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
        return as_handle(key);
    return 0;
}

win32_registry::handle win32_registry::create(handle parent, const std::string& name) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(as_key(parent), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS)
        return as_handle(key);
    return 0;
}

void win32_registry::close(handle key) {
    RegCloseKey(as_key(key));
}

hresult win32_registry::set_value(handle key, const regscript::value& v) {
    const char* name = v.name.empty() ? nullptr : v.name.c_str();
    LONG err = ERROR_SUCCESS;
    switch (v.type) {
    case regscript::value_type::string:
        err = RegSetValueExA(as_key(key), name, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(v.text.c_str()),
                             static_cast<DWORD>(v.text.size() + 1));
        break;
    case regscript::value_type::dword: {
        const DWORD n = v.number;
        err = RegSetValueExA(as_key(key), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n),
                             sizeof n);
        break;
    }
    case regscript::value_type::binary:
        err = RegSetValueExA(as_key(key), name, 0, REG_BINARY, v.bytes.data(),
                             static_cast<DWORD>(v.bytes.size()));
        break;
    }
    return hresult_from_win32(static_cast<std::uint32_t>(err));
}

void win32_registry::delete_value(handle key, const std::string& name) {
    RegDeleteValueA(as_key(key), name.empty() ? nullptr : name.c_str());
}

bool win32_registry::has_subkeys(handle key) {
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(as_key(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return true; // unknown: keep the key
    return subkeys > 0;
}

hresult win32_registry::delete_tree(handle parent, const std::string& name) {
    {
        unique_hkey key;
        const LONG err = RegOpenKeyExA(as_key(parent), name.c_str(), 0, KEY_ALL_ACCESS, key.put());
        if (err != ERROR_SUCCESS) return hresult_from_win32(static_cast<std::uint32_t>(err));
        // Delete children first; always enumerate index 0, since each deletion shifts the rest.
        for (DWORD index = 0;;) {
            char child[256];
            DWORD length = sizeof child;
            if (RegEnumKeyExA(key.get(), index, child, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            if (failed(delete_tree(as_handle(key.get()), child))) ++index; // skip what cannot go
        }
    }
    const LONG err = RegDeleteKeyA(as_key(parent), name.c_str());
    return hresult_from_win32(static_cast<std::uint32_t>(err));
}

std::string module_file_name() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(module_instance(), path, MAX_PATH);
    return std::string(path, n);
}

HRESULT run_registry_resource(UINT id, bool do_register) {
    std::string text;
    if (const HRESULT hr = load_script(id, text); FAILED(hr)) return hr;
    const std::pair<std::string, std::string> variables[] = {
        {"MODULE", regscript::quote_for_script(module_file_name())}};
    win32_registry reg;
    return regscript::run_text(
        text, variables,
        do_register ? regscript::mode::register_keys : regscript::mode::unregister_keys, reg);
}

HRESULT register_type_library() {
    std::string path = module_file_name();
    com_ptr<ITypeLib> library;
    HRESULT hr = LoadTypeLib(widen(path).c_str(), library.put());
    if (FAILED(hr)) {
        const std::size_t dot = path.find_last_of('.');
        const std::size_t folder = path.find_last_of("\\/:");
        const bool has_dot =
            dot != std::string::npos && (folder == std::string::npos || dot > folder);
        path = (has_dot ? path.substr(0, dot) : path) + ".tlb";
        hr = LoadTypeLib(widen(path).c_str(), library.put());
    }
    if (FAILED(hr)) return hr;
    const std::size_t cut = path.find_last_of("\\/:");
    std::wstring full = widen(path);
    std::wstring help = widen(cut == std::string::npos ? std::string() : path.substr(0, cut + 1));
    return RegisterTypeLib(library.get(), full.data(), help.data());
}

} // namespace hyd
