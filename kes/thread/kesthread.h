// IRunnable, a piece of work, and CKesThread, which runs one on its own
// operating-system thread.
//
// A CKesThread runs either its own Run() (a derived class overrides it) or the
// Run() of a separate IRunnable handed to the constructor. Its owner starts
// it, may stop it by force, waits for it, names it and sets its priority; the
// worker itself may sleep, and any other thread may cut that sleep short.
//
// States: created (no worker) -> Start -> running (the handle stays set even
// after Run has returned) -> Stop or destruction -> stopped, which may be
// started again. Sleeping is a sub-state of running.
//
// Who may call what:
//  - Start, Stop: the owner (one thread).
//  - Sleep: the worker only; Wakeup: any other thread.
//  - WaitFor: any thread but the worker (the worker's own call is reported as
//    an assertion and returns at once).
//  - SetName, GetName, SetPriority, GetPriority: any thread.
// No operation throws or returns a result code; misuse is reported through
// KES_ASSERT and the call carries on as documented at each operation.
//
// Forced stop. Stop ends the worker wherever it is, without its cooperation
// and without unwinding it, and returns only once the worker will run no more
// of Run: whether Run computes, sleeps in Sleep, waits on a kernel object or
// sits in a system call. What the worker held is not cleaned up (see
// host/thread.h): locks it held stay held, memory it owned is lost, objects
// on its stack are never destroyed. Design Run so that a stop can only come
// where nothing is held, or let Run return by itself (a flag plus Wakeup)
// and use Stop as the last resort.
//
// Lifetime hazards. The destructor stops a running worker, but the derived
// part of an object whose own Run is running has already been destroyed by
// then: a derived class must call Stop (or make Run return and WaitFor it) in
// its own destructor. A separate runnable must outlive the thread. Do not
// destroy the object from its own worker.
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/sync/kescriticalsection.h>

// A piece of work with one operation. Not deletable through this interface
// (its destructor is protected and not virtual).
class KES_API IRunnable {
  public:
    IRunnable();
    IRunnable(const IRunnable& theOther);
    IRunnable& operator=(const IRunnable& theOther);

    virtual void Run() = 0;

  protected:
    ~IRunnable();
};

class KES_API CKesThread : public IRunnable {
  public:
    // The host's relative thread priority levels, passed to it unchanged.
    // PRIORITY_HIGHEST is the time-critical level (15), PRIORITY_VERY_HIGH the
    // host's "highest" (2). Exported as data; usable as constants too.
    static const ULONG PRIORITY_HIGHEST = 15;
    static const ULONG PRIORITY_VERY_HIGH = 2;
    static const ULONG PRIORITY_HIGH = 1;
    static const ULONG PRIORITY_NORMAL = 0;
    static const ULONG PRIORITY_LOW = 0xFFFFFFFFu;       // -1
    static const ULONG PRIORITY_VERY_LOW = 0xFFFFFFFEu;  // -2
    static const ULONG PRIORITY_IDLE = 0xFFFFFFF1u;      // -15

    // The thread will run this object's own Run(). `name` is copied; null
    // stays null.
    CKesThread(const unsigned short* name = nullptr);
    // The thread will run runnable->Run(); the runnable is not owned and must
    // outlive the thread. `name` is copied; null stays null.
    CKesThread(const IRunnable* runnable, const unsigned short* name);
    // Stops the worker (as Stop), then frees the name.
    virtual ~CKesThread();

    CKesThread(const CKesThread&) = delete;
    CKesThread& operator=(const CKesThread&) = delete;

    // Creates the worker and starts it at once; stackSize 0 means the host's
    // default. Asserts that no worker is set (one whose Run has returned still
    // counts until Stop); then starts nothing, so that the running worker is
    // not lost. When the host cannot create the thread the object stays as if
    // never started.
    void Start(ULONG stackSize);

    // From the worker only: blocks until `timeout` milliseconds have passed or
    // Wakeup is called; 0 means no time limit. Asserts that it is called by
    // the worker and that no other Sleep is in progress; the call then goes on.
    void Sleep(ULONG timeout);

    // Ends a Sleep in progress at once. With no Sleep in progress it does
    // nothing, and nothing is remembered: a later Sleep sleeps its full time.
    void Wakeup();

    // Ends the worker at once, wherever it is (see the header comment), and
    // returns when it will run no more of Run. A thread that is not running
    // is left alone. Afterwards the object may be started again. Called by
    // the worker itself, it ends the worker there and does not return.
    void Stop();

    // From any thread but the worker: blocks until the worker has ended or
    // `timeout` milliseconds have passed (0: no limit); returns at once when
    // no worker is set. The caller is not told which happened. Called by the
    // worker itself it asserts and returns at once.
    void WaitFor(ULONG timeout);

    // Replaces the name with a copy of `name` (null allowed); passing the
    // pointer GetName returned keeps the same name.
    void SetName(const unsigned short* name);
    // The current name or null; valid until the next SetName or destruction.
    const unsigned short* GetName();

    // false when no worker is set; otherwise whether the host accepted the
    // level (any host level, not only the constants above).
    bool SetPriority(int priority);
    // -1 when no worker is set (the same value as PRIORITY_LOW); otherwise
    // the level the host holds for the worker.
    int GetPriority();

  private:
    // Does nothing; a derived class overrides it.
    void Run() override;

    static DWORD Entry(void* theThread);
    static unsigned short* CopyName(const unsigned short* theName);

    IRunnable* m_runnable;       // set at construction; not owned
    unsigned short* m_name;      // guarded by m_lock; owned, may be null
    HANDLE m_threadHandle;       // guarded by m_lock; null when no worker is set
    CKesCriticalSection m_lock;  // re-entrant: Stop holds it while it ends the worker
    DWORD m_threadId;            // guarded by m_lock; the worker's id, 0 when none
    // The interruptible sleep: a manual-reset event that Wakeup sets while a
    // Sleep is in progress. Null when the host could not make it (Sleep then
    // returns at once).
    HANDLE m_wakeEvent;  // set at construction
    bool m_sleeping;     // guarded by m_lock
};
