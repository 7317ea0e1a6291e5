#include <kes/util/kestimestamp.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr LONG kMax = std::numeric_limits<LONG>::max();
constexpr LONG kMin = std::numeric_limits<LONG>::min();

std::string narrow(const host::wstring& wide) {
    std::string text;
    for (WCHAR unit : wide)
        text.push_back(static_cast<char>(unit));
    return text;
}

std::string streamed(const CKesTimestamp& value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

void ExpectFields(const CKesTimestamp& value, LONG seconds, LONG nanoseconds) {
    EXPECT_EQ(value.AsWholeSeconds(), seconds);
    EXPECT_EQ(value.Nanoseconds(), nanoseconds);
}

struct Normalisation {
    LONG seconds, nanoseconds, expected_seconds, expected_nanoseconds;
};

TEST(TimestampSet, NormalisesCarriesAndGivesBothPartsOneSign) {
    const Normalisation cases[] = {
        {1, -1, 0, 999999999},
        {-1, 1, 0, -999999999},
        {0, 1500000000, 1, 500000000},
        {2, -1500000000, 0, 500000000},
        {-5, -1500000000, -6, -500000000},
        {0, -5, 0, -5},
        {0, 999999999, 0, 999999999},
        {0, 1000000000, 1, 0},
        {0, -1000000000, -1, 0},
        {3, 2147483647, 5, 147483647},
        {-3, -2147483647 - 1, -5, -147483648},
        {1, -2000000000, -1, 0},
        {-1, 2000000001, 1, 1},
        // A carry past the end of the range saturates; a borrow stays inside.
        {kMax, 1000000000, kMax, 999999999},
        {kMin, -1000000000, kMin, -999999999},
        {kMin, -2147483647 - 1, kMin, -999999999},
        {kMin, 1, kMin + 1, -999999999},
    };
    for (const Normalisation& c : cases) {
        SCOPED_TRACE(std::to_string(c.seconds) + ", " + std::to_string(c.nanoseconds));
        CKesTimestamp value(c.seconds, c.nanoseconds);
        ExpectFields(value, c.expected_seconds, c.expected_nanoseconds);
    }
}

TEST(TimestampSet, ClearAndAssigningANanosecondCount) {
    CKesTimestamp value(12, 34);
    value.Clear();
    EXPECT_TRUE(CKesTimestamp() == value);
    ExpectFields(value, 0, 0);
    EXPECT_EQ(&(value = 2.5e9), &value);
    ExpectFields(value, 2, 500000000);
}

struct FromDouble {
    double nanoseconds;
    LONG seconds, rest;
};

TEST(TimestampSet, FromNanosecondCountTruncatesExactlyAndSaturates) {
    const double inf = std::numeric_limits<double>::infinity();
    const FromDouble cases[] = {
        {-1.5e9, -1, -500000000},
        {1.9, 0, 1},
        {-0.9, 0, 0},
        {-999999999.5, 0, -999999999},
        // Dividing by 1e9 in floating point before splitting would lose the
        // last nanosecond of these.
        {123456789012.0, 123, 456789012},
        {86400123456789.0, 86400, 123456789},
        {-123456789012.0, -123, -456789012},
        {2147483647000000000.0, kMax, 0},
        {3e18, kMax, 999999999},
        {1e19, kMax, 999999999},
        {-3e18, kMin, -999999999},
        {inf, kMax, 999999999},
        {-inf, kMin, -999999999},
        {std::nan(""), 0, 0},
    };
    for (const FromDouble& c : cases) {
        SCOPED_TRACE(c.nanoseconds);
        ExpectFields(CKesTimestamp(c.nanoseconds), c.seconds, c.rest);
    }
}

TEST(TimestampSet, FromClockReadingCombinesMixedSigns) {
    CKesTimestamp value;
    value.Set(1, 2, 3500);
    ExpectFields(value, 3723, 500000000);
    value.Set(0, 0, -1500);
    ExpectFields(value, -1, -500000000);
    value.Set(1, 0, -1500);  // one hour less a second and a half
    ExpectFields(value, 3598, 500000000);
    value.Set(-1, 30, 0);
    ExpectFields(value, -1800, 0);
    value.Set(1000000, 0, 0);  // beyond 68 years
    ExpectFields(value, kMax, 999999999);
    value.Set(kMin, kMin, kMin);
    ExpectFields(value, kMin, -999999999);
}

TEST(TimestampArithmetic, SumsAndDifferencesAreNormalisedAndSaturate) {
    struct Case {
        LONG a_s, a_n;
        char op;
        LONG b_s, b_n, s, n;
    };
    const Case cases[] = {
        {1, 0, '-', 0, 1, 0, 999999999},
        {0, 0, '-', 1, 500000000, -1, -500000000},
        {0, 999999999, '+', 0, 999999999, 1, 999999998},
        {5, 0, '+', 0, -1, 4, 999999999},
        {-2, -600000000, '+', 1, 700000000, 0, -900000000},
        {0, 999999999, '-', 0, -999999999, 1, 999999998},
        {kMax, 0, '+', 1, 0, kMax, 999999999},  // beyond the range: saturated
        {kMax, 999999999, '+', 0, 1, kMax, 999999999},
        {kMin, 0, '-', 1, 0, kMin, -999999999},
        {kMin, 0, '-', kMax, 0, kMin, -999999999},
        {kMax - 1, 500000000, '+', 0, 500000000, kMax, 0},  // right at the end: exact
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a_s << "," << c.a_n << c.op << c.b_s << "," << c.b_n);
        CKesTimestamp a(c.a_s, c.a_n), b(c.b_s, c.b_n);
        ExpectFields(c.op == '+' ? a + b : a - b, c.s, c.n);
    }
}

TEST(TimestampComparison, OrdersNegativeAndPositiveValuesByValue) {
    const std::vector<CKesTimestamp> ascending = {
        CKesTimestamp(kMin, -999999999),
        CKesTimestamp(-1, -500000000),
        CKesTimestamp(-1, 0),
        CKesTimestamp(0, -5),
        CKesTimestamp(0, 0),
        CKesTimestamp(0, 1),
        CKesTimestamp(1, 0),
        CKesTimestamp(1, 1),
        CKesTimestamp(kMax, 0),
    };
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        for (std::size_t j = 0; j < ascending.size(); ++j) {
            SCOPED_TRACE(std::to_string(i) + " vs " + std::to_string(j));
            const CKesTimestamp& x = ascending[i];
            const CKesTimestamp& y = ascending[j];
            EXPECT_EQ(x == y, i == j);
            EXPECT_EQ(x != y, i != j);
            EXPECT_EQ(x < y, i < j);
            EXPECT_EQ(x > y, i > j);
            EXPECT_EQ(x <= y, i <= j);
            EXPECT_EQ(x >= y, i >= j);
        }
    }
}

TEST(TimestampConversion, ConvertsToFloatingPointWithSign) {
    CKesTimestamp value(-1, -500000000);
    EXPECT_DOUBLE_EQ(value.AsNanoseconds(), -1.5e9);
    EXPECT_DOUBLE_EQ(value.AsSecondsAndNanoseconds(), -1.5);
    EXPECT_DOUBLE_EQ(CKesTimestamp(kMax, 999999999).AsNanoseconds(), 2147483647999999999.0);
    EXPECT_EQ(value.AsWholeSeconds(), -1);
    CKesTimestamp extreme(kMin, 0);  // the breakdown of the far end adds up
    EXPECT_EQ(static_cast<std::int64_t>(extreme.Days()) * 86400 + extreme.Hours() * 3600 +
                  extreme.Minutes() * 60 + extreme.Seconds(),
              kMin);
}

struct Rendering {
    LONG seconds, nanoseconds;
    const char *dhmsn, *hmsm, *hmsn, *sn, *stream;
};

TEST(TimestampRendering, SampleValuesRenderExactly) {
    const Rendering cases[] = {
        {93784, 5, "1d 02:03:04.000000005", "026:03:04.000", "026:03:04.000000005",
         "00093784.000000005", "93784.000000005"},
        {93784, 123456789, "1d 02:03:04.123456789", "026:03:04.123", "026:03:04.123456789",
         "00093784.123456789", "93784.123456789"},
        {-3661, -500000000, "0d -01:-01:-01.-500000000", "-001:-01:-01.-500",
         "-001:-01:-01.-500000000", "-00003661.-500000000", "-3661.-500000000"},
        {-90061, -7, "-1d -01:-01:-01.-000000007", "-025:-01:-01.000", "-025:-01:-01.-000000007",
         "-00090061.-000000007", "-90061.-000000007"},
        {0, -5, "0d 00:00:00.-000000005", "000:00:00.000", "000:00:00.-000000005",
         "00000000.-000000005", "0.-000000005"},
        // With the zero flag the sign takes one of the three places: "-05".
        {0, -5000000, "0d 00:00:00.-005000000", "000:00:00.-05", "000:00:00.-005000000",
         "00000000.-005000000", "0.-005000000"},
    };
    for (const Rendering& c : cases) {
        CKesTimestamp value(c.seconds, c.nanoseconds);
        EXPECT_EQ(narrow(value.AsDHMSN()), c.dhmsn);
        EXPECT_EQ(narrow(value.AsHMSm()), c.hmsm);
        EXPECT_EQ(narrow(value.AsHMSN()), c.hmsn);
        EXPECT_EQ(narrow(value.AsSN()), c.sn);
        EXPECT_EQ(streamed(value), c.stream);
    }
}

// The renderings are written without printf; compare them with printf itself
// across signs, magnitudes and the ends of the range.
TEST(TimestampRendering, EveryRenderingMatchesItsPrintfFormat) {
    const LONG seconds[] = {0,       1,         59,   60, 3599, 3600,   86399,      86400,
                            8639999, 100000000, kMax, -1, -59,  -86400, -100000000, kMin};
    const LONG nanoseconds[] = {0, 1, 999999, 1000000, 99999999, 999999999};
    char expected[128];
    for (LONG s : seconds) {
        for (LONG n : nanoseconds) {
            CKesTimestamp v(s, s < 0 ? -n : n);
            LONG ns = v.Nanoseconds();
            LONG hours = v.Days() * 24 + v.Hours();
            SCOPED_TRACE(std::to_string(s) + ", " + std::to_string(ns));
            std::snprintf(expected, sizeof expected, "%dd %.2d:%.2d:%.2d.%.9d", v.Days(), v.Hours(),
                          v.Minutes(), v.Seconds(), ns);
            EXPECT_EQ(narrow(v.AsDHMSN()), expected);
            std::snprintf(expected, sizeof expected, "%.3d:%.2d:%.2d.%03d", hours, v.Minutes(),
                          v.Seconds(), ns / 1000000);
            EXPECT_EQ(narrow(v.AsHMSm()), expected);
            std::snprintf(expected, sizeof expected, "%.3d:%.2d:%.2d.%.9d", hours, v.Minutes(),
                          v.Seconds(), ns);
            EXPECT_EQ(narrow(v.AsHMSN()), expected);
            std::snprintf(expected, sizeof expected, "%.8d.%.9d", v.AsWholeSeconds(), ns);
            EXPECT_EQ(narrow(v.AsSN()), expected);
            std::snprintf(expected, sizeof expected, "%d.%.9d", v.AsWholeSeconds(), ns);
            EXPECT_EQ(streamed(v), expected);
        }
    }
}

TEST(TimestampRendering, StreamWidthAppliesToTheWholeText) {
    std::ostringstream stream;
    stream.width(20);
    stream << CKesTimestamp(1, 2) << "|";
    EXPECT_EQ(stream.str(), "         1.000000002|");
}

}  // namespace
