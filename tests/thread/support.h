// Helpers shared by the thread, lock and allocator tests.
#pragma once

#include <host/internal/handle_table.h>
#include <host/types.h>
#include <kes/error/keserror.h>
#include <kes/thread/kesthread.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define KES_THREAD_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KES_THREAD_TSAN 1
#endif
#endif

// Fewer rounds under the thread sanitizer, which slows locking many times.
#ifdef KES_THREAD_TSAN
constexpr int kRounds = 2000;
constexpr int kStopRounds = 30;
#else
constexpr int kRounds = 50000;
constexpr int kStopRounds = 200;
#endif

// Polls `condition` every millisecond for up to 10 s; true once it holds.
template <class Condition>
bool Eventually(Condition condition) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline bool AwaitWaiters(HANDLE handle, std::size_t count) {
    return Eventually([&] { return host::debug_waiter_count(handle) == count; });
}

// True when `counter` stays where it is for a while: whoever advanced it has stopped.
inline bool StaysStill(const std::atomic<long>& counter) {
    long before = counter.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return counter.load() == before;
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// A runnable that runs a function given by the test and counts runs and returns.
class Work : public IRunnable {
  public:
    explicit Work(std::function<void()> theBody) : myBody(std::move(theBody)) {}
    void Run() override {
        ++myRuns;
        myBody();
        ++myReturns;
    }
    std::atomic<int> myRuns{0};
    std::atomic<int> myReturns{0};

  private:
    std::function<void()> myBody;
};

// The text last raised with `code` on this thread.
inline std::string LastText(LONG code) {
    host::wstring wide;
    KesGetLastErrorMessage(code, wide);
    return std::string(wide.begin(), wide.end());
}
