#include <kes/util/kestimestamp.h>

#include "zone_fixture.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace {

std::string CurrentTimeText() {
    host::wstring wide = CKesTime::GetCurrentTimeString();
    std::string text;
    for (WCHAR unit : wide)
        text.push_back(static_cast<char>(unit));
    return text;
}

// "dddd-dd-ddTdd:dd:dd" then a sign and four digits; '#' is a digit, '~' a sign.
bool HasForm(const std::string& text) {
    const std::string form = "####-##-##T##:##:##~####";
    if (text.size() != form.size())
        return false;
    for (std::size_t i = 0; i < form.size(); ++i) {
        char c = text[i];
        bool ok = form[i] == '#'   ? (c >= '0' && c <= '9')
                  : form[i] == '~' ? (c == '+' || c == '-')
                                   : c == form[i];
        if (!ok)
            return false;
    }
    return true;
}

// Checks the text's form and that its digits are the UTC clock now, whatever
// the zone. Returns the offset text that follows them.
std::string ExpectCurrentInstant(const std::string& text, std::time_t before, std::time_t after) {
    EXPECT_TRUE(HasForm(text)) << text;
    int year, month, day, hour, minute, second, offset_hours, offset_minutes;
    char sign;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d%2d", &year, &month, &day, &hour,
                    &minute, &second, &sign, &offset_hours, &offset_minutes) != 9) {
        ADD_FAILURE() << text;
        return std::string();
    }
    std::tm wall{};
    wall.tm_year = year - 1900;
    wall.tm_mon = month - 1;
    wall.tm_mday = day;
    wall.tm_hour = hour;
    wall.tm_min = minute;
    wall.tm_sec = second;
    std::time_t instant = timegm(&wall);
    EXPECT_GE(instant, before) << text;
    EXPECT_LE(instant, after) << text;
    return text.substr(19);
}

TEST_F(ZoneTest, TimeStringIsUtcWithTheZonesBaseOffset) {
    struct Case {
        const char* zone;
        const char* offset;
    };
    const Case cases[] = {
        {"UTC0", "+0000"},      {"Asia/Kolkata", "+0530"},
        {"ABC3:30", "-0330"},                          // west of Greenwich
        {"ABC-12:45", "+1245"}, {"EST5EDT", "-0500"},  // standard offset in summer too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        if (!UseZone(c.zone, std::string(c.zone).find('/') != std::string::npos))
            continue;
        std::time_t before = std::time(nullptr);
        std::string offset = ExpectCurrentInstant(CurrentTimeText(), before, std::time(nullptr));
        EXPECT_EQ(offset, c.offset);
    }
}

}  // namespace
