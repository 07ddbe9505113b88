#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/sys_error.h"

namespace tarvi {

// mark and space exist so that a port found in either reads back as what it
// is, rather than as even or odd.
enum class Parity { none, odd, even, mark, space };

// The line settings the program sets on a port. `native` keeps the driver's
// whole state as read, so that applying a kept copy restores every field the
// program does not name.
struct LineSettings {
    std::uint32_t baud = 9600;
    int dataBits = 8;
    Parity parity = Parity::none;
    int stopBits = 1;
    bool parityCheck = false;  // bytes with a parity error are reported, not passed on
    bool hardwareFlow = false; // RTS/CTS
    bool softwareFlow = false; // XON/XOFF in and out
    bool dtrOn = false;
    bool rtsOn = false;
    // A raw data line: no echo, no line editing, no signal characters, no
    // newline translation in or out, modem status lines ignored. A port left
    // cooked by a terminal program reads back false, so a kept copy puts it
    // back cooked; the program sets it to true when it configures a port.
    bool binary = true;
    std::vector<std::uint8_t> native;
};

// The five time-out values of a port, in milliseconds. A read returns when its
// byte count is in or readTotalConstant + count * readTotalMultiplier has
// passed since it started, however slowly the bytes come; likewise writes.
struct PortTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

struct PortStatus {
    bool ctsHold = false;  // transmission waits for CTS
    std::size_t inQueue = 0;
};

struct IoResult {
    std::size_t count = 0;  // bytes moved before the call returned
    SysError error;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual SysError setQueueSizes(std::size_t inBytes, std::size_t outBytes) = 0;
    virtual SysError getLineSettings(LineSettings& settings) = 0;
    virtual SysError setLineSettings(const LineSettings& settings) = 0;
    virtual SysError getTimeouts(PortTimeouts& timeouts) = 0;
    virtual SysError setTimeouts(const PortTimeouts& timeouts) = 0;
    // Clears a pending line error and reports the port's status.
    virtual SysError clearErrors(PortStatus& status) = 0;
    // Throws away what has arrived and not been read.
    virtual SysError discardInput() = 0;
    virtual IoResult read(std::span<std::uint8_t> buffer) = 0;
    // A read that also ends once `complete` holds for the bytes received so
    // far: a reply that has come whole does not wait out the deadline. What
    // arrived after it in the same chunk is part of the result.
    using ReplyComplete = std::function<bool(std::span<const std::uint8_t> received)>;
    virtual IoResult readReply(std::span<std::uint8_t> buffer, const ReplyComplete& complete)
    {
        (void)complete;
        return read(buffer);
    }
    virtual IoResult write(std::span<const std::uint8_t> bytes) = 0;
};

// Opens a device named in the port map: a path, "sim:camera", "sim:telescope"
// or "tcp:HOST:PORT".
class PortOpener {
public:
    struct Result {
        std::unique_ptr<SerialPort> port;
        SysError error;
    };
    virtual ~PortOpener() = default;
    virtual Result open(const std::string& device) = 0;
};

// Open ports by int handle, so that a handle of -1 keeps meaning "closed"
// everywhere a handle is stored. Handles are never reused: a page still holding
// the handle of a closed port finds nothing rather than somebody else's port.
// Each device's thread adds, finds and closes its own ports in the one table.
class PortTable {
public:
    static constexpr int closed = -1;

    int add(std::unique_ptr<SerialPort> port);
    SerialPort* find(int handle) const;
    // Closes the port; false when the handle names no open port.
    bool close(int handle);
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<int, std::unique_ptr<SerialPort>> ports_;
    int nextHandle_ = 1;
};

}  // namespace tarvi
