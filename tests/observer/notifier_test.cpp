// Notification passes: order, payloads, return values, and subscription
// changes made from inside a pass.
#include "observer_support.h"

#include <gtest/gtest.h>

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

TEST_F(Pass, ObserversAreCalledInSubscriptionOrderWithThePayloadPointer) {
    EXPECT_TRUE(notifier.isEmpty());
    notifier.notify();  // nobody to call
    SubscribeAll();
    notifier.notify();
    CKesNothing payload;
    notifier.notify(payload);
    EXPECT_EQ(log, (CallLog{"o1", "o2", "o3", "o1", "o2", "o3"}));
    EXPECT_EQ(o2.payloads, (std::vector<const void*>{nullptr, &payload}));
}

TEST_F(Pass, TypedPayloadArrivesByAddressAndCallNeedsNoNotifier) {
    CKesNotifier<int> ints;
    Recorder<int> r("r", log);
    ASSERT_EQ(ints.subscribe(&r), S_OK);
    int value = 42;
    ints.notify(value);
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

// Runs steps on the fixture: "+4" subscribes o4, "-2" unsubscribes o2, "r3"
// resets o3, "n" notifies.
void Apply(Pass& p, const char* steps) {
    Nothing* const all[] = {nullptr, &p.o1, &p.o2, &p.o3, &p.o4};
    for (const std::string& step : Words(steps)) {
        Nothing* o = step.size() > 1 ? all[step[1] - '0'] : nullptr;
        switch (step[0]) {
            case '+':
                p.notifier.subscribe(o);
                break;
            case '-':
                p.notifier.unsubscribe(o);
                break;
            case 'r':
                o->reset();
                break;
            default:
                p.notifier.notify();
                break;
        }
    }
}

// With o1..o3 subscribed and `before` run, observer `who` runs `steps` on each
// of its first `times` calls of a pass; the calls of that pass and of the next.
struct InPassCase {
    const char* name;
    const char* before;
    int who, times;
    const char* steps;
    const char* first;
    const char* second;
};

class InPass : public Pass, public ::testing::WithParamInterface<InPassCase> {};

TEST_P(InPass, PassFollowsTheChange) {
    const InPassCase& c = GetParam();
    SubscribeAll();
    Apply(*this, c.before);
    Nothing* const all[] = {&o1, &o2, &o3};
    all[c.who - 1]->script = [this, &c](int n) {
        if (n <= c.times)
            Apply(*this, c.steps);
    };
    notifier.notify();
    EXPECT_EQ(log, Words(c.first));
    log.clear();
    all[c.who - 1]->script = nullptr;
    notifier.notify();
    EXPECT_EQ(log, Words(c.second));
}

const InPassCase kInPassCases[] = {
    {"SubscribeBeforeTheEnd", "", 1, 1, "+4", "o1 o2 o3 o4", "o1 o2 o3 o4"},
    {"SubscribeAtTheLast", "", 3, 1, "+4", "o1 o2 o3 o4", "o1 o2 o3 o4"},
    {"UnsubscribeTheNext", "", 1, 1, "-2", "o1 o3", "o1 o3"},
    {"UnsubscribeTheHeadFromTheMiddle", "", 2, 1, "-1", "o1 o2 o3", "o2 o3"},
    {"UnsubscribeOneself", "", 2, 1, "-2", "o1 o2 o3", "o1 o3"},
    {"UnsubscribeOneselfAsTheHead", "", 1, 1, "-1", "o1 o2 o3", "o2 o3"},
    {"UnsubscribeOneselfAsTheLastThenSubscribeAnother", "", 3, 1, "-3 +4", "o1 o2 o3 o4",
     "o1 o2 o4"},
    {"UnsubscribeTheOnlyOther", "-3", 1, 1, "-2", "o1", "o1"},
    {"UnsubscribeEveryone", "", 2, 1, "-1 -2 -3", "o1 o2", ""},
    {"ResetAnotherObserver", "", 1, 1, "r3", "o1 o2", "o1 o2"},
    {"NotifyRestartsThePass", "", 2, 1, "n", "o1 o2 o1 o2 o3", "o1 o2 o3"},
    {"NotifyOnEachOfFiveCalls", "", 2, 5, "n", "o1 o2 o1 o2 o1 o2 o1 o2 o1 o2 o1 o2 o3",
     "o1 o2 o3"},
    {"NotifyThenUnsubscribeTheHead", "", 2, 1, "n -1", "o1 o2 o2 o3", "o2 o3"},
};

INSTANTIATE_TEST_SUITE_P(Changes, InPass, ::testing::ValuesIn(kInPassCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pass, NestedPayloadIsNotDeliveredTheRunningOneIs) {
    SubscribeAll();
    CKesNothing outer, inner;
    o3.script = [&](int n) {
        if (n == 1)
            notifier.notify(inner);
    };
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

TEST_F(Pass, FailedAllocationOrANullObserverLinksNothingAndIsReported) {
    EXPECT_EQ(notifier.subscribe(nullptr), E_POINTER);
    EXPECT_EQ(notifier.unsubscribe(nullptr), E_POINTER);
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

}  // namespace
