// The timestamp, tested with the library's own harness: the exit status is
// the harness's verdict, so ctest sees 0 when every case passed and 255
// otherwise.
#include <kes/harness/kestestcomponentbc.h>
#include <kes/harness/kestestpurposebc.h>
#include <kes/util/kestimestamp.h>

#include <sstream>
#include <string>

namespace {

std::string Narrow(const host::wstring& theText) {
    std::string text;
    for (WCHAR unit : theText)
        text.push_back(static_cast<char>(unit));
    return text;
}

// Counts one test case and reports a failure with the condition's text.
#define CHECK_THAT(condition)                                                                    \
    do {                                                                                         \
        if (!KesTestPurposeBC::myTestCase(condition)) {                                          \
            KesTestPurposeBC::myRecordFailure(KesTestPurposeBC::myMakeStream(__FILE__, __LINE__) \
                                              << #condition);                                    \
        }                                                                                        \
    } while (0)

// Compares texts and shows both on failure.
void CheckText(const std::string& theActual, const char* theExpected, unsigned int theLine) {
    if (!KesTestPurposeBC::myTestCase(theActual == theExpected)) {
        KesTestPurposeBC::myRecordFailure(KesTestPurposeBC::myMakeStream(__FILE__, theLine)
                                          << "got \"" << theActual << "\", expected \""
                                          << theExpected << "\"");
    }
}

class TimestampComponent : public KesTestComponentBC {
  public:
    TimestampComponent() : KesTestComponentBC("CKesTimestamp") {}

  protected:
    void initialiseComponent() override {}
    void finaliseComponent() override {}
};

// Each purpose class: a test body plus the clone the harness runs.
template <typename Derived>
class TimestampPurpose : public KesTestPurposeBC {
  public:
    explicit TimestampPurpose(const char* theName) : KesTestPurposeBC(theName) {}

  protected:
    TimestampPurpose(const TimestampPurpose& theOther) : KesTestPurposeBC(theOther) {}
    KesTestPurposeBC* clone() const override {
        return new Derived(static_cast<const Derived&>(*this));
    }
};

class Normalisation : public TimestampPurpose<Normalisation> {
  public:
    Normalisation() : TimestampPurpose("normalising setters") { initialise(); }
    Normalisation(const Normalisation& theOther) : TimestampPurpose(theOther) {}

  protected:
    void runTest() override {
        CHECK_THAT(CKesTimestamp(1, -1) == CKesTimestamp(0, 999999999));
        CHECK_THAT(CKesTimestamp(-1, 1).Nanoseconds() == -999999999);
        CHECK_THAT(CKesTimestamp(0, 1500000000) == CKesTimestamp(1, 500000000));
        CHECK_THAT(CKesTimestamp(2, -1500000000) == CKesTimestamp(0, 500000000));
        CKesTimestamp value(-5, -1500000000);
        CHECK_THAT(value.AsWholeSeconds() == -6 && value.Nanoseconds() == -500000000);
        value.Set(1, 2, 3500);
        CHECK_THAT(value.AsWholeSeconds() == 3723 && value.Nanoseconds() == 500000000);
        value.Set(-1.5e9);
        CHECK_THAT(value.AsWholeSeconds() == -1 && value.Nanoseconds() == -500000000);
        value.Clear();
        CHECK_THAT(value == CKesTimestamp());
    }
};

class Arithmetic : public TimestampPurpose<Arithmetic> {
  public:
    Arithmetic() : TimestampPurpose("arithmetic and order") { initialise(); }
    Arithmetic(const Arithmetic& theOther) : TimestampPurpose(theOther) {}

  protected:
    void runTest() override {
        CHECK_THAT(CKesTimestamp(1, 0) - CKesTimestamp(0, 1) == CKesTimestamp(0, 999999999));
        CHECK_THAT(CKesTimestamp(0, 0) - CKesTimestamp(1, 500000000) ==
                   CKesTimestamp(-1, -500000000));
        CHECK_THAT(CKesTimestamp(-1, -500000000) < CKesTimestamp(-1, 0));
        CHECK_THAT(CKesTimestamp(-1, 0) < CKesTimestamp(0, -5));
        CHECK_THAT(CKesTimestamp(0, -5) < CKesTimestamp(0, 0));
        CHECK_THAT(CKesTimestamp(3, 1) >= CKesTimestamp(3, 1));
        CHECK_THAT(CKesTimestamp(3, 1) != CKesTimestamp(3, 2));
    }
};

class Renderings : public TimestampPurpose<Renderings> {
  public:
    Renderings() : TimestampPurpose("renderings") { initialise(); }
    Renderings(const Renderings& theOther) : TimestampPurpose(theOther) {}

  protected:
    void runTest() override {
        CKesTimestamp value(-3661, -500000000);
        CheckText(Narrow(value.AsDHMSN()), "0d -01:-01:-01.-500000000", __LINE__);
        CheckText(Narrow(value.AsHMSm()), "-001:-01:-01.-500", __LINE__);
        CheckText(Narrow(value.AsHMSN()), "-001:-01:-01.-500000000", __LINE__);
        CheckText(Narrow(value.AsSN()), "-00003661.-500000000", __LINE__);
        std::ostringstream stream;
        stream << CKesTimestamp(93784, 5);
        CheckText(stream.str(), "93784.000000005", __LINE__);
        CheckText(Narrow(CKesTimestamp(93784, 123456789).AsDHMSN()), "1d 02:03:04.123456789",
                  __LINE__);
    }
};

// Static construction order within this file: the component first, then its
// purposes, as the harness requires.
TimestampComponent theTimestampComponent;
Normalisation theNormalisation;
Arithmetic theArithmetic;
Renderings theRenderings;

}  // namespace

int main() {
    KesTestComponentBC::initialiser();
    KesTestComponentBC::performTest();
    KesTestComponentBC::finaliser();
    return KesTestPurposeBC::result();
}
