// Texts of the three text items of an ensemble: the CPU board serial number (7149), the ensemble
// date (11000) and the ensemble time (11001). The COM GetString calls get_item_string with a
// reader that goes through its own GetLong (so extensions see those reads); tools use the overload
// that reads with the core's get_long.
#pragma once

#include "common/date_time_format.h"
#include "common/result_codes.h"
#include "ensemble/persist.h"

#include <functional>
#include <string>

namespace hyd {

// Reads one value of an item as GetLong(item, HY_INDEX_ALL, value, 1, &count) does. A failure
// code is passed back unchanged; S_FALSE (zeros for a missing leader) is not a failure.
using long_reader = std::function<hresult(item_value item, item_value* value)>;

// The text of `item`:
// - 7149: the 8 serial bytes at fixed-leader offset 42 as 16 upper-case hex digits. S_FALSE (text
//   untouched) without a fixed leader, when the firmware is outside 813-899 and 913-999, or when
//   the fixed leader is too short to hold the bytes. E_FAIL when nothing is held.
// - 11000: month, day and year read in that order through read_long (first failure returned); a
//   two-digit year below 80 is 20xx, else 19xx; formatted as the locale's short date.
// - 11001: hour, minute, second and hundredths read in that order; the locale's 24-hour time
//   followed by ".%02ld" of the hundredths.
// E_FAIL when the date or time does not exist or cannot be formatted, E_INVALIDARG for any other
// item or a null text. *text is written only on S_OK.
// Dates and times are formatted by `format`.
hresult get_item_string(const CSNBasePersist& holder, item_value item, const long_reader& read_long,
                        const date_time_format& format, std::string* text);

// The same, reading the items with the core's get_long.
hresult get_item_string(const CSNBasePersist& holder, item_value item,
                        const date_time_format& format, std::string* text);

// The building blocks, shared with the display-extent samples: the full year of a two-digit
// ensemble year, and the date and time texts exactly as get_item_string makes them (false when
// the date or time does not exist or the platform fails).
int ensemble_full_year(item_value two_digit_year);
bool format_item_date(const date_time_format& format, int full_year, int month, int day,
                      std::string* out);
bool format_item_time(const date_time_format& format, int hour, int minute, int second,
                      int hundredths, std::string* out);

} // namespace hyd
