#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "telescope/sidereal_time.h"

namespace tarvi {

inline constexpr std::string_view siteRefusedMessage =
    "Latitude and or Longitude value(s) incorrect.\n\n"
    "Latitude must be sDD:MM where s is '+' or '-',\n"
    "with DD from 0 to 90 and MM from 0 to 59.\n"
    "Longitude must be DDD:MM where \n"
    "DDD is from 0 to 359 and MM is from 0 to 59\n"
    "(degrees west of Greenwich), or -DDD:MM east of it\n"
    "with DDD from 0 to 180."
    "\n\nOperation cancelled";
inline constexpr std::string_view dateRefusedMessage =
    "Incorrect Date format.  Should be MM/DD/YY\n"
    "where MM is from 0 to 12, DD is from 0 to 31\n"
    "and YY a two digit number such as '02'.\n\n"
    "Operation cancelled.";
inline constexpr std::string_view timeRefusedMessage =
    "Please enter time in correct format, HH:MM:SS"
    "\nHour is from 0 to 23,"
    "\nMinute is from 0 to 59,"
    "\nSeconds is from 0 to 59."
    "\n\nOperation cancelled.";
// The local time went out but the sidereal time could not be worked out,
// so none is sent rather than one made up from an unreadable reply.
inline constexpr std::string_view siderealTimeNotSetMessage =
    "Local time set.  Sidereal time NOT set:\n"
    "the telescope's date or longitude could not be read.";
inline constexpr std::string_view updatingPlanetaryDataText = "Updating Planetary Data";
inline constexpr std::string_view trackingRateGuideText = "Sidereal:  060.1,\n Moon:     057.9 ";
// The telescope recomputes its planetary data after a date change and
// answers a second time when done.
inline constexpr int dateSettleMs = 10000;

// Latitude "sDD:MM": degrees 0 to 90, minutes 0 to 59.
bool latitudeUsable(std::string_view latitude);
// The telescope counts longitude westward from Greenwich, 000:00 to
// 359:59, and takes "DDD:MM" in that form as typed. A signed "sDDD:MM",
// degrees 0 to 180, is the form that counts east negative: "-110:00" is
// "250:00". Nothing for any other text.
std::optional<std::string> westLongitude(std::string_view longitude);
bool longitudeUsable(std::string_view longitude);
bool siteUsable(std::string_view latitude, std::string_view longitude);

// ":St sDD<deg>MM#" and ":Sg DDD<deg>MM#": every ":" of the typed text
// becomes the degree sign; the longitude goes in its westward form.
std::string setLatitudeCommand(std::string_view latitude);
std::string setLongitudeCommand(std::string_view longitude);

// "MM/DD/YY": month 0 to 12, day 0 to 31, any two-digit year.
bool dateUsable(std::string_view date);
// ":SC  MM/DD/YY#", with two blanks.
std::string setDateCommand(std::string_view date);

// "HH:MM:SS": hours 0 to 23, minutes and seconds 0 to 59. Nothing when the
// text has another form.
std::optional<ClockTime> readTypedTime(std::string_view time);
// ":SL HH:MM:SS#" and ":SS HH:MM:SS#".
std::string setLocalTimeCommand(std::string_view time);
std::string setSiderealTimeCommand(std::string_view sidereal);

// ":$BA" + DD + "#" when the backlash is two digits and the telescope gave a
// product name to ":GVP#" (a telescope without one does not know the
// command). Nothing otherwise, and the page brings the previous text back.
std::optional<std::string> backlashCommand(std::string_view backlash, std::string_view productReply);

// "TTT.T" as in "060.1"; the field holds five characters.
bool trackingRateUsable(std::string_view rate);
// ":S" + TTT.T + "#".
std::string setTrackingRateCommand(std::string_view rate);
// What the box shows after ":Gs#": the reply, unless it begins with "200"
// (no rate known to that firmware), when the previous text stays.
std::string trackingRateAfterGet(std::string_view previous, std::string_view reply);
// The reply to ":S" + rate takes the rate unless it is empty or begins with "0".
bool trackingRateAccepted(std::string_view reply);

}  // namespace tarvi
