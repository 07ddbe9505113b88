#include "platform/device_session.h"

#include <pthread.h>

namespace tarvi {

DeviceSession::DeviceSession(std::string name) : name_(std::move(name)), thread_([this] { run(); }) {}

DeviceSession::~DeviceSession()
{
    finish();
}

void DeviceSession::post(Job job)
{
    enqueue(jobs_, std::move(job));
}

void DeviceSession::postUrgent(Job job)
{
    enqueue(urgent_, std::move(job));
}

void DeviceSession::enqueue(std::deque<Job>& queue, Job job)
{
    {
        const std::lock_guard lock(mutex_);
        if (finishing_)
            return;
        queue.push_back(std::move(job));
    }
    wake_.notify_one();
}

bool DeviceSession::takeUrgent(Job& job)
{
    const std::lock_guard lock(mutex_);
    if (urgent_.empty())
        return false;
    job = std::move(urgent_.front());
    urgent_.pop_front();
    return true;
}

void DeviceSession::runUrgent()
{
    Job job;
    while (takeUrgent(job))
        job();
}

void DeviceSession::finish()
{
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
        jobs_.clear();
        urgent_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable() && !onThread())
        thread_.join();
}

void DeviceSession::run()
{
    // Linux keeps at most 15 characters of a thread's name.
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return finishing_ || !jobs_.empty() || !urgent_.empty(); });
            if (finishing_)
                return;
            std::deque<Job>& from = urgent_.empty() ? jobs_ : urgent_;
            job = std::move(from.front());
            from.pop_front();
        }
        if (beforeEachJob)
            beforeEachJob();
        job();
    }
}

std::function<void(std::function<void()> job, JobEnd ended)> sessionRunner(
    DeviceSession& session, bool urgent, std::function<void(JobEnd)> toLoop)
{
    return [&session, urgent, toLoop = std::move(toLoop)](std::function<void()> job, JobEnd ended) {
        auto run = [toLoop, job = std::move(job), ended = std::move(ended)]() mutable {
            job();
            toLoop(std::move(ended));
        };
        if (urgent)
            session.postUrgent(std::move(run));
        else
            session.post(std::move(run));
    };
}

}  // namespace tarvi
