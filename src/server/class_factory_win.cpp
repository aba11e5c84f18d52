#include "server/class_factory_win.h"

#include "common/com_boundary_win.h"

#include <new>

namespace hyd {

namespace {

class CHyClassFactory final : public IClassFactory {
  public:
    explicit CHyClassFactory(class_row& row) : row_(row) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return com_call([&]() -> HRESULT {
            if (ppv == nullptr) return E_POINTER;
            *ppv = nullptr;
            if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
            return row_.create_instance(outer, riid, ppv);
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            module_lock();
        else
            module_unlock();
        return S_OK;
    }

  private:
    LONG refs_ = 1; // the class table's reference
    class_row& row_;
};

} // namespace

HRESULT create_class_factory(class_row& row, IUnknown** factory) {
    auto* made = new (std::nothrow) CHyClassFactory(row);
    if (made == nullptr) return E_OUTOFMEMORY;
    *factory = made;
    return S_OK;
}

} // namespace hyd
