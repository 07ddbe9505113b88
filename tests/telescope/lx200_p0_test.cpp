// The motion page against a scripted telescope, with a clock that does not
// wait, on Qt's offscreen platform.
#include "telescope/lx200_p0.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/ini_file.h"
#include "support/temp_dir.h"
#include "telescope/coordinates.h"
#include "telescope/scripted_telescope.h"

namespace tarvi {
namespace {

using Button = LX200P0::DrawnButton;
using test::Strings;

const std::string pulseIn = ":F-#..............................:FQ#";
const std::string pulseOut = ":F+#..............................:FQ#";

class MotionPageTest : public ::testing::Test, protected test::ScriptedTelescope {
protected:
    test::TempDir dir;
    std::unique_ptr<LX200P0> page;

    void SetUp() override
    {
        replies = {{":GR#", {"12:00:00#"}}, {":GD#", {"+10\xDF" "00:00#"}}, {":MS#", {"0"}}, {":Sr23:59:59#", {"1"}}};
        ui.clock = &clock;
        page = std::make_unique<LX200P0>(ui, clock, line);
        page->iniDirectory = dir.path();
        page->resize(page->minimumSize());
    }
    // The page handed an open port, with the traffic of the hand-over
    // forgotten.
    void connect()
    {
        page->setPort(addPort());
        forget();
    }
    QPoint centre(Button button) const { return page->buttonRect(button).center(); }
    void click(Button button)
    {
        page->press(centre(button));
        page->release(centre(button));
    }
    void chooseSpeed(int index)
    {
        page->focusSpeedBox()->setCurrentIndex(index);
        page->onFocusSpeedChanged();
    }
    // The colour a person sees just inside the button's corner, the page painted whole.
    QColor shownFill(Button button)
    {
        QImage image(page->size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        page->render(&image);
        return image.pixelColor(page->buttonRect(button).topLeft() + QPoint(3, 2));
    }
    std::string savedSettings() { return IniFile(dir.file("LX200P0.ini")).readString("Settings", "Values", ""); }
};

TEST_F(MotionPageTest, NorthPressedMovesReleasedStopsReleasedOutsideKeepsMovingUntilHalt)
{
    page->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
    connect();
    page->rateButtons()[2]->setChecked(true);  // Center
    page->press(centre(Button::north));
    EXPECT_EQ(sent(), (Strings{":RC#", ":Mn#"}));
    EXPECT_EQ(page->buttonFill(Button::north), LX200P0::pressedFill);
    // The telescope moved: the first reading differs from the boxes, the
    // second agrees with it.
    replies[":GR#"] = {"12:00:05#"};
    page->release(centre(Button::north));
    EXPECT_EQ(sent(), (Strings{":RC#", ":Mn#", ":Qn#", ":GR#", ":GD#", ":GR#", ":GD#"}));
    EXPECT_EQ(page->raEdit()->text() + page->decEdit()->text(), "12:00:05+10:00:00");
    EXPECT_EQ(page->buttonFill(Button::north), LX200P0::normalFill);
    EXPECT_EQ(clock.waits, (std::vector<std::int64_t>{250, 250}));

    forget();
    page->rateButtons()[3]->setChecked(true);
    page->press(centre(Button::north));
    page->release(QPoint(2, 2));
    EXPECT_EQ(sent(), (Strings{":RG#", ":Mn#"}));
    ASSERT_EQ(page->buttonFill(Button::north), LX200P0::pressedFill);
    forget();
    click(Button::halt);
    EXPECT_EQ(sent(), (Strings{":Qn#", ":Qs#", ":Qe#", ":Qw#"}));
    EXPECT_EQ(clock.waits, (std::vector<std::int64_t>{500}));
    EXPECT_EQ(page->buttonFill(Button::halt), LX200P0::normalFill);
    EXPECT_EQ(page->buttonFill(Button::north), LX200P0::normalFill);
}

TEST_F(MotionPageTest, ParkedPageIgnoresGoAndTheDirectionsAndTheCountdownFollowsTheClock)
{
    connect();
    page->parkBox()->setChecked(true);
    page->onPark();
    EXPECT_EQ(sent(), (Strings{":RG#", ":Me#"}));
    EXPECT_FALSE(page->rateButtons()[0]->isEnabled());
    forget();
    page->raEdit()->setText("01:00:00");
    page->decEdit()->setText("+20:00:00");
    for (const Button button : {Button::go, Button::north, Button::south, Button::east, Button::west})
        click(button);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(shownFill(Button::east), LX200P0::pressedFill);
    EXPECT_EQ(shownFill(Button::west), LX200P0::normalFill);
    // HALT still works.
    click(Button::halt);
    EXPECT_EQ(sent(), (Strings{":Qn#", ":Qs#", ":Qe#", ":Qw#"}));
    EXPECT_EQ(savedSettings(), "1 4");
    // Unchecked: east stops, the position is read until two readings agree
    // (the typed boxes do not), the rates come back.
    forget();
    page->parkBox()->setChecked(false);
    page->onPark();
    EXPECT_EQ(sent(), (Strings{":Qe#", ":GR#", ":GD#", ":GR#", ":GD#"}));
    EXPECT_TRUE(page->rateButtons()[0]->isEnabled());
    EXPECT_EQ(savedSettings(), "0 4");

    // A countdown: EAST is not painted while it runs, yet it still moves east.
    forget();
    page->parkSecondsEdit()->setText("10");
    page->parkBox()->setChecked(true);
    page->onPark();
    EXPECT_TRUE(sent().empty());
    shownFill(Button::east);
    EXPECT_FALSE(page->buttonShown(Button::east));
    page->rateButtons()[0]->setChecked(true);
    page->press(centre(Button::east));
    EXPECT_EQ(sent(), (Strings{":RS#", ":Me#"}));
    forget();
    // Ticks arrive late: the seconds shown follow the clock, not the ticks; a click stops it.
    clock.advance(3000);
    page->onTimer(1);
    EXPECT_EQ(page->parkSecondsEdit()->text(), "7");
    page->onPark();
    EXPECT_EQ(page->parkTimer + page->parked, 0);
    EXPECT_EQ(page->parkSecondsEdit()->text(), "0");
    EXPECT_EQ(sent(), (Strings{":Qe#", ":GR#", ":GD#"})) << "the position is as shown";
    // Left to run out, it parks on the tick after zero.
    forget();
    page->parkSecondsEdit()->setText("10");
    page->parkBox()->setChecked(true);
    page->onPark();
    clock.advance(10000);
    page->onTimer(1);
    EXPECT_EQ(page->parkSecondsEdit()->text(), "0");
    EXPECT_TRUE(sent().empty());
    page->onTimer(1);
    EXPECT_EQ(page->parkTimer, 0);
    EXPECT_EQ(sent(), (Strings{":RG#", ":Me#"}));
    EXPECT_EQ(shownFill(Button::east), LX200P0::pressedFill);
}

TEST_F(MotionPageTest, GoToSendsTheTargetOneSecondEarlierOrSaysWhyNot)
{
    connect();
    const Strings go{":Sr23:59:59#", ":Sd-05\xDF" "30:15#", ":MS#", ":GR#", ":GD#", ":GR#", ":GD#"};
    const struct { const char *ra, *dec, *slew; Strings traffic, messages; } cases[] = {
        {"00:00:00", "-05:30:15", "0", go, {}},
        {"00:00:00", "-05:30:15", "1Object Below Horizon#", go, {"Coordinates point to location below horizon - Canceled"}},
        // Refused before anything goes out, with the texts the coordinate check gives.
        {"12:00:00", "+95:00:00", "0", {}, {}}, {"", "", "0", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ra) + " " + c.dec + " " + c.slew);
        forget();
        replies[":MS#"] = {c.slew};
        page->raEdit()->setText(QString::fromLatin1(c.ra));
        page->decEdit()->setText(QString::fromLatin1(c.dec));
        click(Button::go);
        EXPECT_EQ(sent(), c.traffic);
        const auto refusals = validateMotionPageCoordinates(c.ra, c.dec).messages();
        EXPECT_EQ(ui.boxTexts(), c.traffic.empty() ? Strings(refusals.begin(), refusals.end()) : c.messages);
        EXPECT_TRUE(ui.boxes.empty() || (ui.boxes[0].caption == "info" && ui.boxes[0].style.setForeground));
        EXPECT_TRUE(c.traffic.empty() || script->readSizes[2] == 50u);
    }
}

TEST_F(MotionPageTest, WithoutAPortGetSaysSoHandOverSetsThePrecisionAndKeepsTheSettingsFile)
{
    page->setPort(PortTable::closed);
    click(Button::get);
    EXPECT_EQ(ui.boxTexts(), Strings{"Telescope port is not open."});
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    page->rateButtons()[0]->setChecked(true);
    page->press(centre(Button::north));
    // The press drew NORTH red; the dropped command repainted every button normal.
    EXPECT_EQ(page->buttonFill(Button::north), LX200P0::normalFill);
    EXPECT_TRUE(script->writes.empty());

    forget();
    replies[":GD#"] = {"+10\xDF" "00#"};
    page->setPort(addPort());
    EXPECT_EQ(sent(), (Strings{":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#", ":GD#", ":U#", ":GD#", ":FQ#",  // precision
                               ":Qe#", ":GR#", ":GD#", ":GR#", ":GD#", ":GR#", ":GD#"}));  // unparked, position
    EXPECT_EQ(savedSettings(), "0 4");
    EXPECT_EQ(page->slowStepper, 1);

    // Written beforehand: the park and focus speed come back, and parked it is parked again.
    ASSERT_FALSE(IniFile(dir.file("LX200P0.ini")).writeString("Settings", "Values", "1 2").failed());
    forget();
    page->setPort(addPort());
    EXPECT_EQ(page->focusSpeedBox()->currentText(), "Fast");
    EXPECT_EQ(page->steppedFocus, 0) << "the flags follow the restored speed";
    EXPECT_EQ(page->parked, 1);
    const Strings traffic = sent();
    EXPECT_EQ(std::count(traffic.begin(), traffic.end(), ":Me#"), 1);

    // A fifo in its place is said and left alone.
    const std::string fifo = dir.file("LX200P0.ini");
    ASSERT_EQ(std::remove(fifo.c_str()) | ::mkfifo(fifo.c_str(), 0600), 0);
    forget();
    ::alarm(10);  // reading it would wait for ever
    page->setPort(addPort());
    ::alarm(0);
    EXPECT_EQ(ui.boxTexts(), Strings{"Cannot open file " + fifo + ":\nIs a named pipe, not a regular file"});
    struct stat info {};
    EXPECT_TRUE(::stat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));

    // A silent telescope is reported once for empty boxes, twice for a shown position.
    replies.clear();
    for (const auto& [ra, dec, times] : {std::tuple{"", "", 1}, {"12:00:00", "+10:00:00", 2}}) {
        forget();
        page->ra = ra;
        page->dec = dec;
        page->updateFields(false);
        page->getPosition();
        EXPECT_EQ(ui.boxTexts(), Strings(std::size_t(times), "Telescope not responding"));
    }
}

// Continuous speeds count by how long the button was held, from the typed
// counter; pulsed ones go on until the release reaches the loop's message step.
// Dynamic focus pulses outward, waits while the telescope is busy, and keeps its steps in range.
TEST_F(MotionPageTest, FocusCountsByTheHoldOrThePulsesUntilTheButtonComesUp)
{
    connect();
    const Strings fast{":FF#", ":FF#", ":F-#", ":FQ#"}, slow{":FS#", ":FS#", ":F+#", ":FQ#"};
    const Strings pulsed{pulseOut, pulseOut, pulseOut, ":FQ#", ":FQ#"};
    const struct { int speed, pumps; std::int64_t heldMs; Button button; const char *typed, *counter;
                   Strings traffic; std::vector<std::int64_t> waits; } cases[] = {
        {0, 0, 500, Button::out, "0", "-15", slow, {500}},
        {2, 0, 500, Button::in, "100", "131", fast, {500}},
        {1, 4, 0, Button::in, "0", "8", {":FS#", pulseIn, pulseIn, pulseIn, pulseIn, ":FQ#", ":FQ#"},
         {1000, 1000, 1000, 1000}},
        {4, 3, 0, Button::out, "0", "-3", pulsed, {200, 200, 200}},
        {5, 3, 0, Button::out, "0", "-3", pulsed, {}},
    };
    for (const auto& c : cases) {
        forget();
        page->counterEdit()->setText(c.typed);
        chooseSpeed(c.speed);
        int pumps = 0;
        // The loops look for input only at their message step.
        ui.onLook = [&] {
            if (c.pumps == 0 || ++pumps < c.pumps)
                return InputSeen{};
            page->release(centre(c.button));
            return InputSeen{.leftButtonReleased = true};
        };
        page->press(centre(c.button));
        if (c.pumps == 0) {
            clock.advance(c.heldMs);
            page->release(centre(c.button));
            EXPECT_EQ(page->buttonFill(c.button), LX200P0::lastFocusFill);
        }
        EXPECT_EQ(sent(), c.traffic) << "speed " << c.speed;
        EXPECT_EQ(page->counterEdit()->text(), c.counter);
        EXPECT_EQ(clock.waits, c.waits);
        EXPECT_EQ(page->lastFocusDirection, c.button == Button::in ? 1 : 2);
        EXPECT_EQ(page->focusLoopRunning, 0);
    }

    forget();
    ui.onLook = nullptr;
    page->counterEdit()->setText("0");
    chooseSpeed(4);
    page->stepsPerHourEdit()->setText("7200");
    page->dynamicFocusBox()->setChecked(true);
    page->onDynamicFocus();
    EXPECT_NE(page->dynamicFocusTimer, 0);
    // While the telescope works at something else a tick waits behind it, once.
    holdJobs();
    page->onTimer(2);
    page->onTimer(2);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(held.size(), 1u);
    runHeld();
    EXPECT_EQ(sent(), (Strings{":FS#", pulseOut}));
    EXPECT_EQ(page->counterEdit()->text(), "-1");
    EXPECT_NE(page->dynamicFocusTimer, 0) << "started again";
    page->dynamicFocusBox()->setChecked(false);
    page->onDynamicFocus();
    EXPECT_EQ(page->dynamicFocusTimer, 0);
    page->stepsPerHourEdit()->setText("9999");
    page->updateFields(true);
    EXPECT_EQ(page->stepsPerHourEdit()->text(), "7200");
}

}  // namespace
}  // namespace tarvi
