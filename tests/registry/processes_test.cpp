// Several processes on one store: queued writers, a writer killed mid-loop,
// handles inherited through fork, threads of one process.
#include "support.h"

#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <thread>

namespace regtest {
namespace {

using RegistryProcesses = FreshStore;

host::wstring value_name(int writer, int index) {
    return w("w" + std::to_string(writer) + "-" + std::to_string(index));
}

// Runs `body` in a child process and returns its exit status (or -1 when it
// did not exit normally). The child never returns into the test framework.
template <class Body>
int in_child(Body body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryProcesses, FourWritersOfTwoThousandValuesEachLeaveAllEightThousand) {
    constexpr int kWriters = 4;
    constexpr int kValues = 2000;
    HKEY key = create("SOFTWARE\\Shared");
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The inherited handle is used as is: the store reconnects after fork.
            for (int i = 0; i < kValues; ++i) {
                if (set_dword(key, value_name(writer, i),
                              static_cast<DWORD>(writer * kValues + i)) != ERROR_SUCCESS) {
                    _exit(1);
                }
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    EXPECT_EQ(value_count(key), static_cast<DWORD>(kWriters * kValues));
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int i = 0; i < kValues; i += 97) {
            const DWORD expected = static_cast<DWORD>(writer * kValues + i);
            EXPECT_EQ(get(key, value_name(writer, i)),
                      std::vector<BYTE>(reinterpret_cast<const BYTE*>(&expected),
                                        reinterpret_cast<const BYTE*>(&expected) + 4));
        }
    }
}

std::string integrity_of(const std::string& path) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return result;
}

TEST_F(RegistryProcesses, KilledWriterLosesNoAcknowledgedWriteAndLeavesASoundStore) {
    HKEY key = create("SOFTWARE\\Crash");
    int written = 0;  // values 0 .. written-1 were acknowledged in earlier rounds
    // Each round kills the writer at a different point of its loop.
    for (int round = 0; round < 4; ++round) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipe_fds[0]);
            HKEY own = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Crash").c_str(), 0, KEY_ALL_ACCESS,
                              &own) != ERROR_SUCCESS) {
                _exit(1);
            }
            // Large values make each commit span several pages of the WAL.
            std::vector<BYTE> payload(9000);
            for (int i = written;; ++i) {
                std::memset(payload.data(), i & 0xFF, payload.size());
                std::memcpy(payload.data(), &i, sizeof i);
                if (RegSetValueExW(own, value_name(0, i).c_str(), 0, REG_BINARY, payload.data(),
                                   static_cast<DWORD>(payload.size())) != ERROR_SUCCESS) {
                    _exit(2);
                }
                if (write(pipe_fds[1], &i, sizeof i) != sizeof i)
                    _exit(3);
            }
        }
        close(pipe_fds[1]);
        int acknowledged = -1;
        int wanted = written + 50 + 37 * round;
        int last = -1;
        while (last < wanted && read(pipe_fds[0], &last, sizeof last) == sizeof last) {
            acknowledged = last;
        }
        ASSERT_EQ(kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself: " << status;
        while (read(pipe_fds[0], &last, sizeof last) == sizeof last)
            acknowledged = last;
        close(pipe_fds[0]);
        ASSERT_GE(acknowledged, wanted);

        ASSERT_EQ(integrity_of(home() + "/registry.db"), "ok");
        for (int i = 0; i <= acknowledged; ++i) {
            std::vector<BYTE> data = get(key, value_name(0, i));
            ASSERT_EQ(data.size(), 9000u)
                << "acknowledged write " << i << " lost in round " << round;
            int stored;
            std::memcpy(&stored, data.data(), sizeof stored);
            EXPECT_EQ(stored, i);
        }
        written = acknowledged + 1;
    }
    // The store still takes writes after all that.
    EXPECT_EQ(set_dword(key, w("after"), 1), ERROR_SUCCESS);
}

TEST_F(RegistryProcesses, ForkedChildrenUseInheritedHandlesAndTheirDeletionsAreSeen) {
    HKEY key = create("SOFTWARE\\Remote\\Victim");
    ASSERT_EQ(set_dword(key, w("before"), 1), ERROR_SUCCESS);
    EXPECT_EQ(in_child([key] {
                  if (status_of(key, w("before")) != ERROR_SUCCESS)
                      return 1;
                  return set_dword(key, w("child"), 2) == ERROR_SUCCESS ? 0 : 2;
              }),
              0);
    EXPECT_EQ(status_of(key, w("child")), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(key, w("after"), 3), ERROR_SUCCESS);

    EXPECT_EQ(in_child([] {
                  return RegDeleteTreeW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Remote").c_str()) ==
                                 ERROR_SUCCESS
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_EQ(set_dword(key, w("v"), 2), ERROR_KEY_DELETED);
    EXPECT_EQ(status_of(key, w("before")), ERROR_KEY_DELETED);
}

TEST_F(RegistryProcesses, ThreadsOfOneProcessShareHandlesAndTheStore) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 150;
    HKEY shared = create("SOFTWARE\\Threads");
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, shared, &failures] {
            for (int i = 0; i < kRounds; ++i) {
                // Handles opened and closed by every thread, slots reused under
                // the others' feet, one handle used by all of them.
                HKEY own = nullptr;
                std::string name = "t" + std::to_string(t) + "\\" + std::to_string(i % 7);
                if (RegCreateKeyExW(shared, w(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &own, nullptr) != ERROR_SUCCESS ||
                    set_dword(own, w("i"), static_cast<DWORD>(i)) != ERROR_SUCCESS ||
                    set_dword(shared, value_name(t, i), static_cast<DWORD>(i)) != ERROR_SUCCESS) {
                    ++failures[t];
                }
                DWORD value = 0;
                DWORD size = sizeof value;
                if (RegQueryValueExW(own, w("i").c_str(), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
                    value != static_cast<DWORD>(i)) {
                    ++failures[t];
                }
                if (RegCloseKey(own) != ERROR_SUCCESS)
                    ++failures[t];
                WCHAR sub[16];
                DWORD units = 16;
                RegEnumKeyExW(shared, static_cast<DWORD>(i % kThreads), sub, &units, nullptr,
                              nullptr, nullptr, nullptr);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    EXPECT_EQ(value_count(shared), static_cast<DWORD>(kThreads * kRounds));
    EXPECT_EQ(subkeys(shared).size(), static_cast<std::size_t>(kThreads));
}

}  // namespace
}  // namespace regtest
