// Seeds for the item reads: records that reach every rule of the catalogue (old and family
// firmware, beams up, beam-5 and 32-bit profiles, short profiles and leaders, missing parts).
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"

#include <vector>

using hyd::build::bytes;

std::vector<bytes> make_seeds() {
    namespace b = hyd::build;
    std::vector<bytes> seeds{b::sample_ensemble(1, 4), b::sample_ensemble(70000, 3, false)};

    const auto with_profiles = [](b::fixed_leader f, int cells_held) {
        b::ensemble_builder e;
        e.add(f).add(b::variable_leader{});
        for (const hyd::profile_layout& l : hyd::profile_layouts())
            e.profile(l.id, std::vector<std::int32_t>(
                                static_cast<std::size_t>(cells_held * l.values_per_cell), -3));
        e.add(b::bottom_track{});
        return e.build();
    };
    b::fixed_leader f;
    f.cells = 3;
    seeds.push_back(with_profiles(f, 3));
    seeds.push_back(with_profiles(f, 2)); // profiles shorter than the cell count
    f.config = 0x41CA;                    // beams up
    f.firmware_major = 1;
    f.firmware_minor = 50;
    seeds.push_back(with_profiles(f, 3));
    f.firmware_major = 8;
    f.firmware_minor = 13;
    seeds.push_back(with_profiles(f, 3));

    b::variable_leader bad_date;
    bad_date.month = 2;
    bad_date.day = 30;
    bad_date.hour = 24;
    bad_date.hundredths = 200;
    seeds.push_back(b::ensemble_builder().add(b::fixed_leader{}).add(bad_date).build());

    // Leaders cut short, so fields lie past their data type's end.
    bytes fixed = b::encode(b::fixed_leader{});
    fixed.resize(20);
    bytes variable = b::encode(b::variable_leader{});
    variable.resize(12);
    bytes bottom = b::encode(b::bottom_track{});
    bottom.resize(30);
    seeds.push_back(b::ensemble_builder().add(fixed).add(variable).add(bottom).build());
    seeds.push_back(b::ensemble_builder().add(b::variable_leader{}).build());
    seeds.push_back(b::with_bad_checksum(b::sample_ensemble(2, 5)));
    return seeds;
}
