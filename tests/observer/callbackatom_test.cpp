// The two link classes on their own: circular notifier lists and the
// observer's element list.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace obstest;

// Walks a circular list from its head both ways; each walk stops at the head
// or after 10 steps (a broken ring).
std::vector<CMyKesCallbackAtom*> Forward(CMyKesCallbackAtom* head) {
    std::vector<CMyKesCallbackAtom*> seen;
    for (CMyKesCallbackAtom* at = head; at != nullptr && seen.size() < 10;) {
        seen.push_back(at);
        at = at->nextNotifierAtom();
        if (at == head)
            break;
    }
    return seen;
}

std::vector<CMyKesCallbackAtom*> Backward(CMyKesCallbackAtom* head) {
    std::vector<CMyKesCallbackAtom*> seen;
    for (CMyKesCallbackAtom* at = head; at != nullptr && seen.size() < 10;) {
        seen.push_back(at);
        at = at->prevNotifierAtom();
        if (at == head)
            break;
    }
    return seen;
}

class AtomLists : public ::testing::Test {
  protected:
    CallLog log;
    Nothing observer{"o", log};
    Notifier notifier;  // only an identity here: its own list stays empty
    Notifier other;
};

TEST_F(AtomLists, AtomsLinkAtTheTailAndFormARing) {
    CMyKesCallbackAtom a1(observer), a2(observer), a3(observer);
    CMyKesCallbackAtom* list = nullptr;
    a1.addNotifierList(notifier, list);
    EXPECT_EQ(list, &a1);
    EXPECT_EQ(a1.nextNotifierAtom(), &a1);  // alone: its own neighbour both ways
    EXPECT_EQ(a1.prevNotifierAtom(), &a1);
    a2.addNotifierList(notifier, list);
    a3.addNotifierList(notifier, list);
    EXPECT_EQ(list, &a1);
    EXPECT_EQ(Forward(list), (std::vector<CMyKesCallbackAtom*>{&a1, &a2, &a3}));
    EXPECT_EQ(Backward(list), (std::vector<CMyKesCallbackAtom*>{&a1, &a3, &a2}));
    EXPECT_EQ(a2.getNotifier(), &notifier);
    EXPECT_EQ(a2.getCallBack(), &observer);
    for (CMyKesCallbackAtom* atom : {&a1, &a2, &a3})
        atom->removeNotifierList(notifier, list);
    EXPECT_EQ(list, nullptr);
}

// Unlinking each position of a three-atom ring: the remaining ring in both
// directions, and the head.
TEST_F(AtomLists, UnlinkingAnyPositionKeepsTheRingWhole) {
    struct Case {
        int remove;      // index of the atom taken out
        int head;        // index of the head afterwards
        int forward[2];  // the ring from the head
    };
    const Case cases[] = {{0, 1, {1, 2}}, {1, 0, {0, 2}}, {2, 0, {0, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remove);
        CMyKesCallbackAtom atoms[3] = {CMyKesCallbackAtom(observer), CMyKesCallbackAtom(observer),
                                       CMyKesCallbackAtom(observer)};
        CMyKesCallbackAtom* list = nullptr;
        for (auto& atom : atoms)
            atom.addNotifierList(notifier, list);
        atoms[c.remove].removeNotifierList(notifier, list);
        EXPECT_EQ(list, &atoms[c.head]);
        EXPECT_EQ(Forward(list),
                  (std::vector<CMyKesCallbackAtom*>{&atoms[c.forward[0]], &atoms[c.forward[1]]}));
        EXPECT_EQ(Backward(list),
                  (std::vector<CMyKesCallbackAtom*>{&atoms[c.forward[0]], &atoms[c.forward[1]]}));
        EXPECT_EQ(atoms[c.remove].getNotifier(), nullptr);
        // An unlinked atom links again, at the tail.
        atoms[c.remove].addNotifierList(notifier, list);
        EXPECT_EQ(list->prevNotifierAtom(), &atoms[c.remove]);
        for (auto& atom : atoms)
            atom.removeNotifierList(notifier, list);
        EXPECT_EQ(list, nullptr);
    }
}

TEST_F(AtomLists, RefusedLinksAndUnlinksChangeNothing) {
    CMyKesCallbackAtom a1(observer), a2(observer);
    CMyKesCallbackAtom* list = nullptr;
    CMyKesCallbackAtom* otherList = nullptr;
    a1.addNotifierList(notifier, list);
    a2.addNotifierList(notifier, list);
    a2.addNotifierList(other, otherList);     // already linked: "myNotifier == 0"
    a2.removeNotifierList(other, otherList);  // wrong notifier: "myNotifier == &theNotifier"
    EXPECT_EQ(otherList, nullptr);
    EXPECT_EQ(a2.getNotifier(), &notifier);
    EXPECT_EQ(Forward(list), (std::vector<CMyKesCallbackAtom*>{&a1, &a2}));
    a2.removeNotifierList(notifier, list);
    a2.removeNotifierList(notifier, list);  // unlinked: "myNotifier != 0"
    EXPECT_EQ(list, &a1);
    EXPECT_EQ(a1.nextNotifierAtom(), &a1);
    a1.removeNotifierList(notifier, list);
    EXPECT_EQ(list, nullptr);
}

TEST_F(AtomLists, ElementsPushAtTheFrontAndLeaveFromAnyPosition) {
    // Removal order -> the list left after each removal, front first.
    struct Case {
        int order[3];
    };
    const Case cases[] = {{{0, 1, 2}}, {{2, 1, 0}}, {{1, 0, 2}}, {{1, 2, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.order[0] << c.order[1] << c.order[2]);
        CMyKesCallbackElement* e[3] = {new CMyKesCallbackElement(observer),
                                       new CMyKesCallbackElement(observer),
                                       new CMyKesCallbackElement(observer)};
        CMyKesCallbackElement* head = nullptr;
        for (auto* element : e)
            element->addCallBackList(observer, head);
        std::vector<CMyKesCallbackElement*> present{e[2], e[1], e[0]};  // newest first
        for (int index : c.order) {
            e[index]->removeCallBackList(observer);
            present.erase(std::find(present.begin(), present.end(), e[index]));
            std::vector<CMyKesCallbackElement*> walked;
            for (CMyKesCallbackElement* at = head; at != nullptr && walked.size() < 5;
                 at = at->nextCallBackElement())
                walked.push_back(at);
            EXPECT_EQ(walked, present);
            delete e[index];
        }
        EXPECT_EQ(head, nullptr);
    }
}

}  // namespace
