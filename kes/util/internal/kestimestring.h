// The text of CKesTime::GetCurrentTimeString from its two readings, apart from
// the clock so that every case can be examined. Internal to kes.
#pragma once

#include <host/time.h>
#include <host/types.h>

#include <cstdio>
#include <string>

namespace kes_detail {

// "YYYY-MM-DDThh:mm:ss" of the UTC reading, then, unless the zone could not
// be read (`which` is TIME_ZONE_ID_INVALID), the zone's base offset as
// "+hhmm" or "-hhmm". Only the base bias counts: neither the standard nor the
// daylight extra bias is added, whatever the season, so US Eastern time ends
// in -0500 in summer too. Bias is minutes west (UTC = local + bias), so a
// positive bias gives "-" and a bias of 0 gives "+0000".
inline std::string FormatTimeString(const SYSTEMTIME& theUtc, DWORD theWhich,
                                    const TIME_ZONE_INFORMATION& theZone) {
    char text[48];
    int length =
        std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2dT%2.2d:%2.2d:%2.2d", theUtc.wYear,
                      theUtc.wMonth, theUtc.wDay, theUtc.wHour, theUtc.wMinute, theUtc.wSecond);
    std::string result(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    if (theWhich == TIME_ZONE_ID_INVALID)
        return result;
    long long bias = theZone.Bias;
    long long magnitude = bias < 0 ? -bias : bias;
    length = std::snprintf(text, sizeof text, "%s%2.2lld%2.2lld", bias > 0 ? "-" : "+",
                           magnitude / 60, magnitude % 60);
    result.append(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    return result;
}

}  // namespace kes_detail
