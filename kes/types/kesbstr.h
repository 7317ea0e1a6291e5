// CKesBstr: owns one OLE Automation string (BSTR) and converts it to and from
// the library's wide string.
//
// The wrapper holds a BSTR or null; null and the empty string count as the
// same text. It frees its string when it is destroyed, so the pointer from
// GetBSTR() dies with the wrapper; ToBSTR() hands out an independent copy
// that the caller frees with SysFreeString. The wrapper is not copyable (two
// owners would free one string twice).
//
// Text with embedded zero units: ToBSTR() keeps every unit of the string
// (SysStringLen of them); ToString() stops at the first zero, and so does the
// constructor from a wide string, which copies its text as a terminated
// string.
//
// A wrapper is used by one thread at a time; distinct wrappers are
// independent.
#pragma once

#include <host/oleauto.h>
#include <host/types.h>
#include <kes/export.h>

class KES_API CKesBstr {
  public:
    // Holds no string.
    CKesBstr();
    // A string of `length` code units, all zero (SysAllocStringLen with no
    // text). A negative length gives no string.
    explicit CKesBstr(int length);
    // A copy of the first `length` units of `text`, zeros included; all zeros
    // when `text` is null. A negative length gives no string.
    CKesBstr(int length, const unsigned short* text);
    // A copy of the terminated `text`; a null `text` gives no string.
    explicit CKesBstr(const unsigned short* text);
    // A copy of `text` up to its first zero unit; an empty `text` gives no
    // string.
    explicit CKesBstr(host::wstring text);
    // Frees the string.
    ~CKesBstr();

    CKesBstr(const CKesBstr&) = delete;
    CKesBstr& operator=(const CKesBstr&) = delete;

    // The text up to its first zero unit; empty when no string is held.
    host::wstring ToString() const;
    // A new BSTR with exactly SysStringLen(GetBSTR()) units, embedded zeros
    // included: a new empty (non-null) BSTR when no string is held. The caller
    // owns it. Null only when memory is exhausted.
    BSTR ToBSTR() const;
    // The held string itself (or null); it stays owned by the wrapper.
    BSTR GetBSTR() const;

  private:
    BSTR m_bstr;
};
