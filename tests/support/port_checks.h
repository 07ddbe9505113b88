#pragma once

// Shared by the tests of the serial port kinds.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/serial_port.h"

namespace tarvi::test {

// A total read deadline of constantMs, writes given 300 ms.
inline PortTimeouts readingFor(std::uint32_t constantMs)
{
    return {0, 0, constantMs, 0, 300};
}

inline std::vector<std::uint8_t> everyByteValue()
{
    std::vector<std::uint8_t> bytes(256);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

// Waits until the port holds `count` unread bytes: the far side hands them
// over on a kernel worker, not inside its own write.
inline void waitForQueued(SerialPort& port, std::size_t count)
{
    PortStatus status;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < giveUp) {
        ASSERT_FALSE(port.clearErrors(status).failed());
        if (status.inQueue >= count)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(status.inQueue, count);
}

}  // namespace tarvi::test
