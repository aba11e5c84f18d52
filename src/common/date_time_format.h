// The one platform seam of the item texts: a calendar date as a short date and a time of day as a
// 24-hour time without a marker. Callers pass the formatter in, so the portable code never reaches
// for a platform library: Windows hosts use the national-language formatter
// (date_time_format_win.h), everyone else the C library's.
#pragma once

#include <string>

namespace hyd {

// True for a date of the Gregorian calendar (month 1-12, day within the month, year 1601-30827,
// the range every platform formats); anything else fails to format on every platform.
bool is_valid_date(int year, int month, int day);
// True for hour 0-23, minute 0-59, second 0-59, milliseconds 0-999.
bool is_valid_time(int hour, int minute, int second, int milliseconds);

class date_time_format {
  public:
    virtual ~date_time_format() = default;
    // False, with *out untouched, when the date does not exist or cannot be formatted.
    virtual bool short_date(int year, int month, int day, std::string* out) const = 0;
    // Milliseconds are checked but not shown. False as above.
    virtual bool time_24h(int hour, int minute, int second, int milliseconds,
                          std::string* out) const = 0;
};

// The environment's locale through the C library: its date order and separators, always with a
// four-digit year (a two-digit one would hide the century rule of the ensemble year), and
// `%H:%M:%S`. Where the C library has no locale support (Windows), ISO 8601 `YYYY-MM-DD`.
const date_time_format& c_library_date_time_format();

} // namespace hyd
