#include "sim/telescope_sky.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvi::sim {
namespace {

constexpr std::int64_t secondsPerDay = 86400;
// From 1970-01-01 to 2000-01-01.
constexpr std::int64_t daysTo2000 = 10957;

// Days since 1970-01-01 in the proleptic Gregorian calendar, counting from
// March so that the leap day ends the year.
std::int64_t daysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

double radians(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

}  // namespace

int daysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return days[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool isValid(const CivilTime& time)
{
    return time.month >= 1 && time.month <= 12 && time.day >= 1 && time.day <= daysInMonth(time.year, time.month)
           && time.hour >= 0 && time.hour < 24 && time.minute >= 0 && time.minute < 60 && time.second >= 0
           && time.second < 60;
}

std::int64_t secondsSince2000(const CivilTime& time)
{
    const std::int64_t days = daysFromCivil(time.year, time.month, time.day) - daysTo2000;
    return days * secondsPerDay + time.hour * 3600 + time.minute * 60 + time.second;
}

CivilTime civilTimeAt(std::int64_t seconds)
{
    std::int64_t days = seconds / secondsPerDay;
    std::int64_t ofDay = seconds % secondsPerDay;
    if (ofDay < 0) {
        ofDay += secondsPerDay;
        --days;
    }
    const std::int64_t z = days + daysTo2000 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    CivilTime time;
    time.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    time.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0));
    time.hour = static_cast<int>(ofDay / 3600);
    time.minute = static_cast<int>(ofDay / 60 % 60);
    time.second = static_cast<int>(ofDay % 60);
    return time;
}

double greenwichSiderealHours(double universalSecondsSince2000)
{
    // Days and Julian centuries from the epoch J2000.0, 2000-01-01 12:00 UT;
    // good to a small fraction of a second for centuries either side.
    const double days = universalSecondsSince2000 / secondsPerDay - 0.5;
    const double centuries = days / 36525.0;
    const double hours = 18.697374558 + 24.06570982441908 * days + 0.000026 * centuries * centuries;
    const double wrapped = std::fmod(hours, 24.0);
    return wrapped < 0 ? wrapped + 24.0 : wrapped;
}

double altitudeDegrees(double hourAngleHours, double declinationDegrees, double latitudeDegrees)
{
    const double hourAngle = radians(hourAngleHours * 15.0);
    const double declination = radians(declinationDegrees);
    const double latitude = radians(latitudeDegrees);
    const double sine = std::sin(latitude) * std::sin(declination)
                        + std::cos(latitude) * std::cos(declination) * std::cos(hourAngle);
    return std::asin(std::clamp(sine, -1.0, 1.0)) * 180.0 / std::numbers::pi;
}

}  // namespace tarvi::sim
