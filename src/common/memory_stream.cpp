#include "common/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace hyd {

hresult memory_stream::read(void* buffer, std::uint32_t count, std::uint32_t* done) {
    const std::uint64_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, left));
    if (n != 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    *done = n;
    return s_ok;
}

hresult memory_stream::write(const void* buffer, std::uint32_t count, std::uint32_t* done) {
    const std::uint64_t end = position_ + count;
    if (end > bytes_.size()) bytes_.resize(end);
    if (count != 0) std::memcpy(bytes_.data() + position_, buffer, count);
    position_ = end;
    *done = count;
    return s_ok;
}

hresult memory_stream::seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) {
    std::int64_t base = 0;
    switch (origin) {
    case seek_origin::set:
        base = 0;
        break;
    case seek_origin::cur:
        base = static_cast<std::int64_t>(position_);
        break;
    case seek_origin::end:
        base = static_cast<std::int64_t>(bytes_.size());
        break;
    default:
        return e_invalidarg;
    }
    if (move < 0 && -move > base) return e_invalidarg;
    position_ = static_cast<std::uint64_t>(base + move);
    if (new_position) *new_position = position_;
    return s_ok;
}

hresult memory_stream::size(std::uint64_t* bytes) {
    *bytes = bytes_.size();
    return s_ok;
}

std::span<const std::uint8_t> memory_stream::lend() {
    if (position_ >= bytes_.size()) return {};
    return {bytes_.data() + position_, static_cast<std::size_t>(bytes_.size() - position_)};
}

} // namespace hyd
