#include "datasource/ensemble_file_win.h"

#include "common/com_boundary_win.h"
#include "common/module_win.h"
#include "common/text_win.h"
#include "datasource/automation_win.h"
#include "datasource/divororazivo_win.h"
#include "ensemble/item_variant_win.h"
#include "streams/hyfile_win.h"

#include <new>

using hyd::com_call;

namespace {

enum error_text : long {
    cannot_open = 9900,
    not_open = 9901,
    cut_short = 9902,
    bad_checksum = 9903,
    bad_count = 9904,
    no_sync = 9905,
    read_failed = 9906,
};

// The system's text for a failure, else its code.
std::wstring system_text(HRESULT hr) {
    wchar_t* found = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&found), 0, nullptr);
    std::wstring text(found ? found : L"", n);
    LocalFree(found);
    text.erase(text.find_last_not_of(L" \r\n") + 1); // the system's texts end with a line break
    if (text.empty()) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
        text = code;
    }
    return text;
}

} // namespace

HRESULT CHyEnsembleFile::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    auto* made = new (std::nothrow) CHyEnsembleFile;
    if (made == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = made->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete made;
    return hr;
}

CHyEnsembleFile::CHyEnsembleFile() {
    hyd::module_lock();
}

CHyEnsembleFile::~CHyEnsembleFile() {
    m_file.reset();
    hyd::module_unlock();
}

STDMETHODIMP CHyEnsembleFile::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    void* face = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IHyEnsembleFile))
        face = static_cast<IHyEnsembleFile*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
        face = static_cast<ISupportErrorInfo*>(this);
    *ppv = face;
    if (face == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CHyEnsembleFile::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CHyEnsembleFile::Release() {
    const LONG left = InterlockedDecrement(&m_cRef);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP CHyEnsembleFile::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP CHyEnsembleFile::GetTypeInfo(UINT, LCID lcid, ITypeInfo** ppTInfo) {
    return com_call(
        [&] { return hyd::dispatch_get_type_info(IID_IHyEnsembleFile, lcid, ppTInfo); });
}

STDMETHODIMP CHyEnsembleFile::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) {
    return com_call([&] {
        return hyd::dispatch_get_ids(IID_IHyEnsembleFile, lcid, rgszNames, cNames, rgDispId);
    });
}

STDMETHODIMP CHyEnsembleFile::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return com_call([&] {
        return hyd::dispatch_invoke(IID_IHyEnsembleFile, static_cast<IHyEnsembleFile*>(this), lcid,
                                    dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                                    puArgErr);
    });
}

STDMETHODIMP CHyEnsembleFile::Open(BSTR bstrPath) {
    return com_call([&]() -> HRESULT {
        m_file.reset();
        m_position = -1;
        m_path = bstrPath ? std::wstring(bstrPath, SysStringLen(bstrPath)) : std::wstring();
        auto* file = new CHyDiskFile; // one reference, ours
        auto stream = hyd::com_ptr<IStream>::attach(file);
        if (file->CreateFile(hyd::narrow(m_path.c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr) == INVALID_HANDLE_VALUE) {
            const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
            return Fail(FAILED(hr) ? hr : E_FAIL, cannot_open, m_path, system_text(hr));
        }
        m_file = std::move(stream);
        return S_OK;
    });
}

STDMETHODIMP CHyEnsembleFile::Next(IHyEnsembleDisp** ppEnsemble) {
    return com_call([&]() -> HRESULT {
        if (ppEnsemble == nullptr) return E_POINTER;
        *ppEnsemble = nullptr;
        if (!m_file) return Fail(E_UNEXPECTED, not_open);
        m_position = -1;
        ULARGE_INTEGER before{};
        m_file->Seek({}, STREAM_SEEK_CUR, &before);

        hyd::com_ptr<IHyEnsembleDisp> made;
        HRESULT hr = DiVORorazivo::CreateInstance(nullptr, IID_IHyEnsembleDisp, made.put_void());
        if (FAILED(hr)) return hr;
        auto* object = static_cast<DiVORorazivo*>(made.get());
        hr = object->Load(m_file.get());
        const CHySNEnsemble& ensemble = object->Ensemble();
        if (SUCCEEDED(hr)) {
            m_position = static_cast<double>(ensemble.position());
            *ppEnsemble = made.detach();
            return S_OK;
        }
        const std::int64_t start = ensemble.last_start();
        const std::wstring at = std::to_wstring(start >= 0 ? start : std::int64_t(before.QuadPart));
        switch (ensemble.last_reason()) {
        case hyd::load_reason::end_of_data:
            // Nothing left is the end; a sync pair with no whole header behind it is damage.
            return start < 0 ? S_OK : Fail(hr, cut_short, at);
        case hyd::load_reason::cut_short:
            return Fail(hr, cut_short, at);
        case hyd::load_reason::bad_checksum:
            return Fail(hr, bad_checksum, at);
        case hyd::load_reason::too_long:
        case hyd::load_reason::too_short:
            return Fail(hr, bad_count, at);
        case hyd::load_reason::no_sync:
            return Fail(hr, no_sync, std::to_wstring(before.QuadPart));
        default:
            return Fail(hr, read_failed, at, m_path, system_text(hr));
        }
    });
}

STDMETHODIMP CHyEnsembleFile::get_Position(double* pdPosition) {
    if (pdPosition == nullptr) return E_POINTER;
    if (!m_file) return Fail(E_UNEXPECTED, not_open);
    *pdPosition = m_position;
    return S_OK;
}

STDMETHODIMP CHyEnsembleFile::Close() {
    m_file.reset();
    m_position = -1;
    return S_OK;
}

STDMETHODIMP CHyEnsembleFile::VariantArray(VARIANT vArray, VARIANT* pvElements) {
    return hyd::to_variant_array(vArray, pvElements);
}

STDMETHODIMP CHyEnsembleFile::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IHyEnsembleFile) ? S_OK : S_FALSE;
}

HRESULT CHyEnsembleFile::Fail(HRESULT hr, long text, const std::wstring& a1, const std::wstring& a2,
                              const std::wstring& a3) {
    std::wstring description;
    hyd::load_module_text(text, description);
    const std::wstring* args[] = {&a1, &a2, &a3};
    for (std::size_t at = description.find(L'%'); at != std::wstring::npos;
         at = description.find(L'%', at)) {
        const wchar_t n = description[at + 1]; // L'\0' past the end
        if (n < L'1' || n > L'3') {
            ++at;
            continue;
        }
        const std::wstring& arg = *args[n - L'1'];
        description.replace(at, 2, arg);
        at += arg.size();
    }
    hyd::com_ptr<ICreateErrorInfo> made;
    if (SUCCEEDED(CreateErrorInfo(made.put()))) {
        made->SetGUID(IID_IHyEnsembleFile);
        made->SetSource(const_cast<wchar_t*>(L"Hyd.EnsembleFile"));
        made->SetDescription(description.data());
        hyd::com_ptr<IErrorInfo> info;
        if (SUCCEEDED(made->QueryInterface(IID_IErrorInfo, info.put_void())))
            SetErrorInfo(0, info.get());
    }
    return hr;
}
