// What IHyDeviceControl does on DiVORorazivo: each call wraps the host's port handle in a
// CHySerial (overlapped, never closed here), adapts the host's log window and runs the portable
// device control. Texts come from the module's own string table; the Yes/No question of a failed
// command is a message box owned by the process's main window. Windows code only.
#pragma once

#include "hyd.h"

#include <windows.h>

namespace hyd {

// Initialize always wakes with a line break: iBreakType is not used.
HRESULT device_initialize(long bAuto, BSTR bstPath, HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent,
                          long iBreakType);
HRESULT device_next(HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent, long iBreakType);
HRESULT device_reset(HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent, long iBreakType);
HRESULT device_close(HANDLE hComm, long iBreakType);

} // namespace hyd
