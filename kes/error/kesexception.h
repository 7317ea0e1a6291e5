// CKesException: the one exception type of the library, carrying one result
// code.
//
// The library returns result codes wherever it can; it throws only where no
// code can be returned, chiefly from constructors and from lock operations:
// the synchronisation objects throw KES_E_SYNC_OBJECT when the host refuses
// an operation on a kernel object, and the registrar's symbol tables throw
// KES_E_VALUE_ACCESS for a missing entry. Throwing reports nothing: no text is
// attached and nothing is logged.
//
// A plain value: no base class, no virtual operations, one field. Throw it by
// value and catch it by value or by reference; its type information is
// exported, so it can be caught in any library or program that links kes.
#pragma once

#include <host/types.h>
#include <kes/error/kescodes.h>
#include <kes/export.h>

class KES_API CKesException {
  public:
    // Stores `theCode`; any 32-bit value, 0 included.
    CKesException(LONG theCode);
    CKesException(const CKesException& theOther);
    CKesException& operator=(const CKesException& theOther);
    ~CKesException();

    // The stored code.
    LONG ErrorCode() const;

  private:
    LONG m_ErrorCode;
};
