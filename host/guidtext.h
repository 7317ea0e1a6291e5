// GUIDs as text: the 38-character braced form that the registry and COM use,
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, Data1, Data2 and Data3 as numbers,
// then the eight bytes of Data4 in order (two, a hyphen, six).
//
// Output is always upper-case. Input is parsed strictly, because it comes
// from files and registry values that anyone may have edited: exactly 38
// characters followed by the terminator, braces and hyphens in place,
// hexadecimal digits of either case elsewhere; no spaces, no unbraced form,
// nothing after the closing brace. The parsers never read past the first
// character that breaks the form, so a short text is safe to pass.
//
// Unlike some COM implementations, a null text is an error here (E_INVALIDARG)
// rather than GUID_NULL, and CLSIDFromString takes only the braced form (no
// ProgID look-up). All functions are thread-safe and need no COM
// initialisation.
#pragma once

#include <host/export.h>
#include <host/types.h>

extern "C" {

// Writes the braced text of `guid` and a terminator into `buffer` of `cch`
// units. Returns 39 (the units written, terminator included), or 0 when the
// buffer is null or shorter than 39 units (then nothing is written).
HOST_API int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cch);

// `*text` receives the braced text of the identifier in a block from
// CoTaskMemAlloc, which the caller frees with CoTaskMemFree. E_OUTOFMEMORY
// (with `*text` null) when no block can be had; E_INVALIDARG for a null `text`.
HOST_API HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HOST_API HRESULT StringFromIID(REFIID iid, LPOLESTR* text);

// Parses braced GUID text into `*iid`. E_INVALIDARG for a null argument or
// text not in the braced form; `*iid` is unchanged on failure.
HOST_API HRESULT IIDFromString(LPCOLESTR text, LPIID iid);

// Parses braced GUID text into `*clsid`. CO_E_CLASSSTRING for text not in the
// braced form, E_INVALIDARG for a null argument; `*clsid` is unchanged on
// failure.
HOST_API HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);

}  // extern "C"
