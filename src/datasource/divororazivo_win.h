// DiVORorazivo, the library's one creatable class: one object per ensemble. It is a data source
// (CHyDataSource) that embeds the ensemble holder and shows it through IPersistStream, and it
// carries the device-control, comm-setup, automation and error-info faces. All faces share one
// plain reference count, 0 after construction; each live object holds one module lock.
#pragma once

#include "datasource/data_source_win.h"
#include "ensemble/persist.h"

#include <ocidl.h>

// The ensemble holder embedded in the object, with the variant operations of the automation face:
// they read the held record directly and never reach the extensions.
class CHySNEnsemble : public hyd::CSNPersist {
  public:
    virtual HRESULT GetItemVariant(long nItem, VARIANT* pv);
    virtual HRESULT GetResourceText(long id, VARIANT* pv);
    virtual HRESULT GetItemLabels(long nItem, VARIANT* pv);
};

class DiVORorazivo final : public CHyDataSource,
                           public IPersistStream,
                           public IHyDeviceControl,
                           public IHyCommSetup,
                           public ISupportErrorInfo,
                           public IHyEnsembleDisp {
  public:
    // The class table's instance creator: refuses aggregation, creates with count 0 and asks
    // the new object for riid (destroying it when that fails).
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

    DiVORorazivo();
    ~DiVORorazivo() override;

    // IUnknown, for every face.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IHyDataSource (GetClassID also answers IPersist::GetClassID).
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP GetLong(long nItem, long nIndex, long* pLong, long cMax, long* pcActual) override;
    STDMETHODIMP GetPoint(long nItem, long nIndex, POINTL* ppt, long cMax, long* pcActual) override;
    STDMETHODIMP GetString(long nItem, long nIndex, BSTR* pbstrDesc, long cMax,
                           long* pcActual) override;
    STDMETHODIMP GetRealTime(SYSTEMTIME* pst) override;
    // Descriptions, dimensions and property entries (divororazivo_describe_win.cpp).
    STDMETHODIMP GetDimensions(long nItem, long nIndex, SIZE* psDim) override;
    STDMETHODIMP GetMaxExtent(long nItem, long nIndex, HDC hdcDraw, SIZE* psExt) override;
    void DescribeElement(long nItem, long nIndex, std::vector<std::string>& strings) override;
    void GetColumnHeadings(long nItem, long nIndex, std::vector<std::string>& strings) override;
    void GetRowHeadings(long nItem, long nIndex, std::vector<std::string>& strings) override;
    void GetValueLabel(long nItem, long nIndex, std::vector<std::string>& strings) override;
    void GetDepthLabel(long nItem, long nIndex, std::vector<std::string>& strings) override;
    void GetItemRange(long nItem, long nIndex, long nFlags, long* pFirst, long* pLast,
                      long* pCount) override;
    CHyProperty* CreateProperty(long nSequence, long nItem, long nIndex, long nFlags,
                                long nSubIndex, bool bSelf) override;

    // IPersistStream: forwarded to the embedded holder's own members.
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* pStm) override;
    STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override;

    // IHyDeviceControl.
    STDMETHODIMP Initialize(long bAuto, BSTR bstPath, HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent,
                            long iBreakType) override;
    STDMETHODIMP Next(HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent, long iBreakType) override;
    STDMETHODIMP Reset(long bAuto, BSTR bstPath, HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent,
                       long iBreakType) override;
    STDMETHODIMP Close(HANDLE hComm, long iBreakType) override;

    // IHyCommSetup.
    STDMETHODIMP GetBaudRates(DWORD* pRates, long cMax, long* pcActual) override;
    STDMETHODIMP GetParities(DWORD* pParities, long cMax, long* pcActual) override;
    STDMETHODIMP GetStopBits(DWORD* pStopBits, long cMax, long* pcActual) override;
    STDMETHODIMP SearchSettings(HWND hwndProgress, HWND hwndText, HANDLE hEvent, HANDLE hComm,
                                long iBreakType, DWORD* pBaud, DWORD* pParity,
                                DWORD* pStopBits) override;
    STDMETHODIMP ChangeSettings(HANDLE hComm, DWORD dwBaud, DWORD dwParity, DWORD dwStopBits,
                                long iBreakType) override;
    STDMETHODIMP Wake(HANDLE hComm, long iBreakType) override;

    // ISupportErrorInfo.
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // IDispatch part of IHyEnsembleDisp, over the separately registered automation library.
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    // IHyEnsembleDisp.
    STDMETHODIMP GetItemVariant(long nItem, VARIANT* pv) override;
    STDMETHODIMP GetResourceText(long id, VARIANT* pv) override;
    STDMETHODIMP GetItemLabels(long nItem, VARIANT* pv) override;

    // The held ensemble, for the parts of the class that read it.
    const CHySNEnsemble& Ensemble() const { return m_persist; }

  private:
    CHySNEnsemble m_persist;
    long m_cRef = 0;
};
