#include <pellib/pelconsole.h>

#include <pellib/internal/patternslot.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// The descriptor to emit to, and whether it was opened here (to be closed).
struct Destination {
    int fd;
    bool owned;
};

Destination open_destination() {
    const char* path = std::getenv("PEL_CONSOLE");
    if (path == nullptr || *path == '\0')
        return {STDERR_FILENO, false};
    // O_APPEND makes every write land at the file's end as one step, also
    // against writers in other processes.
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return {STDERR_FILENO, false};  // better on standard error than lost
    return {fd, true};
}

// One write for the whole text; the loop only continues a write that a
// signal or a full pipe cut short.
void write_all(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace

PelConsole::PelConsole() = default;

PelConsole::PelConsole(const PelTrace_& pattern) {
    m_Text.pword(pel::pattern_slot()) = const_cast<PelTrace_*>(&pattern);
}

PelConsole::~PelConsole() {
    try {
        std::string text = m_Text.str();
        if (text.empty())
            return;
        if (text.back() != '\n')
            text.push_back('\n');
        Destination destination = open_destination();
        write_all(destination.fd, text);
        if (destination.owned)
            ::close(destination.fd);
    } catch (...) {
        // Console output is best effort; a destructor lets nothing out.
    }
}

std::ostream& PelConsole::operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    return manipulator(m_Text);
}
