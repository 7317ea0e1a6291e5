// Shows the lock classes at work: worker threads share a counter under a
// critical section, take turns through an auto event, and are admitted a few
// at a time by a semaphore. Prints what happened and whether it added up.
#include <kes/kes.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kWorkers = 4;
constexpr int kRounds = 100000;
constexpr LONG kAdmitted = 2;

struct Shared {
    CKesCriticalSection section;
    long counter = 0;
    CKesAutoEvent turn{true};  // signalled: the first taker gets the turn
    int turnsTaken = 0;
    CKesSemaphore gate{kAdmitted, kAdmitted};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
};

void Work(Shared& shared) {
    for (int i = 0; i < kRounds; ++i) {
        CKesLock lock(&shared.section);
        ++shared.counter;
    }
    for (int i = 0; i < 100; ++i) {
        CKesLock lock(&shared.turn);  // waits for the event, sets it again on leaving
        ++shared.turnsTaken;
    }
    for (int i = 0; i < 1000; ++i) {
        CKesLock lock(&shared.gate);
        int now = shared.inside.fetch_add(1) + 1;
        int most = shared.mostInside.load();
        while (now > most && !shared.mostInside.compare_exchange_weak(most, now)) {
        }
        shared.inside.fetch_sub(1);
    }
}

}  // namespace

int main() {
    Shared shared;
    std::vector<std::thread> workers;
    for (int t = 0; t < kWorkers; ++t)
        workers.emplace_back(Work, std::ref(shared));
    for (std::thread& worker : workers)
        worker.join();

    const long expected = static_cast<long>(kWorkers) * kRounds;
    const bool ok = shared.counter == expected && shared.turnsTaken == kWorkers * 100 &&
                    shared.mostInside.load() <= kAdmitted;
    std::printf("kes locks demo: %d threads\n", kWorkers);
    std::printf("  critical section: counter %ld of %ld increments\n", shared.counter, expected);
    std::printf("  auto event:       %d turns taken one at a time\n", shared.turnsTaken);
    std::printf("  semaphore:        at most %d of %ld admitted threads inside at once\n",
                shared.mostInside.load(), static_cast<long>(kAdmitted));
    std::printf("%s\n", ok ? "everything added up" : "MISMATCH: a lock let two threads in");
    return ok ? 0 : 1;
}
