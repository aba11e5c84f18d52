// Arbitrary bytes through the reader as a host uses it (Load after Load, then LoadLast), with
// every lookup on whatever is held: a pointer or size outside the record shows up under ASan.
#include "common/memory_stream.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/persist.h"

#include <cstdlib>

namespace {

unsigned inspect(const hyd::CSNPersist& p) {
    std::uint32_t size = 0;
    const std::uint8_t* record = p.GetBuffer(&size);
    unsigned sum = record ? record[size - 1] : 0;
    for (int i = -1; record && i <= 256; ++i) {
        const std::uint8_t* type = p.GetTypeAt(i);
        const int bytes = p.GetTypeSize(i);
        if (type ? type < record || type + bytes > record + size : bytes != 0) std::abort();
        for (int k = 0; k < bytes; ++k) sum += type[k];
    }
    for (unsigned id : {0x0000u, 0x0080u, 0x0600u, 0x0100u, 0x0207u, 0x1303u, 0xFFFFu})
        if (const std::uint8_t* type = p.GetType(static_cast<std::uint16_t>(id))) sum += type[1];
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    volatile unsigned sink = 0;
    hyd::memory_stream stream(std::span<const std::uint8_t>(data, size));
    hyd::CSNPersist p;
    for (int loads = 0; loads < 64; ++loads) {
        const hyd::hresult hr = p.Load(stream);
        sink = sink + inspect(p);
        hyd::memory_stream out;
        if (p.holds_record() != (p.Save(out, true) == hyd::s_ok)) std::abort();
        if (hyd::failed(hr) && hr != hyd::HY_E_BADENSEMBLE) break;
    }
    hyd::memory_stream again(std::span<const std::uint8_t>(data, size));
    p.LoadLast(again);
    sink = sink + inspect(p);
    return 0;
}
