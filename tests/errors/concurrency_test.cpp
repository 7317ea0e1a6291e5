// Many threads and processes at once: the recent-error table stays
// consistent, the error context is made once, no record is lost.
#include "errors_support.h"

#include <host/com.h>
#include <kes/application/kestestsession.h>
#include <kes/error/keserror.h>
#include <kes/error/keserrorcontext.h>
#include <kes/error/keslog.h>
#include <tester/testsession.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using errtest::ErrorsTest;
using errtest::Narrow;

LONG ThreadCode(int theThread) {
    return static_cast<LONG>(0x80040300u + static_cast<unsigned>(theThread));
}

// The numbers of a fetched text "t:9\r\nt:8\r\n...", in order.
std::vector<long> Numbers(const std::string& theText) {
    std::vector<long> numbers;
    std::size_t pos = 0;
    while (pos < theText.size()) {
        std::size_t end = theText.find("\r\n", pos);
        if (end == std::string::npos)
            end = theText.size();
        const std::string item = theText.substr(pos, end - pos);
        const std::size_t colon = item.find(':');
        numbers.push_back(colon == std::string::npos ? -1 : std::stol(item.substr(colon + 1)));
        pos = end + 2;
    }
    return numbers;
}

// Spins until every thread has arrived, so that they start at once.
class StartLine {
  public:
    explicit StartLine(int theCount) : m_Waiting(theCount) {}
    void Arrive() {
        m_Waiting.fetch_sub(1);
        while (m_Waiting.load() > 0)
            std::this_thread::yield();
    }

  private:
    std::atomic<int> m_Waiting;
};

TEST_F(ErrorsTest, FourThreadsRaisingTenThousandEachLeaveAConsistentTable) {
    static constexpr int kThreads = 4;
    static constexpr int kRaises = 10000;
    InChild([] {
        errtest::EnterComWithServer();
        errtest::TraceErrors(false);
        StartLine start(kThreads + 1);
        std::atomic<int> running{kThreads};
        std::vector<std::thread> raisers;
        for (int t = 0; t < kThreads; ++t) {
            raisers.emplace_back([t, &start, &running] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                start.Arrive();
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
        start.Arrive();
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

// Threads that all make the first use at once share one context: every
// raising lands in the same table, under the session number read once.
TEST_F(ErrorsTest, ThreadsRacingToFirstUseShareOneContext) {
    constexpr int kThreads = 6;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        InChild([] {
            errtest::EnterComWithServer();
            errtest::TraceErrors(false);
            auto session = host::make_com<tester::TestSession>(12);
            CKesTestSession::Record(session.get());
            StartLine start(kThreads);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([t, &start] {
                    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                    start.Arrive();
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

TEST_F(ErrorsTest, ThreadsAndProcessesLoggingAtOnceLoseNoRecord) {
    constexpr int kProcesses = 2;
    constexpr int kRecords = 5000;
    constexpr int kThreads = 2;  // in each process, sharing its records
    std::fflush(nullptr);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            errtest::TraceErrors(false);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([p, t] {
                    for (int i = t; i < kRecords; i += kThreads) {
                        const std::string text = "p" + std::to_string(p) + ":" + std::to_string(i);
                        if (i % 5 == 0) {
                            std::ostream& stream = KesMakeErrorStream();
                            stream << text;
                            KesLogEvent(EVENTLOG_WARNING_TYPE, stream);
                        } else {
                            const host::wstring wide = errtest::Wide(text);
                            const unsigned short* strings[] = {wide.c_str()};
                            KesLogInfo(static_cast<DWORD>(i), 1, strings, 0, nullptr);
                        }
                    }
                });
            }
            for (std::thread& thread : threads)
                thread.join();
            ::_exit(0);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<errtest::Record> records = Records();
    EXPECT_EQ(records.size(), static_cast<std::size_t>(kProcesses * kRecords));
    std::map<std::int64_t, std::set<std::string>> byProcess;
    for (const errtest::Record& record : records) {
        ASSERT_EQ(record.strings.size(), 1u);
        EXPECT_TRUE(byProcess[record.pid].insert(record.strings[0]).second)
            << "duplicate " << record.strings[0];
    }
    ASSERT_EQ(byProcess.size(), static_cast<std::size_t>(kProcesses));
    for (const auto& [pid, texts] : byProcess) {
        EXPECT_EQ(texts.size(), static_cast<std::size_t>(kRecords)) << "process " << pid;
        const std::string first = *texts.begin();
        const std::string prefix = first.substr(0, first.find(':') + 1);
        for (int i = 0; i < kRecords; ++i)
            EXPECT_EQ(texts.count(prefix + std::to_string(i)), 1u) << prefix << i;
    }
}

}  // namespace
