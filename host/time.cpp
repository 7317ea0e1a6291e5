#include <host/time.h>

#include <host/error.h>
#include <host/internal/timezone.h>
#include <host/internal/utf.h>

#include <cstring>
#include <ctime>

namespace {

using host::timezone::CivilTime;

bool read_clock(clockid_t clock, std::int64_t& seconds, long& nanoseconds) {
    timespec now{};
    if (::clock_gettime(clock, &now) != 0)
        return false;
    seconds = now.tv_sec;
    nanoseconds = now.tv_nsec;
    return true;
}

void fill_system_time(const CivilTime& civil, long nanoseconds, SYSTEMTIME& time) {
    time.wYear = static_cast<WORD>(civil.year);
    time.wMonth = static_cast<WORD>(civil.month);
    time.wDayOfWeek = static_cast<WORD>(civil.weekday);
    time.wDay = static_cast<WORD>(civil.day);
    time.wHour = static_cast<WORD>(civil.hour);
    time.wMinute = static_cast<WORD>(civil.minute);
    time.wSecond = static_cast<WORD>(civil.second);
    time.wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

void fill_rule(const host::timezone::ChangeRule& rule, SYSTEMTIME& date) {
    date = SYSTEMTIME{};
    if (rule.month == 0)
        return;
    date.wMonth = static_cast<WORD>(rule.month);
    date.wDayOfWeek = static_cast<WORD>(rule.weekday);
    date.wDay = static_cast<WORD>(rule.occurrence);
    date.wHour = static_cast<WORD>(rule.hour);
    date.wMinute = static_cast<WORD>(rule.minute);
    date.wSecond = static_cast<WORD>(rule.second);
}

// Copies a zone abbreviation, cut to fit with its terminator.
void fill_name(const std::string& name, WCHAR (&target)[32]) {
    host::wstring wide = host::utf::to_utf16(name);
    std::size_t count = wide.size() < 31 ? wide.size() : 31;
    std::memcpy(target, wide.data(), count * sizeof(WCHAR));
    target[count] = 0;
}

LONG minutes_west(long seconds_east) {
    return static_cast<LONG>(-seconds_east / 60);
}

ULONGLONG milliseconds_since_start() {
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    // CLOCK_BOOTTIME counts suspended time as the Win32 tick count does; the
    // monotonic clock stands in on kernels without it.
    if (!read_clock(CLOCK_BOOTTIME, seconds, nanoseconds) &&
        !read_clock(CLOCK_MONOTONIC, seconds, nanoseconds)) {
        return 0;
    }
    return static_cast<ULONGLONG>(seconds) * 1000u + static_cast<ULONGLONG>(nanoseconds / 1000000);
}

}  // namespace

void GetSystemTime(LPSYSTEMTIME pTime) {
    if (pTime == nullptr)
        return;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    if (!read_clock(CLOCK_REALTIME, seconds, nanoseconds)) {
        *pTime = SYSTEMTIME{};
        return;
    }
    fill_system_time(host::timezone::civil_from_seconds(seconds), nanoseconds, *pTime);
}

void GetLocalTime(LPSYSTEMTIME pTime) {
    if (pTime == nullptr)
        return;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    if (!read_clock(CLOCK_REALTIME, seconds, nanoseconds)) {
        *pTime = SYSTEMTIME{};
        return;
    }
    CivilTime local;
    // A zone that cannot be read leaves UTC, the only clock still known.
    if (!host::timezone::local_civil_time(seconds, local)) {
        local = host::timezone::civil_from_seconds(seconds);
    }
    fill_system_time(local, nanoseconds, *pTime);
}

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION pInfo) {
    if (pInfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    *pInfo = TIME_ZONE_INFORMATION{};
    std::int64_t now = 0;
    long nanoseconds = 0;
    host::timezone::ZoneDescription zone;
    if (!read_clock(CLOCK_REALTIME, now, nanoseconds) ||
        !host::timezone::describe_zone(now, zone)) {
        SetLastError(ERROR_CANTREAD);
        return TIME_ZONE_ID_INVALID;
    }
    pInfo->Bias = minutes_west(zone.standard_offset);
    pInfo->StandardBias = 0;
    pInfo->DaylightBias = minutes_west(zone.daylight_offset - zone.standard_offset);
    fill_name(zone.standard_name, pInfo->StandardName);
    fill_name(zone.daylight_name, pInfo->DaylightName);
    fill_rule(zone.to_standard, pInfo->StandardDate);
    fill_rule(zone.to_daylight, pInfo->DaylightDate);
    if (!zone.has_daylight)
        return TIME_ZONE_ID_UNKNOWN;
    return zone.daylight_now ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(milliseconds_since_start());
}

ULONGLONG GetTickCount64() {
    return milliseconds_since_start();
}
