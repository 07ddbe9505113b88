// The telescope link of a page, how it reads replies, and the motion page's
// rules that need no window, against a scripted port.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "support/temp_dir.h"
#include "telescope/lx200_link.h"
#include "telescope/lx200_reply.h"
#include "telescope/motion_rules.h"
#include "telescope/scripted_telescope.h"

namespace tarvi {
namespace {

using test::Bytes;
using test::bytesOf;
using test::Strings;

class LinkTest : public ::testing::Test, protected test::ScriptedTelescope {
protected:
    LX200Link link{ui, line};
    int repaints = 0;

    void SetUp() override
    {
        link.setHandle(addPort());
        link.portNotOpen = [this] { ++repaints; };
    }
};

TEST_F(LinkTest, RepliesAreCutAtTheirLastByteAndDegreeSignsBecomeColons)
{
    const struct { std::string arrives; unsigned capacity; std::string text; } cases[] = {
        {"1", 50, ""}, {"#", 20, ""}, {"", 20, ""},  // a bare digit loses itself; silence
        {"+45\xDF" "12:34#", 20, "+45:12:34"}, {"\xDF\xDF" "1\xDF#", 20, "::1:"},
        {"12:34:56#", 5, "12:3"},  // longer than the capacity
        {std::string("ab\0cd#", 6), 20, "ab"}, {"0 Object below horizon#", 50, "0 Object below horizon"},
    };
    for (const auto& c : cases) {
        script->arrivals.clear();
        if (!c.arrives.empty())
            script->arrive(bytesOf(c.arrives));
        const std::string received = c.arrives.substr(0, c.capacity);
        std::vector<std::uint8_t> buffer(c.capacity + 1, 0xEE);
        EXPECT_EQ(link.readTelescope(link.portHandle, buffer.data(), c.capacity), received.size()) << c.arrives;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), c.text) << c.arrives;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(received.data());
        EXPECT_EQ(normalisedReply(bytes, received.size()), c.text) << c.arrives;
    }
    // What does not fit begins the next read.
    script->arrivals.clear();
    script->readSizes.clear();
    script->arrive(bytesOf("12:34:56#"));
    EXPECT_EQ(link.readReply(5), "12:3");
    EXPECT_EQ(link.readReply(20), ":56") << "the rest, \":56#\", its last byte cut";
    EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{5, 20}));
}

// A query's read ends where its command's reply does, by the reply's kind, so
// a healthy telescope never costs a read deadline; what came after the reply
// waits for the next read. A command with no reply reads to the capacity.
TEST_F(LinkTest, AQueryEndsAtTheEndOfItsCommandsReplyAndTheRestWaits)
{
    const struct { const char* command; std::string arrives, reply, next; } cases[] = {
        {":GR#", "12:34:56#+45\xDF" "00:00#", "12:34:56", "+45:00:00"},
        {":Sr12:00:00#", "1#12:00:00#", "1", "12:00:00"}, {":St+45\xDF" "00#", "1", "", ""},
        {":MS#", "0x#", "", "x"}, {":MS#", "1Below#x#", "1Below", "x"},
        {":SC 01/02/03#", "1Updating#  #", "1Updating", "  "},
        {":Mn#", "ab#cd#", "ab#cd", ""},
    };
    for (const auto& c : cases) {
        script->arrivals.clear();
        script->arrive(bytesOf(c.arrives));
        EXPECT_EQ(link.query(c.command, 20), c.reply) << c.command << " " << c.arrives;
        EXPECT_EQ(link.readReply(20, lx200::Reply::text), c.next) << c.command << " " << c.arrives;
    }
}

TEST_F(LinkTest, AShortWriteAnsweredRetryWritesAgainAndAPortNotOpenSendsNothingAndRepaints)
{
    script->writeLimit = 2;
    ui.answers = {Answer::retry, Answer::cancel};
    EXPECT_EQ(link.send(":GR#"), 0);
    EXPECT_EQ(sent(), (Strings{":G", ":G"}));
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].caption + ui.boxes[0].text, "ERRORwriteTelescope:  Retrying failed write to telescope...");
    script->writeLimit = SIZE_MAX;
    ui.answers = {};
    EXPECT_EQ(link.send(":GR#"), 1);
    EXPECT_GT(ui.waitCursorShown, 0);

    forget();
    link.setHandle(PortTable::closed);
    EXPECT_EQ(link.portOpen, 0);
    script->arrive(bytesOf("12:00:00#"));
    EXPECT_EQ(link.send(":Mn#"), 0);
    EXPECT_EQ(link.query(":GR#", 20), "");
    EXPECT_TRUE(script->writes.empty());
    EXPECT_TRUE(script->readSizes.empty());
    EXPECT_EQ(repaints, 3) << "the write, the query's write and its read";
    EXPECT_TRUE(ui.boxes.empty());
}

// A telescope that goes away: the line says so once, the rest of the command
// is dropped, and the next command opens the port again, which hands the new
// port to the page.
class LostTelescopeTest : public LinkTest {
protected:
    std::shared_ptr<test::PortScript> back = std::make_shared<test::PortScript>();
    bool comesBack = true;
    int reopens = 0;
    const std::string lossText = "com2 (/dev/ttyUSB0) is no longer there: " + SysError(EIO).text();

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
            if (written == bytesOf(":GR#"))
                back->arrive(bytesOf("01:02:03#"));
        };
    }
};

TEST_F(LostTelescopeTest, AFailingReadIsSaidOnceTheRestIsDroppedAndEachCommandTriesToOpenThePortAgain)
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
    EXPECT_EQ(ui.boxTexts(), Strings{lossText});
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_EQ(sent(), Strings{":GR#"}) << "nothing after the loss";
    EXPECT_TRUE(script->closed);
    EXPECT_EQ(lineHandle, PortTable::closed);
    EXPECT_EQ(reopens, 0);

    // A reopen that fails is said once per command; timers never try.
    comesBack = false;
    for (int command = 0; command < 2; ++command) {
        const auto operation = line.operation();
        EXPECT_FALSE(link.ready());
        EXPECT_EQ(link.query(":GR#", 20), "");
    }
    const std::string refused = "Cannot open telescope port com2";
    EXPECT_EQ(ui.boxTexts(), (Strings{lossText, refused, refused}));
    {
        const auto tick = line.operation(PortOwner::Kind::tick);
        EXPECT_EQ(link.query(":GL#", 20), "");
    }
    EXPECT_EQ(reopens, 2);

    // The next command finds the telescope again, on the page's new handle.
    comesBack = true;
    const auto command = line.operation();
    EXPECT_EQ(link.query(":GR#", 20), "01:02:03");
    EXPECT_EQ(reopens, 3);
    EXPECT_EQ(link.portHandle, lineHandle);
    EXPECT_EQ(ui.boxes.size(), 3u);
}

TEST_F(LostTelescopeTest, AFailingWriteAsksOnceAndRetryWritesToThePortThatCameBack)
{
    for (const Answer answer : {Answer::retry, Answer::cancel}) {
        script = std::make_shared<test::PortScript>();
        back->writes.clear();
        ui.boxes.clear();
        lineHandle = addPort();
        link.setHandle(lineHandle);
        script->deviceError = EIO;
        ui.answers = {answer};
        const auto command = line.operation();
        EXPECT_EQ(link.send(":GR#"), answer == Answer::retry ? 1 : 0);
        link.send(":GD#");
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, "writeTelescope:  Retrying failed write to telescope...\n\n" + lossText);
        EXPECT_EQ(ui.boxes[0].buttons, Buttons::retryCancel);
        Strings sentBack;
        for (const Bytes& written : back->writes)
            sentBack.emplace_back(written.begin(), written.end());
        EXPECT_EQ(sentBack, answer == Answer::retry ? (Strings{":GR#", ":GD#"}) : Strings{});
    }
}

TEST_F(LinkTest, PrecisionSetUpLeavesTheTelescopeInTheFormatWithTheLongerDeclination)
{
    // The first ":U#" made the reply shorter: toggled back. Longer or as long: kept.
    const std::string longDec = "+45\xDF" "12:34#", shortDec = "+45\xDF" "12#";
    const struct { std::string before, after; bool toggledBack; } cases[] = {
        {longDec, shortDec, true}, {shortDec, longDec, false}, {shortDec, shortDec, false}};
    for (const auto& c : cases) {
        forget();
        script->device = [&, first = true](const Bytes& written) mutable {
            if (written == bytesOf(":GD#"))
                script->arrive(bytesOf(std::exchange(first, false) ? c.before : c.after));
        };
        motion::precisionSetup(link);
        Strings expected{":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#", ":GD#", ":U#", ":GD#"};
        if (c.toggledBack)
            expected.push_back(":U#");
        expected.push_back(":FQ#");
        EXPECT_EQ(sent(), expected) << c.before << " then " << c.after;
        EXPECT_EQ(script->readSizes.back(), 50u);
    }
}

TEST(MotionRules, FocusCounterFollowsTheRampAndTheSpeed)
{
    const struct { std::int64_t ms; bool stepped, fast; int change; } cases[] = {
        {1000, false, true, 125}, {2000, false, true, 187},  {2000, false, false, 93}, {-500, false, false, -15},
        {-10, false, true, -1},   {0, false, false, 1},      {-32, true, false, -2},  {3200, true, true, 200},
        {3200, true, false, 100}, {1016, false, true, 126},
    };
    for (const auto& c : cases)
        EXPECT_EQ(motion::focusCounterChange(c.ms, c.stepped, c.fast), c.change)
            << c.ms << " ms stepped " << c.stepped << " fast " << c.fast;
}

TEST(MotionRules, FocusModesDynamicFocusParkCountdownAndTheSettingsLine)
{
    // The speeds the page's focus table does not reach.
    using F = motion::FocusFlags;
    EXPECT_EQ(motion::focusFlags(3), (F{.fastFocus = 1, .steppedFocus = 1}));
    for (const int unknown : {6, -1})
        EXPECT_EQ(motion::focusFlags(unknown), F{}) << unknown;

    EXPECT_EQ(motion::dynamicFocusPeriodMs(7), 514285);
    for (const auto& [typed, kept] : {std::pair{0, 1}, {7200, 7200}, {7201, 7200}, {60, 60}})
        EXPECT_EQ(motion::clampOutStepsPerHour(typed), kept) << typed;
    EXPECT_EQ(motion::parkSecondsLeft(10, 1000, 990), 10) << "a clock set back does not add seconds";

    // The settings line keeps what it lacks.
    const struct { const char* line; int parked, speed; } settings[] = {
        {"0 4", 0, 4}, {"1 2", 1, 2}, {"7 1", 0, 1}, {"1", 1, 4}, {"junk", 0, 4}, {"1 9", 1, 9}, {"", 0, 4}};
    for (const auto& c : settings) {
        const auto read = motion::parsePageSettings(c.line, {0, 4});
        EXPECT_EQ(std::pair(read.parked, read.focusSpeed), std::pair(c.parked, c.speed)) << c.line;
    }
}

TEST(MotionRules, TheUsersConfigurationDirectoryIsMadeWhenMissing)
{
    test::TempDir dir;
    const std::string chosen = motion::userConfigDirectory(dir.file("config").c_str(), nullptr);
    EXPECT_EQ(chosen, dir.file("config") + "/tarvi");
    EXPECT_TRUE(std::filesystem::is_directory(chosen));
    EXPECT_EQ(motion::userConfigDirectory("relative", dir.path().c_str()), dir.path() + "/.config/tarvi")
        << "a relative XDG_CONFIG_HOME is ignored";
}

}  // namespace
}  // namespace tarvi
