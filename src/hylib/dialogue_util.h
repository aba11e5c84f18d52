// Small helpers of the dialogue code: the exception barriers of its HRESULT-returning members,
// ASCII case-insensitive comparison and the filling of string-table texts.
#pragma once

#include "common/result_codes.h"

#include <string>
#include <string_view>

namespace hyd {

// A thrown long is the result; anything else (platform codes thrown as int, CHyException,
// std::bad_alloc) becomes E_FAIL.
template <class Body> hresult guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (long hr) {
        return static_cast<hresult>(hr);
    } catch (...) {
        return e_fail;
    }
}

// Every exception, a thrown module code included, is E_FAIL.
template <class Body> hresult any_exception_fails(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return e_fail;
    }
}

inline char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline bool equal_ci(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

// The text with its first `marker` replaced by value.
inline std::string fill_text(std::string text, std::string_view marker, std::string_view value) {
    const std::size_t at = text.find(marker);
    if (at != std::string::npos) text.replace(at, marker.size(), value);
    return text;
}

} // namespace hyd
