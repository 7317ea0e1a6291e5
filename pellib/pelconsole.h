// PelConsole: one scoped piece of console output.
//
// A PelConsole collects what is written to it and, when destroyed, emits the
// whole text with one write(2) to the console: the file named by the
// environment variable PEL_CONSOLE (created if missing, always appended to),
// or standard error when PEL_CONSOLE is unset or empty, or names a file that
// cannot be opened. The destination is chosen when the text is emitted.
//
// Because each console's text reaches the destination in one append, the
// lines of concurrent consoles, in this and in other processes, never
// interleave. Emitted text always ends with a newline; one is added if the
// caller's text lacks it. A console with no text emits nothing.
//
// Use one console from one thread, as a temporary or a local:
//   PelConsole(thePattern) << pelTraceExpression << "text" << '\n';
// Nothing here blocks beyond the write, and nothing throws from the
// destructor; a failing write is dropped.
#pragma once

#include <pellib/export.h>
#include <pellib/peltrace.h>

#include <ostream>
#include <sstream>

class PEL_API PelConsole {
  public:
    // A console whose trace prefix tells no pattern.
    PelConsole();
    // A console whose trace prefix names `pattern`'s component and module;
    // the record must outlive the console.
    explicit PelConsole(const PelTrace_& pattern);
    // Emits the collected text, if any (above).
    ~PelConsole();

    PelConsole(const PelConsole&) = delete;
    PelConsole& operator=(const PelConsole&) = delete;

    // Applies `manipulator` (pelTraceExpression, std::endl, ...) to the
    // console's stream and returns that stream for further output.
    std::ostream& operator<<(std::ostream& (*manipulator)(std::ostream&));

    // Writes `value` to the console's stream and returns that stream.
    template <typename T>
    std::ostream& operator<<(const T& value) {
        return m_Text << value;
    }

    // The console's stream.
    std::ostream& stream() { return m_Text; }

  private:
    std::ostringstream m_Text;
};
