#include "datasource/data_source_win.h"

#include "common/com_boundary_win.h"

#include <cstring>

using hyd::com_call;

CHyDataSource::CHyDataSource() {
    std::memset(&m_stRealTime, 0, sizeof m_stRealTime);
}

CHyDataSource::~CHyDataSource() {
    ReleaseExtensions();
}

void CHyDataSource::ReleaseExtensions() {
    // Take the list first: a releasing extension may call back into this object.
    std::vector<IHyDataSource*> old;
    old.swap(m_extensions);
    for (IHyDataSource* extension : old) extension->Release();
}

STDMETHODIMP CHyDataSource::GetClassID(CLSID*) {
    return E_NOTIMPL;
}

// Item enumeration and descriptions arrive with the property objects and the description
// hooks; until then a generic source offers neither.
STDMETHODIMP CHyDataSource::EnumItems(long, long, long, long, IEnumHyProperty** ppe) {
    if (ppe != nullptr) *ppe = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CHyDataSource::GetLong(long, long, long*, long, long*) {
    return E_NOTIMPL;
}

STDMETHODIMP CHyDataSource::GetPoint(long, long, POINTL*, long, long*) {
    return E_NOTIMPL;
}

STDMETHODIMP CHyDataSource::GetString(long, long, BSTR*, long, long*) {
    return E_NOTIMPL;
}

STDMETHODIMP CHyDataSource::GetDescription(long, long, long, BSTR*, long, long*) {
    return E_NOTIMPL;
}

STDMETHODIMP CHyDataSource::GetDimensions(long, long, SIZE*) {
    return E_NOTIMPL;
}

STDMETHODIMP CHyDataSource::GetMaxExtent(long, long, HDC, SIZE*) {
    return E_NOTIMPL;
}

STDMETHODIMP CHyDataSource::GetRealTime(SYSTEMTIME* pst) {
    if (pst == nullptr) return E_POINTER;
    *pst = m_stRealTime;
    return S_OK;
}

STDMETHODIMP CHyDataSource::SetRealTime(SYSTEMTIME* pst) {
    if (pst == nullptr) return E_POINTER;
    m_stRealTime = *pst;
    return S_OK;
}

STDMETHODIMP CHyDataSource::SetExtensions(IHyDataSource** ppExtensions, long cExtensions) {
    return com_call([&]() -> HRESULT {
        ReleaseExtensions();
        if (cExtensions <= 0 || ppExtensions == nullptr) return S_OK;
        m_extensions.reserve(static_cast<std::size_t>(cExtensions));
        for (long i = 0; i < cExtensions; ++i) {
            m_extensions.push_back(ppExtensions[i]);
            ppExtensions[i]->AddRef();
        }
        return S_OK;
    });
}

void CHyDataSource::DescribeElement(long, long, std::vector<std::string>& strings) {
    strings.clear();
}
void CHyDataSource::GetColumnHeadings(long, long, std::vector<std::string>& strings) {
    strings.clear();
}
void CHyDataSource::GetRowHeadings(long, long, std::vector<std::string>& strings) {
    strings.clear();
}
void CHyDataSource::GetValueLabel(long, long, std::vector<std::string>& strings) {
    strings.clear();
}
void CHyDataSource::GetDepthLabel(long, long, std::vector<std::string>& strings) {
    strings.clear();
}

void CHyDataSource::GetItemRange(long, long, long, long* pFirst, long*, long*) {
    *pFirst = -1;
}

CHyProperty* CHyDataSource::CreateProperty(long, long, long, long, long, bool) {
    return nullptr;
}

void CHyDataSource::ForwardGetLong(long nItem, long nIndex, long* pLong, long cMax,
                                   long* pcActual) {
    // By index: an extension may change the list while it is called.
    for (std::size_t i = 0; i < m_extensions.size(); ++i)
        m_extensions[i]->GetLong(nItem, nIndex, pLong, cMax, pcActual);
}

void CHyDataSource::ForwardGetPoint(long nItem, long nIndex, POINTL* ppt, long cMax,
                                    long* pcActual) {
    // By index: an extension may change the list while it is called.
    for (std::size_t i = 0; i < m_extensions.size(); ++i)
        m_extensions[i]->GetPoint(nItem, nIndex, ppt, cMax, pcActual);
}

void CHyDataSource::ForwardGetString(long nItem, long nIndex, BSTR* pbstrDesc, long cMax,
                                     long* pcActual) {
    // By index: an extension may change the list while it is called.
    for (std::size_t i = 0; i < m_extensions.size(); ++i)
        m_extensions[i]->GetString(nItem, nIndex, pbstrDesc, cMax, pcActual);
}
