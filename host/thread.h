// Threads: identity, creation, forced stop, relative priorities and sleeping.
//
// A thread id is the kernel's id for the calling thread (what `gettid`
// returns), as a 32-bit DWORD. It is unique among the threads alive at a
// moment; the kernel reuses the number after the thread has ended, so an id
// says nothing about a thread that may have finished.
//
// Thread objects. CreateThread returns a handle to a kernel object that is
// signalled once the thread has ended, so WaitForSingleObject and
// WaitForMultipleObjects (host/sync.h) wait for it; CloseHandle lets go of the
// handle without affecting the thread. The object lives until the thread has
// ended and every handle is closed.
//
// Forced stop. TerminateThread ends a thread without its cooperation and
// without unwinding it: no destructor, catch block or cleanup handler of the
// thread runs. It returns only once the thread will execute no more of its
// work, whether that work computes, sleeps, waits on a kernel object or sits
// in a system call. It is the last resort it is on Windows, and leaves behind
// what the thread had not cleaned up:
//  - locks it held stay held (a critical section, a std::mutex, a lock of the
//    C library's heap if the thread was inside malloc); kernel mutexes it owned
//    become abandoned, so their next owner is told WAIT_ABANDONED;
//  - memory it owned (including its thread-local objects and the values of
//    its pthread keys) is never freed; a wait it was in is withdrawn, and an
//    object handed to it at that instant (an auto-reset event's signal, a
//    semaphore unit) is lost with it;
//  - the host keeps a few KiB of bookkeeping per stopped thread for the life
//    of the process.
// The host's own short internal regions (a kernel object's lock, a handle
// table slot) are protected: a stop that arrives inside one takes effect as
// the region ends.
//
// Mechanism (for callers that mix in their own signal handling): the stop is
// delivered as the real-time signal SIGRTMAX - 3, whose handler the host
// installs when the first thread is created; the handler ends only the kernel
// thread it runs on. A thread that blocks that signal, or a program that
// replaces the handler, cannot be stopped. New threads start with the signal
// unblocked whatever their creator's mask. Threads not made by CreateThread
// (the main thread, std::thread) have no handle and cannot be stopped.
//
// Priorities. The Win32 relative levels (host/types.h THREAD_PRIORITY_*)
// are kept in the thread object exactly as set, so GetThreadPriority returns
// what SetThreadPriority stored even where Linux could not honour it. Each
// level is applied to the kernel thread as an offset from the nice value the
// thread started with (inherited from its creator), clamped to -20..19:
//
//   level                 value   Linux
//   IDLE                   -15    SCHED_IDLE policy
//   LOWEST                  -2    nice + 10
//   BELOW_NORMAL            -1    nice + 5
//   NORMAL                   0    nice + 0
//   ABOVE_NORMAL             1    nice - 5
//   HIGHEST                  2    nice - 10
//   TIME_CRITICAL           15    nice - 20 (i.e. -20)
//
// TIME_CRITICAL is not mapped to a real-time policy: a spinning SCHED_FIFO
// thread can starve the whole machine, which the Win32 level (still below the
// real-time class) never does. Raising nice is always allowed; lowering it
// (ABOVE_NORMAL and up, or returning to NORMAL after a lower level) and
// leaving SCHED_IDLE need CAP_SYS_NICE or a large enough RLIMIT_NICE. When
// the kernel refuses, the level is still recorded and the call still
// succeeds, as Windows callers do not expect a refusal; the kernel thread
// keeps its previous scheduling.
#pragma once

#include <host/export.h>
#include <host/types.h>

// ---- Thread types -------------------------------------------------------------

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);

extern "C" {

// The calling thread's id. Cheap: the kernel is asked once per thread and the
// value is kept in thread-local storage (refreshed in the child after fork).
HOST_API DWORD GetCurrentThreadId();

// Starts a thread running `start(parameter)`; its return value becomes the
// exit code. `stackSize` 0 gives the host's default stack (the soft
// RLIMIT_STACK, commonly 8 MiB); other sizes are rounded up to whole pages
// and to at least 64 KiB. `flags` may be 0 or STACK_SIZE_PARAM_IS_A_RESERVATION
// (the same meaning here); CREATE_SUSPENDED is not supported. Security
// attributes are ignored. On success the thread's id is written to
// `threadId` (when not null) by the new thread itself before it runs
// `start`, and so before the call returns. Failures return null: ERROR_INVALID_PARAMETER for a null
// `start` or an unsupported flag, ERROR_NOT_ENOUGH_MEMORY when the system
// cannot make the thread.
HOST_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                             LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                             LPDWORD threadId);

// Ends the thread by force with exit code `exitCode` (see the header comment)
// and returns once it will run no more of its work; then its handle is
// signalled. A thread that has already returned from its start routine keeps
// its own exit code, and the call succeeds at once. A second stopper of the
// same thread waits for the first to finish. Called on the calling thread's
// own handle, it ends the calling thread and does not return. FALSE with
// ERROR_INVALID_HANDLE when the handle is not a thread.
HOST_API BOOL TerminateThread(HANDLE thread, DWORD exitCode);

// Ends the calling thread at once with exit code `exitCode`, without
// unwinding it, exactly as a forced stop would (see the header comment);
// does not return. A thread made by CreateThread signals its handle. On a
// thread of other making (the main thread, std::thread) the kernel thread
// ends too: the process goes on while other threads run, and a joiner of
// that thread learns of its end as usual, except under the thread sanitizer.
[[noreturn]] HOST_API void ExitThread(DWORD exitCode);

// The thread's exit code, or STILL_ACTIVE (259) while it runs. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not a thread, with
// ERROR_INVALID_PARAMETER for a null `exitCode`.
HOST_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

// Records `priority`, one of the seven levels in the header comment, and
// applies it to the thread while it runs. FALSE with ERROR_INVALID_PARAMETER
// for any other value (the recorded level is then unchanged), with
// ERROR_INVALID_HANDLE for a handle that is not a thread. A thread that has
// ended accepts a level too; nothing is applied then.
HOST_API BOOL SetThreadPriority(HANDLE thread, int priority);

// The level last recorded by SetThreadPriority, THREAD_PRIORITY_NORMAL for a
// new thread; THREAD_PRIORITY_ERROR_RETURN (0x7FFFFFFF) with
// ERROR_INVALID_HANDLE for a handle that is not a thread.
HOST_API int GetThreadPriority(HANDLE thread);

// Suspends the calling thread for `milliseconds` on the monotonic clock
// (signals that interrupt it do not shorten it); INFINITE never returns; 0
// gives up the rest of the time slice.
HOST_API void Sleep(DWORD milliseconds);

}  // extern "C"
