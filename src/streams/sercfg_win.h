// CSerCfg: serial line settings (baud, parity, stop bits, queue sizes, time-outs) that Apply
// writes to a port; persisted as a 44-byte IPersistStream record. Windows code only.
#pragma once

#include <windows.h>

#include <objidl.h>

#include <cstddef>

class CHyFile;

namespace hyd {
// Identifier of the settings object: its class ID and an interface that QueryInterface answers
// with the object itself. {5263F594-41EA-4B36-9CDA-CE7093C45CE2}
inline constexpr GUID IID_SerCfgSettings = {
    0x5263f594, 0x41ea, 0x4b36, {0x9c, 0xda, 0xce, 0x70, 0x93, 0xc4, 0x5c, 0xe2}};
} // namespace hyd

// The ten settings words, in their persisted order; the time-outs are laid out as COMMTIMEOUTS.
struct SerCfgSettings {
    DWORD dwBaudRate; // as DCB.BaudRate
    DWORD dwParity;   // NOPARITY .. SPACEPARITY
    DWORD dwStopBits; // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    DWORD dwQueueIn;  // SetupComm input queue, bytes
    DWORD dwQueueOut; // SetupComm output queue, bytes
    COMMTIMEOUTS timeouts;
};
static_assert(sizeof(SerCfgSettings) == 40);
static_assert(offsetof(SerCfgSettings, timeouts) == 20);

// IPersistStream is its one face and fixes its slot order; nothing derives from it.
class CSerCfg final : public IPersistStream {
  public:
    CSerCfg(DWORD baudRate, DWORD parity, DWORD stopBits, DWORD queueIn, DWORD queueOut);
    ~CSerCfg() = default;
    CSerCfg(const CSerCfg&) = delete;
    CSerCfg& operator=(const CSerCfg&) = delete;

    // Writes the settings to the port's handle; the first failing Win32 call's error as HRESULT.
    HRESULT Apply(CHyFile* port);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* pStm) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* pStm, BOOL fClearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* pcbSize) override;

    // Public on purpose: callers change baud, parity and stop bits and then set m_fDirty to 1.
    LONG m_cRef = 1;
    DWORD m_fDirty = 0;
    SerCfgSettings m_settings;
};
