// Load over an in-memory stream of ~100,000 generated ensembles, beside a plain copy of the same
// bytes in the same run. Prints MB/s of each and the ratio copy : load.
#include "common/memory_stream.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/persist.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

const std::vector<std::uint8_t>& deployment() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> all;
        for (std::uint32_t i = 0; i < 100000; ++i) {
            const auto r = hyd::build::sample_ensemble(i, 30, i % 4 == 0, 11);
            all.insert(all.end(), r.begin(), r.end());
        }
        return all;
    }();
    return bytes;
}

void BM_Load(benchmark::State& state) {
    const auto& bytes = deployment();
    std::size_t ensembles = 0;
    for (auto _ : state) {
        hyd::memory_stream stream{std::span<const std::uint8_t>(bytes)};
        hyd::CSNPersist p;
        while (p.Load(stream) == hyd::s_ok) ++ensembles;
        benchmark::DoNotOptimize(p.record_size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["ensembles"] = static_cast<double>(ensembles / state.iterations());
}

void BM_PlainCopy(benchmark::State& state) {
    const auto& bytes = deployment();
    std::vector<std::uint8_t> target(bytes.size());
    for (auto _ : state) {
        // The same source buffer a stream would copy from, into fresh memory.
        std::vector<std::uint8_t> source(bytes);
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// Remembers each benchmark's throughput so the ratio can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.counters.count("bytes_per_second"))
                mbps[r.benchmark_name()] = r.counters.at("bytes_per_second") / 1e6;
    }
    std::map<std::string, double> mbps;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    deployment();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double copy = reporter.mbps["BM_PlainCopy"], load = reporter.mbps["BM_Load"];
    std::printf("plain copy %.0f MB/s, Load %.0f MB/s, ratio copy:Load %.2f\n", copy, load,
                load > 0 ? copy / load : 0.0);
    return 0;
}
