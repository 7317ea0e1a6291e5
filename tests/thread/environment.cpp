// Points the process at an empty store directory: the assertions and errors
// these tests provoke go to the event log, which must not be the user's.
// Assertions must report and go on, never end the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class EmptyStore : public ::testing::Environment {
  public:
    void SetUp() override {
        m_Home = (std::filesystem::temp_directory_path() / "kesthread-XXXXXX").string();
        ASSERT_NE(mkdtemp(m_Home.data()), nullptr);
        setenv("KES_HOME", m_Home.c_str(), 1);
        unsetenv("DOV_HALT_ASSERTIONS");
        unsetenv("DOV_LOG_ERRORS");
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_Home, ignored);
    }

  private:
    std::string m_Home;
};

[[maybe_unused]] ::testing::Environment* const g_store =
    ::testing::AddGlobalTestEnvironment(new EmptyStore);

}  // namespace
