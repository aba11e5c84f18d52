// hyd: reads, inspects and generates ensemble files.
#include "cli.h"

#include <cstring>

namespace {

constexpr const char* usage =
    "usage: hyd COMMAND [ARGS]\n"
    "\n"
    "  hyd dump FILE             every Load of FILE as JSON Lines, with all item values\n"
    "  hyd info FILE             summary: ensembles, rejects, data types, firmware, spans\n"
    "  hyd synth OUT [options]   write a synthetic deployment\n"
#ifdef _WIN32
    "  hyd automation register   register HydDisp.tlb, the library script hosts need\n"
#endif
    "\n"
    "hyd COMMAND --help tells more.\n";

} // namespace

int main(int argc, char** argv) {
    using namespace hyd::tool;
    if (argc < 2) {
        std::fputs("hyd: expects a COMMAND: dump, info or synth (see hyd --help)\n", stderr);
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
        if (command == "synth") return run_synth(a);
#ifdef _WIN32
        if (command == "automation") return run_automation(a);
#endif
    } catch (const std::exception& e) {
        return fail(command.c_str(), exit_io, "%s", e.what());
    }
    return fail(command.c_str(), exit_usage, "unknown command (see hyd --help)");
}
