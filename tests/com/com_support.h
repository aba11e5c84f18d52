// What the COM tests share: Hyd.dll loaded from beside the test program with its four exports,
// COM initialised per test, and host-side test objects (an IStream that misbehaves on demand, an
// extension data source that records what it is shown).
#pragma once

#include "hyd_disp.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <objidl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace hyd::comtest {

// Folder of the running test program, with a trailing backslash (Hyd.dll is built beside it).
inline std::string program_folder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

inline std::string built_dll() {
    return program_folder() + "Hyd.dll";
}

// Hyd.dll loaded by path, with its exports.
struct hyd_dll {
    HMODULE module = nullptr;
    HRESULT(STDAPICALLTYPE* can_unload_now)() = nullptr;
    HRESULT(STDAPICALLTYPE* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* register_server)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregister_server)() = nullptr;

    explicit hyd_dll(const std::string& path = built_dll()) {
        module = LoadLibraryA(path.c_str());
        if (module == nullptr) return;
        can_unload_now = reinterpret_cast<decltype(can_unload_now)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        get_class_object = reinterpret_cast<decltype(get_class_object)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        register_server = reinterpret_cast<decltype(register_server)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
        unregister_server = reinterpret_cast<decltype(unregister_server)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    }
    ~hyd_dll() {
        if (module != nullptr) FreeLibrary(module);
    }
    hyd_dll(const hyd_dll&) = delete;
    hyd_dll& operator=(const hyd_dll&) = delete;
    bool loaded() const {
        return module && can_unload_now && get_class_object && register_server && unregister_server;
    }
};

// COM for the duration of one test (multithreaded apartment: the class is "both").
class com_test : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

// Releases an interface pointer at scope end.
template <class T> class com_ptr {
  public:
    com_ptr() = default;
    ~com_ptr() { reset(); }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

  private:
    T* p_ = nullptr;
};

// An IStream over bytes that can deliver a short read or fail a read at a chosen call, or refuse
// to seek. Reference counted from 1, like the streams a host makes.
class test_stream final : public IStream {
  public:
    explicit test_stream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int short_read_at = 0; // 1-based Read call that delivers one byte less than asked
    int fail_read_at = 0;  // 1-based Read call that fails with read_error
    HRESULT read_error = STG_E_READFAULT;
    bool seekable = true;
    int reads = 0;
    std::vector<std::uint8_t> written;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) ||
            IsEqualIID(riid, IID_ISequentialStream)) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        ++reads;
        if (pcbRead) *pcbRead = 0;
        if (reads == fail_read_at) return read_error;
        if (reads == short_read_at && cb > 0) --cb;
        const std::size_t left = bytes_.size() - std::min(pos_, bytes_.size());
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(cb, left));
        if (n) std::memcpy(pv, bytes_.data() + pos_, n);
        pos_ += n;
        if (pcbRead) *pcbRead = n;
        return n < cb ? S_FALSE : S_OK;
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        const auto* p = static_cast<const std::uint8_t*>(pv);
        written.insert(written.end(), p, p + cb);
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
        if (!seekable) return E_NOTIMPL;
        const std::int64_t base = origin == STREAM_SEEK_SET   ? 0
                                  : origin == STREAM_SEEK_CUR ? std::int64_t(pos_)
                                                              : std::int64_t(bytes_.size());
        if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<std::size_t>(base + move.QuadPart);
        if (pos) pos->QuadPart = pos_;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        *stat = {};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    ULONG refs_ = 1;
};

} // namespace hyd::comtest

namespace hyd::comtest {

// An extension data source that records what each forwarded call shows it and can rewrite the
// first value, as an extension that corrects data would.
class recording_source final : public IHyDataSource {
  public:
    struct call {
        const char* member;
        long item;
        long index;
        const void* buffer;
        long max;
        long* actual;
        long first_value; // GetLong: pLong[0]; GetPoint: ppt[0].x
        long count;       // *pcActual as the extension saw it
    };
    std::vector<call> calls;
    long rewrite = 0; // when non-zero, GetLong/GetPoint put this in the first element

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IHyDataSource)) {
            *ppv = static_cast<IHyDataSource*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; } // lives on the test's stack
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumItems(long, long, long, long, IEnumHyProperty**) override { return E_NOTIMPL; }
    STDMETHODIMP GetLong(long nItem, long nIndex, long* pLong, long cMax, long* pcActual) override {
        calls.push_back({"GetLong", nItem, nIndex, pLong, cMax, pcActual, pLong[0], *pcActual});
        if (rewrite) pLong[0] = rewrite;
        return E_FAIL; // ignored by the caller
    }
    STDMETHODIMP GetPoint(long nItem, long nIndex, POINTL* ppt, long cMax,
                          long* pcActual) override {
        calls.push_back({"GetPoint", nItem, nIndex, ppt, cMax, pcActual, ppt[0].x, *pcActual});
        if (rewrite) ppt[0].x = rewrite;
        return E_FAIL;
    }
    STDMETHODIMP GetString(long nItem, long nIndex, BSTR* pbstr, long cMax,
                           long* pcActual) override {
        calls.push_back({"GetString", nItem, nIndex, pbstr, cMax, pcActual,
                         pbstr[0] ? long(SysStringLen(pbstr[0])) : -1, *pcActual});
        return S_FALSE;
    }
    STDMETHODIMP GetDescription(long, long, long, BSTR*, long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDimensions(long, long, SIZE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMaxExtent(long, long, HDC, SIZE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRealTime(SYSTEMTIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetRealTime(SYSTEMTIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtensions(IHyDataSource**, long) override { return E_NOTIMPL; }

    ULONG refs = 1;
};

// Loads `bytes` into the object through its persistence face, from a fresh test stream.
inline HRESULT load_bytes(IUnknown* object, const std::vector<std::uint8_t>& bytes) {
    IPersistStream* persist = nullptr;
    HRESULT hr = object->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist));
    if (FAILED(hr)) return hr;
    auto* stream = new test_stream(bytes);
    hr = persist->Load(stream);
    stream->Release();
    persist->Release();
    return hr;
}

} // namespace hyd::comtest
