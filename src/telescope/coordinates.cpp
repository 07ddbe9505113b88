#include "telescope/coordinates.h"

#include "telescope/lx200_reply.h"
#include "telescope/sidereal_time.h"
#include "telescope/text_shape.h"

namespace tarvi {

using text_shape::matches;
using text_shape::number;

namespace {

bool raInRange(std::string_view ra, int largestHour)
{
    return matches(ra, "99:99:99") && number(ra, 0, 2) <= largestHour && number(ra, 3, 2) <= 59
           && number(ra, 6, 2) <= 59;
}

bool decInRange(std::string_view dec, int largestDegree)
{
    return matches(dec, "+99:99:99") && number(dec, 1, 2) <= largestDegree && number(dec, 4, 2) <= 59
           && number(dec, 7, 2) <= 59;
}

// A run of one to nine digits at i, as a scanf "%d" would take it.
std::optional<int> readNumber(std::string_view text, std::size_t& i)
{
    const std::size_t first = i;
    int value = 0;
    while (i < text.size() && text_shape::isDigit(text[i]) && i - first < 9)
        value = value * 10 + (text[i++] - '0');
    if (i == first)
        return std::nullopt;
    return value;
}

}  // namespace

std::vector<std::string_view> MotionPageCoordinates::messages() const
{
    std::vector<std::string_view> shown;
    if (missing)
        shown.push_back(coordinatesMissingMessage);
    if (!raUsable)
        shown.push_back(reenterRaMessage);
    if (!decUsable)
        shown.push_back(reenterDecMessage);
    return shown;
}

MotionPageCoordinates validateMotionPageCoordinates(std::string_view ra, std::string_view dec)
{
    MotionPageCoordinates result;
    result.missing = ra.empty() || dec.empty();
    result.raUsable = ra.size() == 8;
    result.decUsable = dec.size() == 9;
    if (result.raUsable && result.decUsable) {
        result.raUsable = raInRange(ra, 23);
        result.decUsable = decInRange(dec, 90);
    }
    return result;
}

bool validateObjectsPageCoordinates(std::string_view ra, std::string_view dec)
{
    return raInRange(ra, 24) && decInRange(dec, 99);
}

std::optional<std::string> subtractOneSecond(std::string_view ra)
{
    std::size_t i = 0;
    const auto hours = readNumber(ra, i);
    if (!hours || i >= ra.size() || ra[i++] != ':')
        return std::nullopt;
    const auto minutes = readNumber(ra, i);
    if (!minutes || i >= ra.size() || ra[i++] != ':')
        return std::nullopt;
    const auto seconds = readNumber(ra, i);
    if (!seconds)
        return std::nullopt;
    int h = *hours;
    int m = *minutes;
    int s = *seconds - 1;
    if (s < 0) {
        s = 59;
        --m;
    }
    if (m < 0) {
        m = 59;
        --h;
    }
    if (h < 0)
        h = 23;
    return formatClockTime(h, m, s);
}

std::string declinationToSend(std::string_view dec)
{
    std::string sent(dec);
    if (sent.size() > 3)
        sent[3] = lx200::degreeSign;
    return sent;
}

std::optional<std::string> targetRaCommand(std::string_view ra)
{
    const auto earlier = subtractOneSecond(ra);
    if (!earlier)
        return std::nullopt;
    return ":Sr" + *earlier + "#";
}

std::string targetDecCommand(std::string_view dec)
{
    return ":Sd" + declinationToSend(dec) + "#";
}

std::optional<std::string_view> slewRefusalMessage(std::string_view reply)
{
    if (reply.starts_with('1'))
        return belowHorizonMessage;
    if (reply.starts_with('2'))
        return belowHigherLimitMessage;
    return std::nullopt;
}

std::optional<std::string> objectsPageSlewRefusal(std::string_view reply)
{
    if (reply.starts_with('1') || reply.starts_with('2'))
        return std::string(reply.substr(1));
    return std::nullopt;
}

}  // namespace tarvi
