#include <kes/types/kesbstr.h>

CKesBstr::CKesBstr() : m_bstr(nullptr) {}

// SysAllocStringLen takes an unsigned length: a negative one would become a
// huge request, so it is refused here instead.
CKesBstr::CKesBstr(int length)
    : m_bstr(length < 0 ? nullptr : SysAllocStringLen(nullptr, static_cast<UINT>(length))) {}

CKesBstr::CKesBstr(int length, const unsigned short* text)
    : m_bstr(length < 0 ? nullptr : SysAllocStringLen(text, static_cast<UINT>(length))) {}

CKesBstr::CKesBstr(const unsigned short* text) : m_bstr(SysAllocString(text)) {}

CKesBstr::CKesBstr(host::wstring text)
    : m_bstr(text.empty() ? nullptr : SysAllocString(text.c_str())) {}

CKesBstr::~CKesBstr() {
    SysFreeString(m_bstr);
}

host::wstring CKesBstr::ToString() const {
    if (m_bstr == nullptr)
        return host::wstring();
    // Every BSTR is terminated, so the scan stops at the latest at its end.
    return host::wstring(m_bstr);
}

BSTR CKesBstr::ToBSTR() const {
    return SysAllocStringLen(m_bstr, SysStringLen(m_bstr));
}

BSTR CKesBstr::GetBSTR() const {
    return m_bstr;
}
