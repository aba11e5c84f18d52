// hyd deploy, stop and wake as users run them, against the simulated instrument on its pty.
#include "common/memory_stream.h"
#include "ensemble/persist.h"
#include "support/scratch_folder.h"
#include "support/sim_wire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace hyd {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct tool_case {
    const char* name;
    const char* sim;    // simulator options, "k=v k=v"
    const char* script; // shell; $HYD is the tool, PORT, FILE and OUT are filled in
    int exit_code;
    const char* output;   // parts of stdout + stderr, separated by '|'
    int ensembles = -1;   // at least this many whole ensembles appended to OUT
    bool hang_up = false; // the line hangs up after a second
    friend void PrintTo(const tool_case& c, std::ostream* os) { *os << c.name; }
};

const tool_case cases[] = {
    {"deploy_and_capture", "ping_count=0",
     "$HYD deploy PORT --commands FILE --auto --capture OUT --count 3", 0,
     "HY I simulated profiler\n|>WP00045\n>The command cs is not allowed|\n>CF11110\n>cs\n|"
     ": 3 ensembles, 2511 bytes, last #3 at 2026-12-05 12:00:03.00, 0 rejected\n",
     3},
    {"ctrl_c_ends_capture", "ping_count=0 ping_interval_ms=300",
     "$HYD deploy PORT --capture OUT & sleep 1.5; kill -INT $!; wait $!", 0, "captured to ", 2},
    {"hang_up_ends_capture", "ping_count=0 ping_interval_ms=100", "$HYD deploy PORT --capture OUT",
     1, "the line hung up|captured to ", 2, true},
    {"deploy_only", "", "$HYD deploy PORT", 0, ">CF01110\n>cs\n"},
    {"stop", "", "$HYD stop PORT", 0, "the instrument stopped"},
    {"command_in_error", "reject=WP", "$HYD deploy PORT --commands FILE", 1,
     "\nThe command ended in error.  Continue anyway? [y/N] no (nobody at the terminal|"
     "a command ended in error"},
    {"deploy_silent", "silence=1", "$HYD deploy PORT --timeout 100", 1, "does not answer"},
    {"busy", "", "flock PORT $HYD stop PORT", 1, "busy: another program"},
    {"not_a_tty", "", "$HYD wake FILE", 1, "not a serial port"},
    {"bad_baud", "", "$HYD wake PORT --baud 14400", 2, "--baud takes"},
    {"other_baud", "", "$HYD wake PORT --baud 1200 --timeout 100", 1, "does not answer"},
    {"probe_silent", "silence=1", "$HYD probe PORT --break-string --timeout 20", 1,
     "Trying 300 bps Baud Rate, With Parity [####################################] 36/36\n|"
     ": no answer at any setting\n"},
    {"setup_then_wake", "baud=4800 parity=E",
     "$HYD setup PORT --baud 19200 --parity odd --stop 2 --break-string --timeout 30 && $HYD wake "
     "PORT --baud 19200 --parity odd --stop 2",
     0,
     "answers at 4800 bps, even parity, 1 stop bit\n|now uses 19200 bps, odd parity, 2 stop bits|"
     "the instrument answers\n"},
};

class hyd_instrument : public ::testing::TestWithParam<tool_case> {};

TEST_P(hyd_instrument, runs_against_the_instrument) {
    const tool_case& c = GetParam();
    sim::control sim;
    test::set_options(sim, c.sim);
    const test::scratch_folder scratch("hyd-instrument");
    const std::string& dir = scratch.path();
    const std::string file = dir + "/commands.txt", out = dir + "/out.sne";
    std::ofstream(file, std::ios::binary) << "; note\r\nWP00045\r\ncs\r\n";
    std::ofstream(out, std::ios::binary) << "old";
    std::string script = c.script;
    for (const auto& [word, value] :
         {std::pair<std::string, std::string>{"PORT", std::getenv("HYD_SIM_PORT")},
          {"FILE", file},
          {"OUT", out}})
        for (std::size_t at; (at = script.find(word)) != std::string::npos;)
            script.replace(at, word.size(), value);

    std::thread hang_up([&] {
        if (c.hang_up) std::this_thread::sleep_for(std::chrono::milliseconds(1200)), sim.hangup();
    });
    const int status = std::system(
        ("HYD=" HYD_TOOL "; (" + script + ") >" + dir + "/log 2>&1 </dev/null").c_str());
    hang_up.join();
    const std::string log = slurp(dir + "/log");
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.exit_code) << log;
    std::istringstream parts(c.output);
    for (std::string part; std::getline(parts, part, '|');)
        EXPECT_NE(log.find(part), std::string::npos) << part << " in\n" << log;
    if (c.ensembles >= 0) {
        const std::string bytes = slurp(out);
        ASSERT_EQ(bytes.substr(0, 3), "old");
        memory_stream stream(std::vector<std::uint8_t>(bytes.begin() + 3, bytes.end()));
        CSNPersist p;
        int whole = 0;
        while (p.Load(stream) == s_ok) ++whole;
        EXPECT_GE(whole, c.ensembles) << log;
    }
    std::system(("rm -rf " + dir).c_str());
}

INSTANTIATE_TEST_SUITE_P(commands, hyd_instrument, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hyd
