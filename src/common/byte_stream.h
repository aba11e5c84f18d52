// The byte-stream contract the ensemble reader needs: what IStream offers, without COM. The COM
// face adapts a host's IStream to it; files and memory buffers implement it directly.
#pragma once

#include "common/result_codes.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace hyd {

enum class seek_origin : std::uint32_t { set = 0, cur = 1, end = 2 };

class byte_stream {
  public:
    virtual ~byte_stream() = default;
    // Reads up to count bytes. *done (never null) receives the count delivered; fewer than asked
    // means the stream is exhausted. Any success code counts as success.
    virtual hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) = 0;
    virtual hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) = 0;
    // new_position may be null.
    virtual hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) = 0;
    // The stream's total size in bytes (IStream::Stat's cbSize).
    virtual hresult size(std::uint64_t* bytes) = 0;

    // Streams that already hold their next bytes in memory may lend them, so a reader can scan and
    // copy them without a call per byte. lend() gives the bytes at hand from the current position
    // on, without moving it: empty when none are at hand now (read() may still deliver more) or
    // when the stream cannot lend. skip(n), n at most the size just lent, then moves past n of them
    // exactly as n successful one-byte reads would. A lent view lives until the next call on the
    // stream. The defaults lend nothing, and readers fall back to read().
    virtual std::span<const std::uint8_t> lend() { return {}; }
    virtual void skip(std::size_t n) { static_cast<void>(n); }
};

} // namespace hyd
