// What IHyCommSetup does on DiVORorazivo: each call wraps the host's port handle in a CHySerial
// (overlapped, never closed here) and runs the portable search or change; the port's settings are
// written with CSerCfg and its DCB, progress goes to the host's progress bar (PBM_SETRANGE,
// PBM_SETPOS) and text window (SetWindowText), texts from the module's string table. Windows
// code only.
#pragma once

#include <windows.h>

namespace hyd {

HRESULT comm_baud_rates(DWORD* pRates, long cMax, long* pcActual);
HRESULT comm_parities(DWORD* pParities, long cMax, long* pcActual);
HRESULT comm_stop_bits(DWORD* pStopBits, long cMax, long* pcActual);
// hwndProgress, hwndText and hEvent may be null.
HRESULT comm_search(HWND hwndProgress, HWND hwndText, HANDLE hEvent, HANDLE hComm, long iBreakType,
                    DWORD* pBaud, DWORD* pParity, DWORD* pStopBits);
HRESULT comm_change(HANDLE hComm, DWORD dwBaud, DWORD dwParity, DWORD dwStopBits, long iBreakType);
// S_OK when the instrument answers a wake-up, S_FALSE when not.
HRESULT comm_wake(HANDLE hComm, long iBreakType);

} // namespace hyd
