#include "telescope/sidereal_time.h"

#include <cmath>
#include <cstdio>

#include "telescope/text_shape.h"

namespace tarvi {

namespace {

using text_shape::isDigit;

int digitsAt(std::string_view text, std::size_t at)
{
    return text_shape::number(text, at, 2);
}

// Into [0, period); a value that is no number at all becomes 0.
double wrapped(double value, double period)
{
    double v = std::fmod(value, period);
    if (v < 0)
        v += period;
    return v >= 0 && v < period ? v : 0.0;
}

}  // namespace

double julianDate(int year, int month, int day, int hour, int minute, double second)
{
    long long y = year;
    long long m = month;
    if (m == 1 || m == 2) {
        y -= 1;
        m += 12;
    }
    const long long a = y / 100;
    const long long b = 2 - a + a / 4;
    const double whole = std::trunc(365.25 * static_cast<double>(y + 4716))
                         + std::trunc(30.6001 * static_cast<double>(m + 1)) + day + static_cast<double>(b);
    return whole - 1524.5 + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

double greenwichSiderealSeconds(double jd, double t)
{
    const double degrees = 280.46061837 + 360.98564736629 * (jd - 2451545.0) + 0.000387933 * t * t
                           - t * t * t / 38710000.0;
    return wrapped(degrees, 360.0) / 15.0 * 3600.0;
}

std::string siderealTime(int year, int month, int day, int hour, int minute, int second, double longitude,
                         int utcOffset)
{
    const double longitudeSeconds = longitude / 15.0 * 3600.0;
    const double jd = julianDate(year, month, day, hour, minute, second + utcOffset * 3600.0);
    const double centuries = (jd - 2451545.0) / 36525.0;
    // West longitudes are subtracted; an east one (negative) can carry the
    // time past a day, which the wrap takes back.
    const double s = wrapped(greenwichSiderealSeconds(jd, centuries) - longitudeSeconds, 86400.0);
    const long long whole = static_cast<long long>(s);
    return formatClockTime(static_cast<int>(whole / 3600 % 24), static_cast<int>(whole / 60 % 60),
                           static_cast<int>(whole % 60));
}

std::optional<double> readLongitude(std::string_view reply)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < reply.size() && (reply[i] == '+' || reply[i] == '-')) {
        negative = reply[i] == '-';
        ++i;
    }
    int degrees = 0;
    const std::size_t firstDigit = i;
    while (i < reply.size() && i - firstDigit < 3 && isDigit(reply[i]))
        degrees = degrees * 10 + (reply[i++] - '0');
    // Degrees, one separator (":" once the degree sign is turned), two digits of minutes.
    if (i == firstDigit || i + 3 > reply.size() || isDigit(reply[i]) || !isDigit(reply[i + 1])
        || !isDigit(reply[i + 2]))
        return std::nullopt;
    double value = degrees + digitsAt(reply, i + 1) / 60.0;
    if (negative)
        value = -value;
    value = std::fmod(value, 360.0);
    if (value > 180.0)
        value -= 360.0;
    else if (value < -180.0)
        value += 360.0;
    return value;
}

std::optional<int> readUtcOffset(std::string_view reply)
{
    std::size_t i = 0;
    while (i < reply.size() && (reply[i] == ' ' || reply[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < reply.size() && (reply[i] == '+' || reply[i] == '-')) {
        negative = reply[i] == '-';
        ++i;
    }
    const std::size_t firstDigit = i;
    int hours = 0;
    while (i < reply.size() && isDigit(reply[i])) {
        hours = hours * 10 + (reply[i++] - '0');
        if (hours > 24)
            return std::nullopt;
    }
    if (i == firstDigit)
        return std::nullopt;
    return negative ? -hours : hours;
}

std::optional<CalendarDate> readTelescopeDate(std::string_view reply)
{
    if (reply.size() < 8)
        return std::nullopt;
    for (std::size_t at : {0, 1, 3, 4, 6, 7}) {
        if (!isDigit(reply[at]))
            return std::nullopt;
    }
    return CalendarDate{2000 + digitsAt(reply, 6), digitsAt(reply, 0), digitsAt(reply, 3)};
}

std::optional<std::string> siderealTimeToSet(const ClockTime& typed, std::string_view dateReply, int utcOffset,
                                             std::string_view longitudeReply)
{
    const auto date = readTelescopeDate(dateReply);
    const auto longitude = readLongitude(longitudeReply);
    if (!date || !longitude)
        return std::nullopt;
    return siderealTime(date->year, date->month, date->day, typed.hour, typed.minute, typed.second, *longitude,
                        utcOffset);
}

std::string formatClockTime(int hour, int minute, int second)
{
    char text[40];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    return text;
}

}  // namespace tarvi
