#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "sim/pseudo_terminal.h"

namespace tarvi::sim {

// What every simulated device does with its line: a thread of its own serves
// the pseudo-terminal, and the line can be pulled out and plugged in again.
// A device's destructor calls stop() before its own members go.
class LineDevice {
public:
    LineDevice(const LineDevice&) = delete;
    LineDevice& operator=(const LineDevice&) = delete;

    void start();
    // Stops the thread; the line stays open until destruction.
    void stop();

    // The port for the program to open.
    const std::string& slavePath() const { return pty_.slavePath(); }

    // The device goes away: the program's reads and writes fail from now on.
    void hangUp();
    // It comes back, as it was when it went, on a new pseudo-terminal (the
    // program finds it by slavePath()). Faults that hang it up again stay.
    void plugIn();

protected:
    LineDevice() = default;
    ~LineDevice() = default;

    // The device's side of the line, until stopping_ is set.
    virtual void run() = 0;
    // Called by run(): a hang-up asked for closes the line now; true when it did.
    bool hangUpNow();

    PseudoTerminal pty_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> hangUpRequested_{false};

private:
    std::atomic<std::uint64_t> hangUps_{0};
    std::thread thread_;
};

}  // namespace tarvi::sim
