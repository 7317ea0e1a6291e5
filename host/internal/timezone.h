// Calendar arithmetic and the analysis of the C library's current time zone
// behind the Win32 time functions. Internal: callers use host/time.h.
#pragma once

#include <cstdint>
#include <string>

namespace host {
namespace timezone {

// A proleptic Gregorian date and time of day.
struct CivilTime {
    std::int64_t year;
    int month;    // 1..12
    int day;      // 1..31
    int weekday;  // 0 = Sunday
    int hour;
    int minute;
    int second;
};

// Days from 1970-01-01 to the given date (negative before it).
std::int64_t days_from_civil(std::int64_t year, int month, int day);

// The date and time `seconds` after 1970-01-01 00:00:00 (floor semantics, so
// negative values land on the right day).
CivilTime civil_from_seconds(std::int64_t seconds);

// Number of days in a month of a year.
int days_in_month(std::int64_t year, int month);

// One change of the zone's clock, described the way the Win32 zone record
// does: the weekday occurrence in the month (1 to 4, 5 = the last) and the
// wall-clock time read on the clock in force before the change.
struct ChangeRule {
    int month = 0;  // 0: not known
    int weekday = 0;
    int occurrence = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The current zone, seen from one instant.
struct ZoneDescription {
    long standard_offset = 0;  // seconds east of UTC in standard time
    long daylight_offset = 0;  // seconds east of UTC in daylight time
    std::string standard_name;
    std::string daylight_name;
    bool has_daylight = false;  // the zone keeps daylight time in this year
    bool daylight_now = false;  // daylight time is in force at the instant
    ChangeRule to_standard;     // month 0 unless the year has one clean pair
    ChangeRule to_daylight;
};

// Re-reads TZ (tzset) and describes the zone at the UTC instant `now`, using
// the changes of the local year that contains it. Returns false when the C
// library cannot convert the instant. The analysis of a year is cached per TZ
// value and year; the cache is thread-safe.
bool describe_zone(std::int64_t now, ZoneDescription& description);

// Re-reads TZ and converts the UTC instant to the zone's wall-clock time.
bool local_civil_time(std::int64_t now, CivilTime& local);

}  // namespace timezone
}  // namespace host
