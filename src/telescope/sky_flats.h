#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tarvi {

// A leg's length in milliseconds, as the page's field accepts it.
inline constexpr int smallestLegMs = 0;
inline constexpr int largestLegMs = 20000;
bool legLengthUsable(int milliseconds);

// "Stop" and leaving the page: every motion stops, then the page waits
// before it reads the position again.
inline constexpr std::array<std::string_view, 5> stopAllMotionCommands{":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#"};
inline constexpr int afterStopWaitMs = 500;
// A run moves at the centering rate and leaves the telescope at the guiding rate.
inline constexpr std::string_view runRateCommand = ":RC#";
inline constexpr std::string_view endRateCommand = ":RG#";

// One thing the page does within a leg.
struct SkyFlatStep {
    enum class Kind {
        send,          // the command, no reply read
        sendAndRead,   // the command, then a reply of up to 50 bytes, not examined
        slew,          // ":MS#", then a reply of up to 50 bytes read with slewRefusalMessage
        wait,          // milliseconds
    };
    Kind kind = Kind::send;
    std::string command;
    int milliseconds = 0;

    bool operator==(const SkyFlatStep&) const = default;
};
inline constexpr int skyFlatReplyCapacity = 50;

// The drift pattern of a run: north, east, south, west, each leg starting the
// new motion before it stops the previous one, and every 201st leg a slew
// back to where the run began. The page refreshes the position and looks for
// input before each leg, and ends the run on a left button press.
class SkyFlatPattern {
public:
    // The home position as the page read it, the declination with ":" after
    // the degrees; it goes out with the degree sign there, as every go-to does.
    SkyFlatPattern(std::string homeRa, std::string homeDec, int legMs);

    std::vector<SkyFlatStep> nextLeg();

private:
    std::string homeRa_;
    std::string homeDec_;
    int legMs_;
    int legsBeforeHome_ = 200;
    int direction_ = 0;
};

}  // namespace tarvi
