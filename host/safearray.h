// OLE Automation safe arrays: typed arrays with bounds that cross COM
// interfaces.
//
// A SAFEARRAY is a descriptor (the Win32 structure below) and a block of
// elements. Arrays are made here only (SafeArrayCreate, SafeArrayCreateVector)
// and freed with SafeArrayDestroy; the functions refuse, with E_INVALIDARG, a
// descriptor they did not hand out or one already destroyed (as far as its
// memory has not been reused), rather than corrupt the heap.
//
// Element types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_BOOL (a 16-bit
// VARIANT_BOOL), VT_I4, VT_UI4, VT_INT, VT_UINT, VT_ERROR, VT_R4, VT_R8,
// VT_CY, VT_DATE, VT_I8, VT_UI8 (plain values of 1, 2, 4 or 8 bytes) and
// VT_BSTR (one BSTR pointer per element, 8 bytes here). New elements are all
// zero bits: numbers 0, strings null.
//
// Strings are owned by the array: SafeArrayPutElement stores a copy of the
// BSTR it is given (the caller keeps and frees its own), SafeArrayGetElement
// hands out a new copy that the caller frees with SysFreeString, and
// SafeArrayDestroy frees every element. A null BSTR is a valid element.
//
// Dimensions: 1 to 0xFFFF. Dimension 1 is the first bound given to
// SafeArrayCreate and the first index given to SafeArrayPutElement and
// SafeArrayGetElement, and the descriptor's rgsabound holds the bounds in that
// same order. Elements lie with dimension 1 varying fastest. Lower bounds may
// be negative; a dimension may have 0 elements (its upper bound is then the
// lower bound minus 1). Every index of every dimension must fit in a LONG, so
// a dimension whose last index would not is refused at creation.
//
// Locks: SafeArrayLock and SafeArrayAccessData count a lock on the array;
// while any lock is held SafeArrayDestroy fails with DISP_E_ARRAYISLOCKED and
// frees nothing. SafeArrayUnlock and SafeArrayUnaccessData on an array that
// is not locked fail with E_UNEXPECTED. The lock count is atomic, so several
// threads may lock, read elements and unlock one array at once; writing an
// element while another thread reads or writes the same element is a race, as
// for any memory.
//
// Result codes: S_OK; E_INVALIDARG for a null or foreign array or a null
// pointer argument; DISP_E_BADINDEX for an index or dimension outside the
// array; E_OUTOFMEMORY when a string copy cannot be made (the element and the
// caller's storage are then unchanged).
#pragma once

#include <host/export.h>
#include <host/oleauto.h>
#include <host/types.h>

// One dimension: its element count and its lowest index.
struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};
typedef SAFEARRAYBOUND* LPSAFEARRAYBOUND;

// The Win32 descriptor. rgsabound has cDims entries (declared with one).
// Callers may read every field; only the functions below change them.
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;  // bytes per element
    ULONG cLocks;      // locks held; changed atomically by the functions below
    void* pvData;      // the elements
    SAFEARRAYBOUND rgsabound[1];
};
typedef SAFEARRAY* LPSAFEARRAY;

// fFeatures bits. Arrays made here carry FADF_HAVEVARTYPE, and FADF_BSTR when
// their elements are strings.
constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_EMBEDDED = 0x0004;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_RECORD = 0x0020;
constexpr USHORT FADF_HAVEIID = 0x0040;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

extern "C" {

// A new array of `dims` dimensions with the bounds `bounds[0..dims-1]`, all
// elements zero. Null for an element type not listed above, `dims` 0 or above
// 0xFFFF, null `bounds`, a dimension whose indices do not fit in a LONG, a
// total size beyond the address space, or exhausted memory.
HOST_API SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);

// A new one-dimensional array of `count` elements from index `lowerBound`;
// null in the cases SafeArrayCreate gives null.
HOST_API SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count);

// Frees every string element, the elements and the descriptor. S_OK (also for
// null); DISP_E_ARRAYISLOCKED while a lock is held, with nothing freed;
// E_INVALIDARG for a foreign descriptor.
HOST_API HRESULT SafeArrayDestroy(SAFEARRAY* array);

// Stores one element at `indices` (one index per dimension, dimension 1
// first). For VT_BSTR `value` is the BSTR itself (null allowed), copied; the
// element's old string is freed. For every other type `value` points to the
// element's bytes. Allowed while locks are held.
HOST_API HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);

// Copies one element at `indices` into `value`, which points to storage of
// the element size. A string element is written as a new copy (null for a null
// element) that the caller frees.
HOST_API HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);

// Bytes per element; 0 for a null or foreign array.
HOST_API UINT SafeArrayGetElemsize(SAFEARRAY* array);

// Number of dimensions; 0 for a null or foreign array.
HOST_API UINT SafeArrayGetDim(SAFEARRAY* array);

// The lowest and highest index of dimension `dim` (1-based). DISP_E_BADINDEX
// for `dim` outside 1..cDims; DISP_E_OVERFLOW when the upper bound of an empty
// dimension starting at the lowest LONG cannot be written.
HOST_API HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HOST_API HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);

// The element type the array was created with.
HOST_API HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);

// Counts one lock, and gives the address of the elements.
HOST_API HRESULT SafeArrayLock(SAFEARRAY* array);
HOST_API HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);

// Gives one lock back; E_UNEXPECTED when none is held.
HOST_API HRESULT SafeArrayUnlock(SAFEARRAY* array);
HOST_API HRESULT SafeArrayUnaccessData(SAFEARRAY* array);

// The address of the element at `indices`.
HOST_API HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, LONG* indices, void** element);

}  // extern "C"
