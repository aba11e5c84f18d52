// hydsim: a simulated profiler on a pseudo-terminal, for tests and demonstrations. See README.md.
#include "simulator.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

int usage(std::FILE* to) {
    std::fputs(
        "usage: hydsim [--log=PATH] [--control-port=N] [--baud=9600] [--parity=N|O|E|M|S]\n"
        "              [--stop=1|2] [--exit-with-parent] [--OPTION[=VALUE]...]\n"
        "Prints the pseudo-terminal's slave path, \"control 127.0.0.1:PORT\" and \"log PATH\",\n"
        "then answers like the instrument until SIGTERM. Options: see tools/hydsim/README.md.\n",
        to);
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    hydsim::simulator sim;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return usage(stdout);
        if (arg.rfind("--", 0) != 0 || arg.size() < 3) {
            std::fprintf(stderr, "hydsim: unexpected argument %s\n", arg.c_str());
            return usage(stderr);
        }
        auto eq = arg.find('=');
        std::string key = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        std::string value = eq == std::string::npos ? "1" : arg.substr(eq + 1);
        if (key == "exit-with-parent" || key == "exit_with_parent") {
            // A killed test runner must not leave its instrument behind: SIGTERM arrives when the
            // parent goes, and takes the normal way out.
            pid_t parent = getppid();
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) return 1;
            continue;
        }
        if (key == "log") {
            sim.set_log(value);
            continue;
        }
        if (key == "control-port" || key == "control_port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (!end || *end || port < 0 || port > 65535) {
                std::fprintf(stderr, "hydsim: bad control port %s\n", value.c_str());
                return 2;
            }
            sim.set_control_port(int(port));
            continue;
        }
        std::string why;
        if (!sim.set_option(key, value, why)) {
            std::fprintf(stderr, "hydsim: %s\n", why.c_str());
            return 2;
        }
    }
    if (!sim.start()) return 1;
    return sim.run();
}
