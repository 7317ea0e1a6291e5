// Many threads at once: the recent-error table stays consistent and the
// error context is made once.
#include "errors_support.h"

#include <host/com.h>
#include <kes/application/kestestsession.h>
#include <kes/error/keserror.h>
#include <kes/error/keserrorcontext.h>
#include <kes/error/keslog.h>
#include <tester/testsession.h>

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using errtest::ErrorsTest;
using errtest::Narrow;

LONG ThreadCode(int theThread) {
    return static_cast<LONG>(0x80040300u + static_cast<unsigned>(theThread));
}

// The numbers of a fetched text "t:9\r\nt:8\r\n...", in order.
std::vector<long> Numbers(const std::string& theText) {
    std::vector<long> numbers;
    std::istringstream items(theText);
    for (std::string item; std::getline(items, item);) {
        const std::size_t colon = item.find(':');
        numbers.push_back(colon == std::string::npos ? -1 : std::stol(item.substr(colon + 1)));
    }
    return numbers;
}

// Spins until every thread has arrived, so that they start at once.
void Arrive(std::atomic<int>& theWaiting) {
    theWaiting.fetch_sub(1);
    while (theWaiting.load() > 0)
        std::this_thread::yield();
}

TEST_F(ErrorsTest, FourThreadsRaisingTenThousandEachLeaveAConsistentTable) {
    static constexpr int kThreads = 4;
    static constexpr int kRaises = 10000;
    InChild([] {
        errtest::EnterComWithServer();
        errtest::TraceErrors(false);
        std::atomic<int> waiting{kThreads + 1};
        std::atomic<int> running{kThreads};
        std::vector<std::thread> raisers;
        for (int t = 0; t < kThreads; ++t) {
            raisers.emplace_back([t, &waiting, &running] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                Arrive(waiting);
                for (int i = 0; i < kRaises; ++i) {
                    const std::string text = "t" + std::to_string(t) + ":" + std::to_string(i);
                    if (KesRaiseError(ThreadCode(t), text.c_str(), "kes/c", i) != ThreadCode(t)) {
                        ADD_FAILURE() << "wrong code returned";
                        break;
                    }
                }
                running.fetch_sub(1);
                CoUninitialize();
            });
        }
        // Meanwhile fetch: every entry comes out at most once, newest first
        // within a fetch, and later fetches only see later raisings.
        std::vector<long> newestSeen(kThreads, -1);
        std::size_t fetched = 0;
        Arrive(waiting);
        auto fetchAll = [&] {
            for (int t = 0; t < kThreads; ++t) {
                host::wstring text;
                const bool all = t % 2 == 0;
                if (all)
                    KesGetErrorMessage(ThreadCode(t), text);
                else
                    KesGetLastErrorMessage(ThreadCode(t), text);
                const std::vector<long> numbers = Numbers(Narrow(text));
                ASSERT_TRUE(all || numbers.size() <= 1);
                for (std::size_t k = 0; k < numbers.size(); ++k) {
                    ASSERT_GT(numbers[k], newestSeen[t]) << "an entry came back or out of order";
                    ASSERT_LT(numbers[k], kRaises);
                    if (k > 0) {
                        ASSERT_LT(numbers[k], numbers[k - 1]) << "not newest first";
                    }
                }
                if (!numbers.empty())
                    newestSeen[t] = numbers.front();
                fetched += numbers.size();
            }
        };
        while (running.load() > 0) {
            fetchAll();
            EXPECT_LE(CKesErrorContext::Instance().Size(), CKesErrorContext::MAX_ENTRIES);
        }
        for (std::thread& raiser : raisers)
            raiser.join();
        const std::size_t left = CKesErrorContext::Instance().Size();
        EXPECT_LE(left, CKesErrorContext::MAX_ENTRIES);
        const std::size_t before = fetched;
        fetchAll();
        EXPECT_EQ(CKesErrorContext::Instance().Size(), 0u);
        EXPECT_LE(fetched - before, left);
        EXPECT_GT(fetched, 0u);
    });
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(ConsoleFile(), "");
}

// Threads making the first use at once share one context: every raising
// lands in one table, under the session number read once.
TEST_F(ErrorsTest, ThreadsRacingToFirstUseShareOneContext) {
    constexpr int kThreads = 6;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        InChild([] {
            errtest::EnterComWithServer();
            errtest::TraceErrors(false);
            auto session = host::make_com<tester::TestSession>(12);
            CKesTestSession::Record(session.get());
            std::atomic<int> waiting{kThreads};
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([t, &waiting] {
                    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                    Arrive(waiting);
                    if (t % 2 == 0)
                        KesSetEventCategory(9);
                    KesRaiseError(ThreadCode(t), ("first " + std::to_string(t)).c_str(), "kes/r",
                                  t);
                    CoUninitialize();
                });
            }
            for (std::thread& thread : threads)
                thread.join();
            EXPECT_EQ(CKesErrorContext::Instance().Size(), static_cast<std::size_t>(kThreads));
            EXPECT_EQ(CKesErrorContext::Instance().SessionNumber(), 12);
            EXPECT_EQ(CKesErrorContext::Instance().Category(), 9);
            for (int t = 0; t < kThreads; ++t) {
                host::wstring text;
                KesGetErrorMessage(ThreadCode(t), text);
                EXPECT_EQ(Narrow(text), "first " + std::to_string(t));
            }
            CKesTestSession::Remove();
        });
    }
}

}  // namespace
