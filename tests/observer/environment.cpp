// Points the process at an empty store directory (the misuse tests report
// assertions to the event log, which must not be the user's), and counts or
// refuses the allocations of callback elements.
#include "observer_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

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

// The whole program's operator new, so that the library's elements come
// through here too. An element is recognised by its size; other allocations
// of that size are counted alike, so tests only compare counts around calls
// that allocate nothing else.
void* operator new(std::size_t size) {
    if (size == sizeof(CMyKesCallbackElement)) {
        if (obstest::FailNextElement()) {
            obstest::FailNextElement() = false;
            throw std::bad_alloc();
        }
        ++obstest::ElementAllocations();
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
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
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kesobserver-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Home = pattern;
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
