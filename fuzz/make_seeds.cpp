// Writes a fuzz target's seed corpus, made with the ensemble builder:  fuzz_seeds TARGET DIR
#include "support/ensemble_builder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using hyd::build::bytes;

std::vector<bytes> ensemble_seeds() {
    namespace b = hyd::build;
    const bytes one = b::sample_ensemble(1, 8);
    const bytes two = b::sample_ensemble(2, 4, false);
    b::variable_leader long_leader;
    long_leader.size = 1100;
    b::fixed_leader old;
    old.firmware_major = 1;
    old.firmware_minor = 50;
    old.cells = 2;
    std::vector<bytes> seeds{
        one,
        b::concat({b::noise(40, 1), one, two}),
        b::concat({bytes{0x7F}, one}),
        b::with_bad_checksum(one),
        b::truncated(two, two.size() / 2),
        b::with_byte4(one, 1),
        b::ensemble_builder().add(b::fixed_leader{}).add(long_leader).build(),
        b::ensemble_builder()
            .add(old)
            .add(b::variable_leader{})
            .profile(0x0A00, std::vector<std::int32_t>{1, -2})
            .build(),
        b::ensemble_builder().build(),
    };
    for (std::uint16_t id : {0x0100, 0x0207, 0x0702, 0x1302})
        seeds.push_back(b::ensemble_builder()
                            .add(b::fixed_leader{})
                            .add(b::variable_leader{})
                            .add(b::encode_profile(id, 1, std::vector<std::int32_t>(3, 0x7F)))
                            .build());
    return seeds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds TARGET DIR\n");
        return 2;
    }
    const std::string target = argv[1];
    const std::filesystem::path dir = argv[2];
    std::vector<bytes> seeds;
    if (target == "persist" || target == "items")
        seeds = ensemble_seeds();
    else {
        std::fprintf(stderr, "fuzz_seeds: no seeds for %s\n", target.c_str());
        return 2;
    }
    std::filesystem::create_directories(dir);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(dir / ("seed-" + std::to_string(i)), std::ios::binary);
        out.write(reinterpret_cast<const char*>(seeds[i].data()),
                  static_cast<std::streamsize>(seeds[i].size()));
    }
    return 0;
}
