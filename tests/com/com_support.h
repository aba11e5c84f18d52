// What the COM tests share: Hyd.dll loaded from beside the test program with its four exports,
// COM per test, OLE memory streams over bytes, and an extension that records what it is shown.
#pragma once

#include "common/win_raii_win.h"
#include "hyd.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <objidl.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace hyd::comtest {

// Folder of the running test program, with a trailing backslash (Hyd.dll is built beside it).
inline std::string program_folder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string s(path);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// Hyd.dll loaded by path, with its exports.
struct hyd_dll {
    unique_module module;
    HRESULT(STDAPICALLTYPE* can_unload_now)() = nullptr;
    HRESULT(STDAPICALLTYPE* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* register_server)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregister_server)() = nullptr;

    explicit hyd_dll(const std::string& path = program_folder() + "Hyd.dll")
        : module(LoadLibraryA(path.c_str())) {
        const auto get = [this](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
                reinterpret_cast<void*>(GetProcAddress(module.get(), name)));
        };
        get(can_unload_now, "DllCanUnloadNow");
        get(get_class_object, "DllGetClassObject");
        get(register_server, "DllRegisterServer");
        get(unregister_server, "DllUnregisterServer");
    }
    bool loaded() const {
        return can_unload_now && get_class_object && register_server && unregister_server;
    }
};

// COM for the duration of one test (multithreaded apartment: the class is "both").
class com_test : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

inline com_ptr<IStream> memory_stream_of(const std::vector<std::uint8_t>& bytes) {
    return com_ptr<IStream>::attach(SHCreateMemStream(bytes.data(), UINT(bytes.size())));
}

// An extension data source that records what each forwarded call shows it and can rewrite the
// first value, as an extension that corrects data would.
class recording_source final : public IHyDataSource {
  public:
    struct call {
        long item;
        const void* buffer;
        long max;
        long* actual;
        long first; // pLong[0], ppt[0].x or the length of pbstrDesc[0]
        long count; // *pcActual as the extension saw it
    };
    std::vector<call> calls;
    long rewrite = 0; // when non-zero, GetLong/GetPoint put this in the first element
    ULONG refs = 1;

    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; } // lives on the test's stack
    STDMETHODIMP GetLong(long nItem, long, long* pLong, long cMax, long* pcActual) override {
        calls.push_back({nItem, pLong, cMax, pcActual, pLong[0], *pcActual});
        if (rewrite) pLong[0] = rewrite;
        return E_FAIL; // ignored by the caller
    }
    STDMETHODIMP GetPoint(long nItem, long, POINTL* ppt, long cMax, long* pcActual) override {
        calls.push_back({nItem, ppt, cMax, pcActual, ppt[0].x, *pcActual});
        return E_FAIL;
    }
    STDMETHODIMP GetString(long nItem, long, BSTR* pbstr, long cMax, long* pcActual) override {
        calls.push_back({nItem, pbstr, cMax, pcActual, long(SysStringLen(pbstr[0])), *pcActual});
        return S_FALSE;
    }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumItems(long, long, long, long, IEnumHyProperty**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDescription(long, long, long, BSTR*, long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDimensions(long, long, SIZE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMaxExtent(long, long, HDC, SIZE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRealTime(SYSTEMTIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetRealTime(SYSTEMTIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtensions(IHyDataSource**, long) override { return E_NOTIMPL; }
};

// Loads `bytes` into the object through its persistence face, from a fresh memory stream.
inline HRESULT load_bytes(IUnknown* object, const std::vector<std::uint8_t>& bytes) {
    com_ptr<IPersistStream> persist;
    const HRESULT hr = object->QueryInterface(IID_IPersistStream, persist.put_void());
    return FAILED(hr) ? hr : persist->Load(memory_stream_of(bytes).get());
}

} // namespace hyd::comtest
