#include "datasource/properties.h"

#include <climits>
#include <cstdint>

namespace hyd {

namespace {

// Display attributes of one item class; the mask of profile items depends on the caller's flags.
struct attributes {
    item_value mask;
    item_point units, abs_min, abs_max, def_min, def_max, bad_flags, bad, axis, shift;
};

constexpr item_value none = unit_none;
constexpr item_value big = INT32_MAX;

constexpr attributes entry_without_values(item_value mask) {
    return {mask,     {none, none}, {-1, -1}, {-1, -1}, {-1, -1},
            {-1, -1}, {0, 0},       {0, 0},   {1, 1},   {0, 0}};
}
// A number read with GetLong: absolute and default x ranges, no depth axis.
constexpr attributes number(item_value unit, item_value lo, item_value hi, item_value def_lo,
                            item_value def_hi, item_value shift = 0) {
    return {mask_long,    {unit, none}, {lo, -1}, {hi, -1}, {def_lo, -1},
            {def_hi, -1}, {0, 0},       {0, 0},   {1, 1},   {shift, 0}};
}
constexpr attributes range(item_value unit, item_value lo, item_value hi, item_value shift = 0) {
    return number(unit, lo, hi, lo, hi, shift);
}
// A per-beam bottom-track item: a number whose beams can be listed.
constexpr attributes beams(item_value unit, item_value lo, item_value hi, item_value def_lo,
                           item_value def_hi) {
    attributes a = number(unit, lo, hi, def_lo, def_hi);
    a.mask = mask_children | mask_long;
    return a;
}
// A profile over depth (cm, downwards); its mask comes from the caller's flags.
constexpr attributes profile(item_value unit, item_value lo, item_value hi, item_value def_lo,
                             item_value def_hi) {
    return {0,      {unit, 2}, {lo, -128000}, {hi, 128000}, {def_lo, 0}, {def_hi, 4000},
            {0, 0}, {0, 0},    {1, -1},       {0, 0}};
}
// One element of a profile: no depth axis.
constexpr attributes element(item_value unit, item_value lo, item_value hi, item_value def_lo,
                             item_value def_hi) {
    attributes a = number(unit, lo, hi, def_lo, def_hi);
    a.axis = {1, -1};
    return a;
}
constexpr attributes with_bad(attributes a, item_value x, item_value y) {
    a.bad_flags = {1, 0};
    a.bad = {x, y};
    return a;
}
constexpr attributes with_axis(attributes a, item_value x, item_value y) {
    a.axis = {x, y};
    return a;
}

struct row {
    item_value ids[20]; // ends at the first 0
    attributes a;
};

// The attribute table: every item class with its own attributes. Items not listed are bytes.
constexpr row items[] = {
    {{7149, 11000, 11001}, entry_without_values(mask_text)},
    {{7000, 7002, 7004, 7100, 7102, 7103, 7114, 7300, 7309, 7500, 7501, 7502, 7506, 7507, 7508,
      7514, 7515, 7516, 7521},
     number(none, 0, 65535, 0, 16383)},
    {{7001, 7322, 7324}, range(none, 0, big)},
    {{7323}, range(20, 0, big)},
    {{7115}, range(2, 1, 6400)},
    {{7116}, range(2, 0, 9999)},
    {{7117}, range(none, 0, 8)},
    {{7121}, range(10, 1, 100)},
    {{7122}, range(5, 0, 5000)},
    {{7128, 7129}, range(9, 0, 18000, -2)},
    {{7143, 7144, 7148}, range(2, 0, 65535)},
    {{7301}, number(none, 0, 524288, 0, 512)},
    {{7310}, range(12, 1400, 1600)},
    {{7311}, range(3, 0, 9999)},
    {{7312}, range(9, 0, 36000, -2)},
    {{7313, 7314}, range(9, -5000, 5000, -2)},
    {{7315}, range(11, 0, 40)},
    {{7316}, range(6, -600, 4400, -2)},
    {{7318}, range(9, 0, 1800, -1)},
    {{7319, 7320}, range(9, 0, 200, -1)},
    {{7509}, with_axis(with_bad(beams(2, -128000, 128000, 0, 4000), 0, -1), -1, 1)},
    {{7510, 7517}, with_bad(beams(5, -32768, 32767, -8192, 8191), -32768, -1)},
    {{7511, 7512, 7518, 7519, 7523}, beams(none, 0, 255, 0, 255)},
    {{7513, 7520}, with_bad(beams(10, 0, 255, 0, 255), -32768, -1)},
    {{7701, 7801}, with_bad(profile(5, -32768, 32767, -8192, 8192), -32768, 0)},
    {{7721, 7741, 7781, 7821, 7841, 7881, 7901, 7961}, profile(0, 0, 255, 0, 255)},
    {{7761, 7861}, profile(10, 0, 100, 0, 100)},
    {{7921, 7981}, profile(5, 0, big, 0, big)},
    {{7941, 8001}, profile(5, INT32_MIN, big, INT32_MIN, big)},
};
constexpr attributes byte_item = range(none, 0, 255);

// The elements (depth cells, values) of the profile items.
constexpr row elements[] = {
    {{7701, 7801}, with_bad(element(5, -32768, 32767, -8192, 8192), -32768, 0)},
    {{7761, 7861}, element(10, 0, 100, 0, 100)},
};
constexpr attributes other_element = element(0, 0, 255, 0, 255);

template <std::size_t N>
const attributes& lookup(const row (&table)[N], item_value item, const attributes& otherwise) {
    for (const row& r : table)
        for (item_value id : r.ids) {
            if (id == 0) break;
            if (id == item) return r.a;
        }
    return otherwise;
}

void assign(item_property& p, const attributes& a) {
    p.mask = a.mask;
    p.units = a.units;
    p.abs_min = a.abs_min;
    p.abs_max = a.abs_max;
    p.def_min = a.def_min;
    p.def_max = a.def_max;
    p.bad_flags = a.bad_flags;
    p.bad = a.bad;
    p.axis = a.axis;
    p.shift = a.shift;
}

} // namespace

item_range get_item_range(const item_source& src, item_value item, item_value index) {
    if (item == HY_INDEX_ALL) return {5000, 5017, 1}; // 5018 to 5020 only by their own numbers
    if (const item_group* g = find_group(item)) return {g->first, g->last, 1};
    if (is_per_beam_item(item)) return {item, item, 4};
    const int columns = profile_columns(item);
    if (columns == 0) throw_fault(__LINE__);
    if (index != HY_INDEX_ALL) return {item, item, columns};
    return {item, item, src.loaded() ? read_one(src, FIX_NBINS) : 128};
}

item_property make_property(const item_source& src, item_value sequence, item_value item,
                            item_value index, item_value flags, item_value sub, bool self) {
    item_property p;
    p.sequence = sequence;
    p.item = item;
    if (!self) p.description = required_text(src, item);
    const int columns = profile_columns(item);
    if (const item_group* g = find_group(item)) {
        assign(p, entry_without_values(mask_children));
        // A loaded ensemble lists only the groups whose data type it holds.
        if (g->type_id != listed_always && src.loaded() &&
            src.holder().FindType(static_cast<std::uint16_t>(g->type_id)) < 0)
            p.mask = 0;
    } else if (!self || (columns == 0 && !is_per_beam_item(item))) {
        assign(p, lookup(items, item, byte_item));
        // A profile inside its group: plain (flag 4) and able to list its cells (flag 2).
        if (columns > 0)
            p.mask =
                (flags & mask_profile ? mask_profile : 0) | (flags & mask_long ? mask_children : 0);
    } else if (columns == 0) {
        // One beam of a per-beam item.
        assign(p, lookup(items, item, byte_item));
        p.index = sub;
        p.mask = mask_long;
        p.description = src.loaded() ? column_heading(src, item, sub)
                                     : required_text(src, beam_heading_text + sub);
    } else if (index == HY_INDEX_ALL) {
        // One depth cell of a profile; the four-beam cells list their values.
        assign(p, lookup(elements, item, other_element));
        p.index = sub;
        p.mask = columns == 4 ? mask_children | mask_long : mask_long;
        p.description = src.loaded() ? cell_heading(src, item, sub)
                                     : insert_long(required_text(src, bin_heading_text), sub + 1LL);
    } else {
        // One value of depth cell `index`, by its single-element index.
        assign(p, lookup(elements, item, other_element));
        const std::int64_t element = -1 - static_cast<std::int64_t>(columns) * index - sub;
        p.index =
            static_cast<item_value>(static_cast<std::int32_t>(static_cast<std::uint32_t>(element)));
        p.mask = mask_long;
        p.description = src.loaded() ? column_heading(src, item, sub)
                                     : required_text(src, beam_heading_text + sub);
    }
    return p;
}

std::vector<item_property> enumerate_items(const item_source& src, item_value sequence,
                                           item_value item, item_value index, item_value flags) {
    const item_range r = get_item_range(src, item, index);
    std::vector<item_property> out;
    for (item_value i = r.first; i <= r.last; ++i)
        for (item_value j = 0; j < r.count; ++j) {
            item_property p = make_property(src, sequence, i, index, flags, j, i == item);
            if (p.mask & flags) out.push_back(std::move(p));
        }
    return out;
}

const char* unit_name(item_value code) {
    switch (code) {
    case 2:
        return "cm";
    case 3:
        return "dm";
    case 5:
        return "mm/s";
    case 6:
        return "degC";
    case 9:
        return "deg";
    case 10:
        return "%";
    case 11:
        return "ppt";
    case 12:
        return "m/s";
    case 20:
        return "daPa";
    default:
        return ""; // 0 counts, 14 no unit
    }
}

} // namespace hyd
