#include "common/date_time_format_win.h"

#include <windows.h>

namespace hyd {

namespace {

class windows_format final : public date_time_format {
  public:
    bool short_date(int year, int month, int day, std::string* out) const override {
        if (!out || !is_valid_date(year, month, day)) return false;
        SYSTEMTIME st{};
        st.wYear = static_cast<WORD>(year);
        st.wMonth = static_cast<WORD>(month);
        st.wDay = static_cast<WORD>(day);
        char buffer[128];
        const int n = GetDateFormatA(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE | DATE_SHORTDATE,
                                     &st, nullptr, buffer, sizeof buffer);
        if (n <= 0) return false;
        out->assign(buffer);
        return true;
    }

    bool time_24h(int hour, int minute, int second, int milliseconds,
                  std::string* out) const override {
        if (!out || !is_valid_time(hour, minute, second, milliseconds)) return false;
        SYSTEMTIME st{};
        st.wHour = static_cast<WORD>(hour);
        st.wMinute = static_cast<WORD>(minute);
        st.wSecond = static_cast<WORD>(second);
        st.wMilliseconds = static_cast<WORD>(milliseconds);
        char buffer[128];
        const int n = GetTimeFormatA(
            LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER,
            &st, nullptr, buffer, sizeof buffer);
        if (n <= 0) return false;
        out->assign(buffer);
        return true;
    }
};

} // namespace

const date_time_format& windows_date_time_format() {
    static const windows_format made;
    return made;
}

} // namespace hyd
