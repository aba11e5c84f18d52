// hydsim: a simulated profiler on a pseudo-terminal, for tests and demonstrations. See README.md.
#include "control_server.h"
#include "transport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

int fail(const std::string& why, int status) {
    std::fprintf(stderr, "hydsim: %s\n", why.c_str());
    return status;
}

} // namespace

int main(int argc, char** argv) {
    hydsim::options opts;
    std::string log_path;
    int control_port = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return usage(stdout);
        if (arg.rfind("--", 0) != 0 || arg.size() < 3) {
            fail("unexpected argument " + arg, 2);
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
        } else if (key == "log") {
            log_path = value;
        } else if (key == "control-port" || key == "control_port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || port < 0 || port > 65535)
                return fail("bad control port " + value, 2);
            control_port = int(port);
        } else if (auto why = hydsim::set_option(opts, key, value)) {
            return fail(*why, 2);
        }
    }

    hydsim::sim_clock clock;
    hydsim::event_log log;
    if (!log_path.empty() && !log.open(log_path))
        return fail("cannot write the log " + log_path, 1);
    hydsim::pty_line pty;
    hydsim::dialogue dialogue(log, opts);
    hydsim::control_server control(dialogue, log, pty, clock);
    std::string error;
    if (!pty.open(opts.instrument, error) || !control.listen(control_port, error))
        return fail(error, 1);
    int signal_fd = hydsim::stop_signals();

    std::printf("%s\ncontrol 127.0.0.1:%d\nlog %s\n", pty.path().c_str(), control.port(),
                log_path.empty() ? "-" : log_path.c_str());
    std::fflush(stdout);
    log.emit(clock.now_us(), "start", pty.path() + " " + hydsim::describe(opts.instrument));
    int status = hydsim::run(signal_fd, pty, dialogue, control, log, clock);
    close(signal_fd);
    return status;
}
