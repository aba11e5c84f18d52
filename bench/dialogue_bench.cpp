// CPU time the instrument dialogue spends per byte on the line, beside the time the byte takes on
// the wire at 115200 baud (10 bits, 86.8 us), over the termios port against the simulated
// instrument. Run it through the bench fixture, without the preload (its reports to the
// simulator would be counted as ours):
//   tools/hydsim/with-hydsim.sh - --hydsim-bin=build/native/bin/hydsim --
//       env -u LD_PRELOAD build/native/bin/dialogue_bench [COMMANDS]
#include "hylib/device_control.h"
#include "hylib/interpreter.h"
#include "hylib/termios_port.h"
#include "support/sim_control.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/resource.h>

namespace {

constexpr double wire_us_per_byte = 10.0 * 1e6 / 115200;

// A host's log window that keeps what it is given, as a real one would show it.
struct keeping_log final : hyd::log_window {
    std::string kept;
    void NewCommData(const char* data, std::uint32_t length) override { kept.append(data, length); }
    void ShowWindowAsync(long) override {}
    bool AskContinue(const std::string&) override { return false; }
};

double cpu_us() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

struct phase {
    const char* name;
    double cpu = 0;
    std::uint64_t bytes = 0;
    void print() const {
        const double per_byte = cpu / static_cast<double>(bytes);
        std::printf("%-34s %9llu bytes  %6.2f us CPU/byte  %5.2f%% of the wire time\n", name,
                    static_cast<unsigned long long>(bytes), per_byte,
                    100.0 * per_byte / wire_us_per_byte);
    }
};

} // namespace

int main(int argc, char** argv) {
    const char* port_path = std::getenv("HYD_SIM_PORT");
    if (!port_path) {
        std::fprintf(stderr, "dialogue_bench: run it through tools/hydsim/with-hydsim.sh\n");
        return 2;
    }
    const int commands = argc > 1 ? std::atoi(argv[1]) : 3000;
    hyd::sim::control sim;
    sim.set("baud", "115200");
    sim.set("ping_output", "text");
    sim.set("ping_text", std::string(200, 'e'));
    sim.set("ping_count", "20");
    sim.set("ping_interval_ms", "1");
    std::string why;
    auto port = hyd::termios_port::open(port_path, 115200, &why);
    if (!port) {
        std::fprintf(stderr, "dialogue_bench: %s\n", why.c_str());
        return 1;
    }
    port->set_break_type(1);
    keeping_log log;
    hyd::CSNCmdInterpreter rules;
    long mode = 0;
    if (rules.WakeUp(port.get(), &mode, &log, nullptr) != hyd::s_ok) {
        std::fprintf(stderr, "dialogue_bench: no wake-up\n");
        return 1;
    }

    // Commands: every sent byte written alone and its echo read back, then the reply.
    phase dialogue{"commands (echo, reply, log)"};
    const char* texts[] = {"CF?", "WP00045", "TE00:10:00.00", "CB?"};
    std::uint64_t sent = 0;
    log.kept.clear();
    double start = cpu_us();
    for (int i = 0; i < commands; ++i) {
        hyd::CHyCmd c(texts[i % 4], &rules);
        if (c.Execute(port.get(), mode, &log, nullptr) != hyd::s_ok) {
            std::fprintf(stderr, "dialogue_bench: %s failed\n", texts[i % 4]);
            return 1;
        }
        sent += c.command().size() + 1;
    }
    dialogue.cpu = cpu_us() - start;
    dialogue.bytes = sent + log.kept.size();

    // A ping cycle's output consumed up to the prompt, as Next does, and pinging restarted.
    phase cycles{"ping cycles (Next)"};
    if (hyd::device::reset(*port, nullptr, nullptr) != hyd::s_ok) return 1;
    log.kept.clear();
    start = cpu_us();
    for (int i = 0; i < commands / 100 + 1; ++i)
        if (hyd::device::next(*port, &log, nullptr) != hyd::s_ok) return 1;
    cycles.cpu = cpu_us() - start;
    cycles.bytes = log.kept.size() + 3 * static_cast<std::uint64_t>(commands / 100 + 1);
    hyd::device::close(*port);

    std::printf("wire time per byte at 115200 baud: %.1f us\n", wire_us_per_byte);
    dialogue.print();
    cycles.print();
    phase all{"all"};
    all.cpu = dialogue.cpu + cycles.cpu;
    all.bytes = dialogue.bytes + cycles.bytes;
    all.print();
    return 0;
}
