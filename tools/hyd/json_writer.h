// JSON text for the hyd commands. The put_* functions write a piece at a cursor into a buffer
// the caller has made room in, with no check or allocation per value: hyd dump writes whole
// ensembles with them. line_writer appends values to one growing buffer, for output that is not
// hot; both go out in large writes, a line at a time.
#pragma once

#include "common/result_codes.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace hyd::tool {

template <std::size_t N> char* put_text(char* at, const char (&text)[N]) {
    std::memcpy(at, text, N - 1);
    return at + N - 1;
}

// "0x%08X" in quotes.
inline char* put_code(char* at, hresult hr) {
    static constexpr auto hex_pairs = [] {
        std::array<char, 512> pairs{};
        for (std::size_t i = 0; i < 256; ++i) {
            pairs[2 * i] = "0123456789ABCDEF"[i >> 4];
            pairs[2 * i + 1] = "0123456789ABCDEF"[i & 15];
        }
        return pairs;
    }();
    if (hr == s_ok) return put_text(at, "\"0x00000000\""); // most items
    at = put_text(at, "\"0x");
    const auto bits = static_cast<std::uint32_t>(hr);
    for (int shift = 24; shift >= 0; shift -= 8, at += 2)
        std::memcpy(at, hex_pairs.data() + 2 * ((bits >> shift) & 0xFF), 2);
    *at++ = '"';
    return at;
}

// A JSON string with quotes, backslashes and control characters escaped (up to 6 chars each).
inline char* put_string(char* at, std::string_view s) {
    *at++ = '"';
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            *at++ = '\\';
            *at++ = ch;
        } else if (c < 0x20) {
            at = put_text(at, "\\u00");
            *at++ = "0123456789abcdef"[c >> 4];
            *at++ = "0123456789abcdef"[c & 15];
        } else {
            *at++ = ch;
        }
    }
    *at++ = '"';
    return at;
}

class line_writer {
  public:
    explicit line_writer(std::FILE* out) : out_(out) { text_.reserve(1 << 17); }
    ~line_writer() { flush(); }

    line_writer& raw(std::string_view s) {
        text_.append(s);
        return *this;
    }
    line_writer& number(std::int64_t v) {
        char buffer[24];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
        text_.append(buffer, r.ptr);
        return *this;
    }
    line_writer& code(hresult hr) {
        char buffer[16];
        text_.append(buffer, put_code(buffer, hr));
        return *this;
    }
    line_writer& string(std::string_view s) {
        const std::size_t at = text_.size();
        text_.resize(at + 2 + 6 * s.size());
        text_.resize(static_cast<std::size_t>(put_string(text_.data() + at, s) - text_.data()));
        return *this;
    }
    void end_line() {
        text_.push_back('\n');
        if (text_.size() >= (1 << 16)) flush();
    }
    bool flush() {
        if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), out_) != text_.size())
            ok_ = false;
        text_.clear();
        return ok_;
    }
    bool ok() const { return ok_; }

  private:
    std::FILE* out_;
    std::string text_;
    bool ok_ = true;
};

} // namespace hyd::tool
