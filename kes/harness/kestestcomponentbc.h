// KesTestComponentBC: a component under test in a harness test program.
//
// A test program derives one class per component and one per test purpose
// (KesTestPurposeBC), and defines their objects, usually as statics: each
// component first, then its purposes. A component joins the process-wide
// circular list of components when it is constructed and becomes the one that
// purposes register with; a purpose registers a heap copy of itself with it.
// main() then calls initialiser(), performTest() and finaliser() once each, in
// that order, and returns KesTestPurposeBC::result():
//
//   int main() {
//       KesTestComponentBC::initialiser();
//       KesTestComponentBC::performTest();
//       KesTestComponentBC::finaliser();
//       return KesTestPurposeBC::result();
//   }
//
// Everything is printed to standard error. Single-threaded: the statics are
// not guarded, so construct, run and destroy components on one thread.
//
// Lifetime: a component owns the purposes registered with it and deletes them
// when it is destroyed; its name is not copied and must outlive it.
#pragma once

#include <kes/export.h>

class KesTestPurposeBC;

class KES_API KesTestComponentBC {
  public:
    // Number of components constructed so far in the process.
    static int theInvocationNumber;
    // First component of the circular component list; null when empty.
    static KesTestComponentBC* theComponentList;
    // The component constructed last (null once it is destroyed); purposes
    // register with it.
    static KesTestComponentBC* theComponent;

    // Registers the component: it gets the next invocation number, goes to
    // the end of the component list and becomes theComponent.
    explicit KesTestComponentBC(const char* theName);
    // Deletes its purposes and leaves the component list.
    virtual ~KesTestComponentBC();

    KesTestComponentBC(const KesTestComponentBC&) = delete;
    KesTestComponentBC& operator=(const KesTestComponentBC&) = delete;

    const char* getName() const;

    // Calls initialiseComponent() of every component, in list order.
    static void initialiser();
    // Runs every purpose of every component, in list order; prints nothing
    // when no component is registered.
    static void performTest();
    // Calls finaliseComponent() of every component, then prints the summary:
    // the header, and per component its line and its purposes' lines.
    static void finaliser();

  protected:
    // Called by initialiser(), before any test body runs.
    virtual void initialiseComponent() = 0;
    // Called by finaliser(), after every test body has run.
    virtual void finaliseComponent() = 0;

  private:
    friend class KesTestPurposeBC;

    // Appends thePurpose to theComponent's purpose list and returns
    // theComponent (null, and nothing appended, when there is none).
    static KesTestComponentBC* registerPurpose(KesTestPurposeBC* thePurpose);
    void appendList(KesTestComponentBC*& theList);
    KesTestComponentBC* next() const;
    void printResults();

    KesTestComponentBC* myNext;
    KesTestComponentBC* myPrevious;
    int myInvocationNumber;
    const char* myName;
    KesTestPurposeBC* myPurposeList;  // owned; first of a circular list
};
