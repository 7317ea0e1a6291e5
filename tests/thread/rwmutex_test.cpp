// CKesRwMutex: shared readers, exclusive writers, reader preference, no owner,
// and the scoped locks over it.
#include <kes/sync/kesrwmutex.h>

#include <kes/sync/keslock.h>

#include "support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::milliseconds;

// Readers that take a read hold each and keep it until `leave`.
struct Readers {
    std::atomic<int> inside{0};
    std::atomic<bool> leave{false};
    std::vector<std::thread> threads;
    void Add(CKesRwMutex& mutex) {
        threads.emplace_back([this, &mutex] {
            CKesReadLock lock(&mutex);
            ++inside;
            while (!leave.load())
                std::this_thread::sleep_for(milliseconds(1));
            --inside;
        });
    }
    void Join() {
        leave = true;
        for (auto& t : threads)
            t.join();
    }
};

TEST(RwMutex, ReadersOverlapAreStillAdmittedPastAWaitingWriterWhoWaitsForAll) {
    CKesRwMutex mutex;
    Readers readers;
    readers.Add(mutex);
    readers.Add(mutex);
    ASSERT_TRUE(Eventually([&] { return readers.inside.load() == 2; }));  // at once
    EXPECT_TRUE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());
    std::atomic<bool> wrote{false};
    std::thread writer([&] {
        CKesWriteLock lock(&mutex);
        EXPECT_EQ(readers.inside.load(), 0);
        EXPECT_TRUE(mutex.WriteLocked());
        wrote = true;
    });
    std::this_thread::sleep_for(milliseconds(20));
    readers.Add(mutex);  // reader preference: gets in while the writer waits
    EXPECT_TRUE(Eventually([&] { return readers.inside.load() == 3; }));
    EXPECT_FALSE(wrote.load());
    readers.Join();
    writer.join();
    EXPECT_TRUE(wrote.load());
    EXPECT_FALSE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());
}

TEST(RwMutex, ReadersWaitForAWriterAndAllGetInWhenItLeaves) {
    CKesRwMutex mutex;
    mutex.LockWrite();
    Readers readers;
    for (int i = 0; i < 3; ++i)
        readers.Add(mutex);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(readers.inside.load(), 0);
    mutex.UnlockWrite();
    EXPECT_TRUE(Eventually([&] { return readers.inside.load() == 3; }));
    readers.Join();
}

TEST(RwMutex, LastReaderOnAnotherThreadOpensTheWayForAWriter) {
    CKesRwMutex mutex;
    std::thread([&] { mutex.LockRead(); }).join();  // ends while still holding
    Readers second;
    second.Add(mutex);
    ASSERT_TRUE(Eventually([&] { return second.inside.load() == 1; }));
    mutex.UnlockRead();  // the first reader's hold, released here
    std::atomic<bool> wrote{false};
    std::thread writer([&] {
        CKesWriteLock lock(&mutex);
        wrote = true;
    });
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_FALSE(wrote.load());
    second.Join();
    writer.join();
    EXPECT_TRUE(wrote.load());
}

TEST(RwMutex, ScopedLocksPickTheirModesReadHoldsNestAndAnyThreadReleasesAWriteHold) {
    CKesRwMutex mutex;
    {
        CKesLock lock(&mutex);  // the exclusive form
        EXPECT_TRUE(mutex.WriteLocked());
        EXPECT_FALSE(mutex.ReadLocked());
    }
    {
        CKesReadLock outer(&mutex);
        { CKesReadLock inner(&mutex); }
        EXPECT_TRUE(mutex.ReadLocked());  // one hold is still out
        EXPECT_FALSE(mutex.WriteLocked());
    }
    EXPECT_FALSE(mutex.ReadLocked());
    mutex.LockWrite();
    std::thread([&] { mutex.UnlockWrite(); }).join();
    EXPECT_FALSE(mutex.WriteLocked());
}

TEST(RwMutex, UnbalancedUnlocksChangeNothing) {
    CKesRwMutex mutex;
    mutex.UnlockRead();
    mutex.UnlockWrite();
    EXPECT_FALSE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());
    mutex.LockRead();
    mutex.UnlockWrite();  // no write hold: must not let a writer in
    std::atomic<bool> wrote{false};
    std::thread writer([&] {
        CKesWriteLock lock(&mutex);
        wrote = true;
    });
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_FALSE(wrote.load());
    mutex.UnlockRead();
    writer.join();
    mutex.LockWrite();
    mutex.UnlockRead();  // a stray UnlockRead keeps the writer's hold
    EXPECT_TRUE(mutex.WriteLocked());
    mutex.UnlockWrite();
}

// Four threads, mostly reading and sometimes writing: inside a read hold no
// writer may be in; inside a write hold nobody else may be.
TEST(RwMutex, WriterExcludesEveryoneUnderFourThreads) {
    CKesRwMutex mutex;
    std::atomic<int> readers{0}, writers{0}, violations{0};
    std::atomic<long> writes{0};
    long shared_value = 0;  // written only under the write lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                if ((round + t) % 8 == 0) {
                    CKesWriteLock lock(&mutex);
                    if (writers.fetch_add(1) != 0 || readers.load() != 0)
                        ++violations;
                    ++shared_value;
                    ++writes;
                    writers.fetch_sub(1);
                } else {
                    CKesReadLock lock(&mutex);
                    readers.fetch_add(1);
                    if (writers.load() != 0)
                        ++violations;
                    volatile long seen = shared_value;
                    (void)seen;
                    readers.fetch_sub(1);
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(shared_value, writes.load());
    EXPECT_FALSE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());
}

}  // namespace
