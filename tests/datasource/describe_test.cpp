// What an ensemble offers a host, from the tables the COM object and the hyd tool share: display
// attributes per item class, what each enumeration lists, descriptions, dimensions and extents.
#include "common/hy_exception.h"
#include "common/memory_stream.h"
#include "datasource/descriptions.h"
#include "datasource/properties.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"

#include <gtest/gtest.h>

namespace hyd {
namespace {

constexpr item_value all = HY_INDEX_ALL;

// Velocity, fixed and variable leader, correlation, bottom track and beam-5 velocity in coordinate
// system `coord`; -1 holds nothing.
struct held {
    explicit held(int coord, std::uint8_t cells = 30) {
        if (coord < 0) return;
        build::fixed_leader f;
        f.cells = cells;
        f.coordinates = static_cast<std::uint8_t>(coord << 3 | 7);
        const std::vector<std::int32_t> v(cells * 4u, 7);
        build::ensemble_builder b;
        b.profile(velocity_id, v).add(f).add(build::variable_leader{}).profile(correlation_id, v);
        b.add(build::bottom_track{}).profile(b5_velocity_id, std::span(v).first(cells));
        memory_stream s(b.build());
        EXPECT_EQ(p.Load(s), s_ok);
    }
    CSNPersist p;
    item_source src{p};
};

struct attr_case {
    std::vector<item_value> items;
    item_value index, sub;
    bool self;
    item_value mask;
    item_point v[9]; // units, absolute min, max, default min, max, bad flags, bad, axis, shift
};

TEST(Attributes, OneRowPerItemClass) {
    constexpr item_point n{-1, -1}, z{0, 0}, u{1, 1}, d{1, -1}, t{14, 14};
    constexpr item_value big = INT32_MAX, small = INT32_MIN, c = -128000, C = 128000;
    // clang-format off
    const attr_case cases[] = {
        {{5000, 5003, 5014, 5020}, all, 0, false, 1, {t, n, n, n, n, z, z, u, z}},
        {{7149, 11000, 11001}, all, 0, false, 8, {t, n, n, n, n, z, z, u, z}},
        {{7000, 7002, 7004, 7100, 7102, 7103, 7114, 7300, 7309, 7500, 7501, 7502, 7506, 7507, 7508, 7514, 7515, 7516, 7521}, all, 0, false, 2, {t, {0, -1}, {65535, -1}, {0, -1}, {16383, -1}, z, z, u, z}},
        {{7001, 7322, 7324}, all, 0, false, 2, {t, {0, -1}, {big, -1}, {0, -1}, {big, -1}, z, z, u, z}},
        {{7323}, all, 0, false, 2, {{20, 14}, {0, -1}, {big, -1}, {0, -1}, {big, -1}, z, z, u, z}},
        {{7115}, all, 0, false, 2, {{2, 14}, {1, -1}, {6400, -1}, {1, -1}, {6400, -1}, z, z, u, z}},
        {{7116}, all, 0, false, 2, {{2, 14}, {0, -1}, {9999, -1}, {0, -1}, {9999, -1}, z, z, u, z}},
        {{7117}, all, 0, false, 2, {t, {0, -1}, {8, -1}, {0, -1}, {8, -1}, z, z, u, z}},
        {{7121}, all, 0, false, 2, {{10, 14}, {1, -1}, {100, -1}, {1, -1}, {100, -1}, z, z, u, z}},
        {{7122}, all, 0, false, 2, {{5, 14}, {0, -1}, {5000, -1}, {0, -1}, {5000, -1}, z, z, u, z}},
        {{7128, 7129}, all, 0, false, 2, {{9, 14}, {0, -1}, {18000, -1}, {0, -1}, {18000, -1}, z, z, u, {-2, 0}}},
        {{7143, 7144, 7148}, all, 0, false, 2, {{2, 14}, {0, -1}, {65535, -1}, {0, -1}, {65535, -1}, z, z, u, z}},
        {{7301}, all, 0, false, 2, {t, {0, -1}, {524288, -1}, {0, -1}, {512, -1}, z, z, u, z}},
        {{7310}, all, 0, false, 2, {{12, 14}, {1400, -1}, {1600, -1}, {1400, -1}, {1600, -1}, z, z, u, z}},
        {{7311}, all, 0, false, 2, {{3, 14}, {0, -1}, {9999, -1}, {0, -1}, {9999, -1}, z, z, u, z}},
        {{7312}, all, 0, false, 2, {{9, 14}, {0, -1}, {36000, -1}, {0, -1}, {36000, -1}, z, z, u, {-2, 0}}},
        {{7313, 7314}, all, 0, false, 2, {{9, 14}, {-5000, -1}, {5000, -1}, {-5000, -1}, {5000, -1}, z, z, u, {-2, 0}}},
        {{7315}, all, 0, false, 2, {{11, 14}, {0, -1}, {40, -1}, {0, -1}, {40, -1}, z, z, u, z}},
        {{7316}, all, 0, false, 2, {{6, 14}, {-600, -1}, {4400, -1}, {-600, -1}, {4400, -1}, z, z, u, {-2, 0}}},
        {{7318}, all, 0, false, 2, {{9, 14}, {0, -1}, {1800, -1}, {0, -1}, {1800, -1}, z, z, u, {-1, 0}}},
        {{7319, 7320}, all, 0, false, 2, {{9, 14}, {0, -1}, {200, -1}, {0, -1}, {200, -1}, z, z, u, {-1, 0}}},
        {{7101, 7147, 7303, 7505, 7524, 7700, 7780, 8000}, all, 0, false, 2, {t, {0, -1}, {255, -1}, {0, -1}, {255, -1}, z, z, u, z}},
        {{12345}, all, 0, true, 2, {t, {0, -1}, {255, -1}, {0, -1}, {255, -1}, z, z, u, z}},
        {{7509}, all, 0, false, 3, {{2, 14}, {c, -1}, {C, -1}, {0, -1}, {4000, -1}, {1, 0}, {0, -1}, {-1, 1}, z}},
        {{7510, 7517}, all, 0, false, 3, {{5, 14}, {-32768, -1}, {32767, -1}, {-8192, -1}, {8191, -1}, {1, 0}, {-32768, -1}, u, z}},
        {{7511, 7512, 7518, 7519, 7523}, all, 0, false, 3, {t, {0, -1}, {255, -1}, {0, -1}, {255, -1}, z, z, u, z}},
        {{7513, 7520}, all, 0, false, 3, {{10, 14}, {0, -1}, {255, -1}, {0, -1}, {255, -1}, {1, 0}, {-32768, -1}, u, z}},
        {{7701, 7801}, all, 0, false, 5, {{5, 2}, {-32768, c}, {32767, C}, {-8192, 0}, {8192, 4000}, {1, 0}, {-32768, 0}, d, z}},
        {{7721, 7741, 7781, 7821, 7841, 7881, 7901, 7961}, all, 0, false, 5, {{0, 2}, {0, c}, {255, C}, {0, 0}, {255, 4000}, z, z, d, z}},
        {{7761, 7861}, all, 0, false, 5, {{10, 2}, {0, c}, {100, C}, {0, 0}, {100, 4000}, z, z, d, z}},
        {{7921, 7981}, all, 0, false, 5, {{5, 2}, {0, c}, {big, C}, {0, 0}, {big, 4000}, z, z, d, z}},
        {{7941, 8001}, all, 0, false, 5, {{5, 2}, {small, c}, {big, C}, {small, 0}, {big, 4000}, z, z, d, z}},
        // Elements: a beam, a depth cell, one value.
        {{7513}, all, 2, true, 2, {{10, 14}, {0, -1}, {255, -1}, {0, -1}, {255, -1}, {1, 0}, {-32768, -1}, u, z}},
        {{7701}, all, 4, true, 3, {{5, 14}, {-32768, -1}, {32767, -1}, {-8192, -1}, {8192, -1}, {1, 0}, {-32768, 0}, d, z}},
        {{7801}, all, 4, true, 2, {{5, 14}, {-32768, -1}, {32767, -1}, {-8192, -1}, {8192, -1}, {1, 0}, {-32768, 0}, d, z}},
        {{7761, 7861}, 1, 0, true, 2, {{10, 14}, {0, -1}, {100, -1}, {0, -1}, {100, -1}, z, z, d, z}},
        {{7741, 7941, 8001}, 1, 0, true, 2, {{0, 14}, {0, -1}, {255, -1}, {0, -1}, {255, -1}, z, z, d, z}},
    };
    // clang-format on
    const held nothing(-1);
    for (const attr_case& c : cases)
        for (const item_value item : c.items) {
            const item_property p =
                make_property(nothing.src, 5000, item, c.index, 6, c.sub, c.self);
            const item_point got[9] = {p.units,     p.abs_min, p.abs_max, p.def_min, p.def_max,
                                       p.bad_flags, p.bad,     p.axis,    p.shift};
            EXPECT_EQ(p.mask, c.mask) << item;
            for (int i = 0; i < 9; ++i) EXPECT_EQ(got[i], c.v[i]) << item << " field " << i;
        }
}

TEST(Groups, RangesAndTheTypesThatListThem) {
    std::string ranges;
    for (item_value sequence = 5000; sequence <= 5020; ++sequence) {
        const auto items = enumerate_items(held(-1).src, sequence, sequence, all, 15);
        ranges +=
            std::to_string(items.front().item) + "-" + std::to_string(items.back().item) + " ";
    }
    EXPECT_EQ(ranges, "7000-7004 7100-7149 7300-7324 7700-7701 7720-7721 7740-7741 7760-7761 "
                      "7780-7781 7500-7524 7800-7801 7820-7821 7840-7841 7860-7861 7880-7881 "
                      "11000-11001 7900-7901 7920-7921 7940-7941 7960-7961 7980-7981 8000-8001 ");
}

std::string shown(const item_property& p) {
    return std::to_string(p.item) + " " + (p.index == all ? "*" : std::to_string(p.index)) + " m" +
           std::to_string(p.mask) + " " + p.description;
}

TEST(Enumeration, CountsAndOrder) {
    const struct {
        bool loaded;
        item_value sequence, item, index, flags;
        std::size_t count;
        const char *first, *last;
    } cases[] = {
        // clang-format off
        {false, 0, all, all, 1, 18, "5000 * m1 Header Data", "5017 * m1 Sum of Velocities"},
        {true, 0, all, all, 1, 8, "5000 * m1 Header Data", "5014 * m1 Derived Data"},
        {true, 5000, 5001, all, 2, 49, "7100 * m2 Fixed Leader ID", "7148 * m2 Transmit lag distance"},
        {true, 5000, 5001, all, 10, 50, "7100 * m2 Fixed Leader ID", "7149 * m8 CPU Board Serial Number"},
        {true, 5003, 5003, all, 4, 1, "7701 * m4 Velocity", "7701 * m4 Velocity"},
        {true, 5003, 5003, all, 6, 2, "7700 * m2 Velocity ID", "7701 * m5 Velocity"},
        {true, 5003, 5003, all, 2, 1, "7700 * m2 Velocity ID", "7700 * m2 Velocity ID"},
        {true, 5008, 7510, 2, 2, 4, "7510 0 m2 To East", "7510 3 m2 Error Vel"},
        {false, 5008, 7510, 2, 2, 4, "7510 0 m2 Beam 1", "7510 3 m2 Beam 4"},
        {true, 5003, 7701, all, 2, 30, "7701 0 m3 546 cm", "7701 29 m3 3446 cm"},
        {false, 5003, 7701, all, 2, 128, "7701 0 m3 Bin 1", "7701 127 m3 Bin 128"},
        {true, 5009, 7801, all, 2, 30, "7801 0 m2 546 cm", "7801 29 m2 3446 cm"},
        {true, 5003, 7701, 2, 2, 4, "7701 -9 m2 To East", "7701 -12 m2 Error Vel"},
        {true, 5009, 7801, 2, 2, 1, "7801 -3 m2 Beam 5", "7801 -3 m2 Beam 5"},
        {false, 5009, 7801, 2, 2, 1, "7801 -3 m2 Beam 1", "7801 -3 m2 Beam 1"},
        {true, 5003, 7701, 2, 4, 0, "", ""},
        {true, 5003, 5003, all, 1, 0, "", ""},
        // clang-format on
    };
    const held loaded(3), nothing(-1);
    for (const auto& c : cases) {
        const std::vector<item_property> got = enumerate_items(
            (c.loaded ? loaded : nothing).src, c.sequence, c.item, c.index, c.flags);
        SCOPED_TRACE(testing::Message() << c.item << " " << c.index << " flags " << c.flags);
        ASSERT_EQ(got.size(), c.count);
        for (const item_property& p : got) EXPECT_EQ(p.sequence, c.sequence);
        EXPECT_EQ(got.empty() ? "" : shown(got.front()), c.first);
        EXPECT_EQ(got.empty() ? "" : shown(got.back()), c.last);
    }
    for (const item_value scalar : {7301, 7700, 5021, 12345})
        EXPECT_THROW(enumerate_items(loaded.src, 5000, scalar, all, 2), CHyException) << scalar;
}

// What a host asks about an item: the five kinds of description (0 to 4), its dimensions (5)
// and the sample of its widest value (6).
std::vector<std::string> ask(const item_source& s, item_value item, item_value index, int kind) {
    item_value cx = 0, cy = 0;
    std::string sample;
    switch (kind) {
    case 0:
        return describe_element(s, item, index);
    case 1:
        return column_headings(s, item);
    case 2:
        return row_headings(s, item, index);
    case 3:
        return value_label(s, item);
    case 4:
        return depth_label(s, item);
    case 5:
        if (failed(item_dimensions(s, item, index, &cx, &cy))) throw_fault(__LINE__);
        return {std::to_string(cx) + "x" + std::to_string(cy)};
    default:
        if (!extent_sample(item, c_library_date_time_format(), &sample)) throw_fault(__LINE__);
        return {sample};
    }
}

TEST(Descriptions, DimensionsAndExtentsByKindAndCoordinateSystem) {
    const struct {
        int coord;
        item_value item, index, kind;
        const char* expected; // "|" between strings, "~" a part of the text; null: the call fails
        std::uint8_t cells = 30;
    } cases[] = {
        {3, 7701, all, 0, "Velocity"},
        {3, 7701, -6, 0, "To North Velocity, 646 cm"},
        {3, 7801, -3, 0, "Beam 5 Beam 5 Velocity, 746 cm"},
        {3, 7701, 1, 0, "Velocity, 646 cm"},
        {3, 7509, 1, 0, "Beam 2 Depth"},
        {2, 7517, 0, 0, "Port->Stbd Layer Velocity"},
        {0, 7701, all, 1, "Beam 1|Beam 2|Beam 3|Beam 4"},
        {1, 7510, all, 1, "Bm1->Bm2|Bm4->Bm3|To Transducer|Error Vel"},
        {2, 7941, all, 1, "Port->Stbd|Aft->Fwd|To Surface|Error Vel"},
        {3, 7921, all, 1, "To East|To North|To Surface|Error Vel"},
        {3, 7801, all, 1, "Beam 5"},
        {3, 7004, all, 1,
         "Data Type #0|Data Type #1|Data Type #2|Data Type #3|Data Type #4|Data Type #5"},
        {3, 7701, all, 2, "546 cm|646 cm|746 cm", 3},
        {3, 7701, 2, 2, "746 cm"},
        {3, 7981, all, 4, "Depth"},
        // clang-format off
        {3, 7509, 4, 0, nullptr}, {3, 7509, -1, 0, nullptr}, {3, 7301, 0, 0, nullptr}, {3, 7701, 30, 0, nullptr}, {3, 7701, 30, 2, nullptr},
        {3, 12345, all, 0, nullptr}, {3, 7301, all, 1, nullptr}, {3, 7301, all, 2, nullptr},
        {3, 7700, all, 3, nullptr}, {3, 7510, all, 4, nullptr}, {-1, 7004, all, 1, nullptr}, {-1, 7701, all, 2, nullptr},
        {3, 12345, all, 5, "1x1"}, {3, 7301, 3, 5, "1x1"}, {3, 7004, 0, 5, "6x1"}, {3, 7701, all, 5, "4x30"}, {3, 7701, 0, 5, "4x1"},
        {3, 7701, -3, 5, "1x1"}, {3, 7801, all, 5, "1x30"}, {3, 7801, 2, 5, "1x1"}, {3, 7510, all, 5, "4x1"}, {3, 7510, 1, 5, "1x1"},
        {-1, 7701, all, 5, nullptr}, {-1, 7004, all, 5, nullptr},
        {-1, 7301, all, 6, "-32768"}, {-1, 7701, all, 6, "-32768"}, {-1, 7001, all, 6, "4294967295"}, {-1, 7324, all, 6, "4294967295"},
        {-1, 7149, all, 6, "AAAAAAAAAAAAAAAA"}, {-1, 7921, all, 6, "2147483648"}, {-1, 8001, all, 6, "2147483648"},
        {-1, 11001, all, 6, "12:59:59.59"}, {-1, 11000, all, 6, "~1999"},
        // clang-format on
    };
    for (const auto& c : cases) {
        const held h(c.coord, c.cells);
        std::string got;
        try {
            for (const std::string& s : ask(h.src, c.item, c.index, c.kind))
                got += (got.empty() ? "" : "|") + s;
        } catch (const CHyException&) {
            got = "(fails)";
        }
        const std::string want = c.expected ? c.expected : "(fails)";
        EXPECT_TRUE(want[0] == '~' ? got.find(want.substr(1)) != std::string::npos : got == want)
            << c.item << " " << c.index << " kind " << c.kind << ": " << got;
    }
    std::string labels; // the value label of every profile item, by its numbers
    for (int i = 0; i < profile_item_count; ++i)
        labels += std::to_string(profile_cell_item(i)) + " " +
                  value_label(held(-1).src, profile_cell_item(i)).at(0) + "|";
    EXPECT_EQ(labels, "7701 Velocity|7721 Correlation|7741 Echo Intensity|7761 Percent Good|7781 "
                      "Status|7801 Velocity|7821 Correlation|7841 Echo Intensity|7861 Percent "
                      "Good|7881 Status|7901 Number of Good Pings|7921 Sum of Squared "
                      "Velocities|7941 Sum of Velocities|7961 Number of Good Pings|7981 Sum of "
                      "Squared Velocities|8001 Sum of Velocities|");
}

} // namespace
} // namespace hyd
