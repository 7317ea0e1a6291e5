// One observer subscribed several times to one notifier, with subscriptions
// removed from inside a pass: the pass visits exactly the subscriptions that
// are still present when it reaches them, and never one that was removed.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace {

using namespace obstest;

// Steps: "+o" subscribes o to the notifier, "-o" unsubscribes it once, "ro"
// resets it, "E" subscribes o elsewhere (so that its embedded atom is taken).
// With `setup` run, observer `who` runs `steps` on its first call of a pass;
// the calls of that pass and of the next.
struct MultiSubCase {
    const char* name;
    const char* setup;
    char who;
    const char* steps;
    const char* first;
    const char* second;
};

class MultiSub : public ::testing::TestWithParam<MultiSubCase> {
  protected:
    CallLog log;
    Nothing x{"x", log}, o{"o", log}, y{"y", log};
    Notifier notifier, elsewhere;

    Nothing& Named(char name) { return name == 'x' ? x : name == 'o' ? o : y; }
    void Apply(const char* steps) {
        for (const std::string& step : Words(steps)) {
            if (step == "E")
                elsewhere.subscribe(&o);
            else if (step[0] == '+')
                notifier.subscribe(&Named(step[1]));
            else if (step[0] == '-')
                notifier.unsubscribe(&Named(step[1]));
            else
                Named(step[1]).reset();
        }
    }
    void TearDown() override {
        for (Nothing* r : {&x, &o, &y})
            r->reset();
    }
};

TEST_P(MultiSub, PassVisitsExactlyTheSubscriptionsStillPresent) {
    const MultiSubCase& c = GetParam();
    Apply(c.setup);
    Named(c.who).script = [this, &c](int n) {
        if (n == 1)
            Apply(c.steps);
    };
    notifier.notify();
    EXPECT_EQ(log, Words(c.first));
    log.clear();
    Named(c.who).script = nullptr;
    notifier.notify();
    EXPECT_EQ(log, Words(c.second));
}

const MultiSubCase kMultiSubCases[] = {
    // x, e1, e2: x takes o's newest subscription e2, not the next one e1.
    {"RemovingANewerSubscriptionThanTheNextOne", "E +x +o +o", 'x', "-o", "x o", "x o"},
    // x, e, a: the embedded atom a, freed and reused, goes while the pass is due at e.
    {"RemovingTheReusedEmbeddedAtomBehindTheNextOne", "+x +o +o -o +o", 'x', "-o", "x o", "x o"},
    // e1, e2, y: o, called through e1, takes e2, the one the pass would visit next.
    {"RemovingOnesOwnNextSubscription", "E +o +o +y", 'o', "-o", "o y", "o y"},
    {"RemovingAllOfOnesSubscriptions", "+o +o +y", 'o', "-o -o", "o y", "y"},
    {"ResettingAnObserverWithThreeSubscriptionsAhead", "+x +o +o +o +y", 'x', "ro", "x y", "x y"},
    // a, x, e: one unsubscription takes the embedded atom only.
    {"EachSubscriptionIsOneCallAndNeedsOneUnsubscription", "+o +x +o", 'x', "-o", "o x o", "x o"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MultiSub, ::testing::ValuesIn(kMultiSubCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Random scripts over five observers, each possibly subscribed several times
// to two notifiers: observers subscribe, unsubscribe and reset each other,
// delete themselves and notify (either notifier) from inside their calls. Every call must
// reach a live observer with at least one subscription to the calling
// notifier at that moment (the address sanitizer watches for a pass stepping
// on a deleted element); after each round a quiet pass must call every
// subscription exactly once.
class Tracked : public CKesObserverB<CKesNothing> {
  public:
    static constexpr unsigned kAlive = 0xA11FEu;
    explicit Tracked(std::function<void(Tracked&, const CKesNotifierB*)>& theScript)
        : myScript(theScript) {}
    ~Tracked() override {
        reset();
        myMagic = 0;
    }
    int count(const CKesNotifierB* n) const { return n == myFirst ? myOnFirst : myOnSecond; }
    void bind(const CKesNotifierB* first) { myFirst = first; }
    int calls = 0;
    bool quiet = true;

  protected:
    void doCall(const void* theData) override {
        const auto* notifier = static_cast<const CKesNotifierB*>(theData);
        EXPECT_EQ(myMagic, kAlive);
        EXPECT_GT(count(notifier), 0);
        ++calls;
        if (!quiet)
            myScript(*this, notifier);
    }

  private:
    void doSubscribe(CKesNotifierB& n) override { ++(&n == myFirst ? myOnFirst : myOnSecond); }
    void doUnsubscribe(CKesNotifierB& n) override { --(&n == myFirst ? myOnFirst : myOnSecond); }

    unsigned myMagic = kAlive;
    const CKesNotifierB* myFirst = nullptr;
    int myOnFirst = 0;
    int myOnSecond = 0;
    std::function<void(Tracked&, const CKesNotifierB*)>& myScript;
};

// A notifier whose payload is its own address, so observers know who calls.
class SelfNotifier : public CKesNotifier<CKesNothing> {
  public:
    void fire() const { CKesNotifierB::sendNotification(static_cast<const CKesNotifierB*>(this)); }
};

TEST(MultiSubRandom, ArbitraryChangesInsidePassesKeepEveryCallValid) {
    std::mt19937 random(20240611);
    SelfNotifier notifiers[2];
    std::function<void(Tracked&, const CKesNotifierB*)> script;
    std::unique_ptr<Tracked> observers[5];
    auto make = [&](int i) {
        observers[i] = std::make_unique<Tracked>(script);
        observers[i]->bind(&notifiers[0]);
    };
    for (int i = 0; i < 5; ++i)
        make(i);
    int nestedBudget = 0;

    auto pick = [&](int n) { return static_cast<int>(random() % n); };
    auto unsubscribeFrom = [&](Tracked& t, SelfNotifier& n) {
        if (t.count(&n) > 0)
            n.unsubscribe(&t);
    };
    script = [&](Tracked& self, const CKesNotifierB* caller) {
        SelfNotifier& here = caller == &notifiers[0] ? notifiers[0] : notifiers[1];
        Tracked& other = *observers[pick(5)];
        SelfNotifier& there = &here == &notifiers[0] ? notifiers[1] : notifiers[0];
        const int action = pick(10);
        if (action <= 1) {
            here.subscribe(action == 0 ? &other : &self);
        } else if (action <= 3) {
            unsubscribeFrom(action == 2 ? other : self, here);
        } else if (action == 4) {
            other.reset();
        } else if ((action == 5 || action == 7) && nestedBudget > 0) {
            --nestedBudget;  // a nested pass of this notifier, or a whole one of the other
            (action == 5 ? here : there).fire();
        } else if (action == 6) {  // delete oneself; a fresh observer takes the slot
            for (int i = 0; i < 5; ++i) {
                if (observers[i].get() == &self) {
                    observers[i].release();
                    delete &self;
                    make(i);
                    observers[i]->quiet = false;
                    return;
                }
            }
        }
    };

    const int rounds = 3000;
    for (int round = 0; round < rounds; ++round) {
        // Random starting subscriptions: 0 to 3 per observer and notifier.
        for (auto& t : observers)
            for (auto& n : notifiers)
                for (int k = pick(4); k > 0; --k)
                    n.subscribe(t.get());
        for (auto& t : observers)
            t->quiet = false;
        nestedBudget = 3;
        notifiers[pick(2)].fire();
        for (auto& t : observers) {
            t->quiet = true;
            t->calls = 0;
        }
        // Quiet passes: exactly one call per subscription.
        for (auto& n : notifiers) {
            n.fire();
            for (auto& t : observers)
                ASSERT_EQ(t->calls, t->count(&n)) << "round " << round;
            for (auto& t : observers)
                t->calls = 0;
        }
        for (auto& t : observers)
            t->reset();
        for (auto& n : notifiers)
            ASSERT_TRUE(n.isEmpty());
    }
}

}  // namespace
