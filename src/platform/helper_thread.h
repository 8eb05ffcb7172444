// A second thread for work handed over from the main one: started when the first job comes,
// running the jobs in the order given, waited for until idle, stopped at the end. Every hand-over
// of the tool goes through it: the write-behind of large files, the binary tile's block
// printing, the raster height lookups and the console's flushing on a terminal.
//
// Lifetimes: a job is a function object; whatever it captures by reference (or by pointer) must
// outlive the job's end, which the giver learns from waitUntilIdle, stop or the destructor (all
// three return only once every job handed over has run). Each user names in a comment at its
// hand-over what the job uses and why that lives long enough. A job that never ends (the
// console's flusher) needs a HelperThread that is never stopped or destroyed.
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
    /// Runs the jobs still queued, then ends the thread (as stop does).
    ~HelperThread() { stop(); }
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    /// Queues the job, starting the thread with the first one. What the job refers to must live
    /// until waitUntilIdle, stop or the destructor has returned.
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
