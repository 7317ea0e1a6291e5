// Host safe arrays: element sizes, bounds and index checks, string ownership,
// locks, refused arguments and several dimensions.
#include <host/safearray.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// Destroys an array at the end of the scope.
class Array {
  public:
    explicit Array(SAFEARRAY* theArray) : m_Array(theArray) {}
    ~Array() {
        if (m_Array != nullptr) {
            EXPECT_EQ(SafeArrayDestroy(m_Array), S_OK);
        }
    }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    SAFEARRAY* get() const { return m_Array; }

  private:
    SAFEARRAY* m_Array;
};

host::wstring Units(BSTR theText) {
    return host::wstring(theText, SysStringLen(theText));
}

TEST(SafeArrayCreate, ElementSizeAndTypeFollowTheVariantType) {
    struct Case {
        VARTYPE vt;
        UINT size;
    };
    const Case cases[] = {
        {VT_I1, 1},
        {VT_UI1, 1},
        {VT_I2, 2},
        {VT_UI2, 2},
        {VT_BOOL, 2},
        {VT_I4, 4},
        {VT_UI4, 4},
        {VT_INT, 4},
        {VT_UINT, 4},
        {VT_ERROR, 4},
        {VT_R4, 4},
        {VT_R8, 8},
        {VT_CY, 8},
        {VT_DATE, 8},
        {VT_I8, 8},
        {VT_UI8, 8},
        {VT_BSTR, sizeof(void*)},
    };
    for (const Case& c : cases) {
        Array array(SafeArrayCreateVector(c.vt, 0, 3));
        ASSERT_NE(array.get(), nullptr) << c.vt;
        EXPECT_EQ(SafeArrayGetElemsize(array.get()), c.size) << c.vt;
        EXPECT_EQ(SafeArrayGetDim(array.get()), 1u);
        VARTYPE vt = VT_EMPTY;
        EXPECT_EQ(SafeArrayGetVartype(array.get(), &vt), S_OK);
        EXPECT_EQ(vt, c.vt);
        EXPECT_EQ((array.get()->fFeatures & FADF_BSTR) != 0, c.vt == VT_BSTR);
    }
}

TEST(SafeArrayCreate, RefusesTypesDimensionsAndBoundsItCannotHold) {
    SAFEARRAYBOUND one{4, 0};
    EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_NULL, 1, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4 | VT_ARRAY, 1, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4 | VT_BYREF, 1, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 1, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    // The last index would pass the largest LONG.
    EXPECT_EQ(SafeArrayCreateVector(VT_UI1, 0x7FFFFFFF, 2), nullptr);
    // Elements beyond the address space.
    SAFEARRAYBOUND huge[3] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_R8, 3, huge), nullptr);
    // The last LONG itself is a valid index.
    Array top(SafeArrayCreateVector(VT_UI1, 0x7FFFFFFF, 1));
    ASSERT_NE(top.get(), nullptr);
    LONG ub = 0;
    EXPECT_EQ(SafeArrayGetUBound(top.get(), 1, &ub), S_OK);
    EXPECT_EQ(ub, 0x7FFFFFFF);
}

TEST(SafeArrayBounds, AnyLowerBoundAndIndicesOutsideAreRefused) {
    Array array(SafeArrayCreateVector(VT_I4, -3, 5));  // indices -3 .. 1
    ASSERT_NE(array.get(), nullptr);
    LONG lb = 0, ub = 0;
    EXPECT_EQ(SafeArrayGetLBound(array.get(), 1, &lb), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(array.get(), 1, &ub), S_OK);
    EXPECT_EQ(lb, -3);
    EXPECT_EQ(ub, 1);
    for (LONG i = -3; i <= 1; ++i) {
        LONG value = i * 10;
        EXPECT_EQ(SafeArrayPutElement(array.get(), &i, &value), S_OK);
    }
    LONG at = -3;
    LONG value = 0;
    EXPECT_EQ(SafeArrayGetElement(array.get(), &at, &value), S_OK);
    EXPECT_EQ(value, -30);
    // The first index is the first element in memory.
    EXPECT_EQ(static_cast<LONG*>(array.get()->pvData)[4], 10);

    for (LONG outside : {-4, 2, 0x7FFFFFFF, static_cast<LONG>(0x80000000u)}) {
        value = 99;
        EXPECT_EQ(SafeArrayPutElement(array.get(), &outside, &value), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayGetElement(array.get(), &outside, &value), DISP_E_BADINDEX);
        EXPECT_EQ(value, 99);
        void* element = nullptr;
        EXPECT_EQ(SafeArrayPtrOfIndex(array.get(), &outside, &element), DISP_E_BADINDEX);
    }
    for (UINT dim : {0u, 2u}) {
        lb = 77;
        EXPECT_EQ(SafeArrayGetLBound(array.get(), dim, &lb), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayGetUBound(array.get(), dim, &lb), DISP_E_BADINDEX);
        EXPECT_EQ(lb, 77);
    }
}

TEST(SafeArrayBounds, AnEmptyDimensionEndsOneBeforeItsLowerBound) {
    Array empty(SafeArrayCreateVector(VT_R8, 5, 0));
    ASSERT_NE(empty.get(), nullptr);
    LONG ub = 0;
    EXPECT_EQ(SafeArrayGetUBound(empty.get(), 1, &ub), S_OK);
    EXPECT_EQ(ub, 4);
    LONG at = 5;
    double value = 0;
    EXPECT_EQ(SafeArrayGetElement(empty.get(), &at, &value), DISP_E_BADINDEX);
    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(empty.get(), &data), S_OK);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(SafeArrayUnaccessData(empty.get()), S_OK);

    Array lowest(SafeArrayCreateVector(VT_R8, static_cast<LONG>(0x80000000u), 0));
    ASSERT_NE(lowest.get(), nullptr);
    EXPECT_EQ(SafeArrayGetUBound(lowest.get(), 1, &ub), DISP_E_OVERFLOW);
}

TEST(SafeArrayElements, NewElementsAreZeroAndValuesRoundTripByType) {
    Array bytes(SafeArrayCreateVector(VT_UI1, 0, 3));
    Array reals(SafeArrayCreateVector(VT_R8, 0, 2));
    Array words(SafeArrayCreateVector(VT_I8, 0, 2));
    ASSERT_TRUE(bytes.get() && reals.get() && words.get());
    LONG i = 1;
    unsigned char byte = 7;
    EXPECT_EQ(SafeArrayGetElement(bytes.get(), &i, &byte), S_OK);
    EXPECT_EQ(byte, 0);
    byte = 0xFE;
    EXPECT_EQ(SafeArrayPutElement(bytes.get(), &i, &byte), S_OK);
    double real = -2.5;
    EXPECT_EQ(SafeArrayPutElement(reals.get(), &i, &real), S_OK);
    std::int64_t word = INT64_MIN;
    EXPECT_EQ(SafeArrayPutElement(words.get(), &i, &word), S_OK);

    unsigned char byteBack[4] = {1, 1, 1, 1};  // only one byte may be written
    EXPECT_EQ(SafeArrayGetElement(bytes.get(), &i, byteBack), S_OK);
    EXPECT_EQ(byteBack[0], 0xFE);
    EXPECT_EQ(byteBack[1], 1);
    double realBack = 0;
    EXPECT_EQ(SafeArrayGetElement(reals.get(), &i, &realBack), S_OK);
    EXPECT_EQ(realBack, -2.5);
    std::int64_t wordBack = 0;
    EXPECT_EQ(SafeArrayGetElement(words.get(), &i, &wordBack), S_OK);
    EXPECT_EQ(wordBack, INT64_MIN);
}

TEST(SafeArrayStrings, PutAndGetCopyAndDestroyFreesEveryElement) {
    Array array(SafeArrayCreateVector(VT_BSTR, 1, 3));
    ASSERT_NE(array.get(), nullptr);
    const WCHAR withZero[] = {'a', 0, 'b'};
    BSTR mine = SysAllocStringLen(withZero, 3);
    LONG at = 1;
    EXPECT_EQ(SafeArrayPutElement(array.get(), &at, mine), S_OK);
    SysFreeString(mine);  // the element is a copy of its own

    BSTR got = nullptr;
    EXPECT_EQ(SafeArrayGetElement(array.get(), &at, &got), S_OK);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Units(got), host::wstring(withZero, 3));
    BSTR again = nullptr;
    EXPECT_EQ(SafeArrayGetElement(array.get(), &at, &again), S_OK);
    EXPECT_NE(again, got);  // each get hands out a new copy
    SysFreeString(got);
    SysFreeString(again);

    // Replacing frees the old string; a null BSTR is a valid element, and
    // an element never written reads as null.
    BSTR second = SysAllocString(OLESTR("second"));
    EXPECT_EQ(SafeArrayPutElement(array.get(), &at, second), S_OK);
    SysFreeString(second);
    at = 2;
    EXPECT_EQ(SafeArrayPutElement(array.get(), &at, nullptr), S_OK);
    got = SysAllocString(OLESTR("overwritten"));
    BSTR before = got;
    EXPECT_EQ(SafeArrayGetElement(array.get(), &at, &got), S_OK);
    EXPECT_EQ(got, nullptr);
    SysFreeString(before);
    at = 3;
    EXPECT_EQ(SafeArrayGetElement(array.get(), &at, &got), S_OK);
    EXPECT_EQ(got, nullptr);
    // Destroying the array frees "second"; the leak checker holds us to it.
}

TEST(SafeArrayLocks, DestroyWaitsForEveryLockAndUnlockMustMatch) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 1);
    ASSERT_NE(array, nullptr);
    BSTR text = SysAllocString(OLESTR("kept"));
    LONG at = 0;
    ASSERT_EQ(SafeArrayPutElement(array, &at, text), S_OK);
    SysFreeString(text);

    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
    EXPECT_EQ(data, array->pvData);
    EXPECT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(array->cLocks, 2u);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    // Still whole, and writable while locked.
    BSTR got = nullptr;
    EXPECT_EQ(SafeArrayGetElement(array, &at, &got), S_OK);
    EXPECT_EQ(Units(got), host::wstring(OLESTR("kept")));
    SysFreeString(got);
    EXPECT_EQ(SafeArrayPutElement(array, &at, nullptr), S_OK);
    EXPECT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArrayArguments, NullAndForeignArraysAndPointersAreRefused) {
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    // A descriptor these functions did not make.
    struct {
        std::uint64_t before[2];
        SAFEARRAY descriptor;
    } foreign{};
    foreign.descriptor.cDims = 1;
    foreign.descriptor.cbElements = 4;
    foreign.descriptor.rgsabound[0].cElements = 1;
    SAFEARRAY* alien = &foreign.descriptor;
    for (SAFEARRAY* bad : {static_cast<SAFEARRAY*>(nullptr), alien}) {
        LONG at = 0;
        LONG value = 0;
        VARTYPE vt = VT_EMPTY;
        void* data = nullptr;
        EXPECT_EQ(SafeArrayPutElement(bad, &at, &value), E_INVALIDARG);
        EXPECT_EQ(SafeArrayGetElement(bad, &at, &value), E_INVALIDARG);
        EXPECT_EQ(SafeArrayGetLBound(bad, 1, &value), E_INVALIDARG);
        EXPECT_EQ(SafeArrayGetUBound(bad, 1, &value), E_INVALIDARG);
        EXPECT_EQ(SafeArrayGetVartype(bad, &vt), E_INVALIDARG);
        EXPECT_EQ(SafeArrayAccessData(bad, &data), E_INVALIDARG);
        EXPECT_EQ(SafeArrayUnaccessData(bad), E_INVALIDARG);
        EXPECT_EQ(SafeArrayLock(bad), E_INVALIDARG);
        EXPECT_EQ(SafeArrayPtrOfIndex(bad, &at, &data), E_INVALIDARG);
        EXPECT_EQ(SafeArrayGetElemsize(bad), 0u);
        EXPECT_EQ(SafeArrayGetDim(bad), 0u);
    }
    EXPECT_EQ(SafeArrayDestroy(alien), E_INVALIDARG);

    Array array(SafeArrayCreateVector(VT_I4, 0, 1));
    LONG at = 0;
    LONG value = 0;
    EXPECT_EQ(SafeArrayPutElement(array.get(), nullptr, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayPutElement(array.get(), &at, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(array.get(), nullptr, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(array.get(), &at, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetLBound(array.get(), 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetVartype(array.get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayAccessData(array.get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(array.get()->cLocks, 0u);
}

TEST(SafeArrayDimensions, TheFirstDimensionVariesFastest) {
    SAFEARRAYBOUND bounds[3] = {{2, 1}, {3, -1}, {2, 10}};
    Array array(SafeArrayCreate(VT_I4, 3, bounds));
    ASSERT_NE(array.get(), nullptr);
    EXPECT_EQ(SafeArrayGetDim(array.get()), 3u);
    const LONG expectLower[] = {1, -1, 10};
    const LONG expectUpper[] = {2, 1, 11};
    for (UINT d = 1; d <= 3; ++d) {
        LONG lb = 0, ub = 0;
        EXPECT_EQ(SafeArrayGetLBound(array.get(), d, &lb), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(array.get(), d, &ub), S_OK);
        EXPECT_EQ(lb, expectLower[d - 1]);
        EXPECT_EQ(ub, expectUpper[d - 1]);
    }
    for (LONG k = 10; k <= 11; ++k)
        for (LONG j = -1; j <= 1; ++j)
            for (LONG i = 1; i <= 2; ++i) {
                LONG at[3] = {i, j, k};
                LONG value = i * 100 + j * 10 + k;
                ASSERT_EQ(SafeArrayPutElement(array.get(), at, &value), S_OK);
            }
    const LONG* data = static_cast<const LONG*>(array.get()->pvData);
    EXPECT_EQ(data[0], 100 - 10 + 10);   // (1, -1, 10)
    EXPECT_EQ(data[1], 200 - 10 + 10);   // (2, -1, 10)
    EXPECT_EQ(data[2], 100 + 0 + 10);    // (1, 0, 10)
    EXPECT_EQ(data[6], 100 - 10 + 11);   // (1, -1, 11)
    EXPECT_EQ(data[11], 200 + 10 + 11);  // (2, 1, 11)
    LONG outside[3] = {1, 2, 10};
    LONG value = 0;
    EXPECT_EQ(SafeArrayGetElement(array.get(), outside, &value), DISP_E_BADINDEX);
    void* element = nullptr;
    LONG last[3] = {2, 1, 11};
    EXPECT_EQ(SafeArrayPtrOfIndex(array.get(), last, &element), S_OK);
    EXPECT_EQ(element, &data[11]);
}

TEST(SafeArrayThreads, ReadersLockAndReadOneArrayAtOnce) {
    constexpr LONG kCount = 64;
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, kCount);
    ASSERT_NE(array, nullptr);
    for (LONG i = 0; i < kCount; ++i) {
        host::wstring text(static_cast<std::size_t>(i + 1), static_cast<WCHAR>('a' + i % 26));
        BSTR value = SysAllocString(text.c_str());
        ASSERT_EQ(SafeArrayPutElement(array, &i, value), S_OK);
        SysFreeString(value);
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (int round = 0; round < 200; ++round) {
                void* data = nullptr;
                if (SafeArrayAccessData(array, &data) != S_OK)
                    ++wrong;
                LONG i = round % kCount;
                BSTR got = nullptr;
                if (SafeArrayGetElement(array, &i, &got) != S_OK ||
                    SysStringLen(got) != static_cast<UINT>(i + 1))
                    ++wrong;
                SysFreeString(got);
                if (SafeArrayUnaccessData(array) != S_OK)
                    ++wrong;
            }
        });
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(array->cLocks, 0u);  // every lock given back, none lost
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

}  // namespace
