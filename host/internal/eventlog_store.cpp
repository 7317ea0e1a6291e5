#include <host/internal/eventlog_store.h>

#include <host/internal/timezone.h>
#include <host/store.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

namespace host {
namespace eventlog {
namespace {

using clock = std::chrono::steady_clock;

// How long one record may wait for other writers in all. Long enough for a
// crowd of processes to take their turns, short enough that a wedged store
// (a reader or writer holding a lock forever) never hangs the caller.
constexpr auto kWriteBudget = std::chrono::seconds(2);

// The table operators read; docs/eventlog.md describes it. No index beyond the
// primary key: every extra index is one more page written per record, and the
// tool's filters scan a bounded table quickly.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS events ("
    " id INTEGER PRIMARY KEY,"
    " source TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " category INTEGER NOT NULL,"
    " event_id INTEGER NOT NULL,"
    " strings TEXT NOT NULL,"
    " data BLOB NOT NULL,"
    " time TEXT NOT NULL,"
    " pid INTEGER NOT NULL,"
    " tid INTEGER NOT NULL)";

constexpr const char* kInsert =
    "INSERT INTO events (source, type, category, event_id, strings, data, time, pid, tid)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";

constexpr const char* kTrim = "DELETE FROM events WHERE id <= ?1";

bool is_busy(int rc) {
    int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Waits for a lock held by another connection, with a short exponential
// backoff: transactions here last tens of microseconds, so SQLite's default
// millisecond sleeps would waste most of the time a crowd of writers has.
int on_busy(void* deadline, int attempt) {
    const auto limit = *static_cast<const clock::time_point*>(deadline);
    const auto now = clock::now();
    if (now >= limit)
        return 0;
    auto pause = std::chrono::microseconds(20 << std::min(attempt, 6));
    pause = std::min(pause, std::chrono::duration_cast<std::chrono::microseconds>(limit - now));
    std::this_thread::sleep_for(pause);
    return 1;
}

struct statement_deleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using statement = std::unique_ptr<sqlite3_stmt, statement_deleter>;

// The environment values the store directory is derived from. A connection
// remembers those it was opened under, so that a process that points
// KES_HOME elsewhere writes there from its next record on, without paying
// for the directory checks of host::store_path on every record.
class environment {
  public:
    static environment now() {
        environment e;
        for (int i = 0; i < kCount; ++i) {
            const char* value = std::getenv(kNames[i]);
            e.m_set[i] = value != nullptr;
            if (value != nullptr)
                e.m_values[i] = value;
        }
        return e;
    }

    bool unchanged() const {
        for (int i = 0; i < kCount; ++i) {
            const char* value = std::getenv(kNames[i]);
            if ((value != nullptr) != m_set[i])
                return false;
            if (value != nullptr && m_values[i] != value)
                return false;
        }
        return true;
    }

  private:
    static constexpr int kCount = 3;
    static constexpr const char* kNames[kCount] = {"KES_HOME", "XDG_STATE_HOME", "HOME"};
    bool m_set[kCount] = {};
    std::string m_values[kCount];
};

// One open database with its prepared statements. Used by one thread at a
// time (the store's current writer), hence SQLITE_OPEN_NOMUTEX.
class connection {
  public:
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    ~connection() {
        m_insert.reset();
        m_trim.reset();
        m_begin.reset();
        m_commit.reset();
        m_rollback.reset();
        sqlite3_close(m_db);
    }

    // Opens (creating when missing) the store of the current environment.
    // Null when it cannot be opened before `deadline`.
    static std::unique_ptr<connection> open(clock::time_point deadline) {
        environment env = environment::now();
        std::string path = host::store_path("eventlog.db");
        if (path.empty())
            return nullptr;
        std::unique_ptr<connection> c(new connection(std::move(env), deadline));
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &c->m_db, flags, nullptr) != SQLITE_OK)
            return nullptr;
        sqlite3_busy_handler(c->m_db, on_busy, &c->m_deadline);
        // WAL lets readers (the keslog tool) run beside writers, and NORMAL
        // synchronisation makes a commit one write() without fsync: a record
        // survives the process ending at once, not a power failure.
        if (!c->run("PRAGMA journal_mode=WAL") || !c->run("PRAGMA synchronous=NORMAL") ||
            !c->run(kSchema)) {
            return nullptr;
        }
        if (!c->prepare(kInsert, c->m_insert) || !c->prepare(kTrim, c->m_trim) ||
            !c->prepare("BEGIN IMMEDIATE", c->m_begin) || !c->prepare("COMMIT", c->m_commit) ||
            !c->prepare("ROLLBACK", c->m_rollback)) {
            return nullptr;
        }
        return c;
    }

    bool opened_here() const { return m_pid == ::getpid(); }
    bool current() const { return opened_here() && m_env.unchanged(); }
    void set_deadline(clock::time_point deadline) { m_deadline = deadline; }

    // Inserts the records in one transaction. Returns the SQLite result;
    // on failure nothing is stored.
    template <typename Records>
    int insert_all(const Records& records) {
        if (records.size() == 1)
            return insert(*records.front());
        int rc = step(m_begin.get());
        if (rc != SQLITE_DONE)
            return rc;
        for (const record* r : records) {
            rc = insert(*r);
            if (rc != SQLITE_DONE)
                break;
        }
        if (rc == SQLITE_DONE)
            rc = step(m_commit.get());
        if (rc != SQLITE_DONE)
            step(m_rollback.get());
        return rc;
    }

    // Drops the records that fall out of the bound, oldest first. Only every
    // trim_interval-th row id triggers it, so that its cost is shared out
    // instead of deleting one row per insert. A failed trim is left to the
    // next trigger.
    void trim_after(sqlite3_int64 first_id, sqlite3_int64 last_id) {
        const std::int64_t bound = max_records();
        const std::int64_t interval = trim_interval(bound);
        sqlite3_int64 trigger = last_id - last_id % interval;
        if (trigger < first_id || trigger - bound <= 0)
            return;
        sqlite3_bind_int64(m_trim.get(), 1, trigger - bound);
        step(m_trim.get());
    }

    sqlite3_int64 last_id() const { return sqlite3_last_insert_rowid(m_db); }

  private:
    connection(environment env, clock::time_point deadline)
        : m_env(std::move(env)), m_pid(::getpid()), m_deadline(deadline) {}

    int insert(const record& r) {
        sqlite3_stmt* s = m_insert.get();
        const void* data = r.data != nullptr ? r.data : "";
        sqlite3_bind_text(s, 1, r.source.data(), static_cast<int>(r.source.size()), SQLITE_STATIC);
        sqlite3_bind_int(s, 2, r.type);
        sqlite3_bind_int(s, 3, r.category);
        sqlite3_bind_int64(s, 4, r.event_id);
        sqlite3_bind_text(s, 5, r.strings_json.data(), static_cast<int>(r.strings_json.size()),
                          SQLITE_STATIC);
        sqlite3_bind_blob(s, 6, data, static_cast<int>(r.data_size), SQLITE_STATIC);
        sqlite3_bind_text(s, 7, r.time.data(), static_cast<int>(r.time.size()), SQLITE_STATIC);
        sqlite3_bind_int64(s, 8, r.pid);
        sqlite3_bind_int64(s, 9, r.tid);
        return step(s);
    }

    static int step(sqlite3_stmt* s) {
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        return rc;
    }

    // Runs one setup statement, retrying while another process holds a lock
    // that SQLite does not wait for itself (a journal-mode change racing
    // another process's first open).
    bool run(const char* sql) {
        for (;;) {
            int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK)
                return true;
            if (!is_busy(rc) || clock::now() >= m_deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    bool prepare(const char* sql, statement& out) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) !=
            SQLITE_OK) {
            return false;
        }
        out.reset(s);
        return true;
    }

    sqlite3* m_db = nullptr;
    environment m_env;
    pid_t m_pid;
    clock::time_point m_deadline;  // read by on_busy during a batch
    statement m_insert, m_trim, m_begin, m_commit, m_rollback;
};

// How long a writer that finds another one busy watches it before sleeping:
// a little longer than one commit takes.
constexpr auto kSpinLimit = std::chrono::microseconds(50);
// How long a writer waits for records that other threads are about to queue.
constexpr auto kLingerLimit = std::chrono::microseconds(20);

// Threads between building a record and the return of `append`.
std::atomic<int> g_callers{0};

// Spinning pays only while every caller has a core of its own; beyond that
// the spinners would take the writer's.
bool spinning_pays() {
    static const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return g_callers.load(std::memory_order_relaxed) <= cores;
}

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The process's writers and its one connection.
class store {
  public:
    explicit store(store* predecessor = nullptr) : m_predecessor(predecessor) {}
    store(const store&) = delete;
    store& operator=(const store&) = delete;

    DWORD append(const record& r) {
        pending mine{&r, clock::now()};
        std::unique_lock<std::mutex> lock(m_mutex);
        m_queue.push_back(&mine);
        m_queued.store(m_queue.size(), std::memory_order_release);
        while (!mine.done.load(std::memory_order_relaxed)) {
            if (!m_writing.load(std::memory_order_relaxed)) {
                write_queued(lock);
                continue;
            }
            // Another thread is writing, most likely for some tens of
            // microseconds: watch it before going to sleep, so that neither
            // side pays for a futex wake-up on every record.
            if (spinning_pays()) {
                lock.unlock();
                spin_while_writing(mine);
                lock.lock();
            }
            if (mine.done.load(std::memory_order_relaxed) ||
                !m_writing.load(std::memory_order_relaxed)) {
                continue;
            }
            ++m_sleepers;
            m_batch_done.wait(lock);
            --m_sleepers;
        }
        return mine.result;
    }

    // Fork preparation: hold the lock and wait until no thread of this process
    // is inside SQLite, so that the child inherits neither a held lock of
    // ours nor one of SQLite's own.
    void lock_for_fork() {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_sleepers;
        m_batch_done.wait(lock, [this] { return !m_writing.load(std::memory_order_relaxed); });
        --m_sleepers;
        lock.release();
    }
    void unlock_after_fork() { m_mutex.unlock(); }

  private:
    struct pending {
        const record* r;
        clock::time_point arrival;
        std::atomic<bool> done{false};  // written under m_mutex, watched without it
        DWORD result = ERROR_SUCCESS;   // guarded by m_mutex; final once done
    };

    // Becomes the writer for everything queued so far; the caller's own
    // record is among it (it is not done, so it is still queued).
    void write_queued(std::unique_lock<std::mutex>& lock) {
        m_writing.store(true, std::memory_order_relaxed);
        if (m_queue.size() < static_cast<std::size_t>(g_callers.load(std::memory_order_relaxed)) &&
            spinning_pays()) {
            lock.unlock();
            linger();
            lock.lock();
        }
        m_batch.clear();
        m_batch.swap(m_queue);
        m_queued.store(0, std::memory_order_relaxed);
        lock.unlock();
        DWORD result = write_batch();
        lock.lock();
        for (pending* p : m_batch) {
            p->result = result;
            p->done.store(true, std::memory_order_release);
        }
        m_writing.store(false, std::memory_order_release);
        if (m_sleepers > 0)
            m_batch_done.notify_all();
    }

    // Other threads are about to queue records: wait a few microseconds for
    // them, so that one commit carries them all. A commit costs far more than
    // this wait, and a lone writer never waits.
    void linger() const {
        const auto limit = clock::now() + kLingerLimit;
        for (unsigned i = 1;; ++i) {
            if (m_queued.load(std::memory_order_acquire) >=
                static_cast<std::size_t>(g_callers.load(std::memory_order_acquire))) {
                return;
            }
            if (i % 64 == 0 && clock::now() >= limit)
                return;
            pause();
        }
    }

    // Waits, without the lock, until `mine` is done or the writer has
    // finished, for at most kSpinLimit.
    void spin_while_writing(const pending& mine) const {
        const auto limit = clock::now() + kSpinLimit;
        for (unsigned i = 1;; ++i) {
            if (mine.done.load(std::memory_order_acquire) ||
                !m_writing.load(std::memory_order_acquire)) {
                return;
            }
            if (i % 64 == 0 && clock::now() >= limit)
                return;
            pause();
        }
    }

    // Runs on the writer only, without m_mutex.
    DWORD write_batch() {
        try {
            assert(!m_batch.empty());
            const clock::time_point deadline = m_batch.front()->arrival + kWriteBudget;
            if (!connect(deadline))
                return ERROR_CANTOPEN;
            m_connection->set_deadline(deadline);
            m_records.clear();
            for (const pending* p : m_batch)
                m_records.push_back(p->r);
            int rc = m_connection->insert_all(m_records);
            if (rc != SQLITE_DONE) {
                // A lock held too long leaves the connection usable; anything
                // else (disk full, file replaced or damaged) reopens it.
                if (!is_busy(rc))
                    m_connection.reset();
                return ERROR_CANTWRITE;
            }
            sqlite3_int64 last = m_connection->last_id();
            m_connection->trim_after(last - static_cast<sqlite3_int64>(m_batch.size()) + 1, last);
            return ERROR_SUCCESS;
        } catch (const std::bad_alloc&) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }

    bool connect(clock::time_point deadline) {
        if (m_connection && m_connection->current())
            return true;
        if (m_connection && !m_connection->opened_here()) {
            // Inherited across a fork that bypassed the fork handlers: closing
            // it here could disturb the parent's locks, so leave it be.
            m_inherited.push_back(m_connection.release());
        }
        m_connection.reset();
        m_connection = connection::open(deadline);
        return m_connection != nullptr;
    }

    [[maybe_unused]] store* const m_predecessor;  // the parent's store, kept reachable in a child

    std::mutex m_mutex;
    std::condition_variable m_batch_done;  // a batch finished; m_writing may be clear
    std::vector<pending*> m_queue;         // guarded by m_mutex
    std::atomic<std::size_t> m_queued{0};  // m_queue.size(), set under m_mutex
    int m_sleepers = 0;                    // threads in m_batch_done.wait; guarded by m_mutex
    // Set and cleared under m_mutex by the writer; watched without it by spinners.
    std::atomic<bool> m_writing{false};

    // Owned by the thread that set m_writing, until it clears it again.
    std::vector<pending*> m_batch;
    std::vector<const record*> m_records;
    std::unique_ptr<connection> m_connection;
    std::vector<connection*> m_inherited;  // never closed, see connect()
};

std::atomic<store*> g_store{nullptr};
std::once_flag g_store_once;

store* current_store() {
    return g_store.load(std::memory_order_acquire);
}

void prepare_fork() {
    current_store()->lock_for_fork();
}
void parent_after_fork() {
    current_store()->unlock_after_fork();
}

// The child starts afresh: the parent's queued records belong to threads the
// child does not have, and its connection to the parent. Both stay allocated
// (reachable through the new store), untouched.
void child_after_fork() {
    g_callers.store(0, std::memory_order_relaxed);
    store* parent = current_store();
    // The forking thread holds the parent's lock and is the child's only
    // thread; releasing it keeps lock-order checkers from seeing it held
    // forever.
    parent->unlock_after_fork();
    g_store.store(new store(parent), std::memory_order_release);
}

store& the_store() {
    // Never destroyed: records may be written from static destructors and
    // exit handlers of other modules, in any order.
    std::call_once(g_store_once, [] {
        g_store.store(new store(), std::memory_order_release);
        pthread_atfork(prepare_fork, parent_after_fork, child_after_fork);
    });
    return *current_store();
}

// Creates the store and its fork handlers at load, while the process has one
// thread: a fork that catches another thread inside the lazy creation would
// leave the child waiting for it forever.
const struct eager_store {
    eager_store() { the_store(); }
} g_eager_store;

}  // namespace

std::int64_t max_records() {
    const char* text = std::getenv(kMaxRecordsVariable);
    if (text == nullptr || *text == '\0')
        return kDefaultMaxRecords;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value <= 0)
        return kDefaultMaxRecords;
    return value;
}

std::int64_t trim_interval(std::int64_t bound) {
    return std::max<std::int64_t>(1, std::min<std::int64_t>(64, bound / 100));
}

std::string format_time() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Plain arithmetic rather than gmtime_r: the C library's zone lock may be
    // held by another thread of the parent when a child forks and logs.
    host::timezone::CivilTime parts = host::timezone::civil_from_seconds(now.tv_sec);
    char text[80];
    int n = std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%06ldZ",
                          static_cast<long long>(parts.year), parts.month, parts.day, parts.hour,
                          parts.minute, parts.second, static_cast<long>(now.tv_nsec / 1000));
    return std::string(text, static_cast<std::size_t>(n));
}

void append_json_string(std::string& out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0xF]);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
}

caller_scope::caller_scope() {
    g_callers.fetch_add(1, std::memory_order_relaxed);
}
caller_scope::~caller_scope() {
    g_callers.fetch_sub(1, std::memory_order_relaxed);
}

DWORD append(const record& r) {
    return the_store().append(r);
}

}  // namespace eventlog
}  // namespace host
