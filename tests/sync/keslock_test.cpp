// ILockable's defaults and the scoped locks: every form reaches the most
// derived lock operations, an unlock that throws never leaves a destructor, a
// lock that throws unlocks nothing.
#include <kes/sync/keslock.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <type_traits>

namespace {

static_assert(!std::is_copy_constructible<CKesLock>::value, "a copy would unlock twice");

// Separate shared and exclusive forms, as a reader-writer lock has.
class ReadWrite : public ILockable {
  public:
    mutable int reads = 0;
    mutable bool held = false;
    void LockWrite() const override { held = true; }
    void UnlockWrite() const override { held = false; }
    void LockRead() const override { ++reads; }
    void UnlockRead() const override { --reads; }
};

TEST(ILockable, EveryScopedFormTakesTheWriteLockUnlessTheReadPairIsOverridden) {
    struct OnlyWrite : ILockable {
        mutable int locks = 0, unlocks = 0;
        void LockWrite() const override { ++locks; }
        void UnlockWrite() const override { ++unlocks; }
    } only;
    { CKesLock lock(&only); }
    { CKesReadLock lock(&only); }  // the default read pair is the write pair
    { CKesWriteLock lock(&only); }
    EXPECT_EQ(only.locks, 3);
    EXPECT_EQ(only.unlocks, 3);

    ReadWrite both;
    {
        CKesReadLock read(&both);
        EXPECT_EQ(both.reads, 1);
        EXPECT_FALSE(both.held);
    }
    EXPECT_EQ(both.reads, 0);
    {
        CKesLock lock(&both);
        EXPECT_TRUE(both.held) << "Lock is the exclusive form";
    }
    EXPECT_FALSE(both.held);
}

TEST(ScopedLock, AnUnlockThatThrowsIsSwallowedAndALockThatThrowsUnlocksNothing) {
    struct ThrowingUnlock : ILockable {
        mutable int attempts = 0;
        void LockWrite() const override {}
        void UnlockWrite() const override {
            ++attempts;
            throw std::runtime_error("refused");
        }
    } throwing_unlock;
    EXPECT_NO_THROW({ CKesLock lock(&throwing_unlock); });
    EXPECT_NO_THROW({ CKesReadLock lock(&throwing_unlock); });
    EXPECT_NO_THROW({ CKesWriteLock lock(&throwing_unlock); });
    EXPECT_EQ(throwing_unlock.attempts, 3);

    struct ThrowingLock : ILockable {
        mutable int unlocks = 0;
        void LockWrite() const override { throw 42; }
        void UnlockWrite() const override { ++unlocks; }
    } throwing_lock;
    EXPECT_THROW({ CKesLock lock(&throwing_lock); }, int);
    EXPECT_THROW({ CKesReadLock lock(&throwing_lock); }, int);
    EXPECT_THROW({ CKesWriteLock lock(&throwing_lock); }, int);
    EXPECT_EQ(throwing_lock.unlocks, 0);
}

}  // namespace
