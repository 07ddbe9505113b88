#include "sim/line_device.h"

#include <chrono>

namespace tarvi::sim {

void LineDevice::start()
{
    if (thread_.joinable())
        return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void LineDevice::stop()
{
    if (!thread_.joinable())
        return;
    stopping_ = true;
    pty_.interrupt();
    thread_.join();
}

void LineDevice::hangUp()
{
    if (!thread_.joinable()) {
        pty_.close();
        return;
    }
    const auto before = hangUps_.load();
    hangUpRequested_ = true;
    pty_.interrupt();
    // The line is gone when this returns.
    for (int waited = 0; waited < 2000 && hangUps_.load() == before; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LineDevice::plugIn()
{
    const bool running = thread_.joinable();
    stop();
    hangUpRequested_ = false;
    pty_.reopen();
    if (running)
        start();
}

bool LineDevice::hangUpNow()
{
    if (!hangUpRequested_.exchange(false))
        return false;
    pty_.close();
    ++hangUps_;
    return true;
}

}  // namespace tarvi::sim
