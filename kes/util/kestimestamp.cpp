#include <kes/util/kestimestamp.h>

#include <host/time.h>
#include <kes/util/internal/kestimestring.h>

#include <cmath>
#include <cstdint>
#include <limits>

const LONG CKesTimestamp::NSECS_PER_SEC;
const LONG CKesTimestamp::SECS_PER_DAY;
const LONG CKesTimestamp::HOURS_PER_DAY;
const LONG CKesTimestamp::SECS_PER_HOUR;
const LONG CKesTimestamp::MINS_PER_HOUR;
const LONG CKesTimestamp::SECS_PER_MINUTE;

namespace {

constexpr std::int64_t kNanosPerSecond = 1000000000;
constexpr std::int64_t kMaxSeconds = std::numeric_limits<LONG>::max();
constexpr std::int64_t kMinSeconds = std::numeric_limits<LONG>::min();

// The renderings are printf conversions of small integers; they are written
// digit by digit here because the timestamp is rendered in logs at high rates
// and the C library's formatter parses its format string at every call.
//
// "%.Nd": a minus sign for negative values, then at least `digits` digits.
// "%0Wd": the same, but the sign counts toward the width `digits`.
template <typename Char>
Char* put_integer(Char* out, std::int64_t value, int digits, bool sign_in_width = false) {
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (value < 0) {
        *out++ = static_cast<Char>('-');
        if (sign_in_width)
            --digits;
    }
    char reversed[24];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    for (int pad = count; pad < digits; ++pad)
        *out++ = static_cast<Char>('0');
    while (count > 0)
        *out++ = static_cast<Char>(reversed[--count]);
    return out;
}

template <typename Char>
Char* put_char(Char* out, char c) {
    *out = static_cast<Char>(c);
    return out + 1;
}

// Longest rendering: "-24855d -23:-59:-59.-999999999" and its relatives, well
// below this bound.
constexpr int kBufferSize = 64;

host::wstring to_wstring(const WCHAR* begin, const WCHAR* end) {
    return host::wstring(begin, end);
}

// "%.3d:%.2d:%.2d." of total hours, minutes and seconds, shared by the
// two hour-based renderings.
WCHAR* put_hms(WCHAR* out, const CKesTimestamp& theTime) {
    out = put_integer(out, theTime.Days() * CKesTimestamp::HOURS_PER_DAY + theTime.Hours(), 3);
    out = put_char(out, ':');
    out = put_integer(out, theTime.Minutes(), 2);
    out = put_char(out, ':');
    out = put_integer(out, theTime.Seconds(), 2);
    return put_char(out, '.');
}

host::wstring widen(const char* text) {
    host::wstring wide;
    for (; *text != '\0'; ++text)
        wide.push_back(static_cast<unsigned char>(*text));
    return wide;
}

}  // namespace

CKesTimestamp::CKesTimestamp(LONG theSeconds, LONG theNanoseconds) {
    Set(theSeconds, theNanoseconds);
}

CKesTimestamp::CKesTimestamp(double theNanoseconds) {
    Set(theNanoseconds);
}

CKesTimestamp::CKesTimestamp(const CKesTimestamp& theOther)
    : m_Seconds(theOther.m_Seconds), m_Nanoseconds(theOther.m_Nanoseconds) {}

CKesTimestamp::~CKesTimestamp() {}

const CKesTimestamp& CKesTimestamp::operator=(const CKesTimestamp& theOther) {
    m_Seconds = theOther.m_Seconds;
    m_Nanoseconds = theOther.m_Nanoseconds;
    return *this;
}

const CKesTimestamp& CKesTimestamp::operator=(double theNanoseconds) {
    Set(theNanoseconds);
    return *this;
}

void CKesTimestamp::SetWide(std::int64_t theSeconds, std::int64_t theNanoseconds) {
    // Carry whole seconds out of the nanoseconds, then give both parts one
    // sign. Done in 64 bits: the carry alone can push a 32-bit count past its
    // end, which would be undefined.
    std::int64_t seconds = theSeconds + theNanoseconds / kNanosPerSecond;
    std::int64_t nanoseconds = theNanoseconds % kNanosPerSecond;
    if (seconds > 0 && nanoseconds < 0) {
        seconds -= 1;
        nanoseconds += kNanosPerSecond;
    } else if (seconds < 0 && nanoseconds > 0) {
        seconds += 1;
        nanoseconds -= kNanosPerSecond;
    }
    if (seconds > kMaxSeconds) {
        seconds = kMaxSeconds;
        nanoseconds = kNanosPerSecond - 1;
    } else if (seconds < kMinSeconds) {
        seconds = kMinSeconds;
        nanoseconds = -(kNanosPerSecond - 1);
    }
    m_Seconds = static_cast<LONG>(seconds);
    m_Nanoseconds = static_cast<LONG>(nanoseconds);
}

void CKesTimestamp::Set(LONG theSeconds, LONG theNanoseconds) {
    SetWide(theSeconds, theNanoseconds);
}

void CKesTimestamp::Set(double theNanoseconds) {
    if (std::isnan(theNanoseconds)) {
        Clear();
        return;
    }
    // Far outside the 32-bit range of seconds either way: saturate before the
    // conversion to an integer, which would be undefined past 2^63.
    constexpr double kLimit = 4e18;
    if (theNanoseconds >= kLimit || theNanoseconds <= -kLimit) {
        SetWide(theNanoseconds > 0 ? kMaxSeconds + 1 : kMinSeconds - 1, 0);  // saturates
        return;
    }
    // An integer split of the truncated count is exact; dividing by 1e9 in
    // floating point first loses the last nanosecond of about half of all
    // whole-nanosecond inputs (123456789012 would come out ...011).
    std::int64_t total = static_cast<std::int64_t>(theNanoseconds);
    SetWide(total / kNanosPerSecond, total % kNanosPerSecond);
}

void CKesTimestamp::Set(LONG theHours, LONG theMinutes, LONG theMilliseconds) {
    std::int64_t seconds = static_cast<std::int64_t>(theHours) * SECS_PER_HOUR +
                           static_cast<std::int64_t>(theMinutes) * SECS_PER_MINUTE +
                           theMilliseconds / 1000;
    SetWide(seconds, static_cast<std::int64_t>(theMilliseconds % 1000) * 1000000);
}

void CKesTimestamp::Clear() {
    m_Seconds = 0;
    m_Nanoseconds = 0;
}

LONG CKesTimestamp::Days() const {
    return m_Seconds / SECS_PER_DAY;
}

LONG CKesTimestamp::Hours() const {
    return (m_Seconds - Days() * SECS_PER_DAY) / SECS_PER_HOUR;
}

LONG CKesTimestamp::Minutes() const {
    return (m_Seconds - Days() * SECS_PER_DAY - Hours() * SECS_PER_HOUR) / SECS_PER_MINUTE;
}

LONG CKesTimestamp::Seconds() const {
    return m_Seconds - Days() * SECS_PER_DAY - Hours() * SECS_PER_HOUR -
           Minutes() * SECS_PER_MINUTE;
}

LONG CKesTimestamp::Nanoseconds() const {
    return m_Nanoseconds;
}

LONG CKesTimestamp::AsWholeSeconds() const {
    return m_Seconds;
}

double CKesTimestamp::AsNanoseconds() const {
    return m_Seconds * 1e9 + m_Nanoseconds;
}

double CKesTimestamp::AsSecondsAndNanoseconds() const {
    return m_Seconds + m_Nanoseconds / 1e9;
}

host::wstring CKesTimestamp::AsDHMSN() const {
    WCHAR buffer[kBufferSize];
    WCHAR* out = put_integer(buffer, Days(), 1);
    out = put_char(out, 'd');
    out = put_char(out, ' ');
    out = put_integer(out, Hours(), 2);
    out = put_char(out, ':');
    out = put_integer(out, Minutes(), 2);
    out = put_char(out, ':');
    out = put_integer(out, Seconds(), 2);
    out = put_char(out, '.');
    out = put_integer(out, m_Nanoseconds, 9);
    return to_wstring(buffer, out);
}

host::wstring CKesTimestamp::AsHMSm() const {
    WCHAR buffer[kBufferSize];
    WCHAR* out = put_hms(buffer, *this);
    // "%03d": unlike the precision form, the sign takes one of the three places.
    out = put_integer(out, m_Nanoseconds / 1000000, 3, true);
    return to_wstring(buffer, out);
}

host::wstring CKesTimestamp::AsHMSN() const {
    WCHAR buffer[kBufferSize];
    WCHAR* out = put_hms(buffer, *this);
    out = put_integer(out, m_Nanoseconds, 9);
    return to_wstring(buffer, out);
}

host::wstring CKesTimestamp::AsSN() const {
    WCHAR buffer[kBufferSize];
    WCHAR* out = put_integer(buffer, m_Seconds, 8);
    out = put_char(out, '.');
    out = put_integer(out, m_Nanoseconds, 9);
    return to_wstring(buffer, out);
}

CKesTimestamp operator+(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    // In 64 bits: the sum of two in-range counts may leave the range, and the
    // setter saturates it.
    CKesTimestamp result;
    result.SetWide(static_cast<std::int64_t>(theLeft.m_Seconds) + theRight.m_Seconds,
                   static_cast<std::int64_t>(theLeft.m_Nanoseconds) + theRight.m_Nanoseconds);
    return result;
}

CKesTimestamp operator-(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    CKesTimestamp result;
    result.SetWide(static_cast<std::int64_t>(theLeft.m_Seconds) - theRight.m_Seconds,
                   static_cast<std::int64_t>(theLeft.m_Nanoseconds) - theRight.m_Nanoseconds);
    return result;
}

bool operator==(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    return theLeft.AsWholeSeconds() == theRight.AsWholeSeconds() &&
           theLeft.Nanoseconds() == theRight.Nanoseconds();
}

bool operator!=(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    return !(theLeft == theRight);
}

bool operator<(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    if (theLeft.AsWholeSeconds() != theRight.AsWholeSeconds()) {
        return theLeft.AsWholeSeconds() < theRight.AsWholeSeconds();
    }
    return theLeft.Nanoseconds() < theRight.Nanoseconds();
}

bool operator>(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    return theRight < theLeft;
}

bool operator<=(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    return !(theRight < theLeft);
}

bool operator>=(const CKesTimestamp& theLeft, const CKesTimestamp& theRight) {
    return !(theLeft < theRight);
}

std::ostream& operator<<(std::ostream& theStream, const CKesTimestamp& theTimestamp) {
    char buffer[kBufferSize];
    char* out = put_integer(buffer, theTimestamp.AsWholeSeconds(), 1);
    out = put_char(out, '.');
    out = put_integer(out, theTimestamp.Nanoseconds(), 9);
    *out = '\0';
    // One piece, so that a field width set on the stream applies to the whole.
    return theStream << buffer;
}

namespace CKesTime {

host::wstring GetCurrentTimeString() {
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    TIME_ZONE_INFORMATION zone;
    DWORD which = GetTimeZoneInformation(&zone);
    return widen(kes_detail::FormatTimeString(utc, which, zone).c_str());
}

}  // namespace CKesTime
