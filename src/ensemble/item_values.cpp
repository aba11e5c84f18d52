#include "ensemble/item_values.h"

#include "ensemble/ensemble_format.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace hyd {

namespace {

constexpr int serial_offset = 42; // FIX_CPU_SERIAL: 8 bytes of the fixed leader
constexpr int serial_bytes = 8;

// Where an item's field lives.
enum class part : std::uint8_t { header, fixed, variable, bottom };

// How the field's bytes are read: zero- or sign-extended, or a minutes/seconds/hundredths triple.
enum class width : std::uint8_t { u8, u16, i16, u32, time3 };

// When the field exists for the ensemble's firmware version V.
enum class rule : std::uint8_t { always, from, below, family };

// What is made of the raw field.
enum class conv : std::uint8_t {
    field,           // the value as read
    bits,            // (raw >> shift) & ((1 << bits) - 1)
    plus_one,        // bits, then + 1
    frequency,       // 75 << (raw & 7)
    beam_angle,      // 15, 20 or 30 degrees from bits 8-9
    coord,           // bits 2-3 below V 154, bits 3-4 from it
    ensemble_number, // low 16 bits, plus byte 11 x 65536 from V 277
    firmware,        // V itself
    header_id,       // byte 0 x 256 + byte 1
    header_address,  // low 32 bits of the record's address
    offsets,         // the offset table
};

struct entry {
    item_value id;
    part source;
    std::uint8_t offset;
    width w;
    std::uint8_t count; // values: 1, 4 per beam, 8 for the ADC channels, 0 for the offset table
    bool per_beam;
    rule when;
    std::int16_t version;
    conv c;
    std::uint8_t shift;
    std::uint8_t nbits;
};

constexpr entry value(item_value id, part p, std::uint8_t offset, width w, rule when = rule::always,
                      std::int16_t version = 0) {
    return {id, p, offset, w, 1, false, when, version, conv::field, 0, 0};
}
constexpr entry bits(item_value id, part p, std::uint8_t offset, std::uint8_t shift,
                     std::uint8_t nbits, rule when = rule::always, std::int16_t version = 0) {
    return {id, p, offset, width::u8, 1, false, when, version, conv::bits, shift, nbits};
}
constexpr entry config(item_value id, conv c, std::uint8_t shift = 0, std::uint8_t nbits = 0) {
    return {id, part::fixed, 4, width::u16, 1, false, rule::always, 0, c, shift, nbits};
}
constexpr entry beams(item_value id, std::uint8_t offset, width w) {
    return {id, part::bottom, offset, w, 4, true, rule::always, 0, conv::field, 0, 0};
}
constexpr entry special(item_value id, part p, conv c, std::uint8_t offset, width w,
                        std::uint8_t count = 1) {
    return {id, p, offset, w, count, false, rule::always, 0, c, 0, 0};
}

constexpr part H = part::header, F = part::fixed, V = part::variable, B = part::bottom;
constexpr rule from = rule::from, below = rule::below, family = rule::family;

// The catalogue, ascending by ID. 7149, 11000 and 11001 are text items and not here.
constexpr std::array catalogue{
    special(7000, H, conv::header_id, 0, width::u16),
    special(7001, H, conv::header_address, 0, width::u32),
    value(7002, H, 2, width::u16),
    value(7003, H, 5, width::u8),
    special(7004, H, conv::offsets, 6, width::u16, 0),

    value(7100, F, 0, width::u16),
    special(7101, F, conv::firmware, 2, width::u8),
    value(7102, F, 4, width::u16),
    config(7103, conv::frequency),
    config(7104, conv::bits, 3, 1),
    config(7105, conv::plus_one, 4, 2),
    config(7106, conv::bits, 6, 1),
    config(7107, conv::bits, 7, 1),
    config(7108, conv::beam_angle),
    config(7109, conv::bits, 12, 4),
    value(7110, F, 6, width::u8),
    value(7111, F, 7, width::u8, from, 151),
    value(7112, F, 8, width::u8),
    value(7113, F, 9, width::u8),
    value(7114, F, 10, width::u16),
    value(7115, F, 12, width::u16),
    value(7116, F, 14, width::u16),
    value(7117, F, 16, width::u8),
    value(7118, F, 17, width::u8),
    value(7119, F, 18, width::u8, below, 151),
    value(7120, F, 18, width::u8, from, 151),
    value(7121, F, 19, width::u8),
    value(7122, F, 20, width::u16),
    value(7123, F, 22, width::time3),
    special(7124, F, conv::coord, 25, width::u8),
    bits(7125, F, 25, 2, 1, from, 154),
    bits(7126, F, 25, 0, 1),
    bits(7127, F, 25, 1, 1),
    value(7128, F, 26, width::i16),
    value(7129, F, 28, width::i16),
    bits(7130, F, 30, 6, 1),
    bits(7131, F, 30, 5, 1),
    bits(7132, F, 30, 4, 1),
    bits(7133, F, 30, 3, 1),
    bits(7134, F, 30, 2, 1),
    bits(7135, F, 30, 1, 1),
    bits(7136, F, 30, 0, 1),
    bits(7137, F, 31, 5, 1),
    bits(7138, F, 31, 4, 1),
    bits(7139, F, 31, 3, 1),
    bits(7140, F, 31, 2, 1),
    bits(7141, F, 31, 1, 1),
    bits(7142, F, 31, 0, 1),
    value(7143, F, 32, width::u16, from, 151),
    value(7144, F, 34, width::u16, from, 151),
    value(7145, F, 36, width::u8, from, 200),
    value(7146, F, 37, width::u8, from, 200),
    value(7147, F, 38, width::u8, from, 200),
    value(7148, F, 40, width::u16, from, 214),

    value(7300, V, 0, width::u16),
    special(7301, V, conv::ensemble_number, 2, width::u16),
    value(7302, V, 4, width::u8),
    value(7303, V, 5, width::u8),
    value(7304, V, 6, width::u8),
    value(7305, V, 7, width::u8),
    value(7306, V, 8, width::u8),
    value(7307, V, 9, width::u8),
    value(7308, V, 10, width::u8),
    value(7309, V, 12, width::u16),
    value(7310, V, 14, width::u16),
    value(7311, V, 16, width::i16),
    value(7312, V, 18, width::u16),
    value(7313, V, 20, width::i16),
    value(7314, V, 22, width::i16),
    value(7315, V, 24, width::u16),
    value(7316, V, 26, width::i16),
    value(7317, V, 28, width::time3, from, 151),
    value(7318, V, 31, width::u8, from, 217),
    value(7319, V, 32, width::u8, from, 217),
    value(7320, V, 33, width::u8, from, 217),
    entry{7321, V, 34, width::u8, 8, false, from, 277, conv::field, 0, 0},
    value(7322, V, 42, width::u32, family),
    value(7323, V, 48, width::u32, family),
    value(7324, V, 52, width::u32, family),

    value(7500, B, 0, width::u16),
    value(7501, B, 2, width::u16),
    value(7502, B, 4, width::u16),
    value(7503, B, 6, width::u8),
    value(7504, B, 7, width::u8),
    value(7505, B, 9, width::u8, from, 305),
    value(7506, B, 10, width::u16),
    value(7507, B, 12, width::u16),
    value(7508, B, 14, width::u16),
    beams(7509, 16, width::u16),
    beams(7510, 24, width::i16),
    beams(7511, 32, width::u8),
    beams(7512, 36, width::u8),
    beams(7513, 40, width::u8),
    value(7514, B, 44, width::u16),
    value(7515, B, 46, width::u16),
    value(7516, B, 48, width::u16),
    beams(7517, 50, width::i16),
    beams(7518, 58, width::u8),
    beams(7519, 62, width::u8),
    beams(7520, 66, width::u8),
    value(7521, B, 70, width::u16, from, 154),
    value(7522, B, 8, width::u8),
    beams(7523, 72, width::u8),
    value(7524, B, 76, width::u8),
};

constexpr bool catalogue_sorted() {
    for (std::size_t i = 1; i < catalogue.size(); ++i)
        if (catalogue[i - 1].id >= catalogue[i].id) return false;
    return true;
}
static_assert(catalogue_sorted(), "long_items() lists the IDs in ascending order");

constexpr std::array<item_value, catalogue.size() + 2 * profile_item_count> make_long_items() {
    std::array<item_value, catalogue.size() + 2 * profile_item_count> ids{};
    std::size_t n = 0;
    for (const entry& e : catalogue) ids[n++] = e.id;
    for (int i = 0; i < profile_item_count; ++i) {
        ids[n++] = profile_id_item(i);
        ids[n++] = profile_cell_item(i);
    }
    return ids;
}
constexpr auto all_long_items = make_long_items();

// The catalogue's IDs lie in 7000-7524: one table slot per ID there gives its entry in one step.
constexpr item_value first_catalogued = 7000;
constexpr item_value last_catalogued = 7524;
constexpr std::uint8_t no_entry = 0xFF;
static_assert(catalogue.size() < no_entry);
static_assert(catalogue.front().id == first_catalogued && catalogue.back().id == last_catalogued);

constexpr auto entry_slots = [] {
    std::array<std::uint8_t, last_catalogued - first_catalogued + 1> slots{};
    for (auto& s : slots) s = no_entry;
    for (std::size_t i = 0; i < catalogue.size(); ++i)
        slots[static_cast<std::size_t>(catalogue[i].id - first_catalogued)] =
            static_cast<std::uint8_t>(i);
    return slots;
}();

// The plain fields of the header and the leaders, most scalar items: where each lies is resolved
// when the catalogue is compiled, so reading one is a table load, a bounds check and the bytes.
// The ensemble number, read in every record by summaries, is one too: its high byte is a second
// plain field from the firmware version that has it.
struct plain_field {
    bool plain = false;
    part source = part::header;
    std::uint8_t offset = 0;
    width w = width::u8;
    bool number = false;    // byte 11 of the variable leader x 65536 from V 277
    std::uint8_t shift = 0; // a bit field: (value >> shift) & mask
    item_value mask = -1;
};

constexpr auto plain_fields = [] {
    std::array<plain_field, last_catalogued - first_catalogued + 1> fields{};
    for (const entry& e : catalogue)
        if (e.count == 1 && !e.per_beam && e.source != part::bottom &&
            (e.c == conv::field || e.c == conv::ensemble_number || e.c == conv::bits) &&
            e.when == rule::always)
            fields[static_cast<std::size_t>(e.id - first_catalogued)] = {
                true,
                e.source,
                e.offset,
                e.w,
                e.c == conv::ensemble_number,
                e.shift,
                e.c == conv::bits ? (1 << e.nbits) - 1 : -1};
    return fields;
}();

const entry* find_entry(item_value id) {
    if (id < first_catalogued || id > last_catalogued) return nullptr;
    const std::uint8_t slot = entry_slots[static_cast<std::size_t>(id - first_catalogued)];
    return slot == no_entry ? nullptr : &catalogue[slot];
}

// The bytes of one data type; reads past its end give 0.
struct view {
    const std::uint8_t* data = nullptr;
    int size = 0;

    bool has(int offset, int bytes) const { return data && offset >= 0 && offset + bytes <= size; }
    std::uint32_t u8(int offset) const { return has(offset, 1) ? data[offset] : 0; }
    std::uint32_t u16(int offset) const { return has(offset, 2) ? read_u16(data + offset) : 0; }
};

view type_view(const CSNBasePersist& holder, int index) {
    return {holder.GetTypeAt(index), holder.GetTypeSize(index)};
}

inline item_value read_field(const view& v, int offset, width w) {
    if (!v.has(offset, w == width::u8 ? 1 : w == width::u32 ? 4 : w == width::time3 ? 3 : 2))
        return 0;
    const std::uint8_t* p = v.data + offset;
    switch (w) {
    case width::u8:
        return p[0];
    case width::u16:
        return read_u16(p);
    case width::i16:
        return read_i16(p);
    case width::u32:
        return static_cast<item_value>(static_cast<std::int32_t>(read_u32(p)));
    case width::time3:
        return (p[0] * 60 + p[1]) * 100 + p[2];
    }
    return 0;
}

int version_of(const view& fixed) {
    return firmware_version(static_cast<std::uint8_t>(fixed.u8(2)),
                            static_cast<std::uint8_t>(fixed.u8(3)));
}

bool field_exists(const entry& e, int version) {
    switch (e.when) {
    case rule::always:
        return true;
    case rule::from:
        return version >= e.version;
    case rule::below:
        return version < e.version;
    case rule::family:
        return in_serial_family(version);
    }
    return false;
}

// The ensemble number's high byte (byte 11 of the variable leader from V 277), shifted into place.
item_value number_high_byte(const view& variable, int version) {
    return version >= 277 ? static_cast<item_value>(variable.u8(11) << 16) : 0;
}

// A plain field of `part`, which may be too short to hold it.
item_value read_plain(const plain_field& f, const view& part, int version) {
    const item_value value = (read_field(part, f.offset, f.w) >> f.shift) & f.mask;
    return f.number ? value + number_high_byte(part, version) : value;
}

item_value convert(const entry& e, int version, const view& v, int offset) {
    const item_value raw = read_field(v, offset, e.w);
    switch (e.c) {
    case conv::field:
        return raw;
    case conv::bits:
        return (raw >> e.shift) & ((1 << e.nbits) - 1);
    case conv::plus_one:
        return ((raw >> e.shift) & ((1 << e.nbits) - 1)) + 1;
    case conv::frequency:
        return 75 << (raw & 7);
    case conv::beam_angle: {
        const item_value code = raw & 0x300;
        return code == 0 ? 15 : code == 0x100 ? 20 : 30;
    }
    case conv::coord:
        return version < 154 ? (raw >> 2) & 3 : (raw >> 3) & 3;
    case conv::ensemble_number:
        return raw + number_high_byte(v, version);
    case conv::firmware:
        return version;
    case conv::header_id:
        return static_cast<item_value>(v.u8(0) * 256 + v.u8(1));
    case conv::header_address:
        return static_cast<item_value>(
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(v.data)));
    case conv::offsets:
        return raw;
    }
    return 0;
}

// A single-valued item: plain fields straight from their bytes, the others converted.
item_value scalar(const entry& e, const view& v, int version) {
    if (e.c == conv::field && e.when == rule::always) return read_field(v, e.offset, e.w);
    return field_exists(e, version) ? convert(e, version, v, e.offset) : 0;
}

hresult read_entry(const entry& e, const view& v, int version, item_value index, item_value* values,
                   item_value max, item_value* actual) {
    if (e.count == 1 && !e.per_beam) { // a single value: most items
        values[0] = scalar(e, v, version);
        *actual = 1;
        return s_ok;
    }
    const bool exists = field_exists(e, version);
    const int step = e.w == width::u8 ? 1 : e.w == width::u32 ? 4 : 2;
    int first = 0;
    int count = e.count;
    if (e.per_beam) {
        if (index >= 0 && index <= 3) {
            first = static_cast<int>(index);
            count = 1;
        } else if (index != HY_INDEX_ALL) {
            *actual = 0;
            return e_invalidarg;
        }
    } else if (e.c == conv::offsets) {
        // Only the table entries that lie inside the record before its checksum.
        const int in_record = std::max(0, (v.size - 2 - e.offset) / 2);
        count = std::min(static_cast<int>(v.u8(5)), in_record);
    }
    const int n = std::min(count, static_cast<int>(max));
    for (int i = 0; i < n; ++i)
        values[i] = exists ? convert(e, version, v, e.offset + (first + i) * step) : 0;
    *actual = n;
    return s_ok;
}

// Value k of a profile data type (ID word first), read by the type's width and signedness.
item_value profile_value(const std::uint8_t* type, const profile_layout& l, std::int64_t k) {
    const std::uint8_t* p = type + 2 + k * l.value_width;
    switch (l.value_width) {
    case 1:
        return p[0];
    case 2:
        return l.is_signed ? read_i16(p) : read_u16(p);
    default:
        return static_cast<item_value>(static_cast<std::int32_t>(read_u32(p)));
    }
}

// Points k0 .. end - 1 of profile values (first value at `values`): the value and the depth of its
// cell, depth = cell x cell_length + depth0. One loop per value width, no division per point.
template <int Width, bool Signed>
item_value fill_points(const std::uint8_t* values, int per_cell, std::int64_t k0, std::int64_t end,
                       std::int64_t depth0, std::int64_t cell_length, item_point* out) {
    std::int64_t depth = (k0 / per_cell) * cell_length + depth0;
    int beam = static_cast<int>(k0 % per_cell);
    for (std::int64_t k = k0; k < end; ++k, ++out) {
        const std::uint8_t* p = values + k * Width;
        if constexpr (Width == 1)
            out->x = p[0];
        else if constexpr (Width == 2)
            out->x = Signed ? read_i16(p) : read_u16(p);
        else
            out->x = static_cast<item_value>(static_cast<std::int32_t>(read_u32(p)));
        out->y = static_cast<item_value>(depth);
        if (++beam == per_cell) {
            beam = 0;
            depth += cell_length;
        }
    }
    return static_cast<item_value>(end - k0);
}

item_value fill_points(const std::uint8_t* values, const profile_layout& l, std::int64_t k0,
                       std::int64_t end, std::int64_t depth0, std::int64_t cell_length,
                       item_point* out) {
    const auto fill = [&](auto fn) {
        return fn(values, l.values_per_cell, k0, end, depth0, cell_length, out);
    };
    switch (l.value_width) {
    case 1:
        return fill(fill_points<1, false>);
    case 2:
        return l.is_signed ? fill(fill_points<2, true>) : fill(fill_points<2, false>);
    default:
        return fill(fill_points<4, true>);
    }
}

// Looks up a profile data type and checks that it holds every value its cell count implies.
const std::uint8_t* profile_type(const CSNBasePersist& holder, const profile_layout& l,
                                 std::int64_t cells) {
    const int index = holder.FindType(l.id);
    if (index < 0) return nullptr;
    const std::int64_t needed = 2 + cells * l.values_per_cell * l.value_width;
    if (holder.GetTypeSize(index) < needed) return nullptr;
    return holder.GetTypeAt(index);
}

hresult read_profile(const CSNBasePersist& holder, const view& fixed, int which, item_value index,
                     item_value* values, item_value max, item_value* actual) {
    const profile_layout& l = profile_layouts()[static_cast<std::size_t>(which)];
    const std::int64_t cells = fixed.u8(9);
    const std::uint8_t* type = profile_type(holder, l, cells);
    const std::int64_t total = cells * l.values_per_cell;
    std::int64_t first = 0;
    std::int64_t count = 0;
    if (index == HY_INDEX_ALL) {
        count = 0;
    } else if (index >= 0) {
        first = static_cast<std::int64_t>(index) * l.values_per_cell;
        count = l.values_per_cell;
    } else {
        first = -(static_cast<std::int64_t>(index) + 1);
        count = 1;
    }
    if (!type || count == 0 || first + count > total) {
        *actual = 0;
        return s_false;
    }
    const std::int64_t n = std::min<std::int64_t>(count, max);
    for (std::int64_t i = 0; i < n; ++i) values[i] = profile_value(type, l, first + i);
    *actual = static_cast<item_value>(n);
    return s_ok;
}

} // namespace

int profile_item_index(item_value item, bool cell) {
    // Widened first: the smallest item number minus one does not fit 32 bits.
    const std::int64_t base = static_cast<std::int64_t>(item) - (cell ? 1 : 0);
    if (base < profile_item_first || base > profile_id_item(profile_item_count - 1)) return -1;
    if ((base - profile_item_first) % profile_item_step != 0) return -1;
    return static_cast<int>((base - profile_item_first) / profile_item_step);
}

bool is_per_beam_item(item_value item) {
    const entry* e = find_entry(item);
    return e && e->per_beam;
}

std::span<const item_value> long_items() {
    return all_long_items;
}

item_reader::item_reader(const CSNBasePersist& holder) : holder_(holder) {
    held_ = holder.holds_record();
    std::uint32_t record_bytes = 0;
    record_.data = holder.GetBuffer(&record_bytes);
    record_.size = static_cast<int>(record_bytes);
    if (record_.data) {
        const auto look_up = [&](std::uint16_t id) {
            const int index = holder.FindType(id);
            return block{holder.GetTypeAt(index), holder.GetTypeSize(index)};
        };
        fixed_ = look_up(fixed_leader_id);
        variable_ = look_up(variable_leader_id);
    }
    version_ = version_of({fixed_.data, fixed_.size});
}

hresult item_reader::get_long(item_value item, item_value index, item_value* values, item_value max,
                              item_value* actual) const {
    if (!values || max <= 0 || !actual) return e_invalidarg;
    try {
        if (!record_.data) return e_fail;
        // The bottom track is looked up only for its own items, once per reader.
        const bool bottom_item = item >= 7500 && item <= 7524;
        if (bottom_item && bottom_ == unknown) bottom_ = holder_.FindType(bottom_track_id);
        const int bottom = bottom_item ? bottom_ : -1;
        if (!fixed_.data || !variable_.data || (bottom_item && bottom < 0)) {
            std::fill(values, values + max, 0);
            *actual = max;
            return s_false;
        }
        *actual = 1;

        if (item >= first_catalogued && item <= last_catalogued) { // most scalar items
            const plain_field& f = plain_fields[static_cast<std::size_t>(item - first_catalogued)];
            if (f.plain) {
                const block& b = f.source == part::header  ? record_
                                 : f.source == part::fixed ? fixed_
                                                           : variable_;
                values[0] = read_plain(f, {b.data, b.size}, version_);
                return s_ok;
            }
        }
        if (const entry* e = find_entry(item)) {
            const view v = e->source == part::header  ? view{record_.data, record_.size}
                           : e->source == part::fixed ? view{fixed_.data, fixed_.size}
                           : e->source == part::variable
                               ? view{variable_.data, variable_.size}
                               : view{holder_.GetTypeAt(bottom), holder_.GetTypeSize(bottom)};
            return read_entry(*e, v, version_, index, values, max, actual);
        }
        if (const int which = profile_item_index(item, true); which >= 0)
            return read_profile(holder_, {fixed_.data, fixed_.size}, which, index, values, max,
                                actual);
        if (const int which = profile_item_index(item, false); which >= 0) {
            const std::uint16_t id = profile_layouts()[static_cast<std::size_t>(which)].id;
            if (holder_.FindType(id) < 0) {
                *actual = 0;
                return s_false;
            }
            values[0] = id;
            return s_ok;
        }
        return e_invalidarg;
    } catch (...) {
        return e_fail;
    }
}

item_plan::item_plan(std::span<const item_value> items) {
    for (const item_value item : items) {
        step& s = steps_.emplace_back(step{item, 0, 0, 0, false, false, false, 0, -1});
        if (item < first_catalogued || item > last_catalogued) continue;
        const plain_field& f = plain_fields[static_cast<std::size_t>(item - first_catalogued)];
        if (!f.plain || f.w == width::time3) continue;
        const int bytes = f.w == width::u8 ? 1 : f.w == width::u32 ? 4 : 2;
        s = {item,
             static_cast<std::uint8_t>(f.source),
             f.offset,
             static_cast<std::uint8_t>(32 - 8 * bytes),
             f.w == width::i16 || f.w == width::u32,
             true,
             f.number,
             f.shift,
             f.mask};
    }
}

void item_reader::values(const item_plan& plan, item_value* out) const {
    const bool leaders = has_leaders();
    const block* const parts[] = {&record_, &fixed_, &variable_}; // by part::header, ...
    for (const item_plan::step& s : plan.steps_) {
        if (!s.plain || !leaders) { // through the catalogue's conversions
            item_value value = 0, count = 0;
            *out++ = succeeded(get_long(s.item, HY_INDEX_ALL, &value, 1, &count)) ? value : 0;
            continue;
        }
        const block& b = *parts[s.source];
        const view v{b.data, b.size};
        if (s.offset + 4 > b.size) { // near the part's end: bounds checked
            *out++ = read_plain(plain_fields[static_cast<std::size_t>(s.item - first_catalogued)],
                                v, version_);
            continue;
        }
        // Four bytes at hand: the field is in their low bits.
        const std::uint32_t raw = read_u32(b.data + s.offset) << s.unused;
        const item_value field = s.is_signed ? static_cast<std::int32_t>(raw) >> s.unused
                                             : static_cast<item_value>(raw >> s.unused);
        const item_value value = (field >> s.shift) & s.mask;
        *out++ = s.number ? value + number_high_byte(v, version_) : value;
    }
}

hresult item_reader::get_point(item_value item, item_value index, item_point* points,
                               item_value max, item_value* actual) const {
    if (max <= 0 || !points || !actual) return e_invalidarg;
    *actual = 0;
    const int which = profile_item_index(item, true);
    if (which < 0) return e_invalidarg;
    if (index < 0 && index != HY_INDEX_ALL) return e_invalidarg;
    try {
        if (!held_) return e_fail;
        const profile_layout& l = profile_layouts()[static_cast<std::size_t>(which)];
        if (holder_.FindType(l.id) < 0) return s_false;
        if (!fixed_.data || !variable_.data) return e_fail;

        const view f{fixed_.data, fixed_.size};
        const view v{variable_.data, variable_.size};
        const std::int64_t cells = f.u8(9);
        const std::uint8_t* type = profile_type(holder_, l, cells);
        if (!type) return s_false;

        std::int64_t first_cell = version_ >= 151 ? f.u16(32) : 0;
        std::int64_t cell_length = f.u16(12);
        if (f.u16(4) & 0x80) { // beams point up: cells lie above the transducer
            first_cell = -first_cell;
            cell_length = -cell_length;
        }
        const std::int64_t transducer =
            static_cast<std::int64_t>(read_field(v, 16, width::i16)) * 10;

        const std::int64_t total = cells * l.values_per_cell;
        const std::int64_t k0 = index == HY_INDEX_ALL ? 0 : index;
        const std::int64_t end = std::min(total, k0 + max);
        *actual = k0 < end ? fill_points(type + 2, l, k0, end, transducer + first_cell, cell_length,
                                         points)
                           : 0;
        return s_ok;
    } catch (...) {
        return e_fail;
    }
}

hresult read_item(const CSNBasePersist& holder, item_value item, item_value* values, item_value max,
                  item_value* actual) {
    if (!values || max <= 0 || !actual) return e_invalidarg;
    try {
        if (!holder.holds_record()) return e_fail;
        const entry* e = find_entry(item);
        if (!e) return e_invalidarg;
        std::uint32_t record_bytes = 0;
        const std::uint8_t* record = holder.GetBuffer(&record_bytes);
        const view fixed = type_view(holder, holder.FindType(fixed_leader_id));
        const view v =
            e->source == part::header ? view{record, static_cast<int>(record_bytes)}
            : e->source == part::fixed
                ? fixed
                : type_view(holder, holder.FindType(e->source == part::variable ? variable_leader_id
                                                                                : bottom_track_id));
        return read_entry(*e, v, version_of(fixed), HY_INDEX_ALL, values, max, actual);
    } catch (...) {
        return e_fail;
    }
}

bool read_profile_values(const CSNBasePersist& holder, int which, std::vector<item_value>& out) {
    out.clear();
    if (which < 0 || which >= profile_item_count) return false;
    const profile_layout& l = profile_layouts()[static_cast<std::size_t>(which)];
    const std::int64_t cells = type_view(holder, holder.FindType(fixed_leader_id)).u8(9);
    const std::uint8_t* type = profile_type(holder, l, cells);
    if (!type) return false;
    out.resize(static_cast<std::size_t>(cells * l.values_per_cell));
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = profile_value(type, l, static_cast<std::int64_t>(k));
    return true;
}

bool cpu_serial_text(const CSNBasePersist& holder, std::string* text) {
    const view fixed = type_view(holder, holder.FindType(fixed_leader_id));
    if (!fixed.has(serial_offset, serial_bytes) || !in_serial_family(version_of(fixed)))
        return false;
    text->resize(2 * serial_bytes); // "%02X" of each byte
    for (int i = 0; i < serial_bytes; ++i) {
        const std::uint8_t byte = fixed.data[serial_offset + i];
        (*text)[2 * static_cast<std::size_t>(i)] = "0123456789ABCDEF"[byte >> 4];
        (*text)[2 * static_cast<std::size_t>(i) + 1] = "0123456789ABCDEF"[byte & 15];
    }
    return true;
}

hresult get_long(const CSNBasePersist& holder, item_value item, item_value index,
                 item_value* values, item_value max, item_value* actual) {
    return item_reader(holder).get_long(item, index, values, max, actual);
}

hresult get_point(const CSNBasePersist& holder, item_value item, item_value index,
                  item_point* points, item_value max, item_value* actual) {
    return item_reader(holder).get_point(item, index, points, max, actual);
}

} // namespace hyd
