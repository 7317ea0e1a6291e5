#include <kes/sync/keslock.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <type_traits>

namespace {

static_assert(sizeof(CKesLock) == sizeof(void*) && sizeof(CKesReadLock) == sizeof(void*) &&
                  sizeof(CKesWriteLock) == sizeof(void*),
              "a scoped lock holds only its pointer");
static_assert(!std::is_polymorphic<CKesLock>::value, "scoped locks have no virtual table");
static_assert(!std::is_copy_constructible<CKesLock>::value, "a copy would unlock twice");

// Overrides only the write pair and records every call.
class WriteOnly : public ILockable {
  public:
    mutable int locks = 0;
    mutable int unlocks = 0;
    mutable bool held = false;
    void LockWrite() const override {
        EXPECT_FALSE(held) << "taken twice";
        held = true;
        ++locks;
    }
    void UnlockWrite() const override {
        EXPECT_TRUE(held);
        held = false;
        ++unlocks;
    }
};

TEST(ILockable, EveryFormTakesTheWriteLockWhenOnlyItIsOverridden) {
    WriteOnly lockable;
    {
        CKesLock lock(&lockable);
        EXPECT_TRUE(lockable.held);
    }
    {
        CKesReadLock lock(&lockable);
        EXPECT_TRUE(lockable.held);
    }
    {
        CKesWriteLock lock(&lockable);
        EXPECT_TRUE(lockable.held);
    }
    EXPECT_FALSE(lockable.held);
    EXPECT_EQ(lockable.locks, 3);
    EXPECT_EQ(lockable.unlocks, 3);
}

// A reader-writer style lockable: shared and exclusive forms are separate.
class ReadWrite : public WriteOnly {
  public:
    mutable int reads = 0;
    void LockRead() const override { ++reads; }
    void UnlockRead() const override { --reads; }
};

TEST(ILockable, ScopedLocksDispatchToTheMostDerivedImplementation) {
    ReadWrite lockable;
    {
        CKesReadLock read(&lockable);
        EXPECT_EQ(lockable.reads, 1);
        EXPECT_FALSE(lockable.held);
    }
    EXPECT_EQ(lockable.reads, 0);
    {
        CKesLock lock(&lockable);
        EXPECT_TRUE(lockable.held) << "Lock is the exclusive form";
    }
}

TEST(ILockable, CopyingALockableCopiesNoLockState) {
    WriteOnly original;
    WriteOnly copy(original);
    ILockable& base = copy;
    EXPECT_EQ(&(base = original), &base) << "assignment returns the left-hand object";
    CKesLock lock(&copy);  // the copy is a working lockable of its own
    EXPECT_TRUE(copy.held);
    EXPECT_FALSE(original.held);
}

class ThrowingUnlock : public ILockable {
  public:
    mutable int unlock_attempts = 0;
    void LockWrite() const override {}
    void UnlockWrite() const override {
        ++unlock_attempts;
        throw std::runtime_error("refused");
    }
};

TEST(ScopedLock, AnUnlockThatThrowsIsSwallowedByEveryScopedLock) {
    ThrowingUnlock lockable;
    EXPECT_NO_THROW({ CKesLock lock(&lockable); });
    EXPECT_NO_THROW({ CKesReadLock lock(&lockable); });
    EXPECT_NO_THROW({ CKesWriteLock lock(&lockable); });
    EXPECT_EQ(lockable.unlock_attempts, 3);
}

class ThrowingLock : public ILockable {
  public:
    mutable int unlocks = 0;
    void LockWrite() const override { throw 42; }
    void UnlockWrite() const override { ++unlocks; }
};

TEST(ScopedLock, ALockThatThrowsPropagatesAndNothingIsUnlocked) {
    ThrowingLock lockable;
    EXPECT_THROW({ CKesLock lock(&lockable); }, int);
    EXPECT_THROW({ CKesReadLock lock(&lockable); }, int);
    EXPECT_THROW({ CKesWriteLock lock(&lockable); }, int);
    EXPECT_EQ(lockable.unlocks, 0);
}

}  // namespace
