#include "hylib/comm_setup_win.h"

#include "common/com_boundary_win.h"
#include "common/module_win.h"
#include "hylib/comm_setup.h"
#include "hylib/device_control.h"
#include "hylib/serial_port_win.h"
#include "streams/sercfg_win.h"

#include <commctrl.h>

#include <span>

namespace hyd {

namespace {

constexpr DWORD queue_in = 32768;
constexpr DWORD queue_out = 128;

// The port's settings: whole through CSerCfg, or only the DCB's baud rate.
class port_line final : public setup::line_control {
  public:
    explicit port_line(CHySerial& serial) : serial_(serial) {}
    hresult apply(const setup::settings& s) override {
        CSerCfg line(s.baud, s.parity, s.stop_bits, queue_in, queue_out);
        line.m_fDirty = 1;
        return line.Apply(&serial_);
    }
    hresult set_baud(std::uint32_t baud) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(serial_.GetHandle(), &dcb)) return hresult_from_win32(GetLastError());
        dcb.BaudRate = baud;
        if (!SetCommState(serial_.GetHandle(), &dcb)) return hresult_from_win32(GetLastError());
        return s_ok;
    }

  private:
    CHySerial& serial_;
};

// The host's progress bar and text window; either may be null.
class host_windows final : public setup::search_progress {
  public:
    host_windows(HWND bar, HWND text) : bar_(bar), text_(text) {}
    void range(int low, int high) override {
        if (bar_) SendMessageA(bar_, PBM_SETRANGE, 0, MAKELPARAM(low, high));
    }
    void position(int attempt) override {
        if (bar_) SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(attempt), 0);
    }
    void text(const std::string& text) override {
        if (text_) SetWindowTextA(text_, text.c_str());
    }
    std::string Text(int id) override { return module_text(id); }

  private:
    HWND bar_;
    HWND text_;
};

HRESULT copy(std::span<const std::uint32_t> table, DWORD* out, long cMax, long* pcActual) {
    if (pcActual == nullptr || (out == nullptr && cMax > 0)) return E_POINTER;
    std::uint32_t values[9] = {};
    *pcActual = setup::copy_table(table, values, cMax);
    for (long i = 0; i < *pcActual; ++i) out[i] = values[i];
    return S_OK;
}

} // namespace

HRESULT comm_baud_rates(DWORD* pRates, long cMax, long* pcActual) {
    return copy(setup::baud_rates, pRates, cMax, pcActual);
}
HRESULT comm_parities(DWORD* pParities, long cMax, long* pcActual) {
    return copy(setup::parities, pParities, cMax, pcActual);
}
HRESULT comm_stop_bits(DWORD* pStopBits, long cMax, long* pcActual) {
    return copy(setup::stop_bits, pStopBits, cMax, pcActual);
}

HRESULT comm_search(HWND hwndProgress, HWND hwndText, HANDLE hEvent, HANDLE hComm, long iBreakType,
                    DWORD* pBaud, DWORD* pParity, DWORD* pStopBits) {
    return com_call([&]() -> HRESULT {
        if (pBaud == nullptr || pParity == nullptr || pStopBits == nullptr) return E_POINTER;
        call_port line(hComm, iBreakType);
        port_line settings(line.serial);
        host_windows windows(hwndProgress, hwndText);
        setup::settings found;
        const hresult hr = setup::search(line.port, settings, &windows, hEvent, &found);
        if (hr == s_ok) *pBaud = found.baud, *pParity = found.parity, *pStopBits = found.stop_bits;
        return hr;
    });
}

HRESULT comm_change(HANDLE hComm, DWORD dwBaud, DWORD dwParity, DWORD dwStopBits, long iBreakType) {
    return com_call([&]() -> HRESULT {
        call_port line(hComm, iBreakType);
        port_line settings(line.serial);
        return setup::change(line.port, settings, {dwBaud, dwParity, dwStopBits});
    });
}

HRESULT comm_wake(HANDLE hComm, long iBreakType) {
    return com_call([&]() -> HRESULT {
        call_port line(hComm, iBreakType);
        return device::wake(line.port);
    });
}

} // namespace hyd
