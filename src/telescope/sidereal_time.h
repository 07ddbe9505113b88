#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvi {

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
    bool operator==(const CalendarDate&) const = default;
};

struct ClockTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool operator==(const ClockTime&) const = default;
};

// The Julian date of a Gregorian calendar date and time (Meeus), with the
// calendar part in integer arithmetic truncated toward zero. The seconds may
// run past a day or below zero; the date moves with them.
double julianDate(int year, int month, int day, int hour, int minute, double second);

// Mean sidereal time at Greenwich (IAU 1982) for a Julian date and its
// centuries from J2000.0, in seconds of sidereal time, 0 to below 86400.
double greenwichSiderealSeconds(double julianDate, double centuries);

// The local sidereal time "HH:MM:SS" for a local civil time. utcOffset is
// the hours to add to the local time to get universal time; the longitude is
// in degrees west of Greenwich (east negative), as the telescope counts it.
std::string siderealTime(int year, int month, int day, int hour, int minute, int second, double longitude,
                         int utcOffset);

// The ":Gg#" reply in degrees west, within -180 to 180: "DDD:MM" counts
// westward 0 to 360, so 250:00 is 110 degrees east (-110). Later firmware
// answers signed ("-110:00", east negative); the sign comes from the text, so
// "-00:30" is half a degree east. Nothing when no degrees and minutes can be
// read.
std::optional<double> readLongitude(std::string_view reply);

// The ":GG#" reply, the hours to add to local time to get universal time,
// read as a signed decimal integer ("+05", "-08", "-05.0" is -5). Nothing
// when there is no number or it lies outside -24 to 24.
std::optional<int> readUtcOffset(std::string_view reply);

// The ":GC#" reply MM/DD/YY; the year is 2000 + YY. Nothing when any of the
// three two-digit groups is missing.
std::optional<CalendarDate> readTelescopeDate(std::string_view reply);

// The sidereal time that goes out as ":SS HH:MM:SS#" after the typed local
// time: for the typed time on the telescope's date (its ":GC#" reply), the
// page's UTC offset and the telescope's longitude (its ":Gg#" reply).
// Nothing when the date or the longitude reply cannot be read, so that no
// sidereal time made up from nothing is sent.
std::optional<std::string> siderealTimeToSet(const ClockTime& typed, std::string_view dateReply, int utcOffset,
                                             std::string_view longitudeReply);

// "%02d:%02d:%02d".
std::string formatClockTime(int hour, int minute, int second);

}  // namespace tarvi
