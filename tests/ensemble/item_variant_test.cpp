// Variant access: the element type and shape of every item with the catalogue's values, the
// presence, version and range rules, and the column labels by coordinate system.
#include "common/memory_stream.h"
#include "common/string_table.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/item_values.h"
#include "ensemble/item_variant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace hyd {
namespace {

using vt = variant_type;
using ints = std::vector<item_value>;
constexpr int cells = 5;

struct shape {
    bool fixed = true, variable = true, bottom = true, profiles = true;
    std::uint8_t major = 9, minor = 40, coordinates = 0x1F, beams = 3;
};

// A record of the given shape; no beam-5 status; profile values of either sign.
struct held {
    CSNPersist p;
    explicit held(const shape& s) {
        build::fixed_leader f;
        f.firmware_major = s.major;
        f.firmware_minor = s.minor;
        f.coordinates = s.coordinates;
        f.beams = s.beams;
        f.cells = cells;
        build::variable_leader v;
        v.error_status = 0xDEADBEEF; // unsigned, beyond the signed range
        build::ensemble_builder b;
        if (s.fixed) b.add(f);
        if (s.variable) b.add(v);
        if (s.bottom) b.add(build::bottom_track{});
        for (const profile_layout& l : profile_layouts()) {
            std::vector<std::int32_t> values(std::size_t(cells * l.values_per_cell));
            for (std::size_t k = 0; k < values.size(); ++k)
                values[k] = l.value_width == 1 ? int(k) * 7 + l.id % 9 : (k % 2 ? -1 : 1) * int(k);
            if (s.profiles && l.id != b5_status_id) b.profile(l.id, values);
        }
        memory_stream m(b.build());
        EXPECT_TRUE(succeeded(p.Load(m)));
    }
};

item_variant variant(const CSNBasePersist& p, item_value item, hresult want = s_ok) {
    item_variant v;
    EXPECT_EQ(get_item_variant(p, item, &v), want) << item;
    return v;
}

TEST(ItemVariant, LeaderAndBottomItemsHaveTheirTypeAndTheCatalogueValues) {
    // Every leader and bottom-track item not listed here is an i4.
    const std::pair<vt, ints> types[] = {
        {vt::ui1, {7110, 7111, 7112, 7113, 7117, 7118, 7119, 7120, 7121, 7124, 7302,
                   7303, 7304, 7305, 7306, 7307, 7308, 7318, 7319, 7320, 7321, 7503,
                   7504, 7505, 7511, 7512, 7513, 7518, 7519, 7520, 7522, 7523, 7524}},
        {vt::i2, {7128, 7129, 7311, 7313, 7314, 7316, 7510, 7517}},
        {vt::r8, {7322, 7324}},
    };
    const held h({});
    for (const auto& [first, last] : {std::pair{7100, 7148}, {7300, 7324}, {7502, 7524}}) {
        for (item_value item = first; item <= last; ++item) {
            vt want = vt::i4;
            for (const auto& [type, items] : types)
                if (std::ranges::count(items, item)) want = type;
            const item_variant v = variant(h.p, item);
            EXPECT_EQ(v.type, want) << item;
            item_value values[8], n = 0;
            ASSERT_EQ(get_long(h.p, item, HY_INDEX_ALL, values, 8, &n), s_ok);
            EXPECT_EQ(v.values, ints(values, values + n)) << item;
            EXPECT_EQ(v.dims, (n == 1 ? std::vector<int>{} : std::vector<int>{n, 1})) << item;
            if (want == vt::r8) {
                EXPECT_EQ(v.real, double(std::uint32_t(values[0]))) << item;
            }
        }
    }
}

TEST(ItemVariant, ProfilesAreFourByCellsOrCellsInRecordOrder) {
    const ints i2 = {7701, 7801}, i4 = {7921, 7941, 7981, 8001};
    const held h({}); // 3 beams in the fixed leader, 4 values per cell in the record
    for (int p = 0; p < profile_item_count; ++p) {
        const profile_layout& l = profile_layouts()[std::size_t(p)];
        const item_variant id = variant(h.p, profile_id_item(p));
        const item_variant cell = variant(h.p, profile_cell_item(p));
        if (l.id == b5_status_id) {
            EXPECT_EQ(id.type, vt::empty);
            EXPECT_EQ(cell.type, vt::empty);
            continue;
        }
        EXPECT_EQ(id.type, vt::i4);
        EXPECT_EQ(id.values, ints{l.id});
        const item_value item = profile_cell_item(p);
        EXPECT_EQ(cell.type, std::ranges::count(i2, item)   ? vt::i2
                             : std::ranges::count(i4, item) ? vt::i4
                                                            : vt::ui1)
            << item;
        EXPECT_EQ(cell.dims,
                  (l.values_per_cell == 4 ? std::vector<int>{4, cells} : std::vector<int>{cells}));
        item_point points[4 * cells];
        item_value n = 0;
        ASSERT_EQ(get_point(h.p, item, HY_INDEX_ALL, points, 4 * cells, &n), s_ok);
        ASSERT_EQ(cell.values.size(), std::size_t(n));
        for (item_value k = 0; k < n; ++k) EXPECT_EQ(cell.values[k], points[k].x) << item;
    }
    // Element (2, 1) of VEL_CELL is beam 2 of cell 0.
    EXPECT_EQ(variant(h.p, VEL_CELL).values[1], -1);
}

TEST(ItemVariant, PresenceVersionAndRangeRules) {
    const struct {
        shape s;
        item_value item;
        hresult hr;
        vt type;
        std::size_t count; // values, or text length
    } cases[] = {
        {{}, 7002, s_ok, vt::empty, 0},
        {{}, -5, s_ok, vt::empty, 0},
        {{.fixed = false}, 7113, e_fail, vt::empty, 0},
        {{.fixed = false}, 7301, s_ok, vt::i4, 1},
        {{.variable = false}, 7301, e_fail, vt::empty, 0},
        {{.variable = false}, 7113, s_ok, vt::ui1, 1},
        {{.bottom = false}, 7510, s_ok, vt::empty, 0},
        {{.bottom = false}, 7500, s_ok, vt::empty, 0},
        {{.profiles = false}, 7701, s_ok, vt::empty, 0},
        {{.profiles = false}, 7700, s_ok, vt::empty, 0},
        {{.major = 2, .minor = 76}, 7321, s_ok, vt::empty, 0},
        {{.major = 2, .minor = 77}, 7321, s_ok, vt::ui1, 8},
        {{.major = 9, .minor = 0}, 7149, s_ok, vt::empty, 0},
        {{.major = 9, .minor = 20}, 7149, s_ok, vt::bstr, 16},
        {{.major = 9, .minor = 0}, 7322, s_ok, vt::r8, 1},
    };
    for (const auto& c : cases) {
        const held h(c.s);
        const item_variant v = variant(h.p, c.item, c.hr);
        EXPECT_EQ(v.type, c.type) << c.item;
        EXPECT_EQ(c.type == vt::bstr ? v.text.size() : v.values.size(), c.count) << c.item;
    }
    const held h({});
    for (const item_value item : {7149 + 1, 7299, 7325, 7499, 7500, 7501, 7525, 7699, 7702, 11000})
        EXPECT_EQ(variant(h.p, item, e_invalidarg).type, vt::empty);
    const CSNPersist none;
    variant(none, 7113, e_fail);
    EXPECT_EQ(variant(none, 7510).type, vt::empty);
    EXPECT_EQ(variant(none, 7701).type, vt::empty);
}

TEST(ItemVariant, LabelsFollowTheCoordinateSystemOfVelocityItems) {
    const struct {
        std::uint8_t major, minor, coordinates;
        item_value item;
        const char* first; // text of the first label
        int count;
    } cases[] = {
        {9, 40, 0x00, 7701, "Beam 1", 4},     {9, 40, 0x08, 7701, "Bm1->Bm2", 4},
        {9, 40, 0x10, 7510, "Port->Stbd", 4}, {9, 40, 0x18, 7517, "To East", 4},
        {9, 40, 0x18, 7921, "To East", 4},    {9, 40, 0x18, 7941, "To East", 4},
        {1, 53, 0x0C, 7701, "To East", 4},    {1, 53, 0x18, 7701, "Port->Stbd", 4},
        {9, 40, 0x18, 7721, "Beam 1", 4},     {9, 40, 0x18, 7523, "Beam 1", 4},
        {9, 40, 0x18, 7801, "Beam 5", 1},     {9, 40, 0x18, 7113, nullptr, 0},
        {9, 40, 0x18, 7700, nullptr, 0},
    };
    for (const auto& c : cases) {
        const held h({.major = c.major, .minor = c.minor, .coordinates = c.coordinates});
        item_labels labels;
        ASSERT_EQ(get_item_labels(h.p, c.item, &labels), s_ok);
        EXPECT_EQ(labels.count, c.count) << c.item;
        if (c.first) {
            EXPECT_STREQ(string_table_text(labels.first), c.first) << c.item;
        }
    }
    const held h({.fixed = false});
    item_labels labels;
    EXPECT_EQ(get_item_labels(h.p, 7701, &labels), e_fail);
    EXPECT_EQ(get_item_labels(h.p, 7721, &labels), s_ok);
    EXPECT_EQ(labels.count, 4);
}

} // namespace
} // namespace hyd
