#include "platform/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>


namespace tarvi {

namespace {

using Steady = std::chrono::steady_clock;

// MAXDWORD: in the Windows time-out values it means "no limit" or, in the
// combinations readPlan knows, "do not wait".
constexpr std::uint32_t maxDword = 0xFFFFFFFFu;
// A total beyond this (some 35 years) is no limit at all; it also keeps the
// deadline from overflowing the clock.
constexpr std::uint64_t unlimitedMs = std::uint64_t{1} << 40;

constexpr tcflag_t rawInputOff = IGNBRK | BRKINT | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC;
constexpr tcflag_t rawLocalOff = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t rawControlOn = CLOCAL | CREAD;

struct Rate {
    std::uint32_t baud;
    speed_t speed;
};

constexpr Rate rates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool isRaw(const termios& state)
{
    return (state.c_iflag & rawInputOff) == 0 && (state.c_oflag & OPOST) == 0 && (state.c_lflag & rawLocalOff) == 0 &&
           (state.c_cflag & rawControlOn) == rawControlOn && state.c_cc[VMIN] == 1 && state.c_cc[VTIME] == 0;
}

// A pseudo-terminal, and some USB adapters, have no modem lines and say so.
bool noModemLines(int error)
{
    return error == ENOTTY || error == EINVAL;
}

std::optional<std::uint64_t> totalMs(std::uint32_t constant, std::uint32_t multiplier, std::size_t count)
{
    if (constant == 0 && multiplier == 0)
        return std::nullopt;
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(std::uint64_t{multiplier}, std::uint64_t{count}, &product) || product >= unlimitedMs)
        return std::nullopt;
    const std::uint64_t sum = product + constant;
    if (sum >= unlimitedMs)
        return std::nullopt;
    return sum;
}

std::optional<Steady::time_point> after(Steady::time_point from, std::optional<std::uint64_t> ms)
{
    if (!ms)
        return std::nullopt;
    return from + std::chrono::milliseconds(static_cast<std::int64_t>(*ms));
}

// Waits until `fd` is ready for `events` or `until` has passed (no limit when
// empty). Returns the poll events, 0 when time ran out, -1 with errno set.
int waitFor(int fd, short events, std::optional<Steady::time_point> until)
{
    for (;;) {
        timespec wait{};
        timespec* limit = nullptr;
        if (until) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*until - Steady::now()).count();
            if (left > 0) {
                wait.tv_sec = static_cast<time_t>(left / 1000000000);
                wait.tv_nsec = static_cast<long>(left % 1000000000);
            }
            limit = &wait;
        }
        pollfd entry{fd, events, 0};
        const int ready = ::ppoll(&entry, 1, limit, nullptr);
        if (ready > 0)
            return entry.revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// The end of input: a terminal that has been hung up reads as end of file
// (after poll() said it was readable), a socket whose peer has gone likewise.
SysError endOfInput(DescriptorKind kind)
{
    return SysError(kind == DescriptorKind::terminal ? EIO : ECONNRESET);
}

}  // namespace

std::uint32_t baudFromSpeed(speed_t speed)
{
    for (const Rate& rate : rates)
        if (rate.speed == speed)
            return rate.baud;
    return 0;
}

std::optional<speed_t> speedFromBaud(std::uint32_t baud)
{
    for (const Rate& rate : rates)
        if (rate.baud == baud)
            return rate.speed;
    return std::nullopt;
}

LineSettings lineSettingsFromTermios(const termios& state)
{
    LineSettings settings;
    settings.baud = baudFromSpeed(cfgetospeed(&state));
    switch (state.c_cflag & CSIZE) {
    case CS5:
        settings.dataBits = 5;
        break;
    case CS6:
        settings.dataBits = 6;
        break;
    case CS7:
        settings.dataBits = 7;
        break;
    default:
        settings.dataBits = 8;
        break;
    }
    const bool odd = (state.c_cflag & PARODD) != 0;
    if ((state.c_cflag & PARENB) == 0)
        settings.parity = Parity::none;
    else if ((state.c_cflag & CMSPAR) != 0)
        settings.parity = odd ? Parity::mark : Parity::space;
    else
        settings.parity = odd ? Parity::odd : Parity::even;
    settings.stopBits = (state.c_cflag & CSTOPB) != 0 ? 2 : 1;
    // Each flag reads as the state the program asks for only when the termios
    // has all of it, so that asking for it again changes what is missing.
    settings.parityCheck = (state.c_iflag & INPCK) != 0 && (state.c_iflag & (IGNPAR | PARMRK)) == 0;
    settings.hardwareFlow = (state.c_cflag & CRTSCTS) != 0;
    settings.softwareFlow = (state.c_iflag & (IXON | IXOFF | IXANY)) != 0;
    settings.binary = isRaw(state);
    settings.native.resize(sizeof state);
    std::memcpy(settings.native.data(), &state, sizeof state);
    return settings;
}

SysError applyLineSettings(const LineSettings& settings, termios& state)
{
    const LineSettings now = lineSettingsFromTermios(state);
    termios wanted = state;

    if (settings.baud != now.baud) {
        const auto speed = speedFromBaud(settings.baud);
        if (!speed)
            return SysError(EINVAL);
        cfsetispeed(&wanted, *speed);
        cfsetospeed(&wanted, *speed);
    }
    if (settings.dataBits != now.dataBits) {
        tcflag_t size = 0;
        switch (settings.dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return SysError(EINVAL);
        }
        wanted.c_cflag = (wanted.c_cflag & ~CSIZE) | size;
    }
    if (settings.stopBits != now.stopBits) {
        if (settings.stopBits == 1)
            wanted.c_cflag &= ~CSTOPB;
        else if (settings.stopBits == 2)
            wanted.c_cflag |= CSTOPB;
        else
            return SysError(EINVAL);
    }
    if (settings.parity != now.parity) {
        wanted.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (settings.parity) {
        case Parity::none:
            break;
        case Parity::odd:
            wanted.c_cflag |= PARENB | PARODD;
            break;
        case Parity::even:
            wanted.c_cflag |= PARENB;
            break;
        case Parity::mark:
            wanted.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case Parity::space:
            wanted.c_cflag |= PARENB | CMSPAR;
            break;
        }
    }
    if (settings.parityCheck != now.parityCheck) {
        if (settings.parityCheck) {
            wanted.c_iflag |= INPCK;
            wanted.c_iflag &= ~(IGNPAR | PARMRK);
        } else {
            wanted.c_iflag &= ~INPCK;
        }
    }
    if (settings.hardwareFlow != now.hardwareFlow) {
        if (settings.hardwareFlow)
            wanted.c_cflag |= CRTSCTS;
        else
            wanted.c_cflag &= ~CRTSCTS;
    }
    if (settings.softwareFlow != now.softwareFlow) {
        if (settings.softwareFlow)
            wanted.c_iflag |= IXON | IXOFF;
        else
            wanted.c_iflag &= ~(IXON | IXOFF | IXANY);
    }
    if (settings.binary != now.binary) {
        if (settings.binary) {
            wanted.c_iflag &= ~rawInputOff;
            wanted.c_oflag &= ~OPOST;
            wanted.c_lflag &= ~rawLocalOff;
            wanted.c_cflag |= rawControlOn;
            // VMIN 1: poll() on a terminal reports input only once VMIN bytes
            // are in, and the deadline loop wants to hear of every byte.
            wanted.c_cc[VMIN] = 1;
            wanted.c_cc[VTIME] = 0;
        } else {
            wanted.c_iflag |= BRKINT | ICRNL;
            wanted.c_oflag |= OPOST | ONLCR;
            wanted.c_lflag |= ECHO | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;
        }
    }
    state = wanted;
    return {};
}

ReadPlan readPlan(const PortTimeouts& timeouts, std::size_t count)
{
    ReadPlan plan;
    if (timeouts.readInterval == maxDword) {
        if (timeouts.readTotalConstant == 0 && timeouts.readTotalMultiplier == 0) {
            plan.totalMs = 0;
            return plan;
        }
        if (timeouts.readTotalMultiplier == maxDword && timeouts.readTotalConstant != 0 &&
            timeouts.readTotalConstant != maxDword) {
            plan.totalMs = timeouts.readTotalConstant;
            plan.returnOnFirstBytes = true;
            return plan;
        }
    } else if (timeouts.readInterval != 0) {
        plan.intervalMs = timeouts.readInterval;
    }
    plan.totalMs = totalMs(timeouts.readTotalConstant, timeouts.readTotalMultiplier, count);
    return plan;
}

std::optional<std::uint64_t> writeLimitMs(const PortTimeouts& timeouts, std::size_t count)
{
    return totalMs(timeouts.writeTotalConstant, timeouts.writeTotalMultiplier, count);
}

IoResult readWithin(int fd, DescriptorKind kind, std::span<std::uint8_t> buffer, const PortTimeouts& timeouts,
                    const SerialPort::ReplyComplete& complete)
{
    IoResult result;
    if (buffer.empty())
        return result;
    const ReadPlan plan = readPlan(timeouts, buffer.size());
    const Steady::time_point start = Steady::now();
    const std::optional<Steady::time_point> deadline = after(start, plan.totalMs);
    Steady::time_point lastByte = start;

    for (;;) {
        std::optional<Steady::time_point> until = deadline;
        if (plan.intervalMs && result.count > 0) {
            const Steady::time_point gapEnd = lastByte + std::chrono::milliseconds(*plan.intervalMs);
            if (!until || gapEnd < *until)
                until = gapEnd;
        }
        const int events = waitFor(fd, POLLIN, until);
        if (events < 0) {
            result.error = SysError::fromErrno();
            return result;
        }
        if (events == 0) {
            // Time is up: take what is already queued without waiting. This
            // also finds bytes that poll() did not report because the line
            // was left with VMIN above 1.
            while (result.count < buffer.size()) {
                const ssize_t got = ::read(fd, buffer.data() + result.count, buffer.size() - result.count);
                if (got > 0) {
                    result.count += static_cast<std::size_t>(got);
                    continue;
                }
                if (got < 0 && errno == EINTR)
                    continue;
                if (got == 0 && kind == DescriptorKind::socket)
                    result.error = endOfInput(kind);
                else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    result.error = SysError::fromErrno();
                break;
            }
            return result;
        }

        const ssize_t got = ::read(fd, buffer.data() + result.count, buffer.size() - result.count);
        if (got > 0) {
            result.count += static_cast<std::size_t>(got);
            lastByte = Steady::now();
            if (result.count == buffer.size() || plan.returnOnFirstBytes
                || (complete && complete(buffer.first(result.count))))
                return result;
            continue;
        }
        if (got == 0) {
            result.error = endOfInput(kind);
            return result;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Readiness without data after a hang-up would otherwise spin.
            if ((events & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                result.error = endOfInput(kind);
                return result;
            }
            continue;
        }
        result.error = SysError::fromErrno();
        return result;
    }
}

IoResult writeWithin(int fd, DescriptorKind kind, std::span<const std::uint8_t> bytes, const PortTimeouts& timeouts)
{
    IoResult result;
    if (bytes.empty())
        return result;
    const std::optional<Steady::time_point> deadline = after(Steady::now(), writeLimitMs(timeouts, bytes.size()));
    bool hungUp = false;

    while (result.count < bytes.size()) {
        const std::uint8_t* from = bytes.data() + result.count;
        const std::size_t left = bytes.size() - result.count;
        const ssize_t sent =
            kind == DescriptorKind::socket ? ::send(fd, from, left, MSG_NOSIGNAL) : ::write(fd, from, left);
        if (sent > 0) {
            result.count += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent == 0) {
            result.error = SysError(EIO);
            return result;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result.error = SysError::fromErrno();
            return result;
        }
        if (hungUp) {
            result.error = SysError(kind == DescriptorKind::socket ? EPIPE : EIO);
            return result;
        }
        const int events = waitFor(fd, POLLOUT, deadline);
        if (events < 0) {
            result.error = SysError::fromErrno();
            return result;
        }
        if (events == 0)
            return result;
        hungUp = (events & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return result;
}

PortOpener::Result PosixSerialPort::open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {nullptr, SysError::fromErrno()};
    const auto fail = [fd](SysError error) {
        ::close(fd);
        return PortOpener::Result{nullptr, error};
    };

    termios state{};
    if (::tcgetattr(fd, &state) != 0)
        return fail(SysError::fromErrno());
    // As root TIOCEXCL keeps nobody out; the lock does, for every program that
    // locks its ports. A file system without locks leaves TIOCEXCL alone.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return fail(SysError(EBUSY));
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)
        return fail(SysError::fromErrno());
    // Bytes a device sent before this program came are no answer to anything
    // it will ask.
    ::tcflush(fd, TCIOFLUSH);
    return {std::unique_ptr<SerialPort>(new PosixSerialPort(fd)), {}};
}

PosixSerialPort::~PosixSerialPort()
{
    // The exclusive flag belongs to the terminal, not to this descriptor: a
    // pseudo-terminal whose other users keep it alive would stay closed to
    // non-root programs after we have gone.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

SysError PosixSerialPort::setQueueSizes(std::size_t, std::size_t)
{
    return {};
}

SysError PosixSerialPort::getLineSettings(LineSettings& settings)
{
    termios state{};
    if (::tcgetattr(fd_, &state) != 0)
        return SysError::fromErrno();
    LineSettings read = lineSettingsFromTermios(state);
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
        read.dtrOn = (lines & TIOCM_DTR) != 0;
        read.rtsOn = (lines & TIOCM_RTS) != 0;
    } else if (!noModemLines(errno)) {
        return SysError::fromErrno();
    }
    settings = std::move(read);
    return {};
}

SysError PosixSerialPort::setLineSettings(const LineSettings& settings)
{
    termios wanted{};
    if (settings.native.size() == sizeof wanted)
        std::memcpy(&wanted, settings.native.data(), sizeof wanted);
    else if (::tcgetattr(fd_, &wanted) != 0)
        return SysError::fromErrno();
    if (const SysError error = applyLineSettings(settings, wanted); error.failed())
        return error;
    // A pseudo-terminal keeps no parity: it drops PARENB and, when that was
    // the only change, tcsetattr says EINVAL although everything else took.
    if (::tcsetattr(fd_, TCSANOW, &wanted) != 0 && errno != EINVAL)
        return SysError::fromErrno();

    // tcsetattr succeeds when any part of the change took: a rate the driver
    // cannot do shows only when read back.
    termios now{};
    if (::tcgetattr(fd_, &now) != 0)
        return SysError::fromErrno();
    if (cfgetospeed(&now) != cfgetospeed(&wanted) || (now.c_cflag & CSIZE) != (wanted.c_cflag & CSIZE))
        return SysError(EINVAL);

    const int dtr = TIOCM_DTR;
    const int rts = TIOCM_RTS;
    if (::ioctl(fd_, settings.dtrOn ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && !noModemLines(errno))
        return SysError::fromErrno();
    if (::ioctl(fd_, settings.rtsOn ? TIOCMBIS : TIOCMBIC, &rts) != 0 && !noModemLines(errno))
        return SysError::fromErrno();
    return {};
}

SysError PosixSerialPort::getTimeouts(PortTimeouts& timeouts)
{
    timeouts = timeouts_;
    return {};
}

SysError PosixSerialPort::setTimeouts(const PortTimeouts& timeouts)
{
    timeouts_ = timeouts;
    return {};
}

SysError PosixSerialPort::discardInput()
{
    return ::tcflush(fd_, TCIFLUSH) == 0 ? SysError() : SysError::fromErrno();
}

SysError PosixSerialPort::clearErrors(PortStatus& status)
{
    status = PortStatus{};
    termios state{};
    if (::tcgetattr(fd_, &state) != 0)
        return SysError::fromErrno();
    if ((state.c_cflag & CRTSCTS) != 0) {
        int lines = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) == 0)
            status.ctsHold = (lines & TIOCM_CTS) == 0;
        else if (!noModemLines(errno))
            return SysError::fromErrno();
    }
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0)
        return SysError::fromErrno();
    status.inQueue = static_cast<std::size_t>(queued);
    return {};
}

IoResult PosixSerialPort::read(std::span<std::uint8_t> buffer)
{
    return readWithin(fd_, DescriptorKind::terminal, buffer, timeouts_);
}

IoResult PosixSerialPort::readReply(std::span<std::uint8_t> buffer, const ReplyComplete& complete)
{
    return readWithin(fd_, DescriptorKind::terminal, buffer, timeouts_, complete);
}

IoResult PosixSerialPort::write(std::span<const std::uint8_t> bytes)
{
    return writeWithin(fd_, DescriptorKind::terminal, bytes, timeouts_);
}

}  // namespace tarvi
