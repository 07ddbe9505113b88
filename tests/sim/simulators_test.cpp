// The simulated camera and telescope on their pseudo-terminals: the
// behaviour the program's tests rely on, seen from the program's end of the
// line, opened and set up the plain way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <ranges>
#include <string>
#include <thread>
#include <vector>

#include "camera/st4_protocol.h"
#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"

namespace tarvi::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// True once the condition holds; false after a bound a healthy machine never reaches.
inline bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return condition();
}

class Line {
public:
    explicit Line(const std::string& path, speed_t speed = B9600)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        EXPECT_GE(fd_, 0) << path << ": " << std::strerror(errno);
        setSpeed(speed);
    }
    ~Line() { ::close(fd_); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // No parity: a pseudo-terminal drops the flag, and the C library then
    // fails a call that changes nothing else.
    void setSpeed(speed_t speed)
    {
        termios line{};
        ::tcgetattr(fd_, &line);
        ::cfmakeraw(&line);
        line.c_cflag = (line.c_cflag | CREAD | CLOCAL) & ~tcflag_t(CSTOPB);
        ::cfsetispeed(&line, speed);
        ::cfsetospeed(&line, speed);
        ASSERT_EQ(::tcsetattr(fd_, TCSANOW, &line), 0) << std::strerror(errno);
    }
    template <std::ranges::contiguous_range R>
    void send(const R& bytes) { ASSERT_EQ(::write(fd_, std::data(bytes), std::size(bytes)), ssize_t(std::size(bytes))); }
    void send(const char* text) { send(std::string(text)); }
    // Up to count bytes; within totalMs, ended early by quietMs of quiet after a byte.
    Bytes receive(std::size_t count, int totalMs = 10000, int quietMs = 10000)
    {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            std::uint8_t buffer[512];
            if (left <= 0ms || ::poll(&p, 1, int(got.empty() ? left.count() : std::min<long>(left.count(), quietMs))) <= 0)
                break;
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    // A telescope's reply: whatever comes within totalMs, ended by 25 ms of quiet.
    std::string ask(const std::string& command, int totalMs = 1000)
    {
        send(command);
        const Bytes reply = receive(512, totalMs, 25);
        return {reply.begin(), reply.end()};
    }
    std::size_t pending() const
    {
        int count = 0;
        ::ioctl(fd_, FIONREAD, &count);
        return std::size_t(count);
    }
    bool hungUp() const
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }

private:
    int fd_;
};

const Bytes versionReply{0x02, 0x01, 0x03, 0x06};

class CameraSimulatorTest : public ::testing::Test {
protected:
    std::unique_ptr<CameraSimulator> camera;
    std::unique_ptr<Line> line;

    void start(CameraOptions options = {}, speed_t speed = B9600)
    {
        options.timeScale = 0;
        camera = std::make_unique<CameraSimulator>(options);
        camera->start();
        line = std::make_unique<Line>(camera->slavePath(), speed);
    }
    Bytes readRam(std::uint16_t address, int count = 1)
    {
        line->send(readRamFrame(address, std::uint8_t(count)));
        return line->receive(std::size_t(count) + 3);
    }
    int readByte(std::uint16_t address)
    {
        const Bytes reply = readRam(address);
        return reply.size() == 4 ? reply[2] : -1;
    }
    bool writeRam(std::uint16_t address, Bytes data)
    {
        line->send(writeRamFrame(address, data));
        return line->receive(1) == Bytes{st4::acknowledgement};
    }
    // Asked at a speed the camera is not at, it hears garbage and says nothing.
    void expectDeaf()
    {
        const auto garbageBefore = camera->stats().garbageBytes;
        line->send(readRamFrame(st4::ram::version, 1));
        ASSERT_TRUE(eventually([&] { return camera->stats().garbageBytes >= garbageBefore + 6; }));
        EXPECT_EQ(line->pending(), 0u);
    }
    // Polls the mode byte as the program does until the camera is done; the frame it took.
    Bytes expose(std::uint8_t mode)
    {
        EXPECT_TRUE(writeRam(st4::ram::mode, {mode}));
        const int busy = (mode & 0x40) ? st4::busyBits : st4::busyBits | st4::darkBusyBit;
        EXPECT_TRUE(eventually([&] { return (readByte(st4::ram::mode) & busy) == 0; }));
        return camera->lastFrame();
    }
    // Byte 0, the length N, N payload bytes, the checksum.
    Bytes rowFrame(int row)
    {
        line->send(rowRequestFrame(row));
        Bytes frame = line->receive(2);
        if (frame.size() == 2) {
            const Bytes rest = line->receive(frame[1] + 1u);
            frame.insert(frame.end(), rest.begin(), rest.end());
        }
        return frame;
    }
};

TEST_F(CameraSimulatorTest, RamIsWrittenAndReadWithChecksumsAndBadFramesGoUnanswered)
{
    start();
    EXPECT_TRUE(writeRam(st4::ram::gain, {127}));
    EXPECT_EQ(camera->receivedFrames().at(0).bytes, (Bytes{0x01, 0x04, 0x01, 0x35, 0x00, 0x7F, 0xBA}));
    EXPECT_TRUE(writeRam(st4::ram::exposure, {0xE8, 0x03}));
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    EXPECT_EQ(readRam(st4::ram::exposure, 2), (Bytes{0x02, 0x02, 0xE8, 0x03, 0xEF}));

    Bytes bad = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    bad.back() ^= 0x01;
    Bytes otherMemory = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    otherMemory[2] = 0x02;
    setChecksum(otherMemory.data(), int(otherMemory.size()));
    for (const Bytes& refused : {bad, otherMemory, Bytes{0x41, 0x42}})
        line->send(refused);
    line->send(rowRequestFrame(st4::rowCount));
    // Had any of them been answered, its reply would come before this one.
    EXPECT_EQ(readRam(st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
    EXPECT_EQ(camera->stats().framesRejected, 4u);
    // Half a frame, then a pause: the rest never joins it.
    const auto heard = camera->stats().bytesHeard;
    line->send(Bytes(bad.begin(), bad.begin() + 3));
    ASSERT_TRUE(eventually([&] { return camera->stats().bytesHeard >= heard + 3; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(readRam(st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
}

TEST_F(CameraSimulatorTest, AnswersOnlyAtItsSpeedWhichTheDivisorAndAPowerCutSet)
{
    start({}, B19200);
    expectDeaf();
    line->setSpeed(B9600);
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    const speed_t lineSpeeds[] = {B57600, B19200, B9600, B1200};
    for (const int to : {3, 0, 1}) {
        ASSERT_TRUE(writeRam(st4::ram::divisor, {st4::divisors[to]})) << to;
        ASSERT_TRUE(eventually([&] { return camera->baud() == st4::baudRates[to]; }));
        line->setSpeed(lineSpeeds[to]);
        EXPECT_EQ(readByte(st4::ram::divisor), st4::divisors[to]);
    }
    ASSERT_TRUE(writeRam(st4::ram::baseline, {9}));
    camera->powerCut();
    expectDeaf();
    line->setSpeed(B9600);
    EXPECT_EQ(readByte(st4::ram::baseline), 0);
    EXPECT_EQ(readByte(st4::ram::divisor), 0xFA);
}

TEST_F(CameraSimulatorTest, DownloadsTheFrameItTookRawAndCompressedPacedOrNot)
{
    for (const bool pace : {false, true}) {
        CameraOptions options;
        options.pace = pace;
        options.startSpeedIndex = pace ? 0 : st4::speedIndex9600;
        start(options, pace ? B57600 : B9600);
        std::vector<int> rows{0, 82, 164};
        if (!pace) {
            rows.resize(st4::rowCount);
            std::iota(rows.begin(), rows.end(), 0);
        }
        for (const std::uint8_t mode : {std::uint8_t{0xF0}, std::uint8_t{0xF2}}) {
            const Bytes frame = expose(mode);
            const auto [low, high] = std::minmax_element(frame.begin(), frame.end());
            ASSERT_GT(*high, *low + 50) << "a frame with stars in it";
            for (const int row : rows) {
                const Bytes got = rowFrame(row);
                ASSERT_EQ(got.size(), got.size() < 2 ? 0u : got[1] + 3u) << row;
                ASSERT_TRUE(checksumOk(got.data(), int(got.size()))) << row;
                EXPECT_TRUE(mode == 0xF0 ? got[1] == 192 : got[1] < 192) << int(got[1]);
                Bytes pixels(st4::rowWidth);
                decodeRow(got.data() + 2, pixels.data(), got[1]);
                EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), frame.begin() + row * st4::rowWidth)) << row;
            }
            EXPECT_EQ(line->pending(), 0u);
        }
    }
}

TEST_F(CameraSimulatorTest, LosesOrCorruptsTheGivenFractionOfItsBytesOnTheLine)
{
    for (const bool drop : {true, false}) {
        CameraOptions options;
        options.seed = drop ? 7 : 11;
        start(options);
        expose(0xF0);
        CameraFaults faults;
        (drop ? faults.dropFraction : faults.corruptFraction) = drop ? 0.2 : 0.1;
        camera->setFaults(faults);
        camera->clearTraffic();
        std::size_t sent = 0, delivered = 0, changed = 0;
        int badFrames = 0;
        for (int row = 0; row < 40; ++row) {
            line->send(rowRequestFrame(row));
            ASSERT_TRUE(eventually([&] { return camera->sentReplies().size() == std::size_t(row + 1); }));
            const SentReply reply = camera->sentReplies().back();
            // What arrives is what the camera says the line delivered.
            EXPECT_EQ(line->receive(reply.onWire.size()), reply.onWire) << row;
            sent += reply.bytes.size();
            delivered += reply.onWire.size();
            badFrames += !checksumOk(reply.onWire.data(), int(reply.onWire.size()));
            // Dropping leaves what was sent with gaps; corrupting, as many bytes.
            auto at = reply.bytes.begin();
            for (std::size_t i = 0; i < reply.onWire.size(); ++i) {
                at = drop ? std::find(at, reply.bytes.end(), reply.onWire[i]) : reply.bytes.begin() + long(i);
                ASSERT_NE(at, reply.bytes.end());
                changed += *at++ != reply.onWire[i];
            }
        }
        const double fraction = drop ? 1.0 - double(delivered) / double(sent) : double(changed) / double(sent);
        EXPECT_GT(fraction, drop ? 0.15 : 0.05);
        EXPECT_LT(fraction, drop ? 0.25 : 0.15);
        EXPECT_GT(badFrames, 30);
        camera->setFaults({});
        EXPECT_EQ(readRam(st4::ram::version), versionReply);
    }
}

TEST_F(CameraSimulatorTest, FallsSilentAndHangsUpWhenToldOrAfterTheGivenReplies)
{
    start();
    camera->setSilent(true);
    line->send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera->stats().strayBytes >= 6; }));
    camera->setSilent(false);
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    CameraFaults faults;
    faults.silentAfterReplies = 2;  // counting the one above
    camera->setFaults(faults);
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    line->send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera->stats().strayBytes >= 12; }));
    EXPECT_EQ(line->pending(), 0u);
    camera->hangUp();
    ASSERT_TRUE(eventually([&] { return line->hungUp(); }));
    EXPECT_EQ(::open(camera->slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), -1);

    CameraOptions options;
    options.faults.hangUpAfterReplies = 2;
    start(options);
    EXPECT_EQ(readByte(st4::ram::version), 3);
    EXPECT_EQ(rowFrame(0).size(), 195u);
    line->send(rowRequestFrame(1));
    ASSERT_TRUE(eventually([&] { return line->hungUp(); }));
}

using Clock = std::chrono::steady_clock;

std::string hms(double hours)
{
    const int s = static_cast<int>(std::floor(hours * 3600)) % 86400;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// A clock held still at 2000-01-01 12:00 UT at Greenwich, where the sidereal
// time is 18:41:50.5, and a site at 50 degrees north.
TelescopeOptions stillSky(bool longFormat = false)
{
    TelescopeOptions options;
    options.localTime = CivilTime{2000, 1, 1, 12, 0, 0};
    options.clockRuns = false;
    options.utcOffsetHours = 0;
    options.longitudeDegrees = 0;
    options.latitudeDegrees = 50;
    options.longFormat = longFormat;
    return options;
}

class TelescopeSimTest : public ::testing::Test {
protected:
    std::unique_ptr<TelescopeSimulator> sim;
    std::unique_ptr<Line> line;

    void start(const TelescopeOptions& options = stillSky())
    {
        sim = std::make_unique<TelescopeSimulator>(options);
        sim->start();
        line = std::make_unique<Line>(sim->slavePath());
    }
    // Each command and the reply it must get.
    void expectReplies(const std::vector<std::pair<std::string, std::string>>& exchanges)
    {
        for (const auto& [command, reply] : exchanges)
            EXPECT_EQ(line->ask(command), reply) << testing::PrintToString(command);
    }
};

TEST_F(TelescopeSimTest, HandshakeThatClientsSendOnConnectAndBothFormats)
{
    start();
    // Switched on at the zenith, under a sidereal time of 18:41:50.
    expectReplies({{"\x06", "P"}, {":GVP#", "Tarvi Sim Telescope#"}, {":GVN#", "1.0#"}, {":Gc#", "24#"},
                   {":GM#", "Site 1#"}, {":GT#", "60.1#"}, {":Gt#", "+50\xDF" "00#"}, {":Gg#", "000\xDF" "00#"},
                   {":GG#", "+00#"}, {":GL#", "12:00:00#"}, {":GC#", "01/01/00#"}, {":GR#", "18:41.8#"},
                   {":GD#", "+50\xDF" "00#"}});
    EXPECT_EQ(sim->receivedCommands().at(0), "\x06");
    sim->setPosition({23 + 59 / 60.0 + 59 / 3600.0, -0.5});
    // A reply to ":U#" would come before the next one.
    expectReplies({{":GR#", "23:59.9#"}, {":GD#", "-00\xDF" "30#"}, {":U#:GR#", "23:59:59#"},
                   {":GD#", "-00\xDF" "30:00#"}, {":U#:GD#", "-00\xDF" "30#"}});
}

TEST_F(TelescopeSimTest, TargetsSiteTimeAndRatesAreSetOnlyFromUsableTexts)
{
    start(stillSky(true));
    expectReplies({
        {":Sr 12:34:56#", "1"}, {":Sr12:34.5#", "1"}, {":Sr24:00:00#", "0"}, {":Gr#", "12:34:30#"},
        {":Sd -07*08:09#", "1"}, {":Sd+90*00:01#", "0"}, {":Gd#", "-07\xDF" "08:09#"}, {":St -33*52#", "1"},
        {":Sg 105\xDF" "30#", "1"}, {":Gg#", "105\xDF" "30#"}, {":SL 21:30:00#", "1"}, {":SG -03#", "1"},
        {":SS 04:05:06#", "1"}, {":GS#", "04:05:06#"}, {":S057.9#", "1"}, {":Gs#", "57.9#"},
        {":$BA07#:GVP#", "Tarvi Sim Telescope#"},
    });
    EXPECT_EQ(sim->backlash(), 7);
}

TEST_F(TelescopeSimTest, GoToIsRefusedBelowTheHorizonAndBelowTheHigherLimit)
{
    start();
    const std::string meridian = hms(sim->localSiderealHours()), opposite = hms(sim->localSiderealHours() + 12);
    const struct { std::string ra; const char *dec, *reply; } cases[] = {
        {meridian, "-60*00:00", "1Object below horizon#"},      // culminates at -20 degrees
        {opposite, "+30*00:00", "1Object below horizon#"},      // at its lowest, -10 degrees
        {meridian, "-37*00:00", "2Object below higher limit#"},  // 3 degrees up
        {meridian, "+50*00:00", "0"},                            // the zenith
    };
    for (const auto& c : cases)
        expectReplies({{":Sr" + c.ra + "#", "1"}, {std::string(":Sd") + c.dec + "#", "1"}, {":MS#", c.reply}});
}

TEST_F(TelescopeSimTest, SettingTheDateAnswersTwiceAndHoldsLaterCommands)
{
    TelescopeOptions options = stillSky();
    options.planetaryUpdateSeconds = 0.3;
    start(options);
    EXPECT_EQ(line->ask(":SC  02/30/06#"), "0");
    const auto sent = Clock::now();
    EXPECT_EQ(line->ask(":SC  03/15/06#"), "1Updating Planetary Data#");
    // Asked during the update, the date comes after the update's end.
    EXPECT_EQ(line->ask(":GC#"), std::string(30, ' ') + "#03/15/06#");
    EXPECT_GE(Clock::now() - sent, 300ms);
}

TEST_F(TelescopeSimTest, CatalogObjectsRefusalsAndSync)
{
    start(stillSky(true));
    const std::string none = "Too far: no such object in this catalog#";
    const struct { const char *select, *object, *information, *ra, *dec; } cases[] = {
        {nullptr, ":LM 31#", "M31 EX GAL MAG 3.4 SZ178.0'#", "00:42:44#", "+41\xDF" "16:09#"},
        {":Ls 1#", ":LS 308#", "SAO 308 POLARIS MAG 2.0#", "02:31:49#", "+89\xDF" "15:51#"},
        {":Lo 2#", ":LC 5470#", "UGC 5470 EX GAL MAG 11.2 SZ9.8'#", "10:08:28#", "+12\xDF" "18:23#"},
        // Refused: the target stays where the last object put it.
        {":Lo 1#", ":LC 7000#", none.c_str(), "10:08:28#", "+12\xDF" "18:23#"},
        {nullptr, ":LM 111#", none.c_str(), "10:08:28#", "+12\xDF" "18:23#"},
    };
    for (const auto& c : cases) {
        if (c.select)
            expectReplies({{c.select, "1"}});
        expectReplies({{std::string(c.object) + ":LI#", c.information}, {":Gr#", c.ra}, {":Gd#", c.dec}});
    }
    expectReplies({{":Ls 3#", "0"}, {":LM 1#:CM#", " M1 SN REM MAG 8.4 SZ6.0'#"}, {":GR#", "05:34:32#"},
                   {":GD#", "+22\xDF" "00:52#"}, {":Sr01:02:03#", "1"}, {":CM#", " Coordinates matched#"},
                   {":GR#", "01:02:03#"}});
}

TEST_F(TelescopeSimTest, GoToSlewsOverTimeTheShortWayRoundAndHalts)
{
    TelescopeOptions options = stillSky(true);
    options.timeScale = 0.05;
    options.position = EquatorialPosition{23, 20};
    start(options);
    // 22.5 degrees of right ascension through 0h and 40 of declination: 0.5 s
    // at 4 degrees a second, both axes at once.
    expectReplies({{":Sr00:30:00#", "1"}, {":Sd+60*00:00#", "1"}, {":MS#", "0"}});
    EXPECT_TRUE(sim->slewing());
    const double midway = sim->position().raHours;
    EXPECT_TRUE(midway > 23 || midway < 0.5) << midway;
    EXPECT_EQ(line->ask(":D#"), "\x7F#");
    ASSERT_TRUE(eventually([&] { return !sim->slewing(); }));
    expectReplies({{":D#", "#"}, {":GR#", "00:30:00#"}, {":GD#", "+60\xDF" "00:00#"}});

    sim->setPosition({23, 20});
    EXPECT_EQ(line->ask(":MS#"), "0");
    EXPECT_EQ(line->ask(":Q#", 60), "");
    EXPECT_FALSE(sim->slewing());
    const std::string halted = line->ask(":GR#");
    EXPECT_NE(halted, "00:30:00#");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(line->ask(":GR#"), halted);
}

TEST_F(TelescopeSimTest, SilentAtAnotherSpeedAndHungUp)
{
    start();
    sim->setSilent(true);
    EXPECT_EQ(line->ask(":GR#", 200), "");
    EXPECT_TRUE(sim->receivedCommands().empty());
    EXPECT_EQ(sim->receivedBytes().size(), 4u);
    sim->setSilent(false);
    EXPECT_EQ(line->ask(":Gt#"), "+50\xDF" "00#");

    line->setSpeed(B19200);
    sim->clearTraffic();
    EXPECT_EQ(line->ask(":GR#", 200), "");
    EXPECT_TRUE(sim->receivedBytes().empty());

    line->setSpeed(B9600);
    sim->hangUp();
    ASSERT_TRUE(eventually([&] { return line->hungUp(); }));
}

}  // namespace
}  // namespace tarvi::sim
