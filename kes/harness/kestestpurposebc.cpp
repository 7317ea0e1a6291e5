#include <kes/harness/kestestpurposebc.h>

#include <kes/harness/kestestcomponentbc.h>

#include <cstdio>
#include <sstream>
#include <string>

KesTestPurposeBC* KesTestPurposeBC::thePurpose = nullptr;
EKesTestResult KesTestPurposeBC::theResult = KesTestResultNone;

namespace {

// The streams handed out by myMakeStream; the distinct type lets
// myRecordFailure refuse (and not delete) any other stream.
class FailureStream : public std::ostringstream {};

const char* printable(const char* theName) {
    return theName != nullptr ? theName : "";
}

}  // namespace

KesTestPurposeBC::KesTestPurposeBC(const char* theName)
    : myNext(nullptr),
      myPrevious(nullptr),
      myName(theName),
      myTestCount(0),
      myFailureCount(0),
      myComponent(nullptr) {}

KesTestPurposeBC::KesTestPurposeBC(const KesTestPurposeBC& theOther)
    : myNext(nullptr),
      myPrevious(nullptr),
      myName(theOther.myName),
      myTestCount(theOther.myTestCount),
      myFailureCount(theOther.myFailureCount),
      myComponent(theOther.myComponent) {}

KesTestPurposeBC::~KesTestPurposeBC() {}

const char* KesTestPurposeBC::getName() const {
    return myName;
}

int KesTestPurposeBC::result() {
    return theResult == KesTestResultPassed ? 0 : -1;
}

bool KesTestPurposeBC::myTestCase(bool passed) {
    if (thePurpose != nullptr) {
        ++thePurpose->myTestCount;
        if (!passed)
            ++thePurpose->myFailureCount;
    }
    if (!passed) {
        theResult = KesTestResultFailed;
    } else if (theResult == KesTestResultNone) {
        theResult = KesTestResultPassed;
    }
    return passed;
}

std::ostream& KesTestPurposeBC::myMakeStream(const char* theFile, unsigned int theLine) {
    FailureStream* stream = new FailureStream;  // destroyed by myRecordFailure
    const char* purpose = thePurpose != nullptr ? printable(thePurpose->myName) : "(no purpose)";
    *stream << printable(theFile) << " " << theLine << " - " << purpose << " - ";
    return *stream;
}

void KesTestPurposeBC::myRecordFailure(std::ostream& theStream) {
    FailureStream* stream = dynamic_cast<FailureStream*>(&theStream);
    if (stream == nullptr)
        return;
    std::string text = stream->str();
    delete stream;
    std::fprintf(stderr, "%s\n", text.c_str());
}

void KesTestPurposeBC::initialise() {
    KesTestPurposeBC* copy = clone();
    KesTestComponentBC* component = KesTestComponentBC::registerPurpose(copy);
    if (component == nullptr) {
        delete copy;
        theResult = KesTestResultFailed;
        std::fprintf(stderr, "No test component for test purpose %s\n", printable(myName));
        return;
    }
    copy->myComponent = component;
}

void KesTestPurposeBC::appendList(KesTestPurposeBC*& theList) {
    if (theList == nullptr) {
        myNext = myPrevious = this;
        theList = this;
        return;
    }
    myNext = theList;
    myPrevious = theList->myPrevious;
    myPrevious->myNext = this;
    theList->myPrevious = this;
}

KesTestPurposeBC* KesTestPurposeBC::next() const {
    return myNext;
}

void KesTestPurposeBC::executeTest() {
    thePurpose = this;
    std::fprintf(stderr, "\n%s %s\n", printable(myComponent->getName()), printable(myName));
    runTest();
    thePurpose = nullptr;
}

void KesTestPurposeBC::printResults() {
    std::fprintf(stderr, "  %-48s  %lu/%lu\n", printable(myName),
                 static_cast<unsigned long>(myTestCount - myFailureCount),
                 static_cast<unsigned long>(myTestCount));
}
