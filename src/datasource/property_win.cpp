#include "datasource/property_win.h"

#include "common/module_win.h"
#include "common/text_win.h"

#include <algorithm>
#include <new>

namespace {

POINTL point(const hyd::item_point& p) {
    return {p.x, p.y};
}

} // namespace

CHyProperty::CHyProperty(const hyd::item_property& p) : m_p(p) {
    if (FAILED(hyd::to_bstr(p.description, &m_description))) throw std::bad_alloc();
}

CHyProperty::~CHyProperty() {
    SysFreeString(m_description);
}

STDMETHODIMP CHyProperty::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IHyProperty)) {
        *ppv = static_cast<IHyProperty*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CHyProperty::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CHyProperty::Release() {
    const LONG left = InterlockedDecrement(&m_cRef);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

// The getters trust their output pointers, as the interface has them do.
STDMETHODIMP CHyProperty::GetSequence(long* pnSequence) {
    *pnSequence = m_p.sequence;
    return S_OK;
}
STDMETHODIMP CHyProperty::GetItem(long* pnItem) {
    *pnItem = m_p.item;
    return S_OK;
}
STDMETHODIMP CHyProperty::GetIndex(long* pnIndex) {
    *pnIndex = m_p.index;
    return S_OK;
}
STDMETHODIMP CHyProperty::GetDescription(BSTR* pbstrDesc) {
    *pbstrDesc = m_description == nullptr
                     ? nullptr
                     : SysAllocStringLen(m_description, SysStringLen(m_description));
    return S_OK;
}
STDMETHODIMP CHyProperty::GetDataType(long* pnDataType) {
    *pnDataType = m_p.mask;
    return S_OK;
}
STDMETHODIMP CHyProperty::GetSourceClassID(CLSID* pClassID) {
    *pClassID = CLSID_DiVORorazivo;
    return S_OK;
}
STDMETHODIMP CHyProperty::GetUnits(SIZE* psUnits) {
    *psUnits = {m_p.units.x, m_p.units.y};
    return S_OK;
}
STDMETHODIMP CHyProperty::GetMinMax(POINTL* pptAbsMin, POINTL* pptAbsMax, POINTL* pptDefMin,
                                    POINTL* pptDefMax) {
    *pptAbsMin = point(m_p.abs_min);
    *pptAbsMax = point(m_p.abs_max);
    *pptDefMin = point(m_p.def_min);
    *pptDefMax = point(m_p.def_max);
    return S_OK;
}
STDMETHODIMP CHyProperty::GetBadVal(long* bxBad, long* byBad, POINTL* pptBadVal) {
    *bxBad = m_p.bad_flags.x;
    *byBad = m_p.bad_flags.y;
    *pptBadVal = point(m_p.bad);
    return S_OK;
}
STDMETHODIMP CHyProperty::GetAxisDir(POINTL* pptDir) {
    *pptDir = point(m_p.axis);
    return S_OK;
}
STDMETHODIMP CHyProperty::GetDecimalShift(POINTL* pptShift) {
    *pptShift = point(m_p.shift);
    return S_OK;
}

CHyEnumProperty::CHyEnumProperty(std::unique_ptr<IHyProperty*[]> entries, std::size_t count)
    : m_owned(std::move(entries)), m_entries(m_owned.get()), m_count(count) {
    hyd::module_lock();
}

CHyEnumProperty::CHyEnumProperty(IHyProperty* const* entries, std::size_t count,
                                 std::size_t position, IUnknown* owner)
    : m_entries(entries), m_count(count), m_position(position), m_owner(owner) {
    m_owner->AddRef();
    hyd::module_lock();
}

CHyEnumProperty::~CHyEnumProperty() {
    if (m_owned)
        for (std::size_t i = 0; i < m_count; ++i) m_owned[i]->Release();
    if (m_owner != nullptr) m_owner->Release();
    hyd::module_unlock();
}

STDMETHODIMP CHyEnumProperty::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumHyProperty)) {
        *ppv = static_cast<IEnumHyProperty*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CHyEnumProperty::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CHyEnumProperty::Release() {
    const LONG left = InterlockedDecrement(&m_cRef);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP CHyEnumProperty::Next(ULONG celt, IHyProperty** rgelt, ULONG* pceltFetched) {
    if (rgelt == nullptr || (celt != 1 && pceltFetched == nullptr)) return E_POINTER;
    if (m_entries == nullptr) return E_FAIL;
    const std::size_t n = std::min<std::size_t>(celt, m_count - m_position);
    for (std::size_t i = 0; i < n; ++i) {
        rgelt[i] = m_entries[m_position + i];
        rgelt[i]->AddRef();
    }
    m_position += n;
    if (pceltFetched != nullptr) *pceltFetched = static_cast<ULONG>(n);
    return n == celt ? S_OK : S_FALSE;
}

STDMETHODIMP CHyEnumProperty::Skip(ULONG celt) {
    // Positions are counted, not pointers, so a large advance stops at the end instead of
    // wrapping.
    if (celt < m_count - m_position) {
        m_position += celt;
        return S_OK;
    }
    m_position = m_count;
    return S_FALSE;
}

STDMETHODIMP CHyEnumProperty::Reset() {
    m_position = 0;
    return S_OK;
}

STDMETHODIMP CHyEnumProperty::Clone(IEnumHyProperty** ppenum) {
    if (ppenum == nullptr) return E_POINTER;
    *ppenum = nullptr;
    // The clone keeps the array's owner alive: this enumerator, or the one this was cloned from.
    IUnknown* owner = m_owner != nullptr ? m_owner : static_cast<IEnumHyProperty*>(this);
    auto* made = new (std::nothrow) CHyEnumProperty(m_entries, m_count, m_position, owner);
    if (made == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = made->QueryInterface(IID_IEnumHyProperty, reinterpret_cast<void**>(ppenum));
    if (FAILED(hr)) delete made;
    return hr;
}
