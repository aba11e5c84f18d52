// Arbitrary bytes through the reader, then every item read from whatever is held: GetLong with
// several indexes and capacities, GetPoint for every profile, the three texts and every variant
// and label set. Checks the counts, that nothing is written past cMax and that array shapes hold
// their values.
#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/item_values.h"
#include "ensemble/item_variant.h"
#include "ensemble/persist.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr hyd::item_value guard = 0x5A5A5A5A;
constexpr hyd::item_value indexes[] = {hyd::HY_INDEX_ALL, -1, -121, 0, 3, 4, 255, 0x7FFFFFFF};
constexpr hyd::item_value capacities[] = {1, 3, 256};

unsigned read_everything(const hyd::CSNBasePersist& p) {
    unsigned sum = 0;
    std::array<hyd::item_value, 257> values{};
    std::array<hyd::item_point, 1025> points{};
    for (hyd::item_value item : hyd::long_items()) {
        for (hyd::item_value index : indexes) {
            for (hyd::item_value max : capacities) {
                std::fill_n(values.begin(), max + 1, guard);
                hyd::item_value actual = -99;
                const hyd::hresult hr = hyd::get_long(p, item, index, values.data(), max, &actual);
                if (values[static_cast<std::size_t>(max)] != guard) std::abort();
                if (hyd::succeeded(hr)) {
                    if (actual < 0 || actual > max) std::abort();
                    for (hyd::item_value i = 0; i < actual; ++i)
                        sum += static_cast<unsigned>(values[static_cast<std::size_t>(i)]);
                } else if (hr != hyd::e_invalidarg && hr != hyd::e_fail) {
                    std::abort();
                }
                if (!p.holds_record() && hr != hyd::e_fail) std::abort();
            }
        }
    }
    for (int i = 0; i < hyd::profile_item_count; ++i) {
        for (hyd::item_value index : indexes) {
            for (hyd::item_value max : {1, 5, 1024}) {
                std::fill_n(points.begin(), max + 1, hyd::item_point{guard, guard});
                hyd::item_value actual = -99;
                const hyd::hresult hr = hyd::get_point(p, hyd::profile_cell_item(i), index,
                                                       points.data(), max, &actual);
                if (points[static_cast<std::size_t>(max)].x != guard) std::abort();
                if (actual < 0 || actual > max) std::abort();
                if (hyd::succeeded(hr))
                    for (hyd::item_value k = 0; k < actual; ++k)
                        sum += static_cast<unsigned>(points[static_cast<std::size_t>(k)].x ^
                                                     points[static_cast<std::size_t>(k)].y);
            }
        }
    }
    for (hyd::item_value item : {hyd::FIX_CPU_SERIAL, hyd::DERIVED_ENSDT, hyd::DERIVED_ENSTM}) {
        std::string text;
        const hyd::hresult hr =
            hyd::get_item_string(p, item, hyd::c_library_date_time_format(), &text);
        if (hr == hyd::s_ok && text.empty()) std::abort();
        if (item == hyd::FIX_CPU_SERIAL && hr == hyd::s_ok && text.size() != 16) std::abort();
        sum += static_cast<unsigned>(text.size());
    }
    for (hyd::item_value item = 7000; item <= 8001; ++item) {
        hyd::item_variant v;
        hyd::item_labels labels;
        const hyd::hresult hr = hyd::get_item_variant(p, item, &v);
        std::size_t elements = v.dims.empty() ? v.values.size() : 1;
        for (int d : v.dims) elements *= static_cast<std::size_t>(d);
        if ((hr != hyd::s_ok && hr != hyd::e_invalidarg && hr != hyd::e_fail) ||
            elements != v.values.size() || hyd::get_item_labels(p, item, &labels) == hyd::e_pointer)
            std::abort();
        sum += static_cast<unsigned>(v.values.size() + v.text.size() + labels.count);
    }
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    volatile unsigned sink = 0;
    hyd::memory_stream stream(std::span<const std::uint8_t>(data, size));
    hyd::CSNPersist p;
    for (int loads = 0; loads < 4; ++loads) {
        const hyd::hresult hr = p.Load(stream);
        sink = sink + read_everything(p);
        if (hyd::failed(hr) && hr != hyd::HY_E_BADENSEMBLE) break;
    }
    return 0;
}
