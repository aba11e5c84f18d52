#include "common/istream_adapter_win.h"

namespace hyd {

hresult istream_adapter::write(const void* buffer, std::uint32_t count, std::uint32_t* done) {
    ULONG put = 0;
    const HRESULT hr = stream_->Write(buffer, count, &put);
    *done = put;
    return hr;
}

hresult istream_adapter::size(std::uint64_t* bytes) {
    STATSTG stat{};
    const HRESULT hr = stream_->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) *bytes = stat.cbSize.QuadPart;
    return hr;
}

} // namespace hyd
