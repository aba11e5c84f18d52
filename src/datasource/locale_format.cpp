// The checks shared by every platform, and the formatting through the C library's locale where
// there is no Windows national-language support.
#include "datasource/locale_format.h"

#ifndef _WIN32
#include <clocale>
#include <ctime>
#include <locale.h>
#endif

namespace hyd {

bool is_valid_date(int year, int month, int day) {
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool is_valid_time(int hour, int minute, int second, int milliseconds) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 &&
           milliseconds >= 0 && milliseconds <= 999;
}

#ifndef _WIN32

namespace {

// The environment's time locale, made once and never freed; the process-wide locale that a host
// may have set with setlocale is left alone.
locale_t user_time_locale() {
    static const locale_t made = [] {
        locale_t l = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return made;
}

bool format_tm(const char* format, const std::tm& tm, std::string* out) {
    const locale_t l = user_time_locale();
    if (!l) return false;
    char buffer[128];
    const std::size_t n = strftime_l(buffer, sizeof buffer, format, &tm, l);
    if (n == 0) return false;
    out->assign(buffer, n);
    return true;
}

} // namespace

bool format_short_date(int year, int month, int day, std::string* out) {
    if (!out || !is_valid_date(year, month, day)) return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    // The weekday, for locales whose short date shows it (Zeller's congruence, 0 = Sunday).
    const int m = month < 3 ? month + 12 : month;
    const int y = month < 3 ? year - 1 : year;
    tm.tm_wday = (day + 13 * (m + 1) / 5 + y + y / 4 - y / 100 + y / 400 + 6) % 7;
    return format_tm("%x", tm, out);
}

bool format_time_24h(int hour, int minute, int second, int milliseconds, std::string* out) {
    if (!out || !is_valid_time(hour, minute, second, milliseconds)) return false;
    std::tm tm{};
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return format_tm("%H:%M:%S", tm, out);
}

#endif

} // namespace hyd
