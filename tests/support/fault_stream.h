// A memory stream that misbehaves on demand: a short, failing or over-reporting read at a chosen
// call, no seeking, short or failing writes; it lends at most `window` bytes at a time (none by
// default), as a buffered file does at the end of its buffer. Tests reach every early exit of the
// readers with it.
#pragma once

#include "common/memory_stream.h"

#include <algorithm>
#include <vector>

namespace hyd {

struct fault_stream final : byte_stream {
    explicit fault_stream(std::vector<std::uint8_t> b) : inner(std::move(b)) {}
    memory_stream inner;
    int reads = 0, short_read = 0, failed_read = 0;
    int over_read = 0; // this read claims 100 bytes more than it was asked for
    bool seekable = true;
    std::uint32_t write_limit = ~0u;
    std::size_t window = 0;
    hresult write_error = s_ok;
    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override {
        if (++reads == failed_read) return *done = 0, hresult_from_win32(30); // ERROR_READ_FAULT
        const hresult hr = inner.read(buffer, count - (reads == short_read && count), done);
        if (reads == over_read) *done += 100;
        return hr;
    }
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override {
        return failed(write_error) ? write_error
                                   : inner.write(buffer, std::min(count, write_limit), done);
    }
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* at) override {
        return seekable ? inner.seek(move, origin, at) : e_notimpl;
    }
    hresult size(std::uint64_t* bytes) override { return inner.size(bytes); }
    std::span<const std::uint8_t> lend() override {
        return inner.lend().first(std::min(inner.lend().size(), window));
    }
    void skip(std::size_t n) override { inner.skip(n); }
};

} // namespace hyd
