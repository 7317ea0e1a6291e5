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
        EXPECT_EQ(wait_child(pid, 100), 0);
    auto all = rows();
    EXPECT_EQ(all.size(), 2u * kEach);
    expect_complete(all, {"p0", "p1"}, kEach);
    std::map<std::int64_t, int> per_pid;
    for (const row& r : all)
        ++per_pid[r.pid];
    EXPECT_EQ(per_pid[children[0]], kEach);
    EXPECT_EQ(per_pid[children[1]], kEach);
}

// A child forked while the parent holds a connection, and while another of
// its threads writes, opens its own and can write.
TEST_F(ConcurrentWriters, ForkWhileAnotherThreadWritesLeavesTheChildAbleToWrite) {
    ASSERT_TRUE(log_text("parent before"));
    std::atomic<bool> stop{false};
    std::atomic<int> parent_failures{0};
    std::thread writer([&] {
        int i = 0;
        while (!stop)
            parent_failures += write_sequence("bg" + std::to_string(i++), 1);
    });
    for (int round = 0; round < 10; ++round)
        EXPECT_EQ(run_child([round] { return log_text("child " + std::to_string(round)) ? 0 : 1; }),
                  0)
            << "round " << round;
    stop = true;
    writer.join();
    EXPECT_EQ(parent_failures.load(), 0);
    int children = 0;
    for (const row& r : rows()) {
        if (r.strings[0].rfind("child ", 0) != 0)
            continue;
        ++children;
        EXPECT_NE(r.pid, ::getpid());
        EXPECT_EQ(r.tid, r.pid) << "the child's only thread";
    }
    EXPECT_EQ(children, 10);
}

// The strings of the stored records, oldest first.
std::vector<std::string> texts(const std::vector<row>& all) {
    std::vector<std::string> out;
    for (const row& r : all)
        out.push_back(r.strings.at(0));
    return out;
}

TEST_F(RecordBound, TheBoundKeepsTheNewestAndIsReadAtEveryRecord) {
    for (const char* value : {"abc", "0", "-5", "12x", ""}) {  // all mean the default
        ::setenv("KES_EVENTLOG_MAX_RECORDS", value, 1);
        ASSERT_TRUE(log_text(value));
    }
    for (int i = 0; i < 295; ++i)
        ASSERT_TRUE(log_text(std::to_string(i)));
    EXPECT_EQ(count(), 300);
    ::setenv("KES_EVENTLOG_MAX_RECORDS", "20", 1);
    ASSERT_TRUE(log_text("last"));
    auto kept = texts(rows());
    ASSERT_EQ(kept.size(), 20u) << "lowering the bound trims at the next record";
    EXPECT_EQ(kept.front(), "276");
    ::setenv("KES_EVENTLOG_MAX_RECORDS", "50", 1);
    for (int i = 0; i < 120; ++i)
        ASSERT_TRUE(log_text("n" + std::to_string(i)));
    std::vector<std::string> expected;
    for (int i = 70; i < 120; ++i)
        expected.push_back("n" + std::to_string(i));
    EXPECT_EQ(texts(rows()), expected) << "a small bound is kept exactly, oldest first out";
}

TEST_F(RecordBound, ALargerBoundIsExceededByLessThanTheTrimInterval) {
    ::setenv("KES_EVENTLOG_MAX_RECORDS", "1000", 1);
    constexpr int kWritten = 1234;
    for (int i = 0; i < kWritten; ++i)
        ASSERT_TRUE(log_text(std::to_string(i)));
    auto kept = texts(rows());
    ASSERT_GE(kept.size(), 1000u);
    ASSERT_LE(kept.size(), 1000u + 10u - 1u);  // one trim every 1000/100 records
    for (std::size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i], std::to_string(kWritten - kept.size() + i)) << "the newest, contiguous";
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
        EXPECT_EQ(wait_child(pid, 60), 0);
    auto all = rows();
    ASSERT_EQ(all.size(), 100u);
    // The newest 100 of 800: ids are consecutive and end at the last insert.
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_EQ(all[i].id, all[i - 1].id + 1);
    EXPECT_EQ(all.back().id, 800);
}

}  // namespace
}  // namespace eventlog_test
