// Texts of the serial number, ensemble date and ensemble time items.
#include "common/date_time_format.h"
#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"

#include <gtest/gtest.h>

namespace hyd {
namespace {

const date_time_format& fmt = c_library_date_time_format();

void hold(CSNPersist& p, const build::bytes& record) {
    memory_stream s(record);
    ASSERT_TRUE(succeeded(p.Load(s)));
}

TEST(ItemStrings, SerialNumberOnlyWhereTheFirmwareHasOne) {
    // Firmware major and minor, fixed-leader bytes (49: ends inside the serial; 0: none), result.
    const std::tuple<int, int, std::size_t, hresult> rows[] = {
        {8, 12, 59, s_false}, {8, 13, 59, s_ok},    {8, 99, 59, s_ok},    {9, 12, 59, s_false},
        {9, 113, 59, s_ok},   {9, 99, 59, s_ok},    {10, 5, 59, s_false}, {7, 50, 59, s_false},
        {9, 40, 50, s_ok},    {9, 40, 49, s_false}, {9, 40, 0, s_false}};
    for (const auto& [major, minor, fixed_bytes, hr] : rows) {
        build::fixed_leader f;
        f.firmware_major = std::uint8_t(major), f.firmware_minor = std::uint8_t(minor);
        f.cpu_serial = {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89};
        build::bytes fixed = build::encode(f);
        fixed.resize(fixed_bytes);
        build::ensemble_builder b;
        if (!fixed.empty()) b.add(fixed);
        CSNPersist p;
        hold(p, b.add(build::variable_leader{}).build());
        std::string text = "untouched";
        EXPECT_EQ(get_item_string(p, FIX_CPU_SERIAL, fmt, &text), hr) << major << "." << minor;
        EXPECT_EQ(text, hr == s_ok ? "ABCDEF0123456789" : "untouched");
    }
}

TEST(ItemStrings, DateAndTimeFromTheVariableLeader) {
    // Year, month, day, hour, minute, second, hundredths; the date's and the time's result.
    const std::tuple<int, int, int, int, int, int, int, hresult, hresult> rows[] = {
        {99, 12, 31, 7, 3, 9, 4, s_ok, s_ok},     {5, 1, 2, 15, 59, 59, 99, s_ok, s_ok},
        {79, 6, 30, 23, 0, 0, 0, s_ok, s_ok},     {80, 7, 1, 0, 0, 0, 0, s_ok, s_ok},
        {0, 2, 29, 24, 0, 0, 0, s_ok, e_fail},    {4, 2, 29, 0, 60, 0, 0, s_ok, e_fail},
        {99, 2, 29, 0, 0, 60, 0, e_fail, e_fail}, {26, 4, 31, 0, 0, 0, 100, e_fail, e_fail},
        {26, 12, 32, 0, 0, 0, 0, e_fail, s_ok},   {26, 0, 5, 0, 0, 0, 0, e_fail, s_ok},
        {26, 13, 5, 0, 0, 0, 0, e_fail, s_ok},    {26, 12, 0, 0, 0, 0, 0, e_fail, s_ok}};
    for (const auto& [year, month, day, hour, minute, second, hundredths, date_hr, time_hr] :
         rows) {
        build::variable_leader v;
        v.year = std::uint8_t(year), v.month = std::uint8_t(month), v.day = std::uint8_t(day);
        v.hour = std::uint8_t(hour), v.minute = std::uint8_t(minute);
        v.second = std::uint8_t(second), v.hundredths = std::uint8_t(hundredths);
        CSNPersist p;
        hold(p, build::ensemble_builder().add(build::fixed_leader{}).add(v).build());
        std::string date = "untouched", time = "untouched", want_date = "untouched", want_time;
        EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt, &date), date_hr)
            << year << "-" << month << "-" << day;
        EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt, &time), time_hr) << hour << ":" << minute;
        if (date_hr == s_ok)
            fmt.short_date(year + (year < 80 ? 2000 : 1900), month, day, &want_date);
        if (time_hr == s_ok) fmt.time_24h(hour, minute, second, 0, &want_time);
        EXPECT_EQ(date, want_date);
        EXPECT_EQ(time, time_hr == s_ok ? want_time + (hundredths < 10 ? ".0" : ".") +
                                              std::to_string(hundredths)
                                        : "untouched");
#ifndef _WIN32
        EXPECT_TRUE(year != 99 || month != 12 || time == "07:03:09.04") << time;
#endif
    }
}

TEST(ItemStrings, ReadsInOrderUntilTheFirstFailure) {
    CSNPersist p;
    std::vector<item_value> asked;
    const auto failing_on = [&asked](item_value bad, hresult other) -> long_reader {
        return [&asked, bad, other](item_value item, item_value* value) {
            asked.push_back(item);
            return *value = 1, item == bad ? HY_E_IO : other;
        };
    };
    std::string text = "untouched";
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, failing_on(VAR_TDAY, s_ok), fmt, &text), HY_E_IO);
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, failing_on(VAR_THSEC, s_ok), fmt, &text), HY_E_IO);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, failing_on(0, s_false), fmt, &text), s_ok);
    EXPECT_EQ(asked, (std::vector<item_value>{VAR_TMONTH, VAR_TDAY, VAR_THOUR, VAR_TMIN, VAR_TSEC,
                                              VAR_THSEC, VAR_TMONTH, VAR_TDAY, VAR_TYEAR}));
}

TEST(ItemStrings, MissingLeaderNothingHeldAndOtherItems) {
    CSNPersist p;
    std::string text = "untouched", midnight;
    for (item_value item : {FIX_CPU_SERIAL, DERIVED_ENSDT, DERIVED_ENSTM})
        EXPECT_EQ(get_item_string(p, item, fmt, &text), e_fail) << item;
    // Without a variable leader the reads give zeros: month 0 is no date, 0:00:00 is a time.
    hold(p, build::ensemble_builder().add(build::fixed_leader{}).build());
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt, &text), e_fail);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt, &text), s_ok);
    ASSERT_TRUE(fmt.time_24h(0, 0, 0, 0, &midnight));
    EXPECT_EQ(text, midnight + ".00");
    for (item_value item : {7301, 7148, 11002})
        EXPECT_EQ(get_item_string(p, item, fmt, &text), e_invalidarg) << item;
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt, nullptr), e_invalidarg);
}

} // namespace
} // namespace hyd
