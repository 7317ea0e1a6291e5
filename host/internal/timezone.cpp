#include <host/internal/timezone.h>

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <utility>
#include <vector>

namespace host {
namespace timezone {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Floor division, so that instants before 1970 fall on the right day.
std::int64_t floor_div(std::int64_t value, std::int64_t divisor) {
    std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

// The clock of the zone at one instant, as the C library reports it.
struct ClockState {
    bool daylight = false;
    long offset = 0;  // seconds east of UTC
    std::string name;
};

bool same_clock(const ClockState& a, const ClockState& b) {
    return a.daylight == b.daylight && a.offset == b.offset;
}

bool sample(std::int64_t when, ClockState& state) {
    std::time_t value = static_cast<std::time_t>(when);
    std::tm broken{};
    if (::localtime_r(&value, &broken) == nullptr)
        return false;
    state.daylight = broken.tm_isdst > 0;
    state.offset = broken.tm_gmtoff;
    // tm_zone points into the C library's zone data, which the next tzset may
    // free: copy it now.
    const char* name =
        broken.tm_zone != nullptr ? broken.tm_zone : ::tzname[state.daylight ? 1 : 0];
    state.name = name != nullptr ? name : "";
    return true;
}

struct Sample {
    std::int64_t when;
    ClockState state;
};

struct Change {
    std::int64_t when;  // first second of the new clock
    ClockState before;
    ClockState after;
};

// Every clock the zone shows in one local year, and every change within it.
struct YearAnalysis {
    bool valid = false;
    bool tz_set = false;
    std::string tz;
    std::int64_t year = 0;
    std::vector<Sample> samples;
    std::vector<Change> changes;
};

// Sampling step: no zone changes its clock twice within six hours, so one
// change at most lies between neighbouring samples; bisection finds it.
constexpr std::int64_t kStep = 6 * 3600;

bool find_change(const Sample& from, const Sample& to, Change& change) {
    std::int64_t low = from.when;
    std::int64_t high = to.when;
    ClockState probe;
    while (high - low > 1) {
        std::int64_t middle = low + (high - low) / 2;
        if (!sample(middle, probe))
            return false;
        if (same_clock(probe, from.state)) {
            low = middle;
        } else {
            high = middle;
        }
    }
    change.when = high;
    change.before = from.state;
    return sample(high, change.after);
}

YearAnalysis analyse_year(std::int64_t year) {
    YearAnalysis analysis;
    analysis.year = year;
    const std::int64_t local_begin = days_from_civil(year, 1, 1) * kSecondsPerDay;
    const std::int64_t local_end = days_from_civil(year + 1, 1, 1) * kSecondsPerDay;
    auto in_year = [&](std::int64_t local) { return local >= local_begin && local < local_end; };

    // Two days of margin cover every offset from UTC (at most about 26 hours).
    Sample previous;
    bool have_previous = false;
    for (std::int64_t when = local_begin - 2 * kSecondsPerDay;
         when <= local_end + 2 * kSecondsPerDay; when += kStep) {
        Sample current{when, {}};
        if (!sample(when, current.state))
            return analysis;
        if (have_previous && !same_clock(previous.state, current.state)) {
            Change change;
            if (!find_change(previous, current, change))
                return analysis;
            if (in_year(change.when + change.before.offset))
                analysis.changes.push_back(change);
        }
        if (in_year(when + current.state.offset))
            analysis.samples.push_back(current);
        previous = std::move(current);
        have_previous = true;
    }
    analysis.valid = !analysis.samples.empty();
    return analysis;
}

// The clock with the given daylight flag nearest in time to `now`.
const ClockState* nearest_clock(const YearAnalysis& analysis, std::int64_t now, bool daylight) {
    const ClockState* best = nullptr;
    std::int64_t best_distance = 0;
    for (const Sample& candidate : analysis.samples) {
        if (candidate.state.daylight != daylight)
            continue;
        std::int64_t distance = candidate.when > now ? candidate.when - now : now - candidate.when;
        if (best == nullptr || distance < best_distance) {
            best = &candidate.state;
            best_distance = distance;
        }
    }
    return best;
}

ChangeRule rule_for(const Change& change) {
    CivilTime wall = civil_from_seconds(change.when + change.before.offset);
    ChangeRule rule;
    rule.month = wall.month;
    rule.weekday = wall.weekday;
    // Win32 spells "the last such weekday" as 5, whatever the month's length.
    rule.occurrence =
        wall.day + 7 > days_in_month(wall.year, wall.month) ? 5 : (wall.day - 1) / 7 + 1;
    rule.hour = wall.hour;
    rule.minute = wall.minute;
    rule.second = wall.second;
    return rule;
}

// Fills the change rules when the year has exactly one change each way
// between the two clocks; anything else (a suspended rule, a moved base
// offset) has no recurring description.
void fill_rules(const YearAnalysis& analysis, const ClockState& standard,
                const ClockState& daylight, ZoneDescription& description) {
    if (analysis.changes.size() != 2)
        return;
    const Change* to_daylight = nullptr;
    const Change* to_standard = nullptr;
    for (const Change& change : analysis.changes) {
        if (same_clock(change.before, standard) && same_clock(change.after, daylight)) {
            to_daylight = &change;
        } else if (same_clock(change.before, daylight) && same_clock(change.after, standard)) {
            to_standard = &change;
        }
    }
    if (to_daylight == nullptr || to_standard == nullptr)
        return;
    description.to_daylight = rule_for(*to_daylight);
    description.to_standard = rule_for(*to_standard);
}

void describe(const YearAnalysis& analysis, std::int64_t now, const ClockState& current,
              ZoneDescription& description) {
    description = ZoneDescription();
    const ClockState* standard = nearest_clock(analysis, now, false);
    const ClockState* daylight = nearest_clock(analysis, now, true);
    if (standard == nullptr || daylight == nullptr) {
        description.standard_offset = description.daylight_offset = current.offset;
        description.standard_name = description.daylight_name = current.name;
        return;
    }
    if (!current.daylight)
        standard = &current;
    if (current.daylight)
        daylight = &current;
    // Zone data may mark winter as the daylight period (a negative saving);
    // Win32 callers expect the base to be the lower offset, so swap the roles.
    bool swapped = daylight->offset < standard->offset;
    if (swapped)
        std::swap(standard, daylight);
    description.standard_offset = standard->offset;
    description.daylight_offset = daylight->offset;
    description.standard_name = standard->name;
    description.daylight_name = daylight->name;
    description.has_daylight = true;
    description.daylight_now = current.daylight != swapped;
    fill_rules(analysis, *standard, *daylight, description);
}

bool holds_clock(const YearAnalysis& analysis, const ClockState& state) {
    for (const Sample& candidate : analysis.samples) {
        if (same_clock(candidate.state, state))
            return true;
    }
    return false;
}

std::mutex gCacheLock;
YearAnalysis gCache;  // guarded by gCacheLock

}  // namespace

std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    // Counts in 400-year eras starting on 1 March, so that the leap day is the
    // last day of its year.
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floor_div(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t month_from_march = (month + 9) % 12;
    const std::int64_t day_of_year = (153 * month_from_march + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

CivilTime civil_from_seconds(std::int64_t seconds) {
    const std::int64_t days = floor_div(seconds, kSecondsPerDay);
    const std::int64_t second_of_day = seconds - days * kSecondsPerDay;
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = floor_div(shifted, 146097);
    const std::int64_t day_of_era = shifted - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
    CivilTime civil;
    civil.day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    civil.month =
        static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    civil.year = year_of_era + era * 400 + (civil.month <= 2 ? 1 : 0);
    std::int64_t weekday = (days + 4) % 7;  // 1970-01-01 was a Thursday
    civil.weekday = static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
    civil.hour = static_cast<int>(second_of_day / 3600);
    civil.minute = static_cast<int>(second_of_day / 60 % 60);
    civil.second = static_cast<int>(second_of_day % 60);
    return civil;
}

int days_in_month(std::int64_t year, int month) {
    return static_cast<int>(
        days_from_civil(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1) -
        days_from_civil(year, month, 1));
}

bool describe_zone(std::int64_t now, ZoneDescription& description) {
    std::lock_guard<std::mutex> guard(gCacheLock);
    ::tzset();
    const char* tz = std::getenv("TZ");
    ClockState current;
    if (!sample(now, current))
        return false;
    const std::int64_t year = civil_from_seconds(now + current.offset).year;
    const bool same_key = gCache.valid && gCache.year == year && gCache.tz_set == (tz != nullptr) &&
                          (tz == nullptr || gCache.tz == tz);
    // A clock the cached year never showed means the zone data changed under
    // the same TZ value: analyse again.
    if (!same_key || !holds_clock(gCache, current)) {
        gCache = analyse_year(year);
        gCache.tz_set = tz != nullptr;
        gCache.tz = tz != nullptr ? tz : "";
        if (!gCache.valid)
            return false;
    }
    describe(gCache, now, current, description);
    return true;
}

bool local_civil_time(std::int64_t now, CivilTime& local) {
    ::tzset();
    ClockState current;
    if (!sample(now, current))
        return false;
    local = civil_from_seconds(now + current.offset);
    return true;
}

}  // namespace timezone
}  // namespace host
