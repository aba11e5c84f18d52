// CSerCfg: applying the line settings to a port, and their persisted record.
#include "streams/sercfg_win.h"

#include "common/result_codes.h"
#include "streams/hyfile_win.h"

#include <cstring>

namespace {

constexpr DWORD kRecordVersion = 1;
constexpr ULONG kRecordSize = sizeof(DWORD) + sizeof(SerCfgSettings);

// The DCB flag bits sit in one DWORD right after BaudRate.
constexpr std::size_t kDcbFlagsOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(offsetof(DCB, wReserved) == kDcbFlagsOffset + sizeof(DWORD));
// Cleared: CTS and DSR flow, DSR sensitivity, XON/XOFF both ways, abort on error and the upper
// bits of DTR and RTS control; then DTR and RTS are set to ENABLE.
constexpr DWORD kDcbFlagsClear = 0x636C;
constexpr DWORD kDcbFlagsSet = 0x1010;

HRESULT last_error_hr() {
    return hyd::hresult_from_win32(GetLastError());
}

} // namespace

CSerCfg::CSerCfg(DWORD baudRate, DWORD parity, DWORD stopBits, DWORD queueIn, DWORD queueOut)
    : m_settings{baudRate, parity, stopBits, queueIn, queueOut, {0, 0, 4000, 0, 500}} {}

HRESULT CSerCfg::Apply(CHyFile* port) {
    if (!port) return E_POINTER;
    HANDLE h = port->GetHandle();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return last_error_hr();

    dcb.BaudRate = m_settings.dwBaudRate;
    dcb.Parity = static_cast<BYTE>(m_settings.dwParity & 0xFF);
    dcb.StopBits = static_cast<BYTE>(m_settings.dwStopBits & 0xFF);
    dcb.ByteSize = 8;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    DWORD flags;
    auto* raw = reinterpret_cast<unsigned char*>(&dcb);
    std::memcpy(&flags, raw + kDcbFlagsOffset, sizeof flags);
    flags = (flags & ~kDcbFlagsClear) | kDcbFlagsSet;
    std::memcpy(raw + kDcbFlagsOffset, &flags, sizeof flags);
    if (!SetCommState(h, &dcb)) return last_error_hr();

    if (m_settings.dwQueueIn != 0 || m_settings.dwQueueOut != 0) {
        if (!SetupComm(h, m_settings.dwQueueIn, m_settings.dwQueueOut)) return last_error_hr();
    }
    COMMTIMEOUTS timeouts = m_settings.timeouts;
    if (!SetCommTimeouts(h, &timeouts)) return last_error_hr();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSerCfg::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IPersistStream && riid != hyd::IID_SerCfgSettings)
        return E_NOINTERFACE;
    *ppv = static_cast<IPersistStream*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CSerCfg::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE CSerCfg::Release() {
    const LONG n = InterlockedDecrement(&m_cRef);
    if (n == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(n);
}

HRESULT STDMETHODCALLTYPE CSerCfg::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = hyd::IID_SerCfgSettings;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSerCfg::IsDirty() {
    return m_fDirty ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CSerCfg::Load(IStream* pStm) {
    if (!pStm) return E_POINTER;
    DWORD version = 0;
    HRESULT hr = pStm->Read(&version, sizeof version, nullptr);
    if (FAILED(hr)) return hr;
    // Records of another version are skipped past their version word, the settings kept.
    if (version != kRecordVersion) return S_OK;
    hr = pStm->Read(&m_settings, sizeof m_settings, nullptr);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT STDMETHODCALLTYPE CSerCfg::Save(IStream* pStm, BOOL fClearDirty) {
    if (!pStm) return E_POINTER;
    const DWORD version = kRecordVersion;
    HRESULT hr = pStm->Write(&version, sizeof version, nullptr);
    if (FAILED(hr)) return hr;
    hr = pStm->Write(&m_settings, sizeof m_settings, nullptr);
    if (FAILED(hr)) return hr;
    if (fClearDirty) m_fDirty = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSerCfg::GetSizeMax(ULARGE_INTEGER* pcbSize) {
    if (!pcbSize) return E_POINTER;
    pcbSize->QuadPart = kRecordSize;
    return S_OK;
}
