// Code-page conversion between narrow text and UTF-16 wide text.
//
// This host has one narrow encoding: UTF-8. The ANSI code page (`CP_ACP`), the
// OEM code page (`CP_OEMCP`) and the calling thread's ANSI code page
// (`CP_THREAD_ACP`) are all UTF-8, and behave exactly as `CP_UTF8` does, with
// one allowance for code written against legacy code pages: on those three
// identifiers `MB_PRECOMPOSED` and `WC_NO_BEST_FIT_CHARS` are accepted and
// have no effect (UTF-8 needs no composition step and has no best-fit
// mapping). Any other code page identifier fails with ERROR_INVALID_PARAMETER.
//
// Both functions follow the Win32 contracts:
// - a source length of -1 means "up to and including the terminator", which is
//   then converted and counted; an explicit length converts exactly that many
//   units and writes no terminator;
// - an output size of 0 asks for the size needed and writes nothing;
// - the result is the number of units written (or needed), or 0 on failure
//   with the reason in GetLastError().
//
// Ill-formed input (a lone surrogate, invalid or truncated UTF-8) becomes
// U+FFFD, one per maximal ill-formed subsequence, unless MB_ERR_INVALID_CHARS
// or WC_ERR_INVALID_CHARS is given; then the call fails with
// ERROR_NO_UNICODE_TRANSLATION. On a buffer that is too small the call fails
// with ERROR_INSUFFICIENT_BUFFER; this host then writes nothing, but callers
// must not rely on the buffer's contents after any failure.
//
// Both functions are thread-safe and allocate nothing.
#pragma once

#include <host/export.h>
#include <host/types.h>

// The calling thread's ANSI code page: UTF-8 here, like CP_ACP.
constexpr UINT CP_THREAD_ACP = 3;

// MultiByteToWideChar flags.
constexpr DWORD MB_PRECOMPOSED = 0x00000001u;
constexpr DWORD MB_COMPOSITE = 0x00000002u;
constexpr DWORD MB_USEGLYPHCHARS = 0x00000004u;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008u;

// WideCharToMultiByte flags.
constexpr DWORD WC_DISCARDNS = 0x00000010u;
constexpr DWORD WC_SEPCHARS = 0x00000020u;
constexpr DWORD WC_DEFAULTCHAR = 0x00000040u;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080u;
constexpr DWORD WC_COMPOSITECHECK = 0x00000200u;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400u;

extern "C" {

// Converts narrow text in `codePage` to UTF-16.
//
// `source` holds `sourceBytes` bytes (-1: terminated, terminator included).
// `dest` receives at most `destUnits` units; with `destUnits` 0 nothing is
// written and the size needed is returned.
//
// Fails (0) with ERROR_INVALID_PARAMETER for a null source, a source length of
// 0 or below -1, a negative output size, a null `dest` with a nonzero size,
// overlapping source and destination, or an unknown code page;
// ERROR_INVALID_FLAGS for flags the code page does not take;
// ERROR_NO_UNICODE_TRANSLATION for ill-formed input under MB_ERR_INVALID_CHARS;
// ERROR_INSUFFICIENT_BUFFER when the result does not fit (or exceeds INT_MAX).
HOST_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes,
                                 LPWSTR dest, int destUnits);

// Converts UTF-16 text to narrow text in `codePage`.
//
// `source` holds `sourceUnits` units (-1: terminated, terminator included).
// `dest` receives at most `destBytes` bytes; with `destBytes` 0 nothing is
// written and the size needed is returned.
//
// `defaultChar` and `usedDefault` must be null: every UTF-16 character has a
// UTF-8 form, so there is no default character to use (ERROR_INVALID_PARAMETER
// otherwise). The other failures are those of MultiByteToWideChar, with
// WC_ERR_INVALID_CHARS in place of MB_ERR_INVALID_CHARS.
HOST_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceUnits,
                                 LPSTR dest, int destBytes, LPCSTR defaultChar, LPBOOL usedDefault);

}  // extern "C"
