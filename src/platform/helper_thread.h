// A second thread for work handed over from the main one: started when the first job comes,
// running the jobs in the order given, waited for until idle, stopped at the end.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace mc {

class HelperThread {
  public:
    /// At most `maxWaiting` jobs wait besides the one running: a hand-over beyond that waits.
    explicit HelperThread(size_t maxWaiting = 1) : maxWaiting_(maxWaiting) {}
    ~HelperThread() { stop(); }
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    /// Queues the job, starting the thread with the first one.
    void handOver(std::function<void()> job);
    /// Returns once every job handed over has run.
    void waitUntilIdle();
    /// Runs the jobs still queued, then ends the thread; a later hand-over starts it again.
    void stop();
    bool started() const { return thread_.joinable(); }

  private:
    void loop();

    size_t maxWaiting_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool busy_ = false;  // a job is running
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace mc
