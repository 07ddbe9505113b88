#include "platform/tcp_serial_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/device_opener.h"
#include "support/port_checks.h"

namespace tarvi {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using test::everyByteValue;
using test::readingFor;
using test::waitForQueued;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The far end of the connection, as the test plays it.
class Peer {
public:
    explicit Peer(int fd) : fd_(fd) {}
    ~Peer() { close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int fd() const { return fd_; }

    void send(const Bytes& bytes) const
    {
        for (ssize_t n = 0, done = 0; done < ssize_t(bytes.size()); done += n) {
            if ((n = ::send(fd_, bytes.data() + done, bytes.size() - std::size_t(done), MSG_NOSIGNAL)) <= 0)
                fail("peer send");
        }
    }

    Bytes receive(std::size_t count) const
    {
        Bytes got;
        for (const auto giveUp = std::chrono::steady_clock::now() + 5s;
             got.size() < count && std::chrono::steady_clock::now() < giveUp;) {
            pollfd entry{fd_, POLLIN, 0};
            std::uint8_t chunk[4096];
            const ssize_t n = ::poll(&entry, 1, 100) <= 0 ? 0 : ::recv(fd_, chunk, std::min(sizeof chunk, count - got.size()), 0);
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

    void close() { if (fd_ >= 0) ::close(std::exchange(fd_, -1)); }

    // A reset rather than an orderly end: what a bridge that crashed sends.
    void reset()
    {
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close();
    }

private:
    int fd_;
};

class LoopbackServer {
public:
    explicit LoopbackServer(int family = AF_INET) : family_(family), fd_(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in6 address{};  // room for either family
        auto& in = reinterpret_cast<sockaddr_in&>(address);
        if (family == AF_INET)
            in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        else
            address.sin6_addr = in6addr_loopback;
        address.sin6_family = static_cast<sa_family_t>(family);  // the same place in both
        socklen_t size = family == AF_INET ? sizeof in : sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            fail("listen");
        port_ = ntohs(address.sin6_port);  // the same place in both
    }
    ~LoopbackServer() { stopListening(); }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string device() const { return (family_ == AF_INET ? "tcp:127.0.0.1:" : "tcp:[::1]:") + std::to_string(port_); }
    std::uint16_t port() const { return port_; }
    // The connection the port made: it waits in the backlog until taken.
    std::unique_ptr<Peer> accept() const
    {
        pollfd entry{fd_, POLLIN, 0};
        const int peer = ::poll(&entry, 1, 5000) == 1 ? ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (peer < 0)
            fail("accept");
        return std::make_unique<Peer>(peer);
    }
    void stopListening() { if (fd_ >= 0) ::close(std::exchange(fd_, -1)); }

private:
    int family_;
    int fd_;
    std::uint16_t port_ = 0;
};

// The port's own socket, found among this process's descriptors by the
// address the peer sees it connect from.
int portSocket(const Peer& peer)
{
    sockaddr_storage from{};
    socklen_t fromSize = sizeof from;
    if (::getpeername(peer.fd(), reinterpret_cast<sockaddr*>(&from), &fromSize) != 0)
        fail("getpeername");
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_storage local{};
        socklen_t size = sizeof local;
        if (fd != peer.fd() && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 && size == fromSize &&
            std::memcmp(&local, &from, size) == 0)
            return fd;
    }
    return -1;
}

TEST(ParseTcpDevice, HostAndPortInEachFormAndMalformedDevicesRefused)
{
    const std::array<const char*, 3> rows[] = {
        {"tcp:127.0.0.1:4030", "127.0.0.1", "4030"}, {"tcp:bridge.local:23", "bridge.local", "23"},
        {"tcp:[::1]:4030", "::1", "4030"},           {"tcp:[fe80::1%eth0]:65535", "fe80::1%eth0", "65535"},
        {"tcp:::1:4030", "::1", "4030"},             {"TCP:localhost:1", "localhost", "1"},
    };
    for (const auto& [device, host, port] : rows) {
        const auto address = parseTcpDevice(device);
        ASSERT_TRUE(address.has_value()) << device;
        EXPECT_TRUE(address->host == host && address->port == port) << device;
    }
    for (const char* device : {"tcp:", "tcp:host", "tcp:host:", "tcp::4030", "tcp:host:0", "tcp:host:65536",
                               "tcp:host:123456", "tcp:host:40a0", "tcp:host:-1", "tcp:[::1]4030", "tcp:[::1",
                               "tcp:[]:4030", "udp:host:4030", "/dev/ttyS0", ""}) {
        EXPECT_FALSE(parseTcpDevice(device).has_value()) << device;
        PortOpener::Result opened = TcpSerialPort::open(device);
        EXPECT_TRUE(opened.error.code() == EINVAL && opened.port == nullptr) << device;
    }
}

// Host names, IPv6 literals and the scheme in either case connect through the program's own
// opener, with Nagle off and keep-alive on, and carry every byte; reads end at their deadline.
// A peer that closes after its last bytes, or resets (a bridge that crashed), fails reads once
// what came is taken, and writes at once. A listener that has gone refuses.
TEST(TcpSerialPort, EveryFormOfAddressCarriesALineUntilThePeerClosesOrResets)
{
    LoopbackServer v4, v6(AF_INET6), gone;
    const std::string port = std::to_string(v4.port());
    const struct {
        const LoopbackServer* server;
        std::string device;
        bool reset;
    } rows[] = {{&v4, "tcp:localhost:" + port, false}, {&v6, v6.device(), true},
                {&v4, "tcp:127.0.0.1:" + port, true},  {&v4, "TCP:127.0.0.1:" + port, false}};
    DeviceOpener opener;
    for (const auto& [server, device, reset] : rows) {
        SCOPED_TRACE(device);
        PortOpener::Result opened = opener.open(device);
        ASSERT_NE(opened.port, nullptr) << opened.error.text();
        const auto peer = server->accept();
        SerialPort& link = *opened.port;
        const int fd = portSocket(*peer);
        ASSERT_GE(fd, 0);
        int nagleOff = 0, keepAlive = 0;
        socklen_t size = sizeof nagleOff;
        ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nagleOff, &size), 0);
        ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size), 0);
        EXPECT_TRUE(nagleOff != 0 && keepAlive != 0);

        // Line settings and queue sizes are accepted and kept; a socket never holds for CTS.
        EXPECT_FALSE(link.setQueueSizes(1200, 1200).failed());
        LineSettings settings, back;
        settings.baud = 57600;
        settings.parity = Parity::even;
        ASSERT_FALSE(link.setLineSettings(settings).failed());
        ASSERT_FALSE(link.getLineSettings(back).failed());
        EXPECT_TRUE(back.baud == 57600u && back.parity == Parity::even);
        PortTimeouts timeouts;
        ASSERT_FALSE(link.setTimeouts(readingFor(2000)).failed());
        ASSERT_FALSE(link.getTimeouts(timeouts).failed());
        EXPECT_TRUE(timeouts.readTotalConstant == 2000u && timeouts.writeTotalConstant == 300u);

        const Bytes bytes = everyByteValue();
        const IoResult written = link.write(bytes);
        EXPECT_TRUE(!written.error.failed() && written.count == bytes.size()) << written.error.text();
        EXPECT_EQ(peer->receive(bytes.size()), bytes);
        peer->send(bytes);
        Bytes got(bytes.size());
        const IoResult read = link.read(got);
        EXPECT_FALSE(read.error.failed()) << read.error.text();
        ASSERT_EQ(read.count, bytes.size());
        EXPECT_EQ(got, bytes);

        ASSERT_FALSE(link.setTimeouts(readingFor(100)).failed());
        Bytes buffer(10, 0xEE);
        const IoResult silent = link.read(buffer);
        EXPECT_TRUE(!silent.error.failed() && silent.count == 0);
        peer->send({'1', '#', 0x06});
        waitForQueued(link, 3);
        PortStatus status;
        ASSERT_FALSE(link.clearErrors(status).failed());
        EXPECT_FALSE(status.ctsHold);
        const IoResult partial = link.read(buffer);
        EXPECT_FALSE(partial.error.failed());
        ASSERT_EQ(partial.count, 3u);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{'1', '#', 0x06, 0xEE}));

        ASSERT_FALSE(link.setTimeouts(readingFor(5000)).failed());
        if (!reset)
            peer->send({'a', 'b'});
        reset ? peer->reset() : peer->close();
        const IoResult last = link.read(buffer);
        EXPECT_EQ(last.error.code(), ECONNRESET) << "a deadline passed instead: " << last.error.text();
        ASSERT_EQ(last.count, reset ? 0u : 2u);
        EXPECT_TRUE(reset || (buffer[0] == 'a' && buffer[1] == 'b'));
        EXPECT_EQ(link.read(buffer).error.code(), ECONNRESET);
        const IoResult refusedWrite = link.write(Bytes{':', 'Q', '#'});
        EXPECT_TRUE(refusedWrite.error.code() == EPIPE && refusedWrite.count == 0u);
    }
    gone.stopListening();
    PortOpener::Result refused = TcpSerialPort::open(gone.device());
    EXPECT_EQ(refused.error.code(), ECONNREFUSED);
    EXPECT_EQ(refused.port, nullptr);
}

}  // namespace
}  // namespace tarvi
