#pragma once

// The program's end of a simulator's line, opened and set up the plain way.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ranges>
#include <string>
#include <thread>
#include <vector>

namespace tarvi::sim::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// True once the condition holds; false after a bound a healthy machine never reaches.
inline bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return condition();
}

class Line {
public:
    explicit Line(const std::string& path, speed_t speed = B9600)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        EXPECT_GE(fd_, 0) << path << ": " << std::strerror(errno);
        setSpeed(speed);
    }
    ~Line() { ::close(fd_); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // No parity: a pseudo-terminal drops the flag, and the C library then
    // fails a call that changes nothing else.
    void setSpeed(speed_t speed)
    {
        termios line{};
        ::tcgetattr(fd_, &line);
        ::cfmakeraw(&line);
        line.c_cflag = (line.c_cflag | CREAD | CLOCAL) & ~tcflag_t(CSTOPB);
        ::cfsetispeed(&line, speed);
        ::cfsetospeed(&line, speed);
        ASSERT_EQ(::tcsetattr(fd_, TCSANOW, &line), 0) << std::strerror(errno);
    }
    template <std::ranges::contiguous_range R>
    void send(const R& bytes) { ASSERT_EQ(::write(fd_, std::data(bytes), std::size(bytes)), ssize_t(std::size(bytes))); }
    void send(const char* text) { send(std::string(text)); }
    // Up to count bytes; within totalMs, ended early by quietMs of quiet after a byte.
    Bytes receive(std::size_t count, int totalMs = 10000, int quietMs = 10000)
    {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            std::uint8_t buffer[512];
            if (left <= 0ms || ::poll(&p, 1, int(got.empty() ? left.count() : std::min<long>(left.count(), quietMs))) <= 0)
                break;
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    // A telescope's reply: whatever comes within totalMs, ended by 25 ms of quiet.
    std::string ask(const std::string& command, int totalMs = 1000)
    {
        send(command);
        const Bytes reply = receive(512, totalMs, 25);
        return {reply.begin(), reply.end()};
    }
    std::size_t pending() const
    {
        int count = 0;
        ::ioctl(fd_, FIONREAD, &count);
        return std::size_t(count);
    }
    bool hungUp() const
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }

private:
    int fd_;
};

}  // namespace tarvi::sim::test
