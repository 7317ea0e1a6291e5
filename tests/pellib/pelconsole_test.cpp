// PelConsole: destination, appending, whole lines, and no interleaving of
// concurrent writers in threads and processes.
#include <pellib/pelconsole.h>

#include "consolefile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using peltest::ConsoleFileTest;
using peltest::Lines;
using peltest::ReadFile;
namespace fs = std::filesystem;

// Runs `body` with standard error sent to a file and returns what it wrote.
template <typename Body>
std::string CaptureStandardError(const fs::path& file, Body body) {
    int saved = dup(STDERR_FILENO);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDERR_FILENO);
    ::close(fd);
    body();
    dup2(saved, STDERR_FILENO);
    ::close(saved);
    return ReadFile(file);
}

TEST_F(ConsoleFileTest, TextIsAppendedToThePelConsoleFile) {
    std::ofstream(m_File) << "existing line\n";
    PelConsole() << "first" << '\n';
    {
        PelConsole console;
        console << "second " << 2 << '\n';
        EXPECT_EQ(ReadFile(m_File), "existing line\nfirst\n");  // nothing before destruction
    }
    EXPECT_EQ(ReadFile(m_File), "existing line\nfirst\nsecond 2\n");
}

TEST_F(ConsoleFileTest, ManipulatorsAndStreamAccessWriteToTheSameText) {
    {
        PelConsole console;
        console << 42 << ' ' << std::hex << 255;
        console.stream() << " tail";
        console << std::endl;
    }
    EXPECT_EQ(ReadFile(m_File), "42 ff tail\n");
}

TEST_F(ConsoleFileTest, MissingFinalNewlineIsAdded) {
    PelConsole() << "no newline";
    PelConsole() << "two\nlines";
    EXPECT_EQ(ReadFile(m_File), "no newline\ntwo\nlines\n");
}

TEST_F(ConsoleFileTest, AConsoleWithoutTextWritesNothing) {
    { PelConsole console; }
    EXPECT_FALSE(fs::exists(m_File));
}

TEST_F(ConsoleFileTest, WithoutPelConsoleTheTextGoesToStandardError) {
    unsetenv("PEL_CONSOLE");
    std::string unset = CaptureStandardError(m_Dir / "stderr1", [] { PelConsole() << "unset\n"; });
    EXPECT_EQ(unset, "unset\n");
    setenv("PEL_CONSOLE", "", 1);
    std::string empty = CaptureStandardError(m_Dir / "stderr2", [] { PelConsole() << "empty\n"; });
    EXPECT_EQ(empty, "empty\n");
}

TEST_F(ConsoleFileTest, AnUnopenableFileFallsBackToStandardError) {
    setenv("PEL_CONSOLE", m_Dir.c_str(), 1);  // a directory cannot be opened for writing
    std::string text = CaptureStandardError(m_Dir / "stderr", [] { PelConsole() << "kept\n"; });
    EXPECT_EQ(text, "kept\n");
}

// A line that says who wrote it, padded so that a torn write would show.
std::string LineFor(int writer, int index) {
    std::string line = "writer " + std::to_string(writer) + " line " + std::to_string(index) + " ";
    line.append(300, static_cast<char>('a' + writer % 26));
    return line + " end";
}

// Every line must be one that a writer produced, whole, exactly once.
void ExpectAllLinesWhole(const std::string& text, int writers, int perWriter) {
    std::map<std::string, int> seen;
    for (const std::string& line : Lines(text))
        ++seen[line];
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(writers * perWriter));
    for (int w = 0; w < writers; ++w) {
        for (int i = 0; i < perWriter; ++i) {
            auto it = seen.find(LineFor(w, i));
            ASSERT_NE(it, seen.end()) << "missing or torn: writer " << w << " line " << i;
            EXPECT_EQ(it->second, 1);
        }
    }
}

TEST_F(ConsoleFileTest, ConcurrentThreadsNeverInterleaveLines) {
    constexpr int kThreads = 8, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                PelConsole console;
                // Written in pieces: the console must still emit it as one.
                std::string line = LineFor(t, i);
                for (std::size_t at = 0; at < line.size(); at += 40)
                    console << line.substr(at, 40);
                console << '\n';
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    ExpectAllLinesWhole(ReadFile(m_File), kThreads, kLines);
}

TEST_F(ConsoleFileTest, ConcurrentProcessesNeverInterleaveLines) {
    constexpr int kProcesses = 4, kLines = 200;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kLines; ++i)
                PelConsole() << LineFor(p, i) << '\n';
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ExpectAllLinesWhole(ReadFile(m_File), kProcesses, kLines);
}

}  // namespace
