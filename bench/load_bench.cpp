// Load over an in-memory stream of ~100,000 generated ensembles (~100 MB), beside the plain copy of
// the same bytes into memory allocated beforehand: the floor of any reader that must copy each
// record out. Repetitions interleaved; medians of CPU time; Load's share of the copy's throughput.
#include "figures.h"

#include "common/memory_stream.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/persist.h"

#include <cstring>

namespace {

hyd::memory_stream& deployment() {
    static hyd::memory_stream stream = [] {
        std::vector<std::uint8_t> all;
        for (std::uint32_t i = 0; i < 100000; ++i) {
            const auto r = hyd::build::sample_ensemble(i, 30, i % 4 == 0, 11);
            all.insert(all.end(), r.begin(), r.end());
        }
        return hyd::memory_stream(std::move(all));
    }();
    return stream;
}

void BM_Load(benchmark::State& state) {
    hyd::memory_stream& stream = deployment();
    std::size_t ensembles = 0;
    for (auto _ : state) {
        stream.seek(0, hyd::seek_origin::set, nullptr);
        hyd::CSNPersist p;
        while (p.Load(stream) == hyd::s_ok) ++ensembles;
        benchmark::DoNotOptimize(p.record_size());
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * deployment().bytes().size()));
    state.counters["ensembles"] = static_cast<double>(ensembles / state.iterations());
}

void BM_Memcpy(benchmark::State& state) {
    const auto& bytes = deployment().bytes();
    std::vector<std::uint8_t> target(bytes.size(), 1); // allocated and touched before timing
    for (auto _ : state) {
        std::memcpy(target.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    deployment();
    hyd::bench::keeping_reporter reporter;
    hyd::bench::run_interleaved(argc, argv, reporter);
    const double copy = reporter.median_of("BM_Memcpy", "bytes_per_second") / 1e6;
    const double load = reporter.median_of("BM_Load", "bytes_per_second") / 1e6;
    hyd::bench::figure("memcpy into allocated memory", copy, "MB/s");
    hyd::bench::figure("Load over a memory stream", load, "MB/s");
    hyd::bench::figure("Load / memcpy", copy > 0 ? load / copy : 0, "ratio", ">= 0.40");
    return 0;
}
