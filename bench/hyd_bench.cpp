// The hyd tool on generated files, run as users run it (the real binary beside this one):
// - always: `hyd dump` and `hyd info` per ensemble on a 20,000-ensemble file, beside an in-process
//   Load loop over the same bytes held in memory;
// - with --big-file=PATH (bench/info_vs_read.sh makes a ~1 GB file): `hyd info` on it against a
//   plain read loop over the same file, in the same run, with the ratio printed at the end.
#include "common/memory_stream.h"
#include "ensemble/persist.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path tool_path() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "hyd";
}

void run_or_die(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "hyd_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
}

constexpr int small_ensembles = 20000;

const std::string& small_file() {
    static const std::string path = [] {
        const fs::path p = fs::temp_directory_path() / "hyd_bench_small.sne";
        run_or_die(tool_path().string() + " synth " + p.string() + " --ensembles " +
                   std::to_string(small_ensembles) + " --beam5");
        return p.string();
    }();
    return path;
}

// Seconds per run of a hyd command; the benchmark reports time per ensemble.
void BM_Tool(benchmark::State& state, const char* command) {
    const std::string line =
        tool_path().string() + " " + command + " " + small_file() + " >/dev/null";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        run_or_die(line);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() / small_ensembles);
    }
}

void BM_LoadLoop(benchmark::State& state) {
    std::vector<std::uint8_t> bytes(fs::file_size(small_file()));
    std::FILE* f = std::fopen(small_file().c_str(), "rb");
    if (!f || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        hyd::memory_stream s{std::span<const std::uint8_t>(bytes)};
        hyd::CSNPersist p;
        int n = 0;
        while (hyd::succeeded(p.Load(s))) ++n;
        if (n != small_ensembles) std::abort();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() / small_ensembles);
    }
}

std::string big_file;
std::map<std::string, double> seconds_of;

void BM_BigPlainRead(benchmark::State& state) {
    std::vector<char> buffer(1 << 16);
    std::uint64_t total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* f = std::fopen(big_file.c_str(), "rb");
        if (!f) std::abort();
        unsigned sum = 0;
        total = 0;
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) {
            total += n;
            for (std::size_t i = 0; i < n; i += 64) sum += static_cast<unsigned char>(buffer[i]);
        }
        std::fclose(f);
        benchmark::DoNotOptimize(sum);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        seconds_of["plain read"] = took.count();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(total * state.iterations()));
}

void BM_BigHydInfo(benchmark::State& state) {
    const std::string line = tool_path().string() + " info " + big_file + " >/dev/null";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        run_or_die(line);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        seconds_of["hyd info"] = took.count();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(fs::file_size(big_file)) *
                            state.iterations());
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--big-file=", 11) == 0)
            big_file = argv[i] + 11;
        else
            rest.push_back(argv[i]);
    }
    if (big_file.empty()) {
        benchmark::RegisterBenchmark("hyd_dump_per_ensemble", BM_Tool, "dump")
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark("hyd_info_per_ensemble", BM_Tool, "info")
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark("load_loop_per_ensemble", BM_LoadLoop)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(3);
    } else {
        // Plain read first, then hyd info, then the plain read again: both see the same cache.
        for (const char* name : {"plain_read_1GB", "hyd_info_1GB", "plain_read_1GB_again"}) {
            auto* b = std::strcmp(name, "hyd_info_1GB") == 0
                          ? benchmark::RegisterBenchmark(name, BM_BigHydInfo)
                          : benchmark::RegisterBenchmark(name, BM_BigPlainRead);
            b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
        }
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!big_file.empty() && seconds_of.count("plain read") && seconds_of.count("hyd info"))
        std::printf("hyd info takes %.2f x the time of a plain read loop over the same file\n",
                    seconds_of["hyd info"] / seconds_of["plain read"]);
    return 0;
}
