#include <kes/types/kessafearray.h>

#include <kes/error/keserror.h>
#include <kes/types/kesbstr.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// A new one-dimensional array of `theCount` (>= 1) elements from index 0 with
// the values `theValue(0)`, `theValue(1)`, ... stored in order. When the
// array cannot be created the wrapper stays empty, so that Size() never
// promises elements that are not there.
template <typename Value>
void Build(SAFEARRAY*& theArray, LONG& theSize, VARTYPE theType, LONG theCount, Value theValue) {
    theArray = SafeArrayCreateVector(theType, 0, static_cast<ULONG>(theCount));
    theSize = theArray != nullptr ? theCount : 0;
    if (theArray == nullptr)
        return;
    for (LONG index = 0; index < theCount; ++index) {
        auto element = theValue(index);
        SafeArrayPutElement(theArray, &index, &element);
    }
}

// The same from a container, in container order; an empty one creates nothing.
template <typename Container, typename Convert>
void BuildFrom(SAFEARRAY*& theArray, LONG& theSize, VARTYPE theType, const Container& theData,
               Convert theConvert) {
    if (theData.empty())
        return;
    auto it = theData.begin();
    Build(theArray, theSize, theType, static_cast<LONG>(theData.size()),
          [&](LONG) { return theConvert(*it++); });
}

// The same from a plain array; a count below 1 creates nothing and does not
// look at the array. A null array with elements to read fails the assertion
// and leaves the wrapper empty instead of reading through it.
template <typename Element, typename Convert>
void BuildFromArray(SAFEARRAY*& theTarget, LONG& theSize, VARTYPE theType, LONG count,
                    const Element* theArray, Convert theConvert) {
    if (count < 1)
        return;
    KES_ASSERT(theArray != 0);
    if (theArray == nullptr)
        return;
    Build(theTarget, theSize, theType, count,
          [&](LONG theIndex) { return theConvert(theArray[theIndex]); });
}

// 0 when `theArray` can be read element by element as `theElementSize`-byte
// numbers, or as strings when `theStrings` is set; its bounds are then in
// `*pLower` and `*pUpper`. Otherwise raises and returns
// KES_E_INVALID_SAFEARRAY. Beyond the element size, an array must be
// one-dimensional (reading it with one index would run past the caller's
// index), and strings and numbers are kept apart: a string element is a
// pointer, so reading one as a number, or a number as a string, would be
// meaningless or fatal.
LONG CheckReadable(SAFEARRAY* theArray, ULONG theElementSize, bool theStrings, LONG* pLower,
                   LONG* pUpper) {
    VARTYPE type = VT_EMPTY;
    bool readable = SUCCEEDED(SafeArrayGetVartype(theArray, &type)) &&
                    SafeArrayGetDim(theArray) == 1 && (type == VT_BSTR) == theStrings &&
                    (theStrings || SafeArrayGetElemsize(theArray) == theElementSize) &&
                    SUCCEEDED(SafeArrayGetLBound(theArray, 1, pLower)) &&
                    SUCCEEDED(SafeArrayGetUBound(theArray, 1, pUpper));
    if (!readable)
        return KesRaiseError(KES_E_INVALID_SAFEARRAY, "SafeArray invalid", KES_SOURCE_FILE,
                             __LINE__);
    return 0;
}

// Appends every element, from the lower bound to the upper bound, as
// `theSink(element)`. A wrapper without an array or elements leaves the
// container alone.
template <typename Element, typename Sink>
LONG ReadAll(SAFEARRAY* theArray, LONG theSize, ULONG theElementSize, Sink theSink) {
    if (theArray == nullptr || theSize == 0)
        return 0;
    LONG lower = 0;
    LONG upper = -1;
    LONG hr = CheckReadable(theArray, theElementSize, false, &lower, &upper);
    if (hr != 0)
        return hr;
    for (std::int64_t at = lower; at <= upper; ++at) {
        LONG index = static_cast<LONG>(at);
        Element element{};
        SafeArrayGetElement(theArray, &index, &element);
        theSink(element);
    }
    return 0;
}

// Copies every element into `theArray`, the lower bound's element first,
// after checking that `*pSize` places are enough. Nothing is written on
// failure. A null pointer fails its assertion and gives E_POINTER instead of
// being written through.
template <typename Element, typename Destination, typename Convert>
LONG CopyOut(SAFEARRAY* theSource, LONG theSize, ULONG theElementSize, LONG* pSize,
             Destination* theArray, Convert theConvert) {
    KES_ASSERT(pSize != 0);
    KES_ASSERT(theArray != 0);
    if (pSize == nullptr)
        return E_POINTER;
    if (theSource == nullptr || theSize == 0) {
        *pSize = 0;
        return 0;
    }
    LONG lower = 0;
    LONG upper = -1;
    LONG hr = CheckReadable(theSource, theElementSize, false, &lower, &upper);
    if (hr != 0)
        return hr;
    std::int64_t count = std::int64_t{upper} - lower + 1;
    if (count > *pSize)
        return KesRaiseError(KES_E_ARRAY_TOO_SMALL, "destination array too small", KES_SOURCE_FILE,
                             __LINE__);
    if (theArray == nullptr)
        return E_POINTER;
    for (std::int64_t at = 0; at < count; ++at) {
        LONG index = static_cast<LONG>(lower + at);
        Element element{};
        SafeArrayGetElement(theSource, &index, &element);
        theArray[at] = theConvert(element);
    }
    return 0;
}

// Truncation toward zero. A value outside the int64 range (or NaN) has no
// integer to truncate to, and converting it would be undefined; the nearest
// end of the range (or 0) is the closest honest answer.
std::int64_t Truncate(double theValue) {
    if (std::isnan(theValue))
        return 0;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (theValue >= kTwoTo63)
        return std::numeric_limits<std::int64_t>::max();
    if (theValue < -kTwoTo63)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(theValue);
}

template <typename T>
T Same(T theValue) {
    return theValue;
}

}  // namespace

// ---- CKesSafeArrayB ------------------------------------------------------------

CKesSafeArrayB::CKesSafeArrayB() : m_Array(nullptr), m_Size(0) {}

CKesSafeArrayB::CKesSafeArrayB(SAFEARRAY* theArray) : m_Array(theArray), m_Size(0) {
    if (m_Array == nullptr)
        return;
    LONG upper = -1;
    LONG lower = 0;
    HRESULT hr = SafeArrayGetUBound(m_Array, 1, &upper);
    KES_ASSERT(SUCCEEDED(hr));
    hr = SafeArrayGetLBound(m_Array, 1, &lower);
    KES_ASSERT(SUCCEEDED(hr));
    std::int64_t count = std::int64_t{upper} - lower + 1;
    m_Size = count <= std::numeric_limits<LONG>::max() ? static_cast<LONG>(count) : -1;
    if (count < 0)
        m_Size = 0;  // both bounds unreadable: nothing to count
    KES_ASSERT(m_Size >= 0);
}

CKesSafeArrayB::~CKesSafeArrayB() {}

SAFEARRAY* CKesSafeArrayB::ToSafeArray() const {
    return m_Array;
}

LONG CKesSafeArrayB::Size() const {
    return m_Size;
}

// ---- CKesSafeArrayLong ------------------------------------------------------------

CKesSafeArrayLong::CKesSafeArrayLong(SAFEARRAY* theArray) : CKesSafeArrayB(theArray) {}

CKesSafeArrayLong::CKesSafeArrayLong(const std::list<LONG>& theList) {
    BuildFrom(m_Array, m_Size, VT_I4, theList, Same<LONG>);
}

CKesSafeArrayLong::CKesSafeArrayLong(LONG count, const LONG* theArray) {
    BuildFromArray(m_Array, m_Size, VT_I4, count, theArray, Same<LONG>);
}

CKesSafeArrayLong::~CKesSafeArrayLong() {}

LONG CKesSafeArrayLong::PopulateList(std::list<LONG>& theList) {
    return ReadAll<LONG>(m_Array, m_Size, 4, [&](LONG theValue) { theList.push_back(theValue); });
}

LONG CKesSafeArrayLong::PopulateArray(LONG* pSize, LONG* theArray) {
    return CopyOut<LONG>(m_Array, m_Size, 4, pSize, theArray, Same<LONG>);
}

// ---- CKesSafeArrayUlong -----------------------------------------------------------

// The values travel as VT_I4, the type the tester's interfaces declare; the
// 32 bits are stored unchanged.
CKesSafeArrayUlong::CKesSafeArrayUlong(SAFEARRAY* theArray) : CKesSafeArrayB(theArray) {}

CKesSafeArrayUlong::CKesSafeArrayUlong(const std::list<ULONG>& theList) {
    BuildFrom(m_Array, m_Size, VT_I4, theList, Same<ULONG>);
}

CKesSafeArrayUlong::CKesSafeArrayUlong(LONG count, const ULONG* theArray) {
    BuildFromArray(m_Array, m_Size, VT_I4, count, theArray, Same<ULONG>);
}

CKesSafeArrayUlong::~CKesSafeArrayUlong() {}

LONG CKesSafeArrayUlong::PopulateList(std::list<ULONG>& theList) {
    return ReadAll<ULONG>(m_Array, m_Size, 4, [&](ULONG theValue) { theList.push_back(theValue); });
}

LONG CKesSafeArrayUlong::PopulateArray(LONG* pSize, LONG* theArray) {
    return CopyOut<LONG>(m_Array, m_Size, 4, pSize, theArray, Same<LONG>);
}

LONG CKesSafeArrayUlong::PopulateArray(LONG* pSize, ULONG* theArray) {
    return CopyOut<ULONG>(m_Array, m_Size, 4, pSize, theArray, Same<ULONG>);
}

// ---- CKesSafeArrayDouble ----------------------------------------------------------

CKesSafeArrayDouble::CKesSafeArrayDouble(SAFEARRAY* theArray) : CKesSafeArrayB(theArray) {}

CKesSafeArrayDouble::CKesSafeArrayDouble(LONG count, const double* theArray) {
    BuildFromArray(m_Array, m_Size, VT_R8, count, theArray, Same<double>);
}

CKesSafeArrayDouble::CKesSafeArrayDouble(LONG count, const std::int64_t* theArray) {
    BuildFromArray(m_Array, m_Size, VT_R8, count, theArray,
                   [](std::int64_t theValue) { return static_cast<double>(theValue); });
}

CKesSafeArrayDouble::~CKesSafeArrayDouble() {}

LONG CKesSafeArrayDouble::PopulateArray(LONG* pSize, double* theArray) {
    return CopyOut<double>(m_Array, m_Size, 8, pSize, theArray, Same<double>);
}

LONG CKesSafeArrayDouble::PopulateArray(LONG* pSize, std::int64_t* theArray) {
    return CopyOut<double>(m_Array, m_Size, 8, pSize, theArray, Truncate);
}

// ---- CKesSafeArrayFloat -----------------------------------------------------------

CKesSafeArrayFloat::CKesSafeArrayFloat(SAFEARRAY* theArray) : CKesSafeArrayB(theArray) {}

CKesSafeArrayFloat::CKesSafeArrayFloat(LONG count, const float* theArray) {
    BuildFromArray(m_Array, m_Size, VT_R4, count, theArray, Same<float>);
}

CKesSafeArrayFloat::CKesSafeArrayFloat(LONG count, const std::int64_t* theArray) {
    BuildFromArray(m_Array, m_Size, VT_R4, count, theArray,
                   [](std::int64_t theValue) { return static_cast<float>(theValue); });
}

CKesSafeArrayFloat::~CKesSafeArrayFloat() {}

LONG CKesSafeArrayFloat::PopulateArray(LONG* pSize, float* theArray) {
    return CopyOut<float>(m_Array, m_Size, 4, pSize, theArray, Same<float>);
}

LONG CKesSafeArrayFloat::PopulateArray(LONG* pSize, std::int64_t* theArray) {
    return CopyOut<float>(m_Array, m_Size, 4, pSize, theArray,
                          [](float theValue) { return Truncate(theValue); });
}

// ---- CKesSafeArrayBstr ------------------------------------------------------------

CKesSafeArrayBstr::CKesSafeArrayBstr(SAFEARRAY* theArray) : CKesSafeArrayB(theArray) {}

CKesSafeArrayBstr::CKesSafeArrayBstr(const std::list<host::wstring>& theList) {
    if (theList.empty())
        return;
    LONG count = static_cast<LONG>(theList.size());
    m_Array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(count));
    if (m_Array == nullptr)
        return;
    m_Size = count;
    LONG index = 0;
    for (const host::wstring& text : theList) {
        // The array keeps its own copy; the temporary goes at once.
        CKesBstr temporary(text);
        SafeArrayPutElement(m_Array, &index, temporary.GetBSTR());
        ++index;
    }
}

CKesSafeArrayBstr::~CKesSafeArrayBstr() {}

LONG CKesSafeArrayBstr::PopulateList(std::list<host::wstring>& theList) {
    if (m_Array == nullptr || m_Size == 0)
        return 0;
    LONG lower = 0;
    LONG upper = -1;
    LONG hr = CheckReadable(m_Array, 0, true, &lower, &upper);
    if (hr != 0)
        return hr;
    for (std::int64_t at = lower; at <= upper; ++at) {
        LONG index = static_cast<LONG>(at);
        BSTR fetched = nullptr;  // stays null if the copy cannot be made
        SafeArrayGetElement(m_Array, &index, &fetched);
        theList.push_back(CKesBstr(fetched).ToString());
        SysFreeString(fetched);
    }
    return 0;
}

// ---- CKesSafeArrayUchar -----------------------------------------------------------

CKesSafeArrayUchar::CKesSafeArrayUchar(SAFEARRAY* theArray) : CKesSafeArrayB(theArray) {}

CKesSafeArrayUchar::CKesSafeArrayUchar(const std::vector<unsigned char>& theBuffer) {
    BuildFrom(m_Array, m_Size, VT_UI1, theBuffer, Same<unsigned char>);
}

CKesSafeArrayUchar::~CKesSafeArrayUchar() {}

LONG CKesSafeArrayUchar::PopulateBuffer(std::vector<unsigned char>& theBuffer) {
    return ReadAll<unsigned char>(m_Array, m_Size, 1,
                                  [&](unsigned char theValue) { theBuffer.push_back(theValue); });
}

// ---- CKesSafeArrayBool ------------------------------------------------------------

// Stored as 32-bit 1 and 0 (VT_I4), which is what the tester's interfaces
// exchange, not as 16-bit VARIANT_BOOLs.
CKesSafeArrayBool::CKesSafeArrayBool(SAFEARRAY* theArray) : CKesSafeArrayB(theArray) {}

CKesSafeArrayBool::CKesSafeArrayBool(const std::list<bool>& theList) {
    BuildFrom(m_Array, m_Size, VT_I4, theList,
              [](bool theValue) { return LONG{theValue ? 1 : 0}; });
}

CKesSafeArrayBool::CKesSafeArrayBool(LONG count, const bool* theArray) {
    BuildFromArray(m_Array, m_Size, VT_I4, count, theArray,
                   [](bool theValue) { return LONG{theValue ? 1 : 0}; });
}

CKesSafeArrayBool::~CKesSafeArrayBool() {}

LONG CKesSafeArrayBool::PopulateList(std::list<bool>& theList) {
    return ReadAll<LONG>(m_Array, m_Size, 4,
                         [&](LONG theValue) { theList.push_back(theValue != 0); });
}
