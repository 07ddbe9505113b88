#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/serial_port.h"

namespace tarvi {

// A serial device (or the slave side of a pseudo-terminal) on termios.
//
// The descriptor stays non-blocking; reads and writes wait in poll() against
// one deadline taken from the monotonic clock when the call starts, so a
// device that trickles bytes cannot stretch a read past its time-out.
//
// setLineSettings starts from `native` (or, when that is empty, from the
// port's current state) and changes only the named fields whose value differs
// from what `native` itself says. Applying a kept copy therefore puts back the
// exact termios it was read from, and configuring a port touches nothing the
// program does not name.
class PosixSerialPort final : public SerialPort {
public:
    // Opens for exclusive use: TIOCEXCL keeps other non-root processes out,
    // and an flock() keeps out any other program that locks its ports, root
    // or not (a second open gets EBUSY). Anything that is not a terminal is
    // refused with ENOTTY.
    static PortOpener::Result open(const std::string& path);

    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    // Linux sizes its own queues.
    SysError setQueueSizes(std::size_t inBytes, std::size_t outBytes) override;
    SysError getLineSettings(LineSettings& settings) override;
    SysError setLineSettings(const LineSettings& settings) override;
    SysError getTimeouts(PortTimeouts& timeouts) override;
    SysError setTimeouts(const PortTimeouts& timeouts) override;
    // There is no sticky line-error state to clear: a byte received with a
    // parity or framing error arrives as 0x00 in its place (see
    // applyLineSettings), which the protocol's checksums reject.
    SysError clearErrors(PortStatus& status) override;
    SysError discardInput() override;
    IoResult read(std::span<std::uint8_t> buffer) override;
    IoResult readReply(std::span<std::uint8_t> buffer, const ReplyComplete& complete) override;
    IoResult write(std::span<const std::uint8_t> bytes) override;

private:
    explicit PosixSerialPort(int fd) : fd_(fd) {}

    int fd_;
    PortTimeouts timeouts_;
};

// The termios half of the line settings (the modem lines are not in it).
LineSettings lineSettingsFromTermios(const termios& state);
// Changes `state` where `settings` differs from what `state` says. With
// parityCheck on, a byte with a parity or framing error is read as 0x00
// (INPCK without IGNPAR or PARMRK): the byte count of a frame stays right and
// its checksum fails, where dropping the byte would shift the frame and leave
// the read waiting out its deadline. EINVAL for a rate, data bit count or
// stop bit count termios cannot express.
SysError applyLineSettings(const LineSettings& settings, termios& state);

// The standard termios rates; 0 for B0 and for a code not in the table.
std::uint32_t baudFromSpeed(speed_t speed);
std::optional<speed_t> speedFromBaud(std::uint32_t baud);

// How one read may wait, from the five time-out values and its byte count.
struct ReadPlan {
    std::optional<std::uint64_t> totalMs;     // empty: no total limit
    std::optional<std::uint64_t> intervalMs;  // empty: gaps between bytes never end the read
    bool returnOnFirstBytes = false;          // return as soon as anything is in
};
ReadPlan readPlan(const PortTimeouts& timeouts, std::size_t count);
// Empty: a write waits until every byte is out.
std::optional<std::uint64_t> writeLimitMs(const PortTimeouts& timeouts, std::size_t count);

// The read and write loops of every port that is a file descriptor.
enum class DescriptorKind { terminal, socket };
// `complete`, when set, ends the read as soon as it holds for what came.
IoResult readWithin(int fd, DescriptorKind kind, std::span<std::uint8_t> buffer, const PortTimeouts& timeouts,
                    const SerialPort::ReplyComplete& complete = {});
IoResult writeWithin(int fd, DescriptorKind kind, std::span<const std::uint8_t> bytes, const PortTimeouts& timeouts);

}  // namespace tarvi
