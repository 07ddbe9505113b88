#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace tarvi {

std::int64_t SystemClock::nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::time_t SystemClock::nowSeconds()
{
    return std::time(nullptr);
}

void SystemClock::sleepMs(std::int64_t ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace tarvi
