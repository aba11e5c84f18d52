// Item reads the input chooses (byte 0: their number r, up to 15; the next 3 r bytes: item, index
// and kind, capacity) on whatever the reader holds of the rest of the input, a Load after another.
// Checks the counts, the result codes and that nothing is written past cMax; variants (top bit of
// the capacity byte) have as many values as their dimensions say.
#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/item_values.h"
#include "ensemble/item_variant.h"

#include <array>
#include <climits>
#include <cstdlib>

namespace {

using namespace hyd;

constexpr item_value guard = 0x5A5A5A5A;
constexpr item_value indexes[16] = {
    HY_INDEX_ALL, HY_INDEX_ALL + 1, -121, -120, -5, -1, 0, 1, 2, 3, 4, 29, 30, 119, 255, INT_MAX};
constexpr item_value capacities[8] = {1, 2, 3, 4, 8, 64, 256, 1024};

void check(bool ok) {
    if (!ok) std::abort();
}

unsigned read_item(const CSNBasePersist& p, const std::uint8_t* choice) {
    static const std::vector<item_value> items = [] {
        std::vector<item_value> v(long_items().begin(), long_items().end());
        v.insert(v.end(), {FIX_CPU_SERIAL, DERIVED_ENSDT, DERIVED_ENSTM, 7702, 8021, INT_MIN});
        return v;
    }();
    const item_value item = items[choice[0] % items.size()], index = indexes[choice[1] & 15];
    const item_value max = capacities[choice[2] & 7];
    static std::array<item_value, 1025> out;
    static std::array<item_point, 1025> points;
    std::fill_n(out.begin(), max + 1, guard);
    std::fill_n(points.begin(), max + 1, item_point{guard, guard});
    item_value actual = -99;
    if (item == FIX_CPU_SERIAL || item == DERIVED_ENSDT || item == DERIVED_ENSTM) {
        std::string text;
        const hresult hr = get_item_string(p, item, c_library_date_time_format(), &text);
        check(hr != s_ok || (!text.empty() && (item != FIX_CPU_SERIAL || text.size() == 16)));
        return static_cast<unsigned>(text.size());
    }
    if (choice[2] & 0x80) {
        item_variant v;
        item_labels labels;
        const hresult hr = get_item_variant(p, item, &v);
        std::size_t elements = v.dims.empty() ? v.values.size() : 1;
        for (const int d : v.dims) elements *= static_cast<std::size_t>(d);
        check((hr == s_ok || hr == e_invalidarg || hr == e_fail) && elements == v.values.size() &&
              get_item_labels(p, item, &labels) != e_pointer);
        return static_cast<unsigned>(v.values.size() + v.text.size() + labels.count);
    }
    if (choice[1] & 0x80) {
        const hresult hr = get_point(p, item, index, points.data(), max, &actual);
        check(points[std::size_t(max)].x == guard && actual >= 0 && actual <= max);
        check(hr == s_ok || hr == s_false || hr == e_invalidarg || hr == e_fail);
    } else {
        const hresult hr = get_long(p, item, index, out.data(), max, &actual);
        check(out[std::size_t(max)] == guard && (failed(hr) || (actual >= 0 && actual <= max)));
        check((succeeded(hr) || hr == e_invalidarg || hr == e_fail) &&
              (p.holds_record() || hr == e_fail));
    }
    return static_cast<unsigned>(out[0] ^ points[0].y ^ actual);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t reads = size ? data[0] & 15 : 0, header = 1 + 3 * reads;
    if (size < header) return 0;
    volatile unsigned sink = 0;
    memory_stream stream(std::span<const std::uint8_t>(data + header, size - header));
    CSNPersist p;
    for (int loads = 0; loads < 4; ++loads) {
        const hresult hr = p.Load(stream);
        for (std::size_t i = 0; i < reads; ++i) sink = sink + read_item(p, data + 1 + 3 * i);
        if (failed(hr) && hr != HY_E_BADENSEMBLE) break;
    }
    return 0;
}
