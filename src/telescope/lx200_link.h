#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <optional>
#include <string_view>

#include "platform/clock.h"

#include "platform/port_owner.h"
#include "platform/serial_port.h"
#include "platform/ui.h"
#include "telescope/lx200_commands.h"

namespace tarvi {

// One page's end of the telescope line. Each page of the control sheet holds
// its own: the handle it was given at the hand-over and whether that handle
// named an open port. Every exchange is one write and, for commands that
// answer, one read bounded by its capacity and the port's 100 ms read
// deadline. The read ends as soon as the reply is whole by its command's kind
// (a text at its "#", a digit at its byte), so that a healthy telescope never
// costs a deadline; a reply that does not fit, or bytes after a reply's end,
// stay queued for the next read.
//
// The port itself belongs to the program's PortOwner: a device that goes away
// is closed for every page at once and reported once, and the next command
// opens it again and hands it to every page.
class LX200Link {
public:
    LX200Link(Ui& ui, PortOwner& line) : ui_(ui), line_(line) {}

    int portHandle = PortTable::closed;
    int portOpen = 0;

    // The hand-over: the routines test portOpen from now on.
    void setHandle(int handle);
    // Whether an exchange would reach the telescope now; a port lost by an
    // earlier command is opened again first.
    bool ready();
    PortOwner& line() const { return line_; }

    // 1 when all count bytes went out; a short write asks Retry or Cancel and
    // Retry writes the whole command again.
    int writeTelescope(int handle, const std::uint8_t* bytes, int count);
    // The bytes received, 0 to the capacity; the buffer then holds the
    // normalised reply, zero-terminated, so it needs room for capacity bytes.
    // The read ends early once a reply of the kind has come whole.
    unsigned readTelescope(int handle, std::uint8_t* buffer, unsigned capacity,
                           lx200::Reply kind = lx200::Reply::none);

    // The command on this page's handle, sent as it stands.
    int send(std::string_view command);
    // The command, then one read of at most capacity bytes, ended by the
    // command's reply kind: the normalised reply.
    std::string query(std::string_view command, unsigned capacity);
    // Only the read, for a reply that comes later.
    std::string readReply(unsigned capacity, lx200::Reply kind = lx200::Reply::none);

    // Runs when a routine finds the port not open: the motion page repaints
    // its drawn buttons in their normal colours.
    std::function<void()> portNotOpen;

private:
    // The port this exchange goes to, the hand-over's handle brought up to
    // date when the port had to be opened again; nullptr when there is none.
    SerialPort* portFor(int& handle);

    Ui& ui_;
    PortOwner& line_;
};

// One command and the whole of its reply, read by the reply's kind up to its
// last "#" rather than to a read's deadline, for the program's own requests
// that show no box (the network server's, a capture's position reading). A
// device that goes away is said once by the line's owner. Empty when the port
// is closed, the command has no reply, or the reply did not come whole.
inline constexpr std::size_t longestWholeReply = 128;
std::optional<std::string> wholeExchange(PortOwner& line, Clock& clock, std::string_view command, lx200::Reply reply);

}  // namespace tarvi
