// The host clock and time zone, in the shape of the Win32 time functions.
//
// `GetSystemTime` reads the realtime clock as UTC, `GetLocalTime` the same
// instant as wall-clock time of the current zone. `GetTimeZoneInformation`
// describes the current zone: the C library's zone, so `TZ` is honoured and is
// read again at every call (a process may change it between calls).
// `GetTickCount`/`GetTickCount64` count milliseconds since the machine started
// and never go backwards.
//
// Threads: every function may be called from any thread. Changing `TZ` with
// `setenv` while another thread reads the zone is the usual C library hazard
// (the environment is not guarded); do it before starting threads, as tests do.
#pragma once

#include <host/export.h>
#include <host/types.h>

// A broken-down date and time. wDayOfWeek: 0 = Sunday.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;
typedef SYSTEMTIME* PSYSTEMTIME;
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is 16 bytes");

// A zone in Win32 terms: UTC = local time + Bias (+ StandardBias in standard
// time, + DaylightBias in daylight time), all in minutes.
//
// StandardDate/DaylightDate give the changes to standard and to daylight time
// in the recurring form: wYear 0, wMonth, wDayOfWeek, wDay = occurrence of that
// weekday in the month (1 to 4, 5 = the last), and the wall-clock time at which
// the change happens, read on the clock in force before it. wMonth 0 means the
// date is not known (see GetTimeZoneInformation).
struct TIME_ZONE_INFORMATION {
    LONG Bias;
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};
typedef TIME_ZONE_INFORMATION* LPTIME_ZONE_INFORMATION;
typedef TIME_ZONE_INFORMATION* PTIME_ZONE_INFORMATION;
static_assert(sizeof(TIME_ZONE_INFORMATION) == 172, "TIME_ZONE_INFORMATION has the Win32 layout");

constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;
constexpr DWORD TIME_ZONE_ID_INVALID = 0xFFFFFFFFu;

extern "C" {

// The current UTC date and time, to the millisecond. A null pointer is ignored.
HOST_API void GetSystemTime(LPSYSTEMTIME pTime);

// The current date and time on the clock of the current zone (daylight time
// included when in force), to the millisecond. A null pointer is ignored.
HOST_API void GetLocalTime(LPSYSTEMTIME pTime);

// Fills `pInfo` with the current zone and returns
// - TIME_ZONE_ID_UNKNOWN when the zone keeps no daylight time this year,
// - TIME_ZONE_ID_STANDARD or TIME_ZONE_ID_DAYLIGHT for the time now in force,
// - TIME_ZONE_ID_INVALID (last error ERROR_INVALID_PARAMETER, `pInfo`
//   untouched) for a null pointer, or (last error ERROR_CANTREAD, `pInfo`
//   zeroed) when the clock or the zone cannot be read.
//
// The zone is described from its own rules for the current local year:
// - Bias is the base offset (standard time, whatever the season), for
//   example 300 for US Eastern time, -330 for India, 0 for UTC;
// - StandardBias is 0; DaylightBias is the extra offset of daylight time
//   (usually -60), 0 for a zone without daylight time;
// - the names are the zone's abbreviations ("EST", "EDT"), at most 31 units;
// - a zone whose data marks winter as its daylight period (a "negative"
//   daylight saving) is reported the Win32 way round: the winter offset is the
//   base and summer is daylight time with a negative DaylightBias;
// - StandardDate and DaylightDate are filled when the year has exactly one
//   change into and one out of daylight time; otherwise (no daylight time, a
//   rule suspended part of the year, a zone that changes its base offset) they
//   are all zero, and the return value still tells which time is in force.
HOST_API DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION pInfo);

// Milliseconds since the machine started, including time spent suspended;
// wraps to 0 after about 49.7 days.
HOST_API DWORD GetTickCount();

// Milliseconds since the machine started, including time spent suspended.
HOST_API ULONGLONG GetTickCount64();

}  // extern "C"
