// Item values of a held ensemble: every field by its numeric item ID, as 32-bit integers (GetLong)
// or as (value, depth) points of the profile items (GetPoint). The COM face calls these and then
// passes successful calls on to the host's extensions; the core knows nothing of extensions.
//
// Choices where the record format leaves room:
// - HEADER_ID_ADDRESS (7001) gives the low 32 bits of the held record's address: enough to tell
//   two records apart in one process, never to be dereferenced.
// - HEADER_OFFSETS (7004) gives the raw table entries that lie inside the record (a truncated
//   record may hold fewer than N of them), at most cMax.
// - A field that lies beyond the end of its data type (a short leader or bottom track) reads as 0
//   with S_OK, like a field the firmware version does not have.
// - Per-beam bottom-track items with an nIndex other than 0-3 or HY_INDEX_ALL, and GetPoint with
//   a negative nIndex other than HY_INDEX_ALL, give E_INVALIDARG with *actual = 0.
// - A profile data type with fewer bytes than (cells x values per cell x width) is treated as
//   absent (S_FALSE, no values), for GetLong and GetPoint alike.
// - With nothing held both give E_FAIL after the argument checks; GetLong leaves *actual as it
//   was, GetPoint has already set it to 0.
#pragma once

#include "common/result_codes.h"
#include "ensemble/persist.h"

#include <climits>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hyd {

// nIndex meaning "all elements of the item".
inline constexpr item_value HY_INDEX_ALL = static_cast<item_value>(INT32_MIN);

// Layout-compatible with the Win32 POINTL: a value in x, its depth cell's depth (cm) in y.
struct item_point {
    item_value x;
    item_value y;
    friend constexpr bool operator==(const item_point&, const item_point&) = default;
};

// Item IDs that name a group or a rule rather than one field.
inline constexpr item_value HEADER_ID = 7000;
inline constexpr item_value HEADER_ID_ADDRESS = 7001;
inline constexpr item_value HEADER_OFFSETS = 7004;
inline constexpr item_value FIX_NBINS = 7113;
inline constexpr item_value FIX_CPU_SERIAL = 7149;
inline constexpr item_value VAR_TYEAR = 7302;
inline constexpr item_value VAR_TMONTH = 7303;
inline constexpr item_value VAR_TDAY = 7304;
inline constexpr item_value VAR_THOUR = 7305;
inline constexpr item_value VAR_TMIN = 7306;
inline constexpr item_value VAR_TSEC = 7307;
inline constexpr item_value VAR_THSEC = 7308;
inline constexpr item_value VEL_ID = 7700;
inline constexpr item_value VEL_CELL = 7701;
inline constexpr item_value DERIVED_ENSDT = 11000;
inline constexpr item_value DERIVED_ENSTM = 11001;

// The profile items run from 7700 in steps of 20, one pair per profile data type in the order of
// profile_layouts(): base = *_ID, base + 1 = *_CELL.
inline constexpr item_value profile_item_first = 7700;
inline constexpr item_value profile_item_step = 20;
inline constexpr int profile_item_count = 16;
inline constexpr item_value profile_id_item(int i) {
    return profile_item_first + profile_item_step * i;
}
inline constexpr item_value profile_cell_item(int i) {
    return profile_id_item(i) + 1;
}
// Index into profile_layouts() of a *_CELL item (cell = true) or *_ID item; -1 for other items.
int profile_item_index(item_value item, bool cell);

// The per-beam bottom-track items (nIndex selects the beam).
bool is_per_beam_item(item_value item);

// Every item ID that GetLong answers (the catalogue less 7149, 11000 and 11001), ascending.
std::span<const item_value> long_items();

// Items a summary reads from every record, looked up in the catalogue once: item_reader::values
// reads each plain field of the header and the leaders straight from its part.
class item_plan {
  public:
    explicit item_plan(std::span<const item_value> items);

  private:
    friend class item_reader;
    struct step { // a plain field, as the catalogue's table of them has it
        item_value item;
        std::uint8_t source; // 0 header, 1 fixed leader, 2 variable leader
        std::uint8_t offset;
        std::uint8_t unused; // bits of the four bytes at offset that are not the field's
        bool is_signed;
        bool plain;         // else read through the catalogue's conversions
        bool number;        // the ensemble number: plus its high byte
        std::uint8_t shift; // a bit field: (value >> shift) & mask
        item_value mask;
    };
    std::vector<step> steps_;
};

// Item reads of one held record with its leaders looked up once, for callers that read many items
// of it in a row (the tools). Its answers are those of get_long and get_point. It points into the
// held record: valid until the holder's next Load.
class item_reader {
  public:
    explicit item_reader(const CSNBasePersist& holder);
    hresult get_long(item_value item, item_value index, item_value* values, item_value max,
                     item_value* actual) const;
    hresult get_point(item_value item, item_value index, item_point* points, item_value max,
                      item_value* actual) const;
    // For each item of the plan, in order, the first value as get_long(item, HY_INDEX_ALL, values,
    // 1, ...) writes it when that succeeds, else 0: what summaries read, the leaders' single
    // values of every record without a check per call.
    void values(const item_plan& plan, item_value* out) const;

    struct block { // bytes of the record or of one data type; null when absent
        const std::uint8_t* data = nullptr;
        int size = 0;
    };
    // The fixed leader as found when the reader was made; both leaders are needed for any item.
    const block& fixed_leader() const { return fixed_; }
    bool has_leaders() const { return fixed_.data && variable_.data; }

  private:
    const CSNBasePersist& holder_;
    bool held_;
    block record_, fixed_, variable_;
    int version_;
    static constexpr int unknown = -2;
    mutable int bottom_ = unknown; // the bottom track's index, looked up on first use
};

// GetLong semantics over the record held by `holder`: E_FAIL when nothing is held, E_INVALIDARG for
// bad arguments or IDs outside the catalogue, S_FALSE with zeros or no values where the data type
// is missing, S_OK with *actual values written.
hresult get_long(const CSNBasePersist& holder, item_value item, item_value index,
                 item_value* values, item_value max, item_value* actual);

// One catalogue item of the header, the leaders or the bottom track (not the profile items), read
// as GetLong with HY_INDEX_ALL reads it but without its presence rules: a leader or bottom track
// that is missing reads as zeros and its firmware version as 0. E_INVALIDARG for any other ID,
// E_FAIL when nothing is held.
hresult read_item(const CSNBasePersist& holder, item_value item, item_value* values, item_value max,
                  item_value* actual);

// Every value of profile data type `which` (an index into profile_layouts()) in record order:
// cells x values per cell, cells from the fixed leader (0 without one). False, with `out` empty,
// when the data type is absent or shorter than that.
bool read_profile_values(const CSNBasePersist& holder, int which, std::vector<item_value>& out);

// The CPU board serial number (FIX_CPU_SERIAL) as 16 upper-case hex digits; false when there is
// no fixed leader that holds it or the firmware is outside 813-899 and 913-999.
bool cpu_serial_text(const CSNBasePersist& holder, std::string* text);

// GetPoint semantics: only the sixteen *_CELL profile items.
hresult get_point(const CSNBasePersist& holder, item_value item, item_value index,
                  item_point* points, item_value max, item_value* actual);

} // namespace hyd
