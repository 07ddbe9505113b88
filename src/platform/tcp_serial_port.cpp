#include "platform/tcp_serial_port.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <strings.h>

#include "platform/posix_serial_port.h"

namespace tarvi {

namespace {

using Steady = std::chrono::steady_clock;

// Keep-alive probes after 10 s of silence, every 5 s, three of them: a bridge
// that lost power is reported within half a minute instead of two hours.
constexpr int keepIdleSeconds = 10;
constexpr int keepIntervalSeconds = 5;
constexpr int keepCount = 3;

SysError fromResolver(int code)
{
    switch (code) {
    case EAI_SYSTEM:
        return SysError::fromErrno();
    case EAI_AGAIN:
        return SysError(EAGAIN);
    case EAI_MEMORY:
        return SysError(ENOMEM);
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
    case EAI_FAIL:
        return SysError(ENXIO);
    default:
        return SysError(EINVAL);
    }
}

// Waits for a non-blocking connect to finish; the connection's own error, or
// ETIMEDOUT when the deadline passes first.
SysError finishConnect(int fd, Steady::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) + 1 : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return SysError::fromErrno();
        if (ready == 0)
            return SysError(ETIMEDOUT);
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return SysError::fromErrno();
        return SysError(error);
    }
}

struct SocketOption {
    int level;
    int name;
    int value;
};

constexpr SocketOption socketOptions[] = {
    {IPPROTO_TCP, TCP_NODELAY, 1},
    {SOL_SOCKET, SO_KEEPALIVE, 1},
    {IPPROTO_TCP, TCP_KEEPIDLE, keepIdleSeconds},
    {IPPROTO_TCP, TCP_KEEPINTVL, keepIntervalSeconds},
    {IPPROTO_TCP, TCP_KEEPCNT, keepCount},
};

SysError configureSocket(int fd)
{
    for (const SocketOption& option : socketOptions)
        if (::setsockopt(fd, option.level, option.name, &option.value, sizeof option.value) != 0)
            return SysError::fromErrno();
    return {};
}

}  // namespace

std::optional<TcpAddress> parseTcpDevice(const std::string& device)
{
    constexpr std::size_t prefix = 4;
    if (device.size() < prefix || ::strncasecmp(device.c_str(), "tcp:", prefix) != 0)
        return std::nullopt;
    const std::string rest = device.substr(prefix);

    TcpAddress address;
    std::size_t colon = std::string::npos;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        address.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos)
            return std::nullopt;
        address.host = rest.substr(0, colon);
    }
    address.port = rest.substr(colon + 1);
    if (address.host.empty() || address.port.empty() || address.port.size() > 5)
        return std::nullopt;
    unsigned number = 0;
    for (const char c : address.port) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number == 0 || number > 65535)
        return std::nullopt;
    return address;
}

PortOpener::Result TcpSerialPort::open(const std::string& device, int connectTimeoutMs)
{
    const std::optional<TcpAddress> address = parseTcpDevice(device);
    if (!address)
        return {nullptr, SysError(EINVAL)};

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int code = ::getaddrinfo(address->host.c_str(), address->port.c_str(), &hints, &found); code != 0)
        return {nullptr, fromResolver(code)};
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);

    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(connectTimeoutMs);
    SysError last(ETIMEDOUT);
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        const int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) {
            last = SysError::fromErrno();
            continue;
        }
        SysError error;
        if (::connect(fd, entry->ai_addr, entry->ai_addrlen) != 0)
            error = errno == EINPROGRESS ? finishConnect(fd, deadline) : SysError::fromErrno();
        if (!error.failed())
            error = configureSocket(fd);
        if (!error.failed())
            return {std::unique_ptr<SerialPort>(new TcpSerialPort(fd)), {}};
        ::close(fd);
        last = error;
        if (error.code() == ETIMEDOUT)
            break;
    }
    return {nullptr, last};
}

TcpSerialPort::~TcpSerialPort()
{
    ::close(fd_);
}

SysError TcpSerialPort::setQueueSizes(std::size_t, std::size_t)
{
    return {};
}

SysError TcpSerialPort::getLineSettings(LineSettings& settings)
{
    settings = line_;
    return {};
}

SysError TcpSerialPort::setLineSettings(const LineSettings& settings)
{
    line_ = settings;
    return {};
}

SysError TcpSerialPort::getTimeouts(PortTimeouts& timeouts)
{
    timeouts = timeouts_;
    return {};
}

SysError TcpSerialPort::setTimeouts(const PortTimeouts& timeouts)
{
    timeouts_ = timeouts;
    return {};
}

SysError TcpSerialPort::discardInput()
{
    std::uint8_t sink[512];
    for (;;) {
        const ssize_t n = ::recv(fd_, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        // Nothing more waiting, or the peer has gone: the next read says which.
        return {};
    }
}

SysError TcpSerialPort::clearErrors(PortStatus& status)
{
    status = PortStatus{};
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0)
        return SysError::fromErrno();
    status.inQueue = static_cast<std::size_t>(queued);
    return {};
}

IoResult TcpSerialPort::read(std::span<std::uint8_t> buffer)
{
    return readReply(buffer, {});
}

IoResult TcpSerialPort::readReply(std::span<std::uint8_t> buffer, const ReplyComplete& complete)
{
    IoResult result = readWithin(fd_, DescriptorKind::socket, buffer, timeouts_, complete);
    if (result.error.code() == ECONNRESET || result.error.code() == EPIPE)
        peerGone_ = true;
    return result;
}

IoResult TcpSerialPort::write(std::span<const std::uint8_t> bytes)
{
    if (!peerGone_) {
        pollfd entry{fd_, POLLRDHUP, 0};
        if (::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP)) != 0)
            peerGone_ = true;
    }
    if (peerGone_)
        return {0, SysError(EPIPE)};
    IoResult result = writeWithin(fd_, DescriptorKind::socket, bytes, timeouts_);
    if (result.error.code() == ECONNRESET || result.error.code() == EPIPE)
        peerGone_ = true;
    return result;
}

}  // namespace tarvi
