// Item values of a held ensemble: every field by its numeric item ID, as 32-bit integers (GetLong)
// or as (value, depth) points of the profile items (GetPoint). The COM face calls these and then
// passes successful calls on to the host's extensions; the core knows nothing of extensions.
#pragma once

#include "common/result_codes.h"
#include "ensemble/persist.h"

#include <climits>
#include <cstdint>

namespace hyd {

// nIndex meaning "all elements of the item".
inline constexpr item_value HY_INDEX_ALL = static_cast<item_value>(INT32_MIN);

// Layout-compatible with the Win32 POINTL: a value in x, its depth cell's depth (cm) in y.
struct item_point {
    item_value x;
    item_value y;
};

// GetLong semantics over the record held by `holder`: E_FAIL when nothing is held, E_INVALIDARG for
// bad arguments or IDs outside the catalogue, S_FALSE with zeros or no values where the data type
// is missing, S_OK with *actual values written.
hresult get_long(const CSNBasePersist& holder, item_value item, item_value index,
                 item_value* values, item_value max, item_value* actual);

// GetPoint semantics: only the sixteen *_CELL profile items.
hresult get_point(const CSNBasePersist& holder, item_value item, item_value index,
                  item_point* points, item_value max, item_value* actual);

} // namespace hyd
