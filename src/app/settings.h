#pragma once

#include <string>
#include <string_view>

#include "platform/ini_file.h"

namespace tarvi {

// The camera and port settings, stored as one line of seventeen numbers in
// tarvi.ini. The field order is the order of the numbers in the line.
struct st4Settings {
    int antiBloom = 0;
    int smoothImage = 0;
    int subtractDarkFrame = 0;
    int operationsInPC = 0;
    int useCompression = 0;
    int cameraGain = 0;          // 0 = 1x .. 3 = 4x
    float exposureTime = 0.0f;   // seconds
    int exposureDelay = 0;       // seconds before an image exposure
    int baselineLevel = 0;
    int subtractionConstant = 0;
    int cameraPort = 0;          // 0 = COM1 .. 3 = COM4
    int cameraSpeed = 0;         // 0 = 57600, 1 = 19200, 2 = 9600, 3 = 1200 baud
    int cameraSpeedInUse = 0;
    int telescopePort = 0;
    int cameraHandle = 0;        // -1 = closed
    int telescopeHandle = 0;     // -1 = closed
    int downloadStop = 0;

    static st4Settings defaults();
};

inline constexpr std::string_view settingsSection = "st4Settings150";
inline constexpr std::string_view settingsKey = "Values";
inline constexpr std::string_view defaultSettingsLine = "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0";
inline constexpr int settingsFieldCount = 17;

// "%d %d %d %d %d %d %f %d %d %d %d %d %d %d %d %d %d\n", whatever the
// process's locale: the decimal point is always ".".
std::string formatSettingsLine(const st4Settings& settings);

// Reads the line the way the write format scans it: numbers separated by
// white space, stopping at the first item that is not a number. Fields the
// line does not reach keep their values. A field that is read but lies
// outside the range the program works with takes its default instead (a gain
// index of -1 or a speed index of 7 would index past the program's tables).
// Returns the number of fields read.
int parseSettingsLine(std::string_view line, st4Settings& settings);

// Setup > Communications' sharing of the telescope with planetarium
// programs over TCP, kept in a section of its own so that the settings line
// stays as it is.
struct TelescopeSharing {
    static constexpr int defaultPort = 4030;
    bool on = false;
    int port = defaultPort;    // 1 to 65535
    bool allowOthers = false;  // listen on every address, not the loopback ones only

    bool operator==(const TelescopeSharing&) const = default;
};

inline constexpr std::string_view sharingSection = "TelescopeServer";

// Values missing or out of range read as the defaults.
TelescopeSharing readTelescopeSharing(const IniFile& ini);
FileError writeTelescopeSharing(IniFile& ini, const TelescopeSharing& sharing);

// Setup > Camera's "Write observation keywords": the FITS files of captures
// carry the date, exposure and pointing. Off unless [FITS] says 1.
inline constexpr std::string_view fitsSection = "FITS";
bool readObservationKeywords(const IniFile& ini);
FileError writeObservationKeywords(IniFile& ini, bool on);

}  // namespace tarvi
