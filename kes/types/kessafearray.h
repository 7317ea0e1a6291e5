// Safe array wrappers: conversions between one-dimensional OLE Automation
// safe arrays and the library's containers and plain arrays.
//
// CKesSafeArrayB holds an array pointer and its element count; one derived
// class per element type adds the typed constructors and extractions:
//
//   class                 containers hold     array created   element size read
//   CKesSafeArrayLong     LONG                VT_I4           4
//   CKesSafeArrayUlong    ULONG               VT_I4           4
//   CKesSafeArrayDouble   double, int64       VT_R8           8
//   CKesSafeArrayFloat    float, int64        VT_R4           4
//   CKesSafeArrayBstr     host::wstring       VT_BSTR         (VT_BSTR required)
//   CKesSafeArrayUchar    unsigned char       VT_UI1          1
//   CKesSafeArrayBool     bool                VT_I4 (1 / 0)   4
//
// Ownership: no wrapper ever destroys an array. One built from data creates
// a new array (lower bound 0) that belongs to whoever takes it with
// ToSafeArray(), usually a COM out-parameter, who frees it with
// SafeArrayDestroy. One built around an array received through an interface
// leaves it with its provider. Empty data (an empty container, a count below
// 1) creates no array: ToSafeArray() is then null and Size() 0.
//
// Extraction appends to the caller's container (it never clears it) or
// copies into the caller's plain array, element i of the safe array going to
// index i minus its lower bound. Failures are raised through KesRaiseError
// and returned, with nothing extracted:
//  - KES_E_INVALID_SAFEARRAY ("SafeArray invalid"): the array's element size
//    differs from the class's, the array is not one-dimensional, a numeric
//    class meets an array of strings, or the string class meets an array that
//    does not hold strings;
//  - KES_E_ARRAY_TOO_SMALL ("destination array too small"): a plain
//    destination holds fewer elements than the array;
//  - E_POINTER: a null pointer where PopulateArray needs one (after the
//    failed assertion).
// Only the element size (and the string/number distinction) is checked, not
// the exact type: a VT_UI4 or VT_R4 array reads as LONG bit patterns with
// CKesSafeArrayLong. Reals convert to int64 by truncation toward zero; values
// beyond the int64 range give its nearest end, and NaN gives 0.
//
// A wrapper is a short-lived value used by one thread; the array it wraps
// must outlive it.
#pragma once

#include <host/safearray.h>
#include <host/types.h>
#include <kes/export.h>

#include <cstdint>
#include <list>
#include <vector>

class KES_API CKesSafeArrayB {
  public:
    // No array, size 0.
    CKesSafeArrayB();
    // Wraps `theArray` without copying or owning it. The size is the element
    // count of dimension 1; a null array gives 0.
    explicit CKesSafeArrayB(SAFEARRAY* theArray);
    virtual ~CKesSafeArrayB();

    // The wrapped or created array (or null); see the ownership rules above.
    SAFEARRAY* ToSafeArray() const;
    // Its element count.
    LONG Size() const;

  protected:
    // The wrapped or created array, or null; never destroyed by the wrapper.
    SAFEARRAY* m_Array;
    // Its element count (dimension 1); 0 without an array. An array of more
    // elements than a LONG counts fails an assertion and gives -1.
    LONG m_Size;
};

class KES_API CKesSafeArrayLong : public CKesSafeArrayB {
  public:
    explicit CKesSafeArrayLong(SAFEARRAY* theArray);
    explicit CKesSafeArrayLong(const std::list<LONG>& theList);
    CKesSafeArrayLong(LONG count, const LONG* theArray);
    ~CKesSafeArrayLong() override;

    LONG PopulateList(std::list<LONG>& theList);
    // `*pSize` is the capacity of `theArray` and is set to 0 for an empty
    // wrapper; on success it is left unchanged.
    LONG PopulateArray(LONG* pSize, LONG* theArray);
};

class KES_API CKesSafeArrayUlong : public CKesSafeArrayB {
  public:
    explicit CKesSafeArrayUlong(SAFEARRAY* theArray);
    explicit CKesSafeArrayUlong(const std::list<ULONG>& theList);
    CKesSafeArrayUlong(LONG count, const ULONG* theArray);
    ~CKesSafeArrayUlong() override;

    LONG PopulateList(std::list<ULONG>& theList);
    // Copies the 32-bit elements unchanged into a LONG destination.
    LONG PopulateArray(LONG* pSize, LONG* theArray);
    // The same into an unsigned destination.
    LONG PopulateArray(LONG* pSize, ULONG* theArray);
};

class KES_API CKesSafeArrayDouble : public CKesSafeArrayB {
  public:
    explicit CKesSafeArrayDouble(SAFEARRAY* theArray);
    CKesSafeArrayDouble(LONG count, const double* theArray);
    // Each value converted to the nearest double.
    CKesSafeArrayDouble(LONG count, const std::int64_t* theArray);
    ~CKesSafeArrayDouble() override;

    LONG PopulateArray(LONG* pSize, double* theArray);
    // Each value truncated toward zero (see the header comment for the range).
    LONG PopulateArray(LONG* pSize, std::int64_t* theArray);
};

class KES_API CKesSafeArrayFloat : public CKesSafeArrayB {
  public:
    explicit CKesSafeArrayFloat(SAFEARRAY* theArray);
    CKesSafeArrayFloat(LONG count, const float* theArray);
    // Each value converted to the nearest float.
    CKesSafeArrayFloat(LONG count, const std::int64_t* theArray);
    ~CKesSafeArrayFloat() override;

    LONG PopulateArray(LONG* pSize, float* theArray);
    // Each value truncated toward zero (see the header comment for the range).
    LONG PopulateArray(LONG* pSize, std::int64_t* theArray);
};

class KES_API CKesSafeArrayBstr : public CKesSafeArrayB {
  public:
    explicit CKesSafeArrayBstr(SAFEARRAY* theArray);
    // Each string stored through a CKesBstr: up to its first zero unit, and an
    // empty string as a null element.
    explicit CKesSafeArrayBstr(const std::list<host::wstring>& theList);
    ~CKesSafeArrayBstr() override;

    // Each element up to its first zero unit; a null element reads as empty.
    LONG PopulateList(std::list<host::wstring>& theList);
};

class KES_API CKesSafeArrayUchar : public CKesSafeArrayB {
  public:
    explicit CKesSafeArrayUchar(SAFEARRAY* theArray);
    explicit CKesSafeArrayUchar(const std::vector<unsigned char>& theBuffer);
    ~CKesSafeArrayUchar() override;

    LONG PopulateBuffer(std::vector<unsigned char>& theBuffer);
};

class KES_API CKesSafeArrayBool : public CKesSafeArrayB {
  public:
    explicit CKesSafeArrayBool(SAFEARRAY* theArray);
    explicit CKesSafeArrayBool(const std::list<bool>& theList);
    CKesSafeArrayBool(LONG count, const bool* theArray);
    ~CKesSafeArrayBool() override;

    // A nonzero element reads as true.
    LONG PopulateList(std::list<bool>& theList);
};
