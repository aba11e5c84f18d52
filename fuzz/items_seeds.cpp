// Seeds for the item reads: records that reach the rules of the catalogue (old and family
// firmware, beams up, every profile, profiles and leaders cut short, missing parts), each behind
// a choice of fifteen reads spread over the items, indexes, capacities and kinds.
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"

#include <tuple>
#include <vector>

using hyd::build::bytes;

std::vector<bytes> make_seeds() {
    namespace b = hyd::build;
    std::vector<bytes> records{b::sample_ensemble(1, 4), b::sample_ensemble(70000, 3, false),
                               b::ensemble_builder().add(b::variable_leader{}).build(),
                               b::with_bad_checksum(b::sample_ensemble(2, 5))};
    // Firmware major, minor, configuration word, cells held of 3.
    const std::tuple<int, int, int, int> variants[] = {
        {9, 40, 0x414A, 3}, {9, 40, 0x414A, 2}, {1, 50, 0x41CA, 3}, {8, 13, 0x414A, 3}};
    for (const auto& [major, minor, config, held] : variants) {
        b::fixed_leader f;
        f.firmware_major = std::uint8_t(major), f.firmware_minor = std::uint8_t(minor);
        f.config = std::uint16_t(config), f.cells = 3;
        b::ensemble_builder e;
        e.add(f).add(b::variable_leader{}).add(b::bottom_track{});
        for (const hyd::profile_layout& l : hyd::profile_layouts())
            e.profile(l.id, std::vector<std::int32_t>(std::size_t(held * l.values_per_cell), -3));
        records.push_back(e.build());
    }
    bytes fixed = b::encode(b::fixed_leader{}), variable = b::encode(b::variable_leader{});
    fixed.resize(20), variable.resize(12); // fields past their data type's end
    records.push_back(b::ensemble_builder().add(fixed).add(variable).build());
    std::vector<bytes> seeds;
    for (std::size_t s = 0; s < records.size(); ++s) {
        bytes seed{15};
        for (std::size_t k = 0; k < 15; ++k)
            seed.insert(seed.end(),
                        {std::uint8_t(k * 17 + s * 5), std::uint8_t(k * 9 + (k % 3 ? 0 : 0x80)),
                         std::uint8_t(k + s)});
        seeds.push_back(b::concat({seed, records[s]}));
    }
    return seeds;
}
