// KesTestPurposeBC: one test purpose of a component in a harness test program.
//
// A derived class implements runTest() (the test body) and clone() (a heap
// copy made with the protected copy constructor), and calls initialise() at
// the end of its own constructor: that registers a clone with the component
// constructed last, so components must be constructed before their purposes.
// The object initialise() was called on stays outside every list; the clone
// is the one that runs and is owned by the component.
//
// A test body checks each condition with myTestCase() and reports a failure
// through a stream from myMakeStream():
//
//   if (!myTestCase(value == 3)) {
//       myRecordFailure(myMakeStream(__FILE__, __LINE__) << "value is " << value);
//   }
//
// which prints "<file> <line> - <purpose> - value is 4" on standard error.
//
// Single-threaded: a test body that starts threads calls these operations only
// from the thread running runTest().
#pragma once

#include <host/types.h>
#include <kes/export.h>

#include <ostream>

class KesTestComponentBC;

// The verdict of the test run so far.
enum EKesTestResult {
    KesTestResultNone = 0,    // no test case has run
    KesTestResultFailed = 1,  // a test case failed; never overturned
    KesTestResultPassed = 2,  // test cases ran and none failed
};

class KES_API KesTestPurposeBC {
  public:
    // The purpose whose test body runs now; null outside a test body.
    static KesTestPurposeBC* thePurpose;
    // The verdict so far.
    static EKesTestResult theResult;

    // Name stored (not copied: it must outlive the object); counts 0; not in
    // any list, no component.
    explicit KesTestPurposeBC(const char* theName);
    // Does not unlink: the owning component deletes its purposes.
    virtual ~KesTestPurposeBC();

    KesTestPurposeBC& operator=(const KesTestPurposeBC&) = delete;

    const char* getName() const;

    // 0 when test cases ran and none failed, otherwise -1 (also when no test
    // case ran at all). As an exit status, -1 reads as 255.
    static int result();

    // Counts one test case of the running purpose, and a failure when
    // `passed` is false; returns `passed`. Outside a test body only the
    // verdict is updated.
    static bool myTestCase(bool passed);
    // A new failure text stream, already holding
    // "<file> <line> - <purpose name> - ". Hand it to myRecordFailure.
    // Outside a test body the purpose name reads "(no purpose)".
    static std::ostream& myMakeStream(const char* theFile, unsigned int theLine);
    // Prints the text of a stream from myMakeStream as one line and destroys
    // the stream. A stream that did not come from myMakeStream is left alone
    // and nothing is printed.
    static void myRecordFailure(std::ostream& theStream);

  protected:
    // Copies name, counts and component; the copy is in no list.
    KesTestPurposeBC(const KesTestPurposeBC& theOther);

    // Registers a clone() of this object with the component constructed last.
    // With no component to register with, the clone is deleted, a line
    // "No test component for test purpose <name>" is printed and the verdict
    // becomes failed, so that a misordered program cannot pass.
    void initialise();

    // The test body.
    virtual void runTest() = 0;
    // A new heap copy of the most derived object.
    virtual KesTestPurposeBC* clone() const = 0;

  private:
    friend class KesTestComponentBC;

    void appendList(KesTestPurposeBC*& theList);
    KesTestPurposeBC* next() const;
    void executeTest();
    void printResults();

    KesTestPurposeBC* myNext;
    KesTestPurposeBC* myPrevious;
    const char* myName;
    DWORD myTestCount;
    DWORD myFailureCount;
    KesTestComponentBC* myComponent;
};
