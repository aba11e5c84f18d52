// A read-only byte_stream over a file with its own large buffer. It knows its position without
// asking the system, so the reader's "where am I" seek after every sync pair and the tool's own
// seeks within the buffer cost no system call; multi-GB files stream in constant memory.
#pragma once

#include "common/byte_stream.h"

#include <cstdio>
#include <memory>
#include <string>

namespace hyd::tool {

class read_stream final : public byte_stream {
  public:
    read_stream() = default;
    ~read_stream() override;
    read_stream(const read_stream&) = delete;
    read_stream& operator=(const read_stream&) = delete;

    // False with errno set when the file cannot be opened or sized.
    bool open(const std::string& path);

    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult write(const void*, std::uint32_t, std::uint32_t* done) override;
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override;
    hresult size(std::uint64_t* bytes) override;

    std::uint64_t position() const { return window_start_ + at_; }

  private:
    static constexpr std::size_t capacity = 1 << 20;
    hresult refill();

    std::FILE* file_ = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint64_t size_ = 0;
    std::uint64_t window_start_ = 0; // file offset of buffer_[0]
    std::size_t length_ = 0;         // valid bytes in the buffer
    std::size_t at_ = 0;             // next byte to hand out
};

} // namespace hyd::tool
