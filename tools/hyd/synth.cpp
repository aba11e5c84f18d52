// hyd synth: a synthetic but plausible deployment, written with the ensemble builder. A moored,
// downward-looking instrument (or, with --upward, one on the sea bed looking up) in a tidal
// channel: a semi-diurnal current with bottom shear and noise, the mooring swinging with the
// flow, a daily temperature cycle, tide in the pressure, bottom track on some ensembles.
// The same arguments give the same bytes: every random number comes from one seeded mt19937.
#include "cli.h"

#include "common/file_stream.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>

namespace hyd::tool {

namespace {

constexpr const char* synth_help =
    "usage: hyd synth OUT [options]\n"
    "\n"
    "Writes a reproducible synthetic deployment to OUT.\n"
    "  --ensembles N      number of ensembles (default 100)\n"
    "  --cells C          depth cells per ensemble, 1-255 (default 30)\n"
    "  --seed S           random seed (default 1)\n"
    "  --interval SEC     seconds between ensembles (default 600)\n"
    "  --bottom-every K   bottom track on every K-th ensemble, 0 for none (default 3)\n"
    "  --beam5            add vertical-beam (beam 5) velocity, correlation, echo and percent good\n"
    "  --big-numbers      start the ensemble numbers at 65,500 so they pass 65,535\n"
    "  --first-number N   first ensemble number, 0-16,777,215 (default 1)\n"
    "  --upward           instrument on the sea bed with its beams pointing up\n";

constexpr double pi = 3.14159265358979323846;
constexpr double tide_period = 12.42 * 3600; // seconds, the principal lunar semi-diurnal tide
constexpr std::int32_t bad_velocity = -32768;

struct options {
    std::int64_t ensembles = 100;
    int cells = 30;
    std::uint32_t seed = 1;
    int interval = 600;
    int bottom_every = 3;
    bool beam5 = false;
    bool upward = false;
    std::uint32_t first_number = 1;
};

// Normal deviates by Box-Muller over the raw mt19937 output, the same on every standard library.
class noise_source {
  public:
    explicit noise_source(std::uint32_t seed) : rng_(seed) {}
    double uniform() { return (rng_() + 0.5) / 4294967296.0; }
    double normal(double sigma) {
        const double u1 = uniform(), u2 = uniform();
        return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * pi * u2);
    }

  private:
    std::mt19937 rng_;
};

template <typename T> T clamp_to(double v, double low, double high) {
    return static_cast<T>(std::lround(std::clamp(v, low, high)));
}

struct calendar_time {
    int year, month, day, hour, minute, second;
};

calendar_time at(std::int64_t seconds) {
    // From 2026-12-05 00:00:00 on.
    static constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    calendar_time t{2026, 12, 5, 0, 0, 0};
    std::int64_t days = seconds / 86400;
    const std::int64_t rest = seconds % 86400;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    while (days > 0) {
        const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
        const int length = month_days[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
        const std::int64_t step = std::min<std::int64_t>(days, length - t.day + 1);
        t.day += static_cast<int>(step);
        days -= step;
        if (t.day > length) {
            t.day = 1;
            if (++t.month > 12) {
                t.month = 1;
                ++t.year;
            }
        }
    }
    return t;
}

build::bytes make_ensemble(const options& o, std::int64_t i, noise_source& rng) {
    const std::int64_t seconds = i * o.interval;
    const double phase = 2 * pi * static_cast<double>(seconds) / tide_period;
    const double day_phase = 2 * pi * static_cast<double>(seconds % 86400) / 86400.0;
    const double elevation = 1.2 * std::cos(phase);    // m
    const double water_depth = 22.0 + elevation;       // m
    const double along = 0.9 * std::sin(phase) + 0.05; // m/s at the surface
    const double across = 0.12 * std::cos(phase);
    const double axis = 60.0 * pi / 180.0; // the channel runs to the east-north-east
    const double east = along * std::sin(axis) + across * std::cos(axis);
    const double north = along * std::cos(axis) - across * std::sin(axis);
    const double vertical = 0.01 * std::sin(2 * phase);

    build::fixed_leader f;
    f.cells = static_cast<std::uint8_t>(o.cells);
    f.config =
        static_cast<std::uint16_t>((o.beam5 ? 0x5000 : 0x4000) | 0x014A | (o.upward ? 0x80 : 0));
    f.cell_length = 100;
    f.first_cell = 176;

    const double transducer = o.upward ? water_depth - 0.5 : 0.8; // m below the surface
    build::variable_leader v;
    const calendar_time t = at(seconds);
    v.ensemble_number = (o.first_number + static_cast<std::uint32_t>(i)) & 0xFFFFFF;
    v.year = static_cast<std::uint8_t>(t.year % 100);
    v.month = static_cast<std::uint8_t>(t.month);
    v.day = static_cast<std::uint8_t>(t.day);
    v.hour = static_cast<std::uint8_t>(t.hour);
    v.minute = static_cast<std::uint8_t>(t.minute);
    v.second = static_cast<std::uint8_t>(t.second);
    v.hundredths = 0;
    v.depth = clamp_to<std::int16_t>(transducer * 10, -32768, 32767);
    const double temperature = 12.5 + 0.8 * std::cos(day_phase) + rng.normal(0.02);
    v.temperature = clamp_to<std::int16_t>(temperature * 100, -32768, 32767);
    v.sound_speed = clamp_to<std::uint16_t>(1449.2 + 4.6 * temperature, 0, 65535);
    // The mooring streams downstream: its heading follows the flow, plus some yaw.
    const double flow = std::atan2(east, north) * 180 / pi;
    const double heading = std::fmod(flow + 180 + rng.normal(4) + 720, 360);
    v.heading = clamp_to<std::uint16_t>(heading * 100, 0, 35999);
    v.pitch =
        clamp_to<std::int16_t>((2.5 * std::sin(phase * 7) + rng.normal(0.8)) * 100, -9000, 9000);
    v.roll =
        clamp_to<std::int16_t>((1.5 * std::cos(phase * 5) + rng.normal(0.8)) * 100, -9000, 9000);
    v.heading_std = clamp_to<std::uint8_t>(20 + rng.normal(3), 0, 255);
    v.pitch_std = clamp_to<std::uint8_t>(8 + rng.normal(2), 0, 255);
    v.roll_std = clamp_to<std::uint8_t>(8 + rng.normal(2), 0, 255);
    v.pressure = clamp_to<std::uint32_t>(transducer * 1000 + rng.normal(2), 0, 4e9); // daPa
    v.pressure_variance = clamp_to<std::uint32_t>(std::abs(rng.normal(15)), 0, 4e9);
    for (std::size_t c = 0; c < v.adc.size(); ++c)
        v.adc[c] = clamp_to<std::uint8_t>(100 + 10 * c + rng.normal(2), 0, 255);

    const std::size_t cells = static_cast<std::size_t>(o.cells);
    std::vector<std::int32_t> velocity(cells * 4), correlation(cells * 4), echo(cells * 4),
        good(cells * 4);
    std::vector<std::int32_t> b5_velocity(cells), b5_correlation(cells), b5_echo(cells),
        b5_good(cells);
    for (std::size_t c = 0; c < cells; ++c) {
        const double range = (f.first_cell + c * f.cell_length) / 100.0; // m from the transducer
        const double depth = o.upward ? transducer - range : transducer + range;
        const double above_bed = water_depth - depth;
        const bool in_water = depth > 0.3 && above_bed > 0.3;
        // One-seventh power law: slow near the bed, full speed at the surface.
        const double shear = in_water ? std::pow(above_bed / water_depth, 1.0 / 7.0) : 0;
        const double components[4] = {east * shear, north * shear, vertical, 0};
        for (std::size_t b = 0; b < 4; ++b) {
            const std::size_t k = c * 4 + b;
            if (!in_water) {
                velocity[k] = bad_velocity;
                correlation[k] = clamp_to<std::int32_t>(25 + rng.normal(4), 0, 255);
                echo[k] = clamp_to<std::int32_t>(60 + rng.normal(4), 0, 255);
                good[k] = 0;
                continue;
            }
            const double sigma = b == 3 ? 0.02 : 0.035;
            velocity[k] =
                clamp_to<std::int32_t>((components[b] + rng.normal(sigma)) * 1000, -32767, 32767);
            correlation[k] = clamp_to<std::int32_t>(125 - 1.5 * c + rng.normal(4), 0, 255);
            echo[k] = clamp_to<std::int32_t>(165 - 2.2 * c + rng.normal(3), 0, 255);
            good[k] = clamp_to<std::int32_t>(100 - std::abs(rng.normal(2 + c * 0.1)), 0, 100);
        }
        if (o.beam5) {
            b5_velocity[c] = in_water ? clamp_to<std::int32_t>((vertical + rng.normal(0.02)) * 1000,
                                                               -32767, 32767)
                                      : bad_velocity;
            b5_correlation[c] = clamp_to<std::int32_t>(in_water ? 130 - c : 25, 0, 255);
            b5_echo[c] = clamp_to<std::int32_t>(in_water ? 170 - 2 * c : 60, 0, 255);
            b5_good[c] = in_water ? 100 : 0;
        }
    }

    build::ensemble_builder b;
    b.add(f).add(v);
    b.profile(velocity_id, velocity);
    b.profile(correlation_id, correlation);
    b.profile(echo_intensity_id, echo);
    b.profile(percent_good_id, good);
    if (o.beam5) {
        b.profile(b5_velocity_id, b5_velocity);
        b.profile(b5_correlation_id, b5_correlation);
        b.profile(b5_echo_intensity_id, b5_echo);
        b.profile(b5_percent_good_id, b5_good);
    }
    if (o.bottom_every > 0 && i % o.bottom_every == 0) {
        build::bottom_track bt;
        const double slant =
            (o.upward ? transducer : water_depth - transducer) / std::cos(20.0 * pi / 180.0);
        for (std::size_t beam = 0; beam < 4; ++beam) {
            bt.range[beam] = clamp_to<std::uint16_t>((slant + rng.normal(0.05)) * 100, 0, 65535);
            bt.velocity[beam] = clamp_to<std::int16_t>(rng.normal(0.01) * 1000, -32767, 32767);
            bt.correlation[beam] = clamp_to<std::uint8_t>(230 + rng.normal(5), 0, 255);
            bt.amplitude[beam] = clamp_to<std::uint8_t>(70 + rng.normal(5), 0, 255);
            bt.percent_good[beam] = 100;
            bt.rssi[beam] = clamp_to<std::uint8_t>(180 + rng.normal(6), 0, 255);
        }
        b.add(bt);
    }
    return b.build();
}

} // namespace

int run_synth(const args& a) {
    if (a.wants_help()) {
        std::fputs(synth_help, stdout);
        return exit_ok;
    }
    options o;
    std::string out;
    bool big_numbers = false, first_given = false;
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        const std::string& arg = a.items[i];
        const auto value = [&](std::int64_t low, std::int64_t high) -> std::optional<std::int64_t> {
            if (i + 1 >= a.items.size()) return std::nullopt;
            return parse_number(a.items[++i], low, high);
        };
        std::optional<std::int64_t> n;
        if (arg == "--ensembles") {
            if (!(n = value(1, 100'000'000)))
                return fail("synth", exit_usage, "--ensembles wants a number from 1 to 100000000");
            o.ensembles = *n;
        } else if (arg == "--cells") {
            if (!(n = value(1, 255))) return fail("synth", exit_usage, "--cells wants 1 to 255");
            o.cells = static_cast<int>(*n);
        } else if (arg == "--seed") {
            if (!(n = value(0, 0xFFFFFFFF)))
                return fail("synth", exit_usage, "--seed wants a number from 0 to 4294967295");
            o.seed = static_cast<std::uint32_t>(*n);
        } else if (arg == "--interval") {
            if (!(n = value(1, 86400)))
                return fail("synth", exit_usage, "--interval wants 1 to 86400 seconds");
            o.interval = static_cast<int>(*n);
        } else if (arg == "--bottom-every") {
            if (!(n = value(0, 1'000'000)))
                return fail("synth", exit_usage, "--bottom-every wants a number from 0 on");
            o.bottom_every = static_cast<int>(*n);
        } else if (arg == "--first-number") {
            if (!(n = value(0, 0xFFFFFF)))
                return fail("synth", exit_usage, "--first-number wants 0 to 16777215");
            o.first_number = static_cast<std::uint32_t>(*n);
            first_given = true;
        } else if (arg == "--beam5") {
            o.beam5 = true;
        } else if (arg == "--upward") {
            o.upward = true;
        } else if (arg == "--big-numbers") {
            big_numbers = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return fail("synth", exit_usage, "unknown option %s (see hyd synth --help)",
                        arg.c_str());
        } else if (out.empty()) {
            out = arg;
        } else {
            return fail("synth", exit_usage, "one OUT file only (see hyd synth --help)");
        }
    }
    if (out.empty()) return fail("synth", exit_usage, "expects OUT (see hyd synth --help)");
    if (big_numbers && first_given)
        return fail("synth", exit_usage, "--big-numbers and --first-number exclude each other");
    if (big_numbers) o.first_number = 65500;

    file_writer stream;
    if (!stream.open(out))
        return fail("synth", exit_io, "cannot create %s: %s", out.c_str(), std::strerror(errno));
    noise_source rng(o.seed);
    for (std::int64_t i = 0; i < o.ensembles; ++i) {
        const build::bytes r = make_ensemble(o, i, rng);
        std::uint32_t done = 0;
        if (failed(stream.write(r.data(), static_cast<std::uint32_t>(r.size()), &done)))
            return fail("synth", exit_io, "cannot write %s: %s", out.c_str(),
                        std::strerror(stream.last_error()));
    }
    if (!stream.close())
        return fail("synth", exit_io, "cannot write %s: %s", out.c_str(), std::strerror(errno));
    return exit_ok;
}

} // namespace hyd::tool
