#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <array>
#include <filesystem>

#include "app/tarvi_app.h"
#include "platform/device_opener.h"
#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::Bytes;

class SerialRoutinesTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    test::FakeClock clock;
    test::ScriptedOpener opener;
    std::vector<std::string> logged;
    CTarviApp app{ui, clock, dir.path()};
    std::shared_ptr<test::PortScript> camera = opener.add("/dev/ttyS0");
    std::shared_ptr<test::PortScript> telescope = opener.add("/dev/ttyS1");

    void SetUp() override
    {
        app.setPortOpener(&opener);
        app.log = [this](const std::string& line) { logged.push_back(line); };
        camera->current.baud = 2400;
        camera->current.parity = Parity::odd;
        camera->current.hardwareFlow = true;
        camera->current.binary = false;  // left cooked by a terminal program
        camera->timeouts = {7, 8, 9, 10, 11};
    }

    // Opens the camera port as a connection would, without talking to it.
    void openCamera()
    {
        app.settings.cameraHandle = app.ports.add(opener.open("/dev/ttyS0").port);
    }
};

// The camera line is eight bits, even parity, one stop bit, no flow control.
TEST_F(SerialRoutinesTest, EachPortIsSetToItsDevicesLine)
{
    openCamera();
    EXPECT_EQ(app.configurePort(CTarviApp::cameraPortSelector, 1), 1);
    ASSERT_EQ(camera->lineSettingsSet.size(), 1u);
    const LineSettings& set = camera->lineSettingsSet[0];
    EXPECT_TRUE(set.baud == 19200u && set.binary && set.dataBits == 8 && set.parity == Parity::even && set.parityCheck &&
                set.stopBits == 1);
    EXPECT_FALSE(set.hardwareFlow || set.softwareFlow || set.dtrOn || set.rtsOn);
    // Only the two total constants change.
    const PortTimeouts& t = camera->timeouts;
    EXPECT_EQ((std::array{t.readInterval, t.readTotalMultiplier, t.readTotalConstant, t.writeTotalMultiplier,
                          t.writeTotalConstant}), (std::array<std::uint32_t, 5>{7, 8, 100, 10, 300}));
    EXPECT_TRUE(ui.boxes.empty());
    // The telescope line: 9600 baud, no parity.
    app.settings.telescopeHandle = app.ports.add(opener.open("/dev/ttyS1").port);
    telescope->current.baud = 4800;
    EXPECT_EQ(app.configurePort(CTarviApp::telescopePortSelector, 2), 1);
    EXPECT_EQ(telescope->current.baud, 9600u);
    EXPECT_EQ(telescope->current.parity, Parity::none);
    // A speed index outside the table leaves the rate alone.
    EXPECT_EQ(app.configurePort(CTarviApp::telescopePortSelector, 7), 1);
    EXPECT_EQ(telescope->current.baud, 9600u);
    EXPECT_EQ(app.configurePort(5, 2), 0);
}

TEST_F(SerialRoutinesTest, ClosingRestoresTheLineAsItWasBeforeTheLastConfigureAndSaves)
{
    openCamera();
    app.configurePort(CTarviApp::cameraPortSelector, 0);
    app.configurePort(CTarviApp::cameraPortSelector, 2);
    std::filesystem::remove(app.iniPath);
    app.closePort(CTarviApp::cameraPortSelector);
    EXPECT_TRUE(camera->closed);
    EXPECT_EQ(app.settings.cameraHandle, -1);
    // The kept copy is what the second configure found: the first one's line.
    EXPECT_EQ(camera->current.baud, 57600u);
    EXPECT_EQ(camera->timeouts.readTotalConstant, 100u);
    EXPECT_NE(test::readFile(app.iniPath).find("Values=0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0\n"),
              std::string::npos);

    // A closed port is left alone and nothing is saved.
    std::filesystem::remove(app.iniPath);
    app.closePort(CTarviApp::cameraPortSelector);
    EXPECT_FALSE(std::filesystem::exists(app.iniPath));
}

TEST_F(SerialRoutinesTest, RefusedSettingsAndAHeldLineAreReported)
{
    openCamera();
    camera->failQueueSizes = true;
    camera->failLineSettings = true;
    EXPECT_EQ(app.configurePort(CTarviApp::cameraPortSelector, 0), 0);
    ASSERT_EQ(ui.boxes.size(), 2u);
    for (const auto& box : ui.boxes) {
        EXPECT_EQ(box.text, "Serial Port SetupComm function call failed.");
        EXPECT_EQ(box.caption, "info");
        EXPECT_TRUE(box.style.setForeground);
    }
    camera->failQueueSizes = camera->failLineSettings = false;
    camera->ctsHold = true;
    EXPECT_EQ(app.configurePort(CTarviApp::cameraPortSelector, 0), 0);
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_EQ(ui.boxes[2].text, "Serial Port waiting for CTS.  Download cancelled.  Check connection.");
}

TEST_F(SerialRoutinesTest, TelescopeIsProbedWithGetSiderealTime)
{
    telescope->device = [this](const Bytes&) { telescope->arrive({'0', '3', ':', '1', '2', ':', '4', '4', '#'}); };
    int rebuilt = 0;
    app.telescopeReopened = [&](bool afterLoss) {
        EXPECT_FALSE(afterLoss);
        ++rebuilt;
    };
    EXPECT_EQ(app.openTelescopePort(), 1);
    EXPECT_EQ(telescope->writes, (std::vector<Bytes>{{':', 'G', 'S', '#'}}));
    EXPECT_EQ(telescope->current.baud, 9600u);
    EXPECT_EQ(app.quietComm, 1);
    EXPECT_NE(app.settings.telescopeHandle, -1);
    EXPECT_EQ(rebuilt, 1);
    ASSERT_GE(ui.statusTexts.size(), 2u);
    EXPECT_EQ(ui.statusTexts.front(), (std::pair<int, std::string>{0, "Please Wait.  Establishing telescope communications"}));
    EXPECT_EQ(ui.statusTexts.back(), (std::pair<int, std::string>{0, ""}));

    // Already open: nothing is opened or sent again.
    EXPECT_EQ(app.openTelescopePort(), 1);
    EXPECT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(telescope->writes.size(), 1u);
}

// A telescope that does not answer, is not there or may not be opened says
// why, the reason is logged, no sheet is built on it, and closing it saves nothing.
TEST_F(SerialRoutinesTest, TelescopeThatCannotBeOpenedSaysWhy)
{
    const std::string prefix = "Cannot open telescope port ";
    const struct {
        int port;
        int refusal;  // the system's reason for not opening it; 0: opened
        std::string box;
    } cases[] = {
        {1, 0, prefix + "com2\n/dev/ttyS1: no answer"},
        {3, ENOENT, prefix + "com4\n/dev/ttyS3: " + std::strerror(ENOENT)},
        {1, EACCES, prefix + "com2\n/dev/ttyS1: " + std::strerror(EACCES) + "\n\n" + permissionAdvice("/dev/ttyS1")},
    };
    int rebuilt = 0;
    app.telescopeReopened = [&](bool) { ++rebuilt; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        ui.boxes.clear();
        logged.clear();
        app.settings.telescopePort = c.port;
        *telescope = test::PortScript{};
        opener.refusals.clear();
        if (c.refusal == EACCES)
            opener.refusals = {{"/dev/ttyS1", EACCES}};
        EXPECT_EQ(app.openTelescopePort(), 0);
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, c.box);
        EXPECT_EQ(ui.boxes[0].caption, "Tarvi");
        EXPECT_EQ(app.settings.telescopeHandle, -1);
        EXPECT_EQ(telescope->closed, c.refusal == 0);
        EXPECT_EQ(rebuilt, 0);
        if (c.refusal != 0) {
            ASSERT_EQ(logged.size(), 1u);
            EXPECT_NE(logged[0].find(std::strerror(c.refusal)), std::string::npos);
        }
        std::filesystem::remove(app.iniPath);
        app.closePort(CTarviApp::telescopePortSelector);
        EXPECT_FALSE(std::filesystem::exists(app.iniPath));
    }
    // The camera's port the same; another reason is given without the hint.
    for (const int refusal : {EACCES, EBUSY}) {
        opener.refusals = {{"/dev/ttyS0", refusal}};
        EXPECT_EQ(app.openCameraPort(), 0);
        EXPECT_EQ(ui.boxes.back().text, "Cannot open/setup camera port com1\n/dev/ttyS0: " + std::string(strerror(refusal)) +
                                            (refusal == EACCES ? "\n\n" + permissionAdvice("/dev/ttyS0") : ""));
    }
}

TEST_F(SerialRoutinesTest, TelescopeRepliesLoseTheirLastByte)
{
    const int handle = app.ports.add(opener.open("/dev/ttyS1").port);
    std::uint8_t buffer[32];
    telescope->arrive({'+', '4', '5', '*', '1', '2', '#'});
    EXPECT_EQ(app.readTelescope(handle, buffer, sizeof buffer), 7);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "+45*12");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(app.readTelescope(handle, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 0);
    // Bytes past the capacity wait for the next read.
    telescope->arrive({'1', '2', '3', '4', '5', '#'});
    EXPECT_EQ(app.readTelescope(handle, buffer, 4), 4);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "123");
    EXPECT_EQ(app.readTelescope(handle, buffer, 4), 2);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "5");
}

// The acknowledgement is the first byte of the reply; a refusal is written
// again; a silent camera gets twenty-two tries and, under quietComm, no
// prompt; a short write under quietComm gives up at once.
TEST_F(SerialRoutinesTest, CameraWritesWaitForTheAcknowledgement)
{
    const struct {
        const char* what;
        std::vector<Bytes> replies;  // to the writes in turn; none: silent
        std::size_t writeLimit;
        int result;
        std::size_t writes;
    } cases[] = {
        {"acknowledged", {{0x06, 0x41, 0x42}}, SIZE_MAX, 1, 1},
        {"refused, then acknowledged", {{0x15}, {0x06}}, SIZE_MAX, 1, 2},
        {"silent", {}, SIZE_MAX, 0, 22},
        {"short write", {}, 3, 0, 1},
    };
    openCamera();
    app.quietComm = 1;
    const Bytes frame{0x01, 0x04, 0x01, 0x2F, 0x00, 0x20, 0x55};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        camera->writes.clear();
        camera->writeLimit = c.writeLimit;
        camera->device = [&](const Bytes&) {
            if (camera->writes.size() <= c.replies.size())
                camera->arrive(c.replies[camera->writes.size() - 1]);
        };
        EXPECT_EQ(app.writeCamera(frame.data(), 7), c.result);
        ASSERT_EQ(camera->writes.size(), c.writes);
        for (const auto& written : camera->writes)
            EXPECT_EQ(written, Bytes(frame.begin(), frame.begin() + long(std::min<std::size_t>(7, c.writeLimit))));
        EXPECT_TRUE((c.writes == 1 && c.result == 0) || camera->readSizes.back() == 1000u);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST_F(SerialRoutinesTest, ShortTelescopeWriteAsksToRetry)
{
    const int handle = app.ports.add(opener.open("/dev/ttyS1").port);
    telescope->writeLimit = 2;
    ui.answers = {Answer::retry, Answer::cancel};
    const Bytes command{':', 'G', 'R', '#'};
    EXPECT_EQ(app.writeTelescope(handle, command.data(), 4), 0);
    EXPECT_EQ(telescope->writes.size(), 2u);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "writeCamera:  Retrying failed write to telescope...");
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::retryCancel);
    telescope->writeLimit = SIZE_MAX;
    EXPECT_EQ(app.writeTelescope(handle, command.data(), 4), 1);
}

TEST_F(SerialRoutinesTest, PortThatGoesAwayIsReportedOnceAndOpenedAfreshNextTime)
{
    openCamera();
    camera->deviceError = EIO;
    std::uint8_t buffer[8];
    EXPECT_EQ(app.readCamera(buffer, 8), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "com1 (/dev/ttyS0) is no longer there: " + std::string(std::strerror(EIO)));
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_EQ(app.settings.cameraHandle, -1);
    EXPECT_EQ(ui.paneText(1), "") << "the camera's speed and version went with it";
    // Nothing more is said about the lost port.
    EXPECT_EQ(app.readCamera(buffer, 8), 0);
    const Bytes frame{0x40, 0x40};
    EXPECT_EQ(app.writeCameraRaw(frame.data(), 2), 0);
    EXPECT_EQ(ui.boxes.size(), 1u);
}
}  // namespace
}  // namespace tarvi
