// What a host shows besides the values: names of items and their elements, column and row
// headings, value and depth labels, array dimensions and the widest value text of an item. The
// item classes behind them (groups, profile items with their columns and headings) are data, in
// descriptions.cpp, shared by the COM object and the hyd tool.
//
// Every function reads through an item_source: the core's own reads and the portable string table
// by default; the COM object routes the reads through its own GetLong/GetPoint (so extensions see
// them) and takes the texts from its resources. Failures are thrown as CHyException.
#pragma once

#include "common/date_time_format.h"
#include "common/result_codes.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hyd {

class item_source {
  public:
    explicit item_source(const CSNBasePersist& holder) : holder_(holder) {}
    virtual ~item_source() = default;
    item_source(const item_source&) = delete;
    item_source& operator=(const item_source&) = delete;

    // GetLong and GetPoint of the held ensemble.
    virtual hresult read_long(item_value item, item_value index, item_value* values, item_value max,
                              item_value* actual) const;
    virtual hresult read_points(item_value item, item_value index, item_point* points,
                                item_value max, item_value* actual) const;
    // The string-table text with number id; false when the table has none.
    virtual bool text(int id, std::string* out) const;

    const CSNBasePersist& holder() const { return holder_; }
    // An ensemble counts as loaded while a record is held.
    bool loaded() const { return holder_.holds_record(); }

  private:
    const CSNBasePersist& holder_;
};

// A group of items (a sequence): its number (also the string number of its name), its item range
// and the data type whose presence decides whether a loaded ensemble lists it.
inline constexpr std::int32_t listed_always = -1;
struct item_group {
    item_value sequence;
    item_value first;
    item_value last;
    std::int32_t type_id;
};
// Every group, 5000 to 5020 in order.
std::span<const item_group> item_groups();
const item_group* find_group(item_value sequence);

// String numbers of the beam headings (8050 + 4 x coordinate system + column) and of the row
// heading of a depth cell without an ensemble ("Bin %ld").
inline constexpr int beam_heading_text = 8050;
inline constexpr int bin_heading_text = 8067;

// Columns of a profile (*_CELL) item: 4 for the four-beam items, 1 for the beam-5 items, 0 for
// any other item.
int profile_columns(item_value item);

// The five kinds of description text (GetDescription's nType 0 to 4).
std::vector<std::string> describe_element(const item_source& src, item_value item,
                                          item_value index);
std::vector<std::string> column_headings(const item_source& src, item_value item);
std::vector<std::string> row_headings(const item_source& src, item_value item, item_value index);
std::vector<std::string> value_label(const item_source& src, item_value item);
std::vector<std::string> depth_label(const item_source& src, item_value item);

// Columns (cx) and rows (cy) of an item; a failing read of the counts is returned unchanged.
hresult item_dimensions(const item_source& src, item_value item, item_value index, item_value* cx,
                        item_value* cy);

// A text as wide as the widest value text of the item; false when a date or time sample cannot be
// formatted.
bool extent_sample(item_value item, const date_time_format& format, std::string* out);

// Column heading `column` and the one row heading of depth cell `cell`; throw when missing.
std::string column_heading(const item_source& src, item_value item, std::int64_t column);
std::string cell_heading(const item_source& src, item_value item, item_value cell);

// The building blocks: the string-table text id, which must exist; a text with its first "%ld"
// replaced by value; one value read as GetLong(item, HY_INDEX_ALL, &value, 1, &n) that must not
// fail; and the fault these throw, with the line that found it.
std::string required_text(const item_source& src, int id);
std::string insert_long(const std::string& format, long long value);
item_value read_one(const item_source& src, item_value item);
[[noreturn]] void throw_fault(int line);

} // namespace hyd
