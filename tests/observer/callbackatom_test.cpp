// The two link classes on their own: circular notifier lists and the
// observer's element list.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace obstest;
using Atoms = std::vector<CMyKesCallbackAtom*>;

// Walks a circular list from its head, forward or backward; stops at the head
// or after 10 steps (a broken ring).
Atoms Walk(CMyKesCallbackAtom* head, bool forward) {
    Atoms seen;
    for (CMyKesCallbackAtom* at = head; at != nullptr && seen.size() < 10;) {
        seen.push_back(at);
        at = forward ? at->nextNotifierAtom() : at->prevNotifierAtom();
        if (at == head)
            break;
    }
    return seen;
}

class AtomLists : public ::testing::Test {
  protected:
    CallLog log;
    Nothing observer{"o", log};
    Notifier notifier, other;  // identities only: their own lists stay empty
};

// Atoms link at the tail; unlinking any position keeps the ring whole both
// ways and moves the head on when it goes; an unlinked atom links again.
TEST_F(AtomLists, RingStaysWholeWhicheverPositionIsUnlinked) {
    for (int remove = 0; remove < 3; ++remove) {
        SCOPED_TRACE(remove);
        CMyKesCallbackAtom atoms[3] = {CMyKesCallbackAtom(observer), CMyKesCallbackAtom(observer),
                                       CMyKesCallbackAtom(observer)};
        CMyKesCallbackAtom* list = nullptr;
        atoms[0].addNotifierList(notifier, list);
        EXPECT_EQ(Walk(list, false), Atoms{&atoms[0]});  // alone: its own neighbour
        atoms[1].addNotifierList(notifier, list);
        atoms[2].addNotifierList(notifier, list);
        EXPECT_EQ(Walk(list, true), (Atoms{&atoms[0], &atoms[1], &atoms[2]}));
        EXPECT_EQ(Walk(list, false), (Atoms{&atoms[0], &atoms[2], &atoms[1]}));
        EXPECT_EQ(atoms[1].getNotifier(), &notifier);
        EXPECT_EQ(atoms[1].getCallBack(), &observer);

        atoms[remove].removeNotifierList(notifier, list);
        Atoms left;
        for (int i = 0; i < 3; ++i)
            if (i != remove)
                left.push_back(&atoms[i]);
        EXPECT_EQ(Walk(list, true), left);
        EXPECT_EQ(Walk(list, false), (Atoms{left[0], left[1]}));  // two: both ways alike
        EXPECT_EQ(atoms[remove].getNotifier(), nullptr);
        atoms[remove].addNotifierList(notifier, list);
        EXPECT_EQ(list->prevNotifierAtom(), &atoms[remove]);
        for (auto& atom : atoms)
            atom.removeNotifierList(notifier, list);
        EXPECT_EQ(list, nullptr);
    }
}

// Reported misuse ("myNotifier == 0", "myNotifier == &theNotifier",
// "myNotifier != 0"), after which nothing has changed.
TEST_F(AtomLists, RefusedLinksAndUnlinksChangeNothing) {
    CMyKesCallbackAtom a1(observer), a2(observer);
    CMyKesCallbackAtom* list = nullptr;
    CMyKesCallbackAtom* otherList = nullptr;
    a1.addNotifierList(notifier, list);
    a2.addNotifierList(notifier, list);
    a2.addNotifierList(other, otherList);     // already linked
    a2.removeNotifierList(other, otherList);  // the wrong notifier
    EXPECT_EQ(otherList, nullptr);
    EXPECT_EQ(a2.getNotifier(), &notifier);
    EXPECT_EQ(Walk(list, true), (Atoms{&a1, &a2}));
    a2.removeNotifierList(notifier, list);
    a2.removeNotifierList(notifier, list);  // no longer linked
    EXPECT_EQ(Walk(list, true), Atoms{&a1});
    a1.removeNotifierList(notifier, list);
    EXPECT_EQ(list, nullptr);
}

TEST_F(AtomLists, ElementsPushAtTheFrontAndLeaveFromAnyPosition) {
    for (auto order : {std::vector<int>{0, 1, 2}, {2, 1, 0}, {1, 0, 2}, {1, 2, 0}}) {
        SCOPED_TRACE(testing::Message() << order[0] << order[1] << order[2]);
        CMyKesCallbackElement* e[3];
        CMyKesCallbackElement* head = nullptr;
        for (auto*& element : e) {
            element = new CMyKesCallbackElement(observer);
            element->addCallBackList(observer, head);
        }
        std::vector<CMyKesCallbackElement*> present{e[2], e[1], e[0]};  // newest first
        for (int index : order) {
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
