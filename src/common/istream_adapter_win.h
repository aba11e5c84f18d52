// A host's IStream seen as the reader's byte_stream, so the embedded ensemble holder reads and
// writes the host's stream directly. The adapter holds no reference: it lives for one call. Its
// reads and seeks are inline, so a reader instantiated for this final class calls the host's
// stream itself, with no call level between them.
#pragma once

#include "common/byte_stream.h"

#include <objidl.h>

namespace hyd {

class istream_adapter final : public byte_stream {
  public:
    explicit istream_adapter(IStream* stream) : stream_(stream) {}

    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override {
        ULONG got = 0;
        const HRESULT hr = stream_->Read(buffer, count, &got);
        // A stream that reports more than it was asked for is not believed.
        *done = got > count ? count : got;
        return hr;
    }
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override {
        LARGE_INTEGER distance;
        distance.QuadPart = move;
        ULARGE_INTEGER position{};
        const HRESULT hr = stream_->Seek(distance, static_cast<DWORD>(origin),
                                         new_position != nullptr ? &position : nullptr);
        if (new_position != nullptr) *new_position = position.QuadPart;
        return hr;
    }
    hresult size(std::uint64_t* bytes) override;

  private:
    IStream* stream_;
};

} // namespace hyd
