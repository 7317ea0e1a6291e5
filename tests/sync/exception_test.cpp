#include <kes/error/kescodes.h>
#include <kes/error/kesexception.h>

#include <gtest/gtest.h>

#include <climits>
#include <type_traits>

namespace {

static_assert(!std::is_polymorphic<CKesException>::value, "a plain value type");
static_assert(sizeof(CKesException) == sizeof(LONG), "one field: the code");
static_assert(KES_E_SYNC_OBJECT == -2147220976, "the code is negative as a 32-bit value");

TEST(KesException, StoresAnyCodeUnchanged) {
    for (LONG code : {LONG(0), LONG(1), LONG(-1), KES_E_SYNC_OBJECT, LONG(INT_MIN), LONG(INT_MAX)})
        EXPECT_EQ(CKesException(code).ErrorCode(), code);
}

TEST(KesException, CopyAndAssignmentKeepTheCode) {
    CKesException original(KES_E_VALUE_ACCESS);
    CKesException copy(original);
    EXPECT_EQ(copy.ErrorCode(), KES_E_VALUE_ACCESS);
    CKesException assigned(0);
    CKesException& result = (assigned = original);
    EXPECT_EQ(&result, &assigned);
    EXPECT_EQ(assigned.ErrorCode(), KES_E_VALUE_ACCESS);
}

TEST(KesException, IsCaughtByValueAndByReference) {
    try {
        throw CKesException(KES_E_NOT_FOUND);
    } catch (CKesException caught) {
        EXPECT_EQ(caught.ErrorCode(), KES_E_NOT_FOUND);
    }
    try {
        throw CKesException(KES_E_INVALID_STATE);
    } catch (const CKesException& caught) {
        EXPECT_EQ(caught.ErrorCode(), KES_E_INVALID_STATE);
    }
}

}  // namespace
