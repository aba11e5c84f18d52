#include "read_stream.h"

#include "common/large_file.h"
#include <algorithm>

#include <cerrno>
#include <cstring>

namespace hyd::tool {

read_stream::~read_stream() {
    if (file_) std::fclose(file_);
}

bool read_stream::open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    std::setvbuf(file_, nullptr, _IONBF, 0); // our own buffer is the only one
    if (seek64(file_, 0, SEEK_END) != 0) return false;
    const std::int64_t end = tell64(file_);
    if (end < 0 || seek64(file_, 0, SEEK_SET) != 0) return false;
    size_ = static_cast<std::uint64_t>(end);
    buffer_ = std::make_unique<std::uint8_t[]>(capacity);
    return true;
}

hresult read_stream::refill() {
    window_start_ += length_;
    at_ = 0;
    length_ = std::fread(buffer_.get(), 1, capacity, file_);
    if (length_ < capacity && std::ferror(file_)) return errno_result();
    return s_ok;
}

hresult read_stream::read(void* buffer, std::uint32_t count, std::uint32_t* done) {
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

hresult read_stream::write(const void*, std::uint32_t, std::uint32_t* done) {
    *done = 0;
    return e_fail;
}

hresult read_stream::seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) {
    if (!file_) return e_fail;
    const std::int64_t base = origin == seek_origin::set   ? 0
                              : origin == seek_origin::cur ? static_cast<std::int64_t>(position())
                                                           : static_cast<std::int64_t>(size_);
    const std::int64_t target = base + move;
    if (target < 0) return hresult_from_win32(22); // EINVAL, as the C library reports it
    const auto t = static_cast<std::uint64_t>(target);
    if (t >= window_start_ && t <= window_start_ + length_) {
        at_ = static_cast<std::size_t>(t - window_start_);
    } else {
        if (seek64(file_, target, SEEK_SET) != 0) return errno_result();
        window_start_ = t;
        length_ = at_ = 0;
    }
    if (new_position) *new_position = t;
    return s_ok;
}

hresult read_stream::size(std::uint64_t* bytes) {
    if (!file_) return e_fail;
    *bytes = size_;
    return s_ok;
}

} // namespace hyd::tool
