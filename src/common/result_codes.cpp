#include "common/result_codes.h"

namespace hyd {

const char* result_name(hresult hr) {
    switch (hr) {
    case s_ok:
        return "S_OK";
    case s_false:
        return "S_FALSE";
    case e_notimpl:
        return "E_NOTIMPL";
    case e_nointerface:
        return "E_NOINTERFACE";
    case e_pointer:
        return "E_POINTER";
    case e_fail:
        return "E_FAIL";
    case e_outofmemory:
        return "E_OUTOFMEMORY";
    case e_invalidarg:
        return "E_INVALIDARG";
    case HY_E_BADENSEMBLE:
        return "HY_E_BADENSEMBLE";
    case HY_E_NOWAKEUP:
        return "HY_E_NOWAKEUP";
    case HY_E_BADBAUD:
        return "HY_E_BADBAUD";
    case HY_E_BADPARITY:
        return "HY_E_BADPARITY";
    case HY_E_BADSTOPBITS:
        return "HY_E_BADSTOPBITS";
    case HY_E_CANCELLED:
        return "HY_E_CANCELLED";
    case HY_E_TIMEOUT:
        return "HY_E_TIMEOUT";
    case HY_E_IO:
        return "HY_E_IO";
    case HY_E_CMDERROR:
        return "HY_E_CMDERROR";
    case HY_S_COMMERROR:
        return "HY_S_COMMERROR";
    case HY_E_ENDOFDATA:
        return "HY_E_ENDOFDATA";
    case HY_S_LONGLEADER:
        return "HY_S_LONGLEADER";
    default:
        return nullptr;
    }
}

} // namespace hyd
