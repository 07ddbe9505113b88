#include "platform/device_opener.h"

#include <grp.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string permissionAdvice(const std::string& device)
{
    std::string user = "$USER";
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr)
        user = entry->pw_name;
    struct stat info {};
    const group* owner = ::stat(device.c_str(), &info) == 0 ? ::getgrgid(info.st_gid) : nullptr;
    const std::string text = "You may not use " + device + ".";
    if (owner == nullptr || owner->gr_name == nullptr || info.st_gid == 0 || (info.st_mode & S_IRWXG) == 0)
        return text + "  Serial devices usually belong to the group \"dialout\"; ask the computer's administrator"
                      " to let you use this one.";
    const std::string name = owner->gr_name;
    return text + "  It belongs to the group \"" + name + "\": add yourself to it with \"sudo adduser " + user
           + " " + name + "\", then log out and in again.";
}

}  // namespace tarvi
