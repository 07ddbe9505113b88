#include "platform/device_opener.h"

#include <strings.h>

#include <cerrno>

#include "platform/posix_serial_port.h"
#include "platform/tcp_serial_port.h"

namespace tarvi {

namespace {

// The scheme is matched in any case: "TCP:" typed into the ini file is still
// nobody's device path.
bool hasScheme(const std::string& device, const char* scheme, std::size_t length)
{
    return device.size() >= length && ::strncasecmp(device.c_str(), scheme, length) == 0;
}

}  // namespace

PortOpener::Result DeviceOpener::open(const std::string& device)
{
    if (hasScheme(device, "tcp:", 4))
        return TcpSerialPort::open(device);
    if (hasScheme(device, "sim:", 4)) {
        const std::string path = simulators_ ? simulators_(device.substr(4)) : std::string();
        if (path.empty())
            return {nullptr, SysError(ENODEV)};
        return PosixSerialPort::open(path);
    }
    return PosixSerialPort::open(device);
}

}  // namespace tarvi
