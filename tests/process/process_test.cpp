// Ending the current process at once, as a fatal error does.
#include <host/error.h>
#include <host/process.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Set in a child only: where the exit-time markers go.
int g_marker_fd = -1;

void write_marker(const char* text) {
    if (g_marker_fd >= 0)
        (void)!::write(g_marker_fd, text, std::strlen(text));
}

// A static object whose destructor leaves a marker when statics are destroyed.
struct static_marker {
    ~static_marker() { write_marker("[destructor]"); }
} g_static_marker;

void atexit_marker() {
    write_marker("[atexit]");
}

struct child_result {
    int status = 0;
    std::string output;  // markers and whatever reached standard output
};

// Runs `body` in a child whose standard output and markers go to one pipe,
// fully buffered, with an exit handler registered.
child_result run_child(const std::function<void()>& body) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        g_marker_fd = fds[1];
        static char buffer[4096];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        std::atexit(atexit_marker);
        body();
        ::_exit(99);  // body should not return
    }
    ::close(fds[1]);
    child_result r;
    char chunk[256];
    ssize_t n;
    while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0)
        r.output.append(chunk, n);
    ::close(fds[0]);
    ::waitpid(pid, &r.status, 0);
    return r;
}

int exit_status(const child_result& r) {
    return WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1;
}

// The control case: an ordinary exit shows every marker the checks below miss.
TEST(ProcessEnd, NormalExitRunsHandlersDestructorsAndFlushes) {
    child_result r = run_child([] {
        std::printf("buffered text");
        std::exit(3);
    });
    EXPECT_EQ(exit_status(r), 3);
    EXPECT_NE(r.output.find("buffered text"), std::string::npos);
    EXPECT_NE(r.output.find("[atexit]"), std::string::npos);
    EXPECT_NE(r.output.find("[destructor]"), std::string::npos);
}

// No handlers, destructors or flushing; the status is the code's low 8 bits.
TEST(ProcessEnd, TerminateEndsAtOnceWithTheLowEightBitsOfTheCode) {
    const std::pair<UINT, int> cases[] = {{0, 0},   {1, 1},          {42, 42},          {255, 255},
                                          {256, 0}, {0x12345, 0x45}, {0xFFFFFFFFu, 255}};
    for (const auto& c : cases) {
        child_result r = run_child([&] {
            std::printf("buffered text");
            TerminateProcess(GetCurrentProcess(), c.first);
            write_marker("[returned]");
        });
        EXPECT_EQ(exit_status(r), c.second) << "code " << c.first;
        EXPECT_EQ(r.output, "");
    }
}

TEST(ProcessEnd, OtherThreadsDoNotHoldTheProcessBack) {
    child_result r = run_child([] {
        std::thread busy([] {
            for (;;)
                std::this_thread::sleep_for(std::chrono::hours(1));
        });
        busy.detach();
        std::thread spinning([] {
            volatile unsigned long n = 0;
            for (;;)
                n = n + 1;
        });
        spinning.detach();
        TerminateProcess(GetCurrentProcess(), 7);
    });
    EXPECT_EQ(exit_status(r), 7);
    EXPECT_EQ(r.output, "");
}

TEST(ProcessEnd, OtherHandlesAreRefusedAndTheCallerGoesOn) {
    int object = 0;
    for (HANDLE h : {static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(-2),
                     static_cast<HANDLE>(&object)}) {
        SetLastError(0);
        EXPECT_FALSE(TerminateProcess(h, 1));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST(ProcessIdentity, PseudoHandleAndIdNameTheCallingProcess) {
    EXPECT_EQ(GetCurrentProcess(), reinterpret_cast<HANDLE>(-1));
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
    child_result r = run_child([] {
        std::printf("%u", GetCurrentProcessId());
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 0);
    });
    EXPECT_EQ(exit_status(r), 0);
    EXPECT_NE(r.output, std::to_string(::getpid()));
    EXPECT_FALSE(r.output.empty());
}

}  // namespace
