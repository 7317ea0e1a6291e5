// Pieces shared by the benchmark programs.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kesbench {

// A thread that sleeps until the object goes away: makes the process
// multi-threaded for the benchmark that holds it, so that lock figures are
// those of a program with threads (some locks take a cheaper path without).
class ParkedThread {
  public:
    ParkedThread()
        : m_thread([this] {
              std::unique_lock<std::mutex> lock(m_mutex);
              m_wake.wait(lock, [this] { return m_done; });
          }) {}
    ~ParkedThread() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    ParkedThread(const ParkedThread&) = delete;
    ParkedThread& operator=(const ParkedThread&) = delete;

  private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;  // guarded by m_mutex
    std::thread m_thread;
};

}  // namespace kesbench
