// The program's camera link against the simulated camera on a real
// pseudo-terminal, through the program's own serial port class.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"
#include "platform/device_opener.h"
#include "sim/camera_sim.h"
#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

class CameraSimLinkTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    test::FakeClock clock;
    std::unique_ptr<sim::CameraSimulator> camera;
    DeviceOpener opener;
    std::unique_ptr<CTarviApp> app;

    void start(int cameraSpeedIndex, const std::string& values, sim::CameraFaults faults = {})
    {
        if (camera)
            camera->stop();
        app.reset();
        ui = test::FakeUi{};
        sim::CameraOptions options;
        options.startSpeedIndex = cameraSpeedIndex;
        options.timeScale = 0;
        options.faults = faults;
        camera = std::make_unique<sim::CameraSimulator>(options);
        camera->start();
        opener.setSimulatorHook([this](const std::string& name) {
            return name == "camera" ? camera->slavePath() : std::string();
        });
        test::writeFile(dir.file("tarvi.ini"),
                        "[Ports]\nCOM1=sim:camera\n\n[st4Settings150]\nValues=" + values + "\n");
        app = std::make_unique<CTarviApp>(ui, clock, dir.path());
        app->setPortOpener(&opener);
        app->log = [](const std::string&) {};
    }

    int retries = 0;
    std::vector<int> failedRows;

    // One exposure, then every row with up to three tries each, as a capture
    // fetches them; false when the exposure could not be made.
    bool exposeAndDownload(std::uint8_t mode, CTarviApp::Frame& frame)
    {
        retries = 0;
        failedRows.clear();
        const std::uint8_t modeByte[] = {mode};
        const auto start = writeRamFrame(st4::ram::mode, modeByte);
        if (app->writeCamera(start.data(), int(start.size())) != 1)
            return false;
        std::uint8_t state = 0xFF;
        for (int poll = 0; poll < 200 && (state & st4::busyBits) != 0; ++poll) {
            if (app->readRAM(st4::ram::mode, 1, &state) != 1)
                return false;
        }
        const std::uint8_t rows[] = {0x00, 0xC0};
        const auto setup = writeRamFrame(st4::ram::rowLength, rows);
        if (app->writeCamera(setup.data(), int(setup.size())) != 1)
            return false;
        for (int row = 0; row < st4::rowCount; ++row) {
            std::uint8_t* destination = frame.data() + std::size_t(164 - row) * 192;
            int tries = 0;
            while (app->downloadRow(row, destination) != 1) {
                ++retries;
                if (++tries == 3) {
                    failedRows.push_back(row);
                    break;
                }
            }
        }
        return true;
    }

    // Every row that came in is the row the camera sent.
    bool sameAsTheCameraSent(const CTarviApp::Frame& frame) const
    {
        const auto sent = camera->lastFrame();
        for (int row = 0; row < st4::rowCount; ++row) {
            if (std::find(failedRows.begin(), failedRows.end(), row) != failedRows.end())
                continue;
            if (!std::equal(sent.begin() + row * 192, sent.begin() + (row + 1) * 192,
                            frame.begin() + (164 - row) * 192))
                return false;
        }
        return true;
    }
};

TEST_F(CameraSimLinkTest, SpeedSearchFindsTheCameraAndSetsTheWantedSpeed)
{
    const struct {
        int cameraAt;        // the camera's speed when the program comes
        const char* values;  // settings: wanted speed (12th), speed in use (13th)
        const char* pane;
        int inUse;
    } cases[] = {
        {0, "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", "Baud rate: 56.6K.  ST-4 Version:  3", 0},
        {3, "0 0 0 1 1 0 .5 0 0 0 0 2 3 1 -1 -1 0", "Baud rate: 9600.  ST-4 Version:  3", 2},
        // Found at the wanted speed on the second probe.
        {1, "0 0 0 1 1 0 .5 0 0 0 0 1 3 1 -1 -1 0", "Baud rate: 19.2K.  ST-4 Version:  3", 1},
        // After a power cut: 9600 on the third probe, then 57600 as wanted.
        {2, "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", "Baud rate: 56.6K.  ST-4 Version:  3", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.values);
        start(c.cameraAt, c.values);
        ASSERT_EQ(app->openCameraPort(), 1);
        EXPECT_EQ(ui.paneText(1), c.pane);
        EXPECT_EQ(app->settings.cameraSpeedInUse, c.inUse);
        EXPECT_EQ(camera->baud(), st4::baudRates[std::size_t(c.inUse)]);
        EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
        EXPECT_EQ(camera->ram()[0x2F], 0x20);
        EXPECT_EQ(camera->ram()[0x35], 255);
    }
}

TEST_F(CameraSimLinkTest, SilentCameraIsReportedAndThePortClosed)
{
    sim::CameraFaults silent;
    silent.silent = true;
    start(0, "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", silent);
    EXPECT_EQ(app->openCameraPort(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot open camera port com1\nsim:camera: no answer at any speed");
    EXPECT_EQ(app->settings.cameraHandle, -1);
    EXPECT_NE(test::readFile(dir.file("tarvi.ini")).find("Values=0 0 0 1 1 0 0.500000 0 0 0 0 0 2 1 -1 -1 0"),
              std::string::npos);
}

// A row late on a busy machine or spoilt on the line is fetched again; one
// that keeps failing is reported to the caller, never taken as it came. A
// camera that goes away is said once.
TEST_F(CameraSimLinkTest, WholeFramesArriveAsTheCameraSentThem)
{
    start(0, "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0");
    ASSERT_EQ(app->openCameraPort(), 1);
    // Setting the same line twice is no failure on a pseudo-terminal.
    EXPECT_EQ(app->configurePort(CTarviApp::cameraPortSelector, 0), 1);
    CTarviApp::Frame frame{};
    for (const std::uint8_t mode : std::initializer_list<std::uint8_t>{0xF0, 0xF2}) {
        ASSERT_TRUE(exposeAndDownload(mode, frame));
        EXPECT_TRUE(failedRows.empty());
        EXPECT_TRUE(sameAsTheCameraSent(frame));
    }
    // The compressed frame was sent compressed.
    EXPECT_LT(camera->sentReplies().back().bytes.size(), 195u);
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;

    sim::CameraFaults noisy;
    noisy.corruptFraction = 0.0005;
    camera->setFaults(noisy);
    ASSERT_TRUE(exposeAndDownload(0xF0, frame));
    EXPECT_GT(retries, 0);
    EXPECT_LE(failedRows.size(), 3u);
    EXPECT_TRUE(sameAsTheCameraSent(frame));

    camera->hangUp();
    ui.boxes.clear();
    EXPECT_EQ(app->downloadRow(0, frame.data()), 0);
    EXPECT_EQ(app->settings.cameraHandle, -1);
    const auto said = ui.boxes.size();
    EXPECT_GE(said, 1u);
    EXPECT_EQ(app->downloadRow(1, frame.data()), 0);
    EXPECT_LE(ui.boxes.size(), said + 1) << "only the row's own report may follow";
}

TEST_F(CameraSimLinkTest, ACameraLostDuringTheSpeedSearchIsSaidOnceAndNeverCountsAsFound)
{
    // The camera hangs up at the first probe of a search that would
    // otherwise go on at two more speeds.
    sim::CameraFaults faults;
    faults.hangUpAfterReplies = 0;
    start(2, "0 0 0 1 1 0 .5 0 0 0 0 0 0 0 -1 -1 0", faults);
    EXPECT_EQ(app->openCameraPort(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u) << ui.boxes[1].text;
    EXPECT_EQ(ui.boxes[0].text.rfind("com1 (sim:camera) is no longer there: ", 0), 0u) << ui.boxes[0].text;
    EXPECT_EQ(app->settings.cameraHandle, -1);
    EXPECT_EQ(ui.paneText(0), "");
    EXPECT_EQ(ui.paneText(1), "");
}

}  // namespace
}  // namespace tarvi
