// Owners of Win32 and COM resources: each closes, frees or releases what it holds when it goes, so
// no early return leaks a handle, a key, a module or a reference.
#pragma once

#include <windows.h>

#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace hyd {

// One reference on a COM object.
template <class T> class com_ptr {
  public:
    com_ptr() = default;
    // Takes over a reference the caller already holds.
    static com_ptr attach(T* p) {
        com_ptr made;
        made.p_ = p;
        return made;
    }
    // Adds a reference of its own.
    static com_ptr share(T* p) {
        if (p != nullptr) p->AddRef();
        return attach(p);
    }
    com_ptr(const com_ptr& other) : p_(other.p_) {
        if (p_ != nullptr) p_->AddRef();
    }
    com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    com_ptr& operator=(com_ptr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~com_ptr() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // The slot an out-parameter fills; whatever was held is released first.
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(p_, nullptr); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

// A resource with one close function (Closer); a null value means "nothing held".
template <class Resource, class Closer> class unique_resource {
    static constexpr Resource Invalid{};

  public:
    unique_resource() = default;
    explicit unique_resource(Resource r) : r_(r) {}
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    unique_resource(unique_resource&& other) noexcept : r_(std::exchange(other.r_, Invalid)) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other) {
            reset();
            r_ = std::exchange(other.r_, Invalid);
        }
        return *this;
    }
    ~unique_resource() { reset(); }

    void reset(Resource r = Invalid) {
        if (r_ != Invalid) Closer{}(r_);
        r_ = r;
    }
    Resource* put() {
        reset();
        return &r_;
    }
    Resource get() const { return r_; }
    Resource release() { return std::exchange(r_, Invalid); }
    explicit operator bool() const { return r_ != Invalid; }

  private:
    Resource r_ = Invalid;
};

struct close_handle {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
struct close_hkey {
    void operator()(HKEY k) const { RegCloseKey(k); }
};
struct free_module {
    void operator()(HMODULE m) const { FreeLibrary(m); }
};
struct free_bstr {
    void operator()(BSTR b) const { SysFreeString(b); }
};

// Events and other handles whose "none" is null (CreateEvent...; not CreateFile's results).
using unique_handle = unique_resource<HANDLE, close_handle>;
using unique_hkey = unique_resource<HKEY, close_hkey>;
using unique_module = unique_resource<HMODULE, free_module>;
using unique_bstr = unique_resource<BSTR, free_bstr>;

} // namespace hyd
