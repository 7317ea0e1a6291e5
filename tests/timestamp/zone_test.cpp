#include <host/error.h>
#include <host/internal/timezone.h>
#include <host/time.h>

#include "zone_fixture.h"

#include <cstddef>
#include <cstring>
#include <ctime>

namespace {

using host::timezone::ChangeRule;
using host::timezone::ZoneDescription;

constexpr std::int64_t kJanuary2024 = 1705320000;  // 2024-01-15 12:00:00 UTC
constexpr std::int64_t kJuly2024 = 1721044800;     // 2024-07-15 12:00:00 UTC

ZoneDescription DescribeAt(std::int64_t when) {
    ZoneDescription zone;
    EXPECT_TRUE(host::timezone::describe_zone(when, zone));
    return zone;
}

void ExpectRule(const ChangeRule& rule, int month, int weekday, int occurrence, int hour) {
    EXPECT_EQ(rule.month, month);
    EXPECT_EQ(rule.weekday, weekday);
    EXPECT_EQ(rule.occurrence, occurrence);
    EXPECT_EQ(rule.hour, hour);
    EXPECT_EQ(rule.minute, 0);
    EXPECT_EQ(rule.second, 0);
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

TEST_F(ZoneTest, UsEasternKeepsItsBaseOffsetInBothSeasons) {
    ASSERT_TRUE(UseZone("EST5EDT", false));
    for (std::int64_t when : {kJanuary2024, kJuly2024}) {
        ZoneDescription zone = DescribeAt(when);
        EXPECT_EQ(zone.standard_offset, -18000);
        EXPECT_EQ(zone.daylight_offset, -14400);
        EXPECT_TRUE(zone.has_daylight);
        EXPECT_EQ(zone.daylight_now, when == kJuly2024);
        EXPECT_EQ(zone.standard_name, "EST");
        EXPECT_EQ(zone.daylight_name, "EDT");
        ExpectRule(zone.to_daylight, 3, 0, 2, 2);   // second Sunday of March, 02:00 EST
        ExpectRule(zone.to_standard, 11, 0, 1, 2);  // first Sunday of November, 02:00 EDT
    }
}

TEST_F(ZoneTest, LastSundayRulesUseOccurrenceFive) {
    USE_ZONE_OR_SKIP("Europe/Berlin");
    ZoneDescription zone = DescribeAt(kJuly2024);
    EXPECT_EQ(zone.standard_offset, 3600);
    EXPECT_TRUE(zone.daylight_now);
    ExpectRule(zone.to_daylight, 3, 0, 5, 2);
    ExpectRule(zone.to_standard, 10, 0, 5, 3);
}

TEST_F(ZoneTest, SouthernZoneIsInDaylightTimeInJanuary) {
    USE_ZONE_OR_SKIP("Australia/Sydney");
    ZoneDescription zone = DescribeAt(kJanuary2024);
    EXPECT_EQ(zone.standard_offset, 36000);
    EXPECT_EQ(zone.daylight_offset, 39600);
    EXPECT_TRUE(zone.daylight_now);
    ExpectRule(zone.to_daylight, 10, 0, 1, 2);
    ExpectRule(zone.to_standard, 4, 0, 1, 3);
}

TEST_F(ZoneTest, NegativeDaylightSavingIsReportedWithTheWinterOffsetAsBase) {
    USE_ZONE_OR_SKIP("Europe/Dublin");
    ZoneDescription winter = DescribeAt(kJanuary2024);
    ZoneDescription summer = DescribeAt(kJuly2024);
    for (const ZoneDescription* zone : {&winter, &summer}) {
        EXPECT_EQ(zone->standard_offset, 0);
        EXPECT_EQ(zone->daylight_offset, 3600);
        EXPECT_EQ(zone->standard_name, "GMT");
        EXPECT_EQ(zone->daylight_name, "IST");
        ExpectRule(zone->to_daylight, 3, 0, 5, 1);
        ExpectRule(zone->to_standard, 10, 0, 5, 2);
    }
    EXPECT_FALSE(winter.daylight_now);
    EXPECT_TRUE(summer.daylight_now);
}

TEST_F(ZoneTest, ZoneWithoutDaylightTimeHasNoRules) {
    USE_ZONE_OR_SKIP("Asia/Kolkata");
    ZoneDescription zone = DescribeAt(kJuly2024);
    EXPECT_EQ(zone.standard_offset, 19800);
    EXPECT_EQ(zone.daylight_offset, 19800);
    EXPECT_FALSE(zone.has_daylight);
    EXPECT_FALSE(zone.daylight_now);
    EXPECT_EQ(zone.to_daylight.month, 0);
    EXPECT_EQ(zone.to_standard.month, 0);
}

TEST_F(ZoneTest, EasternZoneInformationHasWin32BiasesNamesAndDates) {
    ASSERT_TRUE(UseZone("EST5EDT", false));
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
    EXPECT_EQ(info.DaylightDate.wYear, 0);
    EXPECT_EQ(info.DaylightDate.wMonth, 3);
    EXPECT_EQ(info.DaylightDate.wDayOfWeek, 0);
    EXPECT_EQ(info.DaylightDate.wDay, 2);
    EXPECT_EQ(info.DaylightDate.wHour, 2);
    EXPECT_EQ(info.StandardDate.wMonth, 11);
    EXPECT_EQ(info.StandardDate.wDay, 1);
    EXPECT_EQ(info.StandardDate.wHour, 2);
}

TEST_F(ZoneTest, UtcAndIndiaReportNoDaylightTime) {
    ASSERT_TRUE(UseZone("UTC0", false));
    TIME_ZONE_INFORMATION info;
    EXPECT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, 0);
    EXPECT_EQ(info.DaylightBias, 0);
    EXPECT_TRUE(IsZero(info.StandardDate));
    EXPECT_TRUE(IsZero(info.DaylightDate));
    USE_ZONE_OR_SKIP("Asia/Kolkata");
    EXPECT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, -330);
    EXPECT_EQ(Narrow(info.StandardName), "IST");
}

TEST_F(ZoneTest, EveryCallReadsTheZoneAgain) {
    TIME_ZONE_INFORMATION info;
    const char* zones[] = {"UTC0", "EST5EDT", "UTC0", "EST5EDT"};
    const LONG biases[] = {0, 300, 0, 300};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(UseZone(zones[i], false));
        ASSERT_NE(GetTimeZoneInformation(&info), TIME_ZONE_ID_INVALID);
        EXPECT_EQ(info.Bias, biases[i]) << zones[i];
    }
    // A POSIX rule without a name database still works, with an odd offset.
    ASSERT_TRUE(UseZone("XYZ-5:45", false));
    ASSERT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, -345);
    EXPECT_EQ(Narrow(info.StandardName), "XYZ");
}

TEST(TimeZoneInformation, NullPointerFailsWithInvalidParameter) {
    SetLastError(0);
    EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(TimeZoneInformation, HasTheWin32Layout) {
    EXPECT_EQ(offsetof(TIME_ZONE_INFORMATION, StandardName), 4u);
    EXPECT_EQ(offsetof(TIME_ZONE_INFORMATION, StandardDate), 68u);
    EXPECT_EQ(offsetof(TIME_ZONE_INFORMATION, StandardBias), 84u);
    EXPECT_EQ(offsetof(TIME_ZONE_INFORMATION, DaylightName), 88u);
    EXPECT_EQ(offsetof(TIME_ZONE_INFORMATION, DaylightDate), 152u);
    EXPECT_EQ(offsetof(TIME_ZONE_INFORMATION, DaylightBias), 168u);
}

std::int64_t SecondsOf(const SYSTEMTIME& time) {
    return host::timezone::days_from_civil(time.wYear, time.wMonth, time.wDay) * 86400 +
           time.wHour * 3600 + time.wMinute * 60 + time.wSecond;
}

TEST_F(ZoneTest, SystemAndLocalTimeReadTheClockInUtcAndInTheZone) {
    USE_ZONE_OR_SKIP("Asia/Kolkata");
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
