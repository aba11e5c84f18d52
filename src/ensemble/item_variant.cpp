#include "ensemble/item_variant.h"

#include "ensemble/ensemble_format.h"
#include "ensemble/item_values.h"

#include <algorithm>
#include <iterator>

namespace hyd {

namespace {

constexpr item_value FIX_FIRM_VER = 7101;
constexpr item_value FIX_COORD = 7124;
constexpr item_value VAR_ADC = 7321;

// Element types of the leader and bottom-track items; every one not listed is an i4.
constexpr item_value ui1_items[] = {7110, 7111, 7112, 7113, 7117, 7118, 7119, 7120, 7121,
                                    7124, 7302, 7303, 7304, 7305, 7306, 7307, 7308, 7318,
                                    7319, 7320, 7321, 7503, 7504, 7505, 7511, 7512, 7513,
                                    7518, 7519, 7520, 7522, 7523, 7524};
constexpr item_value i2_items[] = {7128, 7129, 7311, 7313, 7314, 7316, 7510, 7517};
constexpr item_value r8_items[] = {7322, 7324}; // unsigned 32-bit fields

// The items whose columns are velocity components, labelled by the coordinate system.
constexpr item_value velocity_items[] = {7510, 7517, 7701, 7921, 7941};

constexpr int first_beam_label = 8050;
constexpr int beam5_label = 8066;

template <std::size_t N> bool listed(const item_value (&list)[N], item_value item) {
    return std::find(std::begin(list), std::end(list), item) != std::end(list);
}

variant_type scalar_type(item_value item) {
    if (listed(ui1_items, item)) return variant_type::ui1;
    if (listed(i2_items, item)) return variant_type::i2;
    if (listed(r8_items, item)) return variant_type::r8;
    return variant_type::i4;
}

variant_type element_type(const profile_layout& l) {
    return l.value_width == 1   ? variant_type::ui1
           : l.value_width == 2 ? variant_type::i2
                                : variant_type::i4;
}

bool has(const CSNBasePersist& holder, std::uint16_t id) {
    return holder.FindType(id) >= 0;
}

item_value one_value(const CSNBasePersist& holder, item_value item) {
    item_value v = 0, n = 0;
    const hresult hr = read_item(holder, item, &v, 1, &n);
    if (failed(hr)) throw hr;
    return v;
}

hresult profile_variant(const CSNBasePersist& holder, item_value item, item_variant* out) {
    if (const int which = profile_item_index(item, false); which >= 0) {
        const std::uint16_t id = profile_layouts()[static_cast<std::size_t>(which)].id;
        if (has(holder, id)) {
            out->type = variant_type::i4;
            out->values = {id};
        }
        return s_ok;
    }
    const int which = profile_item_index(item, true);
    if (which < 0) return e_invalidarg;
    const profile_layout& l = profile_layouts()[static_cast<std::size_t>(which)];
    if (!read_profile_values(holder, which, out->values)) return s_ok;
    const int cells = static_cast<int>(out->values.size()) / l.values_per_cell;
    out->type = element_type(l);
    out->dims = l.values_per_cell == 1 ? std::vector<int>{cells}
                                       : std::vector<int>{l.values_per_cell, cells};
    return s_ok;
}

// A leader or bottom-track item that exists in the catalogue, its data type present.
void catalogue_variant(const CSNBasePersist& holder, item_value item, item_variant* out) {
    if (item == FIX_CPU_SERIAL) {
        if (cpu_serial_text(holder, &out->text)) out->type = variant_type::bstr;
        return;
    }
    int count = 1;
    if (is_per_beam_item(item)) {
        count = 4;
    } else if (item == VAR_ADC) {
        if (one_value(holder, FIX_FIRM_VER) < 277) return;
        count = 8;
    }
    out->values.resize(static_cast<std::size_t>(count));
    item_value n = 0;
    if (const hresult hr = read_item(holder, item, out->values.data(), count, &n); failed(hr))
        throw hr;
    out->type = scalar_type(item);
    if (count > 1) out->dims = {count, 1};
    if (out->type == variant_type::r8)
        out->real = static_cast<double>(static_cast<std::uint32_t>(out->values[0]));
}

} // namespace

hresult get_item_variant(const CSNBasePersist& holder, item_value item, item_variant* out) {
    if (!out) return e_pointer;
    *out = {};
    if (item < 7100) return s_ok;
    try {
        if (item < 7300) {
            if (!has(holder, fixed_leader_id)) return e_fail;
            if (item > FIX_CPU_SERIAL) return e_invalidarg;
        } else if (item < 7500) {
            if (!has(holder, variable_leader_id)) return e_fail;
            if (item > 7324) return e_invalidarg;
        } else if (item < 7700) {
            if (!has(holder, bottom_track_id)) return s_ok;
            if (item < 7502 || item > 7524) return e_invalidarg;
        } else {
            return profile_variant(holder, item, out);
        }
        catalogue_variant(holder, item, out);
        return s_ok;
    } catch (hresult hr) {
        *out = {};
        return hr;
    } catch (...) {
        *out = {};
        return e_fail;
    }
}

hresult get_item_labels(const CSNBasePersist& holder, item_value item, item_labels* out) {
    if (!out) return e_pointer;
    *out = {};
    const int which = profile_item_index(item, true);
    const int per_cell =
        which < 0 ? 0 : profile_layouts()[static_cast<std::size_t>(which)].values_per_cell;
    if (per_cell == 1) {
        *out = {beam5_label, 1};
        return s_ok;
    }
    if (per_cell != 4 && !is_per_beam_item(item)) return s_ok;
    int first = first_beam_label;
    if (listed(velocity_items, item)) {
        if (!has(holder, fixed_leader_id)) return e_fail;
        item_value coord = 0, n = 0;
        if (failed(read_item(holder, FIX_COORD, &coord, 1, &n))) return e_fail;
        first += 4 * static_cast<int>(coord);
    }
    *out = {first, 4};
    return s_ok;
}

} // namespace hyd
