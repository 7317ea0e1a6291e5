// CKesTimestamp: a signed span or point of time with nanosecond resolution,
// held as whole seconds plus nanoseconds, and CKesTime::GetCurrentTimeString.
//
// Invariant, restored by every setter: |m_Nanoseconds| < 1,000,000,000, and
// when m_Seconds is not 0, m_Nanoseconds is 0 or has the sign of m_Seconds.
// With m_Seconds 0 the nanoseconds carry the sign alone: minus half a second
// is (0, -500000000). Under the invariant, ordering by seconds and then by
// nanoseconds is the order of the values, negative ones included.
//
// Range: whole seconds are a signed 32-bit count (about +-68 years). A result
// beyond it (a sum, a difference, a setter's arguments, a double beyond about
// +-2.1e18 ns) saturates at the nearest end, (2147483647, 999999999) or
// (-2147483648, -999999999); a NaN sets zero.
//
// Breakdown and renderings truncate toward zero, so a negative value breaks
// down into components that are all 0 or negative and renders with a minus
// sign on each of them ("0d -01:-01:-01.-500000000").
//
// A plain value: no lock, no shared state; distinct objects may be used from
// distinct threads freely.
#pragma once

#include <host/types.h>
#include <kes/export.h>

#include <cstdint>
#include <ostream>

class CKesTimestamp;

// Normalised sum and difference of the two values, saturated at the ends of
// the range.
KES_API CKesTimestamp operator+(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);
KES_API CKesTimestamp operator-(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);

class KES_API CKesTimestamp {
  public:
    // Exported as data; usable as constants in callers' code too.
    static const LONG NSECS_PER_SEC = 1000000000;
    static const LONG SECS_PER_DAY = 86400;
    static const LONG HOURS_PER_DAY = 24;
    static const LONG SECS_PER_HOUR = 3600;
    static const LONG MINS_PER_HOUR = 60;
    static const LONG SECS_PER_MINUTE = 60;

    // Set(theSeconds, theNanoseconds); (0, 0) by default.
    CKesTimestamp(LONG theSeconds = 0, LONG theNanoseconds = 0);
    // Set(theNanoseconds).
    CKesTimestamp(double theNanoseconds);
    CKesTimestamp(const CKesTimestamp& theOther);
    virtual ~CKesTimestamp();

    // Copies both fields; self-assignment changes nothing.
    const CKesTimestamp& operator=(const CKesTimestamp& theOther);
    // Set(theNanoseconds).
    const CKesTimestamp& operator=(double theNanoseconds);

    // Sets theSeconds + theNanoseconds / 1e9, normalised: (1, -1) becomes
    // (0, 999999999), (2, -1500000000) becomes (0, 500000000).
    void Set(LONG theSeconds, LONG theNanoseconds);
    // Sets a nanosecond count, truncated toward zero to a whole nanosecond:
    // -1.5e9 becomes (-1, -500000000).
    void Set(double theNanoseconds);
    // Sets a clock reading: hours * 3600 + minutes * 60 + milliseconds / 1000
    // seconds; the components may have mixed signs. (1, 2, 3500) becomes
    // (3723, 500000000).
    void Set(LONG theHours, LONG theMinutes, LONG theMilliseconds);
    // Both fields 0.
    virtual void Clear();

    // Breakdown of m_Seconds, each truncated toward zero.
    LONG Days() const;
    LONG Hours() const;    // 0..23, or 0..-23 for negative values
    LONG Minutes() const;  // 0..59, or 0..-59
    LONG Seconds() const;  // 0..59, or 0..-59
    LONG Nanoseconds() const;

    LONG AsWholeSeconds() const;
    double AsNanoseconds() const;            // m_Seconds * 1e9 + m_Nanoseconds
    double AsSecondsAndNanoseconds() const;  // m_Seconds + m_Nanoseconds / 1e9

    // "%dd %.2d:%.2d:%.2d.%.9d" of days, hours, minutes, seconds, nanoseconds:
    // (93784, 5) renders as "1d 02:03:04.000000005".
    host::wstring AsDHMSN() const;
    // "%.3d:%.2d:%.2d.%03d" of total hours, minutes, seconds, milliseconds:
    // "026:03:04.000".
    host::wstring AsHMSm() const;
    // "%.3d:%.2d:%.2d.%.9d" of total hours, minutes, seconds, nanoseconds:
    // "026:03:04.000000005".
    host::wstring AsHMSN() const;
    // "%.8d.%.9d" of seconds and nanoseconds: "00093784.000000005".
    host::wstring AsSN() const;

  private:
    friend CKesTimestamp operator+(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);
    friend CKesTimestamp operator-(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);

    // Stores the normalised, saturated value of theSeconds + theNanoseconds/1e9.
    void SetWide(std::int64_t theSeconds, std::int64_t theNanoseconds);

    LONG m_Seconds;
    LONG m_Nanoseconds;
};

// Ordered by seconds, then nanoseconds; equal when both fields are.
KES_API bool operator==(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);
KES_API bool operator!=(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);
KES_API bool operator<(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);
KES_API bool operator>(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);
KES_API bool operator<=(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);
KES_API bool operator>=(const CKesTimestamp& theLeft, const CKesTimestamp& theRight);

// Writes "%d.%.9d" of seconds and nanoseconds as one piece of narrow text.
KES_API std::ostream& operator<<(std::ostream& theStream, const CKesTimestamp& theTimestamp);

namespace CKesTime {

// The current time as ISO 8601-shaped text: "YYYY-MM-DDThh:mm:ss" of the UTC
// clock followed by the machine zone's base offset, "+hhmm" or "-hhmm"
// ("2024-07-01T12:00:00-0500" on a US Eastern machine). The digits are always
// UTC, never the local wall clock; the suffix says which zone the machine is
// in, by its standard-time offset whatever the season (US Eastern time gives
// -0500 in summer too), and is not the offset of the digits. When the zone
// cannot be read the text is the 19-character UTC date and time alone.
KES_API host::wstring GetCurrentTimeString();

}  // namespace CKesTime
