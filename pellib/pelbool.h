// PelBool: a boolean value class.
//
// A PelBool is true or false. Its truth is read through the conversion to
// `const PelBoolLiteral_*`, which is non-null exactly when the value is true,
// so a PelBool works directly in conditions (`if (b)`, `!b`, `a && b`), and
// two PelBools compare equal exactly when they hold the same truth (all true
// values convert to the same pointer).
//
// A plain value: copy and assign freely. Like a `bool`, a PelBool shared
// between threads needs the caller's lock.
#pragma once

#include <pellib/export.h>

// The type of the truth pointer. Opaque: it is never dereferenced.
class PelBoolLiteral_;

class PEL_API PelBool {
  public:
    // False.
    PelBool();
    // True when `value` is non-null.
    explicit PelBool(const void* value);
    // True when `value` is nonzero; `PelBool(1)` is true and `PelBool(0)` false.
    explicit PelBool(int value);
    PelBool(const PelBool& other);
    PelBool& operator=(const PelBool& other);
    ~PelBool();

    // Non-null exactly when true; the same pointer for every true value.
    operator const PelBoolLiteral_*() const;

  private:
    bool m_Value;
};
