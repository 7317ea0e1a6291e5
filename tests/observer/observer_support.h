// Observers and helpers shared by the observer framework tests.
#pragma once

#include <kes/observer/kesgatednotifierb.h>
#include <kes/observer/kesnotifierb.h>
#include <kes/observer/kesobserverab.h>
#include <kes/observer/mykescallbackelement.h>

#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace obstest {

// Allocations of an element's size on this thread (environment.cpp), and a
// switch that makes the next such allocation on this thread throw.
int& ElementAllocations();
bool& FailNextElement();

// Names of the observers in the order they were called.
using CallLog = std::vector<std::string>;

// The words of `text`, split at spaces.
inline CallLog Words(const char* text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// An observer that logs its name and the payload pointer at every call, then
// runs its script (if any) with the number of the call, counted from 1.
template <class T>
class Recorder : public CKesObserverB<T> {
  public:
    Recorder(std::string theName, CallLog& theLog) : myName(std::move(theName)), myLog(theLog) {}
    ~Recorder() override { this->reset(); }

    std::function<void(int)> script;
    std::vector<const void*> payloads;
    // Subscription hook calls, in order: "+" or "-".
    std::string hooks;

  protected:
    void doCall(const void* theData) override {
        myLog.push_back(myName);
        payloads.push_back(theData);
        if (script)
            script(static_cast<int>(payloads.size()));
    }

  private:
    void doSubscribe(CKesNotifierB&) override { hooks += '+'; }
    void doUnsubscribe(CKesNotifierB&) override { hooks += '-'; }

    std::string myName;
    CallLog& myLog;
};

using Nothing = Recorder<CKesNothing>;
using Notifier = CKesNotifier<CKesNothing>;
using Gated = CKesGatedNotifier<CKesNothing>;

// Reaches the notifier's protected untyped operations.
template <class Base>
class Exposed : public Base {
  public:
    using Base::sendNotification;
    using Base::subscribeAndTest;
    using Base::unsubscribeAndTest;
};

}  // namespace obstest
