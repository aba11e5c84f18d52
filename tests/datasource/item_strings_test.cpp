// Texts of the serial number, ensemble date and ensemble time items: qualification rules, the
// reads they make, the calendar checks and the shape of the texts.
#include "common/date_time_format.h"
#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hyd {
namespace {

const date_time_format& fmt() {
    return c_library_date_time_format();
}

using build::bytes;

bytes record(const build::fixed_leader& f, const build::variable_leader& v,
             bool with_variable = true) {
    build::ensemble_builder b;
    b.add(f);
    if (with_variable) b.add(v);
    return b.build();
}

void hold(CSNPersist& p, const bytes& r) {
    memory_stream s(r);
    ASSERT_TRUE(succeeded(p.Load(s)));
}

struct SerialCase {
    std::uint8_t major, minor;
    hresult hr;
};

class Serial : public ::testing::TestWithParam<SerialCase> {};

TEST_P(Serial, OnlyTheFamilyHasIt) {
    const SerialCase& c = GetParam();
    build::fixed_leader f;
    f.firmware_major = c.major;
    f.firmware_minor = c.minor;
    CSNPersist p;
    hold(p, record(f, {}));
    std::string text = "untouched";
    EXPECT_EQ(get_item_string(p, FIX_CPU_SERIAL, fmt(), &text), c.hr);
    EXPECT_EQ(text, c.hr == s_ok ? "001AFF030000007E" : "untouched");
}

INSTANTIATE_TEST_SUITE_P(Firmware, Serial,
                         ::testing::Values(SerialCase{8, 12, s_false}, SerialCase{8, 13, s_ok},
                                           SerialCase{8, 99, s_ok}, SerialCase{9, 12, s_false},
                                           SerialCase{9, 13, s_ok}, SerialCase{9, 113, s_ok},
                                           SerialCase{9, 99, s_ok}, SerialCase{10, 5, s_false},
                                           SerialCase{7, 50, s_false}));

TEST(Serial, AbsentOrShortFixedLeaderAndNothingHeld) {
    CSNPersist p;
    std::string text;
    EXPECT_EQ(get_item_string(p, FIX_CPU_SERIAL, fmt(), &text), e_fail);

    hold(p, build::ensemble_builder().add(build::variable_leader{}).build());
    EXPECT_EQ(get_item_string(p, FIX_CPU_SERIAL, fmt(), &text), s_false);

    // A fixed leader that ends before the serial bytes do.
    bytes shortened = build::encode(build::fixed_leader{});
    shortened.resize(46);
    hold(p, build::ensemble_builder().add(shortened).add(build::variable_leader{}).build());
    EXPECT_EQ(get_item_string(p, FIX_CPU_SERIAL, fmt(), &text), s_false);
}

TEST(Serial, EveryByteAsTwoUpperCaseDigits) {
    build::fixed_leader f;
    f.cpu_serial = {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89};
    CSNPersist p;
    hold(p, record(f, {}));
    std::string text;
    EXPECT_EQ(get_item_string(p, FIX_CPU_SERIAL, fmt(), &text), s_ok);
    EXPECT_EQ(text, "ABCDEF0123456789");
}

TEST(Date, TwoDigitYearsAndTheirCentury) {
    EXPECT_EQ(ensemble_full_year(99), 1999);
    EXPECT_EQ(ensemble_full_year(80), 1980);
    EXPECT_EQ(ensemble_full_year(79), 2079);
    EXPECT_EQ(ensemble_full_year(5), 2005);
    EXPECT_EQ(ensemble_full_year(0), 2000);
}

TEST(Date, TextIsTheLocaleShortDateOfTheFullYear) {
    build::variable_leader v;
    v.year = 99;
    v.month = 12;
    v.day = 31;
    CSNPersist p;
    hold(p, record({}, v));
    std::string text, expected;
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt(), &text), s_ok);
    ASSERT_TRUE(fmt().short_date(1999, 12, 31, &expected));
    EXPECT_EQ(text, expected);
    EXPECT_NE(text.find("31"), std::string::npos) << text;
    EXPECT_NE(text.find("12"), std::string::npos) << text;
#ifdef _WIN32
    EXPECT_NE(text.find("1999"), std::string::npos) << text; // the short date shows the century
#endif
    v.year = 5;
    hold(p, record({}, v));
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt(), &text), s_ok);
    ASSERT_TRUE(fmt().short_date(2005, 12, 31, &expected));
    EXPECT_EQ(text, expected);
}

struct CalendarCase {
    int year, month, day;
    bool valid;
};

class Calendar : public ::testing::TestWithParam<CalendarCase> {};

TEST_P(Calendar, DatesThatDoNotExistFailOnEveryPlatform) {
    const CalendarCase& c = GetParam();
    std::string text = "untouched";
    EXPECT_EQ(format_item_date(fmt(), c.year, c.month, c.day, &text), c.valid)
        << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(fmt().short_date(c.year, c.month, c.day, &text), c.valid);
    if (!c.valid) {
        EXPECT_EQ(text, "untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Days, Calendar,
    ::testing::Values(CalendarCase{2026, 0, 5, false}, CalendarCase{2026, 13, 5, false},
                      CalendarCase{2026, 12, 0, false}, CalendarCase{2026, 2, 30, false},
                      CalendarCase{1999, 2, 29, false}, CalendarCase{2000, 2, 29, true},
                      CalendarCase{2004, 2, 29, true}, CalendarCase{2026, 4, 31, false},
                      CalendarCase{2026, 1, 31, true}, CalendarCase{1980, 1, 1, true},
                      CalendarCase{2079, 12, 31, true}, CalendarCase{2026, 12, 32, false}));

TEST(Date, ImpossibleDateInTheRecordFails) {
    build::variable_leader v;
    v.month = 2;
    v.day = 30;
    CSNPersist p;
    hold(p, record({}, v));
    std::string text = "untouched";
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt(), &text), e_fail);
    EXPECT_EQ(text, "untouched");
}

TEST(Time, HundredthsFollowTheLocaleTime) {
    build::variable_leader v;
    v.hour = 7;
    v.minute = 3;
    v.second = 9;
    v.hundredths = 4;
    CSNPersist p;
    hold(p, record({}, v));
    std::string text, expected;
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt(), &text), s_ok);
    ASSERT_TRUE(fmt().time_24h(7, 3, 9, 40, &expected));
    EXPECT_EQ(text, expected + ".04");
#ifndef _WIN32
    EXPECT_EQ(text, "07:03:09.04");
#endif
    v.hour = 15;
    v.hundredths = 99;
    hold(p, record({}, v));
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt(), &text), s_ok);
    EXPECT_NE(text.find("15"), std::string::npos) << text; // 24-hour form, no marker
    EXPECT_EQ(text.find("PM"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 3), ".99");
}

TEST(Time, OutOfRangeFails) {
    std::string text;
    EXPECT_FALSE(format_item_time(fmt(), 24, 0, 0, 0, &text));
    EXPECT_FALSE(format_item_time(fmt(), 0, 60, 0, 0, &text));
    EXPECT_FALSE(format_item_time(fmt(), 0, 0, 60, 0, &text));
    EXPECT_FALSE(format_item_time(fmt(), 0, 0, 0, 100, &text)); // 1,000 ms
    EXPECT_FALSE(format_item_time(fmt(), -1, 0, 0, 0, &text));
    EXPECT_TRUE(format_item_time(fmt(), 23, 59, 59, 99, &text));

    build::variable_leader v;
    v.hour = 25;
    CSNPersist p;
    hold(p, record({}, v));
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt(), &text), e_fail);
}

TEST(Reads, OrderAndFirstFailureComeFromTheCallersReader) {
    CSNPersist p;
    hold(p, record({}, {}));
    std::vector<item_value> asked;
    const auto failing_on = [&asked](item_value bad) {
        return [&asked, bad](item_value item, item_value* value) {
            asked.push_back(item);
            *value = 1;
            return item == bad ? HY_E_IO : s_ok;
        };
    };
    std::string text = "untouched";
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, failing_on(VAR_TDAY), fmt(), &text), HY_E_IO);
    EXPECT_EQ(asked, (std::vector<item_value>{VAR_TMONTH, VAR_TDAY}));
    asked.clear();
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, failing_on(-1), fmt(), &text), s_ok);
    EXPECT_EQ(asked, (std::vector<item_value>{VAR_THOUR, VAR_TMIN, VAR_TSEC, VAR_THSEC}));
    EXPECT_EQ(text.substr(text.size() - 3), ".01");
    // S_FALSE from the reader is not a failure.
    const auto s_false_zero = [](item_value, item_value* value) {
        *value = 0;
        return s_false;
    };
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, s_false_zero, fmt(), &text), s_ok);
}

TEST(Reads, MissingVariableLeaderAndNothingHeld) {
    CSNPersist p;
    std::string text = "untouched";
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt(), &text), e_fail);
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt(), &text), e_fail);
    EXPECT_EQ(text, "untouched");

    // Zeros with S_FALSE: month 0 cannot be a date, but 0:00:00 is a time.
    hold(p, record({}, {}, false));
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt(), &text), e_fail);
    EXPECT_EQ(get_item_string(p, DERIVED_ENSTM, fmt(), &text), s_ok);
    std::string midnight;
    ASSERT_TRUE(fmt().time_24h(0, 0, 0, 0, &midnight));
    EXPECT_EQ(text, midnight + ".00");
}

TEST(Reads, OtherItemsAndNullText) {
    CSNPersist p;
    hold(p, record({}, {}));
    std::string text;
    EXPECT_EQ(get_item_string(p, 7301, fmt(), &text), e_invalidarg);
    EXPECT_EQ(get_item_string(p, 11002, fmt(), &text), e_invalidarg);
    EXPECT_EQ(get_item_string(p, DERIVED_ENSDT, fmt(), nullptr), e_invalidarg);
}

} // namespace
} // namespace hyd
