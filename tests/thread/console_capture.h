// Sends pellib's console to a scratch file while the object lives, so that a
// test can read back the assertion reports it provoked.
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
        m_Path = (std::filesystem::temp_directory_path() / "kesconsole-XXXXXX").string();
        int fd = ::mkstemp(m_Path.data());
        if (fd >= 0)
            ::close(fd);
        ::setenv("PEL_CONSOLE", m_Path.c_str(), 1);
    }
    ~ConsoleCapture() {
        ::unsetenv("PEL_CONSOLE");
        std::remove(m_Path.c_str());
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // The expressions of the assertions reported from `file` (as in the report,
    // "kes/thread/kesthread"), oldest first. Each report reaches the console
    // twice in a row (event-log record and trace); a repeat is taken once.
    std::vector<std::string> Asserted(const std::string& file) const {
        std::ostringstream buffer;
        buffer << std::ifstream(m_Path, std::ios::binary).rdbuf();
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
            std::string report = text.substr(at, end == std::string::npos ? end : end - at);
            if (report != previous)  // the line number tells one report from another
                found.push_back(text.substr(
                    colon + 3, end == std::string::npos ? std::string::npos : end - colon - 3));
            previous = report;
        }
        return found;
    }

  private:
    std::string m_Path;
};
