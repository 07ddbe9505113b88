#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace tarvi {

// Work handed from any thread to the one thread that runs an event loop:
// a queue under a mutex, and an event file descriptor the loop watches,
// readable while work waits.
class WakeQueue {
public:
    // Throws std::runtime_error when the system has no descriptor to give.
    WakeQueue();
    ~WakeQueue();
    WakeQueue(const WakeQueue&) = delete;
    WakeQueue& operator=(const WakeQueue&) = delete;

    // What the loop watches for reading.
    int fd() const { return fd_; }
    // From any thread: fn runs on the loop's thread after everything posted before it.
    void post(std::function<void()> fn);
    // On the loop's thread, when fd() is readable: everything posted so far runs.
    void runAll();

private:
    int fd_ = -1;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace tarvi
