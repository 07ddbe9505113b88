#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/serial_port.h"

namespace tarvi {

// A port on the far side of a TCP connection ("tcp:HOST:PORT"): a network
// serial bridge or a Wi-Fi telescope adapter. The bridge owns the real line,
// so line settings, queue sizes and error clearing are accepted and change
// nothing; the time-outs are honoured exactly as on a serial port.
class TcpSerialPort final : public SerialPort {
public:
    static constexpr int defaultConnectTimeoutMs = 3000;

    // One deadline covers every address the host name resolves to. Nagle is
    // off (a command is a handful of bytes that must go now) and keep-alive
    // is on, so a bridge that vanished is noticed even while the line is idle.
    // Failures carry an errno: the system's for the connection, ENXIO for a
    // host name that does not resolve, EINVAL for a malformed device string.
    static PortOpener::Result open(const std::string& device, int connectTimeoutMs = defaultConnectTimeoutMs);

    ~TcpSerialPort() override;
    TcpSerialPort(const TcpSerialPort&) = delete;
    TcpSerialPort& operator=(const TcpSerialPort&) = delete;

    SysError setQueueSizes(std::size_t inBytes, std::size_t outBytes) override;
    // Gives back what was last set, so that a kept copy reads as it was.
    SysError getLineSettings(LineSettings& settings) override;
    SysError setLineSettings(const LineSettings& settings) override;
    SysError getTimeouts(PortTimeouts& timeouts) override;
    SysError setTimeouts(const PortTimeouts& timeouts) override;
    SysError clearErrors(PortStatus& status) override;
    SysError discardInput() override;
    // A peer that closed the connection fails the read with ECONNRESET once
    // the bytes it sent before closing have been taken.
    IoResult read(std::span<std::uint8_t> buffer) override;
    IoResult readReply(std::span<std::uint8_t> buffer, const ReplyComplete& complete) override;
    // Fails with EPIPE once the peer is known to have closed, rather than
    // handing the bytes to a connection nobody reads.
    IoResult write(std::span<const std::uint8_t> bytes) override;

private:
    explicit TcpSerialPort(int fd) : fd_(fd) {}

    int fd_;
    PortTimeouts timeouts_;
    LineSettings line_;
    bool peerGone_ = false;
};

struct TcpAddress {
    std::string host;
    std::string port;
};

// "tcp:HOST:PORT" with HOST a name, an IPv4 literal or an IPv6 literal in
// brackets ("tcp:[::1]:4030"); a bare IPv6 literal ends at the last colon.
// PORT is 1..65535 in decimal. Empty when the string is not of that form.
std::optional<TcpAddress> parseTcpDevice(const std::string& device);

}  // namespace tarvi
