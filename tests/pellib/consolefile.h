// A temporary console file for pellib tests: PEL_CONSOLE names a file in a
// fresh directory for the duration of one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace peltest {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A fresh directory and PEL_CONSOLE naming a file in it, for one test.
class ConsoleFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pelconsole-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
        m_File = m_Dir / "console.log";
        setenv("PEL_CONSOLE", m_File.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("PEL_CONSOLE");
        fs::remove_all(m_Dir);
    }

    fs::path m_Dir;
    fs::path m_File;
};

}  // namespace peltest
