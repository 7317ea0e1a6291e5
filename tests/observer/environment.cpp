// Points the process at an empty store directory (the misuse tests report to
// the event log, which must not be the user's), and counts or refuses the
// allocations of callback elements.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <utility>

namespace obstest {

int& ElementAllocations() {
    static thread_local int count = 0;
    return count;
}

bool& FailNextElement() {
    static thread_local bool fail = false;
    return fail;
}

}  // namespace obstest

// The whole program's operator new, so that the library's elements come here
// too. Elements are recognised by their size; tests compare counts only around
// calls that allocate nothing else.
void* operator new(std::size_t size) {
    if (size == sizeof(CMyKesCallbackElement)) {
        if (std::exchange(obstest::FailNextElement(), false))
            throw std::bad_alloc();
        ++obstest::ElementAllocations();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

class EmptyStore : public ::testing::Environment {
  public:
    void SetUp() override {
        m_Home = (std::filesystem::temp_directory_path() / "kesobserver-XXXXXX").string();
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
