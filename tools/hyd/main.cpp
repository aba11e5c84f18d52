// hyd: reads, inspects and generates ensemble files.
#include "common/file_stream.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/persist.h"
#include "support/ensemble_builder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

int usage(std::FILE* to) {
    std::fputs("usage: hyd info FILE             summarise the ensembles of FILE\n"
               "       hyd synth OUT [--ensembles N]  write N generated ensembles to OUT\n",
               to);
    return to == stdout ? 0 : 2;
}

std::string code_text(hyd::hresult hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    const char* name = hyd::result_name(hr);
    return name ? std::string(name) + " (" + buffer + ")" : buffer;
}

int info(const std::string& path) {
    hyd::file_stream stream;
    if (!stream.open(path, hyd::file_stream::mode::read)) {
        std::fprintf(stderr, "hyd: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    hyd::CSNPersist p;
    std::size_t good = 0;
    std::map<hyd::hresult, std::size_t> rejected;
    hyd::hresult hr = hyd::s_ok;
    for (;;) {
        hr = p.Load(stream);
        if (hyd::succeeded(hr)) {
            ++good;
            continue;
        }
        if (hr != hyd::HY_E_BADENSEMBLE) break;
        ++rejected[hr];
    }
    std::printf("%s: %zu ensembles read\n", path.c_str(), good);
    for (const auto& [code, count] : rejected)
        std::printf("  rejected: %zu x %s\n", count, code_text(code).c_str());
    std::printf("  stopped on %s\n", code_text(hr).c_str());
    return 0;
}

int synth(const std::string& path, int argc, char** argv) {
    unsigned long count = 100;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ensembles") == 0 && i + 1 < argc)
            count = std::strtoul(argv[++i], nullptr, 10);
        else {
            std::fprintf(stderr, "hyd synth: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    hyd::file_stream out;
    if (!out.open(path, hyd::file_stream::mode::write)) {
        std::fprintf(stderr, "hyd: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    for (unsigned long i = 1; i <= count; ++i) {
        const auto r = hyd::build::sample_ensemble(static_cast<std::uint32_t>(i), 30, i % 2 == 0);
        std::uint32_t done = 0;
        if (hyd::failed(out.write(r.data(), static_cast<std::uint32_t>(r.size()), &done))) {
            std::fprintf(stderr, "hyd: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(stderr);
    const std::string command = argv[1];
    if (command == "--help" || command == "help") return usage(stdout);
    if (command == "info" && argc == 3) return info(argv[2]);
    if (command == "synth" && argc >= 3) return synth(argv[2], argc - 3, argv + 3);
    return usage(stderr);
}
