#include <host/error.h>
#include <host/internal/timezone.h>
#include <host/time.h>

#include "zone_fixture.h"

#include <cstring>
#include <ctime>
#include <string>

namespace {

using host::timezone::ChangeRule;
using host::timezone::ZoneDescription;

constexpr std::int64_t kJan2024 = 1705320000;   // 2024-01-15 12:00:00 UTC
constexpr std::int64_t kJuly2024 = 1721044800;  // 2024-07-15 12:00:00 UTC

ZoneDescription DescribeAt(std::int64_t when) {
    ZoneDescription zone;
    EXPECT_TRUE(host::timezone::describe_zone(when, zone));
    return zone;
}

std::string Narrow(const WCHAR* text) {
    std::string result;
    for (; *text != 0; ++text)
        result.push_back(static_cast<char>(*text));
    return result;
}

bool IsZero(const SYSTEMTIME& time) {
    SYSTEMTIME zero{};
    return std::memcmp(&time, &zero, sizeof zero) == 0;
}

TEST(Calendar, DayCountsAgreeWithTheCLibraryAcrossCenturiesAndLeapDays) {
    for (std::int64_t days = -800000; days <= 800000; days += 997) {
        std::time_t seconds = static_cast<std::time_t>(days * 86400 + 45296);  // 12:34:56
        std::tm expected{};
        ASSERT_NE(gmtime_r(&seconds, &expected), nullptr);
        host::timezone::CivilTime civil = host::timezone::civil_from_seconds(seconds);
        ASSERT_EQ(civil.year, expected.tm_year + 1900) << days;
        ASSERT_EQ(civil.month, expected.tm_mon + 1) << days;
        ASSERT_EQ(civil.day, expected.tm_mday) << days;
        ASSERT_EQ(civil.weekday, expected.tm_wday) << days;
        ASSERT_EQ(civil.hour, 12);
        ASSERT_EQ(civil.minute, 34);
        ASSERT_EQ(civil.second, 56);
        ASSERT_EQ(host::timezone::days_from_civil(civil.year, civil.month, civil.day), days);
    }
    EXPECT_EQ(host::timezone::days_in_month(2000, 2), 29);
    EXPECT_EQ(host::timezone::days_in_month(1900, 2), 28);
    EXPECT_EQ(host::timezone::days_in_month(2024, 12), 31);
    EXPECT_EQ(host::timezone::civil_from_seconds(-1).second, 59);  // 1969-12-31 23:59:59
}

struct RuleCase {
    const char* zone;
    std::int64_t when;
    long standard_offset, daylight_offset;
    int daylight;                         // 0: none, 1: has it, 2: in it now
    ChangeRule to_daylight, to_standard;  // month, weekday, occurrence, hour; 0: none
    const char* names;                    // standard and daylight, when not null
};

TEST_F(ZoneTest, ZonesKeepTheirBaseOffsetAndYieldRecurringRules) {
    const RuleCase cases[] = {
        // Second Sunday of March 02:00 EST, first Sunday of November 02:00 EDT.
        {"EST5EDT", kJan2024, -18000, -14400, 1, {3, 0, 2, 2}, {11, 0, 1, 2}, "EST EDT"},
        {"EST5EDT", kJuly2024, -18000, -14400, 2, {3, 0, 2, 2}, {11, 0, 1, 2}, "EST EDT"},
        // Last Sundays: occurrence 5.
        {"Europe/Berlin", kJuly2024, 3600, 7200, 2, {3, 0, 5, 2}, {10, 0, 5, 3}, "CET CEST"},
        // Southern hemisphere: daylight time in January.
        {"Australia/Sydney", kJan2024, 36000, 39600, 2, {10, 0, 1, 2}, {4, 0, 1, 3}, "AEST AEDT"},
        // Negative daylight saving in the data: the winter offset is the base.
        {"Europe/Dublin", kJan2024, 0, 3600, 1, {3, 0, 5, 1}, {10, 0, 5, 2}, "GMT IST"},
        {"Europe/Dublin", kJuly2024, 0, 3600, 2, {3, 0, 5, 1}, {10, 0, 5, 2}, "GMT IST"},
        {"Asia/Kolkata", kJuly2024, 19800, 19800, 0, {}, {}, nullptr},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " at " + std::to_string(c.when));
        if (!UseZone(c.zone))
            continue;
        ZoneDescription zone = DescribeAt(c.when);
        EXPECT_EQ(zone.has_daylight, c.daylight != 0);
        EXPECT_EQ(zone.daylight_now, c.daylight == 2);
        EXPECT_EQ(zone.standard_offset, c.standard_offset);
        EXPECT_EQ(zone.daylight_offset, c.daylight_offset);
        for (auto [got, expected] :
             {std::pair{&zone.to_daylight, &c.to_daylight}, {&zone.to_standard, &c.to_standard}}) {
            EXPECT_EQ(got->month, expected->month);
            if (expected->month == 0)
                continue;
            EXPECT_EQ(got->weekday, expected->weekday);
            EXPECT_EQ(got->occurrence, expected->occurrence);
            EXPECT_EQ(got->hour, expected->hour);
            EXPECT_EQ(got->minute, 0);
            EXPECT_EQ(got->second, 0);
        }
        if (c.names != nullptr) {
            EXPECT_EQ(zone.standard_name + " " + zone.daylight_name, c.names);
        }
    }
}

TEST_F(ZoneTest, EasternZoneInformationHasWin32BiasesNamesAndDates) {
    ASSERT_TRUE(UseZone("EST5EDT"));
    TIME_ZONE_INFORMATION info;
    DWORD which = GetTimeZoneInformation(&info);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(which, local.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD);
    EXPECT_EQ(info.Bias, 300);
    EXPECT_EQ(info.StandardBias, 0);
    EXPECT_EQ(info.DaylightBias, -60);
    EXPECT_EQ(Narrow(info.StandardName), "EST");
    EXPECT_EQ(Narrow(info.DaylightName), "EDT");
    const SYSTEMTIME to_daylight = {0, 3, 0, 2, 2, 0, 0, 0};
    const SYSTEMTIME to_standard = {0, 11, 0, 1, 2, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&info.DaylightDate, &to_daylight, sizeof to_daylight), 0);
    EXPECT_EQ(std::memcmp(&info.StandardDate, &to_standard, sizeof to_standard), 0);
    SetLastError(0);
    EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ZoneTest, EveryCallReadsTheZoneAgain) {
    struct Case {
        const char* zone;
        LONG bias;
        const char* name;
    };
    // Alternating zones catch a stale cached analysis; the POSIX rule with an
    // odd offset needs no zone database.
    const Case cases[] = {{"UTC0", 0, "UTC"},
                          {"Asia/Kolkata", -330, "IST"},
                          {"UTC0", 0, "UTC"},
                          {"XYZ-5:45", -345, "XYZ"},
                          {"UTC0", 0, "UTC"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        if (!UseZone(c.zone))
            continue;
        TIME_ZONE_INFORMATION info;
        EXPECT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_UNKNOWN);
        EXPECT_EQ(info.Bias, c.bias);
        EXPECT_EQ(info.DaylightBias, 0);
        EXPECT_EQ(Narrow(info.StandardName), c.name);
        EXPECT_TRUE(IsZero(info.StandardDate));
        EXPECT_TRUE(IsZero(info.DaylightDate));
    }
}

std::int64_t SecondsOf(const SYSTEMTIME& time) {
    return host::timezone::days_from_civil(time.wYear, time.wMonth, time.wDay) * 86400 +
           time.wHour * 3600 + time.wMinute * 60 + time.wSecond;
}

TEST_F(ZoneTest, SystemAndLocalTimeReadTheClockInUtcAndInTheZone) {
    if (!UseZone("Asia/Kolkata"))
        GTEST_SKIP() << "no zone data for Asia/Kolkata";
    std::int64_t before = std::time(nullptr);
    SYSTEMTIME utc;
    SYSTEMTIME local;
    GetSystemTime(&utc);
    GetLocalTime(&local);
    std::int64_t after = std::time(nullptr);
    EXPECT_GE(SecondsOf(utc), before);
    EXPECT_LE(SecondsOf(utc), after);
    EXPECT_GE(SecondsOf(local) - 19800, before);
    EXPECT_LE(SecondsOf(local) - 19800, after);
    EXPECT_LT(utc.wMilliseconds, 1000);
    std::time_t now = static_cast<std::time_t>(SecondsOf(utc));
    std::tm expected{};
    gmtime_r(&now, &expected);
    EXPECT_EQ(utc.wDayOfWeek, expected.tm_wday);
    GetSystemTime(nullptr);  // ignored, no crash
    GetLocalTime(nullptr);
}

TEST(TickCount, NeverGoesBackwardsAndAgreesInItsLowBits) {
    ULONGLONG previous = GetTickCount64();
    for (int i = 0; i < 100000; ++i) {
        ULONGLONG current = GetTickCount64();
        ASSERT_GE(current, previous);
        previous = current;
    }
    DWORD narrow = GetTickCount();
    ULONGLONG wide = GetTickCount64();
    EXPECT_LE(static_cast<DWORD>(static_cast<DWORD>(wide) - narrow), 1000u);
    EXPECT_GT(wide, 0u);
}

}  // namespace
