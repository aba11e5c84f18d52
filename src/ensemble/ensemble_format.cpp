#include "ensemble/ensemble_format.h"

#include <array>

namespace hyd {

namespace {
constexpr std::array<profile_layout, 16> layouts{{
    {velocity_id, 4, 2, true},
    {correlation_id, 4, 1, false},
    {echo_intensity_id, 4, 1, false},
    {percent_good_id, 4, 1, false},
    {status_id, 4, 1, false},
    {b5_velocity_id, 1, 2, true},
    {b5_correlation_id, 1, 1, false},
    {b5_echo_intensity_id, 1, 1, false},
    {b5_percent_good_id, 1, 1, false},
    {b5_status_id, 1, 1, false},
    {good_pings_id, 4, 1, false},
    {sum_squared_velocity_id, 4, 4, true},
    {sum_velocity_id, 4, 4, true},
    {b5_good_pings_id, 1, 1, false},
    {b5_sum_squared_velocity_id, 1, 4, true},
    {b5_sum_velocity_id, 1, 4, true},
}};
} // namespace

std::span<const profile_layout> profile_layouts() {
    return layouts;
}

const profile_layout* find_profile_layout(std::uint16_t id) {
    for (const auto& l : layouts)
        if (l.id == id) return &l;
    return nullptr;
}

std::uint16_t ensemble_checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint16_t>(sum);
}

int firmware_version(std::uint8_t major, std::uint8_t minor) {
    return major * 100 + (minor > 100 ? minor - 100 : minor);
}

bool in_serial_family(int version) {
    const int family = version / 100;
    return (family == 8 && version >= 813) || (family == 9 && version >= 913);
}

} // namespace hyd
