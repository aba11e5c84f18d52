// EnsembleFile: the automation class through which script hosts read a recorded ensemble file, one
// new DiVORorazivo per ensemble (objects hosts can also use through IPersistStream and the rest).
// Failures come back as automation errors: the HRESULT plus an error object whose description says
// what went wrong and where. Each live object holds one module lock.
#pragma once

#include "common/win_raii_win.h"

#include "hyd_disp.h"

#include <string>

class CHyEnsembleFile final : public IHyEnsembleFile, public ISupportErrorInfo {
  public:
    // The class table's instance creator: refuses aggregation, creates with count 0 and asks the
    // new object for riid (destroying it when that fails).
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

    CHyEnsembleFile();
    ~CHyEnsembleFile();
    CHyEnsembleFile(const CHyEnsembleFile&) = delete;
    CHyEnsembleFile& operator=(const CHyEnsembleFile&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    STDMETHODIMP Open(BSTR bstrPath) override;
    STDMETHODIMP Next(IHyEnsembleDisp** ppEnsemble) override;
    STDMETHODIMP get_Position(double* pdPosition) override;
    STDMETHODIMP Close() override;
    STDMETHODIMP VariantArray(VARIANT vArray, VARIANT* pvElements) override;

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  private:
    // Posts an error object with string `text` (%1, %2, %3 replaced by the arguments); returns hr.
    static HRESULT Fail(HRESULT hr, long text, const std::wstring& a1 = {},
                        const std::wstring& a2 = {}, const std::wstring& a3 = {});

    hyd::com_ptr<IStream> m_file;
    std::wstring m_path;
    double m_position = -1;
    LONG m_cRef = 0;
};
