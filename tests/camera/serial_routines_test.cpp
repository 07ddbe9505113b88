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

TEST_F(SerialRoutinesTest, CameraLineIsEightBitsEvenParityOneStopAndNoFlowControl)
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
}

TEST_F(SerialRoutinesTest, TelescopeLineIsNineThousandSixHundredWithoutParity)
{
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

TEST_F(SerialRoutinesTest, SilentTelescopeClosesThePortAgainAndNoSheetIsBuiltOnIt)
{
    int rebuilt = 0;
    app.telescopeReopened = [&](bool) { ++rebuilt; };
    EXPECT_EQ(app.openTelescopePort(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot open telescope port com2\n/dev/ttyS1: no answer");
    EXPECT_EQ(ui.boxes[0].caption, "Tarvi");
    EXPECT_EQ(app.settings.telescopeHandle, -1);
    EXPECT_TRUE(telescope->closed);
    EXPECT_EQ(rebuilt, 0);
}

TEST_F(SerialRoutinesTest, MissingTelescopeDeviceIsReportedAndItsReasonLogged)
{
    app.settings.telescopePort = 3;  // COM4: /dev/ttyS3, not there
    EXPECT_EQ(app.openTelescopePort(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot open telescope port com4\n/dev/ttyS3: " + std::string(std::strerror(ENOENT)));
    EXPECT_EQ(app.settings.telescopeHandle, -1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("/dev/ttyS3"), std::string::npos);
    EXPECT_NE(logged[0].find(std::strerror(ENOENT)), std::string::npos);
    std::filesystem::remove(app.iniPath);
    app.closePort(CTarviApp::telescopePortSelector);
    EXPECT_FALSE(std::filesystem::exists(app.iniPath));
}

TEST_F(SerialRoutinesTest, ADeviceThatMayNotBeOpenedSaysHowToGetPermission)
{
    opener.refusals = {{"/dev/ttyS0", EACCES}, {"/dev/ttyS1", EACCES}};
    EXPECT_EQ(app.openCameraPort(), 0);
    EXPECT_EQ(app.openTelescopePort(), 0);
    ASSERT_EQ(ui.boxes.size(), 2u);
    const std::string refused = std::strerror(EACCES);
    EXPECT_EQ(ui.boxes[0].text,
              "Cannot open/setup camera port com1\n/dev/ttyS0: " + refused + "\n\n" + permissionAdvice("/dev/ttyS0"));
    EXPECT_EQ(ui.boxes[1].text,
              "Cannot open telescope port com2\n/dev/ttyS1: " + refused + "\n\n" + permissionAdvice("/dev/ttyS1"));
    // Another reason is given without the hint.
    opener.refusals = {{"/dev/ttyS0", EBUSY}};
    EXPECT_EQ(app.openCameraPort(), 0);
    EXPECT_EQ(ui.boxes.back().text, "Cannot open/setup camera port com1\n/dev/ttyS0: " + std::string(strerror(EBUSY)));
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

TEST_F(SerialRoutinesTest, AcknowledgementIsTheFirstByteOfTheReply)
{
    openCamera();
    const Bytes frame{0x01, 0x04, 0x01, 0x2F, 0x00, 0x20, 0x55};
    camera->device = [this](const Bytes&) { camera->arrive({0x06, 0x41, 0x42}); };
    EXPECT_EQ(app.writeCamera(frame.data(), 7), 1);
    EXPECT_EQ(camera->writes.size(), 1u);

    // A refusal is written again; an answer on the second try is fine.
    camera->writes.clear();
    int answers = 0;
    camera->device = [&](const Bytes&) { camera->arrive({Bytes{++answers == 1 ? std::uint8_t(0x15) : std::uint8_t(0x06)}}); };
    EXPECT_EQ(app.writeCamera(frame.data(), 7), 1);
    EXPECT_EQ(camera->writes.size(), 2u);
    EXPECT_EQ(camera->readSizes.back(), 1000u);
}

TEST_F(SerialRoutinesTest, SilentCameraGetsTwentyTwoTriesAndNoPrompt)
{
    openCamera();
    app.quietComm = 1;
    const Bytes frame{0x01, 0x04, 0x01, 0x2F, 0x00, 0x20, 0x55};
    EXPECT_EQ(app.writeCamera(frame.data(), 7), 0);
    EXPECT_EQ(camera->writes.size(), 22u);
    for (const auto& written : camera->writes)
        EXPECT_EQ(written, frame);
    EXPECT_TRUE(ui.boxes.empty());

    // A short write under quietComm gives up at once.
    camera->writes.clear();
    camera->writeLimit = 3;
    EXPECT_EQ(app.writeCamera(frame.data(), 7), 0);
    EXPECT_EQ(camera->writes.size(), 1u);
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


// Connecting both: a telescope on the camera's port moves off it, and both
// are opened again; the telescope answers its probe where it ended.
TEST_F(SerialRoutinesTest, TelescopeMovesOffTheCameraPortAndBothAreOpenedAgain)
{
    const std::array<int, 3> cases[] = {{1, 1, 2}, {3, 3, 0}, {0, 2, 2}, {2, 1, 1}};  // camera, telescope, where it ends
    for (const auto& [cameraPort, telescopePort, endsOn] : cases) {
        for (int i = 0; i < 4; ++i) {
            auto script = opener.add("/dev/ttyS" + std::to_string(i));
            test::PortScript* answering = script.get();  // the script must not own itself
            script->device = [answering](const Bytes& written) {
                if (written.size() == 4 && written[1] == 'G')
                    answering->arrive({'0', '1', ':', '0', '2', ':', '0', '3', '#'});
            };
        }
        app.connectDevices(cameraPort, 2, telescopePort);
        EXPECT_EQ(app.settings.cameraPort, cameraPort);
        EXPECT_EQ(app.settings.telescopePort, endsOn);
        EXPECT_EQ(app.settings.cameraSpeed, 2);
        EXPECT_NE(app.settings.telescopeHandle, -1);
        EXPECT_EQ(opener.opened.back(), "/dev/ttyS" + std::to_string(endsOn));
        EXPECT_NE(test::readFile(app.iniPath).find(" " + std::to_string(endsOn) + " -1 "), std::string::npos)
            << "the chosen ports are saved";
    }
}

TEST_F(SerialRoutinesTest, ConnectWithoutChangesOpensBothPortsAfresh)
{
    telescope->device = [this](const Bytes&) { telescope->arrive({'1', '#'}); };
    openCamera();
    app.settings.telescopeHandle = app.ports.add(opener.open("/dev/ttyS1").port);
    const int oldCamera = app.settings.cameraHandle;
    const int oldTelescope = app.settings.telescopeHandle;
    app.connectDevices(0, 0, 1);
    EXPECT_TRUE(camera->closed);
    EXPECT_EQ(app.ports.find(oldCamera), nullptr);
    EXPECT_EQ(app.ports.find(oldTelescope), nullptr);
    EXPECT_NE(app.settings.telescopeHandle, -1);
    EXPECT_NE(app.settings.telescopeHandle, oldTelescope);
    // The camera did not answer; it says so, and its port stays closed.
    EXPECT_EQ(app.settings.cameraHandle, -1);
    EXPECT_EQ(ui.boxes.back().text, "Cannot open camera port com1\n/dev/ttyS0: no answer at any speed");
}

}  // namespace
}  // namespace tarvi
