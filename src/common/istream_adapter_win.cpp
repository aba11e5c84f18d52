#include "common/istream_adapter_win.h"

namespace hyd {

hresult istream_adapter::read(void* buffer, std::uint32_t count, std::uint32_t* done) {
    ULONG got = 0;
    const HRESULT hr = stream_->Read(buffer, count, &got);
    // A stream that reports more than it was asked for is not believed.
    *done = got > count ? count : got;
    return hr;
}

hresult istream_adapter::write(const void* buffer, std::uint32_t count, std::uint32_t* done) {
    ULONG put = 0;
    const HRESULT hr = stream_->Write(buffer, count, &put);
    *done = put;
    return hr;
}

hresult istream_adapter::seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) {
    LARGE_INTEGER distance;
    distance.QuadPart = move;
    ULARGE_INTEGER position{};
    const HRESULT hr = stream_->Seek(distance, static_cast<DWORD>(origin),
                                     new_position != nullptr ? &position : nullptr);
    if (new_position != nullptr) *new_position = position.QuadPart;
    return hr;
}

hresult istream_adapter::size(std::uint64_t* bytes) {
    STATSTG stat{};
    const HRESULT hr = stream_->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) *bytes = stat.cbSize.QuadPart;
    return hr;
}

} // namespace hyd
