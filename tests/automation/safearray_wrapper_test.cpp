// The typed safe-array wrappers: building from containers and plain arrays,
// extraction, the element-size and destination checks, and conversions.
#include <kes/error/keserror.h>
#include <kes/types/kessafearray.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <list>
#include <vector>

namespace {

// Destroys the array a wrapper created, at the end of the scope.
class Owned {
  public:
    explicit Owned(SAFEARRAY* theArray) : m_Array(theArray) {}
    ~Owned() { EXPECT_EQ(SafeArrayDestroy(m_Array), S_OK); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    SAFEARRAY* get() const { return m_Array; }

  private:
    SAFEARRAY* m_Array;
};

VARTYPE TypeOf(SAFEARRAY* theArray) {
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(theArray, &vt), S_OK);
    return vt;
}

std::string LastText(LONG theCode) {
    host::wstring text;
    KesGetLastErrorMessage(theCode, text);
    return std::string(text.begin(), text.end());
}

TEST(KesSafeArray, EmptyDataCreatesNoArray) {
    CKesSafeArrayLong longs{std::list<LONG>()};
    CKesSafeArrayLong noCount(0, nullptr);  // the array is not looked at
    CKesSafeArrayBool negative(-3, nullptr);
    CKesSafeArrayBstr strings{std::list<host::wstring>()};
    CKesSafeArrayUchar bytes{std::vector<unsigned char>()};
    CKesSafeArrayB wrapped(nullptr);
    for (const CKesSafeArrayB* w : std::initializer_list<const CKesSafeArrayB*>{
             &longs, &noCount, &negative, &strings, &bytes, &wrapped}) {
        EXPECT_EQ(w->ToSafeArray(), nullptr);
        EXPECT_EQ(w->Size(), 0);
    }
    LONG size = 12;
    LONG out[1] = {5};
    EXPECT_EQ(longs.PopulateArray(&size, out), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(out[0], 5);
    std::list<LONG> list{1};
    EXPECT_EQ(longs.PopulateList(list), 0);
    EXPECT_EQ(list, std::list<LONG>{1});
}

TEST(KesSafeArray, PopulateListAppendsAfterWhatTheListHolds) {
    CKesSafeArrayLong source(std::list<LONG>{5, -1, 7});
    Owned array(source.ToSafeArray());
    EXPECT_EQ(source.Size(), 3);
    EXPECT_EQ(TypeOf(array.get()), VT_I4);
    std::list<LONG> list{1};
    CKesSafeArrayLong reader(array.get());
    EXPECT_EQ(reader.Size(), 3);
    EXPECT_EQ(reader.PopulateList(list), 0);
    EXPECT_EQ(list, (std::list<LONG>{1, 5, -1, 7}));
}

TEST(KesSafeArray, AWrappedArrayKeepsItsLowerBound) {
    SAFEARRAY* raw = SafeArrayCreateVector(VT_I4, -2, 3);
    Owned array(raw);
    for (LONG i = -2; i <= 0; ++i) {
        LONG value = 100 + i;
        ASSERT_EQ(SafeArrayPutElement(raw, &i, &value), S_OK);
    }
    CKesSafeArrayLong reader(raw);
    EXPECT_EQ(reader.Size(), 3);
    LONG out[3] = {};
    LONG size = 3;
    EXPECT_EQ(reader.PopulateArray(&size, out), 0);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(out[0], 98);
    EXPECT_EQ(out[2], 100);
}

TEST(KesSafeArray, BoolsTravelAsLongsOneAndZero) {
    const bool values[] = {true, false, true};
    CKesSafeArrayBool source(3, values);
    Owned array(source.ToSafeArray());
    EXPECT_EQ(TypeOf(array.get()), VT_I4);
    std::list<LONG> longs;
    EXPECT_EQ(CKesSafeArrayLong(array.get()).PopulateList(longs), 0);
    EXPECT_EQ(longs, (std::list<LONG>{1, 0, 1}));

    // Any nonzero 32-bit element reads back as true.
    CKesSafeArrayLong odd(std::list<LONG>{0, -7, 2, 0x10000});
    Owned oddArray(odd.ToSafeArray());
    std::list<bool> bools{false};
    EXPECT_EQ(CKesSafeArrayBool(oddArray.get()).PopulateList(bools), 0);
    EXPECT_EQ(bools, (std::list<bool>{false, false, true, true, true}));
    CKesSafeArrayBool fromList(std::list<bool>{false, true});
    Owned listArray(fromList.ToSafeArray());
    longs.clear();
    CKesSafeArrayLong(listArray.get()).PopulateList(longs);
    EXPECT_EQ(longs, (std::list<LONG>{0, 1}));
}

TEST(KesSafeArray, DestinationOneShortFailsAndWritesNothing) {
    const LONG values[] = {1, 2, 3, 4};
    CKesSafeArrayLong source(4, values);
    Owned array(source.ToSafeArray());
    LONG out[4] = {-9, -9, -9, -9};
    LONG size = 3;
    EXPECT_EQ(source.PopulateArray(&size, out), KES_E_ARRAY_TOO_SMALL);
    EXPECT_EQ(LastText(KES_E_ARRAY_TOO_SMALL), "destination array too small");
    EXPECT_EQ(size, 3);
    for (LONG value : out)
        EXPECT_EQ(value, -9);
    size = 4;
    EXPECT_EQ(source.PopulateArray(&size, out), 0);
    EXPECT_EQ(size, 4);  // unchanged on success
    EXPECT_EQ(out[3], 4);
}

TEST(KesSafeArray, WrongElementSizeOrKindIsAnInvalidArray) {
    const double reals[] = {1.0, 2.0};
    CKesSafeArrayDouble doubles(2, reals);
    Owned realArray(doubles.ToSafeArray());
    CKesSafeArrayBstr strings(std::list<host::wstring>{OLESTR("x")});
    Owned stringArray(strings.ToSafeArray());
    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    Owned twoDims(SafeArrayCreate(VT_I4, 2, square));

    std::list<LONG> longs{42};
    EXPECT_EQ(CKesSafeArrayLong(realArray.get()).PopulateList(longs), KES_E_INVALID_SAFEARRAY);
    EXPECT_EQ(LastText(KES_E_INVALID_SAFEARRAY), "SafeArray invalid");
    LONG size = 8;
    LONG out[8] = {};
    EXPECT_EQ(CKesSafeArrayLong(realArray.get()).PopulateArray(&size, out),
              KES_E_INVALID_SAFEARRAY);
    std::vector<unsigned char> buffer;
    EXPECT_EQ(CKesSafeArrayUchar(realArray.get()).PopulateBuffer(buffer), KES_E_INVALID_SAFEARRAY);
    // String elements are pointers, 8 bytes here: a double wrapper must not
    // read them as numbers, nor the string wrapper numbers as strings.
    double realOut[2] = {};
    size = 2;
    EXPECT_EQ(CKesSafeArrayDouble(stringArray.get()).PopulateArray(&size, realOut),
              KES_E_INVALID_SAFEARRAY);
    std::list<host::wstring> texts;
    EXPECT_EQ(CKesSafeArrayBstr(realArray.get()).PopulateList(texts), KES_E_INVALID_SAFEARRAY);
    // One index cannot address a two-dimensional array.
    EXPECT_EQ(CKesSafeArrayLong(twoDims.get()).PopulateList(longs), KES_E_INVALID_SAFEARRAY);
    EXPECT_EQ(longs, std::list<LONG>{42});
    EXPECT_TRUE(buffer.empty() && texts.empty());
}

TEST(KesSafeArray, RealsTruncateTowardZeroAndIntegersRound) {
    const double reals[] = {2.9, -2.9, 0.5, -0.0};
    CKesSafeArrayDouble doubles(4, reals);
    Owned realArray(doubles.ToSafeArray());
    EXPECT_EQ(TypeOf(realArray.get()), VT_R8);
    std::int64_t whole[4] = {};
    LONG size = 4;
    EXPECT_EQ(doubles.PopulateArray(&size, whole), 0);
    EXPECT_EQ(whole[0], 2);
    EXPECT_EQ(whole[1], -2);
    EXPECT_EQ(whole[2], 0);
    EXPECT_EQ(whole[3], 0);

    const float singles[] = {-7.75f, 1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN()};
    CKesSafeArrayFloat floats(4, singles);
    Owned floatArray(floats.ToSafeArray());
    EXPECT_EQ(TypeOf(floatArray.get()), VT_R4);
    EXPECT_EQ(floats.PopulateArray(&size, whole), 0);
    EXPECT_EQ(whole[0], -7);
    EXPECT_EQ(whole[1], std::numeric_limits<std::int64_t>::max());  // beyond range: its end
    EXPECT_EQ(whole[2], std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(whole[3], 0);
    float back[4] = {};
    EXPECT_EQ(floats.PopulateArray(&size, back), 0);
    EXPECT_EQ(back[0], -7.75f);
    EXPECT_TRUE(std::isnan(back[3]));

    // 2^53 + 1 has no double; it rounds to a neighbour.
    const std::int64_t big[] = {(std::int64_t{1} << 53) + 1, -3};
    CKesSafeArrayDouble fromInts(2, big);
    Owned intArray(fromInts.ToSafeArray());
    double asReal[2] = {};
    size = 2;
    EXPECT_EQ(fromInts.PopulateArray(&size, asReal), 0);
    EXPECT_EQ(asReal[0], 9007199254740992.0);
    EXPECT_EQ(asReal[1], -3.0);
    CKesSafeArrayFloat fromIntsF(2, big);
    Owned intArrayF(fromIntsF.ToSafeArray());
    float asSingle[2] = {};
    EXPECT_EQ(fromIntsF.PopulateArray(&size, asSingle), 0);
    EXPECT_EQ(asSingle[1], -3.0f);
}

TEST(KesSafeArray, UnsignedValuesKeepTheirBitsInAnI4Array) {
    CKesSafeArrayUlong source(std::list<ULONG>{0xFFFFFFFFu, 7u});
    Owned array(source.ToSafeArray());
    EXPECT_EQ(TypeOf(array.get()), VT_I4);
    std::list<ULONG> back;
    EXPECT_EQ(source.PopulateList(back), 0);
    EXPECT_EQ(back, (std::list<ULONG>{0xFFFFFFFFu, 7u}));
    LONG asLong[2] = {};
    ULONG asUlong[2] = {};
    LONG size = 2;
    EXPECT_EQ(source.PopulateArray(&size, asLong), 0);
    EXPECT_EQ(asLong[0], -1);
    EXPECT_EQ(source.PopulateArray(&size, asUlong), 0);
    EXPECT_EQ(asUlong[0], 0xFFFFFFFFu);
    const ULONG plain[] = {3u};
    CKesSafeArrayUlong fromArray(1, plain);
    Owned plainArray(fromArray.ToSafeArray());
    EXPECT_EQ(fromArray.Size(), 1);
}

TEST(KesSafeArray, StringsKeepOrderEmptiesAndStopAtAZero) {
    const WCHAR withZero[] = {'a', 0, 'b'};
    std::list<host::wstring> texts{OLESTR("first"), host::wstring(), host::wstring(withZero, 3),
                                   OLESTR("last")};
    CKesSafeArrayBstr source(texts);
    Owned array(source.ToSafeArray());
    EXPECT_EQ(TypeOf(array.get()), VT_BSTR);
    EXPECT_EQ(source.Size(), 4);
    // An empty string is stored as a null element.
    LONG at = 1;
    BSTR element = SysAllocString(OLESTR("sentinel"));
    BSTR sentinel = element;
    EXPECT_EQ(SafeArrayGetElement(array.get(), &at, &element), S_OK);
    EXPECT_EQ(element, nullptr);
    SysFreeString(sentinel);

    std::list<host::wstring> back{OLESTR("before")};
    EXPECT_EQ(CKesSafeArrayBstr(array.get()).PopulateList(back), 0);
    EXPECT_EQ(back, (std::list<host::wstring>{OLESTR("before"), OLESTR("first"), host::wstring(),
                                              OLESTR("a"), OLESTR("last")}));
}

TEST(KesSafeArray, ElementsWithEmbeddedZerosFromElsewhereAreCutOnTheWayOut) {
    SAFEARRAY* raw = SafeArrayCreateVector(VT_BSTR, 0, 1);
    Owned array(raw);
    const WCHAR withZero[] = {'x', 'y', 0, 'z'};
    BSTR value = SysAllocStringLen(withZero, 4);
    LONG at = 0;
    ASSERT_EQ(SafeArrayPutElement(raw, &at, value), S_OK);
    SysFreeString(value);
    std::list<host::wstring> back;
    EXPECT_EQ(CKesSafeArrayBstr(raw).PopulateList(back), 0);
    EXPECT_EQ(back, std::list<host::wstring>{OLESTR("xy")});
}

TEST(KesSafeArray, BytesRoundTripThroughAnUi1Array) {
    std::vector<unsigned char> bytes{0, 0xFF, 0x7F, 1};
    CKesSafeArrayUchar source(bytes);
    Owned array(source.ToSafeArray());
    EXPECT_EQ(TypeOf(array.get()), VT_UI1);
    EXPECT_EQ(SafeArrayGetElemsize(array.get()), 1u);
    std::vector<unsigned char> back{9};
    EXPECT_EQ(source.PopulateBuffer(back), 0);
    EXPECT_EQ(back, (std::vector<unsigned char>{9, 0, 0xFF, 0x7F, 1}));
}

TEST(KesSafeArray, NullPointersFailTheirAssertionAndAreNotUsed) {
    const LONG values[] = {1, 2};
    CKesSafeArrayLong source(2, values);
    Owned array(source.ToSafeArray());
    LONG out[2] = {};
    LONG size = 2;
    EXPECT_EQ(source.PopulateArray(nullptr, out), E_POINTER);
    EXPECT_EQ(source.PopulateArray(&size, nullptr), E_POINTER);
    // A count with no array to read: nothing created.
    CKesSafeArrayLong none(5, nullptr);
    EXPECT_EQ(none.ToSafeArray(), nullptr);
    EXPECT_EQ(none.Size(), 0);
}

TEST(KesSafeArrayDeathTest, NullDestinationAssertsWithItsText) {
    const LONG values[] = {1};
    CKesSafeArrayLong source(1, values);
    Owned array(source.ToSafeArray());
    LONG size = 1;
    EXPECT_EXIT(
        {
            setenv("DOV_HALT_ASSERTIONS", "1", 1);
            source.PopulateArray(&size, nullptr);
        },
        ::testing::ExitedWithCode(255), "kes/types/kessafearray, line [0-9]+:\r\ntheArray != 0");
}

}  // namespace
