// A memory stream that misbehaves on demand: short or failing reads and writes at a chosen call,
// no seeking. Framing tests use it to reach every early exit of the reader.
#pragma once

#include "common/memory_stream.h"

#include <algorithm>

namespace hyd::build {

class fault_stream final : public byte_stream {
  public:
    explicit fault_stream(std::vector<std::uint8_t> bytes) : inner_(std::move(bytes)) {}

    int short_read_at = 0; // 1-based read call that delivers one byte less than asked
    int fail_read_at = 0;  // 1-based read call that fails with read_error
    hresult read_error = hresult_from_win32(30); // ERROR_READ_FAULT
    std::uint32_t write_limit = ~0u;             // bytes a write moves at most
    hresult write_error = s_ok;                  // a failing write returns this
    bool seekable = true;
    int reads = 0;

    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override {
        ++reads;
        if (reads == fail_read_at) {
            *done = 0;
            return read_error;
        }
        if (reads == short_read_at && count > 0) --count;
        return inner_.read(buffer, count, done);
    }
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override {
        if (failed(write_error)) return write_error;
        return inner_.write(buffer, std::min(count, write_limit), done);
    }
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override {
        return seekable ? inner_.seek(move, origin, new_position) : e_notimpl;
    }
    hresult size(std::uint64_t* bytes) override { return inner_.size(bytes); }

    const memory_stream& inner() const { return inner_; }

  private:
    memory_stream inner_;
};

} // namespace hyd::build
