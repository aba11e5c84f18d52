// A host's IStream seen as the reader's byte_stream, so the embedded ensemble holder reads and
// writes the host's stream directly. The adapter holds no reference: it lives for one call.
#pragma once

#include "common/byte_stream.h"

#include <objidl.h>

namespace hyd {

class istream_adapter final : public byte_stream {
  public:
    explicit istream_adapter(IStream* stream) : stream_(stream) {}

    hresult read(void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult write(const void* buffer, std::uint32_t count, std::uint32_t* done) override;
    hresult seek(std::int64_t move, seek_origin origin, std::uint64_t* new_position) override;
    hresult size(std::uint64_t* bytes) override;

  private:
    IStream* stream_;
};

} // namespace hyd
