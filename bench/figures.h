// What every bench program shares: medians of repeated runs, and the machine-readable figure lines
// that scripts/bench.sh gathers into one table:  figure<TAB>name<TAB>value<TAB>unit<TAB>goal
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace hyd::bench {

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline void figure(const std::string& name, double value, const char* unit, const char* goal = "") {
    std::printf(value >= 100 ? "figure\t%s\t%.0f\t%s\t%s\n" : "figure\t%s\t%.3g\t%s\t%s\n",
                name.c_str(), value, unit, goal);
}

// The console table as usual, and every repetition's counters and CPU time per iteration kept by
// benchmark name (without the repetition suffix), for medians after the run.
class keeping_reporter : public benchmark::ConsoleReporter {
  public:
    keeping_reporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const std::string name =
                r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args);
            auto& kept = runs_[name];
            kept["cpu_ns"].push_back(r.GetAdjustedCPUTime() *
                                     (r.time_unit == benchmark::kNanosecond    ? 1
                                      : r.time_unit == benchmark::kMicrosecond ? 1e3
                                      : r.time_unit == benchmark::kMillisecond ? 1e6
                                                                               : 1e9));
            for (const auto& [counter, value] : r.counters) kept[counter].push_back(value);
        }
    }
    // Median of a counter ("cpu_ns" for CPU time per iteration) over the repetitions of a
    // benchmark.
    double median_of(const std::string& name, const std::string& counter) {
        return median(runs_[name][counter]);
    }

  private:
    std::map<std::string, std::map<std::string, std::vector<double>>> runs_;
};

// Runs the registered benchmarks `repetitions` times each, interleaved at random so a change in the
// machine's load touches every benchmark alike.
inline void run_interleaved(int& argc, char** argv, keeping_reporter& reporter,
                            int repetitions = 5) {
    std::vector<std::string> flags{"--benchmark_enable_random_interleaving=true",
                                   "--benchmark_repetitions=" + std::to_string(repetitions)};
    std::vector<char*> args(argv, argv + argc);
    for (auto& f : flags) args.insert(args.begin() + 1, f.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

} // namespace hyd::bench
