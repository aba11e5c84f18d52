// A byte_stream over a file on disk, through the C library's buffered I/O: one-byte reads cost a
// buffer lookup, not a system call, and the file is streamed in constant memory.
#pragma once

#include "common/byte_stream.h"

#include <cstdio>
#include <string>

namespace hyd {

class file_stream final : public byte_stream {
  public:
    enum class mode { read, write };
    file_stream() = default;
    ~file_stream() override { close(); }
    file_stream(const file_stream&) = delete;
    file_stream& operator=(const file_stream&) = delete;

    // Opens path; false with errno set when it cannot be opened.
    bool open(const std::string& path, mode m);
    void close();
    bool is_open() const { return file_ != nullptr; }

    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override;
    hresult size(std::uint64_t* bytes) override;

  private:
    std::FILE* file_ = nullptr;
};

} // namespace hyd
