#include <host/process.h>

#include <host/error.h>

#include <sys/syscall.h>
#include <unistd.h>

namespace {
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

HANDLE GetCurrentProcess() {
    return kCurrentProcess;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // exit_group ends every thread of the process with no user-space work at
    // all; the kernel keeps the status's low 8 bits.
    ::syscall(SYS_exit_group, static_cast<int>(exitCode));
    ::_exit(static_cast<int>(exitCode));  // not reached
}

BOOL DisableThreadLibraryCalls(HANDLE /*module*/) {
    return TRUE;
}
