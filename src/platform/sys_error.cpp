#include "platform/sys_error.h"

#include <cerrno>
#include <cstring>

namespace tarvi {

SysError SysError::fromErrno()
{
    // A failing call that left errno at 0 still failed.
    return SysError(errno != 0 ? errno : EIO);
}

std::string SysError::text() const
{
    if (code_ == 0)
        return "Success";
    char buffer[256];
    // GNU strerror_r returns the text, which need not be in buffer.
    const char* text = strerror_r(code_, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("Unknown error");
}

}  // namespace tarvi
