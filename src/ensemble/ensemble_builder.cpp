#include "ensemble/ensemble_builder.h"

#include "ensemble/ensemble_format.h"

#include <algorithm>
#include <random>
#include <stdexcept>

namespace hyd::build {

namespace {

void put_u16(bytes& b, std::size_t at, std::uint32_t v) {
    write_u16(b.data() + at, static_cast<std::uint16_t>(v));
}
void put_time(bytes& b, std::size_t at, const std::array<std::uint8_t, 3>& t) {
    std::copy(t.begin(), t.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}
template <typename T, std::size_t N>
void put_array(bytes& b, std::size_t at, const std::array<T, N>& values) {
    for (std::size_t i = 0; i < N; ++i) {
        if constexpr (sizeof(T) == 1)
            b[at + i] = static_cast<std::uint8_t>(values[i]);
        else
            put_u16(b, at + 2 * i, static_cast<std::uint16_t>(values[i]));
    }
}
bytes sized(std::size_t size, std::size_t minimum, std::uint16_t id) {
    if (size < minimum) throw std::invalid_argument("data type smaller than its fields");
    bytes b(size, 0);
    put_u16(b, 0, id);
    return b;
}

} // namespace

bytes encode(const fixed_leader& f) {
    bytes b = sized(f.size, 50, fixed_leader_id);
    b[2] = f.firmware_major;
    b[3] = f.firmware_minor;
    put_u16(b, 4, f.config);
    b[6] = f.fake_data;
    b[7] = f.code_elements;
    b[8] = f.beams;
    b[9] = f.cells;
    put_u16(b, 10, f.pings);
    put_u16(b, 12, f.cell_length);
    put_u16(b, 14, f.blank);
    b[16] = f.mode;
    b[17] = f.min_correlation;
    b[18] = f.byte18;
    b[19] = f.min_percent_good;
    put_u16(b, 20, f.max_error_velocity);
    put_time(b, 22, f.ping_time);
    b[25] = f.coordinates;
    put_u16(b, 26, static_cast<std::uint16_t>(f.head_alignment));
    put_u16(b, 28, static_cast<std::uint16_t>(f.heading_bias));
    b[30] = f.sensors_used;
    b[31] = f.sensors_available;
    put_u16(b, 32, f.first_cell);
    put_u16(b, 34, f.transmit_pulse);
    b[36] = f.ref_min_cell;
    b[37] = f.ref_max_cell;
    b[38] = f.false_target;
    put_u16(b, 40, f.lag);
    put_array(b, 42, f.cpu_serial);
    return b;
}

bytes encode(const variable_leader& v) {
    bytes b = sized(v.size, 56, variable_leader_id);
    put_u16(b, 2, v.ensemble_number & 0xFFFF);
    b[4] = v.year;
    b[5] = v.month;
    b[6] = v.day;
    b[7] = v.hour;
    b[8] = v.minute;
    b[9] = v.second;
    b[10] = v.hundredths;
    b[11] = static_cast<std::uint8_t>(v.ensemble_number >> 16);
    put_u16(b, 12, v.bit_result);
    put_u16(b, 14, v.sound_speed);
    put_u16(b, 16, static_cast<std::uint16_t>(v.depth));
    put_u16(b, 18, v.heading);
    put_u16(b, 20, static_cast<std::uint16_t>(v.pitch));
    put_u16(b, 22, static_cast<std::uint16_t>(v.roll));
    put_u16(b, 24, v.salinity);
    put_u16(b, 26, static_cast<std::uint16_t>(v.temperature));
    put_time(b, 28, v.max_ping_time);
    b[31] = v.heading_std;
    b[32] = v.pitch_std;
    b[33] = v.roll_std;
    put_array(b, 34, v.adc);
    write_u32(b.data() + 42, v.error_status);
    write_u32(b.data() + 48, v.pressure);
    write_u32(b.data() + 52, v.pressure_variance);
    return b;
}

bytes encode(const bottom_track& t) {
    bytes b = sized(t.size, 77, bottom_track_id);
    put_u16(b, 2, t.pings);
    put_u16(b, 4, t.delay);
    b[6] = t.min_correlation;
    b[7] = t.min_amplitude;
    b[8] = t.min_percent_good;
    b[9] = t.mode;
    put_u16(b, 10, t.max_error_velocity);
    put_u16(b, 12, t.search_pings);
    put_u16(b, 14, t.track_pings);
    put_array(b, 16, t.range);
    put_array(b, 24, t.velocity);
    put_array(b, 32, t.correlation);
    put_array(b, 36, t.amplitude);
    put_array(b, 40, t.percent_good);
    put_u16(b, 44, t.ref_min);
    put_u16(b, 46, t.ref_near);
    put_u16(b, 48, t.ref_far);
    put_array(b, 50, t.ref_velocity);
    put_array(b, 58, t.ref_correlation);
    put_array(b, 62, t.ref_intensity);
    put_array(b, 66, t.ref_percent_good);
    put_u16(b, 70, t.search_depth);
    put_array(b, 72, t.rssi);
    b[76] = t.gain;
    return b;
}

bytes encode_profile(std::uint16_t id, int width, std::span<const std::int32_t> values) {
    bytes b(2 + values.size() * static_cast<std::size_t>(width), 0);
    put_u16(b, 0, id);
    std::size_t at = 2;
    for (std::int32_t v : values)
        for (int i = 0; i < width; ++i)
            b[at++] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
    return b;
}

ensemble_builder& ensemble_builder::add(bytes data_type) {
    types_.push_back(std::move(data_type));
    return *this;
}

ensemble_builder& ensemble_builder::profile(std::uint16_t id,
                                            std::span<const std::int32_t> values) {
    const profile_layout* layout = find_profile_layout(id);
    if (!layout) throw std::invalid_argument("not a profile data type");
    return add(encode_profile(id, layout->value_width, values));
}

bytes ensemble_builder::build() const {
    if (types_.size() > 255) throw std::invalid_argument("at most 255 data types");
    std::size_t length = ensemble_header_bytes + 2 * types_.size();
    for (const bytes& t : types_) length += t.size();
    length += 2; // reserved
    bytes r(length + 2, 0);
    r[0] = r[1] = ensemble_sync_byte;
    put_u16(r, 2, static_cast<std::uint32_t>(length & 0xFFFF));
    r[4] = static_cast<std::uint8_t>(length >> 16);
    r[5] = static_cast<std::uint8_t>(types_.size());
    std::size_t at = ensemble_header_bytes + 2 * types_.size();
    for (std::size_t i = 0; i < types_.size(); ++i) {
        put_u16(r, 6 + 2 * i, static_cast<std::uint32_t>(at));
        std::copy(types_[i].begin(), types_[i].end(), r.begin() + static_cast<std::ptrdiff_t>(at));
        at += types_[i].size();
    }
    fix_checksum(r);
    return r;
}

bytes sample_ensemble(std::uint32_t ensemble_number, std::uint8_t cells, bool with_bottom,
                      std::uint32_t seed) {
    std::mt19937 rng(seed ^ (ensemble_number * 2654435761u));
    fixed_leader f;
    f.cells = cells;
    variable_leader v;
    v.ensemble_number = ensemble_number;
    v.second = static_cast<std::uint8_t>(ensemble_number % 60);
    v.minute = static_cast<std::uint8_t>((ensemble_number / 60) % 60);
    v.heading = static_cast<std::uint16_t>(rng() % 36000);
    ensemble_builder b;
    b.add(f).add(v);
    const std::size_t n = static_cast<std::size_t>(cells) * 4;
    std::vector<std::int32_t> velocity(n), counts(n);
    for (auto& x : velocity) x = static_cast<std::int32_t>(rng() % 2001) - 1000;
    b.profile(velocity_id, velocity);
    for (std::uint16_t id : {correlation_id, echo_intensity_id, percent_good_id}) {
        for (auto& x : counts) x = static_cast<std::int32_t>(rng() % 256);
        b.profile(id, counts);
    }
    if (with_bottom) {
        bottom_track t;
        for (auto& r : t.range) r = static_cast<std::uint16_t>(2000 + rng() % 100);
        b.add(t);
    }
    return b.build();
}

bytes noise(std::size_t count, std::uint32_t seed, bool avoid_sync) {
    std::mt19937 rng(seed);
    bytes b(count);
    for (auto& x : b) {
        do x = static_cast<std::uint8_t>(rng());
        while (avoid_sync && x == ensemble_sync_byte);
    }
    return b;
}

void fix_checksum(bytes& record) {
    const std::size_t body = record.size() - 2;
    put_u16(record, body, ensemble_checksum({record.data(), body}));
}

bytes with_bad_checksum(bytes record, int delta) {
    const std::size_t at = record.size() - 2;
    put_u16(record, at, static_cast<std::uint16_t>(read_u16(record.data() + at) + delta));
    return record;
}

bytes with_byte_count(bytes record, std::uint16_t count) {
    put_u16(record, 2, count);
    return record;
}

bytes with_byte4(bytes record, std::uint8_t value) {
    record[4] = value;
    return record;
}

bytes truncated(bytes record, std::size_t keep) {
    record.resize(std::min(keep, record.size()));
    return record;
}

bytes concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
    bytes out;
    for (auto p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace hyd::build
