// Large-file positioning over the C library on both platforms.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace hyd {

inline int seek64(std::FILE* f, std::int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(f, offset, whence);
#else
    return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

inline std::int64_t tell64(std::FILE* f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<std::int64_t>(ftello(f));
#endif
}

} // namespace hyd
