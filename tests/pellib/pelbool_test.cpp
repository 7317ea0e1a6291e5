// PelBool: truth through the pointer conversion, copies and assignment.
#include <pellib/pelbool.h>

#include <gtest/gtest.h>

namespace {

bool Truth(const PelBool& value) {
    return value ? true : false;
}

TEST(PelBool, DefaultIsFalse) {
    PelBool value;
    EXPECT_FALSE(Truth(value));
    EXPECT_EQ(static_cast<const PelBoolLiteral_*>(value), nullptr);
}

TEST(PelBool, IntegersAndPointersGiveTheirTruth) {
    int object = 0;
    EXPECT_TRUE(Truth(PelBool(1)));
    EXPECT_TRUE(Truth(PelBool(-7)));
    EXPECT_FALSE(Truth(PelBool(0)));
    EXPECT_TRUE(Truth(PelBool(static_cast<const void*>(&object))));
    EXPECT_FALSE(Truth(PelBool(static_cast<const void*>(nullptr))));
}

TEST(PelBool, EveryTrueValueConvertsToTheSameNonNullPointer) {
    int object = 0;
    const PelBoolLiteral_* a = PelBool(1);
    const PelBoolLiteral_* b = PelBool(static_cast<const void*>(&object));
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(PelBool(1) == PelBool(2));
    EXPECT_TRUE(PelBool(0) == PelBool());
    EXPECT_FALSE(PelBool(1) == PelBool(0));
}

TEST(PelBool, CopiesAndAssignmentsCarryTheTruth) {
    PelBool on(1);
    PelBool copy(on);
    EXPECT_TRUE(Truth(copy));
    PelBool target(1);
    target = PelBool(0);  // the idiom the library uses to set a value
    EXPECT_FALSE(Truth(target));
    target = on;
    EXPECT_TRUE(Truth(target));
    const PelBool& same = target;
    target = same;  // self-assignment
    EXPECT_TRUE(Truth(target));
}

}  // namespace
