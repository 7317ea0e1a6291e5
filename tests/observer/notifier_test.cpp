// Notification passes: order, payloads, return values, and subscription
// changes made from inside a pass.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>

namespace {

using namespace obstest;

class Pass : public ::testing::Test {
  public:  // the in-pass cases below script these members
    CallLog log;
    Nothing o1{"o1", log}, o2{"o2", log}, o3{"o3", log}, o4{"o4", log};
    Notifier notifier;

    void SubscribeAll() {
        for (Nothing* o : {&o1, &o2, &o3})
            ASSERT_EQ(notifier.subscribe(o), S_OK);
    }

  protected:
    void TearDown() override {
        for (Nothing* o : {&o1, &o2, &o3, &o4})
            o->reset();
    }
};

TEST_F(Pass, EmptyNotifierCallsNobody) {
    EXPECT_TRUE(notifier.isEmpty());
    notifier.notify();
    EXPECT_TRUE(log.empty());
}

TEST_F(Pass, ObserversAreCalledInSubscriptionOrderWithThePayloadPointer) {
    SubscribeAll();
    notifier.notify();
    CKesNothing payload;
    notifier.notify(payload);
    EXPECT_EQ(log, (CallLog{"o1", "o2", "o3", "o1", "o2", "o3"}));
    EXPECT_EQ(o2.payloads, (std::vector<const void*>{nullptr, &payload}));
}

TEST_F(Pass, TypedPayloadArrivesByAddress) {
    CKesNotifier<int> ints;
    Recorder<int> r("r", log);
    ASSERT_EQ(ints.subscribe(&r), S_OK);
    int value = 42;
    ints.notify(value);
    ASSERT_EQ(r.payloads.size(), 1u);
    EXPECT_EQ(r.payloads[0], &value);
    // call() reaches the observer without a notifier.
    r.call();
    r.call(value);
    EXPECT_EQ(r.payloads, (std::vector<const void*>{&value, nullptr, &value}));
    EXPECT_EQ(ints.unsubscribe(&r), S_OK);
}

TEST_F(Pass, SubscribeAndUnsubscribeReportTheEmptyTransitions) {
    Exposed<Notifier> n;
    EXPECT_TRUE(n.subscribeAndTest(&o1));
    EXPECT_FALSE(n.subscribeAndTest(&o2));
    EXPECT_FALSE(n.isEmpty());
    EXPECT_FALSE(n.unsubscribeAndTest(&o1));
    EXPECT_TRUE(n.unsubscribeAndTest(&o2));
    EXPECT_TRUE(n.isEmpty());
    // The untyped pass is the same pass.
    n.subscribeAndTest(&o3);
    int data = 0;
    n.sendNotification(&data);
    EXPECT_EQ(o3.payloads, (std::vector<const void*>{&data}));
    EXPECT_TRUE(n.unsubscribeAndTest(&o3));
    EXPECT_EQ(o1.hooks, "+-");
}

TEST_F(Pass, UnsubscribedObserverIsNotCalledAgain) {
    SubscribeAll();
    notifier.unsubscribe(&o2);
    notifier.notify();
    EXPECT_EQ(log, (CallLog{"o1", "o3"}));
}

// Changes made by one observer's callback during the first pass, and the
// calls of that pass and of the next one.
struct InPassCase {
    const char* name;
    std::function<void(Pass&)> arrange;  // sets scripts after o1..o3 subscribed
    CallLog first;
    CallLog second;
};

class InPass : public Pass, public ::testing::WithParamInterface<InPassCase> {};

TEST_P(InPass, PassFollowsTheChange) {
    SubscribeAll();
    GetParam().arrange(*this);
    notifier.notify();
    EXPECT_EQ(log, GetParam().first);
    log.clear();
    for (Nothing* o : {&o1, &o2, &o3, &o4})
        o->script = nullptr;
    notifier.notify();
    EXPECT_EQ(log, GetParam().second);
}

// Runs `action` on the first call of `o` only.
void OnFirst(Nothing& o, std::function<void()> action) {
    o.script = [action](int n) {
        if (n == 1)
            action();
    };
}

const InPassCase kInPassCases[] = {
    {"SubscribeBeforeTheEnd",
     [](Pass& p) { OnFirst(p.o1, [&p] { p.notifier.subscribe(&p.o4); }); },
     {"o1", "o2", "o3", "o4"},
     {"o1", "o2", "o3", "o4"}},
    {"SubscribeAtTheLast",
     [](Pass& p) { OnFirst(p.o3, [&p] { p.notifier.subscribe(&p.o4); }); },
     {"o1", "o2", "o3", "o4"},
     {"o1", "o2", "o3", "o4"}},
    {"UnsubscribeTheNext",
     [](Pass& p) { OnFirst(p.o1, [&p] { p.notifier.unsubscribe(&p.o2); }); },
     {"o1", "o3"},
     {"o1", "o3"}},
    {"UnsubscribeTheHeadFromTheMiddle",
     [](Pass& p) { OnFirst(p.o2, [&p] { p.notifier.unsubscribe(&p.o1); }); },
     {"o1", "o2", "o3"},
     {"o2", "o3"}},
    {"UnsubscribeOneself",
     [](Pass& p) { OnFirst(p.o2, [&p] { p.notifier.unsubscribe(&p.o2); }); },
     {"o1", "o2", "o3"},
     {"o1", "o3"}},
    {"UnsubscribeOneselfAsTheHead",
     [](Pass& p) { OnFirst(p.o1, [&p] { p.notifier.unsubscribe(&p.o1); }); },
     {"o1", "o2", "o3"},
     {"o2", "o3"}},
    {"UnsubscribeOneselfAsTheLastThenSubscribeAnother",
     [](Pass& p) {
         OnFirst(p.o3, [&p] {
             p.notifier.unsubscribe(&p.o3);
             p.notifier.subscribe(&p.o4);
         });
     },
     {"o1", "o2", "o3", "o4"},
     {"o1", "o2", "o4"}},
    {"NotifyRestartsThePass",
     [](Pass& p) { OnFirst(p.o2, [&p] { p.notifier.notify(); }); },
     {"o1", "o2", "o1", "o2", "o3"},
     {"o1", "o2", "o3"}},
    {"NotifyThenUnsubscribeTheHead",
     [](Pass& p) {
         OnFirst(p.o2, [&p] {
             p.notifier.notify();
             p.notifier.unsubscribe(&p.o1);
         });
     },
     {"o1", "o2", "o2", "o3"},
     {"o2", "o3"}},
    {"ResetAnotherObserver",
     [](Pass& p) { OnFirst(p.o1, [&p] { p.o3.reset(); }); },
     {"o1", "o2"},
     {"o1", "o2"}},
    {"UnsubscribeEveryone",
     [](Pass& p) {
         OnFirst(p.o2, [&p] {
             for (Nothing* o : {&p.o1, &p.o2, &p.o3})
                 p.notifier.unsubscribe(o);
         });
     },
     {"o1", "o2"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Changes, InPass, ::testing::ValuesIn(kInPassCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pass, UnsubscribingTheOnlyOtherObserverEndsThePass) {
    notifier.subscribe(&o1);
    notifier.subscribe(&o2);
    OnFirst(o1, [this] { notifier.unsubscribe(&o2); });
    notifier.notify();
    EXPECT_EQ(log, (CallLog{"o1"}));
}

TEST_F(Pass, AnObserverThatAlwaysNotifiesKeepsThePassGoing) {
    SubscribeAll();
    // o2 notifies on each of its first five calls; o3 is reached only once
    // o2 stops.
    o2.script = [this](int n) {
        if (n <= 5)
            notifier.notify();
    };
    notifier.notify();
    EXPECT_EQ(o1.payloads.size(), 6u);
    EXPECT_EQ(o2.payloads.size(), 6u);
    EXPECT_EQ(o3.payloads.size(), 1u);
    EXPECT_EQ(log.back(), "o3");
}

TEST_F(Pass, NestedPayloadIsNotDeliveredTheRunningOneIs) {
    SubscribeAll();
    CKesNothing outer, inner;
    OnFirst(o3, [&] { notifier.notify(inner); });
    notifier.notify(outer);
    EXPECT_EQ(o1.payloads, (std::vector<const void*>{&outer, &outer}));
}

TEST_F(Pass, ObserverOnThreeNotifiersUsesItsEmbeddedAtomAndTwoElements) {
    Notifier n1, n2, n3, n4;
    int before = ElementAllocations();
    n1.subscribe(&o1);
    EXPECT_EQ(ElementAllocations() - before, 0);  // the embedded atom
    n2.subscribe(&o1);
    n3.subscribe(&o1);
    EXPECT_EQ(ElementAllocations() - before, 2);
    for (Notifier* n : {&n1, &n2, &n3})
        n->notify();
    EXPECT_EQ(log, (CallLog{"o1", "o1", "o1"}));
    // Leaving the first notifier frees the embedded atom for the fourth.
    n1.unsubscribe(&o1);
    EXPECT_TRUE(n1.isEmpty());
    before = ElementAllocations();
    n4.subscribe(&o1);
    EXPECT_EQ(ElementAllocations() - before, 0);
    log.clear();
    for (Notifier* n : {&n1, &n2, &n3, &n4})
        n->notify();
    EXPECT_EQ(log, (CallLog{"o1", "o1", "o1"}));
    o1.reset();
    for (Notifier* n : {&n1, &n2, &n3, &n4})
        EXPECT_TRUE(n->isEmpty());
    EXPECT_EQ(o1.hooks, "+++-+---");
}

TEST_F(Pass, DestroyingASubscribedObserverUnsubscribesItEverywhere) {
    Notifier n1, n2, n3;
    n1.subscribe(&o1);
    {
        Nothing doomed("doomed", log);
        for (Notifier* n : {&n1, &n2, &n3})
            n->subscribe(&doomed);
        n2.subscribe(&doomed);  // twice on one notifier
        n3.subscribe(&o2);
    }
    EXPECT_TRUE(n2.isEmpty());
    for (Notifier* n : {&n1, &n2, &n3})
        n->notify();
    EXPECT_EQ(log, (CallLog{"o1", "o2"}));
}

TEST_F(Pass, AnObserverMayDeleteItselfInsideItsCall) {
    auto* self = new Nothing("self", log);
    notifier.subscribe(&o1);
    notifier.subscribe(self);
    notifier.subscribe(self);
    notifier.subscribe(&o2);
    self->script = [self](int) { delete self; };
    notifier.notify();
    EXPECT_EQ(log, (CallLog{"o1", "self", "o2"}));
}

TEST_F(Pass, ExceptionFromAnObserverLeavesTheNotifierUsable) {
    SubscribeAll();
    o2.script = [](int n) {
        if (n == 1)
            throw std::runtime_error("observer failed");
    };
    EXPECT_THROW(notifier.notify(), std::runtime_error);
    EXPECT_EQ(log, (CallLog{"o1", "o2"}));
    log.clear();
    // Not taken for a nested request: a full pass, and other threads get the
    // lock.
    notifier.notify();
    EXPECT_EQ(log, (CallLog{"o1", "o2", "o3"}));
    std::thread other([this] { notifier.subscribe(&o4); });
    other.join();
    log.clear();
    notifier.notify();
    EXPECT_EQ(log, (CallLog{"o1", "o2", "o3", "o4"}));
}

TEST_F(Pass, FailedAllocationLinksNothingAndIsReported) {
    Notifier other;
    ASSERT_EQ(other.subscribe(&o1), S_OK);  // embedded atom in use
    FailNextElement() = true;
    EXPECT_EQ(notifier.subscribe(&o1), E_OUTOFMEMORY);
    FailNextElement() = false;
    EXPECT_TRUE(notifier.isEmpty());
    notifier.notify();
    EXPECT_TRUE(log.empty());
    // Nothing half-linked: the observer's lists still work.
    EXPECT_EQ(notifier.subscribe(&o1), S_OK);
    notifier.notify();
    other.notify();
    EXPECT_EQ(log, (CallLog{"o1", "o1"}));
    o1.reset();
    EXPECT_TRUE(notifier.isEmpty());
    EXPECT_TRUE(other.isEmpty());
}

TEST_F(Pass, NullObserverIsRefused) {
    EXPECT_EQ(notifier.subscribe(nullptr), E_POINTER);
    EXPECT_EQ(notifier.unsubscribe(nullptr), E_POINTER);
    EXPECT_TRUE(notifier.isEmpty());
}

}  // namespace
