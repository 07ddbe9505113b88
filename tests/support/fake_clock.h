#pragma once

#include <functional>
#include <vector>

#include "platform/clock.h"

namespace tarvi::test {

// A clock that stands still until somebody sleeps or advances it.
class FakeClock final : public Clock {
public:
    explicit FakeClock(std::time_t startSeconds = 1796515200)  // 2026-12-06 00:00 UTC
        : startSeconds_(startSeconds) {}

    std::int64_t nowMs() override { return nowMs_; }
    std::time_t nowSeconds() override { return startSeconds_ + static_cast<std::time_t>(nowMs_ / 1000); }
    void sleepMs(std::int64_t ms) override
    {
        sleeps.push_back(ms);
        // A device's wait is slices with one look between them; two looks
        // in a row (the end of one wait, the start of the next) part waits.
        if (!waits.empty() && looksSinceSleep_ == 1)
            waits.back() += ms;
        else
            waits.push_back(ms);
        looksSinceSleep_ = 0;
        if (ms > 0)
            nowMs_ += ms;
        if (onSleep)
            onSleep(ms);
    }
    void advance(std::int64_t ms) { nowMs_ += ms; }
    // Device work looked up: FakeUi tells a clock it is given.
    void looked() { ++looksSinceSleep_; }
    void clearSleeps() { sleeps.clear(); waits.clear(); }

    // Every sleep, the slices of a wait each on their own.
    std::vector<std::int64_t> sleeps;
    // The waits those slices made, when the program's Ui is a FakeUi that
    // knows this clock.
    std::vector<std::int64_t> waits;
    // Called after each sleep, with the clock already moved on.
    std::function<void(std::int64_t)> onSleep;

private:
    std::time_t startSeconds_;
    std::int64_t nowMs_ = 1000000;
    int looksSinceSleep_ = 2;
};

}  // namespace tarvi::test
