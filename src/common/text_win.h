// Text across the COM boundary: the library's 8-bit ANSI strings to and from UTF-16 (BSTRs),
// through the system's ANSI code page.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

namespace hyd {

std::wstring widen(std::string_view text);
// Null gives an empty string.
std::string narrow(const wchar_t* text);
// A new BSTR the caller frees; E_OUTOFMEMORY when it cannot be allocated.
HRESULT to_bstr(std::string_view text, BSTR* out);

// Text `id` of this module's string table; false when the table has none (an id above 65535
// included).
bool load_module_text(long id, std::wstring& text);

} // namespace hyd
