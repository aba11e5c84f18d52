// Item values: every catalogue item against a record whose fields all differ, the firmware and
// family rules at their boundaries, presence rules, profile indexing and profile depths.
#include "common/memory_stream.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace hyd {
namespace {

using build::bytes;
using values = std::vector<item_value>;

constexpr int cells = 30;

// Every field distinct from its neighbours, so a wrong offset or width shows.
build::fixed_leader rich_fixed() {
    build::fixed_leader f;
    f.firmware_major = 9;
    f.firmware_minor = 140; // V 940: every versioned field and the family fields exist
    f.config = 0x5235;
    f.fake_data = 1;
    f.code_elements = 7;
    f.beams = 4;
    f.cells = cells;
    f.pings = 60;
    f.cell_length = 100;
    f.blank = 88;
    f.mode = 11;
    f.min_correlation = 64;
    f.byte18 = 5;
    f.min_percent_good = 25;
    f.max_error_velocity = 2000;
    f.ping_time = {1, 2, 3};
    f.coordinates = 0x1F;
    f.head_alignment = -1234;
    f.heading_bias = 567;
    f.sensors_used = 0x5A;
    f.sensors_available = 0x25;
    f.first_cell = 50;
    f.transmit_pulse = 113;
    f.ref_min_cell = 2;
    f.ref_max_cell = 9;
    f.false_target = 51;
    f.lag = 49;
    return f;
}

build::variable_leader rich_variable() {
    build::variable_leader v;
    v.ensemble_number = 0x012345;
    v.year = 26;
    v.month = 12;
    v.day = 5;
    v.hour = 19;
    v.minute = 8;
    v.second = 7;
    v.hundredths = 6;
    v.bit_result = 0x0102;
    v.sound_speed = 1501;
    v.depth = 37;
    v.heading = 27000;
    v.pitch = -150;
    v.roll = 220;
    v.salinity = 35;
    v.temperature = -125;
    v.max_ping_time = {2, 3, 4};
    v.heading_std = 31;
    v.pitch_std = 32;
    v.roll_std = 33;
    v.adc = {10, 11, 12, 13, 14, 15, 16, 17};
    v.error_status = 0xDEADBEEF;
    v.pressure = 123456;
    v.pressure_variance = 789;
    return v;
}

build::bottom_track rich_bottom() {
    build::bottom_track t;
    t.pings = 3;
    t.delay = 4;
    t.min_correlation = 220;
    t.min_amplitude = 30;
    t.min_percent_good = 44;
    t.mode = 5;
    t.max_error_velocity = 1000;
    t.search_pings = 6;
    t.track_pings = 7;
    t.range = {2001, 2002, 2003, 2004};
    t.velocity = {-11, 12, -13, 14};
    t.correlation = {21, 22, 23, 24};
    t.amplitude = {31, 32, 33, 34};
    t.percent_good = {41, 42, 43, 44};
    t.ref_min = 20;
    t.ref_near = 80;
    t.ref_far = 160;
    t.ref_velocity = {-51, 52, -53, 54};
    t.ref_correlation = {61, 62, 63, 64};
    t.ref_intensity = {71, 72, 73, 74};
    t.ref_percent_good = {81, 82, 83, 84};
    t.search_depth = 2500;
    t.rssi = {91, 92, 93, 94};
    t.gain = 1;
    return t;
}

// Value k of the rich record's profiles: distinct per type and signed where the type is.
std::int32_t profile_value(int type, int k) {
    const profile_layout& l = profile_layouts()[static_cast<std::size_t>(type)];
    if (l.value_width == 1) return (k * 7 + type) % 256;
    if (l.value_width == 2) return (k % 2 ? -1 : 1) * (k * 10 + type);
    return (k % 2 ? -1 : 1) * (100000 * (type + 1) + k);
}

struct record_options {
    build::fixed_leader fixed = rich_fixed();
    build::variable_leader variable = rich_variable();
    bool with_fixed = true;
    bool with_variable = true;
    bool with_bottom = true;
    bool with_profiles = true;
};

bytes make_record(const record_options& o) {
    build::ensemble_builder b;
    if (o.with_fixed) b.add(o.fixed);
    if (o.with_variable) b.add(o.variable);
    if (o.with_profiles) {
        int type = 0;
        for (const profile_layout& l : profile_layouts()) {
            std::vector<std::int32_t> v(
                static_cast<std::size_t>(o.fixed.cells * l.values_per_cell));
            for (std::size_t k = 0; k < v.size(); ++k)
                v[k] = profile_value(type, static_cast<int>(k));
            b.profile(l.id, v);
            ++type;
        }
    }
    if (o.with_bottom) b.add(rich_bottom());
    return b.build();
}

CSNPersist& hold(CSNPersist& p, const bytes& record) {
    memory_stream s(record);
    EXPECT_TRUE(succeeded(p.Load(s)));
    return p;
}

struct read_result {
    hresult hr;
    values got;
    item_value actual;
};

read_result read(const CSNBasePersist& p, item_value item, item_value index = HY_INDEX_ALL,
                 item_value max = 8) {
    values v(static_cast<std::size_t>(max), -777);
    item_value actual = -1;
    const hresult hr = get_long(p, item, index, v.data(), max, &actual);
    if (actual >= 0 && actual <= max) v.resize(static_cast<std::size_t>(actual));
    return {hr, v, actual};
}

// --- the catalogue -----------------------------------------------------------------------------

struct ItemCase {
    item_value item;
    values expected;
    item_value index = HY_INDEX_ALL;
    item_value max = 8;
};

void PrintTo(const ItemCase& c, std::ostream* os) {
    *os << c.item << " index " << c.index << " cMax " << c.max;
}

class Catalogue : public ::testing::TestWithParam<ItemCase> {};

TEST_P(Catalogue, ValueOfTheRichRecord) {
    static const bytes record = make_record({});
    CSNPersist p;
    hold(p, record);
    const ItemCase& c = GetParam();
    const read_result r = read(p, c.item, c.index, c.max);
    EXPECT_EQ(r.hr, s_ok);
    EXPECT_EQ(r.got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Items, Catalogue,
    ::testing::Values(
        // Header: 6 header bytes, 19 table entries, the fixed leader (59 bytes) right after the
        // table.
        ItemCase{7000, {32639}}, ItemCase{7003, {19}}, ItemCase{7004, {44}, HY_INDEX_ALL, 1},
        ItemCase{7004, {44, 103}, 0, 2},
        // Fixed leader.
        ItemCase{7100, {0}}, ItemCase{7101, {940}}, ItemCase{7102, {0x5235}},
        ItemCase{7103, {2400}}, ItemCase{7104, {0}}, ItemCase{7105, {4}}, ItemCase{7106, {0}},
        ItemCase{7107, {0}}, ItemCase{7108, {30}}, ItemCase{7109, {5}}, ItemCase{7110, {1}},
        ItemCase{7111, {7}}, ItemCase{7112, {4}}, ItemCase{7113, {cells}}, ItemCase{7114, {60}},
        ItemCase{7115, {100}}, ItemCase{7116, {88}}, ItemCase{7117, {11}}, ItemCase{7118, {64}},
        ItemCase{7119, {0}}, ItemCase{7120, {5}}, ItemCase{7121, {25}}, ItemCase{7122, {2000}},
        ItemCase{7123, {6203}}, ItemCase{7124, {3}}, ItemCase{7125, {1}}, ItemCase{7126, {1}},
        ItemCase{7127, {1}}, ItemCase{7128, {-1234}}, ItemCase{7129, {567}},
        // sensors used 0x5A = 101 1010, available 0x25 = 10 0101
        ItemCase{7130, {1}}, ItemCase{7131, {0}}, ItemCase{7132, {1}}, ItemCase{7133, {1}},
        ItemCase{7134, {0}}, ItemCase{7135, {1}}, ItemCase{7136, {0}}, ItemCase{7137, {1}},
        ItemCase{7138, {0}}, ItemCase{7139, {0}}, ItemCase{7140, {1}}, ItemCase{7141, {0}},
        ItemCase{7142, {1}}, ItemCase{7143, {50}}, ItemCase{7144, {113}}, ItemCase{7145, {2}},
        ItemCase{7146, {9}}, ItemCase{7147, {51}}, ItemCase{7148, {49}},
        // Variable leader.
        ItemCase{7300, {0x80}}, ItemCase{7301, {0x012345}}, ItemCase{7302, {26}},
        ItemCase{7303, {12}}, ItemCase{7304, {5}}, ItemCase{7305, {19}}, ItemCase{7306, {8}},
        ItemCase{7307, {7}}, ItemCase{7308, {6}}, ItemCase{7309, {0x0102}}, ItemCase{7310, {1501}},
        ItemCase{7311, {37}}, ItemCase{7312, {27000}}, ItemCase{7313, {-150}},
        ItemCase{7314, {220}}, ItemCase{7315, {35}}, ItemCase{7316, {-125}},
        ItemCase{7317, {(2 * 60 + 3) * 100 + 4}}, ItemCase{7318, {31}}, ItemCase{7319, {32}},
        ItemCase{7320, {33}}, ItemCase{7321, {10, 11, 12, 13, 14, 15, 16, 17}, HY_INDEX_ALL, 8},
        ItemCase{7321, {10, 11, 12}, 5, 3},
        ItemCase{7322, {static_cast<item_value>(static_cast<std::int32_t>(0xDEADBEEF))}},
        ItemCase{7323, {123456}}, ItemCase{7324, {789}},
        // Bottom track, per-beam items by beam and all together.
        ItemCase{7500, {0x600}}, ItemCase{7501, {3}}, ItemCase{7502, {4}}, ItemCase{7503, {220}},
        ItemCase{7504, {30}}, ItemCase{7505, {5}}, ItemCase{7506, {1000}}, ItemCase{7507, {6}},
        ItemCase{7508, {7}}, ItemCase{7509, {2001, 2002, 2003, 2004}}, ItemCase{7509, {2003}, 2},
        ItemCase{7510, {-11, 12, -13, 14}}, ItemCase{7510, {-13}, 2},
        ItemCase{7510, {-11, 12}, HY_INDEX_ALL, 2}, ItemCase{7511, {21, 22, 23, 24}},
        ItemCase{7511, {24}, 3}, ItemCase{7512, {31, 32, 33, 34}}, ItemCase{7512, {31}, 0},
        ItemCase{7513, {41, 42, 43, 44}}, ItemCase{7514, {20}}, ItemCase{7515, {80}},
        ItemCase{7516, {160}}, ItemCase{7517, {-51, 52, -53, 54}}, ItemCase{7517, {52}, 1},
        ItemCase{7518, {61, 62, 63, 64}}, ItemCase{7519, {71, 72, 73, 74}},
        ItemCase{7520, {81, 82, 83, 84}}, ItemCase{7521, {2500}}, ItemCase{7522, {44}},
        ItemCase{7523, {91, 92, 93, 94}}, ItemCase{7523, {93}, 2}, ItemCase{7524, {1}},
        // Profile IDs, and one cell of a four-beam, a beam-5 and a 32-bit type.
        ItemCase{7700, {0x0100}}, ItemCase{7720, {0x0200}}, ItemCase{7740, {0x0300}},
        ItemCase{7760, {0x0400}}, ItemCase{7780, {0x0500}}, ItemCase{7800, {0x0A00}},
        ItemCase{7820, {0x0B00}}, ItemCase{7840, {0x0C00}}, ItemCase{7860, {0x0D00}},
        ItemCase{7880, {0x0E00}}, ItemCase{7900, {0x0701}}, ItemCase{7920, {0x0702}},
        ItemCase{7940, {0x0703}}, ItemCase{7960, {0x1301}}, ItemCase{7980, {0x1302}},
        ItemCase{8000, {0x0207}},
        ItemCase{
            7701,
            {profile_value(0, 4), profile_value(0, 5), profile_value(0, 6), profile_value(0, 7)},
            1},
        ItemCase{7801, {profile_value(5, 3)}, 3},
        ItemCase{7941, {profile_value(12, 8), profile_value(12, 9)}, 2, 2},
        ItemCase{8001, {profile_value(15, 29)}, -30}));

TEST(Catalogue, HeaderAddressAndByteCountDescribeTheHeldRecord) {
    const bytes record = make_record({});
    CSNPersist p;
    hold(p, record);
    std::uint32_t size = 0;
    const std::uint8_t* held = p.GetBuffer(&size);
    EXPECT_EQ(read(p, 7001).got, values{static_cast<item_value>(static_cast<std::uint32_t>(
                                     reinterpret_cast<std::uintptr_t>(held)))});
    EXPECT_EQ(read(p, 7002).got, values{static_cast<item_value>(size - 2)});
}

TEST(Catalogue, EveryListedItemAnswersAndNothingElseDoes) {
    const bytes record = make_record({});
    CSNPersist p;
    hold(p, record);
    std::vector<bool> listed(12000, false);
    for (item_value id : long_items()) {
        listed[static_cast<std::size_t>(id)] = true;
        EXPECT_TRUE(succeeded(read(p, id, 0).hr)) << id;
    }
    EXPECT_EQ(long_items().size(), 5u + 49u + 25u + 25u + 32u);
    for (item_value id = 6990; id < 11010; ++id) {
        if (listed[static_cast<std::size_t>(id)]) continue;
        const read_result r = read(p, id, 0);
        EXPECT_EQ(r.hr, e_invalidarg) << id;
        EXPECT_EQ(r.actual, 1) << id;
    }
}

// --- firmware version rules --------------------------------------------------------------------

struct VersionCase {
    std::uint8_t major, minor;
    item_value item;
    item_value expected;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << "firmware " << int(c.major) << "." << int(c.minor) << " item " << c.item;
}

class FirmwareRule : public ::testing::TestWithParam<VersionCase> {};

TEST_P(FirmwareRule, FieldExistsFromItsVersion) {
    const VersionCase& c = GetParam();
    record_options o;
    o.fixed.firmware_major = c.major;
    o.fixed.firmware_minor = c.minor;
    CSNPersist p;
    hold(p, make_record(o));
    const read_result r = read(p, c.item, HY_INDEX_ALL, 1);
    EXPECT_EQ(r.hr, s_ok);
    EXPECT_EQ(r.got, values{c.expected});
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FirmwareRule,
    ::testing::Values(
        VersionCase{1, 60, 7101, 160}, VersionCase{1, 160, 7101, 160}, VersionCase{1, 50, 7111, 0},
        VersionCase{1, 51, 7111, 7}, VersionCase{1, 50, 7119, 5}, VersionCase{1, 51, 7119, 0},
        VersionCase{1, 50, 7120, 0}, VersionCase{1, 51, 7120, 5},
        VersionCase{1, 53, 7124, (0x1F >> 2) & 3}, VersionCase{1, 54, 7124, (0x1F >> 3) & 3},
        VersionCase{1, 53, 7125, 0}, VersionCase{1, 54, 7125, 1}, VersionCase{1, 50, 7143, 0},
        VersionCase{1, 51, 7143, 50}, VersionCase{1, 50, 7144, 0}, VersionCase{1, 51, 7144, 113},
        VersionCase{1, 99, 7145, 0}, VersionCase{2, 0, 7145, 2}, VersionCase{1, 99, 7146, 0},
        VersionCase{2, 0, 7146, 9}, VersionCase{1, 99, 7147, 0}, VersionCase{2, 0, 7147, 51},
        VersionCase{2, 13, 7148, 0}, VersionCase{2, 14, 7148, 49}, VersionCase{1, 50, 7317, 0},
        VersionCase{1, 51, 7317, 12304}, VersionCase{2, 16, 7318, 0}, VersionCase{2, 17, 7318, 31},
        VersionCase{2, 16, 7320, 0}, VersionCase{2, 17, 7320, 33}, VersionCase{2, 76, 7301, 0x2345},
        VersionCase{2, 77, 7301, 0x012345}, VersionCase{2, 76, 7321, 0},
        VersionCase{2, 77, 7321, 10}, VersionCase{1, 53, 7521, 0}, VersionCase{1, 54, 7521, 2500},
        VersionCase{3, 4, 7505, 0}, VersionCase{3, 5, 7505, 5},
        // The family rule: 813-899 and 913-999 only.
        VersionCase{8, 12, 7322, 0}, VersionCase{8, 13, 7323, 123456},
        VersionCase{8, 99, 7324, 789}, VersionCase{9, 12, 7323, 0},
        VersionCase{9, 13, 7323, 123456}, VersionCase{9, 99, 7323, 123456},
        VersionCase{10, 0, 7323, 0}, VersionCase{10, 13, 7324, 0}));

TEST(FirmwareRule, AdcBelowItsVersionWritesZerosUpToCMax) {
    record_options o;
    o.fixed.firmware_major = 2;
    o.fixed.firmware_minor = 76;
    CSNPersist p;
    hold(p, make_record(o));
    const read_result r = read(p, 7321, HY_INDEX_ALL, 3);
    EXPECT_EQ(r.hr, s_ok);
    EXPECT_EQ(r.got, (values{0, 0, 0}));
}

struct ConfigCase {
    std::uint16_t config;
    item_value item;
    item_value expected;
};

class ConfigWord : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigWord, Conversion) {
    const ConfigCase& c = GetParam();
    record_options o;
    o.fixed.config = c.config;
    CSNPersist p;
    hold(p, make_record(o));
    EXPECT_EQ(read(p, c.item).got, values{c.expected}) << std::hex << c.config;
}

INSTANTIATE_TEST_SUITE_P(
    Bits, ConfigWord,
    ::testing::Values(ConfigCase{0x0000, 7103, 75}, ConfigCase{0x0004, 7103, 1200},
                      ConfigCase{0x0007, 7103, 9600}, ConfigCase{0x0008, 7104, 1},
                      ConfigCase{0x0000, 7105, 1}, ConfigCase{0x0020, 7105, 3},
                      ConfigCase{0x0040, 7106, 1}, ConfigCase{0x0080, 7107, 1},
                      ConfigCase{0x0000, 7108, 15}, ConfigCase{0x0100, 7108, 20},
                      ConfigCase{0x0200, 7108, 30}, ConfigCase{0x0300, 7108, 30},
                      ConfigCase{0xF000, 7109, 15}, ConfigCase{0x0C00, 7109, 0}));

// --- presence and argument rules ---------------------------------------------------------------

struct PresenceCase {
    std::string name;
    record_options options;
    item_value item;
    item_value index;
    hresult hr;
    item_value actual;
    values got;
};

void PrintTo(const PresenceCase& c, std::ostream* os) {
    *os << c.name;
}

class Presence : public ::testing::TestWithParam<PresenceCase> {};

TEST_P(Presence, ResultCountAndValues) {
    const PresenceCase& c = GetParam();
    CSNPersist p;
    hold(p, make_record(c.options));
    const read_result r = read(p, c.item, c.index, 3);
    EXPECT_EQ(r.hr, c.hr);
    EXPECT_EQ(r.actual, c.actual);
    EXPECT_EQ(r.got, c.got);
}

record_options without(bool record_options::*member) {
    record_options o;
    o.*member = false;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Presence,
    ::testing::Values(
        PresenceCase{"NoBottomTrackZerosForBottomItems",
                     without(&record_options::with_bottom),
                     7501,
                     0,
                     s_false,
                     3,
                     {0, 0, 0}},
        PresenceCase{"NoBottomTrackLeadersStillRead",
                     without(&record_options::with_bottom),
                     7113,
                     0,
                     s_ok,
                     1,
                     {cells}},
        PresenceCase{
            "NoFixedLeader", without(&record_options::with_fixed), 7301, 0, s_false, 3, {0, 0, 0}},
        PresenceCase{"NoVariableLeader",
                     without(&record_options::with_variable),
                     7113,
                     0,
                     s_false,
                     3,
                     {0, 0, 0}},
        PresenceCase{"NoLeaderEvenForUnknownItems",
                     without(&record_options::with_variable),
                     9999,
                     0,
                     s_false,
                     3,
                     {0, 0, 0}},
        PresenceCase{
            "ProfileIdAbsent", without(&record_options::with_profiles), 7700, 0, s_false, 0, {}},
        PresenceCase{
            "ProfileCellAbsent", without(&record_options::with_profiles), 7701, 0, s_false, 0, {}},
        PresenceCase{"TextItemSerial", {}, 7149, 0, e_invalidarg, 1, {-777}},
        PresenceCase{"TextItemDate", {}, 11000, 0, e_invalidarg, 1, {-777}},
        PresenceCase{"TextItemTime", {}, 11001, 0, e_invalidarg, 1, {-777}},
        PresenceCase{"BeamFour", {}, 7510, 4, e_invalidarg, 0, {}},
        PresenceCase{"BeamMinusOne", {}, 7510, -1, e_invalidarg, 0, {}},
        PresenceCase{"SingleValuedItemIgnoresIndex", {}, 7113, -5, s_ok, 1, {cells}}));

TEST(Arguments, RejectedBeforeAnythingElse) {
    CSNPersist empty;
    item_value v[4]{};
    item_value actual = 42;
    EXPECT_EQ(get_long(empty, 7000, 0, nullptr, 4, &actual), e_invalidarg);
    EXPECT_EQ(get_long(empty, 7000, 0, v, 0, &actual), e_invalidarg);
    EXPECT_EQ(get_long(empty, 7000, 0, v, -1, &actual), e_invalidarg);
    EXPECT_EQ(get_long(empty, 7000, 0, v, 4, nullptr), e_invalidarg);
    EXPECT_EQ(actual, 42);
    item_point pt[4]{};
    EXPECT_EQ(get_point(empty, 7701, 0, nullptr, 4, &actual), e_invalidarg);
    EXPECT_EQ(get_point(empty, 7701, 0, pt, 0, &actual), e_invalidarg);
    EXPECT_EQ(get_point(empty, 7701, 0, pt, 4, nullptr), e_invalidarg);
}

TEST(Arguments, NothingHeldFails) {
    CSNPersist empty;
    item_value v[4]{};
    item_point pt[4]{};
    item_value actual = 42;
    EXPECT_EQ(get_long(empty, 7000, 0, v, 4, &actual), e_fail);
    EXPECT_EQ(get_long(empty, 9999, 0, v, 4, &actual), e_fail);
    EXPECT_EQ(get_point(empty, 7701, HY_INDEX_ALL, pt, 4, &actual), e_fail);
    EXPECT_EQ(actual, 0);
    // A failed load leaves nothing held either.
    memory_stream s(bytes{0x7F, 0x7F, 0xFF, 0xFF, 0x00});
    EXPECT_EQ(empty.Load(s), HY_E_BADENSEMBLE);
    EXPECT_EQ(get_long(empty, 7000, 0, v, 4, &actual), e_fail);
}

TEST(Arguments, RecordKeptAfterABadChecksumIsRead) {
    CSNPersist p;
    memory_stream s(build::with_bad_checksum(make_record({})));
    EXPECT_EQ(p.Load(s), HY_E_BADENSEMBLE);
    EXPECT_EQ(read(p, 7301).got, values{0x012345});
}

// --- profile indexing --------------------------------------------------------------------------

struct IndexCase {
    item_value item;
    item_value index;
    item_value max;
    hresult hr;
    std::vector<int> ks; // value numbers expected, in order
};

void PrintTo(const IndexCase& c, std::ostream* os) {
    *os << c.item << " index " << c.index << " cMax " << c.max;
}

class ProfileIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(ProfileIndex, SelectsValues) {
    static const bytes record = make_record({});
    CSNPersist p;
    hold(p, record);
    const IndexCase& c = GetParam();
    const int type = profile_item_index(c.item, true);
    values expected;
    for (int k : c.ks) expected.push_back(profile_value(type, k));
    const read_result r = read(p, c.item, c.index, c.max);
    EXPECT_EQ(r.hr, c.hr);
    EXPECT_EQ(r.got, expected);
}

constexpr item_value vel = 7701, b5_vel = 7801, ssv = 7921;

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileIndex,
    ::testing::Values(
        IndexCase{vel, 0, 8, s_ok, {0, 1, 2, 3}}, IndexCase{vel, 29, 8, s_ok, {116, 117, 118, 119}},
        IndexCase{vel, 29, 2, s_ok, {116, 117}}, IndexCase{vel, 30, 8, s_false, {}},
        IndexCase{vel, 0x7FFFFFFF, 8, s_false, {}}, IndexCase{vel, -1, 8, s_ok, {0}},
        IndexCase{vel, -2, 8, s_ok, {1}}, IndexCase{vel, -120, 8, s_ok, {119}},
        IndexCase{vel, -121, 8, s_false, {}}, IndexCase{vel, HY_INDEX_ALL + 1, 8, s_false, {}},
        IndexCase{vel, HY_INDEX_ALL, 8, s_false, {}}, IndexCase{b5_vel, 3, 8, s_ok, {3}},
        IndexCase{b5_vel, 29, 8, s_ok, {29}}, IndexCase{b5_vel, 30, 8, s_false, {}},
        IndexCase{b5_vel, -30, 8, s_ok, {29}}, IndexCase{b5_vel, -31, 8, s_false, {}},
        IndexCase{ssv, 1, 8, s_ok, {4, 5, 6, 7}}, IndexCase{7721, 2, 8, s_ok, {8, 9, 10, 11}},
        IndexCase{8001, -5, 8, s_ok, {4}}));

TEST(ProfileIndex, ShortProfileIsAbsent) {
    // The fixed leader claims 30 cells; the velocity type holds 29.
    build::ensemble_builder b;
    b.add(rich_fixed()).add(rich_variable());
    std::vector<std::int32_t> v(29 * 4, 1);
    b.profile(velocity_id, v);
    CSNPersist p;
    hold(p, b.build());
    EXPECT_EQ(read(p, 7701, 0).hr, s_false);
    EXPECT_EQ(read(p, 7700).got, values{0x100}); // the ID word itself is still there
    item_point pt[4];
    item_value actual = -1;
    EXPECT_EQ(get_point(p, 7701, HY_INDEX_ALL, pt, 4, &actual), s_false);
    EXPECT_EQ(actual, 0);
}

TEST(ProfileIndex, SumOfVelocitiesOfBeamFiveIsUnder0207Only) {
    build::ensemble_builder b;
    b.add(rich_fixed()).add(rich_variable());
    b.add(build::encode_profile(0x1303, 4, std::vector<std::int32_t>(cells, 5)));
    CSNPersist p;
    hold(p, b.build());
    EXPECT_EQ(read(p, 8000).hr, s_false);
    EXPECT_EQ(read(p, 8001, 0).hr, s_false);
}

// --- points ------------------------------------------------------------------------------------

std::vector<item_point> points(const CSNBasePersist& p, item_value item, item_value index,
                               item_value max, hresult expected_hr = s_ok) {
    std::vector<item_point> pts(static_cast<std::size_t>(max), item_point{-1, -1});
    item_value actual = -1;
    EXPECT_EQ(get_point(p, item, index, pts.data(), max, &actual), expected_hr);
    pts.resize(static_cast<std::size_t>(actual));
    return pts;
}

std::vector<item_value> depths(const std::vector<item_point>& pts) {
    std::vector<item_value> y;
    for (const auto& pt : pts) y.push_back(pt.y);
    return y;
}

TEST(Points, DownwardAndUpwardBeams) {
    // Z = 37 dm, D1 = 50 cm, Lc = 100 cm.
    record_options o;
    o.fixed.config = 0x4000;
    CSNPersist down;
    hold(down, make_record(o));
    const auto pts = points(down, vel, HY_INDEX_ALL, 8);
    EXPECT_EQ(depths(pts), (values{420, 420, 420, 420, 520, 520, 520, 520}));
    for (int k = 0; k < 8; ++k) EXPECT_EQ(pts[static_cast<std::size_t>(k)].x, profile_value(0, k));

    o.fixed.config = 0x4080;
    CSNPersist up;
    hold(up, make_record(o));
    EXPECT_EQ(depths(points(up, vel, HY_INDEX_ALL, 8)),
              (values{320, 320, 320, 320, 220, 220, 220, 220}));
}

TEST(Points, IndexIsTheFirstValueAndEndIsNotAnError) {
    CSNPersist p;
    hold(p, make_record({}));
    const auto pts = points(p, vel, 5, 3); // values 5, 6, 7: cell 1
    ASSERT_EQ(pts.size(), 3u);
    EXPECT_EQ(pts[0].x, profile_value(0, 5));
    EXPECT_EQ(depths(pts), (values{520, 520, 520}));
    EXPECT_EQ(points(p, vel, 118, 8).size(), 2u);
    EXPECT_TRUE(points(p, vel, 120, 8).empty());
    EXPECT_TRUE(points(p, vel, 0x7FFFFFFF, 8).empty());
    EXPECT_EQ(points(p, vel, HY_INDEX_ALL, 1000).size(), 120u);
    // Beam 5: one value per cell, so each point is a new cell.
    EXPECT_EQ(depths(points(p, b5_vel, 28, 8)), (values{37 * 10 + 50 + 2800, 37 * 10 + 50 + 2900}));
}

TEST(Points, FirstCellDistanceOnlyFromVersion151) {
    record_options o;
    o.fixed.firmware_major = 1;
    o.fixed.firmware_minor = 50;
    CSNPersist p;
    hold(p, make_record(o));
    EXPECT_EQ(depths(points(p, b5_vel, 0, 2)), (values{370, 470}));
}

TEST(Points, Failures) {
    CSNPersist p;
    hold(p, make_record({}));
    points(p, 7700, 0, 4, e_invalidarg); // an *_ID item
    points(p, 7510, 0, 4, e_invalidarg);
    points(p, 7702, 0, 4, e_invalidarg);
    points(p, vel, -1, 4, e_invalidarg);

    CSNPersist no_profiles;
    hold(no_profiles, make_record(without(&record_options::with_profiles)));
    points(no_profiles, vel, HY_INDEX_ALL, 4, s_false);

    CSNPersist no_variable;
    hold(no_variable, make_record(without(&record_options::with_variable)));
    points(no_variable, vel, HY_INDEX_ALL, 4, e_fail);
    CSNPersist no_fixed;
    hold(no_fixed, make_record(without(&record_options::with_fixed)));
    points(no_fixed, vel, HY_INDEX_ALL, 4, e_fail);
}

} // namespace
} // namespace hyd
