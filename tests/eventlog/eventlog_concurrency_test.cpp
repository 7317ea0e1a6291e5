// Many writers at once, threads and processes, and the bounded size.
#include "eventlog_fixture.h"

#include <host/eventlog.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace eventlog_test {
namespace {

using ConcurrentWriters = StoreTest;
using RecordBound = StoreTest;

// Writes `count` records "<tag>:<i>" through one handle; returns how many
// failed.
int write_sequence(const std::string& tag, int count) {
    HANDLE h = RegisterEventSourceW(nullptr, OLESTR("Load"));
    if (h == nullptr)
        return count;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        std::string text = tag + ":" + std::to_string(i);
        host::wstring w(text.begin(), text.end());
        LPCWSTR strings[] = {w.c_str()};
        if (!ReportEventW(h, EVENTLOG_INFORMATION_TYPE, 0, static_cast<DWORD>(i), nullptr, 1, 0,
                          strings, nullptr)) {
            ++failures;
        }
    }
    DeregisterEventSource(h);
    return failures;
}

// Every tag must own exactly the records 0..count-1, once each.
void expect_complete(const std::vector<row>& all, const std::set<std::string>& tags, int count) {
    std::map<std::string, std::set<int>> seen;
    for (const row& r : all) {
        ASSERT_EQ(r.strings.size(), 1u);
        const std::string& s = r.strings[0];
        std::size_t colon = s.rfind(':');
        ASSERT_NE(colon, std::string::npos) << s;
        int i = std::stoi(s.substr(colon + 1));
        EXPECT_EQ(r.event_id, i);
        EXPECT_TRUE(seen[s.substr(0, colon)].insert(i).second) << "duplicate " << s;
    }
    EXPECT_EQ(seen.size(), tags.size());
    for (const std::string& tag : tags) {
        EXPECT_EQ(seen[tag].size(), static_cast<std::size_t>(count)) << tag;
    }
}

// Waits for a child for at most `seconds`; kills it and fails if it hangs.
int wait_bounded(pid_t pid, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "child " << pid << " hung";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exit_code(status);
}

TEST_F(ConcurrentWriters, ManyThreadsLoseNoRecord) {
    constexpr int kThreads = 8, kEach = 400;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    std::set<std::string> tags;
    for (int t = 0; t < kThreads; ++t) {
        tags.insert("t" + std::to_string(t));
        threads.emplace_back(
            [t, &failures] { failures += write_sequence("t" + std::to_string(t), kEach); });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    auto all = rows();
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
    expect_complete(all, tags, kEach);
    std::set<std::int64_t> tids;
    for (const row& r : all)
        tids.insert(r.tid);
    EXPECT_EQ(tids.size(), static_cast<std::size_t>(kThreads));
}

TEST_F(ConcurrentWriters, TwoProcessesOnAFreshStoreLoseNoRecord) {
    constexpr int kEach = 5000;
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        std::fflush(nullptr);
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(write_sequence("p" + std::to_string(p), kEach) == 0 ? 0 : 1);
        children.push_back(pid);
    }
    for (pid_t pid : children)
        EXPECT_EQ(wait_bounded(pid, 100), 0);
    auto all = rows();
    EXPECT_EQ(all.size(), 2u * kEach);
    expect_complete(all, {"p0", "p1"}, kEach);
    std::map<std::int64_t, int> per_pid;
    for (const row& r : all)
        ++per_pid[r.pid];
    EXPECT_EQ(per_pid[children[0]], kEach);
    EXPECT_EQ(per_pid[children[1]], kEach);
}

TEST_F(ConcurrentWriters, ForkedChildWritesThroughItsOwnConnection) {
    ASSERT_TRUE(log_text("parent before"));  // the parent now holds a connection
    int status = run_child([] { return write_sequence("child", 10) == 0 ? 0 : 1; });
    EXPECT_EQ(exit_code(status), 0);
    ASSERT_TRUE(log_text("parent after"));
    auto all = rows();
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(all.front().strings[0], "parent before");
    EXPECT_EQ(all.back().strings[0], "parent after");
    for (std::size_t i = 1; i <= 10; ++i) {
        EXPECT_NE(all[i].pid, ::getpid());
        EXPECT_EQ(all[i].tid, all[i].pid);  // the child's only thread
    }
}

TEST_F(ConcurrentWriters, ForkWhileAnotherThreadWritesLeavesTheChildAbleToWrite) {
    std::atomic<bool> stop{false};
    std::atomic<int> parent_failures{0};
    std::thread writer([&] {
        int i = 0;
        while (!stop)
            parent_failures += write_sequence("bg" + std::to_string(i++), 1);
    });
    for (int round = 0; round < 10; ++round) {
        std::fflush(nullptr);
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(log_text("child " + std::to_string(round)) ? 0 : 1);
        EXPECT_EQ(wait_bounded(pid, 20), 0) << "round " << round;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(parent_failures.load(), 0);
    int children = 0;
    for (const row& r : rows())
        children += r.strings[0].rfind("child ", 0) == 0;
    EXPECT_EQ(children, 10);
}

// The strings of the stored records, oldest first.
std::vector<std::string> texts(const std::vector<row>& all) {
    std::vector<std::string> out;
    for (const row& r : all)
        out.push_back(r.strings.at(0));
    return out;
}

TEST_F(RecordBound, ASmallBoundIsKeptExactlyAndTheOldestGoFirst) {
    ::setenv("KES_EVENTLOG_MAX_RECORDS", "50", 1);
    for (int i = 0; i < 120; ++i)
        ASSERT_TRUE(log_text(std::to_string(i)));
    std::vector<std::string> expected;
    for (int i = 70; i < 120; ++i)
        expected.push_back(std::to_string(i));
    EXPECT_EQ(texts(rows()), expected);
}

TEST_F(RecordBound, ALargerBoundIsExceededByLessThanTheTrimInterval) {
    ::setenv("KES_EVENTLOG_MAX_RECORDS", "1000", 1);
    constexpr int kWritten = 1234;
    for (int i = 0; i < kWritten; ++i)
        ASSERT_TRUE(log_text(std::to_string(i)));
    auto kept = texts(rows());
    ASSERT_GE(kept.size(), 1000u);
    ASSERT_LE(kept.size(), 1000u + 10u - 1u);  // one trim every 1000/100 records
    // Whatever is kept is the newest records, contiguous.
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i], std::to_string(kWritten - kept.size() + i));
    }
}

TEST_F(RecordBound, LoweringTheBoundTrimsAtTheNextRecord) {
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(log_text(std::to_string(i)));
    ::setenv("KES_EVENTLOG_MAX_RECORDS", "20", 1);
    ASSERT_TRUE(log_text("300"));
    auto kept = texts(rows());
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(kept.front(), "281");
    EXPECT_EQ(kept.back(), "300");
}

TEST_F(RecordBound, UnusableBoundValuesFallBackToTheDefault) {
    for (const char* value : {"abc", "0", "-5", "12x", ""}) {
        ::setenv("KES_EVENTLOG_MAX_RECORDS", value, 1);
        ASSERT_TRUE(log_text(value));
    }
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(log_text(std::to_string(i)));
    EXPECT_EQ(count(), 205);
}

TEST_F(RecordBound, ProcessesSharingAStoreKeepTheBoundTogether) {
    ::setenv("KES_EVENTLOG_MAX_RECORDS", "100", 1);
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        std::fflush(nullptr);
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(write_sequence("p" + std::to_string(p), 400) == 0 ? 0 : 1);
        children.push_back(pid);
    }
    for (pid_t pid : children)
        EXPECT_EQ(wait_bounded(pid, 60), 0);
    auto all = rows();
    ASSERT_EQ(all.size(), 100u);
    // The newest 100 of 800: ids are consecutive and end at the last insert.
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_EQ(all[i].id, all[i - 1].id + 1);
    EXPECT_EQ(all.back().id, 800);
}

}  // namespace
}  // namespace eventlog_test
