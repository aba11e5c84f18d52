#include "datasource/descriptions.h"

#include "common/hy_exception.h"
#include "common/string_table.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_format.h"

#include <algorithm>
#include <iterator>

namespace hyd {

namespace {

// Where the column headings of an item come from.
enum class headings : std::uint8_t {
    beams,       // "Beam 1" to "Beam 4"
    beam5,       // "Beam 5" alone
    coordinates, // four headings chosen by the ensemble's coordinate system (item 7124)
};

// The profile (*_CELL) items in the order of profile_layouts(): their headings and value label.
struct profile_class {
    headings kind;
    int value_label;
};

using enum headings;
constexpr profile_class profile_classes[profile_item_count] = {
    {coordinates, 6201}, // 7701 velocity
    {beams, 6202},       // 7721 correlation
    {beams, 6203},       // 7741 echo intensity
    {beams, 6204},       // 7761 percent good
    {beams, 6205},       // 7781 status
    {beam5, 6201},       // 7801 beam-5 velocity
    {beam5, 6202},       // 7821 beam-5 correlation
    {beam5, 6203},       // 7841 beam-5 echo intensity
    {beam5, 6204},       // 7861 beam-5 percent good
    {beam5, 6205},       // 7881 beam-5 status
    {beams, 6206},       // 7901 good pings
    {coordinates, 6207}, // 7921 sums of squared velocities
    {coordinates, 6208}, // 7941 sums of velocities
    {beam5, 6206},       // 7961 beam-5 good pings
    {beam5, 6207},       // 7981 beam-5 sums of squared velocities
    {beam5, 6208},       // 8001 beam-5 sums of velocities
};

// clang-format off
constexpr item_group groups[] = {
    {5000, 7000, 7004, listed_always},
    {5001, 7100, 7149, listed_always},
    {5002, 7300, 7324, listed_always},
    {5003, 7700, 7701, velocity_id},
    {5004, 7720, 7721, correlation_id},
    {5005, 7740, 7741, echo_intensity_id},
    {5006, 7760, 7761, percent_good_id},
    {5007, 7780, 7781, status_id},
    {5008, 7500, 7524, bottom_track_id},
    {5009, 7800, 7801, b5_velocity_id},
    {5010, 7820, 7821, b5_correlation_id},
    {5011, 7840, 7841, b5_echo_intensity_id},
    {5012, 7860, 7861, b5_percent_good_id},
    {5013, 7880, 7881, b5_status_id},
    {5014, 11000, 11001, listed_always},
    {5015, 7900, 7901, good_pings_id},
    {5016, 7920, 7921, sum_squared_velocity_id},
    {5017, 7940, 7941, sum_velocity_id},
    {5018, 7960, 7961, b5_good_pings_id},
    {5019, 7980, 7981, b5_sum_squared_velocity_id},
    {5020, 8000, 8001, b5_sum_velocity_id},
};
// clang-format on

constexpr int beam5_heading = 8066; // the one heading of the beam-5 items
constexpr int data_type_heading = 6100;
constexpr int depth_label_text = 6300;

const profile_class* profile_class_of(item_value item) {
    const int i = profile_item_index(item, true);
    return i < 0 ? nullptr : &profile_classes[i];
}

} // namespace

void throw_fault(int line) {
    throw CHyException("HySNEnse", line);
}

item_value read_one(const item_source& src, item_value item) {
    item_value value = 0;
    item_value n = 0;
    if (failed(src.read_long(item, HY_INDEX_ALL, &value, 1, &n))) throw_fault(__LINE__);
    return value;
}

std::string column_heading(const item_source& src, item_value item, std::int64_t column) {
    const std::vector<std::string> list = column_headings(src, item);
    if (column < 0 || column >= static_cast<std::int64_t>(list.size())) throw_fault(__LINE__);
    return list[static_cast<std::size_t>(column)];
}

std::string cell_heading(const item_source& src, item_value item, item_value cell) {
    const std::vector<std::string> rows = row_headings(src, item, cell);
    if (rows.size() != 1) throw_fault(__LINE__);
    return rows[0];
}

hresult item_source::read_long(item_value item, item_value index, item_value* values,
                               item_value max, item_value* actual) const {
    return get_long(holder_, item, index, values, max, actual);
}

hresult item_source::read_points(item_value item, item_value index, item_point* points,
                                 item_value max, item_value* actual) const {
    return get_point(holder_, item, index, points, max, actual);
}

bool item_source::text(int id, std::string* out) const {
    const char* found = string_table_text(id);
    if (found == nullptr) return false;
    *out = found;
    return true;
}

std::span<const item_group> item_groups() {
    return groups;
}

const item_group* find_group(item_value sequence) {
    const auto it = std::ranges::find(groups, sequence, &item_group::sequence);
    return it == std::end(groups) ? nullptr : &*it;
}

int profile_columns(item_value item) {
    const int i = profile_item_index(item, true);
    return i < 0 ? 0 : profile_layouts()[static_cast<std::size_t>(i)].values_per_cell;
}

std::string required_text(const item_source& src, int id) {
    std::string text;
    if (!src.text(id, &text)) throw_fault(__LINE__);
    return text;
}

std::string insert_long(const std::string& format, long long value) {
    std::string out = format;
    if (const auto at = out.find("%ld"); at != std::string::npos)
        out.replace(at, 3, std::to_string(value));
    return out;
}

std::vector<std::string> column_headings(const item_source& src, item_value item) {
    std::vector<std::string> out;
    if (item == HEADER_OFFSETS) {
        const item_value types = read_one(src, HEADER_OFFSETS - 1); // number of data types
        const std::string format = required_text(src, data_type_heading);
        for (item_value i = 0; i < types; ++i) out.push_back(insert_long(format, i));
        return out;
    }
    headings kind = beams;
    if (const profile_class* c = profile_class_of(item))
        kind = c->kind;
    else if (is_per_beam_item(item))
        kind = item == 7510 || item == 7517 ? coordinates : beams;
    else
        throw_fault(__LINE__);
    if (kind == beam5) return {required_text(src, beam5_heading)};
    const int first =
        kind == beams ? beam_heading_text : beam_heading_text + 4 * read_one(src, 7124);
    for (int i = 0; i < 4; ++i) out.push_back(required_text(src, first + i));
    return out;
}

std::vector<std::string> row_headings(const item_source& src, item_value item, item_value index) {
    const int columns = profile_columns(item);
    if (columns == 0) throw_fault(__LINE__);
    const std::int64_t cells = read_one(src, FIX_NBINS);
    // The first value of the cell(s) asked for, and room for every value of them.
    std::int64_t first = HY_INDEX_ALL;
    std::int64_t room = 1;
    if (index == HY_INDEX_ALL)
        room = std::clamp<std::int64_t>(columns * cells, 0, 4 * 255); // cells are a byte
    else if (index < 0)
        first = -(static_cast<std::int64_t>(index) + 1);
    else
        first = static_cast<std::int64_t>(columns) * index;
    if (room < 1 || first > INT32_MAX) throw_fault(__LINE__);
    std::vector<item_point> points(static_cast<std::size_t>(room));
    item_value got = 0;
    if (failed(src.read_points(item, static_cast<item_value>(first), points.data(),
                               static_cast<item_value>(room), &got)) ||
        got <= 0)
        throw_fault(__LINE__);
    std::vector<std::string> out;
    for (std::int64_t k = 0; k < std::min<std::int64_t>(got, room); k += columns)
        out.push_back(std::to_string(points[static_cast<std::size_t>(k)].y) + " cm");
    return out;
}

std::vector<std::string> describe_element(const item_source& src, item_value item,
                                          item_value index) {
    if (index == HY_INDEX_ALL) return {required_text(src, item)};
    if (is_per_beam_item(item))
        return {column_heading(src, item, index) + " " + required_text(src, item)};
    const int columns = profile_columns(item);
    if (columns == 0) throw_fault(__LINE__);
    if (index >= 0) return {required_text(src, item) + ", " + cell_heading(src, item, index)};
    const std::int64_t k = -(static_cast<std::int64_t>(index) + 1);
    return {column_heading(src, item, k % columns) + " " + required_text(src, item) + ", " +
            cell_heading(src, item, static_cast<item_value>(k / columns))};
}

std::vector<std::string> value_label(const item_source& src, item_value item) {
    const profile_class* c = profile_class_of(item);
    if (c == nullptr) throw_fault(__LINE__);
    return {required_text(src, c->value_label)};
}

std::vector<std::string> depth_label(const item_source& src, item_value item) {
    if (profile_class_of(item) == nullptr) throw_fault(__LINE__);
    return {required_text(src, depth_label_text)};
}

hresult item_dimensions(const item_source& src, item_value item, item_value index, item_value* cx,
                        item_value* cy) {
    item_value n = 0;
    if (item == HEADER_OFFSETS) {
        // As many columns as the ensemble has data types.
        if (const hresult hr = src.read_long(HEADER_OFFSETS - 1, HY_INDEX_ALL, cx, 1, &n);
            failed(hr))
            return hr;
        *cy = 1;
        return s_ok;
    }
    *cx = 1;
    *cy = 1;
    if (is_per_beam_item(item)) {
        if (index == HY_INDEX_ALL) *cx = 4;
        return s_ok;
    }
    const int columns = profile_columns(item);
    if (columns == 0) return s_ok;
    if (index == HY_INDEX_ALL) {
        // A whole profile: one row per depth cell.
        *cx = columns;
        const hresult hr = src.read_long(FIX_NBINS, HY_INDEX_ALL, cy, 1, &n);
        return failed(hr) ? hr : s_ok;
    }
    if (index >= 0) *cx = columns; // one depth cell; a negative index is one value
    return s_ok;
}

bool extent_sample(item_value item, const date_time_format& format, std::string* out) {
    switch (item) {
    case HEADER_ID_ADDRESS:
    case 7322:
    case 7324:
        *out = "4294967295"; // %lu of 0xFFFFFFFF
        return true;
    case FIX_CPU_SERIAL:
        *out = std::string(16, 'A');
        return true;
    case 7921:
    case 7941:
    case 7981:
    case 8001:
        *out = "2147483648"; // %lu of 0x80000000
        return true;
    case DERIVED_ENSDT:
        return format_item_date(format, 1999, 12, 31, out);
    case DERIVED_ENSTM:
        return format_item_time(format, 12, 59, 59, 59, out);
    default:
        *out = "-32768";
        return true;
    }
}

} // namespace hyd
