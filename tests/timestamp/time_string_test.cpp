// CKesTime::GetCurrentTimeString: the UTC clock's digits, then the zone's base
// offset (never the daylight one), nothing more when the zone cannot be read.
#include <kes/util/internal/kestimestring.h>
#include <kes/util/kestimestamp.h>

#include "zone_fixture.h"

#include <cstring>
#include <ctime>
#include <string>

namespace {

TEST(TimeString, DigitsAreTheUtcReadingAndTheOffsetIsTheBaseBias) {
    const SYSTEMTIME utc = {2024, 7, 1, 5, 3, 4, 5, 678};
    struct Case {
        DWORD which;
        LONG bias;
        const char* expected;
    };
    const Case cases[] = {
        {TIME_ZONE_ID_UNKNOWN, 0, "2024-07-05T03:04:05+0000"},
        {TIME_ZONE_ID_STANDARD, -330, "2024-07-05T03:04:05+0530"},
        {TIME_ZONE_ID_DAYLIGHT, 300, "2024-07-05T03:04:05-0500"},  // daylight bias not added
        {TIME_ZONE_ID_UNKNOWN, -765, "2024-07-05T03:04:05+1245"},
        {TIME_ZONE_ID_INVALID, 300, "2024-07-05T03:04:05"},  // 19 characters
    };
    for (const Case& c : cases) {
        TIME_ZONE_INFORMATION zone{};
        zone.Bias = c.bias;
        zone.DaylightBias = -60;
        EXPECT_EQ(kes_detail::FormatTimeString(utc, c.which, zone), c.expected);
    }
}

std::string UtcText(std::time_t when) {
    char text[32];
    std::tm parts{};
    gmtime_r(&when, &parts);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return text;
}

TEST_F(ZoneTest, CurrentTimeStringIsUtcNowWithTheZonesBaseOffset) {
    const std::pair<const char*, const char*> cases[] = {
        {"UTC0", "+0000"},      {"Asia/Kolkata", "+0530"}, {"ABC3:30", "-0330"},
        {"ABC-12:45", "+1245"}, {"EST5EDT", "-0500"},  // the standard offset in summer too
    };
    for (const auto& [zone, offset] : cases) {
        SCOPED_TRACE(zone);
        if (!UseZone(zone))
            continue;
        std::string before = UtcText(std::time(nullptr));
        host::wstring wide = CKesTime::GetCurrentTimeString();
        std::string after = UtcText(std::time(nullptr));
        std::string text(wide.begin(), wide.end());
        ASSERT_EQ(text.size(), 24u) << text;
        // ISO digits order like the instants they name.
        EXPECT_GE(text.substr(0, 19), before);
        EXPECT_LE(text.substr(0, 19), after);
        EXPECT_EQ(text.substr(19), offset);
    }
}

}  // namespace
