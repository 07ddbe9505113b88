#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvi {

class LX200Link;

// The rules of the motion page that need no window: rates, the focuser's
// modes and counter, dynamic focus, the park countdown and the page's
// settings file.
namespace motion {

// The slew-rate radio buttons, in their order: Slew, Find, Center, Guide.
std::string_view slewRateCommand(int slewRate);

// The focus speed combo box, in its order, and the flags each item sets.
inline constexpr std::array<std::string_view, 6> focusSpeedItems{
    "Slow", "Slow - Stepped", "Fast", "Fast - Stepped", "Slow Stepper Motor", "Fast Stepper Motor"};
struct FocusFlags {
    int fastFocus = 0;
    int steppedFocus = 0;
    int slowStepper = 0;
    int fastStepper = 0;
    bool operator==(const FocusFlags&) const = default;
};
// A speed outside the list sets no flag: continuous slow focusing.
FocusFlags focusFlags(int focusSpeed);

// One pulse of the focuser: the start command, thirty filler bytes whose line
// time the focuser runs for, and the stop command, in one write of 38 bytes.
std::string focusPulse(bool in);

// How far the counter moves for d signed milliseconds of focusing (continuous
// modes) or of pulse (stepped modes): the first second of a continuous move
// counts along a quadratic ramp, fast counts twice as much as slow, and 16
// units make one count.
int focusCounterChange(std::int64_t d, bool steppedFocus, bool fastFocus);

// Out-steps per hour are kept within 1 to 7200.
int clampOutStepsPerHour(int value);
// The dynamic focus timer's period for that many out-steps per hour.
int dynamicFocusPeriodMs(int outStepsPerHour);

// The seconds a park countdown still shows: started with startSeconds at
// startTime, in whole seconds and 32 bits, never below 0.
int parkSecondsLeft(int startSeconds, std::int64_t startTime, std::int64_t now);

// "LX200P0.ini", section "Settings", key "Values": "%d %d" of parked and the
// focus speed. A line that does not parse keeps what it lacks.
struct PageSettings {
    int parked = 0;
    int focusSpeed = 4;
};
PageSettings parsePageSettings(std::string_view line, PageSettings kept);
std::string formatPageSettings(const PageSettings& settings);

// The user's configuration directory for Tarvi, $XDG_CONFIG_HOME/tarvi or
// ~/.config/tarvi, made when missing.
std::string userConfigDirectory(const char* xdgConfigHome, const char* home);

// What the page sends when it is handed an open port: all motion stops, the
// telescope is left in the coordinate format that gives the longer
// declination, and the focuser stops.
void precisionSetup(LX200Link& link);

}  // namespace motion
}  // namespace tarvi
