// Seeds for the reader: clean, noisy, damaged and unusual records from the ensemble builder.
#include "ensemble/ensemble_builder.h"

#include <vector>

using hyd::build::bytes;

std::vector<bytes> make_seeds() {
    namespace b = hyd::build;
    const bytes one = b::sample_ensemble(1, 8);
    const bytes two = b::sample_ensemble(2, 4, false);
    b::variable_leader long_leader;
    long_leader.size = 1100;
    b::fixed_leader old;
    old.firmware_major = 1;
    old.firmware_minor = 50;
    old.cells = 2;
    bytes reserved = one; // reserved bytes that are not zero
    reserved[reserved.size() - 4] = 0xAA;
    reserved[reserved.size() - 3] = 0x55;
    b::fix_checksum(reserved);
    std::vector<bytes> seeds{
        reserved,
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
        b::with_byte_count(one, 5),
        // The sync search's limit of 131,072 reads, met and missed, also after a false start.
        b::concat({bytes(131070, 0), one}),
        b::concat({bytes(131071, 0), one}),
        b::concat({bytes(131000, 0), bytes{0x7F, 0x01}, bytes(131070, 0), one}),
    };
    for (std::uint16_t id : {0x0100, 0x0207, 0x0702, 0x1302})
        seeds.push_back(b::ensemble_builder()
                            .add(b::fixed_leader{})
                            .add(b::variable_leader{})
                            .add(b::encode_profile(id, 1, std::vector<std::int32_t>(3, 0x7F)))
                            .build());
    return seeds;
}
