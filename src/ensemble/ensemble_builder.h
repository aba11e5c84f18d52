// Builds ensemble records from field values, and damaged byte streams around them. Tests, fuzz
// seeds, benchmarks and `hyd synth` all make their data with it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hyd::build {

using bytes = std::vector<std::uint8_t>;

struct fixed_leader {
    std::uint8_t firmware_major = 9;
    std::uint8_t firmware_minor = 40;
    std::uint16_t config = 0x414A; // 300 kHz, convex, attached, beams down, 20 degrees, 4 beams
    std::uint8_t fake_data = 0;
    std::uint8_t code_elements = 7;
    std::uint8_t beams = 4;
    std::uint8_t cells = 30;
    std::uint16_t pings = 60;
    std::uint16_t cell_length = 100; // cm
    std::uint16_t blank = 88;
    std::uint8_t mode = 1;
    std::uint8_t min_correlation = 64;
    std::uint8_t byte18 = 5; // maximum correlation below V 151, code repetitions from it
    std::uint8_t min_percent_good = 0;
    std::uint16_t max_error_velocity = 2000;
    std::array<std::uint8_t, 3> ping_time{0, 1, 25}; // minutes, seconds, hundredths
    std::uint8_t coordinates = 0x1F;
    std::int16_t head_alignment = 0;
    std::int16_t heading_bias = 0;
    std::uint8_t sensors_used = 0x7D;
    std::uint8_t sensors_available = 0x3D;
    std::uint16_t first_cell = 176; // cm to the middle of cell 1
    std::uint16_t transmit_pulse = 113;
    std::uint8_t ref_min_cell = 1;
    std::uint8_t ref_max_cell = 5;
    std::uint8_t false_target = 50;
    std::uint16_t lag = 49;
    std::array<std::uint8_t, 8> cpu_serial{0x00, 0x1A, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x7E};
    std::size_t size = 59; // bytes including the ID word; at least 50
};

struct variable_leader {
    std::uint32_t ensemble_number = 1; // bits 16-23 go to byte 11
    std::uint8_t year = 26, month = 12, day = 5, hour = 12, minute = 0, second = 0, hundredths = 0;
    std::uint16_t bit_result = 0;
    std::uint16_t sound_speed = 1500;
    std::int16_t depth = 37; // decimetres
    std::uint16_t heading = 0;
    std::int16_t pitch = 0;
    std::int16_t roll = 0;
    std::uint16_t salinity = 35;
    std::int16_t temperature = 1250;
    std::array<std::uint8_t, 3> max_ping_time{0, 1, 30};
    std::uint8_t heading_std = 0, pitch_std = 0, roll_std = 0;
    std::array<std::uint8_t, 8> adc{};
    std::uint32_t error_status = 0;
    std::uint32_t pressure = 0;
    std::uint32_t pressure_variance = 0;
    std::size_t size = 65; // bytes including the ID word; at least 56
};

struct bottom_track {
    std::uint16_t pings = 1;
    std::uint16_t delay = 0;
    std::uint8_t min_correlation = 220, min_amplitude = 30, min_percent_good = 0, mode = 5;
    std::uint16_t max_error_velocity = 1000;
    std::uint16_t search_pings = 0, track_pings = 0;
    std::array<std::uint16_t, 4> range{};
    std::array<std::int16_t, 4> velocity{};
    std::array<std::uint8_t, 4> correlation{}, amplitude{}, percent_good{};
    std::uint16_t ref_min = 20, ref_near = 80, ref_far = 160;
    std::array<std::int16_t, 4> ref_velocity{};
    std::array<std::uint8_t, 4> ref_correlation{}, ref_intensity{}, ref_percent_good{};
    std::uint16_t search_depth = 2000;
    std::array<std::uint8_t, 4> rssi{};
    std::uint8_t gain = 1;
    std::size_t size = 81; // bytes including the ID word; at least 77
};

// Data-type bytes (ID word first) from field values.
bytes encode(const fixed_leader& f);
bytes encode(const variable_leader& v);
bytes encode(const bottom_track& b);
// A profile data type: the ID word, then each value in `width` little-endian bytes.
bytes encode_profile(std::uint16_t id, int width, std::span<const std::int32_t> values);

// Assembles data types into one record: header, offset table, data types in order, two reserved
// bytes and the checksum. The byte count is written as is, so counts past 16 bits set byte 4.
class ensemble_builder {
  public:
    ensemble_builder& add(bytes data_type);
    ensemble_builder& add(const fixed_leader& f) { return add(encode(f)); }
    ensemble_builder& add(const variable_leader& v) { return add(encode(v)); }
    ensemble_builder& add(const bottom_track& b) { return add(encode(b)); }
    // A known profile data type with width and values-per-cell from the format.
    ensemble_builder& profile(std::uint16_t id, std::span<const std::int32_t> values);
    bytes build() const;

  private:
    std::vector<bytes> types_;
};

// A complete, well-formed ensemble: fixed and variable leader, velocity, correlation, echo and
// percent good for `cells` cells (values drawn from seed), bottom track when asked.
bytes sample_ensemble(std::uint32_t ensemble_number, std::uint8_t cells = 30,
                      bool with_bottom = true, std::uint32_t seed = 1);

// Damage for framing tests.
bytes noise(std::size_t count, std::uint32_t seed, bool avoid_sync = true);
bytes with_bad_checksum(bytes record, int delta = 1);
bytes with_byte_count(bytes record, std::uint16_t count); // header offset 2, checksum kept
bytes with_byte4(bytes record, std::uint8_t value);       // header offset 4
bytes truncated(bytes record, std::size_t keep);
bytes concat(std::initializer_list<std::span<const std::uint8_t>> parts);
// Rewrites the record's checksum after edits.
void fix_checksum(bytes& record);

} // namespace hyd::build
