#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvi::sim {

// How the program has set up its end of the line, read back from the master.
// A pseudo-terminal forces 8 data bits and drops the parity flag whatever the
// program asks for, so only the speed and the stop bits can be trusted.
struct LineSpeed {
    std::uint32_t baud = 0;  // 0 when the program set a speed with no number we know
    int stopBits = 1;
};

// The far end of a simulated serial line: a pseudo-terminal whose slave the
// program opens as its port, while a device simulator reads and writes the
// master. The pair lives until close() or destruction.
//
// One thread does the reading, writing and closing; interrupt() may be called
// from any thread to wake it.
class PseudoTerminal {
public:
    enum class Status {
        ok,           // bytes moved
        timedOut,     // nothing within the time given
        interrupted,  // interrupt() was called
        hungUp,       // nobody holds the slave open
        closed,       // close() was called
        failed,       // the system refused; see error
    };
    struct Result {
        std::size_t count = 0;
        Status status = Status::ok;
        int error = 0;  // errno when status is failed
    };

    // Throws std::system_error when the system has no pseudo-terminal to give.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // What the program opens, e.g. "/dev/pts/7".
    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }
    bool isOpen() const { return master_ >= 0; }

    // The line settings in force on the slave right now; nothing once closed.
    std::optional<LineSpeed> lineSpeed() const;

    // Waits up to `timeout` for bytes from the program and reads what is there,
    // at most buffer.size() bytes.
    Result read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout);
    // Writes all the bytes unless the program stops reading for `timeout`.
    Result write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout);
    // Sleeps until the deadline; false when interrupted first.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

    void interrupt();
    // The device goes away: the program's reads and writes on the slave fail
    // from now on and the path can no longer be opened.
    void close();
    // The device comes back on a new pair, with a new slave path. Not while
    // another thread uses the terminal.
    void reopen();

private:
    // Polls the wake-up descriptor, and the master for `events` unless they
    // are 0: the master's revents, 0 on timeout, -1 when woken, -2 on error.
    int waitFor(short events, std::chrono::steady_clock::time_point deadline);
    void openPair();

    int master_ = -1;
    // The simulator's own hold on the slave: without it the master reports a
    // hang-up whenever the program closes its port, and the line settings
    // would fall back to the driver's defaults between two opens, which a
    // serial port's do not.
    int slaveHold_ = -1;
    int wake_ = -1;
    std::string slavePath_;
};

}  // namespace tarvi::sim
