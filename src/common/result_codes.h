// Result codes of the library: HRESULT values as plain 32-bit integers, numerically identical to
// what the COM face returns, so core results pass through it unchanged.
#pragma once

#include <cstdint>

namespace hyd {

using hresult = std::int32_t;

// Item values are 32-bit signed; on Windows the alias is `long` so caller arrays of the COM
// methods pass straight into the core.
#ifdef _WIN32
using item_value = long;
#else
using item_value = std::int32_t;
#endif

constexpr hresult make_hresult(std::uint32_t bits) {
    return static_cast<hresult>(bits);
}

inline constexpr hresult s_ok = 0;
inline constexpr hresult s_false = 1;
inline constexpr hresult e_notimpl = make_hresult(0x80004001);
inline constexpr hresult e_nointerface = make_hresult(0x80004002);
inline constexpr hresult e_pointer = make_hresult(0x80004003);
inline constexpr hresult e_fail = make_hresult(0x80004005);
inline constexpr hresult e_outofmemory = make_hresult(0x8007000E);
inline constexpr hresult e_invalidarg = make_hresult(0x80070057);

// The module's own codes (facility ITF).
inline constexpr hresult HY_E_BADENSEMBLE = make_hresult(0x80040102);
inline constexpr hresult HY_E_NOWAKEUP = make_hresult(0x80040104);
inline constexpr hresult HY_E_BADBAUD = make_hresult(0x80040105);
inline constexpr hresult HY_E_BADPARITY = make_hresult(0x80040106);
inline constexpr hresult HY_E_BADSTOPBITS = make_hresult(0x80040107);
inline constexpr hresult HY_E_CANCELLED = make_hresult(0x80040108);
inline constexpr hresult HY_E_TIMEOUT = make_hresult(0x80040109);
inline constexpr hresult HY_E_IO = make_hresult(0x8004010A);
inline constexpr hresult HY_E_CMDERROR = make_hresult(0x8004010B);
inline constexpr hresult HY_S_COMMERROR = make_hresult(0x0004010D);
inline constexpr hresult HY_E_ENDOFDATA = make_hresult(0x80040110);
inline constexpr hresult HY_S_LONGLEADER = make_hresult(0x00040111);

constexpr bool succeeded(hresult hr) {
    return hr >= 0;
}
constexpr bool failed(hresult hr) {
    return hr < 0;
}

// A Win32 error number as an HRESULT: 0x80070000 | low 16 bits, S_OK for 0.
constexpr hresult hresult_from_win32(std::uint32_t error) {
    return error == 0 ? s_ok : make_hresult(0x80070000u | (error & 0xFFFFu));
}

// Name of a code for messages and tools ("HY_E_BADENSEMBLE", "E_FAIL"); null when unknown.
const char* result_name(hresult hr);

} // namespace hyd
