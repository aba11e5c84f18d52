// byte_streams over files on disk, in constant memory whatever the file's size.
// - file_reader reads through one large buffer of its own and knows its position without asking
//   the system, so one-byte reads, "where am I" seeks and seeks within the buffer cost no system
//   call, and it lends the buffered bytes: the hot path of the reader over multi-gigabyte files.
// - file_writer writes through the C library's buffered output.
// A failing call returns a result code made from errno and keeps the errno value itself, so tools
// can report the system's own text for it (strerror), not a Win32 reading of the number.
#pragma once

#include "common/byte_stream.h"

#include <cstdio>
#include <memory>
#include <string>

namespace hyd {

class file_reader final : public byte_stream {
  public:
    file_reader() = default;
    ~file_reader() override { close(); }
    file_reader(const file_reader&) = delete;
    file_reader& operator=(const file_reader&) = delete;

    // False with errno set when the file cannot be opened or sized.
    bool open(const std::string& path);
    void close();

    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override;
    // A reader does not write: E_FAIL.
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override {
        if (move != 0 || origin != seek_origin::cur || !file_)
            return seek_elsewhere(move, origin, new_position);
        if (new_position) *new_position = position(); // "where am I": asked before every record
        return s_ok;
    }
    hresult size(std::uint64_t* bytes) override;
    // The rest of the buffer; empty when it is used up (the next read refills it).
    std::span<const std::uint8_t> lend() override {
        if (!file_) return {};
        return {buffer_.get() + at_, length_ - at_};
    }
    void skip(std::size_t n) override { at_ += n; }

    std::uint64_t position() const { return window_start_ + at_; }
    // errno of the last failure; 0 when nothing failed.
    int last_error() const { return error_; }

  private:
    // Small enough to stay in the processor's cache beside the reader's own data while its
    // bytes are scanned; large enough that reads are few.
    static constexpr std::size_t capacity = 1 << 18;
    hresult refill();
    hresult seek_elsewhere(std::int64_t move, seek_origin origin, std::uint64_t* new_position);
    hresult fail_errno();

    std::FILE* file_ = nullptr;
    int error_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint64_t size_ = 0;
    std::uint64_t window_start_ = 0; // file offset of buffer_[0]
    std::size_t length_ = 0;         // valid bytes in the buffer
    std::size_t at_ = 0;             // next byte to hand out
};

class file_writer final : public byte_stream {
  public:
    file_writer() = default;
    ~file_writer() override { close(); }
    file_writer(const file_writer&) = delete;
    file_writer& operator=(const file_writer&) = delete;

    // Creates or truncates path; false with errno set when it cannot.
    bool open(const std::string& path);
    // Flushes and closes; false with errno set when the data could not be written.
    bool close();

    // A writer does not read: E_FAIL.
    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override;
    hresult size(std::uint64_t* bytes) override;
    int last_error() const { return error_; }

  private:
    hresult fail_errno();

    std::FILE* file_ = nullptr;
    int error_ = 0;
};

} // namespace hyd
