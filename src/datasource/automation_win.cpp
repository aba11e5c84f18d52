#include "datasource/automation_win.h"

#include "common/win_raii_win.h"

#include "hyd_disp.h"

#include <iterator>

namespace hyd {

namespace {

const IID* const g_interfaces[] = {&IID_IHyEnsembleDisp, &IID_IHyEnsembleFile};
ITypeInfo* g_infos[std::size(g_interfaces)] = {};

} // namespace

HRESULT automation_type_info(REFIID iid, LCID lcid, ITypeInfo** info) {
    std::size_t slot = 0;
    while (slot < std::size(g_interfaces) && !IsEqualIID(*g_interfaces[slot], iid)) ++slot;
    if (slot == std::size(g_interfaces)) return E_NOINTERFACE;
    if (ITypeInfo* cached = g_infos[slot]) {
        *info = cached;
        return S_OK;
    }
    com_ptr<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(LIBID_HydDisp, 1, 0, lcid, library.put());
    if (FAILED(hr)) return hr;
    com_ptr<ITypeInfo> loaded;
    hr = library->GetTypeInfoOfGuid(iid, loaded.put());
    if (FAILED(hr)) return hr;
    // The first thread to finish publishes its copy; the others drop theirs.
    if (InterlockedCompareExchangePointer(reinterpret_cast<void**>(&g_infos[slot]), loaded.get(),
                                          nullptr) == nullptr)
        loaded.detach();
    *info = g_infos[slot];
    return S_OK;
}

HRESULT dispatch_get_type_info(REFIID iid, LCID lcid, ITypeInfo** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    ITypeInfo* info = nullptr;
    const HRESULT hr = automation_type_info(iid, lcid, &info);
    if (FAILED(hr)) return hr;
    info->AddRef();
    *out = info;
    return S_OK;
}

HRESULT dispatch_get_ids(REFIID iid, LCID lcid, LPOLESTR* names, UINT count, DISPID* ids) {
    ITypeInfo* info = nullptr;
    const HRESULT hr = automation_type_info(iid, lcid, &info);
    return FAILED(hr) ? hr : DispGetIDsOfNames(info, names, count, ids);
}

HRESULT dispatch_invoke(REFIID iid, void* self, LCID lcid, DISPID member, WORD flags,
                        DISPPARAMS* params, VARIANT* result, EXCEPINFO* error, UINT* bad_arg) {
    ITypeInfo* info = nullptr;
    const HRESULT hr = automation_type_info(iid, lcid, &info);
    if (FAILED(hr)) return hr;
    SetErrorInfo(0, nullptr);
    return DispInvoke(self, info, member, flags, params, result, error, bad_arg);
}

void release_automation_type_info() {
    for (ITypeInfo*& slot : g_infos)
        if (auto* info = static_cast<ITypeInfo*>(
                InterlockedExchangePointer(reinterpret_cast<void**>(&slot), nullptr)))
            info->Release();
}

} // namespace hyd
