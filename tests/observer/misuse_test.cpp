// Misuse is reported by assertions with fixed texts; the reports are made fatal
// (DOV_HALT_ASSERTIONS) in a child process to read them. Without the switch
// the assertion returns and the misuse changes nothing.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

using namespace obstest;

// What a misuse works with; building it reports nothing.
struct Scene {
    CallLog log;
    Nothing o{"o", log}, p{"p", log};
    Notifier n, m;
    CMyKesCallbackAtom* list = nullptr;
    CMyKesCallbackElement* head = nullptr;
};

struct MisuseCase {
    const char* name;
    std::function<void(Scene&)> misuse;
    const char* report;  // regular expression for the fatal report
};

#define REPORT(file, condition) "kes/observer/" file ", line [0-9]+:\r\n" condition

const MisuseCase kCases[] = {
    {"DestroyLinkedAtom",
     [](Scene& s) {
         auto* atom = new CMyKesCallbackAtom(s.o);
         atom->addNotifierList(s.n, s.list);
         delete atom;
     },
     REPORT("mykescallbackatom", "myNotifier == 0")},
    {"DestroyElementInItsList",
     [](Scene& s) {
         auto* element = new CMyKesCallbackElement(s.o);
         element->addCallBackList(s.o, s.head);
         delete element;
     },
     REPORT("mykescallbackelement", "myPrevCallBackElementP == 0")},
    {"ElementJoinsAnotherObserversList",
     [](Scene& s) { CMyKesCallbackElement(s.o).addCallBackList(s.p, s.head); },
     REPORT("mykescallbackelement", "&theCallBack == &myCallBack")},
    {"LinkTwice",
     [](Scene& s) {
         CMyKesCallbackAtom atom(s.o);
         atom.addNotifierList(s.n, s.list);
         atom.addNotifierList(s.n, s.list);
     },
     REPORT("mykescallbackatom", "myNotifier == 0")},
    {"UnlinkFromTheWrongNotifier",
     [](Scene& s) {
         CMyKesCallbackAtom atom(s.o);
         atom.addNotifierList(s.n, s.list);
         atom.removeNotifierList(s.m, s.list);
     },
     REPORT("mykescallbackatom", "myNotifier == &theNotifier")},
    {"NeighbourOfAnUnlinkedAtom", [](Scene& s) { CMyKesCallbackAtom(s.o).nextNotifierAtom(); },
     REPORT("mykescallbackatom", "myNotifier != 0")},
    {"UnsubscribeAStranger", [](Scene& s) { s.n.unsubscribe(&s.o); },
     REPORT("kesobserverab", "false")},
    {"EnableAnOpenGate", [](Scene&) { Gated().enable(); },
     REPORT("kesgatednotifierb", "m_DisableCount > 0")},
    {"DestroyANotifierWithASubscriber",
     [](Scene& s) {
         auto* n = new Notifier;
         n->subscribe(&s.o);
         delete n;
     },
     REPORT("kesnotifierb", "myAtomList == 0")},
    {"DestroyANotifierInsideItsPass",
     [](Scene& s) {
         auto* n = new Notifier;
         n->subscribe(&s.o);
         s.o.script = [n, &s](int) {
             s.o.reset();
             delete n;
         };
         n->notify();
     },
     REPORT("kesnotifierb", "currentAtom == 0")},
    {"SubscribeNull", [](Scene& s) { s.n.subscribe(nullptr); },
     REPORT("kesnotifierb", "theObserver != 0")},
};

class MisuseDeathTest : public ::testing::TestWithParam<MisuseCase> {};

TEST_P(MisuseDeathTest, ReportsItsCondition) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DOV_HALT_ASSERTIONS", "1", 1);
            Scene scene;
            GetParam().misuse(scene);
        },
        ::testing::ExitedWithCode(255), GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(Observer, MisuseDeathTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Misuse, WithoutTheSwitchAStrangerOrADestroyedNotifierChangesNothing) {
    Scene s;
    Nothing stranger("s", s.log);
    auto* doomed = new Notifier;
    s.n.subscribe(&s.o);
    EXPECT_EQ(s.n.unsubscribe(&stranger), S_OK);
    doomed->subscribe(&s.o);
    doomed->subscribe(&s.o);
    delete doomed;  // reported; it let its subscribers go
    s.n.notify();
    EXPECT_EQ(s.log, (CallLog{"o"}));
    EXPECT_EQ(s.o.hooks, "+++--");
    s.o.reset();  // would reach the dead notifier otherwise
    EXPECT_TRUE(s.n.isEmpty());
}

}  // namespace
