#pragma once

#include <cstdint>

namespace tarvi::sim {

// A date and time of day on the telescope's clock, Gregorian calendar.
struct CivilTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const CivilTime&) const = default;
};

int daysInMonth(int year, int month);
bool isValid(const CivilTime& time);

// Whole seconds since 2000-01-01 00:00:00 on the same clock, and back; the
// telescope keeps its time as such a count so that days, months and years
// roll over by themselves.
std::int64_t secondsSince2000(const CivilTime& time);
CivilTime civilTimeAt(std::int64_t secondsSince2000);

// Mean sidereal time at Greenwich in hours, 0 to 24, for a universal time
// given as seconds since 2000-01-01 00:00:00 UT.
double greenwichSiderealHours(double universalSecondsSince2000);

// Altitude above the horizon in degrees of a place at `hourAngleHours` west
// of the meridian and declination `declinationDegrees`, seen from
// `latitudeDegrees`.
double altitudeDegrees(double hourAngleHours, double declinationDegrees, double latitudeDegrees);

}  // namespace tarvi::sim
