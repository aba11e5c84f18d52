// hyd: reads, inspects and generates ensemble files.
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
    "\n"
    "hyd COMMAND --help tells more.\n";

} // namespace

int main(int argc, char** argv) {
    using namespace hyd::tool;
    if (argc < 2) {
        std::fputs("hyd: expects a COMMAND: dump, info, show or synth (see hyd --help)\n", stderr);
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
    } catch (const std::exception& e) {
        return fail(command.c_str(), exit_io, "%s", e.what());
    }
    return fail(command.c_str(), exit_usage, "unknown command (see hyd --help)");
}
