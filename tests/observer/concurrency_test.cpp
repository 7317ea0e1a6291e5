// Many threads at once: passes on two threads while two others subscribe,
// unsubscribe, reset and destroy observers; gates closed and opened while
// others notify. The invariants are checked on every call and every pass.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define KES_OBSERVER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KES_OBSERVER_TSAN 1
#endif
#endif

namespace {

using namespace obstest;

#ifdef KES_OBSERVER_TSAN
constexpr int kRounds = 4000;
#else
constexpr int kRounds = 40000;
#endif

// One pass's record, filled in by the observers (under the notifier's lock).
struct Round {
    const CKesNotifierB* notifier;
    mutable int expected;  // subscriptions at the pass, noted by the sentinel
    mutable int calls;
};

using RoundNotifier = CKesNotifier<Round>;

// Subscriptions per notifier, over all observers; changed by the hooks, under
// that notifier's lock.
struct Census {
    const CKesNotifierB* notifiers[2];
    int atoms[2] = {0, 0};
    int index(const CKesNotifierB* n) const { return n == notifiers[0] ? 0 : 1; }
};

class Watched : public CKesObserverB<Round> {
  public:
    static constexpr unsigned kAlive = 0x0B5E55EDu;
    Watched(Census& theCensus, bool theSentinel) : myCensus(theCensus), mySentinel(theSentinel) {}
    ~Watched() override {
        reset();  // first thing: passes on other threads may still reach us
        myMagic = 0;
    }
    // Read by the owning thread, which is the only one that changes them.
    int on(int notifier) const { return mySubscriptions[notifier]; }

    std::atomic<int> failures{0};

  protected:
    void doCall(const void* theData) override {
        const Round* round = static_cast<const Round*>(theData);
        const int n = myCensus.index(round->notifier);
        if (myMagic != kAlive || mySubscriptions[n] <= 0)
            ++failures;
        if (mySentinel)
            round->expected = myCensus.atoms[n];
        ++round->calls;
    }

  private:
    void doSubscribe(CKesNotifierB& theNotifier) override {
        const int n = myCensus.index(&theNotifier);
        ++mySubscriptions[n];
        ++myCensus.atoms[n];
    }
    void doUnsubscribe(CKesNotifierB& theNotifier) override {
        const int n = myCensus.index(&theNotifier);
        --mySubscriptions[n];
        --myCensus.atoms[n];
    }

    Census& myCensus;
    const bool mySentinel;
    unsigned myMagic = kAlive;
    int mySubscriptions[2] = {0, 0};
};

TEST(Concurrency, PassesReachOnlyLiveSubscribedObserversWhileOthersChangeSubscriptions) {
    RoundNotifier notifiers[2];
    Census census{{&notifiers[0], &notifiers[1]}};
    Watched sentinel(census, true);
    for (auto& n : notifiers)
        n.subscribe(&sentinel);

    std::atomic<int> subscribersLeft{2};
    std::atomic<int> badPasses{0};
    std::atomic<int> lostFailures{0};
    std::atomic<long> passes{0};

    auto notifying = [&](int seed) {
        int round = 0;
        // Go on until the subscribers are done, and at least a while.
        while (subscribersLeft.load() > 0 || round < 1000) {
            RoundNotifier& n = notifiers[(round + seed) % 2];
            Round r{&n, -1, 0};
            n.notify(r);
            if (r.expected < 1 || r.calls != r.expected)
                ++badPasses;
            ++round;
        }
        passes += round;
    };

    auto subscribing = [&](unsigned seed) {
        std::mt19937 random(seed);
        std::vector<std::unique_ptr<Watched>> pool;
        for (int i = 0; i < 4; ++i)
            pool.push_back(std::make_unique<Watched>(census, false));
        for (int round = 0; round < kRounds; ++round) {
            Watched& o = *pool[random() % pool.size()];
            const int k = static_cast<int>(random() % 2);
            const unsigned action = random() % 8;
            if (action <= 2 && o.on(k) < 3) {
                notifiers[k].subscribe(&o);
            } else if ((action == 3 || action == 4) && o.on(k) > 0) {
                notifiers[k].unsubscribe(&o);
            } else if (action == 5) {
                o.reset();
            } else if (action == 6) {  // destroyed while the other threads notify
                auto& slot = pool[random() % pool.size()];
                lostFailures += slot->failures.load();
                slot = std::make_unique<Watched>(census, false);
            } else if (action == 7) {
                std::this_thread::yield();
            }
        }
        for (auto& o : pool)
            lostFailures += o->failures.load();
        pool.clear();
        --subscribersLeft;
    };

    std::vector<std::thread> threads;
    threads.emplace_back(notifying, 0);
    threads.emplace_back(notifying, 1);
    threads.emplace_back(subscribing, 17u);
    threads.emplace_back(subscribing, 4711u);
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(badPasses.load(), 0);
    EXPECT_EQ(lostFailures.load() + sentinel.failures.load(), 0);
    EXPECT_GT(passes.load(), 0);
    // Only the sentinel is left.
    EXPECT_EQ(census.atoms[0], 1);
    EXPECT_EQ(census.atoms[1], 1);
    sentinel.reset();
    EXPECT_TRUE(notifiers[0].isEmpty());
    EXPECT_TRUE(notifiers[1].isEmpty());
}

// Counts calls; the count is only touched under the notifier's lock.
class Counter : public CKesObserverB<CKesNothing> {
  public:
    ~Counter() override { reset(); }
    long calls = 0;

  protected:
    void doCall(const void*) override { ++calls; }
};

TEST(Concurrency, GateLosesAndDuplicatesNoNotificationWhileThreadsToggleIt) {
    Gated gated;
    Counter counter;
    gated.subscribe(&counter);
    std::atomic<bool> stop{false};
    std::atomic<long> notified{0};

    auto notifying = [&] {
        for (int i = 0; i < kRounds / 4; ++i) {
            gated.notify();
            ++notified;
        }
    };
    auto toggling = [&] {
        while (!stop.load()) {
            gated.disable();
            gated.disable();  // nested
            std::this_thread::yield();
            gated.enable();
            gated.enable();
        }
    };
    std::thread t1(toggling), t2(toggling), n1(notifying), n2(notifying);
    n1.join();
    n2.join();
    stop = true;
    t1.join();
    t2.join();
    EXPECT_TRUE(gated.isEnabled());
    gated.disable();  // take the lock once to read the count
    EXPECT_EQ(counter.calls, notified.load());
    gated.enable();
    counter.reset();
}

}  // namespace
