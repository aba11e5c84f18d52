// Layout constants and small rules of the binary ensemble record: sync bytes, data-type IDs, the
// checksum, the firmware version number and little-endian field access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace hyd {

inline constexpr std::uint8_t ensemble_sync_byte = 0x7F;
inline constexpr std::size_t ensemble_header_bytes = 6;    // sync pair, byte count, byte 4, N
inline constexpr std::size_t ensemble_max_record = 10000;  // L + 2, checksum included
inline constexpr std::size_t ensemble_min_record = 8;      // the header plus the checksum
inline constexpr std::uint32_t sync_search_limit = 131072; // reads per attempt to find 0x7F
inline constexpr int long_leader_bytes = 1024;

// Data-type IDs: the u16 at the first byte of each data type.
enum data_type_id : std::uint16_t {
    fixed_leader_id = 0x0000,
    variable_leader_id = 0x0080,
    velocity_id = 0x0100,
    correlation_id = 0x0200,
    echo_intensity_id = 0x0300,
    percent_good_id = 0x0400,
    status_id = 0x0500,
    bottom_track_id = 0x0600,
    good_pings_id = 0x0701,
    sum_squared_velocity_id = 0x0702,
    sum_velocity_id = 0x0703,
    b5_velocity_id = 0x0A00,
    b5_correlation_id = 0x0B00,
    b5_echo_intensity_id = 0x0C00,
    b5_percent_good_id = 0x0D00,
    b5_status_id = 0x0E00,
    b5_good_pings_id = 0x1301,
    b5_sum_squared_velocity_id = 0x1302,
    b5_sum_velocity_id = 0x0207, // not 0x1303, whatever the neighbours suggest
};

// Shape of a depth-cell (profile) data type.
struct profile_layout {
    std::uint16_t id;
    int values_per_cell; // 4 beams or beam 5 alone
    int value_width;     // bytes
    bool is_signed;
};

// The sixteen profile data types, in item order (VEL, COR, ECHO, PER, STATUS, B5_*, GP, SSV, SV,
// B5_GP, B5_SSV, B5_SV); null for any other ID.
std::span<const profile_layout> profile_layouts();
const profile_layout* find_profile_layout(std::uint16_t id);

inline std::uint16_t read_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t read_i16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(read_u16(p));
}
inline std::uint32_t read_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void write_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void write_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The 16-bit sum of bytes, as stored after every ensemble.
std::uint16_t ensemble_checksum(std::span<const std::uint8_t> bytes);
// Copies n bytes to `to` and gives their 16-bit sum: the record is summed while it is copied.
std::uint16_t copy_with_checksum(std::uint8_t* to, const std::uint8_t* from, std::size_t n);

// Firmware version number V = major x 100 + minor, a minor above 100 counting 100 less.
inline int firmware_version(std::uint8_t major, std::uint8_t minor) {
    return major * 100 + (minor > 100 ? minor - 100 : minor);
}

// The firmware family rule for the CPU serial number, error status and pressure fields: V in
// 813-899 or 913-999.
bool in_serial_family(int version);

} // namespace hyd
