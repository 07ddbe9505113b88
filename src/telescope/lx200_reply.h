#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvi {

namespace lx200 {
// The telescope's degree sign inside angles: sDD<0xDF>MM:SS. The user types
// ":" in its place.
inline constexpr char degreeSign = '\xDF';
}  // namespace lx200

// A reply as the pages look at it: the last byte received (normally the
// closing "#") becomes the end of the text, and every degree sign becomes ":".
// A received 0 byte ends the text there, as it would in the zero-terminated
// buffer of the link.
std::string normalisedReply(const std::uint8_t* received, std::size_t count);

// The same, in place: the buffer holds count received bytes and has room for
// at least one byte; afterwards it holds the normalised reply, zero-terminated.
void normaliseReply(std::uint8_t* buffer, std::size_t count);

// Every ":" replaced by the degree sign, as the site commands want it.
std::string withDegreeSigns(std::string_view text);

}  // namespace tarvi
