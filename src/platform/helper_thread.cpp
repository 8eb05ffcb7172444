// The one helper-thread type: jobs handed over from the main thread, run in order.
#include "platform/helper_thread.h"

namespace mc {

void HelperThread::handOver(std::function<void()> job) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!thread_.joinable()) {
        stopping_ = false;
        thread_ = std::thread(&HelperThread::loop, this);
    }
    changed_.wait(guard, [&] { return jobs_.size() < maxWaiting_; });
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void HelperThread::waitUntilIdle() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return jobs_.empty() && !busy_; });
}

void HelperThread::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        changed_.notify_all();
    }
    thread_.join();
}

void HelperThread::loop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [&] { return !jobs_.empty() || stopping_; });
        if (jobs_.empty()) return;  // stopping, with nothing left to run
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        changed_.notify_all();
        guard.unlock();
        job();
        guard.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace mc
