// Sends pellib's console to a scratch file for the lifetime of the object, so
// that a test can read back the assertion reports it provoked.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

class ConsoleCapture {
  public:
    ConsoleCapture() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kesconsole-XXXXXX").string();
        int fd = ::mkstemp(pattern.data());
        if (fd >= 0)
            ::close(fd);
        m_Path = pattern;
        ::setenv("PEL_CONSOLE", m_Path.c_str(), 1);
    }
    ~ConsoleCapture() {
        ::unsetenv("PEL_CONSOLE");
        std::remove(m_Path.c_str());
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // The expressions of the assertions reported from `file` (as in the
    // report, "kes/thread/kesthread"), oldest first. A report reaches the
    // console twice in a row (with the event-log record and from the trace);
    // such a repeat is taken once.
    std::vector<std::string> Asserted(const std::string& file) const {
        std::ifstream in(m_Path, std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        const std::string text = buffer.str();
        const std::string head = "Assertion failed in " + file + ", line ";
        std::vector<std::string> found;
        std::string previous;
        for (std::size_t at = text.find(head); at != std::string::npos;
             at = text.find(head, at + 1)) {
            std::size_t colon = text.find(":\r\n", at + head.size());
            if (colon == std::string::npos)
                break;
            std::size_t end = text.find_first_of("\r\n", colon + 3);
            // The line number and the expression tell one report from another.
            std::string report = text.substr(at, end == std::string::npos ? end : end - at);
            if (report != previous)
                found.push_back(text.substr(
                    colon + 3, end == std::string::npos ? std::string::npos : end - colon - 3));
            previous = report;
        }
        return found;
    }

  private:
    std::string m_Path;
};
