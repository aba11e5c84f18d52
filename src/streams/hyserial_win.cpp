// CHySerial: the wake-up break in its two forms.
#include "streams/hyserial_win.h"

#include "common/result_codes.h"

namespace {

HRESULT last_error_hr() {
    return hyd::hresult_from_win32(GetLastError());
}

} // namespace

HRESULT CHySerial::SendBreak(HANDLE hCancel) {
    if (m_nBreakType != 0) {
        static constexpr char kBreakString[] = "=======";
        DWORD done = 0;
        if (!WriteFile(kBreakString, 7, &done, nullptr)) return E_FAIL;
        return done < 7 ? E_FAIL : S_OK;
    }

    if (!SetCommBreak(m_hFile)) return last_error_hr();
    HRESULT hr = S_OK;
    if (hCancel) {
        const DWORD w = WaitForSingleObject(hCancel, 400);
        if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED)
            hr = hyd::HY_E_CANCELLED;
        else if (w == WAIT_FAILED)
            hr = last_error_hr();
    } else {
        Sleep(400);
    }
    // The line must never stay in break, whatever ended the wait.
    if (!ClearCommBreak(m_hFile)) return last_error_hr();
    return hr;
}
