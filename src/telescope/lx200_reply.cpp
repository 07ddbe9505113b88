#include "telescope/lx200_reply.h"

#include <algorithm>

namespace tarvi {

void normaliseReply(std::uint8_t* buffer, std::size_t count)
{
    const std::size_t end = count > 0 ? count - 1 : 0;
    buffer[end] = 0;
    for (std::size_t i = 0; i < end && buffer[i] != 0; ++i) {
        if (buffer[i] == static_cast<std::uint8_t>(lx200::degreeSign))
            buffer[i] = ':';
    }
}

std::string normalisedReply(const std::uint8_t* received, std::size_t count)
{
    std::string text;
    const std::size_t end = count > 0 ? count - 1 : 0;
    for (std::size_t i = 0; i < end && received[i] != 0; ++i)
        text += received[i] == static_cast<std::uint8_t>(lx200::degreeSign) ? ':' : static_cast<char>(received[i]);
    return text;
}

std::string withDegreeSigns(std::string_view text)
{
    std::string out(text);
    std::replace(out.begin(), out.end(), ':', lx200::degreeSign);
    return out;
}

}  // namespace tarvi
