// The proxy tests run with an empty store directory (assertions and errors
// are logged to the event log), COM entered on the main thread and the
// simulated error-message server registered, so that raised errors find
// their standard messages.
#include <tester/errorserver.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class Environment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kesapplication-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Home = pattern;
        setenv("KES_HOME", m_Home.c_str(), 1);
        unsetenv("DOV_HALT_ASSERTIONS");
        unsetenv("DOV_LOG_ERRORS");
        unsetenv("DOV_NO_EXIT");
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(tester::RegisterErrorServer(), S_OK);
    }
    void TearDown() override {
        tester::RevokeErrorServer();
        CoUninitialize();
        std::error_code ignored;
        std::filesystem::remove_all(m_Home, ignored);
    }

  private:
    std::string m_Home;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new Environment);

}  // namespace
