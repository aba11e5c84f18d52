// The one exception barrier of every COM method: no exception leaves the DLL. A thrown module
// result (a bare long HRESULT) comes back as is; anything else, CHyException and Win32 codes
// thrown as int included, becomes E_FAIL.
#pragma once

#include <windows.h>

#include <utility>

namespace hyd {

template <class Body> HRESULT com_call(Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (long hr) {
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace hyd
