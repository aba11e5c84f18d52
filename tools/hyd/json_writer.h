// JSON text for the hyd commands: values appended to one growing buffer that goes out in large
// writes, a line at a time.
#pragma once

#include "common/result_codes.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace hyd::tool {

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
        std::snprintf(buffer, sizeof buffer, "\"0x%08X\"", static_cast<unsigned>(hr));
        return raw(buffer);
    }
    line_writer& string(std::string_view s) {
        text_.push_back('"');
        for (char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '"' || c == '\\') {
                text_.push_back('\\');
                text_.push_back(ch);
            } else if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                text_.append(buffer);
            } else {
                text_.push_back(ch);
            }
        }
        text_.push_back('"');
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
