#include <kes/error/kesexception.h>

CKesException::CKesException(LONG theCode) : m_ErrorCode(theCode) {}

CKesException::CKesException(const CKesException& theOther) : m_ErrorCode(theOther.m_ErrorCode) {}

CKesException& CKesException::operator=(const CKesException& theOther) {
    m_ErrorCode = theOther.m_ErrorCode;
    return *this;
}

CKesException::~CKesException() {}

LONG CKesException::ErrorCode() const {
    return m_ErrorCode;
}
