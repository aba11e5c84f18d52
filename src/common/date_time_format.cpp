#include "common/date_time_format.h"

#include <ctime>

#ifndef _WIN32
#include <langinfo.h>
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

namespace {

class c_library_format final : public date_time_format {
  public:
    c_library_format() {
#ifndef _WIN32
        // The environment's time locale, made once and kept; a host's setlocale is left alone.
        locale_ = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        if (!locale_) locale_ = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
        const char* order = locale_ ? nl_langinfo_l(D_FMT, locale_) : nullptr;
        date_format_ = order && *order ? order : "%m/%d/%y";
        for (std::size_t at = 0; (at = date_format_.find("%y", at)) != std::string::npos; at += 2)
            date_format_[at + 1] = 'Y';
#else
        date_format_ = "%Y-%m-%d";
#endif
    }

    bool short_date(int year, int month, int day, std::string* out) const override {
        if (!out || !is_valid_date(year, month, day)) return false;
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_isdst = -1;
        // The weekday, for locales whose date shows it (Zeller's congruence, 0 = Sunday).
        const int m = month < 3 ? month + 12 : month;
        const int y = month < 3 ? year - 1 : year;
        tm.tm_wday = (day + 13 * (m + 1) / 5 + y + y / 4 - y / 100 + y / 400 + 6) % 7;
        return format(date_format_.c_str(), tm, out);
    }

    bool time_24h(int hour, int minute, int second, int milliseconds,
                  std::string* out) const override {
        if (!out || !is_valid_time(hour, minute, second, milliseconds)) return false;
        std::tm tm{};
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        return format("%H:%M:%S", tm, out);
    }

  private:
    bool format(const char* pattern, const std::tm& tm, std::string* out) const {
        char buffer[128];
#ifndef _WIN32
        if (!locale_) return false;
        const std::size_t n = strftime_l(buffer, sizeof buffer, pattern, &tm, locale_);
#else
        const std::size_t n = std::strftime(buffer, sizeof buffer, pattern, &tm);
#endif
        if (n == 0) return false;
        out->assign(buffer, n);
        return true;
    }

#ifndef _WIN32
    locale_t locale_ = nullptr;
#endif
    std::string date_format_;
};

} // namespace

const date_time_format& c_library_date_time_format() {
    static const c_library_format made;
    return made;
}

} // namespace hyd
