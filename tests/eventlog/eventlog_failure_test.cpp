// A store that cannot be opened or written: the record is dropped, the caller
// gets FALSE quickly, and nothing else is disturbed.
#include "eventlog_fixture.h"

#include <host/error.h>
#include <host/eventlog.h>
#include <host/process.h>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>

namespace eventlog_test {
namespace {

using UnusableStore = StoreTest;
using BusyStore = StoreTest;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A store below a file, a file that is not a database, a directory in the
// database's place: the record is dropped at once, the file left alone, and
// the next record goes through once the store can be used.
TEST_F(UnusableStore, AStoreThatCannotBeOpenedDropsTheRecordAtOnce) {
    const std::string junk(4096, 'j');
    write_file(home() + "/plain-file", junk);
    ::mkdir((home() + "/junk").c_str(), 0700);
    write_file(home() + "/junk/eventlog.db", junk);
    ::mkdir((home() + "/dir").c_str(), 0700);
    ::mkdir((home() + "/dir/eventlog.db").c_str(), 0700);
    for (const std::string& kes_home :
         {home() + "/plain-file/kes", home() + "/junk", home() + "/dir"}) {
        SCOPED_TRACE(kes_home);
        ::setenv("KES_HOME", kes_home.c_str(), 1);
        SetLastError(0);
        auto start = clock_type::now();
        EXPECT_FALSE(log_text("dropped"));
        EXPECT_EQ(GetLastError(), ERROR_CANTOPEN);
        EXPECT_LT(seconds_since(start), 1.0);
    }
    std::ifstream in(home() + "/junk/eventlog.db", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), junk);
    ::setenv("KES_HOME", home().c_str(), 1);
    EXPECT_TRUE(log_text("kept"));
    EXPECT_EQ(count(), 1);
}

// Holds the store's write lock from a second connection until released.
class write_lock {
  public:
    explicit write_lock(const std::string& path) {
        EXPECT_EQ(sqlite3_open(path.c_str(), &m_db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(m_db);
    }
    ~write_lock() {
        release();
        sqlite3_close(m_db);
    }
    void release() {
        if (m_held)
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        m_held = false;
    }

  private:
    sqlite3* m_db = nullptr;
    bool m_held = true;
};

// Writers fail within their budget behind a lock held too long, and queue
// behind a brief one and then succeed.
TEST_F(BusyStore, WritersWaitForALockOnlyWithinTheirBudget) {
    ASSERT_TRUE(log_text("creates the store"));
    write_lock lock(db_path());
    constexpr int kThreads = 4;
    std::vector<std::thread> threads;
    std::vector<int> ok(kThreads, -1);
    std::vector<DWORD> errors(kThreads, 0);
    std::vector<double> waited(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto start = clock_type::now();
            ok[t] = log_text("dropped");
            errors[t] = GetLastError();
            waited[t] = seconds_since(start);
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(ok[t], FALSE);
        EXPECT_EQ(errors[t], ERROR_CANTWRITE);
        EXPECT_LT(waited[t], 5.0);  // a budget of about two seconds each
    }
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        lock.release();
    });
    auto start = clock_type::now();
    EXPECT_TRUE(log_text("waited"));
    EXPECT_GE(seconds_since(start), 0.2) << "it really met the lock";
    releaser.join();
    EXPECT_EQ(count(), 2);
}

TEST_F(BusyStore, ARecordWrittenJustBeforeTheProcessIsTerminatedSurvives) {
    int status = run_child([] {
        log_text("last words");
        TerminateProcess(GetCurrentProcess(), 0xFFFFFFFFu);
        return 0;
    });
    EXPECT_EQ(status, 255);
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].strings[0], "last words");
}

}  // namespace
}  // namespace eventlog_test
