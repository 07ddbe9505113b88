#include "telescope/site_time_checks.h"

#include <cstdio>

#include "telescope/lx200_reply.h"
#include "telescope/text_shape.h"

namespace tarvi {

using text_shape::matches;
using text_shape::number;

bool latitudeUsable(std::string_view latitude)
{
    return matches(latitude, "+99:99") && number(latitude, 1, 2) <= 90 && number(latitude, 4, 2) <= 59;
}

std::optional<std::string> westLongitude(std::string_view longitude)
{
    if (matches(longitude, "999:99")) {
        if (number(longitude, 0, 3) > 359 || number(longitude, 4, 2) > 59)
            return std::nullopt;
        return std::string(longitude);
    }
    if (!matches(longitude, "+999:99") || number(longitude, 1, 3) > 180 || number(longitude, 5, 2) > 59)
        return std::nullopt;
    constexpr int fullCircle = 360 * 60;
    int minutes = number(longitude, 1, 3) * 60 + number(longitude, 5, 2);
    if (longitude[0] == '-')
        minutes = (fullCircle - minutes) % fullCircle;
    char text[16];
    std::snprintf(text, sizeof text, "%03d:%02d", minutes / 60, minutes % 60);
    return std::string(text);
}

bool longitudeUsable(std::string_view longitude)
{
    return westLongitude(longitude).has_value();
}

bool siteUsable(std::string_view latitude, std::string_view longitude)
{
    return latitudeUsable(latitude) && longitudeUsable(longitude);
}

std::string setLatitudeCommand(std::string_view latitude)
{
    return ":St " + withDegreeSigns(latitude) + "#";
}

std::string setLongitudeCommand(std::string_view longitude)
{
    const std::optional<std::string> west = westLongitude(longitude);
    return ":Sg " + withDegreeSigns(west ? *west : std::string(longitude)) + "#";
}

bool dateUsable(std::string_view date)
{
    return matches(date, "99/99/99") && number(date, 0, 2) <= 12 && number(date, 3, 2) <= 31;
}

std::string setDateCommand(std::string_view date)
{
    return ":SC  " + std::string(date) + "#";
}

std::optional<ClockTime> readTypedTime(std::string_view time)
{
    if (!matches(time, "99:99:99"))
        return std::nullopt;
    const ClockTime t{number(time, 0, 2), number(time, 3, 2), number(time, 6, 2)};
    if (t.hour > 23 || t.minute > 59 || t.second > 59)
        return std::nullopt;
    return t;
}

std::string setLocalTimeCommand(std::string_view time)
{
    return ":SL " + std::string(time) + "#";
}

std::string setSiderealTimeCommand(std::string_view sidereal)
{
    return ":SS " + std::string(sidereal) + "#";
}

std::optional<std::string> backlashCommand(std::string_view backlash, std::string_view productReply)
{
    if (!matches(backlash, "99") || productReply.empty())
        return std::nullopt;
    return ":$BA" + std::string(backlash) + "#";
}

bool trackingRateUsable(std::string_view rate)
{
    return matches(rate, "999.9");
}

std::string setTrackingRateCommand(std::string_view rate)
{
    return ":S" + std::string(rate) + "#";
}

std::string trackingRateAfterGet(std::string_view previous, std::string_view reply)
{
    return std::string(reply.starts_with("200") ? previous : reply);
}

bool trackingRateAccepted(std::string_view reply)
{
    return !reply.empty() && reply[0] != '0';
}

}  // namespace tarvi
