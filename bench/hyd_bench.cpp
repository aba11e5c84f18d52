// The hyd tool on generated files, run as users run it (the real binary beside this one), timed by
// the CPU time (user + system) the child process used, so a machine busy with other work still
// gives comparable figures; wall times are kept beside them.
// - always: `hyd dump` and `hyd info` on a 20,000-ensemble file (MB/s of input);
// - with --big-file=PATH (scripts/bench.sh makes one of ~330 MB): `hyd info` on it against a plain
//   loop of 1 MiB reads over the same file (in the page cache), with the ratio of their throughputs
//   and hyd info's peak memory. The loop runs in this process (the goal's baseline) and, for
//   comparison, in a process of its own, which pays a start and first page faults as hyd does.
// Everything runs on the one processor this program starts on, the tool's processes too: on a
// shared machine one processor can run markedly slower than another for a while, and a tool
// placed on the slow one while the loop ran on the other would skew the ratios.
#include "figures.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path tool_path() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "hyd";
}

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

struct cost {
    double cpu = 0;  // user + system seconds
    double wall = 0; // seconds
    long peak_kb = 0;
};

// Runs a program (hyd unless said otherwise) with its output sent to /dev/null.
cost run_tool(std::vector<std::string> args, const fs::path& program = tool_path()) {
    args.insert(args.begin(), program.string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    rusage usage{};
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0 ||
        wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "hyd_bench: %s failed\n", args[1].c_str());
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), wall.count(), usage.ru_maxrss};
}

const std::string& small_file() {
    static const std::string path = [] {
        const fs::path p = fs::temp_directory_path() / "hyd_bench_small.sne";
        run_tool({"synth", p.string(), "--ensembles", "20000", "--beam5"});
        return p.string();
    }();
    return path;
}

std::string big_file;

// One run of the tool per iteration, timed by its CPU time; wall time and peak memory as counters.
void BM_Tool(benchmark::State& state, const char* command, bool big) {
    const std::string& file = big ? big_file : small_file();
    cost c;
    for (auto _ : state) {
        c = run_tool({command, file});
        state.SetIterationTime(c.cpu);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(fs::file_size(file)) * state.iterations());
    state.counters["wall_s"] = c.wall;
    state.counters["peak_MB"] = static_cast<double>(c.peak_kb) / 1024;
}

double process_cpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The plain read loop: 1 MiB reads to the end of the file, nothing else.
void plain_read(const std::string& path, std::vector<char>& buffer) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
}

void BM_PlainRead(benchmark::State& state) {
    std::vector<char> buffer(1 << 20);
    double wall = 0;
    for (auto _ : state) {
        const double cpu = process_cpu();
        const auto start = std::chrono::steady_clock::now();
        plain_read(big_file, buffer);
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(process_cpu() - cpu);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(fs::file_size(big_file)) *
                            state.iterations());
    state.counters["wall_s"] = wall;
}

// The same loop in a process of its own (this program, run again), so it pays a process's start
// and first page faults as hyd does.
void BM_PlainReadProcess(benchmark::State& state) {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    for (auto _ : state) state.SetIterationTime(run_tool({"--plain-read=" + big_file}, self).cpu);
    state.SetBytesProcessed(static_cast<std::int64_t>(fs::file_size(big_file)) *
                            state.iterations());
}

// Children started with posix_spawn inherit the affinity.
void stay_on_this_processor() {
    const int cpu = sched_getcpu();
    if (cpu < 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof one, &one);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--plain-read=", 13) == 0) { // the child of BM_PlainReadProcess
            std::vector<char> buffer(1 << 20);
            plain_read(argv[i] + 13, buffer);
            return 0;
        }
        if (std::strncmp(argv[i], "--big-file=", 11) == 0)
            big_file = argv[i] + 11;
        else
            rest.push_back(argv[i]);
    }
    stay_on_this_processor();
    small_file();
    const auto each = [](benchmark::internal::Benchmark* b, int iterations) {
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(iterations);
    };
    each(benchmark::RegisterBenchmark("hyd_dump", BM_Tool, "dump", false), 1);
    each(benchmark::RegisterBenchmark("hyd_info", BM_Tool, "info", false), 3);
    if (!big_file.empty()) {
        each(benchmark::RegisterBenchmark("plain_read_big", BM_PlainRead), 3);
        each(benchmark::RegisterBenchmark("plain_read_big_process", BM_PlainReadProcess), 3);
        each(benchmark::RegisterBenchmark("hyd_info_big", BM_Tool, "info", true), 3);
    }
    int count = static_cast<int>(rest.size());
    hyd::bench::keeping_reporter reporter;
    hyd::bench::run_interleaved(count, rest.data(), reporter, 7);

    namespace hb = hyd::bench;
    const auto mbps = [&](const char* name) {
        return reporter.median_of(name, "bytes_per_second") / 1e6;
    };
    hb::figure("hyd dump, 20,000 ensembles (input)", mbps("hyd_dump"), "MB/s", ">= 100");
    hb::figure("hyd info, 20,000 ensembles", mbps("hyd_info"), "MB/s");
    if (!big_file.empty()) {
        const double plain = mbps("plain_read_big"), info = mbps("hyd_info_big");
        const auto mb = static_cast<double>(fs::file_size(big_file)) / 1e6;
        hb::figure("plain 1 MiB read loop, " + std::to_string(int(mb)) + " MB", plain, "MB/s");
        hb::figure("hyd info, same file", info, "MB/s");
        hb::figure("hyd info / plain read (CPU time)", plain > 0 ? info / plain : 0, "ratio",
                   ">= 0.50");
        const double wall_plain = reporter.median_of("plain_read_big", "wall_s");
        const double wall_info = reporter.median_of("hyd_info_big", "wall_s");
        hb::figure("hyd info / plain read (wall time)", wall_info > 0 ? wall_plain / wall_info : 0,
                   "ratio");
        const double plain_process = mbps("plain_read_big_process");
        hb::figure("plain read loop as a process of its own", plain_process, "MB/s");
        hb::figure("hyd info / plain read as a process (CPU time)",
                   plain_process > 0 ? info / plain_process : 0, "ratio");
        hb::figure("hyd info peak memory", reporter.median_of("hyd_info_big", "peak_MB"), "MB");
    }
    return 0;
}
