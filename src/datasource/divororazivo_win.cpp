#include "datasource/divororazivo_win.h"

#include "common/com_boundary_win.h"
#include "common/date_time_format_win.h"
#include "common/istream_adapter_win.h"
#include "common/module_win.h"
#include "common/text_win.h"
#include "common/win_raii_win.h"
#include "datasource/automation_win.h"
#include "datasource/item_strings.h"
#include "ensemble/item_values.h"
#include "ensemble/item_variant_win.h"
#include "ensemble/persist_load.h"
#include "hylib/comm_setup_win.h"
#include "hylib/device_control_win.h"

#include <new>
#include <string>

using hyd::com_call;

static_assert(sizeof(POINTL) == sizeof(hyd::item_point), "POINTL and item_point must match");
static_assert(sizeof(long) == sizeof(hyd::item_value), "item values are the COM face's longs");

HRESULT DiVORorazivo::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    auto* made = new (std::nothrow) DiVORorazivo;
    if (made == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = made->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete made;
    return hr;
}

DiVORorazivo::DiVORorazivo() {
    hyd::module_lock();
}

DiVORorazivo::~DiVORorazivo() {
    // The module lock goes first; the holder and then the extensions (in the base) follow.
    hyd::module_unlock();
}

STDMETHODIMP DiVORorazivo::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    void* face = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IHyDataSource))
        face = static_cast<IHyDataSource*>(this);
    else if (IsEqualIID(riid, IID_IPersistStream))
        face = static_cast<IPersistStream*>(this);
    else if (IsEqualIID(riid, IID_IHyDeviceControl))
        face = static_cast<IHyDeviceControl*>(this);
    else if (IsEqualIID(riid, IID_IHyCommSetup))
        face = static_cast<IHyCommSetup*>(this);
    else if (IsEqualIID(riid, IID_IHyEnsembleDisp) || IsEqualIID(riid, IID_IDispatch))
        face = static_cast<IHyEnsembleDisp*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
        face = static_cast<ISupportErrorInfo*>(this);
    *ppv = face;
    if (face == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) DiVORorazivo::AddRef() {
    return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) DiVORorazivo::Release() {
    const long left = --m_cRef;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP DiVORorazivo::GetClassID(CLSID* pClassID) {
    if (pClassID == nullptr) return E_POINTER;
    *pClassID = CLSID_DiVORorazivo;
    return S_OK;
}

STDMETHODIMP DiVORorazivo::GetLong(long nItem, long nIndex, long* pLong, long cMax,
                                   long* pcActual) {
    return com_call([&]() -> HRESULT {
        const HRESULT hr = hyd::get_long(m_persist, nItem, nIndex, pLong, cMax, pcActual);
        if (hr == S_OK) ForwardGetLong(nItem, nIndex, pLong, cMax, pcActual);
        return hr;
    });
}

STDMETHODIMP DiVORorazivo::GetPoint(long nItem, long nIndex, POINTL* ppt, long cMax,
                                    long* pcActual) {
    return com_call([&]() -> HRESULT {
        const HRESULT hr = hyd::get_point(m_persist, nItem, nIndex,
                                          reinterpret_cast<hyd::item_point*>(ppt), cMax, pcActual);
        if (hr == S_OK) ForwardGetPoint(nItem, nIndex, ppt, cMax, pcActual);
        return hr;
    });
}

STDMETHODIMP DiVORorazivo::GetString(long nItem, long nIndex, BSTR* pbstrDesc, long cMax,
                                     long* pcActual) {
    return com_call([&]() -> HRESULT {
        if (cMax < 1 || pbstrDesc == nullptr || pcActual == nullptr) return E_INVALIDARG;
        *pcActual = 0;
        // Date and time read their fields through this object's own GetLong, so extensions
        // see those reads too.
        const hyd::long_reader read = [this](hyd::item_value item, hyd::item_value* value) {
            long count = 0;
            return static_cast<hyd::hresult>(GetLong(item, hyd::HY_INDEX_ALL, value, 1, &count));
        };
        std::string text;
        const HRESULT hr =
            hyd::get_item_string(m_persist, nItem, read, hyd::windows_date_time_format(), &text);
        if (hr != S_OK) return hr;
        if (const HRESULT made = hyd::to_bstr(text, &pbstrDesc[0]); FAILED(made)) return made;
        *pcActual = 1;
        ForwardGetString(nItem, nIndex, pbstrDesc, cMax, pcActual);
        return S_OK;
    });
}

STDMETHODIMP DiVORorazivo::GetRealTime(SYSTEMTIME* pst) {
    return com_call([&]() -> HRESULT {
        if (pst == nullptr) return E_POINTER;
        const SYSTEMTIME& stored = StoredRealTime();
        if (stored.wMonth != 0 || stored.wDay != 0) {
            *pst = stored;
            return S_OK;
        }
        // Read in the order month, day, year, hour, minute, second, hundredths; the first
        // failure leaves *pst as it was.
        static constexpr long items[] = {hyd::VAR_TMONTH, hyd::VAR_TDAY, hyd::VAR_TYEAR,
                                         hyd::VAR_THOUR,  hyd::VAR_TMIN, hyd::VAR_TSEC,
                                         hyd::VAR_THSEC};
        long values[7] = {};
        for (int i = 0; i < 7; ++i) {
            long count = 0;
            const HRESULT hr = GetLong(items[i], hyd::HY_INDEX_ALL, &values[i], 1, &count);
            if (FAILED(hr)) return hr;
        }
        const long year = values[2];
        pst->wMonth = static_cast<WORD>(values[0]);
        pst->wDay = static_cast<WORD>(values[1]);
        pst->wYear = static_cast<WORD>(year < 80 ? year + 2000 : year + 1900);
        pst->wHour = static_cast<WORD>(values[3]);
        pst->wMinute = static_cast<WORD>(values[4]);
        pst->wSecond = static_cast<WORD>(values[5]);
        pst->wMilliseconds = static_cast<WORD>(values[6] * 10);
        return S_OK;
    });
}

// IPersistStream: the holder's own members, called non-virtually so that its overridable layout
// parameters still dispatch to the embedded class.

STDMETHODIMP DiVORorazivo::IsDirty() {
    return com_call([&]() -> HRESULT { return m_persist.CSNBasePersist::IsDirty(); });
}

STDMETHODIMP DiVORorazivo::Load(IStream* pStm) {
    return com_call([&]() -> HRESULT {
        if (pStm == nullptr) return E_POINTER;
        hyd::istream_adapter stream(pStm);
        return m_persist.LoadFrom(stream);
    });
}

STDMETHODIMP DiVORorazivo::Save(IStream* pStm, BOOL fClearDirty) {
    return com_call([&]() -> HRESULT {
        if (pStm == nullptr) return E_POINTER;
        hyd::istream_adapter stream(pStm);
        return m_persist.CSNBasePersist::Save(stream, fClearDirty != FALSE);
    });
}

STDMETHODIMP DiVORorazivo::GetSizeMax(ULARGE_INTEGER* pcbSize) {
    return com_call([&]() -> HRESULT {
        if (pcbSize == nullptr) return E_POINTER;
        std::uint64_t size = 0;
        const HRESULT hr = m_persist.CSNBasePersist::GetSizeMax(&size);
        if (SUCCEEDED(hr)) pcbSize->QuadPart = size;
        return hr;
    });
}

// Device control: the dialogue lives in hylib; the object keeps no state for it.

STDMETHODIMP DiVORorazivo::Initialize(long bAuto, BSTR bstPath, HANDLE hComm, IHyLogWnd* plw,
                                      HANDLE hEvent, long iBreakType) {
    return hyd::device_initialize(bAuto, bstPath, hComm, plw, hEvent, iBreakType);
}
STDMETHODIMP DiVORorazivo::Next(HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent, long iBreakType) {
    return hyd::device_next(hComm, plw, hEvent, iBreakType);
}
// bAuto and bstPath are not used: a reset only restarts pinging.
STDMETHODIMP DiVORorazivo::Reset(long, BSTR, HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent,
                                 long iBreakType) {
    return hyd::device_reset(hComm, plw, hEvent, iBreakType);
}
STDMETHODIMP DiVORorazivo::Close(HANDLE hComm, long iBreakType) {
    return hyd::device_close(hComm, iBreakType);
}

// Serial settings: the search and the change live in hylib; the object keeps no state for them.

STDMETHODIMP DiVORorazivo::GetBaudRates(DWORD* pRates, long cMax, long* pcActual) {
    return hyd::comm_baud_rates(pRates, cMax, pcActual);
}
STDMETHODIMP DiVORorazivo::GetParities(DWORD* pParities, long cMax, long* pcActual) {
    return hyd::comm_parities(pParities, cMax, pcActual);
}
STDMETHODIMP DiVORorazivo::GetStopBits(DWORD* pStopBits, long cMax, long* pcActual) {
    return hyd::comm_stop_bits(pStopBits, cMax, pcActual);
}
STDMETHODIMP DiVORorazivo::SearchSettings(HWND hwndProgress, HWND hwndText, HANDLE hEvent,
                                          HANDLE hComm, long iBreakType, DWORD* pBaud,
                                          DWORD* pParity, DWORD* pStopBits) {
    return hyd::comm_search(hwndProgress, hwndText, hEvent, hComm, iBreakType, pBaud, pParity,
                            pStopBits);
}
STDMETHODIMP DiVORorazivo::ChangeSettings(HANDLE hComm, DWORD dwBaud, DWORD dwParity,
                                          DWORD dwStopBits, long iBreakType) {
    return hyd::comm_change(hComm, dwBaud, dwParity, dwStopBits, iBreakType);
}
STDMETHODIMP DiVORorazivo::Wake(HANDLE hComm, long iBreakType) {
    return hyd::comm_wake(hComm, iBreakType);
}

STDMETHODIMP DiVORorazivo::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IHyEnsembleDisp) ? S_OK : S_FALSE;
}

STDMETHODIMP DiVORorazivo::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP DiVORorazivo::GetTypeInfo(UINT, LCID lcid, ITypeInfo** ppTInfo) {
    return com_call(
        [&] { return hyd::dispatch_get_type_info(IID_IHyEnsembleDisp, lcid, ppTInfo); });
}

STDMETHODIMP DiVORorazivo::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                         DISPID* rgDispId) {
    return com_call([&] {
        return hyd::dispatch_get_ids(IID_IHyEnsembleDisp, lcid, rgszNames, cNames, rgDispId);
    });
}

STDMETHODIMP DiVORorazivo::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags,
                                  DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                  EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return com_call([&] {
        return hyd::dispatch_invoke(IID_IHyEnsembleDisp, static_cast<IHyEnsembleDisp*>(this), lcid,
                                    dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                                    puArgErr);
    });
}

HRESULT CHySNEnsemble::GetItemVariant(long nItem, VARIANT* pv) {
    return hyd::get_item_variant(*this, nItem, pv);
}
HRESULT CHySNEnsemble::GetResourceText(long id, VARIANT* pv) {
    return hyd::get_resource_text(id, pv);
}
HRESULT CHySNEnsemble::GetItemLabels(long nItem, VARIANT* pv) {
    return hyd::get_item_labels(*this, nItem, pv);
}

STDMETHODIMP DiVORorazivo::GetItemVariant(long nItem, VARIANT* pv) {
    return m_persist.GetItemVariant(nItem, pv);
}
STDMETHODIMP DiVORorazivo::GetResourceText(long id, VARIANT* pv) {
    return m_persist.GetResourceText(id, pv);
}
STDMETHODIMP DiVORorazivo::GetItemLabels(long nItem, VARIANT* pv) {
    return m_persist.GetItemLabels(nItem, pv);
}
