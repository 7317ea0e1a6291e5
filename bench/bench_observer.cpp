// Cost of one notification pass, in one binary:
//  - CKesNotifier<T>::notify(theData) over 1, 16 and 256 subscribed observers;
//  - a Boost.Signals2 signal with as many slots, emitting once (the peer);
//  - a plain loop of virtual calls over the same observers (the floor), and
//    the same loop inside one uncontended EnterCriticalSection /
//    LeaveCriticalSection (the floor of a pass that must hold a lock);
//  - a gated notifier: disable, 1,000 notifications, enable (which replays
//    them as 1,000 passes), beside 1,000 ordinary passes.
// See docs/performance.md for the command and the targets.
//
// Every variant reaches the same observer objects through the same virtual
// doCall, which does the same work: it reads the payload and folds it into
// the observer's state, kept visible with DoNotOptimize. The Signals2 slots
// call that doCall too, so the variants differ only in how they get there.
//
// The figures are taken with a second thread alive (parked on a condition
// variable), as in bench_sync: the C library skips the atomic instructions of
// its own mutexes, which Signals2 uses, while a process has a single thread,
// which no program that notifies across threads sees.
#include "bench_support.h"

#include <host/critsec.h>
#include <kes/observer/kesgatednotifierb.h>
#include <kes/observer/kesnotifierb.h>
#include <kes/observer/kesobserverab.h>

#include <benchmark/benchmark.h>
#include <boost/signals2/signal.hpp>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Not in an unnamed namespace: the compiler must not know every class that
// derives from Sink, or it could turn the floor's virtual calls into direct
// ones (bench_observer.cmake also switches off speculative devirtualisation).
namespace obsbench {

// A typical notification payload: a port's state change and its counters.
struct PortStatus {
    LONG port;
    LONG state;
    std::uint64_t frames;
    std::uint64_t bytes;
};

class Sink : public CKesObserverB<PortStatus> {
  public:
    // theOwn: the status read by a notification without payload (a gated
    // notifier's).
    explicit Sink(const PortStatus& theOwn) : myOwn(theOwn) {}
    ~Sink() override { reset(); }

    // Public, so that the floor and the Signals2 slots can call it directly.
    void doCall(const void* theData) override;

  private:
    const PortStatus& myOwn;
    std::uint64_t myFrames = 0;
    std::uint64_t myBytes = 0;
    LONG myLastState = 0;
};

void Sink::doCall(const void* theData) {
    const PortStatus& status = theData ? *static_cast<const PortStatus*>(theData) : myOwn;
    myFrames += status.frames;
    myBytes += status.bytes;
    myLastState = status.state;
    benchmark::DoNotOptimize(myFrames);
    benchmark::DoNotOptimize(myBytes);
    benchmark::DoNotOptimize(myLastState);
}

using kesbench::ParkedThread;

// The observers of one benchmark, each allocated on its own as real ones
// are; the list is what the floor walks.
class Sinks {
  public:
    Sinks(std::int64_t theCount, const PortStatus& theOwn) {
        for (std::int64_t i = 0; i < theCount; ++i) {
            myOwned.push_back(std::make_unique<Sink>(theOwn));
            myList.push_back(myOwned.back().get());
        }
    }
    const std::vector<Sink*>& list() const { return myList; }

    // Every sink subscribed to / unsubscribed from `theNotifier`, in order.
    template <class Notifier>
    void subscribeTo(Notifier& theNotifier) const {
        for (Sink* sink : myList)
            theNotifier.subscribe(sink);
    }
    template <class Notifier>
    void unsubscribeFrom(Notifier& theNotifier) const {
        for (Sink* sink : myList)
            theNotifier.unsubscribe(sink);
    }

  private:
    std::vector<std::unique_ptr<Sink>> myOwned;
    std::vector<Sink*> myList;
};

// The next payload: changes every iteration, so no pass can be folded away.
void Advance(PortStatus& theStatus) {
    ++theStatus.frames;
    theStatus.bytes += 64;
    theStatus.state ^= 1;
    benchmark::ClobberMemory();
}

void BM_KesNotify(benchmark::State& state) {
    ParkedThread other;
    PortStatus status{7, 0, 0, 0};
    Sinks sinks(state.range(0), status);
    CKesNotifier<PortStatus> notifier;
    sinks.subscribeTo(notifier);
    for (auto _ : state) {
        Advance(status);
        notifier.notify(status);
    }
    sinks.unsubscribeFrom(notifier);
}
BENCHMARK(BM_KesNotify)->Arg(1)->Arg(16)->Arg(256);

void BM_Signals2Emit(benchmark::State& state) {
    ParkedThread other;
    PortStatus status{7, 0, 0, 0};
    Sinks sinks(state.range(0), status);
    boost::signals2::signal<void(const PortStatus&)> signal;
    for (Sink* sink : sinks.list())
        signal.connect([sink](const PortStatus& theStatus) { sink->doCall(&theStatus); });
    for (auto _ : state) {
        Advance(status);
        signal(status);
    }
}
BENCHMARK(BM_Signals2Emit)->Arg(1)->Arg(16)->Arg(256);

void BM_VirtualLoop(benchmark::State& state) {
    ParkedThread other;
    PortStatus status{7, 0, 0, 0};
    Sinks sinks(state.range(0), status);
    const std::vector<Sink*>& list = sinks.list();
    for (auto _ : state) {
        Advance(status);
        for (Sink* sink : list)
            sink->doCall(&status);
    }
}
BENCHMARK(BM_VirtualLoop)->Arg(1)->Arg(16)->Arg(256);

void BM_VirtualLoopCriticalSection(benchmark::State& state) {
    ParkedThread other;
    PortStatus status{7, 0, 0, 0};
    Sinks sinks(state.range(0), status);
    const std::vector<Sink*>& list = sinks.list();
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    for (auto _ : state) {
        Advance(status);
        EnterCriticalSection(&section);
        for (Sink* sink : list)
            sink->doCall(&status);
        LeaveCriticalSection(&section);
    }
    DeleteCriticalSection(&section);
}
BENCHMARK(BM_VirtualLoopCriticalSection)->Arg(1)->Arg(16)->Arg(256);

constexpr int kHeld = 1000;

// disable(), 1,000 notify(), enable(): the last replays 1,000 passes. A
// gated notifier hands its observers no payload, so they read their own
// status.
void BM_GatedHoldAndReplay(benchmark::State& state) {
    ParkedThread other;
    PortStatus status{7, 0, 0, 0};
    Sinks sinks(state.range(0), status);
    CKesGatedNotifier<PortStatus> notifier;
    sinks.subscribeTo(notifier);
    for (auto _ : state) {
        Advance(status);
        notifier.disable();
        for (int i = 0; i < kHeld; ++i)
            notifier.notify();
        notifier.enable();
    }
    sinks.unsubscribeFrom(notifier);
}
BENCHMARK(BM_GatedHoldAndReplay)->Arg(1)->Arg(16);

// The same observers notified 1,000 times at once by an ordinary notifier:
// the replay's passes without the gate.
void BM_Plain1000Passes(benchmark::State& state) {
    ParkedThread other;
    PortStatus status{7, 0, 0, 0};
    Sinks sinks(state.range(0), status);
    CKesNotifier<PortStatus> notifier;
    sinks.subscribeTo(notifier);
    for (auto _ : state) {
        Advance(status);
        for (int i = 0; i < kHeld; ++i)
            notifier.notify();
    }
    sinks.unsubscribeFrom(notifier);
}
BENCHMARK(BM_Plain1000Passes)->Arg(1)->Arg(16);

}  // namespace obsbench

BENCHMARK_MAIN();
