#include "sim/telescope_sim.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>
#include <span>
#include <sys/prctl.h>

#include "sim/telescope_text.h"
#include "telescope/lx200_commands.h"

namespace tarvi::sim {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t lineBaud = 9600;
constexpr int bitsPerByte = 10;
constexpr double secondsPerDay = 86400;
constexpr double poleArcseconds = 90 * 3600;
// A command longer than any the telescope knows has lost its "#"; what was
// gathered is dropped rather than swallowing the commands after it.
constexpr std::size_t longestCommand = 40;
constexpr std::size_t heardBytesPerRecord = 16;
// Tenths of the rate ":Gs#" shows; 60.1 is sidereal, 57.9 lunar.
constexpr int slowestTrackingRate = 500;
constexpr int fastestTrackingRate = 700;

constexpr const char* productName = "Tarvi Sim Telescope";
constexpr const char* firmwareNumber = "1.0";
constexpr const char* firmwareDate = "Dec 06 2026";
constexpr const char* firmwareTime = "12:00:00";
// Polar: this is an equatorial mount.
constexpr const char* alignmentMode = "P";
constexpr std::array<const char*, 4> siteNames{"Site 1", "Site 2", "Site 3", "Site 4"};
// The one bar ":D#" shows while a go-to is under way; clients look for 0x7F.
constexpr char distanceBar = '\x7F';
// The highest altitude the mount points at, its "lower" limit: none short of
// the zenith.
constexpr int lowerLimitDegrees = 90;
constexpr const char* planetaryUpdateStarted = "1Updating Planetary Data#";
constexpr const char* belowHorizon = "1Object below horizon#";
constexpr const char* belowHigherLimit = "2Object below higher limit#";
constexpr const char* unknownObject = "Too far: no such object in this catalog#";
constexpr const char* coordinatesMatched = " Coordinates matched#";
constexpr int planetaryUpdateBlanks = 30;

double wrapped(double value, double period)
{
    const double r = std::fmod(value, period);
    return r < 0 ? r + period : r;
}

// Into -period/2 .. period/2, the shorter way round.
double shortestTurn(double value, double period)
{
    const double r = wrapped(value, period);
    return r > period / 2 ? r - period : r;
}

// North 0, east 90, for a place `hourAngleHours` west of the meridian.
double azimuthDegrees(double hourAngleHours, double declinationDegrees, double latitudeDegrees)
{
    constexpr double toRadians = std::numbers::pi / 180;
    const double hourAngle = hourAngleHours * 15 * toRadians;
    const double declination = declinationDegrees * toRadians;
    const double latitude = latitudeDegrees * toRadians;
    const double east = -std::cos(declination) * std::sin(hourAngle);
    const double north = std::sin(declination) * std::cos(latitude)
                         - std::cos(declination) * std::cos(hourAngle) * std::sin(latitude);
    return wrapped(std::atan2(east, north) / toRadians, 360);
}

double approach(double from, double to, double step)
{
    return std::fabs(to - from) <= step ? to : from + std::copysign(step, to - from);
}

template<typename T>
void keepLast(std::deque<T>& records, T record, std::size_t limit)
{
    if (limit == 0)
        return;
    records.push_back(std::move(record));
    while (records.size() > limit)
        records.pop_front();
}

std::chrono::steady_clock::duration byteTime()
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(double(bitsPerByte) / lineBaud));
}

std::optional<int> parseObjectNumber(std::string_view text)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    int number = 0;
    for (const char c : text)
        number = number * 10 + (c - '0');
    return number;
}

int computerUtcOffsetHours()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr)
        return 0;
    return -static_cast<int>(std::lround(local.tm_gmtoff / 3600.0));
}

}  // namespace

TelescopeSimulator::TelescopeSimulator(const TelescopeOptions& options) : options_(options)
{
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    timeScale_ = std::max(options.timeScale, 0.0);
    silent_ = options.silent;
    longFormat_ = options.longFormat;
    latitude_ = static_cast<int>(std::lround(std::clamp(options.latitudeDegrees, -90.0, 90.0) * 60));
    longitude_ = static_cast<int>(std::lround(wrapped(options.longitudeDegrees, 360) * 60)) % (360 * 60);
    utcOffset_ = options.utcOffsetHours ? *options.utcOffsetHours : computerUtcOffsetHours();
    if (options.localTime) {
        clockSeconds_ = double(secondsSince2000(*options.localTime));
    } else {
        const double epochSeconds = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        clockSeconds_ = epochSeconds - 946684800.0 - utcOffset_ * 3600.0;
    }
    clockSetAt_ = now;
    mount_.at = now;
    if (options.position) {
        mount_.ra = wrapped(options.position->raHours * 3600, secondsPerDay);
        mount_.dec = std::clamp(options.position->decDegrees * 3600, -poleArcseconds, poleArcseconds);
    } else {
        mount_.ra = siderealHours(now) * 3600;
        mount_.dec = latitude_ * 60.0;
    }
    mount_.targetRa = mount_.ra;
    mount_.targetDec = mount_.dec;
}

TelescopeSimulator::~TelescopeSimulator()
{
    stop();
}





void TelescopeSimulator::setSilent(bool silent)
{
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void TelescopeSimulator::setTimeScale(double timeScale)
{
    std::lock_guard lock(mutex_);
    advance(Clock::now());
    timeScale_ = std::max(timeScale, 0.0);
}

EquatorialPosition TelescopeSimulator::position() const
{
    std::lock_guard lock(mutex_);
    const Mount mount = mountAt(Clock::now());
    return {mount.ra / 3600, mount.dec / 3600};
}

EquatorialPosition TelescopeSimulator::target() const
{
    std::lock_guard lock(mutex_);
    return {mount_.targetRa / 3600, mount_.targetDec / 3600};
}

void TelescopeSimulator::setPosition(const EquatorialPosition& position)
{
    std::lock_guard lock(mutex_);
    advance(Clock::now());
    mount_.goingTo = mount_.north = mount_.south = mount_.east = mount_.west = false;
    mount_.ra = wrapped(position.raHours * 3600, secondsPerDay);
    mount_.dec = std::clamp(position.decDegrees * 3600, -poleArcseconds, poleArcseconds);
}

bool TelescopeSimulator::slewing() const
{
    std::lock_guard lock(mutex_);
    return mountAt(Clock::now()).goingTo;
}

MotionRate TelescopeSimulator::rate() const
{
    std::lock_guard lock(mutex_);
    return mount_.rate;
}

bool TelescopeSimulator::longFormat() const
{
    std::lock_guard lock(mutex_);
    return longFormat_;
}

double TelescopeSimulator::focuserPosition() const
{
    std::lock_guard lock(mutex_);
    return mountAt(Clock::now()).focuser;
}

CivilTime TelescopeSimulator::localTime() const
{
    std::lock_guard lock(mutex_);
    return civilTimeAt(static_cast<std::int64_t>(std::floor(localSeconds(Clock::now()))));
}

void TelescopeSimulator::setLocalTime(const CivilTime& time)
{
    std::lock_guard lock(mutex_);
    setLocalSeconds(double(secondsSince2000(time)), Clock::now());
}

double TelescopeSimulator::localSiderealHours() const
{
    std::lock_guard lock(mutex_);
    return siderealHours(Clock::now());
}

int TelescopeSimulator::backlash() const
{
    std::lock_guard lock(mutex_);
    return backlash_;
}

double TelescopeSimulator::trackingRate() const
{
    std::lock_guard lock(mutex_);
    return trackingRate_ / 10.0;
}

std::vector<std::string> TelescopeSimulator::receivedCommands() const
{
    std::lock_guard lock(mutex_);
    return {commands_.begin(), commands_.end()};
}

std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> TelescopeSimulator::timedCommands() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, Clock::time_point>> out;
    for (std::size_t i = 0; i < commands_.size(); ++i)
        out.emplace_back(commands_[i], commandTimes_[i]);
    return out;
}

std::vector<std::uint8_t> TelescopeSimulator::receivedBytes() const
{
    std::lock_guard lock(mutex_);
    return {heardBytes_.begin(), heardBytes_.end()};
}

std::vector<std::string> TelescopeSimulator::sentReplies() const
{
    std::lock_guard lock(mutex_);
    return {replies_.begin(), replies_.end()};
}

void TelescopeSimulator::clearTraffic()
{
    std::lock_guard lock(mutex_);
    commands_.clear();
    commandTimes_.clear();
    heardBytes_.clear();
    replies_.clear();
}

TelescopeSimulator::Mount TelescopeSimulator::mountAt(Clock::time_point at) const
{
    Mount mount = mount_;
    if (at <= mount.at)
        return mount;
    const double realSeconds = std::chrono::duration<double>(at - mount.at).count();
    mount.at = at;
    const double seconds = timeScale_ > 0 ? realSeconds / timeScale_ : realSeconds;

    const auto& rates = options_.rates;
    const double degreesPerSecond = mount.rate == MotionRate::slew     ? rates.slew
                                    : mount.rate == MotionRate::find   ? rates.find
                                    : mount.rate == MotionRate::center ? rates.center
                                                                       : rates.guide;
    const double step = degreesPerSecond * 3600 * seconds;
    mount.dec += (mount.north ? step : 0) - (mount.south ? step : 0);
    mount.dec = std::clamp(mount.dec, -poleArcseconds, poleArcseconds);
    mount.ra = wrapped(mount.ra + ((mount.east ? step : 0) - (mount.west ? step : 0)) / 15, secondsPerDay);

    if (mount.goingTo) {
        if (timeScale_ <= 0) {
            mount.ra = mount.targetRa;
            mount.dec = mount.targetDec;
        } else {
            // Both axes at full speed at once, right ascension the shorter
            // way round.
            const double slew = rates.slew * 3600 * seconds;
            mount.dec = approach(mount.dec, mount.targetDec, slew);
            const double turn = shortestTurn(mount.targetRa - mount.ra, secondsPerDay);
            mount.ra = std::fabs(turn) <= slew / 15 ? mount.targetRa
                                                    : wrapped(mount.ra + std::copysign(slew / 15, turn), secondsPerDay);
        }
        mount.goingTo = mount.ra != mount.targetRa || mount.dec != mount.targetDec;
    }

    mount.focuser += mount.focuserDirection * (mount.focuserFast ? options_.focuserFast : options_.focuserSlow) * seconds;
    return mount;
}

double TelescopeSimulator::localSeconds(Clock::time_point at) const
{
    if (!options_.clockRuns)
        return clockSeconds_;
    return clockSeconds_ + std::chrono::duration<double>(at - clockSetAt_).count();
}

void TelescopeSimulator::setLocalSeconds(double seconds, Clock::time_point at)
{
    clockSeconds_ = seconds;
    clockSetAt_ = at;
    // A sidereal time set by hand belonged to the old clock.
    siderealCorrection_ = 0;
}

double TelescopeSimulator::siderealHours(Clock::time_point at) const
{
    const double universal = localSeconds(at) + utcOffset_ * 3600.0;
    const double hours = greenwichSiderealHours(universal) - longitude_ / 60.0 / 15.0 + siderealCorrection_;
    return wrapped(hours, 24);
}

void TelescopeSimulator::run()
{
    // Line pacing sleeps for a millisecond at a time; the default timer slack
    // would add a twentieth to that.
    if (options_.pace)
        ::prctl(PR_SET_TIMERSLACK, 1UL);

    std::array<std::uint8_t, 512> buffer{};
    while (!stopping_) {
        if (hangUpNow()) {
            rx_.clear();
            delayed_.reset();
        }
        if (delayed_ && Clock::now() >= delayed_->due) {
            const DelayedReply reply = *delayed_;
            delayed_.reset();
            send(reply.text, reply.due);
            handlePending();
            continue;
        }
        auto wakeAt = Clock::now() + 200ms;
        if (delayed_)
            wakeAt = std::min(wakeAt, delayed_->due);
        const auto timeout = std::max(std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now()), 0ms);
        const auto result = pty_.read(buffer, timeout);
        if (result.status == PseudoTerminal::Status::ok) {
            hear(buffer.data(), result.count, Clock::now());
            handlePending();
        }
    }
}

void TelescopeSimulator::hear(const std::uint8_t* bytes, std::size_t count, Clock::time_point readAt)
{
    // At another speed a UART sees only framing errors.
    const auto line = pty_.lineSpeed();
    if (!line || line->baud != lineBaud) {
        rx_.clear();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < count; ++i)
            keepLast(heardBytes_, bytes[i], options_.recordLimit * heardBytesPerRecord);
        if (silent_) {
            rx_.clear();
            return;
        }
    }
    // A byte cannot arrive sooner than the line allows, paced or not: the
    // dots of a focus pulse keep the focuser running for their line time.
    const auto perByte = byteTime();
    rxLineFree_ = std::max(rxLineFree_, readAt);
    for (std::size_t i = 0; i < count; ++i) {
        rxLineFree_ += perByte;
        rx_.push_back({static_cast<char>(bytes[i]), rxLineFree_});
    }
}

void TelescopeSimulator::handlePending()
{
    while (!delayed_ && !stopping_ && !hangUpRequested_) {
        // Bytes outside a command, such as the dots of a focus pulse, mean
        // nothing to the telescope, except the ACK that asks its alignment
        // mode.
        rx_.erase(rx_.begin(), std::find_if(rx_.begin(), rx_.end(), [](const HeardByte& b) {
                      return b.byte == ':' || b.byte == lx200::ack;
                  }));
        if (rx_.empty())
            return;
        const auto end = rx_.front().byte == lx200::ack
                             ? rx_.begin()
                             : std::find_if(rx_.begin() + 1, rx_.end(), [](const HeardByte& b) { return b.byte == '#'; });
        if (end == rx_.end()) {
            if (rx_.size() <= longestCommand)
                return;
            rx_.erase(rx_.begin());
            continue;
        }
        std::string command;
        for (auto b = rx_.begin(); b <= end; ++b)
            command.push_back(b->byte);
        const auto at = end->at;
        rx_.erase(rx_.begin(), end + 1);
        if (options_.pace && !pause(at))
            return;
        const std::string reply = handle(command, at);
        if (!reply.empty())
            send(reply, at);
    }
}

std::string TelescopeSimulator::handle(const std::string& command, Clock::time_point at)
{
    std::lock_guard lock(mutex_);
    keepLast(commands_, command, options_.recordLimit);
    keepLast(commandTimes_, at, options_.recordLimit);
    advance(at);
    const lx200::CommandInfo info = lx200::commandInfo(command);
    if (info.effect == lx200::Effect::other)
        return {};
    if (command.size() == 1)
        return alignmentMode;
    const std::string_view body = std::string_view(command).substr(1, command.size() - 2);
    Mount& mount = mount_;

    if (body == "GR")
        return formatRightAscension(mount.ra, longFormat_) + '#';
    if (body == "GD")
        return formatDeclination(mount.dec, longFormat_) + '#';
    if (body == "Gr")
        return formatRightAscension(mount.targetRa, longFormat_) + '#';
    if (body == "Gd")
        return formatDeclination(mount.targetDec, longFormat_) + '#';
    if (body == "GS")
        return formatTimeOfDay(static_cast<int>(std::floor(siderealHours(at) * 3600 + 1e-6)) % 86400) + '#';
    if (body == "GL")
        return formatTimeOfDay(static_cast<int>(wrapped(std::floor(localSeconds(at)), secondsPerDay))) + '#';
    if (body == "GC")
        return formatDate(civilTimeAt(static_cast<std::int64_t>(std::floor(localSeconds(at))))) + '#';
    if (body == "Gt")
        return formatLatitude(latitude_) + '#';
    if (body == "Gg")
        return formatLongitude(longitude_) + '#';
    if (body == "GG") {
        char text[8];
        std::snprintf(text, sizeof text, "%+03d#", utcOffset_);
        return text;
    }
    if (body == "GVP")
        return std::string(productName) + '#';
    if (body == "GVN")
        return std::string(firmwareNumber) + '#';
    if (body == "GVD")
        return std::string(firmwareDate) + '#';
    if (body == "GVT")
        return std::string(firmwareTime) + '#';
    if (body == "GVF")
        return std::string(productName) + ' ' + firmwareNumber + '#';
    // The tracking frequency is the tracking rate under another name.
    if (body == "Gs" || body == "GT")
        return formatTrackingRate(trackingRate_) + '#';
    if (body == "Gc")
        return "24#";
    if (body == "GM" || body == "GN" || body == "GO" || body == "GP")
        return std::string(siteNames[static_cast<std::size_t>(body[1] - 'M')]) + '#';
    if (body == "GA" || body == "GZ") {
        const double hourAngle = siderealHours(at) - mount.ra / 3600;
        const double latitude = latitude_ / 60.0;
        if (body == "GA")
            return formatDeclination(altitudeDegrees(hourAngle, mount.dec / 3600, latitude) * 3600, longFormat_) + '#';
        return formatAzimuth(azimuthDegrees(hourAngle, mount.dec / 3600, latitude) * 3600, longFormat_) + '#';
    }
    if (body == "Gh")
        return formatAltitudeLimit(static_cast<int>(options_.higherLimitDegrees)) + '#';
    if (body == "Go")
        return formatAltitudeLimit(lowerLimitDegrees) + '#';
    if (body == "D")
        return mount.goingTo ? std::string{distanceBar, '#'} : "#";
    if (body == "U") {
        longFormat_ = !longFormat_;
        return {};
    }
    if (body == "Q") {
        mount.goingTo = mount.north = mount.south = mount.east = mount.west = false;
        return {};
    }
    if (body.size() == 2 && (body[0] == 'Q' || body[0] == 'M')) {
        bool* direction = body[1] == 'n'   ? &mount.north
                          : body[1] == 's' ? &mount.south
                          : body[1] == 'e' ? &mount.east
                          : body[1] == 'w' ? &mount.west
                                           : nullptr;
        if (direction) {
            *direction = body[0] == 'M';
            return {};
        }
        if (body == "MS")
            return goTo(at);
        return {};
    }
    if (body == "RS" || body == "RM" || body == "RC" || body == "RG") {
        mount.rate = body[1] == 'S' ? MotionRate::slew
                     : body[1] == 'M' ? MotionRate::find
                     : body[1] == 'C' ? MotionRate::center
                                      : MotionRate::guide;
        return {};
    }
    if (body == "CM")
        return sync();
    if (body == "F+" || body == "F-")
        mount.focuserDirection = body[1] == '+' ? 1 : -1;
    else if (body == "FQ")
        mount.focuserDirection = 0;
    else if (body == "FF" || body == "FS")
        mount.focuserFast = body[1] == 'F';
    else if (body.starts_with("$BA")) {
        const auto value = parseObjectNumber(body.substr(3));
        if (value && *value <= 99)
            backlash_ = *value;
    } else if (body.starts_with("S")) {
        return handleSet(body, at);
    } else if (body.starts_with("L")) {
        return handleLibrary(body);
    }
    return {};
}

std::string TelescopeSimulator::handleSet(std::string_view body, Clock::time_point at)
{
    const auto answer = [](bool accepted) { return std::string(accepted ? "1" : "0"); };
    const bool rateOnly = body.size() >= 2 && body[1] >= '0' && body[1] <= '9';
    if (rateOnly || body.starts_with("ST")) {
        const auto rate = parseTrackingRate(body.substr(rateOnly ? 1 : 2));
        if (!rate || *rate < slowestTrackingRate || *rate > fastestTrackingRate)
            return answer(false);
        trackingRate_ = *rate;
        return answer(true);
    }
    const std::string_view key = body.substr(0, 2);
    const std::string_view argument = skipBlanks(body.substr(std::min<std::size_t>(2, body.size())));
    const double now = localSeconds(at);
    const double startOfDay = std::floor(now / secondsPerDay) * secondsPerDay;

    if (key == "Sr") {
        const auto ra = parseRightAscension(argument);
        if (ra) {
            mount_.targetRa = *ra;
            targetIsObject_ = false;
        }
        return answer(ra.has_value());
    }
    if (key == "Sd") {
        const auto dec = parseDeclination(argument);
        if (dec) {
            mount_.targetDec = *dec;
            targetIsObject_ = false;
        }
        return answer(dec.has_value());
    }
    if (key == "SC") {
        const auto date = parseDate(argument);
        if (!date)
            return answer(false);
        setLocalSeconds(double(secondsSince2000(*date)) + (now - startOfDay), at);
        // Busy with the planets until the second reply: what the program
        // sends meanwhile waits its turn.
        const auto busy = std::chrono::duration<double>(options_.planetaryUpdateSeconds * timeScale_);
        delayed_ = DelayedReply{std::string(planetaryUpdateBlanks, ' ') + '#',
                                at + std::chrono::duration_cast<Clock::duration>(busy)};
        return planetaryUpdateStarted;
    }
    if (key == "SL") {
        const auto time = parseTimeOfDay(argument);
        if (time)
            setLocalSeconds(startOfDay + *time, at);
        return answer(time.has_value());
    }
    if (key == "SS") {
        const auto time = parseTimeOfDay(argument);
        if (time) {
            const double computed = siderealHours(at) - siderealCorrection_;
            siderealCorrection_ = shortestTurn(*time / 3600.0 - computed, 24);
        }
        return answer(time.has_value());
    }
    if (key == "St" || key == "Sg" || key == "SG") {
        const auto value = key == "St"   ? parseLatitude(argument)
                           : key == "Sg" ? parseLongitude(argument)
                                         : parseUtcOffset(argument);
        if (value) {
            (key == "St" ? latitude_ : key == "Sg" ? longitude_ : utcOffset_) = *value;
            siderealCorrection_ = 0;
        }
        return answer(value.has_value());
    }
    return {};
}

std::string TelescopeSimulator::handleLibrary(std::string_view body)
{
    if (body == "LI")
        return object_ ? describeObject(object_->first, object_->second) + '#' : std::string(unknownObject);
    const std::string_view key = body.substr(0, 2);
    const std::string_view argument = skipBlanks(body.substr(std::min<std::size_t>(2, body.size())));
    if (key == "Ls" || key == "Lo") {
        static constexpr TelescopeCatalog starCatalogs[] = {TelescopeCatalog::star, TelescopeCatalog::sao,
                                                            TelescopeCatalog::gcvs};
        static constexpr TelescopeCatalog deepSkyCatalogs[] = {TelescopeCatalog::ngc, TelescopeCatalog::ic,
                                                               TelescopeCatalog::ugc};
        if (argument.size() != 1 || argument[0] < '0' || argument[0] > '2')
            return "0";
        const auto index = static_cast<std::size_t>(argument[0] - '0');
        (key == "Ls" ? starCatalog_ : deepSkyCatalog_) = (key == "Ls" ? starCatalogs : deepSkyCatalogs)[index];
        return "1";
    }
    if (key == "LS" || key == "LC" || key == "LM") {
        const TelescopeCatalog catalog = key == "LS" ? starCatalog_ : key == "LC" ? deepSkyCatalog_ : TelescopeCatalog::messier;
        const auto number = parseObjectNumber(argument);
        const auto object = number ? findCatalogObject(catalog, *number) : std::nullopt;
        object_.reset();
        if (object) {
            object_.emplace(catalog, *object);
            mount_.targetRa = object->raSeconds;
            mount_.targetDec = object->decArcseconds;
            targetIsObject_ = true;
        }
    }
    return {};
}

std::string TelescopeSimulator::goTo(Clock::time_point at)
{
    const double hourAngle = siderealHours(at) - mount_.targetRa / 3600;
    const double altitude = altitudeDegrees(hourAngle, mount_.targetDec / 3600, latitude_ / 60.0);
    if (altitude < 0)
        return belowHorizon;
    if (altitude < options_.higherLimitDegrees)
        return belowHigherLimit;
    mount_.goingTo = true;
    return "0";
}

std::string TelescopeSimulator::sync()
{
    mount_.ra = mount_.targetRa;
    mount_.dec = mount_.targetDec;
    mount_.goingTo = false;
    if (targetIsObject_ && object_)
        return ' ' + describeObject(object_->first, object_->second) + '#';
    return coordinatesMatched;
}

bool TelescopeSimulator::pause(Clock::time_point until)
{
    for (;;) {
        if (stopping_ || hangUpRequested_)
            return false;
        if (Clock::now() >= until)
            return true;
        pty_.waitUntil(until);
    }
}

void TelescopeSimulator::send(const std::string& reply, Clock::time_point notBefore)
{
    if (hangUpRequested_)
        return;
    {
        std::lock_guard lock(mutex_);
        if (silent_)
            return;
        // Kept before the first byte goes: whoever has read the reply can
        // count on finding it here.
        keepLast(replies_, reply, options_.recordLimit);
    }
    const auto line = pty_.lineSpeed();
    if (!line || line->baud != lineBaud)
        return;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size());
    if (!options_.pace) {
        pty_.write(bytes, 1s);
        return;
    }
    // Byte k is in the program's hands when its stop bit ends.
    const auto perByte = byteTime();
    const auto start = std::max({notBefore, txLineFree_, Clock::now()});
    txLineFree_ = start + static_cast<Clock::rep>(bytes.size()) * perByte;
    std::size_t next = 0;
    while (next < bytes.size()) {
        if (!pause(start + static_cast<Clock::rep>(next + 1) * perByte))
            return;
        const auto now = Clock::now();
        std::size_t end = next + 1;
        while (end < bytes.size() && start + static_cast<Clock::rep>(end + 1) * perByte <= now)
            ++end;
        if (pty_.write(bytes.subspan(next, end - next), 1s).status != PseudoTerminal::Status::ok)
            return;
        next = end;
    }
}

}  // namespace tarvi::sim
