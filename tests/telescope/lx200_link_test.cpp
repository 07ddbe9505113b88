// The telescope link of a page and the motion page's rules that need no
// window, against a scripted port.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "support/fake_ui.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"
#include "telescope/lx200_link.h"
#include "telescope/motion_rules.h"

namespace tarvi {
namespace {

using test::Bytes;

Bytes bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::vector<std::string> texts(const std::vector<Bytes>& writes)
{
    std::vector<std::string> out;
    for (const auto& w : writes)
        out.emplace_back(w.begin(), w.end());
    return out;
}

class LinkTest : public ::testing::Test {
protected:
    test::FakeUi ui;
    PortTable ports;
    int lineHandle = PortTable::closed;
    PortOwner line{ui, ports, lineHandle};
    std::shared_ptr<test::PortScript> script = std::make_shared<test::PortScript>();
    LX200Link link{ui, line};
    int repaints = 0;

    void SetUp() override
    {
        link.setHandle(ports.add(std::make_unique<test::ScriptedPort>(script)));
        link.portNotOpen = [this] { ++repaints; };
    }
};

TEST_F(LinkTest, RepliesAreCutAtTheirLastByteAndDegreeSignsBecomeColons)
{
    struct Case {
        std::string arrives;
        unsigned capacity;
        std::string text;
        unsigned count;
    };
    const std::vector<Case> cases{
        {"1", 50, "", 1},                                   // a bare digit: nothing left of it
        {"03/15/06#", 20, "03/15/06", 9},                   // the date as the time page sees it
        {"+45\xDF" "12:34#", 20, "+45:12:34", 10},         // the long declination
        {"\xDF\xDF" "1\xDF#", 20, "::1:", 5},               // every degree sign
        {"", 20, "", 0},                                    // a silent telescope
        {"12:34:56#", 5, "12:3", 5},                        // longer than the capacity
    };
    for (const auto& c : cases) {
        script->arrivals.clear();
        if (!c.arrives.empty())
            script->arrive(bytes(c.arrives));
        std::vector<std::uint8_t> buffer(c.capacity + 1, 0xEE);
        EXPECT_EQ(link.readTelescope(link.portHandle, buffer.data(), c.capacity), c.count) << c.arrives;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), c.text) << c.arrives;
    }
}

TEST_F(LinkTest, WhatDoesNotFitBeginsTheNextRead)
{
    script->arrive(bytes("12:34:56#"));
    EXPECT_EQ(link.readReply(5), "12:3");
    EXPECT_EQ(link.readReply(20), ":56") << "the rest, \":56#\", its last byte cut";
    EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{5, 20}));
}

TEST_F(LinkTest, APortNotOpenSendsAndReadsNothingAndRepaintsTheButtons)
{
    link.setHandle(PortTable::closed);
    EXPECT_EQ(link.portOpen, 0);
    script->arrive(bytes("12:00:00#"));
    EXPECT_EQ(link.send(":Mn#"), 0);
    EXPECT_EQ(link.query(":GR#", 20), "");
    EXPECT_TRUE(script->writes.empty());
    EXPECT_TRUE(script->readSizes.empty());
    EXPECT_EQ(repaints, 3) << "the write, the query's write and its read";
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(LinkTest, AShortWriteAnsweredRetryWritesTheWholeCommandAgain)
{
    script->writeLimit = 2;
    ui.answers = {Answer::retry, Answer::cancel};
    EXPECT_EQ(link.send(":GR#"), 0);
    EXPECT_EQ(texts(script->writes), (std::vector<std::string>{":G", ":G"}));
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "writeTelescope:  Retrying failed write to telescope...");
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::retryCancel);

    script->writeLimit = SIZE_MAX;
    ui.answers = {};
    EXPECT_EQ(link.send(":GR#"), 1);
    EXPECT_GT(ui.waitCursorShown, 0);
}

// A telescope that goes away: the line says so once, the rest of the command
// is dropped, and the next command opens the port again, which hands the new
// port to the page.
class LostTelescopeTest : public LinkTest {
protected:
    std::shared_ptr<test::PortScript> back = std::make_shared<test::PortScript>();
    bool comesBack = true;
    int reopens = 0;

    void SetUp() override
    {
        LinkTest::SetUp();
        lineHandle = link.portHandle;
        line.describe = [] { return std::string("com2 (/dev/ttyUSB0)"); };
        line.reopen = [this] {
            ++reopens;
            if (!comesBack) {
                ui.messageBox("Cannot open telescope port com2", {}, Buttons::ok, {});
                return false;
            }
            lineHandle = ports.add(std::make_unique<test::ScriptedPort>(back));
            link.setHandle(lineHandle);
            return true;
        };
        back->device = [this](const Bytes& written) {
            if (written == bytes(":GR#"))
                back->arrive(bytes("01:02:03#"));
        };
    }
    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> out;
        for (const auto& box : ui.boxes)
            out.push_back(box.text);
        return out;
    }
};

const std::string lossText = "com2 (/dev/ttyUSB0) is no longer there: " + SysError(EIO).text();

TEST_F(LostTelescopeTest, AFailingReadIsSaidOnceAndTheRestOfTheCommandIsDropped)
{
    {
        const auto command = line.operation();
        // The command goes out; the line is gone before the reply comes.
        script->device = [this](const Bytes&) { script->deviceError = EIO; };
        EXPECT_EQ(link.query(":GR#", 20), "");
        EXPECT_EQ(link.query(":GD#", 20), "");
        EXPECT_EQ(link.send(":Qn#"), 0);
        EXPECT_TRUE(line.dropping());
    }
    EXPECT_EQ(boxTexts(), std::vector<std::string>{lossText});
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_EQ(texts(script->writes), std::vector<std::string>{":GR#"}) << "nothing after the loss";
    EXPECT_TRUE(script->closed);
    EXPECT_EQ(lineHandle, PortTable::closed);
    EXPECT_EQ(reopens, 0);

    // The next command finds the telescope again, on the page's new handle.
    const auto command = line.operation();
    EXPECT_EQ(link.query(":GR#", 20), "01:02:03");
    EXPECT_EQ(reopens, 1);
    EXPECT_EQ(link.portHandle, lineHandle);
    EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(LostTelescopeTest, AReopenThatFailsIsSaidOncePerCommandAndTimersNeverTry)
{
    comesBack = false;
    script->deviceError = EIO;
    link.readReply(20);
    for (int command = 0; command < 2; ++command) {
        const auto operation = line.operation();
        EXPECT_FALSE(link.ready());
        EXPECT_EQ(link.query(":GR#", 20), "");
    }
    EXPECT_EQ(reopens, 2);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{lossText, "Cannot open telescope port com2",
                                                     "Cannot open telescope port com2"}));
    const auto tick = line.operation(PortOwner::Kind::tick);
    EXPECT_EQ(link.query(":GL#", 20), "");
    EXPECT_EQ(reopens, 2);
    EXPECT_EQ(ui.boxes.size(), 3u);
}

TEST_F(LostTelescopeTest, AFailingWriteAsksOnceAndRetryWritesToThePortThatCameBack)
{
    struct Case {
        Answer answer;
        std::vector<std::string> sentBack;
        int result;
    };
    for (const Case& c : {Case{Answer::retry, {":GR#", ":GD#"}, 1}, Case{Answer::cancel, {}, 0}}) {
        script = std::make_shared<test::PortScript>();
        back->writes.clear();
        ui.boxes.clear();
        lineHandle = ports.add(std::make_unique<test::ScriptedPort>(script));
        link.setHandle(lineHandle);
        script->deviceError = EIO;
        ui.answers = {c.answer};
        const auto command = line.operation();
        EXPECT_EQ(link.send(":GR#"), c.result);
        link.send(":GD#");
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, "writeTelescope:  Retrying failed write to telescope...\n\n" + lossText);
        EXPECT_EQ(ui.boxes[0].buttons, Buttons::retryCancel);
        EXPECT_EQ(texts(back->writes), c.sentBack);
    }
}

TEST_F(LinkTest, PrecisionSetUpLeavesTheTelescopeInTheFormatWithTheLongerDeclination)
{
    struct Case {
        std::string before, after;
        std::vector<std::string> toggles;
    };
    // The first ":U#" made the reply shorter: toggled back. Longer or as long: kept.
    const std::vector<Case> cases{
        {"+45\xDF" "12:34#", "+45\xDF" "12#", {":U#", ":U#"}},
        {"+45\xDF" "12#", "+45\xDF" "12:34#", {":U#"}},
        {"+45\xDF" "12#", "+45\xDF" "12#", {":U#"}},
    };
    for (const auto& c : cases) {
        script->writes.clear();
        int declinations = 0;
        script->device = [&](const Bytes& written) {
            if (written == bytes(":GD#"))
                script->arrive(bytes(declinations++ == 0 ? c.before : c.after));
        };
        motion::precisionSetup(link);
        std::vector<std::string> expected{":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#", ":GD#", ":U#", ":GD#"};
        if (c.toggles.size() == 2)
            expected.push_back(":U#");
        expected.push_back(":FQ#");
        EXPECT_EQ(texts(script->writes), expected) << c.before << " then " << c.after;
        EXPECT_EQ(script->readSizes.back(), 50u);
    }
}

TEST(MotionRules, FocusCounterFollowsTheRampAndTheSpeed)
{
    struct Case {
        std::int64_t ms;
        bool stepped, fast;
        int change;
    };
    const std::vector<Case> cases{
        {500, false, true, 31},     {1000, false, true, 125},  {2000, false, true, 187},
        {500, false, false, 15},    {2000, false, false, 93},  {-500, false, false, -15},
        {10, false, true, 1},       {10, false, false, 1},     {-10, false, true, -1},
        {0, false, false, 1},       {32, true, true, 2},       {32, true, false, 2},
        {-32, true, false, -2},     {3200, true, true, 200},   {3200, true, false, 100},
        {1001, false, true, 125},   {1016, false, true, 126},  {-2000, false, true, -187},
    };
    for (const auto& c : cases)
        EXPECT_EQ(motion::focusCounterChange(c.ms, c.stepped, c.fast), c.change)
            << c.ms << " ms stepped " << c.stepped << " fast " << c.fast;
}

TEST(MotionRules, FocusModesSetTheirFlags)
{
    using F = motion::FocusFlags;
    EXPECT_EQ(motion::focusFlags(0), F{});
    EXPECT_EQ(motion::focusFlags(1), (F{.steppedFocus = 1}));
    EXPECT_EQ(motion::focusFlags(2), (F{.fastFocus = 1}));
    EXPECT_EQ(motion::focusFlags(3), (F{.fastFocus = 1, .steppedFocus = 1}));
    EXPECT_EQ(motion::focusFlags(4), (F{.slowStepper = 1}));
    EXPECT_EQ(motion::focusFlags(5), (F{.fastStepper = 1}));
    EXPECT_EQ(motion::focusFlags(6), F{});
    EXPECT_EQ(motion::focusFlags(-1), F{});
    EXPECT_EQ(motion::focusPulse(true), ":F-#..............................:FQ#");
    EXPECT_EQ(motion::focusPulse(false).size(), 38u);
}

TEST(MotionRules, DynamicFocusPeriodsAndTheirRange)
{
    EXPECT_EQ(motion::dynamicFocusPeriodMs(7200), 500);
    EXPECT_EQ(motion::dynamicFocusPeriodMs(7), 514285);
    EXPECT_EQ(motion::dynamicFocusPeriodMs(1), 3600000);
    EXPECT_EQ(motion::clampOutStepsPerHour(0), 1);
    EXPECT_EQ(motion::clampOutStepsPerHour(9999), 7200);
    EXPECT_EQ(motion::clampOutStepsPerHour(-5), 1);
    EXPECT_EQ(motion::clampOutStepsPerHour(60), 60);
}

TEST(MotionRules, ParkCountdownFollowsTheClock)
{
    EXPECT_EQ(motion::parkSecondsLeft(10, 1000, 1003), 7);
    EXPECT_EQ(motion::parkSecondsLeft(10, 1000, 1012), 0);
    EXPECT_EQ(motion::parkSecondsLeft(10, 1000, 1000), 10);
    EXPECT_EQ(motion::parkSecondsLeft(10, 1000, 990), 10) << "a clock set back does not add seconds";
}

TEST(MotionRules, PageSettingsLineKeepsWhatItLacks)
{
    const motion::PageSettings start{0, 4};
    struct Case {
        const char* line;
        int parked, speed;
    };
    for (const Case& c : {Case{"0 4", 0, 4}, Case{"1 2", 1, 2}, Case{"7 1", 0, 1}, Case{"1", 1, 4},
                          Case{"junk", 0, 4}, Case{"1 9", 1, 9}, Case{"", 0, 4}}) {
        const auto read = motion::parsePageSettings(c.line, start);
        EXPECT_EQ(read.parked, c.parked) << c.line;
        EXPECT_EQ(read.focusSpeed, c.speed) << c.line;
    }
    EXPECT_EQ(motion::formatPageSettings({1, 3}), "1 3");
}

TEST(MotionRules, SettingsFileLivesBesideTheProgramOnlyWhenThatIsWritable)
{
    test::TempDir dir;
    const std::string writable = dir.file("bin");
    std::filesystem::create_directory(writable);
    EXPECT_EQ(motion::pageSettingsDirectory(writable, dir.file("config").c_str(), "/nonexistent"), writable);

    // A directory the program cannot write to (here: one that is not there).
    const std::string chosen = motion::pageSettingsDirectory(dir.file("gone"), dir.file("config").c_str(), nullptr);
    EXPECT_EQ(chosen, dir.file("config") + "/tarvi");
    EXPECT_TRUE(std::filesystem::is_directory(chosen));
    EXPECT_EQ(motion::pageSettingsDirectory("", "relative", dir.path().c_str()), dir.path() + "/.config/tarvi")
        << "a relative XDG_CONFIG_HOME is ignored";
}

}  // namespace
}  // namespace tarvi
