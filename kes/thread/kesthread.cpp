#include <kes/thread/kesthread.h>

#include <host/sync.h>
#include <host/thread.h>
#include <kes/error/keserror.h>

#include <cstddef>

// ---- IRunnable ----------------------------------------------------------------------

IRunnable::IRunnable() = default;
IRunnable::IRunnable(const IRunnable&) = default;
IRunnable& IRunnable::operator=(const IRunnable&) = default;
IRunnable::~IRunnable() = default;

// ---- CKesThread -------------------------------------------------------------------------

const ULONG CKesThread::PRIORITY_HIGHEST;
const ULONG CKesThread::PRIORITY_VERY_HIGH;
const ULONG CKesThread::PRIORITY_HIGH;
const ULONG CKesThread::PRIORITY_NORMAL;
const ULONG CKesThread::PRIORITY_LOW;
const ULONG CKesThread::PRIORITY_VERY_LOW;
const ULONG CKesThread::PRIORITY_IDLE;

CKesThread::CKesThread(const unsigned short* name)
    : m_runnable(this),
      m_name(CopyName(name)),
      m_threadHandle(nullptr),
      m_threadId(0),
      m_wakeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_sleeping(false) {}

CKesThread::CKesThread(const IRunnable* runnable, const unsigned short* name)
    // Run() is not const; the runnable is only ever run, never changed here.
    : m_runnable(const_cast<IRunnable*>(runnable)),
      m_name(CopyName(name)),
      m_threadHandle(nullptr),
      m_threadId(0),
      m_wakeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_sleeping(false) {}

CKesThread::~CKesThread() {
    // Stop first: the worker may still read the name.
    Stop();
    delete[] m_name;
    if (m_wakeEvent != nullptr)
        CloseHandle(m_wakeEvent);
}

void CKesThread::Run() {}

DWORD CKesThread::Entry(void* theThread) {
    static_cast<CKesThread*>(theThread)->m_runnable->Run();
    return 0;
}

unsigned short* CKesThread::CopyName(const unsigned short* theName) {
    if (theName == nullptr)
        return nullptr;
    std::size_t length = 0;
    while (theName[length] != 0)
        ++length;
    unsigned short* copy = new unsigned short[length + 1];
    for (std::size_t i = 0; i <= length; ++i)
        copy[i] = theName[i];
    return copy;
}

void CKesThread::Start(ULONG stackSize) {
    // The lock is held while the worker is created, so that a worker that
    // calls Sleep or WaitFor at once finds its id already stored.
    CKesLock lock(&m_lock);
    if (m_threadHandle != nullptr) {
        KesAssertionFailed("m_threadHandle == 0", KES_SOURCE_FILE, __LINE__);
        return;  // a second worker would leave the first one unstoppable
    }
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, stackSize, &CKesThread::Entry, this, 0, &id);
    if (handle == nullptr)
        return;
    m_threadHandle = handle;
    m_threadId = id;
}

void CKesThread::Sleep(ULONG timeout) {
    DWORD worker = 0;
    bool alreadySleeping = false;
    {
        CKesLock lock(&m_lock);
        worker = m_threadId;
        alreadySleeping = m_sleeping;
        if (m_wakeEvent != nullptr)
            ResetEvent(m_wakeEvent);  // a Wakeup before this Sleep is forgotten
        m_sleeping = true;
    }
    // The reports name the conditions as the caller knows them: the sleeper
    // of a Sleep in progress is this object's wake event.
    if (::GetCurrentThreadId() != worker)
        KesAssertionFailed("::GetCurrentThreadId() == m_threadId", KES_SOURCE_FILE, __LINE__);
    if (alreadySleeping)
        KesAssertionFailed("m_sleeperHandle == 0", KES_SOURCE_FILE, __LINE__);
    if (m_wakeEvent != nullptr)
        WaitForSingleObject(m_wakeEvent, timeout == 0 ? INFINITE : timeout);
    CKesLock lock(&m_lock);
    m_sleeping = false;
}

void CKesThread::Wakeup() {
    CKesLock lock(&m_lock);
    if (m_sleeping && m_wakeEvent != nullptr)
        SetEvent(m_wakeEvent);
}

void CKesThread::Stop() {
    HANDLE self = nullptr;
    {
        CKesLock lock(&m_lock);
        if (m_threadHandle == nullptr)
            return;
        if (::GetCurrentThreadId() == m_threadId) {
            // The worker stops itself: it must not end while holding the lock.
            self = m_threadHandle;
        } else {
            // No Wakeup first: a sleeping worker is ended inside its wait, so
            // it never runs the rest of Run after being woken.
            TerminateThread(m_threadHandle, 0);
            CloseHandle(m_threadHandle);
        }
        m_threadHandle = nullptr;
        m_threadId = 0;
        m_sleeping = false;
    }
    if (self != nullptr) {
        CloseHandle(self);
        ExitThread(0);
    }
}

void CKesThread::WaitFor(ULONG timeout) {
    HANDLE handle = nullptr;
    bool fromWorker = false;
    {
        CKesLock lock(&m_lock);
        handle = m_threadHandle;
        fromWorker = handle != nullptr && ::GetCurrentThreadId() == m_threadId;
    }
    if (fromWorker) {
        KesAssertionFailed("::GetCurrentThreadId() != m_threadId", KES_SOURCE_FILE, __LINE__);
        return;  // the worker would wait for itself for ever
    }
    if (handle == nullptr)
        return;
    // A Stop on another thread may close the handle meanwhile; the wait then
    // fails at once, and by then the worker has ended.
    WaitForSingleObject(handle, timeout == 0 ? INFINITE : timeout);
}

void CKesThread::SetName(const unsigned short* name) {
    CKesLock lock(&m_lock);
    unsigned short* copy = CopyName(name);  // before the old one goes: name may be it
    delete[] m_name;
    m_name = copy;
}

const unsigned short* CKesThread::GetName() {
    CKesLock lock(&m_lock);
    return m_name;
}

bool CKesThread::SetPriority(int priority) {
    HANDLE handle = nullptr;
    {
        CKesLock lock(&m_lock);
        handle = m_threadHandle;
    }
    if (handle == nullptr)
        return false;
    return SetThreadPriority(handle, priority) != FALSE;
}

int CKesThread::GetPriority() {
    HANDLE handle = nullptr;
    {
        CKesLock lock(&m_lock);
        handle = m_threadHandle;
    }
    if (handle == nullptr)
        return -1;
    int priority = GetThreadPriority(handle);
    // A Stop on another thread may have closed the handle meanwhile: the
    // thread is then no longer started.
    return priority == THREAD_PRIORITY_ERROR_RETURN ? -1 : priority;
}
