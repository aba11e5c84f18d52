// CHyDataSource: the generic data source behind IHyDataSource. It keeps the real time and the
// extension list and declares the hooks through which a concrete source (DiVORorazivo) supplies
// descriptions and property entries. IUnknown is left to the concrete class, which owns the
// object's single reference count.
#pragma once

#include "hyd.h"

#include <string>
#include <vector>

class CHyProperty;

class CHyDataSource : public IHyDataSource {
  public:
    CHyDataSource();
    virtual ~CHyDataSource();
    CHyDataSource(const CHyDataSource&) = delete;
    CHyDataSource& operator=(const CHyDataSource&) = delete;

    // IHyDataSource, with the defaults of a generic source.
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP EnumItems(long nSequence, long nItem, long nIndex, long nFlags,
                           IEnumHyProperty** ppe) override;
    STDMETHODIMP GetLong(long nItem, long nIndex, long* pLong, long cMax, long* pcActual) override;
    STDMETHODIMP GetPoint(long nItem, long nIndex, POINTL* ppt, long cMax, long* pcActual) override;
    STDMETHODIMP GetString(long nItem, long nIndex, BSTR* pbstrDesc, long cMax,
                           long* pcActual) override;
    STDMETHODIMP GetDescription(long nItem, long nIndex, long nType, BSTR* pbstrDesc, long cMax,
                                long* pcActual) override;
    STDMETHODIMP GetDimensions(long nItem, long nIndex, SIZE* psDim) override;
    STDMETHODIMP GetMaxExtent(long nItem, long nIndex, HDC hdcDraw, SIZE* psExt) override;
    STDMETHODIMP GetRealTime(SYSTEMTIME* pst) override;
    STDMETHODIMP SetRealTime(SYSTEMTIME* pst) override;
    STDMETHODIMP SetExtensions(IHyDataSource** ppExtensions, long cExtensions) override;

    // Hooks. Each string hook empties its list first; failures are thrown.
    virtual void DescribeElement(long nItem, long nIndex, std::vector<std::string>& strings);
    virtual void GetColumnHeadings(long nItem, long nIndex, std::vector<std::string>& strings);
    virtual void GetRowHeadings(long nItem, long nIndex, std::vector<std::string>& strings);
    virtual void GetValueLabel(long nItem, long nIndex, std::vector<std::string>& strings);
    virtual void GetDepthLabel(long nItem, long nIndex, std::vector<std::string>& strings);
    // Default: *pFirst = -1, meaning "nothing to enumerate".
    virtual void GetItemRange(long nItem, long nIndex, long nFlags, long* pFirst, long* pLast,
                              long* pCount);
    // Default: no property.
    virtual CHyProperty* CreateProperty(long nSequence, long nItem, long nIndex, long nFlags,
                                        long nSubIndex, bool bSelf);

  protected:
    // Passes a successful GetLong/GetPoint/GetString on to every extension, in list order, with
    // the caller's own arguments; their results are ignored.
    void ForwardGetLong(long nItem, long nIndex, long* pLong, long cMax, long* pcActual);
    void ForwardGetPoint(long nItem, long nIndex, POINTL* ppt, long cMax, long* pcActual);
    void ForwardGetString(long nItem, long nIndex, BSTR* pbstrDesc, long cMax, long* pcActual);

    const SYSTEMTIME& StoredRealTime() const { return m_stRealTime; }

  private:
    void ReleaseExtensions();

    SYSTEMTIME m_stRealTime;
    std::vector<IHyDataSource*> m_extensions;
};
