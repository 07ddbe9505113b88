#include "telescope/lx200_link.h"

#include <vector>

#include "telescope/lx200_reply.h"

namespace tarvi {

namespace {

// A whole exchange never runs longer than this, however the device trickles.
constexpr std::int64_t exchangeLimitMs = 2000;
// The planetary update after a date takes a few seconds more.
constexpr std::int64_t dateLimitMs = 12000;
// Reads of the line's deadline each that the planetary update may take.
constexpr int planetaryUpdateReads = 100;

}  // namespace

void LX200Link::setHandle(int handle)
{
    portHandle = handle;
    portOpen = handle != PortTable::closed ? 1 : 0;
}

SerialPort* LX200Link::portFor(int& handle)
{
    if (portOpen == 0)
        return nullptr;
    if (SerialPort* serial = line_.ports().find(handle))
        return serial;
    // Gone since the hand-over: closed on purpose, or lost with its device.
    // A lost one is opened again, which hands the new port to every page.
    if (!line_.openIfLost() || portOpen == 0)
        return nullptr;
    handle = portHandle;
    return line_.ports().find(handle);
}

bool LX200Link::ready()
{
    int handle = portHandle;
    return portFor(handle) != nullptr;
}

int LX200Link::writeTelescope(int handle, const std::uint8_t* bytes, int count)
{
    line_.assertOnDeviceThread();
    // Between the last exchange and this one, work that may not wait goes first.
    line_.exchangeBoundary();
    WaitCursor wait(ui_);
    for (;;) {
        SerialPort* serial = portFor(handle);
        if (serial == nullptr) {
            if (portNotOpen)
                portNotOpen();
            return 0;
        }
        const IoResult result = serial->write({bytes, static_cast<std::size_t>(count)});
        if (static_cast<int>(result.count) == count)
            return 1;
        std::string text = "writeTelescope:  Retrying failed write to telescope...";
        const bool gone = deviceGone(result.error);
        if (gone) {
            // One box says what happened and offers to go on once the
            // device is back.
            line_.deferLossMessage = true;
            line_.deviceLost(handle, result.error);
            line_.deferLossMessage = false;
            if (const std::string loss = line_.takeLossMessage(); !loss.empty())
                text += "\n\n" + loss;
        }
        if (ui_.messageBox(text, "ERROR", Buttons::retryCancel, {}) != Answer::retry)
            return 0;
        if (gone) {
            if (!line_.retryOpen())
                return 0;
            handle = portHandle;
        }
    }
}

unsigned LX200Link::readTelescope(int handle, std::uint8_t* buffer, unsigned capacity, lx200::Reply kind)
{
    line_.assertOnDeviceThread();
    SerialPort* serial = portFor(handle);
    if (serial == nullptr) {
        buffer[0] = 0;
        if (portNotOpen)
            portNotOpen();
        return 0;
    }
    SerialPort::ReplyComplete complete;
    if (kind != lx200::Reply::none) {
        complete = [kind](std::span<const std::uint8_t> received) {
            return lx200::replyComplete(
                kind, std::string_view(reinterpret_cast<const char*>(received.data()), received.size()));
        };
    }
    const IoResult result = serial->readReply({buffer, capacity}, complete);
    // A deadline that passes is how every read of a reply shorter than its
    // capacity ends; a device that went away is said once, by its owner.
    if (deviceGone(result.error))
        line_.deviceLost(handle, result.error);
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
    return readReply(capacity, lx200::commandInfo(command).reply);
}

std::string LX200Link::readReply(unsigned capacity, lx200::Reply kind)
{
    std::vector<std::uint8_t> buffer(capacity + 1, 0);
    readTelescope(portHandle, buffer.data(), capacity, kind);
    return reinterpret_cast<const char*>(buffer.data());
}

std::optional<std::string> wholeExchange(PortOwner& line, Clock& clock, std::string_view command, lx200::Reply reply)
{
    line.assertOnDeviceThread();
    SerialPort* serial = line.port();
    if (serial == nullptr)
        return std::nullopt;
    SerialPort& port = *serial;
    const int handle = line.handle();
    bool gone = false;
    const auto check = [&](const SysError& error) {
        if (deviceGone(error)) {
            gone = true;
            line.deviceLost(handle, error);
        }
    };
    // Bytes of a reply that came too late for an earlier command are not
    // this one's.
    if (reply != lx200::Reply::none)
        port.discardInput();
    const IoResult written =
        port.write({reinterpret_cast<const std::uint8_t*>(command.data()), command.size()});
    if (written.count != command.size()) {
        check(written.error);
        return std::nullopt;
    }
    if (reply == lx200::Reply::none)
        return std::nullopt;

    const std::int64_t start = clock.nowMs();
    std::int64_t limit = exchangeLimitMs;
    std::string received;
    const auto readOne = [&]() -> bool {
        if (gone || received.size() >= longestWholeReply || clock.nowMs() - start > limit)
            return false;
        std::uint8_t byte = 0;
        const IoResult result = port.read({&byte, 1});
        if (result.count == 1) {
            received.push_back(static_cast<char>(byte));
            return true;
        }
        check(result.error);
        return false;
    };
    // A text ends at its "#"; the line quiet for quietReads reads ends it
    // unfinished.
    const auto readText = [&](int quietReads) {
        for (int quiet = 0; quiet < quietReads;) {
            if (readOne()) {
                if (received.back() == '#')
                    return true;
            } else if (gone || received.size() >= longestWholeReply || clock.nowMs() - start > limit) {
                return false;
            } else {
                ++quiet;
            }
        }
        return false;
    };

    switch (reply) {
    case lx200::Reply::none:
        break;
    case lx200::Reply::digit:
        if (readOne())
            return received;
        break;
    case lx200::Reply::text:
        if (readText(1))
            return received;
        break;
    case lx200::Reply::goTo:
        if (!readOne())
            break;
        if (received == "0" || ((received == "1" || received == "2") && readText(1)))
            return received;
        break;
    case lx200::Reply::date:
        if (!readOne())
            break;
        if (received == "0")
            return received;
        limit = dateLimitMs;
        if (received == "1" && readText(1) && readText(planetaryUpdateReads))
            return received;
        break;
    }
    return std::nullopt;
}

}  // namespace tarvi
