// hyd: reads, inspects and generates ensemble files, and drives the instrument from Linux.
#include "cli.h"

#include <cstring>

namespace {

constexpr const char* usage =
    "usage: hyd COMMAND [ARGS]\n"
    "\n"
    "  hyd dump FILE             every Load of FILE as JSON Lines, with all item values\n"
    "  hyd info FILE             summary: ensembles, rejects, data types, firmware, spans\n"
    "  hyd show FILE [options]   one ensemble: item names, scaled values, units, profiles\n"
    "  hyd synth OUT [options]   write a synthetic deployment\n"
    "  hyd deploy PORT [options] prepare the instrument on a serial port and start it pinging,\n"
    "                            optionally recording what it sends (Linux)\n"
    "  hyd stop PORT             break in: the instrument stops pinging (Linux)\n"
    "  hyd wake PORT             tell whether the instrument answers (Linux)\n"
    "  hyd probe PORT            find the instrument's baud rate, parity and stop bits (Linux)\n"
    "  hyd setup PORT --baud B   change the instrument's serial settings (Linux)\n"
#ifdef _WIN32
    "  hyd automation register   register HydDisp.tlb, the library script hosts need\n"
#endif
    "\n"
    "hyd COMMAND --help tells more.\n";

} // namespace

int main(int argc, char** argv) {
    using namespace hyd::tool;
    if (argc < 2) {
        std::fputs(
            "hyd: expects a COMMAND: dump, info, show, synth, deploy, stop, wake, probe or setup "
            "(see hyd --help)\n",
            stderr);
        return exit_usage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(usage, stdout);
        return exit_ok;
    }
    args a;
    for (int i = 2; i < argc; ++i) a.items.emplace_back(argv[i]);
    try {
        if (command == "dump") return run_dump(a);
        if (command == "info") return run_info(a);
        if (command == "show") return run_show(a);
        if (command == "synth") return run_synth(a);
        if (command == "deploy" || command == "stop" || command == "wake" || command == "probe" ||
            command == "setup") {
#ifdef _WIN32
            return fail(command.c_str(), exit_usage,
                        "drives the instrument from Linux only; Windows hosts use Hyd.dll");
#else
            return command == "deploy"  ? run_deploy(a)
                   : command == "stop"  ? run_stop(a)
                   : command == "wake"  ? run_wake(a)
                   : command == "probe" ? run_probe(a)
                                        : run_setup(a);
#endif
        }
#ifdef _WIN32
        if (command == "automation") return run_automation(a);
#endif
    } catch (const std::exception& e) {
        return fail(command.c_str(), exit_io, "%s", e.what());
    }
    return fail(command.c_str(), exit_usage, "unknown command (see hyd --help)");
}
