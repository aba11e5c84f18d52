// The builder's records are what the reader expects: checked against hand-computed layouts.
#include "ensemble/ensemble_format.h"
#include "support/ensemble_builder.h"

#include <gtest/gtest.h>

namespace hyd {
namespace {

TEST(Format, ChecksumOfTheEmptyEnvelope) {
    const build::bytes r = build::ensemble_builder().build();
    EXPECT_EQ(r, (build::bytes{0x7F, 0x7F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x01}));
}

TEST(Format, FirmwareVersionAndFamily) {
    EXPECT_EQ(firmware_version(1, 60), 160);
    EXPECT_EQ(firmware_version(1, 160), 160);
    EXPECT_EQ(firmware_version(10, 101), 1001);
    struct {
        int version;
        bool family;
    } rows[] = {{812, false}, {813, true}, {899, true},   {900, false}, {912, false},
                {913, true},  {999, true}, {1000, false}, {1813, false}};
    for (auto row : rows) EXPECT_EQ(in_serial_family(row.version), row.family) << row.version;
}

TEST(Builder, LaysOutHeaderTableAndFields) {
    build::fixed_leader f;
    f.cells = 3;
    build::variable_leader v;
    v.ensemble_number = 0x012345;
    const std::vector<std::int32_t> vel{-1, 2, -32768, 32767, 0, 0, 0, 0, 0, 0, 0, 0};
    const build::bytes r =
        build::ensemble_builder().add(f).add(v).profile(velocity_id, vel).build();
    const std::size_t length = 6 + 6 + 59 + 65 + (2 + 24) + 2;
    ASSERT_EQ(r.size(), length + 2);
    EXPECT_EQ(read_u16(r.data() + 2), length);
    EXPECT_EQ(r[5], 3);
    EXPECT_EQ(read_u16(r.data() + 6), 12);
    EXPECT_EQ(read_u16(r.data() + 8), 12 + 59);
    EXPECT_EQ(read_u16(r.data() + 10), 12 + 59 + 65);
    const std::uint8_t* fl = r.data() + 12;
    EXPECT_EQ(fl[2], 9);
    EXPECT_EQ(fl[9], 3);
    EXPECT_EQ(fl[42 + 1], 0x1A);
    const std::uint8_t* vl = r.data() + 12 + 59;
    EXPECT_EQ(read_u16(vl), variable_leader_id);
    EXPECT_EQ(read_u16(vl + 2), 0x2345);
    EXPECT_EQ(vl[11], 0x01);
    const std::uint8_t* p = r.data() + 12 + 59 + 65;
    EXPECT_EQ(read_i16(p + 2), -1);
    EXPECT_EQ(read_i16(p + 6), -32768);
    EXPECT_EQ(ensemble_checksum({r.data(), length}), read_u16(r.data() + length));
}

TEST(Builder, CountsPastSixteenBitsSetByteFour) {
    build::bytes big(70000, 0);
    const build::bytes r = build::ensemble_builder().add(big).build();
    EXPECT_EQ(r[4], 1);
}

TEST(Builder, RejectsLeadersTooSmallForTheirFields) {
    build::fixed_leader f;
    f.size = 40;
    EXPECT_THROW(build::encode(f), std::invalid_argument);
}

} // namespace
} // namespace hyd
