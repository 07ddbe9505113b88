#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/serial_port.h"
#include "platform/ui.h"

namespace tarvi {

// One page's end of the telescope line. Each page of the control sheet holds
// its own: the handle it was given at the hand-over and whether that handle
// named an open port. Every exchange is one write and, for commands that
// answer, one read bounded by its capacity and the port's 100 ms read
// deadline; no read looks for the closing "#", and what does not fit stays
// queued for the next read.
class LX200Link {
public:
    LX200Link(Ui& ui, PortTable& ports) : ui_(ui), ports_(ports) {}

    int portHandle = PortTable::closed;
    int portOpen = 0;

    // The hand-over: the routines test portOpen from now on, never the handle.
    void setHandle(int handle);

    // 1 when all count bytes went out; a short write asks Retry or Cancel and
    // Retry writes the whole command again.
    int writeTelescope(int handle, const std::uint8_t* bytes, int count);
    // The bytes received, 0 to the capacity; the buffer then holds the
    // normalised reply, zero-terminated, so it needs room for capacity bytes.
    unsigned readTelescope(int handle, std::uint8_t* buffer, unsigned capacity);

    // The command on this page's handle, sent as it stands.
    int send(std::string_view command);
    // The command, then one read of at most capacity bytes: the normalised
    // reply.
    std::string query(std::string_view command, unsigned capacity);
    // Only the read, for a reply that comes later.
    std::string readReply(unsigned capacity);

    // Runs when a routine finds the port not open: the motion page repaints
    // its drawn buttons in their normal colours.
    std::function<void()> portNotOpen;

private:
    Ui& ui_;
    PortTable& ports_;
};

}  // namespace tarvi
