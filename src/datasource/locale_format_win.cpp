// Dates and times of the item texts through Windows' national-language formatting, for the user's
// default locale without user overrides.
#include "datasource/locale_format.h"

#include <windows.h>

namespace hyd {

bool format_short_date(int year, int month, int day, std::string* out) {
    if (!out || !is_valid_date(year, month, day)) return false;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    char buffer[128];
    const int n = GetDateFormatA(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE | DATE_SHORTDATE, &st,
                                 nullptr, buffer, sizeof buffer);
    if (n <= 0) return false;
    out->assign(buffer);
    return true;
}

bool format_time_24h(int hour, int minute, int second, int milliseconds, std::string* out) {
    if (!out || !is_valid_time(hour, minute, second, milliseconds)) return false;
    SYSTEMTIME st{};
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(milliseconds);
    char buffer[128];
    const int n = GetTimeFormatA(LOCALE_USER_DEFAULT,
                                 LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER,
                                 &st, nullptr, buffer, sizeof buffer);
    if (n <= 0) return false;
    out->assign(buffer);
    return true;
}

} // namespace hyd
