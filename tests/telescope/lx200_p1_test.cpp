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
using test::joined;

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

TEST_F(LX200P1Test, SiteDateAndTimeAreCheckedBeforeAnythingIsSent)
{
    page->setPort(PortTable::closed);
    page->latitudeEdit()->setText("+45:00");
    page->longitudeEdit()->setText("105:00");
    page->onSetLocation();
    page->dateEdit()->setText("03/15/06");
    page->onSetDate();
    page->newTimeEdit()->setText("21:30:00");
    page->onSetTime();  // the time, then the refresh's site read
    EXPECT_EQ(ui.boxTexts(), Sent(4, "Telescope port is not open."));
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_TRUE(sent().empty());

    connect();
    page->onSetActive();
    ASSERT_EQ(page->utcOffset, 5);
    const auto site = &LX200P1::onSetLocation, date = &LX200P1::onSetDate, time = &LX200P1::onSetTime;
    const Sent set{":GC#", ":Gg#", ":SL 21:30:00#"}, twice = joined({refreshTraffic, refreshTraffic});
    const struct { void (LX200P1::*handler)(); const char *latitude, *longitude, *date, *time, *dateReply;
                   Sent expected; std::string_view box; } cases[] = {
        {site, "+45:00", "360:00", "", "", "", {}, siteRefusedMessage},
        {site, "+91:00", "105:00", "", "", "", {}, siteRefusedMessage},
        {site, "+35:41", "-139:45", "", "", "",
         {":St +35\xDF" "41#", ":Sg 220\xDF" "15#", ":Gt#", ":Gg#", ":GL#", ":GS#"}, ""},
        {date, "", "", "1/15/05", "", "", {}, dateRefusedMessage},
        {date, "", "", "00/00/05", "", "", {":SC  00/00/05#", ":GC#"}, ""},
        {time, "", "", "", "1:00:00", "03/15/06#", refreshTraffic, timeRefusedMessage},
        // No date to compute the sidereal time from: the local time alone goes.
        {time, "", "", "", "21:30:00", "#", joined({set, twice}), siderealTimeNotSetMessage},
        {time, "", "", "", "21:30:00", "3/15/06#", joined({set, twice}), siderealTimeNotSetMessage},
        // With one, the computed sidereal time follows the local time.
        {time, "", "", "", "21:30:00", "03/15/06#", joined({set, {":SS 07:04:11#"}, twice}), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.latitude) + c.longitude + c.date + c.time + c.dateReply);
        forget();
        replies[":GC#"] = {c.dateReply};
        page->latitudeEdit()->setText(c.latitude);
        page->longitudeEdit()->setText(c.longitude);
        page->dateEdit()->setText(c.date);
        page->newTimeEdit()->setText(c.time);
        (page.get()->*c.handler)();
        EXPECT_EQ(sent(), c.expected);
        EXPECT_EQ(ui.boxTexts(), c.box.empty() ? Sent{} : Sent{std::string(c.box)});
    }
    EXPECT_EQ(script->readSizes[3], 10u);
    EXPECT_EQ(page->siderealEdit()->text() + page->latitudeEdit()->text(), "07:04:10+40:00");
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
    EXPECT_TRUE(ui.looks == 0 && ui.steps > 0) << "the wait takes no input";
    EXPECT_EQ(page->dateAnswerEdit()->text(), "Planetary data ready");
    EXPECT_EQ(sent(), (Sent{":SC  03/16/06#", ":GC#"}));
    EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{256, 256, 20}));
    EXPECT_EQ(page->dateEdit()->text(), "03/15/06") << "the telescope's own date is shown afterwards";
}

// Backlash needs two digits and a product name; a tracking rate is kept only
// when the telescope takes it, and read unless it says 200.
TEST_F(LX200P1Test, BacklashAndTrackingRateAreKeptOnlyWhenTheTelescopeAgrees)
{
    connect();
    using P = LX200P1;
    const auto backlash = &P::onSetBacklash, setRate = &P::onSetTrackingRate, getRate = &P::onGetTrackingRate;
    const struct { void (P::*handler)(); const char *typed, *command; Sent reply, expected; const char* shown;
                   std::vector<std::size_t> reads; } cases[] = {
        {backlash, "7", ":GVP#", {"LX200 Classic#"}, {":GVP#"}, "??", {256}},
        {backlash, "12", ":GVP#", {}, {":GVP#"}, "??", {256}},
        // Nothing is read after :$BA.
        {backlash, "12", ":GVP#", {"LX200 Classic#"}, {":GVP#", ":$BA12#"}, "12", {256}},
        {setRate, "060.1", ":S060.1#", {"1"}, {":S060.1#"}, "???.?", {50}},  // a bare digit arrives empty
        {setRate, "060.1", ":S060.1#", {"1#"}, {":S060.1#"}, "060.1", {50}},
        {setRate, "60.1", ":S60.1#", {"1#"}, {}, "???.?", {}},
        {getRate, "057.9", ":Gs#", {"200.0#"}, {":Gs#"}, "???.?", {50}},
        {getRate, "057.9", ":Gs#", {"60.1#"}, {":Gs#"}, "60.1", {50}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + c.typed);
        forget();
        page->backlash = "??";
        page->trackingRate = "???.?";
        replies[c.command] = c.reply;
        QLineEdit* edit = c.handler == backlash ? page->backlashEdit() : page->trackingRateEdit();
        edit->setText(c.typed);
        (page.get()->*c.handler)();
        EXPECT_EQ(sent(), c.expected);
        EXPECT_EQ(script->readSizes, c.reads);
        EXPECT_EQ(edit->text(), c.shown);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST_F(LX200P1Test, ClockRunsOnlyWhileThePageIsInFrontOfAnOpenSheetAndATickWaitsOnceWhileTheTelescopeWorks)
{
    LX200Control sheet(ui, clock, line);
    LX200P1& front = sheet.page1();
    front.setPort(addPort());
    sheet.tabs()->setCurrentIndex(1);
    EXPECT_EQ(sent(), refreshTraffic);
    EXPECT_EQ(clockTimers(&front), 1);
    // The telescope works at something else: the tick waits behind it, once.
    forget();
    holdJobs();
    front.onTimer(1);
    front.onTimer(1);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(held.size(), 1u);
    EXPECT_NE(front.clockTimer, 0) << "the clock goes on";
    runHeld();
    EXPECT_EQ(sent(), (Sent{":GL#", ":GS#"}));

    for (int tick = 0; tick < 2; ++tick) {
        forget();
        replies[":GS#"] = {"07:04:1" + std::to_string(tick) + "#"};
        QTimerEvent event(front.clockTimer);
        QCoreApplication::sendEvent(&front, &event);
        EXPECT_EQ(sent(), (Sent{":GL#", ":GS#"}));
        EXPECT_EQ(front.siderealEdit()->text().toStdString(), "07:04:1" + std::to_string(tick));
        EXPECT_EQ(clockTimers(&front), 1) << "a restarted timer replaces the running one";
    }

    sheet.tabs()->setCurrentIndex(2);
    EXPECT_EQ(clockTimers(&front), 0);
    sheet.tabs()->setCurrentIndex(1);
    EXPECT_EQ(clockTimers(&front), 1);
    sheet.reject();
    EXPECT_EQ(front.clockTimer, 0);
    EXPECT_EQ(clockTimers(&front), 0);
}

}  // namespace
}  // namespace tarvi
