#pragma once

#include <cstdint>
#include <ctime>

namespace tarvi {

// Time as the program's logic sees it. Exposures, time-outs and the telescope
// clock read it through here so that tests can run hours in an instant.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from an arbitrary start; never goes backwards.
    virtual std::int64_t nowMs() = 0;
    // Calendar time in seconds since 1970 (UTC).
    virtual std::time_t nowSeconds() = 0;
    virtual void sleepMs(std::int64_t ms) = 0;
};

class SystemClock final : public Clock {
public:
    std::int64_t nowMs() override;
    std::time_t nowSeconds() override;
    void sleepMs(std::int64_t ms) override;
};

}  // namespace tarvi
