// What automation hosts get for an item: its whole value as one typed value or array
// (GetItemVariant) and the labels of its columns (GetItemLabels). The rules live here, portable;
// the COM face turns the result into a VARIANT or SAFEARRAY (item_variant_win.h).
//
// Choices where the record format leaves room:
// - The 4-beam profile arrays are 4 x cells whatever the fixed leader's number of beams says: the
//   record always holds 4 values per cell, so element (b, j) stays beam b of cell j - 1.
// - BT_ID and BT_PINGS are not variant items (E_INVALIDARG), like any number of the leader and
//   bottom-track ranges outside the catalogue.
// - With nothing held every data type counts as absent: leader items give E_FAIL, bottom-track
//   and profile items VT_EMPTY.
#pragma once

#include "common/result_codes.h"
#include "ensemble/persist.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hyd {

// The element type of a value or array (VT_EMPTY, VT_UI1, VT_I2, VT_I4, VT_R8, VT_BSTR).
enum class variant_type : std::uint8_t { empty, ui1, i2, i4, r8, bstr };

struct item_variant {
    variant_type type = variant_type::empty;
    // Element counts per dimension, first dimension first; empty for a single value.
    std::vector<int> dims;
    // The elements, first dimension varying fastest; a single whole value in values[0].
    std::vector<item_value> values;
    double real = 0;  // the value of an r8
    std::string text; // the value of a bstr
};

// The value of `item`: S_OK (possibly empty), E_INVALIDARG for a number of the leader,
// bottom-track or profile ranges that is no variant item, E_FAIL when a leader item's leader is
// missing. *out is reset first and stays empty on failure.
hresult get_item_variant(const CSNBasePersist& holder, item_value item, item_variant* out);

// Column labels: `count` string-table texts from number `first` on. 4 for the per-beam
// bottom-track items and the 4-beam profile items (beams, or the velocity components of the
// ensemble's coordinate system), 1 for the beam-5 profile items, 0 for every other item.
struct item_labels {
    int first = 0;
    int count = 0;
};

// S_OK, or E_FAIL for a velocity item without a fixed leader (*out then has count 0).
hresult get_item_labels(const CSNBasePersist& holder, item_value item, item_labels* out);

} // namespace hyd
