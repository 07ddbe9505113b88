#pragma once

// Shared by the tests of the serial port kinds.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/serial_port.h"

namespace tarvi::test {

// A total read deadline of constantMs, writes given 300 ms.
inline PortTimeouts readingFor(std::uint32_t constantMs)
{
    PortTimeouts timeouts;
    timeouts.readTotalConstant = constantMs;
    timeouts.writeTotalConstant = 300;
    return timeouts;
}

inline std::vector<std::uint8_t> everyByteValue()
{
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
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
