// The one platform seam of the item texts: a calendar date as the user's short date and a time of
// day as the user's 24-hour time without a marker. Windows uses its national-language formatting
// (locale_format_win.cpp, in hyd_win); elsewhere the C library's locale formats.
#pragma once

#include <string>

namespace hyd {

// True for a date of the Gregorian calendar (month 1-12, day within the month, year 1601-30827,
// the range every platform formats); anything else fails to format on every platform.
bool is_valid_date(int year, int month, int day);
// True for hour 0-23, minute 0-59, second 0-59, milliseconds 0-999.
bool is_valid_time(int hour, int minute, int second, int milliseconds);

// The short date of the user's default locale (no user overrides on Windows; on other systems the
// locale of the environment, `%x`). False, with *out untouched, when the date does not exist or
// the platform cannot format it.
bool format_short_date(int year, int month, int day, std::string* out);
// The time of the user's default locale in 24-hour form without a time marker (elsewhere
// `%H:%M:%S`); milliseconds are checked but not shown. False as above.
bool format_time_24h(int hour, int minute, int second, int milliseconds, std::string* out);

} // namespace hyd
