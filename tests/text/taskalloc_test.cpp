// The task allocator: zero-size blocks, reallocation, cross-thread release and
// the separation from malloc that makes a mismatched release visible.
#include <host/taskalloc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

TEST(TaskAllocator, BlocksAreDistinctEvenEmptyAlignedAndWhollyUsable) {
    void* a = CoTaskMemAlloc(0);
    void* b = CoTaskMemAlloc(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    CoTaskMemFree(a);
    CoTaskMemFree(b);
    CoTaskMemFree(nullptr);  // does nothing
    for (SIZE_T size : {1u, 3u, 16u, 17u, 1000u}) {
        void* block = CoTaskMemAlloc(size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
        std::memset(block, 0xAB, size);
        CoTaskMemFree(block);
    }
    EXPECT_EQ(CoTaskMemAlloc(SIZE_MAX), nullptr);
}

TEST(TaskAllocator, ReallocKeepsTheContentsAllocatesFromNullFreesAtZeroAndFailsHarmlessly) {
    auto* block = static_cast<unsigned char*>(CoTaskMemRealloc(nullptr, 8));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 8; ++i)
        block[i] = static_cast<unsigned char>(i + 1);
    for (SIZE_T size : {SIZE_T{4096}, SIZE_T{2}}) {
        block = static_cast<unsigned char*>(CoTaskMemRealloc(block, size));
        ASSERT_NE(block, nullptr);
        for (SIZE_T i = 0; i < std::min<SIZE_T>(size, 8); ++i)
            EXPECT_EQ(block[i], i + 1);
    }
    EXPECT_EQ(CoTaskMemRealloc(block, SIZE_MAX - 4), nullptr);  // the block stays
    EXPECT_EQ(block[1], 2);
    EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);  // freed: the leak checker would tell
}

TEST(TaskAllocator, BlocksMayBeFreedByAnotherThread) {
    std::vector<void*> blocks;
    std::thread producer([&] {
        for (int i = 0; i < 1000; ++i)
            blocks.push_back(CoTaskMemAlloc(static_cast<SIZE_T>(i)));
    });
    producer.join();
    std::thread consumer([&] {
        for (void* block : blocks)
            CoTaskMemFree(block);
    });
    consumer.join();
}

using TaskAllocatorDeathTest = ::testing::Test;

TEST(TaskAllocatorDeathTest, FreeingAMallocBlockStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Plain builds stop on the missing tag; the address sanitizer already
    // stops at the read in front of the malloc block.
    EXPECT_DEATH(
        {
            void* block = std::malloc(32);
            CoTaskMemFree(block);
        },
        "not allocated by CoTaskMemAlloc|heap-buffer-overflow");
}

TEST(TaskAllocatorDeathTest, FreeingATaskBlockWithFreeIsAnInvalidFree) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer's allocator does not check the pointer it frees";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            void* block = CoTaskMemAlloc(32);
            std::free(block);
        },
        "");
}

}  // namespace
