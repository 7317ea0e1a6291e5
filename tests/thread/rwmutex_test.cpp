// CKesRwMutex: shared readers, exclusive writers, reader preference, no
// owner, and the scoped locks over it.
#include <kes/sync/kesrwmutex.h>

#include <kes/sync/keslock.h>

#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;

TEST(RwMutex, ReadersOverlapAndAWriterWaitsForBothToLeave) {
    CKesRwMutex mutex;
    std::atomic<int> inside{0};
    std::atomic<bool> leave{false};
    auto reader = [&] {
        CKesReadLock lock(&mutex);
        ++inside;
        while (!leave.load())
            std::this_thread::sleep_for(milliseconds(1));
        --inside;
    };
    std::thread first(reader), second(reader);
    ASSERT_TRUE(Eventually([&] { return inside.load() == 2; }));  // both hold it at once
    EXPECT_TRUE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());

    std::atomic<bool> wrote{false};
    std::thread writer([&] {
        CKesWriteLock lock(&mutex);
        EXPECT_EQ(inside.load(), 0);
        EXPECT_TRUE(mutex.WriteLocked());
        wrote = true;
    });
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_FALSE(wrote.load());
    leave = true;
    first.join();
    second.join();
    writer.join();
    EXPECT_TRUE(wrote.load());
    EXPECT_FALSE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());
}

TEST(RwMutex, ReadersWaitForAWriterAndAllGetInWhenItLeaves) {
    CKesRwMutex mutex;
    mutex.LockWrite();
    std::atomic<int> inside{0};
    std::atomic<bool> leave{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            CKesReadLock lock(&mutex);
            ++inside;
            while (!leave.load())
                std::this_thread::sleep_for(milliseconds(1));
        });
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(inside.load(), 0);
    mutex.UnlockWrite();
    EXPECT_TRUE(Eventually([&] { return inside.load() == 3; }));
    leave = true;
    for (auto& t : readers)
        t.join();
}

TEST(RwMutex, ReadersArePreferredOverAWaitingWriter) {
    CKesRwMutex mutex;
    mutex.LockRead();
    std::atomic<bool> wrote{false};
    std::thread writer([&] {
        CKesWriteLock lock(&mutex);
        wrote = true;
    });
    std::this_thread::sleep_for(milliseconds(20));
    // A new reader gets in while the writer waits.
    std::atomic<bool> reader_in{false};
    std::thread reader([&] {
        CKesReadLock lock(&mutex);
        reader_in = true;
    });
    EXPECT_TRUE(Eventually([&] { return reader_in.load(); }));
    EXPECT_FALSE(wrote.load());
    mutex.UnlockRead();
    reader.join();
    writer.join();
    EXPECT_TRUE(wrote.load());
}

TEST(RwMutex, LastReaderOnAnotherThreadOpensTheWayForAWriter) {
    CKesRwMutex mutex;
    std::thread first([&] { mutex.LockRead(); });  // ends while still holding
    first.join();
    std::atomic<bool> second_holds{false};
    std::atomic<bool> second_release{false};
    std::thread second([&] {
        mutex.LockRead();
        second_holds = true;
        while (!second_release.load())
            std::this_thread::sleep_for(milliseconds(1));
        mutex.UnlockRead();
    });
    ASSERT_TRUE(Eventually([&] { return second_holds.load(); }));
    mutex.UnlockRead();  // the first reader's hold, released here
    std::atomic<bool> wrote{false};
    std::thread writer([&] {
        mutex.LockWrite();
        wrote = true;
        mutex.UnlockWrite();
    });
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_FALSE(wrote.load());
    second_release = true;
    second.join();
    writer.join();
    EXPECT_TRUE(wrote.load());
}

TEST(RwMutex, WriteHoldMayBeReleasedByAnotherThread) {
    CKesRwMutex mutex;
    mutex.LockWrite();
    std::thread([&] { mutex.UnlockWrite(); }).join();
    EXPECT_FALSE(mutex.WriteLocked());
    CKesLock again(&mutex);
    EXPECT_TRUE(mutex.WriteLocked());
}

TEST(RwMutex, ScopedLocksPickTheirModesAndReadHoldsNest) {
    CKesRwMutex mutex;
    {
        CKesLock lock(&mutex);  // the exclusive lock
        EXPECT_TRUE(mutex.WriteLocked());
        EXPECT_FALSE(mutex.ReadLocked());
    }
    {
        CKesReadLock outer(&mutex);
        {
            CKesReadLock inner(&mutex);
            EXPECT_TRUE(mutex.ReadLocked());
        }
        EXPECT_TRUE(mutex.ReadLocked());  // one hold is still out
        EXPECT_FALSE(mutex.WriteLocked());
    }
    EXPECT_FALSE(mutex.ReadLocked());
    {
        CKesWriteLock lock(&mutex);
        EXPECT_TRUE(mutex.WriteLocked());
    }
    EXPECT_FALSE(mutex.WriteLocked());
}

TEST(RwMutex, UnbalancedUnlocksChangeNothing) {
    CKesRwMutex mutex;
    mutex.UnlockRead();
    mutex.UnlockWrite();
    EXPECT_FALSE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());
    // Still a working mutex: a read hold excludes a writer.
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
    EXPECT_TRUE(wrote.load());
    // Holding the write lock, a stray UnlockRead keeps readers out.
    mutex.LockWrite();
    mutex.UnlockRead();
    EXPECT_TRUE(mutex.WriteLocked());
    mutex.UnlockWrite();
}

// Four threads, each mostly reading and sometimes writing. Inside a read
// hold no writer may be in; inside a write hold nobody else may be.
TEST(RwMutex, WriterExcludesEveryoneUnderFourThreads) {
    CKesRwMutex mutex;
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<int> violations{0};
    long shared_value = 0;  // written only under the write lock
    std::atomic<bool> overlap_seen{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                if ((round + t) % 8 == 0) {
                    CKesWriteLock lock(&mutex);
                    if (writers.fetch_add(1) != 0 || readers.load() != 0)
                        ++violations;
                    ++shared_value;
                    writers.fetch_sub(1);
                } else {
                    CKesReadLock lock(&mutex);
                    if (readers.fetch_add(1) > 0)
                        overlap_seen = true;
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
    long expected_writes = 0;
    for (int t = 0; t < 4; ++t)
        for (int round = 0; round < kRounds; ++round)
            expected_writes += (round + t) % 8 == 0;
    EXPECT_EQ(shared_value, expected_writes);
    EXPECT_FALSE(mutex.ReadLocked());
    EXPECT_FALSE(mutex.WriteLocked());
    (void)overlap_seen;  // likely, but not guaranteed on a busy machine
}

}  // namespace
