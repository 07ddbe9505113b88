#include "platform/wake_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace tarvi {

WakeQueue::WakeQueue() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (fd_ < 0)
        throw std::runtime_error("no event file descriptor for the device threads");
}

WakeQueue::~WakeQueue()
{
    ::close(fd_);
}

void WakeQueue::post(std::function<void()> fn)
{
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(fn));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeQueue::runAll()
{
    std::uint64_t count = 0;
    while (::read(fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
    }
    for (;;) {
        std::function<void()> fn;
        {
            const std::lock_guard lock(mutex_);
            if (queue_.empty())
                return;
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
    }
}

}  // namespace tarvi
