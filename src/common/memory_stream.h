// A byte_stream over an owned, growable buffer: tests, benchmarks, fuzzing and tools use it.
#pragma once

#include "common/byte_stream.h"

#include <cstdint>
#include <span>
#include <vector>

namespace hyd {

class memory_stream final : public byte_stream {
  public:
    memory_stream() = default;
    explicit memory_stream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    explicit memory_stream(std::span<const std::uint8_t> bytes)
        : bytes_(bytes.begin(), bytes.end()) {}

    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override;
    hresult size(std::uint64_t* bytes) override;
    std::span<const std::uint8_t> lend() override;
    void skip(std::size_t n) override { position_ += n; }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::uint64_t position() const { return position_; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
};

} // namespace hyd
