#include "camera/autosave_name.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tarvi {

std::string nextAutosaveName(std::string_view given)
{
    std::string name(given);
    std::string ending = name.size() >= 4 ? name.substr(name.size() - 4) : name;
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    if (name.size() < 4 || ending != ".bmp")
        name += ".bmp";
    const std::string base = name.substr(0, name.size() - 4);
    const auto dash = name.rfind('-');
    if (dash != std::string::npos && dash + 1 + 4 <= base.size()) {
        // Everything after the dash, read as a number the way atoi reads it.
        errno = 0;
        const long number = std::strtol(base.c_str() + dash + 1, nullptr, 10);
        // A number that has no successor starts a count of its own, so the
        // next name still differs from every one before it.
        if (number == LONG_MAX || errno == ERANGE)
            return base + "-0001.bmp";
        char digits[32];
        std::snprintf(digits, sizeof digits, number + 1 < 9999 ? "-%04ld.bmp" : "-%ld.bmp", number + 1);
        return base.substr(0, dash) + digits;
    }
    return base + "-0001.bmp";
}

}  // namespace tarvi
