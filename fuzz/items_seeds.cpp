// Seeds for the item reads: a few records behind a choice of fifteen reads spread over the items,
// indexes, capacities and kinds; the committed corpus holds the rest.
#include "ensemble/ensemble_builder.h"

#include <vector>

using hyd::build::bytes;

std::vector<bytes> make_seeds() {
    namespace b = hyd::build;
    b::fixed_leader up;
    up.config = 0x41CA, up.firmware_major = 1, up.firmware_minor = 50, up.cells = 3;
    std::vector<bytes> seeds{b::sample_ensemble(1, 4), b::sample_ensemble(70000, 3, false),
                             b::ensemble_builder().add(up).add(b::variable_leader{}).build()};
    for (std::size_t s = 0; s < seeds.size(); ++s) {
        bytes header{15};
        for (std::size_t k = 0; k < 15; ++k)
            header.insert(header.end(),
                          {std::uint8_t(k * 17 + s * 5), std::uint8_t(k * 9 + (k % 3 ? 0 : 0x80)),
                           std::uint8_t(k + s)});
        seeds[s] = b::concat({header, seeds[s]});
    }
    return seeds;
}
