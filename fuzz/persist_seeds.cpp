// Seeds for the reader: clean, noisy, damaged and unusual records from the ensemble builder.
#include "ensemble/ensemble_builder.h"

#include <vector>

std::vector<hyd::build::bytes> make_seeds() {
    namespace b = hyd::build;
    const b::bytes one = b::sample_ensemble(1, 8), two = b::sample_ensemble(2, 4, false);
    b::variable_leader long_leader;
    long_leader.size = 1100;
    return {one,
            b::concat({b::noise(40, 1), one, two}),
            b::concat({b::bytes{0x7F}, one}),
            b::with_bad_checksum(one),
            b::truncated(two, two.size() / 2),
            b::with_byte4(one, 1),
            b::ensemble_builder().add(b::fixed_leader{}).add(long_leader).build(),
            b::ensemble_builder().build(),
            b::ensemble_builder().add(b::fixed_leader{}).add(b::bytes{0x07, 0x02, 0x7F}).build()};
}
