// What an ensemble offers, entry by entry: the groups of items, the items of a group and the
// elements (beams, depth cells, values) of one item, each with its display attributes: which
// access reads it, units, value ranges, bad-value marker, axis directions and decimal shift. The
// attributes are one table per item class (properties.cpp); the COM object wraps each entry in a
// property object, the hyd tool reads the same entries to show an ensemble to people.
#pragma once

#include "datasource/descriptions.h"

#include <string>
#include <vector>

namespace hyd {

// Bits of an entry's data type mask; an entry whose mask shares no bit with the caller's flags is
// not listed.
inline constexpr item_value mask_children = 1; // has entries below it
inline constexpr item_value mask_long = 2;     // read with GetLong
inline constexpr item_value mask_profile = 4;  // read with GetPoint (value, depth)
inline constexpr item_value mask_text = 8;     // read with GetString

// Unit codes of the value (x) and depth (y) axes.
inline constexpr item_value unit_none = 14;

struct item_property {
    item_value sequence = 0;
    item_value item = 0;
    item_value index = HY_INDEX_ALL;
    std::string description;
    item_value mask = 0;
    item_point units{unit_none, unit_none};
    item_point abs_min{-1, -1};
    item_point abs_max{-1, -1};
    item_point def_min{-1, -1};
    item_point def_max{-1, -1};
    item_point bad_flags{0, 0}; // 1 where the axis has a bad value
    item_point bad{0, 0};
    item_point axis{1, 1};  // 1 or -1 per axis
    item_point shift{0, 0}; // power of ten to apply for display

    bool operator==(const item_property&) const = default;
};

struct item_range {
    item_value first;
    item_value last;
    item_value count; // entries per item
};

// The items (or elements) that EnumItems lists for `item` and `index`: the sequences for
// HY_INDEX_ALL, the items of a sequence, the beams of a per-beam item, the depth cells of a profile
// (HY_INDEX_ALL) or the values of one depth cell. Anything else throws.
item_range get_item_range(const item_source& src, item_value item, item_value index);

// The entry for `item` inside `sequence`; `self` when the caller asked for this item itself, so
// the entry is its element number `sub`. Missing texts throw.
item_property make_property(const item_source& src, item_value sequence, item_value item,
                            item_value index, item_value flags, item_value sub, bool self);

// What EnumItems gives: the entries of get_item_range whose mask shares a bit with flags, in
// order.
std::vector<item_property> enumerate_items(const item_source& src, item_value sequence,
                                           item_value item, item_value index, item_value flags);

// A readable name of a unit code ("cm", "mm/s", "deg"); empty for counts and unitless values.
const char* unit_name(item_value code);

} // namespace hyd
