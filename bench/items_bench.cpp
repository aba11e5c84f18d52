// Item reads on one held ensemble: GetLong per call for the kinds of item (a plain field, a
// converted one, four beams, one depth cell, the whole catalogue), GetPoint per point, and the
// three texts. Medians of CPU time over interleaved repetitions.
#include "figures.h"

#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <array>

namespace {

const hyd::CSNPersist& held() {
    static hyd::CSNPersist p;
    static const bool loaded = [] {
        hyd::memory_stream s(hyd::build::sample_ensemble(12345, 30, true, 3));
        return p.Load(s) == hyd::s_ok;
    }();
    if (!loaded) std::abort();
    return p;
}

void BM_GetLong(benchmark::State& state, hyd::item_value item, hyd::item_value index) {
    const auto& p = held();
    std::array<hyd::item_value, 8> values{};
    hyd::item_value actual = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hyd::get_long(p, item, index, values.data(), 8, &actual));
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_GetLong, ensemble_number_7301, 7301, hyd::HY_INDEX_ALL);
BENCHMARK_CAPTURE(BM_GetLong, frequency_7103, 7103, hyd::HY_INDEX_ALL);
BENCHMARK_CAPTURE(BM_GetLong, heading_7312, 7312, hyd::HY_INDEX_ALL);
BENCHMARK_CAPTURE(BM_GetLong, bottom_range_4_beams_7509, 7509, hyd::HY_INDEX_ALL);
BENCHMARK_CAPTURE(BM_GetLong, velocity_cell_7701, 7701, 17);
BENCHMARK_CAPTURE(BM_GetLong, beam5_id_absent_7800, 7800, hyd::HY_INDEX_ALL);

// Every GetLong item once per iteration; items processed = calls.
void BM_GetLongCatalogue(benchmark::State& state) {
    const auto& p = held();
    std::array<hyd::item_value, 8> values{};
    hyd::item_value actual = 0;
    const auto items = hyd::long_items();
    for (auto _ : state)
        for (hyd::item_value item : items)
            benchmark::DoNotOptimize(hyd::get_long(p, item, 0, values.data(), 8, &actual));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(items.size()));
}
BENCHMARK(BM_GetLongCatalogue);

// All 120 points of the velocity profile; items processed = points.
void BM_GetPoint(benchmark::State& state) {
    const auto& p = held();
    std::array<hyd::item_point, 1024> points{};
    hyd::item_value actual = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            hyd::get_point(p, 7701, hyd::HY_INDEX_ALL, points.data(), 1024, &actual));
        benchmark::DoNotOptimize(points.data());
    }
    state.SetItemsProcessed(state.iterations() * actual);
}
BENCHMARK(BM_GetPoint);

void BM_ItemString(benchmark::State& state, hyd::item_value item) {
    const auto& p = held();
    std::string text;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            hyd::get_item_string(p, item, hyd::c_library_date_time_format(), &text));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_ItemString, serial_7149, 7149);
BENCHMARK_CAPTURE(BM_ItemString, date_11000, 11000);
BENCHMARK_CAPTURE(BM_ItemString, time_11001, 11001);

} // namespace

int main(int argc, char** argv) {
    held();
    hyd::bench::keeping_reporter reporter;
    hyd::bench::run_interleaved(argc, argv, reporter);
    namespace hb = hyd::bench;
    const auto ns_per_item = [&](const std::string& name) {
        const double rate = reporter.median_of(name, "items_per_second");
        return rate > 0 ? 1e9 / rate : 0;
    };
    for (const char* name : {"ensemble_number_7301", "frequency_7103", "heading_7312"})
        hb::figure(std::string("GetLong, scalar ") + name,
                   ns_per_item(std::string("BM_GetLong/") + name), "ns/call", "<= 20");
    hb::figure("GetLong, 4 beams bottom_range_7509",
               ns_per_item("BM_GetLong/bottom_range_4_beams_7509"), "ns/call");
    hb::figure("GetLong, whole catalogue (mean)", ns_per_item("BM_GetLongCatalogue"), "ns/call");
    hb::figure("GetPoint, 120 points of 7701", ns_per_item("BM_GetPoint"), "ns/point", "<= 2");
    return 0;
}
