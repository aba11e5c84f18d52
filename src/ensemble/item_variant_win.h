// Variant access for automation hosts: an item's value as a VARIANT or SAFEARRAY (every array
// with lower bound 1, the first dimension varying fastest), its column labels and the library's
// string-table texts. Each treats the caller's VARIANT as out: VariantInit first, never
// VariantClear, and on failure it is left VT_EMPTY.
#pragma once

#include "ensemble/persist.h"

#include <windows.h>

#include <oleauto.h>

namespace hyd {

HRESULT get_item_variant(const CSNBasePersist& holder, long item, VARIANT* pv);
HRESULT get_item_labels(const CSNBasePersist& holder, long item, VARIANT* pv);
// The text of string `id` of this module's string table as a BSTR; E_INVALIDARG, with *pv
// untouched, when there is no such string.
HRESULT get_resource_text(long id, VARIANT* pv);

// A copy of `in` whose typed array (if it holds one) became an array of VARIANTs with the same
// dimensions and bounds, for script engines that index nothing else. DISP_E_TYPEMISMATCH for
// arrays of records or decimals.
HRESULT to_variant_array(const VARIANT& in, VARIANT* out);

} // namespace hyd
