// The location, time, backlash and tracking page against a scripted
// telescope, with a clock that does not wait, on Qt's offscreen platform.
#include "telescope/lx200_p1.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimerEvent>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "telescope/lx200_control.h"
#include "telescope/scripted_telescope.h"
#include "telescope/site_time_checks.h"

namespace tarvi {
namespace {

using Sent = test::Strings;

// What a refresh after a change reads back.
const Sent refreshTraffic{":Gt#", ":Gg#", ":GL#", ":GS#", ":GC#", ":GL#", ":GS#", ":GG#"};

class LX200P1Test : public ::testing::Test, protected test::ScriptedTelescope {
protected:
    std::unique_ptr<LX200P1> page = std::make_unique<LX200P1>(ui, clock, line);

    void SetUp() override
    {
        replies = {{":GC#", {"03/15/06#"}}, {":GG#", {"+05#"}},       {":Gg#", {"105\xDF" "00#"}},
                   {":Gt#", {"+40\xDF" "00#"}}, {":GL#", {"21:29:59#"}}, {":GS#", {"07:04:10#"}}};
    }
    void connect() { page->setPort(addPort()); }
    // One-second timers the page has running.
    static int clockTimers(QObject* page)
    {
        int count = 0;
        for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(page))
            count += timer.interval == 1000 ? 1 : 0;
        return count;
    }
};

TEST_F(LX200P1Test, SiteIsCheckedBeforeAnythingIsSent)
{
    connect();
    const struct {
        const char *latitude, *longitude;
        Sent expected;
    } cases[] = {
        {"+45:00", "360:00", {}},
        {"+45:00", "999:00", {}},
        {"+91:00", "105:00", {}},
        {"45:00", "105:00", {}},
        {"-05:30", "180:00", Sent{":St -05\xDF" "30#", ":Sg 180\xDF" "00#", ":Gt#", ":Gg#", ":GL#", ":GS#"}},
        {"+35:41", "-139:45", Sent{":St +35\xDF" "41#", ":Sg 220\xDF" "15#", ":Gt#", ":Gg#", ":GL#", ":GS#"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.latitude) + " " + c.longitude);
        forget();
        page->latitudeEdit()->setText(c.latitude);
        page->longitudeEdit()->setText(c.longitude);
        page->onSetLocation();
        EXPECT_EQ(sent(), c.expected);
        EXPECT_EQ(boxTexts(), c.expected.empty() ? Sent{std::string(siteRefusedMessage)} : Sent{});
        if (!ui.boxes.empty()) {
            EXPECT_EQ(ui.boxes[0].caption, "Tarvi");
        }
    }
    EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{20, 20, 20, 20, 20, 20}));
}

TEST_F(LX200P1Test, DateIsCheckedBeforeAnythingIsSent)
{
    connect();
    const struct {
        const char* date;
        Sent expected;
    } cases[] = {{"13/01/05", {}}, {"1/15/05", {}}, {"00/00/05", Sent{":SC  00/00/05#", ":GC#"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date);
        forget();
        page->dateEdit()->setText(c.date);
        page->onSetDate();
        EXPECT_EQ(sent(), c.expected);
        EXPECT_EQ(boxTexts(), c.expected.empty() ? Sent{std::string(dateRefusedMessage)} : Sent{});
    }
}

TEST_F(LX200P1Test, DateChangeShowsUpdatingForTenSecondsThenTheSecondReply)
{
    connect();
    replies[":SC  03/16/06#"] = {"1Updating        planetary data#", "Planetary data ready#"};
    std::set<QString> shownWhileWaiting;
    clock.onSleep = [&](std::int64_t) { shownWhileWaiting.insert(page->dateAnswerEdit()->text()); };
    ui.clock = &clock;
    page->dateEdit()->setText("03/16/06");
    page->onSetDate();
    EXPECT_EQ(clock.waits, (std::vector<std::int64_t>{10000}));
    EXPECT_EQ(shownWhileWaiting, (std::set<QString>{"Updating Planetary Data"}));
    // Nothing may come between ":SC" and its late reply: the windows paint,
    // input waits.
    EXPECT_EQ(std::set<PumpMode>(ui.pumpModes.begin(), ui.pumpModes.end()), std::set<PumpMode>{PumpMode::paintOnly});
    EXPECT_EQ(page->dateAnswerEdit()->text(), "Planetary data ready");
    EXPECT_EQ(sent(), (Sent{":SC  03/16/06#", ":GC#"}));
    EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{256, 256, 20}));
    EXPECT_EQ(page->dateEdit()->text(), "03/15/06") << "the telescope's own date is shown afterwards";
}

TEST_F(LX200P1Test, SettingTheTimeSendsTheComputedSiderealTimeAfterTheLocalTime)
{
    connect();
    page->onSetActive();
    ASSERT_EQ(page->utcOffset, 5);
    forget();
    page->newTimeEdit()->setText("21:30:00");
    page->onSetTime();
    Sent expected{":GC#", ":Gg#", ":SL 21:30:00#", ":SS 07:04:11#"};
    expected.insert(expected.end(), refreshTraffic.begin(), refreshTraffic.end());
    expected.insert(expected.end(), refreshTraffic.begin(), refreshTraffic.end());
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(script->readSizes[2], 10u);
    EXPECT_EQ(script->readSizes[3], 10u);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(page->localTimeEdit()->text(), "21:29:59");
    EXPECT_EQ(page->siderealEdit()->text(), "07:04:10");
    EXPECT_EQ(page->latitudeEdit()->text(), "+40:00");
}

TEST_F(LX200P1Test, TimeThatCannotBeSetSendsNoSiderealTime)
{
    connect();
    const std::string noSidereal(siderealTimeNotSetMessage);
    const struct {
        const char* typed;
        const char* dateReply;
        Sent before;  // what goes out before the refresh
        std::string box;
    } cases[] = {
        {"24:00:00", "03/15/06#", {}, std::string(timeRefusedMessage)},
        {"12:60:00", "03/15/06#", {}, std::string(timeRefusedMessage)},
        {"1:00:00", "03/15/06#", {}, std::string(timeRefusedMessage)},
        {"21:30:00", "#", {":GC#", ":Gg#", ":SL 21:30:00#"}, noSidereal},
        {"21:30:00", "3/15/06#", {":GC#", ":Gg#", ":SL 21:30:00#"}, noSidereal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " " + c.dateReply);
        forget();
        replies[":GC#"] = {c.dateReply};
        page->newTimeEdit()->setText(c.typed);
        page->onSetTime();
        Sent expected = c.before;
        if (!c.before.empty())
            expected.insert(expected.end(), refreshTraffic.begin(), refreshTraffic.end());
        expected.insert(expected.end(), refreshTraffic.begin(), refreshTraffic.end());
        EXPECT_EQ(sent(), expected);
        EXPECT_EQ(boxTexts(), Sent{c.box});
        EXPECT_EQ(ui.boxes[0].caption, "info");
    }
}

TEST_F(LX200P1Test, WithThePortClosedSettingsSayItAndSendNothing)
{
    page->setPort(PortTable::closed);
    page->latitudeEdit()->setText("+45:00");
    page->longitudeEdit()->setText("105:00");
    page->onSetLocation();
    page->dateEdit()->setText("03/15/06");
    page->onSetDate();
    page->newTimeEdit()->setText("21:30:00");
    page->onSetTime();  // the time, then the refresh's site read
    EXPECT_EQ(boxTexts(), Sent(4, "Telescope port is not open."));
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_TRUE(sent().empty());
}

TEST_F(LX200P1Test, BacklashNeedsTwoDigitsAndAProductName)
{
    connect();
    const struct {
        const char* typed;
        std::vector<std::string> product;
        Sent expected;
        const char* shown;
    } cases[] = {
        {"7", {"LX200 Classic#"}, {":GVP#"}, "??"},
        {"1a", {"LX200 Classic#"}, {":GVP#"}, "??"},
        {"12", {}, {":GVP#"}, "??"},
        {"12", {"LX200 Classic#"}, {":GVP#", ":$BA12#"}, "12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        forget();
        page->backlash = "??";
        replies[":GVP#"] = c.product;
        page->backlashEdit()->setText(c.typed);
        page->onSetBacklash();
        EXPECT_EQ(sent(), c.expected);
        EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{256})) << "nothing is read after :$BA";
        EXPECT_EQ(page->backlashEdit()->text(), c.shown);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST_F(LX200P1Test, TrackingRateGetKeepsTheOldTextOnlyForA200Reply)
{
    connect();
    const struct {
        std::vector<std::string> reply;
        const char* shown;
    } cases[] = {{{"200.0#"}, "???.?"}, {{"2000#"}, "???.?"}, {{"60.1#"}, "60.1"}, {{}, ""}};
    for (const auto& c : cases) {
        forget();
        page->trackingRate = "???.?";
        page->trackingRateEdit()->setText("057.9");
        replies[":Gs#"] = c.reply;
        page->onGetTrackingRate();
        EXPECT_EQ(sent(), Sent{":Gs#"});
        EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{50}));
        EXPECT_EQ(page->trackingRateEdit()->text(), c.shown);
    }
}

TEST_F(LX200P1Test, TrackingRateSetKeepsTheTypedRateOnlyWhenTheTelescopeTakesIt)
{
    connect();
    const struct {
        const char* typed;
        std::vector<std::string> reply;
        Sent expected;
        const char* shown;
    } cases[] = {
        {"060.1", {"1"}, {":S060.1#"}, "???.?"},   // a bare digit arrives empty
        {"060.1", {"0#"}, {":S060.1#"}, "???.?"},
        {"060.1", {}, {":S060.1#"}, "???.?"},
        {"060.1", {"1#"}, {":S060.1#"}, "060.1"},
        {"60.1", {"1#"}, {}, "???.?"},
        {"060,1", {"1#"}, {}, "???.?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        forget();
        page->trackingRate = "???.?";
        replies[std::string(":S") + c.typed + "#"] = c.reply;
        page->trackingRateEdit()->setText(c.typed);
        page->onSetTrackingRate();
        EXPECT_EQ(sent(), c.expected);
        EXPECT_EQ(page->trackingRateEdit()->text(), c.shown);
    }
}

TEST_F(LX200P1Test, ClockRunsOnlyWhileThePageIsInFrontOfAnOpenSheetAndSkipsATickWhileTheTelescopeIsBusy)
{
    LX200Control sheet(ui, clock, line);
    LX200P1& front = sheet.page1();
    front.setPort(addPort());
    sheet.tabs()->setCurrentIndex(1);
    EXPECT_EQ(sent(), refreshTraffic);
    EXPECT_EQ(clockTimers(&front), 1);
    {
        // A command of the telescope's is under way: its exchanges come first.
        const auto busy = line.operation();
        forget();
        front.onTimer(1);
        EXPECT_TRUE(sent().empty());
        EXPECT_NE(front.clockTimer, 0) << "the clock goes on";
    }

    for (int tick = 0; tick < 3; ++tick) {
        forget();
        replies[":GS#"] = {"07:04:1" + std::to_string(tick) + "#"};
        QTimerEvent event(front.clockTimer);
        QCoreApplication::sendEvent(&front, &event);
        EXPECT_EQ(sent(), (Sent{":GL#", ":GS#"}));
        EXPECT_EQ(front.siderealEdit()->text().toStdString(), "07:04:1" + std::to_string(tick));
        EXPECT_EQ(clockTimers(&front), 1) << "a restarted timer replaces the running one";
    }

    sheet.tabs()->setCurrentIndex(2);
    EXPECT_EQ(front.clockTimer, 0);
    EXPECT_EQ(clockTimers(&front), 0);
    sheet.tabs()->setCurrentIndex(1);
    EXPECT_EQ(clockTimers(&front), 1);
    sheet.reject();
    EXPECT_EQ(front.clockTimer, 0);
    EXPECT_EQ(clockTimers(&front), 0);
}

}  // namespace
}  // namespace tarvi
