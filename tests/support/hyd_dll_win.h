// Hyd.dll loaded by path from beside the test program, its exports looked up; COM for one test
// (multithreaded: the class is "both").
#pragma once

#include "common/win_raii_win.h"

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace hyd::comtest {

// Folder of the running test program, with a trailing backslash.
inline std::string program_folder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string s(path);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

struct hyd_dll {
    unique_module module;
    HRESULT(STDAPICALLTYPE* can_unload_now)() = nullptr;
    HRESULT(STDAPICALLTYPE* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* register_server)() = nullptr;

    explicit hyd_dll(const std::string& path = program_folder() + "Hyd.dll")
        : module(LoadLibraryA(path.c_str())) {
        const auto get = [this](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
                reinterpret_cast<void*>(GetProcAddress(module.get(), name)));
        };
        get(can_unload_now, "DllCanUnloadNow");
        get(get_class_object, "DllGetClassObject");
        get(register_server, "DllRegisterServer");
    }
    bool loaded() const { return can_unload_now && get_class_object && register_server; }
};

class com_test : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

inline com_ptr<IStream> memory_stream_of(const std::vector<std::uint8_t>& bytes) {
    return com_ptr<IStream>::attach(SHCreateMemStream(bytes.data(), UINT(bytes.size())));
}

// Loads bytes into an object through its IPersistStream, as a host does.
inline HRESULT load_bytes(IUnknown* object, const std::vector<std::uint8_t>& bytes) {
    com_ptr<IPersistStream> persist;
    const HRESULT hr = object->QueryInterface(IID_IPersistStream, persist.put_void());
    return FAILED(hr) ? hr : persist->Load(memory_stream_of(bytes).get());
}

} // namespace hyd::comtest
