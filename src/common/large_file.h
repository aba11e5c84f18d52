// Large-file positioning over the C library on both platforms, and errno as a result code.
#pragma once

#include "common/result_codes.h"

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

// The failed call's errno as an HRESULT (never S_OK, even when errno was left at 0).
inline hresult errno_result() {
    return hresult_from_win32(errno == 0 ? 1 : static_cast<std::uint32_t>(errno));
}

} // namespace hyd
