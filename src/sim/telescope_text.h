#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/telescope_sky.h"

namespace tarvi::sim {

// The telescope's degree sign in every angle it sends.
inline constexpr char lx200DegreeSign = '\xDF';

// The texts of the telescope's replies, without the closing "#". Values are
// cut, never rounded, to the last unit shown, so that a place set from a text
// reads back as that text.
std::string formatRightAscension(double raSeconds, bool longFormat);  // "HH:MM:SS", short "HH:MM.T"
std::string formatDeclination(double decArcseconds, bool longFormat);  // "sDD\xDFMM:SS", short "sDD\xDFMM"
std::string formatTimeOfDay(int seconds);                             // "HH:MM:SS"
std::string formatDate(const CivilTime& time);                        // "MM/DD/YY"
std::string formatLatitude(int arcminutes);                           // "sDD\xDFMM"
std::string formatLongitude(int arcminutes);                          // "DDD\xDFMM", west positive
std::string formatAzimuth(double arcseconds, bool longFormat);        // "DDD\xDFMM:SS", short "DDD\xDFMM"
std::string formatAltitudeLimit(int degrees);                         // "sDD\xDF"
std::string formatTrackingRate(int tenths);                           // "TT.T"

// The arguments of the set commands, with any leading blanks already gone.
// Angles take 0xDF, "*" or ":" for the degree sign. Nothing for a text out
// of form or out of range.
std::optional<double> parseRightAscension(std::string_view text);  // "HH:MM:SS" or "HH:MM.T", seconds of time
std::optional<double> parseDeclination(std::string_view text);     // "sDD*MM:SS" or "sDD*MM", arcseconds
std::optional<int> parseTimeOfDay(std::string_view text);          // "HH:MM:SS", seconds
std::optional<CivilTime> parseDate(std::string_view text);         // "MM/DD/YY", 20YY; the time of day left 0
std::optional<int> parseLatitude(std::string_view text);           // "sDD*MM", arcminutes
std::optional<int> parseLongitude(std::string_view text);          // "DDD*MM", arcminutes 0 to 360 degrees
std::optional<int> parseUtcOffset(std::string_view text);          // "sHH", hours -14 to +14
std::optional<int> parseTrackingRate(std::string_view text);       // "TTT.T" or "TT.T", tenths

std::string_view skipBlanks(std::string_view text);

}  // namespace tarvi::sim
