// Misuse is reported by assertions with fixed texts; the reports are made
// fatal (DOV_HALT_ASSERTIONS) in a child process to read them. Without the
// switch the assertion returns and the misuse changes nothing.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

using namespace obstest;

struct MisuseCase {
    const char* name;
    std::function<void()> misuse;
    const char* report;  // regular expression for the fatal report
};

void DestroyLinkedAtom() {
    CallLog log;
    Nothing o("o", log);
    Notifier n;
    CMyKesCallbackAtom* list = nullptr;
    auto* atom = new CMyKesCallbackAtom(o);
    atom->addNotifierList(n, list);
    delete atom;
}

void DestroyElementInItsList() {
    CallLog log;
    Nothing o("o", log);
    CMyKesCallbackElement* head = nullptr;
    auto* element = new CMyKesCallbackElement(o);
    element->addCallBackList(o, head);
    delete element;
}

void ElementJoinsAnotherObserversList() {
    CallLog log;
    Nothing o("o", log), p("p", log);
    CMyKesCallbackElement* head = nullptr;
    CMyKesCallbackElement element(o);
    element.addCallBackList(p, head);
}

void LinkTwice() {
    CallLog log;
    Nothing o("o", log);
    Notifier n;
    CMyKesCallbackAtom* list = nullptr;
    CMyKesCallbackAtom atom(o);
    atom.addNotifierList(n, list);
    atom.addNotifierList(n, list);
}

void UnlinkFromTheWrongNotifier() {
    CallLog log;
    Nothing o("o", log);
    Notifier n, m;
    CMyKesCallbackAtom* list = nullptr;
    CMyKesCallbackAtom atom(o);
    atom.addNotifierList(n, list);
    atom.removeNotifierList(m, list);
}

void NeighbourOfAnUnlinkedAtom() {
    CallLog log;
    Nothing o("o", log);
    CMyKesCallbackAtom atom(o);
    atom.nextNotifierAtom();
}

void UnsubscribeAStranger() {
    CallLog log;
    Nothing o("o", log);
    Notifier n;
    n.unsubscribe(&o);
}

void EnableAnOpenGate() {
    Gated g;
    g.enable();
}

void DestroyANotifierWithASubscriber() {
    CallLog log;
    Nothing o("o", log);
    auto* n = new Notifier;
    n->subscribe(&o);
    delete n;
}

void DestroyANotifierInsideItsPass() {
    CallLog log;
    Nothing o("o", log);
    auto* n = new Notifier;
    n->subscribe(&o);
    o.script = [n, &o](int) {
        o.reset();
        delete n;
    };
    n->notify();
}

void SubscribeNull() {
    Notifier n;
    n.subscribe(nullptr);
}

const MisuseCase kCases[] = {
    {"DestroyLinkedAtom", DestroyLinkedAtom,
     "kes/observer/mykescallbackatom, line [0-9]+:\r\nmyNotifier == 0"},
    {"DestroyElementInItsList", DestroyElementInItsList,
     "kes/observer/mykescallbackelement, line [0-9]+:\r\nmyPrevCallBackElementP == 0"},
    {"ElementJoinsAnotherObserversList", ElementJoinsAnotherObserversList,
     "kes/observer/mykescallbackelement, line [0-9]+:\r\n&theCallBack == &myCallBack"},
    {"LinkTwice", LinkTwice, "kes/observer/mykescallbackatom, line [0-9]+:\r\nmyNotifier == 0"},
    {"UnlinkFromTheWrongNotifier", UnlinkFromTheWrongNotifier,
     "kes/observer/mykescallbackatom, line [0-9]+:\r\nmyNotifier == &theNotifier"},
    {"NeighbourOfAnUnlinkedAtom", NeighbourOfAnUnlinkedAtom,
     "kes/observer/mykescallbackatom, line [0-9]+:\r\nmyNotifier != 0"},
    {"UnsubscribeAStranger", UnsubscribeAStranger,
     "kes/observer/kesobserverab, line [0-9]+:\r\nfalse"},
    {"EnableAnOpenGate", EnableAnOpenGate,
     "kes/observer/kesgatednotifierb, line [0-9]+:\r\nm_DisableCount > 0"},
    {"DestroyANotifierWithASubscriber", DestroyANotifierWithASubscriber,
     "kes/observer/kesnotifierb, line [0-9]+:\r\nmyAtomList == 0"},
    {"DestroyANotifierInsideItsPass", DestroyANotifierInsideItsPass,
     "kes/observer/kesnotifierb, line [0-9]+:\r\ncurrentAtom == 0"},
    {"SubscribeNull", SubscribeNull, "kes/observer/kesnotifierb, line [0-9]+:\r\ntheObserver != 0"},
};

class MisuseDeathTest : public ::testing::TestWithParam<MisuseCase> {};

TEST_P(MisuseDeathTest, ReportsItsCondition) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DOV_HALT_ASSERTIONS", "1", 1);
            GetParam().misuse();
        },
        ::testing::ExitedWithCode(255), GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(Observer, MisuseDeathTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Without the switch: the misuse is reported and the program goes on.
TEST(Misuse, UnsubscribingAStrangerChangesNothing) {
    CallLog log;
    Nothing o("o", log), stranger("s", log);
    Notifier n;
    n.subscribe(&o);
    EXPECT_EQ(n.unsubscribe(&stranger), S_OK);
    n.notify();
    EXPECT_EQ(log, (CallLog{"o"}));
    n.unsubscribe(&o);
}

TEST(Misuse, ANotifierDestroyedWithSubscribersLetsThemGo) {
    CallLog log;
    Nothing o("o", log);
    auto* n = new Notifier;
    auto* m = new Notifier;
    n->subscribe(&o);
    n->subscribe(&o);
    m->subscribe(&o);
    delete n;  // reported; o no longer points at it
    m->notify();
    EXPECT_EQ(log, (CallLog{"o"}));
    EXPECT_EQ(o.hooks, "+++--");
    o.reset();  // would reach the dead notifier otherwise
    EXPECT_TRUE(m->isEmpty());
    delete m;
}

}  // namespace
