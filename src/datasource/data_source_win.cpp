#include "datasource/data_source_win.h"

#include "common/com_boundary_win.h"
#include "common/hy_exception_win.h"
#include "common/text_win.h"
#include "common/win_raii_win.h"
#include "datasource/property_win.h"

#include <algorithm>
#include <cstring>
#include <memory>

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

STDMETHODIMP CHyDataSource::EnumItems(long nSequence, long nItem, long nIndex, long nFlags,
                                      IEnumHyProperty** ppe) {
    if (ppe == nullptr) return E_POINTER;
    *ppe = nullptr;
    // An internal fault is shown to the person at the host before the call fails; past the
    // report the one barrier translates as everywhere else.
    return hyd::com_call([&]() -> HRESULT {
        try {
            long first = 0;
            long last = 0;
            long count = 1;
            GetItemRange(nItem, nIndex, nFlags, &first, &last, &count);
            if (first == -1) return E_NOTIMPL;
            std::vector<hyd::com_ptr<IHyProperty>> kept;
            for (long i = first; i <= last; ++i)
                for (long j = 0; j < count; ++j) {
                    std::unique_ptr<CHyProperty> made(
                        CreateProperty(nSequence, i, nIndex, nFlags, j, i == nItem));
                    if (!made || (made->DataType() & nFlags) == 0) continue;
                    hyd::com_ptr<IHyProperty> entry;
                    made->QueryInterface(IID_IHyProperty, entry.put_void());
                    made.release();
                    kept.push_back(std::move(entry));
                }
            auto entries = std::make_unique<IHyProperty*[]>(kept.size());
            for (std::size_t k = 0; k < kept.size(); ++k) entries[k] = kept[k].detach();
            auto* made = new CHyEnumProperty(std::move(entries), kept.size());
            const HRESULT hr =
                made->QueryInterface(IID_IEnumHyProperty, reinterpret_cast<void**>(ppe));
            if (FAILED(hr)) delete made;
            return hr;
        } catch (const hyd::CHyException& fault) {
            hyd::report_exception(fault);
            throw;
        }
    });
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

STDMETHODIMP CHyDataSource::GetDescription(long nItem, long nIndex, long nType, BSTR* pbstrDesc,
                                           long cMax, long* pcActual) {
    if (cMax < 1 || pbstrDesc == nullptr || pcActual == nullptr) return E_INVALIDARG;
    using hook = void (CHyDataSource::*)(long, long, std::vector<std::string>&);
    static constexpr hook hooks[] = {&CHyDataSource::DescribeElement,
                                     &CHyDataSource::GetColumnHeadings,
                                     &CHyDataSource::GetRowHeadings, &CHyDataSource::GetValueLabel,
                                     &CHyDataSource::GetDepthLabel};
    if (nType < 0 || nType >= static_cast<long>(std::size(hooks))) return E_INVALIDARG;
    return hyd::com_call([&]() -> HRESULT {
        std::vector<std::string> strings;
        (this->*hooks[nType])(nItem, nIndex, strings);
        const std::size_t n = std::min<std::size_t>(strings.size(), static_cast<std::size_t>(cMax));
        // Strings already copied stay with the caller when a later copy fails.
        for (std::size_t i = 0; i < n; ++i)
            if (FAILED(hyd::to_bstr(strings[i], &pbstrDesc[i]))) return E_FAIL;
        *pcActual = static_cast<long>(strings.size());
        return S_OK;
    });
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
