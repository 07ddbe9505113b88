#include "platform/port_owner.h"

#include <cerrno>
#include <utility>

namespace tarvi {

bool deviceGone(const SysError& error)
{
    return error.failed() && error.code() != ETIMEDOUT && error.code() != EAGAIN && error.code() != EINTR;
}

// Nested operations are part of the outer one and take its kind.
PortOwner::Operation::Operation(PortOwner& owner, Kind kind) : owner_(owner), saved_(owner.kind_)
{
    if (owner_.depth_ == 0) {
        owner_.dropping_ = false;
        owner_.reopenTried_ = false;
        owner_.stopRequested_ = false;
        owner_.kind_ = kind;
    }
    ++owner_.depth_;
}

PortOwner::Operation::~Operation()
{
    owner_.kind_ = saved_;
    if (--owner_.depth_ > 0)
        return;
    owner_.dropping_ = false;
    owner_.reopenTried_ = false;
}

void PortOwner::start(std::function<void()> job, const JobRunner& how)
{
    ++jobs_;
    if (busyChanged)
        busyChanged();
    auto ended = [this] {
        // Idle again: an Exit that was asked for is over, or given up.
        if (--jobs_ == 0)
            stopRequested_ = false;
        if (busyChanged)
            busyChanged();
    };
    auto unlessStopped = [this, job = std::move(job)] {
        if (!stopRequested_)
            job();
    };
    if (!how) {
        unlessStopped();
        ended();
        return;
    }
    how(std::move(unlessStopped), std::move(ended));
}

std::string PortOwner::lossText(const SysError& error) const
{
    return (describe ? describe() : std::string("The port")) + " is no longer there: " + error.text();
}

void PortOwner::deviceLost(int handle, const SysError& error)
{
    dropping_ = true;
    if (!ports_.close(handle))
        return;  // closed already, and said so
    if (handle == handle_) {
        std::unique_lock<std::mutex> lock;
        if (handleGuard != nullptr)
            lock = std::unique_lock(*handleGuard);
        handle_ = PortTable::closed;
    }
    lost_ = true;
    // This command has had its chance: the next one opens the port afresh.
    reopenTried_ = true;
    if (closedByLoss)
        closedByLoss();
    const std::string text = lossText(error);
    if (deferLossMessage)
        keptMessage_ = text;
    else
        ui_.messageBox(text, "ERROR", Buttons::ok, BoxStyle{.setForeground = true});
}

std::string PortOwner::takeLossMessage()
{
    return std::exchange(keptMessage_, {});
}

bool PortOwner::openIfLost()
{
    if (open())
        return true;
    // Outside any operation every exchange is a command of its own.
    if (!busy())
        reopenTried_ = false;
    if (!lost_ || dropping() || kind_ == Kind::tick || reopenTried_)
        return false;
    reopenTried_ = true;
    // Said once by the opening itself when it fails; the rest of this
    // command is dropped then.
    return retryOpen();
}

bool PortOwner::retryOpen()
{
    if (open())
        return true;
    if (!reopen)
        return false;
    // A fresh start: the opening does its own exchanges, and the command
    // goes on if it succeeds.
    dropping_ = false;
    if (reopen() && open()) {
        lost_ = false;
        return true;
    }
    dropping_ = true;
    return false;
}

}  // namespace tarvi
