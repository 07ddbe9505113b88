#include "telescope/lx200_link.h"

#include <cerrno>
#include <vector>

#include "telescope/lx200_reply.h"

namespace tarvi {

void LX200Link::setHandle(int handle)
{
    portHandle = handle;
    portOpen = handle != PortTable::closed ? 1 : 0;
}

int LX200Link::writeTelescope(int handle, const std::uint8_t* bytes, int count)
{
    WaitCursor wait(ui_);
    if (portOpen == 0) {
        if (portNotOpen)
            portNotOpen();
        return 0;
    }
    for (;;) {
        SerialPort* serial = ports_.find(handle);
        const IoResult result = serial != nullptr ? serial->write({bytes, static_cast<std::size_t>(count)})
                                                  : IoResult{0, SysError(EBADF)};
        if (static_cast<int>(result.count) == count)
            return 1;
        if (ui_.messageBox("writeTelescope:  Retrying failed write to telescope...", "ERROR", Buttons::retryCancel,
                           {})
            != Answer::retry)
            return 0;
    }
}

unsigned LX200Link::readTelescope(int handle, std::uint8_t* buffer, unsigned capacity)
{
    if (portOpen == 0) {
        buffer[0] = 0;
        if (portNotOpen)
            portNotOpen();
        return 0;
    }
    SerialPort* serial = ports_.find(handle);
    IoResult result = serial != nullptr ? serial->read({buffer, capacity}) : IoResult{0, SysError(EBADF)};
    // A deadline that passes is how every read of a reply shorter than its
    // capacity ends; only a failing call is reported.
    if (result.error.failed() && result.error.code() != ETIMEDOUT && result.error.code() != EAGAIN
        && result.error.code() != EINTR) {
        ui_.messageBox("\n\nReadFile errors:  \nreadTelescope:  " + result.error.text() + "\n", "info", Buttons::ok,
                       BoxStyle{.setForeground = true});
    }
    normaliseReply(buffer, result.count);
    return static_cast<unsigned>(result.count);
}

int LX200Link::send(std::string_view command)
{
    return writeTelescope(portHandle, reinterpret_cast<const std::uint8_t*>(command.data()),
                          static_cast<int>(command.size()));
}

std::string LX200Link::query(std::string_view command, unsigned capacity)
{
    send(command);
    return readReply(capacity);
}

std::string LX200Link::readReply(unsigned capacity)
{
    std::vector<std::uint8_t> buffer(capacity + 1, 0);
    readTelescope(portHandle, buffer.data(), capacity);
    return reinterpret_cast<const char*>(buffer.data());
}

}  // namespace tarvi
