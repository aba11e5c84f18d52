#include "common/file_stream.h"

#include "common/large_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hyd {

namespace {
int current_errno() {
    return errno != 0 ? errno : EIO;
}
} // namespace

hresult file_reader::fail_errno() {
    error_ = current_errno();
    return hresult_from_win32(static_cast<std::uint32_t>(error_));
}

hresult file_writer::fail_errno() {
    error_ = current_errno();
    return hresult_from_win32(static_cast<std::uint32_t>(error_));
}

bool file_reader::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    std::setvbuf(file_, nullptr, _IONBF, 0); // our own buffer is the only one
    const std::int64_t end = seek64(file_, 0, SEEK_END) == 0 ? tell64(file_) : -1;
    if (end < 0 || seek64(file_, 0, SEEK_SET) != 0) {
        const int error = errno;
        close();
        errno = error;
        return false;
    }
    size_ = static_cast<std::uint64_t>(end);
    buffer_.reset(new std::uint8_t[capacity]); // filled by reads before any byte is handed out
    return true;
}

void file_reader::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    buffer_.reset();
    size_ = window_start_ = 0;
    length_ = at_ = 0;
}

hresult file_reader::refill() {
    window_start_ += length_;
    at_ = 0;
    length_ = std::fread(buffer_.get(), 1, capacity, file_);
    if (length_ < capacity && std::ferror(file_)) return fail_errno();
    return s_ok;
}

hresult file_reader::read(void* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (!file_) return e_fail;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t copied = 0;
    while (copied < count) {
        if (at_ == length_) {
            if (const hresult hr = refill(); failed(hr)) {
                *done = copied;
                return hr;
            }
            if (length_ == 0) break;
        }
        const std::size_t n = std::min<std::size_t>(count - copied, length_ - at_);
        std::memcpy(out + copied, buffer_.get() + at_, n);
        at_ += n;
        copied += static_cast<std::uint32_t>(n);
    }
    *done = copied;
    return s_ok;
}

hresult file_reader::write(const void*, std::uint32_t, std::uint32_t* done) {
    *done = 0;
    return e_fail;
}

hresult file_reader::seek_elsewhere(std::int64_t move, seek_origin origin,
                                    std::uint64_t* new_position) {
    if (!file_) return e_fail;
    const std::int64_t base = origin == seek_origin::set   ? 0
                              : origin == seek_origin::cur ? static_cast<std::int64_t>(position())
                                                           : static_cast<std::int64_t>(size_);
    const std::int64_t target = base + move;
    if (target < 0) {
        errno = EINVAL;
        return fail_errno();
    }
    const auto t = static_cast<std::uint64_t>(target);
    if (t >= window_start_ && t <= window_start_ + length_) {
        at_ = static_cast<std::size_t>(t - window_start_);
    } else {
        if (seek64(file_, target, SEEK_SET) != 0) return fail_errno();
        window_start_ = t;
        length_ = at_ = 0;
    }
    if (new_position) *new_position = t;
    return s_ok;
}

hresult file_reader::size(std::uint64_t* bytes) {
    if (!file_) return e_fail;
    *bytes = size_;
    return s_ok;
}

bool file_writer::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (file_) std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
    return file_ != nullptr;
}

bool file_writer::close() {
    if (!file_) return true;
    const bool flushed = std::fflush(file_) == 0;
    const int error = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed) errno = error;
    return flushed && closed;
}

hresult file_writer::read(void*, std::uint32_t, std::uint32_t* done) {
    *done = 0;
    return e_fail;
}

hresult file_writer::write(const void* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (!file_) return e_fail;
    const std::size_t n = std::fwrite(buffer, 1, count, file_);
    *done = static_cast<std::uint32_t>(n);
    return n < count ? fail_errno() : s_ok;
}

hresult file_writer::seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) {
    if (!file_) return e_fail;
    const int whence = origin == seek_origin::set   ? SEEK_SET
                       : origin == seek_origin::cur ? SEEK_CUR
                                                    : SEEK_END;
    if (!(move == 0 && origin == seek_origin::cur) && seek64(file_, move, whence) != 0)
        return fail_errno();
    const std::int64_t here = tell64(file_);
    if (here < 0) return fail_errno();
    if (new_position) *new_position = static_cast<std::uint64_t>(here);
    return s_ok;
}

hresult file_writer::size(std::uint64_t* bytes) {
    if (!file_) return e_fail;
    const std::int64_t here = tell64(file_);
    if (here < 0 || seek64(file_, 0, SEEK_END) != 0) return fail_errno();
    const std::int64_t end = tell64(file_);
    if (seek64(file_, here, SEEK_SET) != 0) return fail_errno();
    *bytes = static_cast<std::uint64_t>(end);
    return s_ok;
}

} // namespace hyd
