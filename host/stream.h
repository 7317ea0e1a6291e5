// The COM stream interfaces, ISequentialStream and IStream, with the types
// their methods take.
//
// Declarations only: this host implements no stream object. They exist so
// that interfaces and data members typed with them (a class's `IStream*`
// slot for a marshalled interface, for example) read as they do on Windows.
// Whoever implements one follows the Win32 contracts of the methods.
#pragma once

#include <host/com.h>
#include <host/comptr.h>
#include <host/types.h>

// A 64-bit time in 100-nanosecond units since 1601-01-01 UTC, in two halves.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Signed and unsigned 64-bit quantities as the stream methods take them.
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

// What IStream::Stat reports.
struct STATSTG {
    LPOLESTR pwcsName;  // task memory, freed by the caller (unless not asked for)
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

// Seek origins.
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

// {0C733A30-2A1C-11CE-ADE5-00AA0044773D}
DEFINE_GUID(IID_ISequentialStream, 0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44,
            0x77, 0x3D);
// {0000000C-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);

struct ISequentialStream : public IUnknown {
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

  protected:
    ~ISequentialStream() = default;
};

struct IStream : public ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER newSize) = 0;
    virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                           ULARGE_INTEGER* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD commitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) = 0;
    virtual HRESULT Stat(STATSTG* statstg, DWORD statFlag) = 0;
    virtual HRESULT Clone(IStream** ppstm) = 0;

  protected:
    ~IStream() = default;
};

HOST_INTERFACE_ID(ISequentialStream, IID_ISequentialStream);
HOST_INTERFACE_ID_DERIVED(IStream, ISequentialStream, IID_IStream);
