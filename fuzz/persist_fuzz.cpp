// Arbitrary bytes through the reader as a host uses it, then every lookup on whatever is held; and
// the same Loads over streams that lend their bytes in windows of several sizes, or not at all,
// which must end alike in every respect.
#include "common/memory_stream.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/persist.h"
#include "support/fault_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Touches every byte the lookups claim, so an out-of-record pointer or size shows up under ASan.
unsigned inspect(const hyd::CSNPersist& p) {
    unsigned sum = 0;
    std::uint32_t size = 0;
    const std::uint8_t* record = p.GetBuffer(&size);
    if (!record) return 0;
    for (int i = -1; i <= 256; ++i) {
        const std::uint8_t* type = p.GetTypeAt(i);
        const int bytes = p.GetTypeSize(i);
        if (!type) {
            if (bytes != 0) std::abort();
            continue;
        }
        if (type < record || type + bytes > record + size) std::abort();
        for (int k = 0; k < bytes; ++k) sum += type[k];
        sum += hyd::read_u16(type);
    }
    for (unsigned id : {0x0000u, 0x0080u, 0x0600u, 0x0100u, 0x0207u, 0x1303u, 0xFFFFu})
        if (const std::uint8_t* type = p.GetType(static_cast<std::uint16_t>(id))) sum += type[0];
    return sum;
}

// A reader that has held other records before indexes this one as a fresh reader does.
void same_index(const hyd::CSNPersist& p) {
    std::uint32_t size = 0;
    const std::uint8_t* record = p.GetBuffer(&size);
    if (!record) return;
    hyd::memory_stream again({record, size});
    hyd::CSNPersist fresh;
    fresh.Load(again);
    const auto offset = [](const hyd::CSNPersist& r, int i) {
        const std::uint8_t* type = r.GetTypeAt(i);
        return type ? type - r.GetBuffer(nullptr) : -1;
    };
    for (int i = 0; i < 256; ++i)
        if (offset(fresh, i) != offset(p, i) || fresh.GetTypeSize(i) != p.GetTypeSize(i) ||
            fresh.type_id(i) != p.type_id(i))
            std::abort();
}

// Everything a caller can observe after each Load of a host loop.
std::vector<std::int64_t> host_loop(hyd::byte_stream& stream) {
    std::vector<std::int64_t> seen;
    hyd::CSNPersist p;
    for (int loads = 0; loads < 64; ++loads) {
        const hyd::hresult hr = p.Load(stream);
        std::uint64_t at = 0;
        stream.seek(0, hyd::seek_origin::cur, &at);
        std::uint32_t size = 0;
        const std::uint8_t* record = p.GetBuffer(&size);
        seen.insert(seen.end(), {hr, static_cast<std::int64_t>(p.last_reason()), p.position(),
                                 p.last_start(), static_cast<std::int64_t>(at), size});
        if (record) seen.insert(seen.end(), record, record + size);
        if (hyd::failed(hr) && hr != hyd::HY_E_BADENSEMBLE) break;
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    volatile unsigned sink = 0;
    {
        hyd::memory_stream stream(bytes);
        hyd::CSNPersist p;
        for (int loads = 0; loads < 64; ++loads) {
            const hyd::hresult hr = p.Load(stream);
            sink = sink + inspect(p);
            same_index(p);
            hyd::memory_stream out;
            const hyd::hresult saved = p.Save(out, true);
            if (p.holds_record() != (saved == hyd::s_ok)) std::abort();
            if (hyd::failed(hr) && hr != hyd::HY_E_BADENSEMBLE) break;
        }
    }
    {
        hyd::fault_stream plain({data, data + size});
        const auto expected = host_loop(plain);
        for (std::size_t window : {std::size_t{1}, std::size_t{3}, std::size_t{100}, size}) {
            hyd::fault_stream lending({data, data + size});
            lending.window = window;
            if (host_loop(lending) != expected) std::abort();
        }
    }
    {
        hyd::memory_stream stream(bytes);
        hyd::CSNPersist p;
        p.LoadLast(stream);
        sink = sink + inspect(p);
    }
    return 0;
}
