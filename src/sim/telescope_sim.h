#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "sim/line_device.h"
#include "sim/pseudo_terminal.h"
#include "sim/telescope_catalog.h"
#include "sim/telescope_sky.h"

namespace tarvi::sim {

// The sky turns by 360.9856 degrees in a solar day.
inline constexpr double siderealDegreesPerSecond = 360.98564736629 / 86400.0;

// Axis speeds in degrees per second. A direction key moves one axis at the
// rate chosen last; right ascension moves by the axis angle, so 15 degrees
// make an hour whatever the declination.
struct TelescopeRates {
    double slew = 4.0;  // ":RS#", and every go-to
    double find = 1.0;  // ":RM#"
    double center = 16 * siderealDegreesPerSecond;  // ":RC#"
    double guide = 2 * siderealDegreesPerSecond;    // ":RG#"
};

enum class MotionRate { slew, find, center, guide };

struct EquatorialPosition {
    double raHours = 0;
    double decDegrees = 0;
};

struct TelescopeOptions {
    // Real seconds per telescope second for the motions, the focuser and the
    // planetary update after ":SC": 1 is real time, 0.01 a hundred times
    // faster. 0 ends a go-to and the update at once; motions that have no end
    // of their own (direction keys, focuser) then run in real time. The clock
    // and the sky always keep real time.
    double timeScale = 1.0;
    // Every byte, both ways, takes its line time at 9600 baud: 10 bits for 8
    // data bits and one start and one stop bit. Without it replies go out at
    // once; commands take effect at the time their last byte would have
    // arrived either way, which is what times a focus pulse.
    bool pace = false;
    bool silent = false;

    double latitudeDegrees = 45.5;     // north positive
    double longitudeDegrees = 73.567;  // west positive, 0 to 360
    // Hours added to local time to give universal time; empty: those of the
    // computer's time zone, to the nearest hour.
    std::optional<int> utcOffsetHours;
    // The local time at start; empty: the computer's clock less the offset.
    std::optional<CivilTime> localTime;
    bool clockRuns = true;  // false holds the clock still, for tests of the sky

    // Empty: pointing at the zenith when switched on.
    std::optional<EquatorialPosition> position;
    // A go-to to a target above the horizon but lower than this is refused
    // with "2": the lowest altitude the telescope will slew to.
    double higherLimitDegrees = 10.0;
    TelescopeRates rates;
    double focuserFast = 400;  // focuser steps per second, ":FF#"
    double focuserSlow = 40;   // ":FS#"
    double planetaryUpdateSeconds = 6;  // between the two replies to ":SC"
    bool longFormat = false;  // a classic one powers up in the short format

    std::size_t recordLimit = 4096;  // commands and replies kept, the oldest going first
};

// An LX200-protocol telescope on the far side of a pseudo-terminal, run on a
// thread of its own: a mount that tracks the sky and moves by direction keys
// at four rates or slews to a go-to target, short and long coordinate
// formats, go-to refusals from its own horizon model, built-in catalogs, its
// own clock, site and sidereal time, a focuser, tracking rate and backlash,
// and what network clients ask when they connect: the alignment mode for the
// lone ACK byte, firmware, site names, altitude and azimuth, distance bars.
// It hears and answers only while the program's side of the line is set to
// 9600 baud. Commands outside lx200::commandInfo's table get no reply, nor
// do those of the table it does not carry out.
//
// All public members may be called from any thread.
class TelescopeSimulator final : public LineDevice {
public:
    // Throws std::system_error when no pseudo-terminal can be had.
    explicit TelescopeSimulator(const TelescopeOptions& options = {});
    ~TelescopeSimulator();
    TelescopeSimulator(const TelescopeSimulator&) = delete;
    TelescopeSimulator& operator=(const TelescopeSimulator&) = delete;

    // Hears nothing and says nothing; the bytes are still recorded.
    void setSilent(bool silent);
    void setTimeScale(double timeScale);

    // Where the telescope points now, and where a go-to would take it.
    EquatorialPosition position() const;
    EquatorialPosition target() const;
    // Puts the telescope there at once; every motion stops.
    void setPosition(const EquatorialPosition& position);
    bool slewing() const;  // a go-to under way
    MotionRate rate() const;
    bool longFormat() const;
    double focuserPosition() const;  // steps, outward positive

    CivilTime localTime() const;
    void setLocalTime(const CivilTime& time);
    double localSiderealHours() const;
    int backlash() const;
    // As ":Gs#" shows it, 60.1 for sidereal; ":S" + TTT.T + "#" takes 50.0
    // to 70.0.
    double trackingRate() const;

    // Every whole command heard, ":" to "#" or the lone ACK byte, oldest
    // first.
    std::vector<std::string> receivedCommands() const;
    // The same with when each command's last byte was heard.
    std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> timedCommands() const;
    // Every byte heard at 9600 baud, filler and all.
    std::vector<std::uint8_t> receivedBytes() const;
    // Every reply as the telescope sent it.
    std::vector<std::string> sentReplies() const;
    void clearTraffic();

private:
    using Clock = std::chrono::steady_clock;

    struct HeardByte {
        char byte;
        Clock::time_point at;  // when its stop bit ended
    };
    // The moving parts, as they were at `at`. Right ascension in seconds of
    // time, declination in arcseconds: a place set from a text is held
    // exactly.
    struct Mount {
        double ra = 0;
        double dec = 0;
        double targetRa = 0;
        double targetDec = 0;
        bool goingTo = false;
        bool north = false, south = false, east = false, west = false;
        MotionRate rate = MotionRate::slew;
        int focuserDirection = 0;
        bool focuserFast = true;
        double focuser = 0;
        Clock::time_point at;
    };
    struct DelayedReply {
        std::string text;
        Clock::time_point due;
    };

    void run() override;
    void hear(const std::uint8_t* bytes, std::size_t count, Clock::time_point readAt);
    // Handles whole commands from rx_ until none is left or one keeps the
    // telescope busy.
    void handlePending();
    std::string handle(const std::string& command, Clock::time_point at);
    std::string handleSet(std::string_view body, Clock::time_point at);
    std::string handleLibrary(std::string_view body);
    std::string goTo(Clock::time_point at);
    std::string sync();
    void send(const std::string& reply, Clock::time_point notBefore);
    bool pause(Clock::time_point until);

    // The rest needs mutex_.
    Mount mountAt(Clock::time_point at) const;
    void advance(Clock::time_point to) { mount_ = mountAt(to); }
    double localSeconds(Clock::time_point at) const;
    void setLocalSeconds(double seconds, Clock::time_point at);
    double siderealHours(Clock::time_point at) const;

    TelescopeOptions options_;

    mutable std::mutex mutex_;
    double timeScale_ = 1.0;
    bool silent_ = false;
    Mount mount_;
    bool longFormat_ = false;

    // Local time in seconds since 2000-01-01 at clockSetAt_.
    double clockSeconds_ = 0;
    Clock::time_point clockSetAt_;
    double siderealCorrection_ = 0;  // hours, set by ":SS"
    int latitude_ = 0;               // arcminutes
    int longitude_ = 0;              // arcminutes west, 0 to 360 degrees
    int utcOffset_ = 0;
    int trackingRate_ = 601;  // tenths
    int backlash_ = 0;

    TelescopeCatalog starCatalog_ = TelescopeCatalog::star;
    TelescopeCatalog deepSkyCatalog_ = TelescopeCatalog::ngc;
    // The object the last library command chose; empty when it named none.
    std::optional<std::pair<TelescopeCatalog, CatalogObject>> object_;
    bool targetIsObject_ = false;

    std::deque<std::string> commands_;
    std::deque<Clock::time_point> commandTimes_;
    std::deque<std::uint8_t> heardBytes_;
    std::deque<std::string> replies_;

    // The rest belongs to the telescope's thread.
    std::vector<HeardByte> rx_;
    std::optional<DelayedReply> delayed_;
    Clock::time_point rxLineFree_;
    Clock::time_point txLineFree_;

};

}  // namespace tarvi::sim
