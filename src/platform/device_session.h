#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tarvi {

// A device's own thread. It runs the device's jobs one at a time, in the
// order they were posted; an urgent job (a stop) goes before every job that
// waits, and a running job runs the urgent ones at its exchange boundaries.
// While a job runs, this thread owns the device's port and link state.
class DeviceSession {
public:
    using Job = std::function<void()>;

    // name: what the thread is called in a debugger ("camera").
    explicit DeviceSession(std::string name);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    void post(Job job);
    void postUrgent(Job job);
    // Called by a running job where the device is between exchanges: the
    // urgent jobs posted meanwhile run now, on this thread.
    void runUrgent();
    bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    std::thread::id threadId() const { return thread_.get_id(); }

    // Runs on this thread before each job.
    std::function<void()> beforeEachJob;

    // The jobs still waiting are dropped, the running one is waited for, and
    // the thread ends. Jobs posted afterwards are dropped too.
    void finish();

private:
    void run();
    void enqueue(std::deque<Job>& queue, Job job);
    bool takeUrgent(Job& job);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::deque<Job> urgent_;
    bool finishing_ = false;
    std::string name_;
    std::thread thread_;
};

// A runner of a port's jobs: each runs on the session's thread (before the
// jobs that wait, when urgent), and then `toLoop` hands `ended` to the
// thread of the event loop that counts the port's jobs.
using JobEnd = std::function<void()>;
std::function<void(std::function<void()> job, JobEnd ended)> sessionRunner(
    DeviceSession& session, bool urgent, std::function<void(JobEnd)> toLoop);

}  // namespace tarvi
