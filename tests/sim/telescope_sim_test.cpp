// The simulated telescope on its pseudo-terminal: the behaviour the
// program's tests rely on.
#include "sim/telescope_sim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "sim/sim_line.h"

namespace tarvi::sim {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::Line;
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
