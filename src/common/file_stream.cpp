#include "common/file_stream.h"

#include "common/large_file.h"

#include <cerrno>

namespace hyd {

bool file_stream::open(const std::string& path, mode m) {
    close();
    file_ = std::fopen(path.c_str(), m == mode::read ? "rb" : "wb");
    if (file_) std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
    return file_ != nullptr;
}

void file_stream::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

hresult file_stream::read(void* buffer, std::uint32_t count, std::uint32_t* done) {
    if (!file_) return e_fail;
    const std::size_t n = std::fread(buffer, 1, count, file_);
    *done = static_cast<std::uint32_t>(n);
    if (n < count && std::ferror(file_)) return errno_result();
    return s_ok;
}

hresult file_stream::write(const void* buffer, std::uint32_t count, std::uint32_t* done) {
    if (!file_) return e_fail;
    const std::size_t n = std::fwrite(buffer, 1, count, file_);
    *done = static_cast<std::uint32_t>(n);
    return n < count ? errno_result() : s_ok;
}

hresult file_stream::seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) {
    if (!file_) return e_fail;
    // Asking where we are must not move the file: a real seek would drop the read buffer.
    if (move == 0 && origin == seek_origin::cur) {
        const std::int64_t here = tell64(file_);
        if (here < 0) return errno_result();
        if (new_position) *new_position = static_cast<std::uint64_t>(here);
        return s_ok;
    }
    const int whence = origin == seek_origin::set   ? SEEK_SET
                       : origin == seek_origin::cur ? SEEK_CUR
                                                    : SEEK_END;
    if (seek64(file_, move, whence) != 0) return errno_result();
    if (new_position) *new_position = static_cast<std::uint64_t>(tell64(file_));
    return s_ok;
}

hresult file_stream::size(std::uint64_t* bytes) {
    if (!file_) return e_fail;
    const std::int64_t here = tell64(file_);
    if (here < 0 || seek64(file_, 0, SEEK_END) != 0) return errno_result();
    const std::int64_t end = tell64(file_);
    if (seek64(file_, here, SEEK_SET) != 0) return errno_result();
    *bytes = static_cast<std::uint64_t>(end);
    return s_ok;
}

} // namespace hyd
