// The library's exception for internal faults: where it happened and an optional message. It
// carries no result code; a COM method that catches one answers E_FAIL (see com_boundary_win.h).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace hyd {

class CHyException {
  public:
    CHyException(std::string file, std::int32_t line, std::string message = {})
        : file_(std::move(file)), line_(line), message_(std::move(message)) {}

    // The source file name as reported ("HySNEnse", "HYCMD").
    const std::string& file() const { return file_; }
    std::int32_t line() const { return line_; }
    const std::string& message() const { return message_; }

  private:
    std::string file_;
    std::int32_t line_;
    std::string message_;
};

} // namespace hyd
