#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvi {

inline constexpr std::string_view coordinatesMissingMessage = "You must enter RA and DEC coordinates";
inline constexpr std::string_view reenterRaMessage =
    "Please re-enter RA in correct format."
    "\n(Hours are from 0 to 23,"
    "\n Minutes are from 0 to 59,"
    "\n Seconds are from 0 to 59)";
inline constexpr std::string_view reenterDecMessage =
    "Please re-enter Dec in correct format."
    "\n(Degrees are from 0 to 90,"
    "\n Minutes are from 0 to 59,"
    "\n Seconds 0-59)";
inline constexpr std::string_view belowHorizonMessage = "Coordinates point to location below horizon - Canceled";
inline constexpr std::string_view belowHigherLimitMessage =
    "Coordinates point to location below higher limit - Canceled";

// The motion page's check of its go-to target. Each text is usable only at
// its full length (R.A. "HH:MM:SS", Dec. "sDD:MM:SS"); the characters and
// ranges (hours 0 to 23, degrees 0 to 90, minutes and seconds 0 to 59) are
// looked at only when both lengths are right, so a short R.A. beside a Dec.
// of the right length flags only the R.A.
struct MotionPageCoordinates {
    bool missing = false;  // either text empty
    bool raUsable = false;
    bool decUsable = false;

    bool usable() const { return raUsable && decUsable; }
    // The messages the page shows, in order.
    std::vector<std::string_view> messages() const;
};
MotionPageCoordinates validateMotionPageCoordinates(std::string_view ra, std::string_view dec);

// The objects page's check, without messages: both texts of the exact forms,
// hours 0 to 24 (24 included), degrees 00 to 99, minutes and seconds 0 to 59.
bool validateObjectsPageCoordinates(std::string_view ra, std::string_view dec);

// One second earlier, borrowing through minutes and hours: 00:00:00 gives
// 23:59:59. The R.A. is three numbers separated by ":"; nothing when it is
// not.
std::optional<std::string> subtractOneSecond(std::string_view ra);

// The declination with its character at position 3 (the ":" after the
// degrees) turned into the degree sign, as ":Sd" wants it.
std::string declinationToSend(std::string_view dec);

// ":Sr" + subtractOneSecond(ra) + "#", the go-to target of the motion and
// objects pages.
std::optional<std::string> targetRaCommand(std::string_view ra);
// ":Sd" + declinationToSend + "#".
std::string targetDecCommand(std::string_view dec);

// The motion and sky-flats pages' reading of the ":MS#" reply: "1" below the
// horizon, "2" below the higher limit, anything else the slew has begun.
std::optional<std::string_view> slewRefusalMessage(std::string_view reply);

// The objects page's reading: "1" or "2" refuses, and the telescope's own
// text after that digit is the message.
std::optional<std::string> objectsPageSlewRefusal(std::string_view reply);

}  // namespace tarvi
