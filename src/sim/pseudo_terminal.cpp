#include "sim/pseudo_terminal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace tarvi::sim {
namespace {

constexpr std::array<std::pair<speed_t, std::uint32_t>, 19> speeds{{
    {B50, 50},       {B75, 75},       {B110, 110},     {B134, 134},     {B150, 150},
    {B200, 200},     {B300, 300},     {B600, 600},     {B1200, 1200},   {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},   {B9600, 9600},   {B19200, 19200}, {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
}};

std::uint32_t baudOf(speed_t speed)
{
    const auto found = std::find_if(speeds.begin(), speeds.end(), [&](const auto& s) { return s.first == speed; });
    return found == speeds.end() ? 0 : found->second;
}

[[noreturn]] void fail(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

PseudoTerminal::PseudoTerminal()
{
    try {
        openPair();
    } catch (...) {
        close();
        closeFd(wake_);
        throw;
    }
}

void PseudoTerminal::openPair()
{
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0)
        fail("eventfd");
    // Non-blocking, so that a program that stops reading cannot wedge the
    // simulator's thread in a write it could never leave.
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0)
        fail("posix_openpt");
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0)
        fail("pseudo-terminal slave");
    slavePath_ = name;
    slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slaveHold_ < 0)
        fail(name);
    // A fresh pseudo-terminal echoes and edits lines; a serial port passes
    // bytes through, and the program's own settings come on top of that.
    termios line{};
    if (::tcgetattr(slaveHold_, &line) == 0) {
        ::cfmakeraw(&line);
        ::cfsetispeed(&line, B9600);
        ::cfsetospeed(&line, B9600);
        ::tcsetattr(slaveHold_, TCSANOW, &line);
    }
}

PseudoTerminal::~PseudoTerminal()
{
    close();
    closeFd(wake_);
}

std::optional<LineSpeed> PseudoTerminal::lineSpeed() const
{
    if (master_ < 0)
        return std::nullopt;
    // On the master this reads the slave's settings: the two share one set.
    termios line{};
    if (::tcgetattr(master_, &line) != 0)
        return std::nullopt;
    return LineSpeed{baudOf(::cfgetospeed(&line)), (line.c_cflag & CSTOPB) ? 2 : 1};
}

int PseudoTerminal::waitFor(short events, std::chrono::steady_clock::time_point deadline)
{
    pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, events, 0}};
    const nfds_t count = master_ >= 0 && events != 0 ? 2 : 1;
    for (;;) {
        const auto left = std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec limit{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        const int ready = ::ppoll(fds, count, &limit, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -2;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const auto ignored = ::read(wake_, &drained, sizeof drained);
            return -1;
        }
        if (ready == 0)
            return 0;
        return count == 2 ? fds[1].revents : 0;
    }
}

PseudoTerminal::Result PseudoTerminal::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (master_ < 0) {
        const int woken = waitFor(0, deadline);
        return {0, woken == -1 ? Status::interrupted : Status::closed, 0};
    }
    const int revents = waitFor(POLLIN, deadline);
    if (revents == -1)
        return {0, Status::interrupted, 0};
    if (revents == -2)
        return {0, Status::failed, errno};
    if (revents == 0)
        return {0, Status::timedOut, 0};
    if (!(revents & POLLIN)) {
        // A master with no slave behind it reports a hang-up at once, every
        // time; wait out the caller's time so that its loop does not spin.
        const int woken = waitFor(0, deadline);
        return {0, woken == -1 ? Status::interrupted : Status::hungUp, 0};
    }
    const ssize_t got = ::read(master_, buffer.data(), buffer.size());
    if (got > 0)
        return {static_cast<std::size_t>(got), Status::ok, 0};
    if (got == 0 || errno == EIO)
        return {0, Status::hungUp, 0};
    if (errno == EAGAIN || errno == EINTR)
        return {0, Status::timedOut, 0};
    return {0, Status::failed, errno};
}

PseudoTerminal::Result PseudoTerminal::write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (master_ < 0)
            return {done, Status::closed, 0};
        const ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EIO)
            return {done, Status::hungUp, 0};
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return {done, Status::failed, errno};
        const int revents = waitFor(POLLOUT, deadline);
        if (revents == -1)
            return {done, Status::interrupted, 0};
        if (revents == -2)
            return {done, Status::failed, errno};
        if (revents == 0)
            return {done, Status::timedOut, 0};
        if (!(revents & POLLOUT))
            return {done, Status::hungUp, 0};
    }
    return {done, Status::ok, 0};
}

bool PseudoTerminal::waitUntil(std::chrono::steady_clock::time_point deadline)
{
    return waitFor(0, deadline) != -1;
}

void PseudoTerminal::interrupt()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(wake_, &one, sizeof one);
}

void PseudoTerminal::close()
{
    closeFd(slaveHold_);
    closeFd(master_);
}

void PseudoTerminal::reopen()
{
    close();
    closeFd(wake_);
    openPair();
}

}  // namespace tarvi::sim
