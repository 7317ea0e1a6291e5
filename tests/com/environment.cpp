// Points the process at an empty store directory, so that looking up a class
// nobody registered reads an empty registry instead of the user's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class EmptyStore : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kescom-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Home = pattern;
        setenv("KES_HOME", m_Home.c_str(), 1);
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
