#include <kes/application/internal/addressscan.h>

namespace kes_detail {

namespace {

bool IsSpace(WCHAR theUnit) {
    return theUnit == ' ' || (theUnit >= 0x09 && theUnit <= 0x0D);
}

// The value of `theUnit` as a digit in `theRadix`, or -1.
int DigitValue(WCHAR theUnit, int theRadix) {
    int value = -1;
    if (theUnit >= '0' && theUnit <= '9')
        value = theUnit - '0';
    else if (theUnit >= 'a' && theUnit <= 'f')
        value = theUnit - 'a' + 10;
    else if (theUnit >= 'A' && theUnit <= 'F')
        value = theUnit - 'A' + 10;
    return value < theRadix ? value : -1;
}

// One cursor over the text, which ends at its first zero unit or its length.
class Cursor {
  public:
    Cursor(const WCHAR* theText, std::size_t theLength) : myText(theText), myLength(0) {
        while (myLength < theLength && theText[myLength] != 0)
            ++myLength;
    }

    WCHAR Peek(std::size_t theAhead = 0) const {
        return myAt + theAhead < myLength ? myText[myAt + theAhead] : 0;
    }
    void Advance(std::size_t theCount = 1) { myAt += theCount; }

  private:
    const WCHAR* myText;
    std::size_t myLength;
    std::size_t myAt = 0;
};

// Reads one number; false when no digit is there.
bool ReadNumber(Cursor& theCursor, int theRadix, std::uint64_t* theValue) {
    while (IsSpace(theCursor.Peek()))
        theCursor.Advance();
    bool negative = false;
    if (theCursor.Peek() == '+' || theCursor.Peek() == '-') {
        negative = theCursor.Peek() == '-';
        theCursor.Advance();
    }
    if (theRadix == 16 && theCursor.Peek() == '0' &&
        (theCursor.Peek(1) == 'x' || theCursor.Peek(1) == 'X') &&
        DigitValue(theCursor.Peek(2), 16) >= 0)
        theCursor.Advance(2);
    if (DigitValue(theCursor.Peek(), theRadix) < 0)
        return false;
    std::uint64_t magnitude = 0;
    bool wide = false;
    for (int digit; (digit = DigitValue(theCursor.Peek(), theRadix)) >= 0; theCursor.Advance()) {
        if (!wide) {
            magnitude = magnitude * static_cast<std::uint64_t>(theRadix) +
                        static_cast<std::uint64_t>(digit);
            wide = magnitude > 0xFFFFFFFFull;
        }
    }
    *theValue = wide || (negative && magnitude != 0) ? kOutOfRange : magnitude;
    return true;
}

}  // namespace

int ScanNumbers(const WCHAR* theText, std::size_t theLength, WCHAR theSeparator, int theRadix,
                int theCount, std::uint64_t* theValues) {
    if (theText == nullptr)
        return 0;
    Cursor cursor(theText, theLength);
    int read = 0;
    while (read < theCount) {
        if (read > 0) {
            if (cursor.Peek() != theSeparator)
                break;
            cursor.Advance();
        }
        if (!ReadNumber(cursor, theRadix, &theValues[read]))
            break;
        ++read;
    }
    return read;
}

}  // namespace kes_detail
