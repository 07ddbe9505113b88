// The program's camera link and its captures end to end, against the
// simulated camera on a real pseudo-terminal through the program's own serial
// port class, with a clock that does not wait.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ranges>

#include "app/settings.h"
#include "app/tarvi_app.h"
#include "camera/autosave_name.h"
#include "camera/st4_protocol.h"
#include "image/bmp.h"
#include "platform/device_opener.h"
#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"
#include "support/fake_clock.h"
#include "support/image_checks.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

struct RecordedWindows final : CaptureWindows {
    std::vector<std::string> opened, retitled;  // titles given to new windows, to the current one
    std::string current;

    void newCaptureWindow(const std::string& title) override
    {
        opened.push_back(title);
        current = title.empty() ? "Tarvi" + std::to_string(opened.size()) : title;
    }
    bool hasCurrentWindow() override { return !opened.empty(); }
    std::string currentWindowTitle() override { return current; }
    void retitleAndReloadCurrent(const std::string& title) override { retitled.push_back(current = title); }
};

class CaptureTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    test::FakeClock clock;
    std::unique_ptr<sim::CameraSimulator> camera;
    DeviceOpener opener;
    RecordedWindows windows;
    std::unique_ptr<CTarviApp> app;

    // A camera at 57600 baud that takes no time over an exposure.
    static sim::CameraOptions instant(int speedIndex = 0, sim::CameraFaults faults = {})
    {
        sim::CameraOptions options;
        options.startSpeedIndex = speedIndex;
        options.timeScale = 0;
        options.faults = faults;
        return options;
    }

    // A fresh camera and program; what an earlier start recorded is forgotten.
    void start(const std::string& values = "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0",
               sim::CameraOptions options = instant())
    {
        if (camera)
            camera->stop();
        app.reset();
        ui = test::FakeUi{};
        windows = RecordedWindows{};
        clock.clearSleeps();
        clock.onSleep = nullptr;
        std::filesystem::remove_all(dir.file("tarvitemp.bmp"));
        camera = std::make_unique<sim::CameraSimulator>(options);
        camera->start();
        opener.setSimulatorHook([this](const std::string& name) {
            return name == "camera" ? camera->slavePath() : std::string();
        });
        test::writeFile(dir.file("tarvi.ini"), "[Ports]\nCOM1=sim:camera\n\n[st4Settings150]\nValues=" + values + "\n");
        ui.clock = &clock;
        app = std::make_unique<CTarviApp>(ui, clock, dir.path());
        app->setPortOpener(&opener);
        app->setCaptureWindows(&windows);
        app->log = [](const std::string&) {};
    }

    // The frame the camera sent, in the program's buffer order.
    CTarviApp::Frame sentFrame() const
    {
        const auto sent = camera->lastFrame();
        CTarviApp::Frame frame{};
        for (int row = 0; row < 165; ++row)
            std::copy_n(sent.begin() + row * 192, 192, frame.begin() + (164 - row) * 192);
        return frame;
    }

    // The pane-0 texts that began with the prefix, less the prefix.
    std::vector<std::string> paneTexts(const std::string& prefix = "") const
    {
        std::vector<std::string> texts;
        for (const auto& [pane, text] : ui.statusTexts) {
            if (pane == 0 && text.rfind(prefix, 0) == 0)
                texts.push_back(text.substr(prefix.size()));
        }
        return texts;
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

    std::uint8_t modeSent() const
    {
        std::uint8_t mode = 0;
        for (const auto& frame : camera->receivedFrames()) {
            if (frame.bytes.size() == 7 && frame.bytes[0] == 0x01 && frame.bytes[3] == 0x2E)
                mode = frame.bytes[5];
        }
        return mode;
    }
};

using CameraSimLinkTest = CaptureTest;

// The search finds the camera wherever it is and sets the wanted speed; a
// silent camera is said once after the whole search, one that hangs up at the
// first probe is said once as gone, and neither counts as found.
TEST_F(CameraSimLinkTest, SpeedSearchFindsTheCameraOrSaysOnceWhyNot)
{
    sim::CameraFaults silent, lost;
    silent.silent = true;
    lost.hangUpAfterReplies = 0;
    const struct {
        sim::CameraOptions camera;  // its speed when the program comes, its faults
        const char* values;         // settings: wanted speed (12th), speed in use (13th)
        const char* pane;           // "": not found
        int inUse;
        std::string box;            // the start of the one box; "": none
    } cases[] = {
        {instant(0), "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", "Baud rate: 56.6K.  ST-4 Version:  3", 0, ""},
        {instant(3), "0 0 0 1 1 0 .5 0 0 0 0 2 3 1 -1 -1 0", "Baud rate: 9600.  ST-4 Version:  3", 2, ""},
        // Found at the wanted speed on the second probe.
        {instant(1), "0 0 0 1 1 0 .5 0 0 0 0 1 3 1 -1 -1 0", "Baud rate: 19.2K.  ST-4 Version:  3", 1, ""},
        // After a power cut: 9600 on the third probe, then 57600 as wanted.
        {instant(2), "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", "Baud rate: 56.6K.  ST-4 Version:  3", 0, ""},
        {instant(0, silent), "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", "", 2,
         "Cannot open camera port com1\nsim:camera: no answer at any speed"},
        // It would otherwise go on at two more speeds.
        {instant(2, lost), "0 0 0 1 1 0 .5 0 0 0 0 0 0 0 -1 -1 0", "", 0, "com1 (sim:camera) is no longer there: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.values + (" " + c.box));
        start(c.values, c.camera);
        const bool found = c.box.empty();
        EXPECT_EQ(app->openCameraPort(), found ? 1 : 0);
        EXPECT_EQ(ui.paneText(1), c.pane);
        EXPECT_EQ(ui.paneText(0), "");
        EXPECT_EQ(app->settings.cameraHandle != -1, found);
        EXPECT_EQ(app->settings.cameraSpeedInUse, c.inUse);
        ASSERT_EQ(ui.boxes.size(), found ? 0u : 1u) << ui.boxes[0].text;
        if (found) {
            EXPECT_EQ(camera->baud(), st4::baudRates[std::size_t(c.inUse)]);
            EXPECT_EQ(camera->ram()[0x2F], 0x20);
            EXPECT_EQ(camera->ram()[0x35], 255);
        } else {
            EXPECT_EQ(ui.boxes[0].text.rfind(c.box, 0), 0u) << ui.boxes[0].text;
            const std::string saved = "Values=" + formatSettingsLine(app->settings);
            EXPECT_NE(test::readFile(dir.file("tarvi.ini")).find(saved), std::string::npos);
        }
    }
}

// A row late on a busy machine or spoilt on the line is fetched again; one
// that keeps failing is reported to the caller, never taken as it came. A
// camera that goes away is said once.
TEST_F(CameraSimLinkTest, WholeFramesArriveAsTheCameraSentThem)
{
    start();
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

TEST_F(CaptureTest, HalfASecondIsOneSleepWithoutACountdown)
{
    start();
    ASSERT_EQ(app->captureImage(), 1);
    EXPECT_NE(std::find(clock.waits.begin(), clock.waits.end(), 1000), clock.waits.end());
    // Before the download the row length, 0x00C0, goes to RAM 0x32.
    const std::vector<std::uint8_t> rowLength{0x01, 0x05, 0x01, 0x32, 0x00, 0x00, 0xC0};
    EXPECT_TRUE(std::ranges::any_of(camera->receivedFrames(),
                                    [&](const auto& frame) { return std::ranges::equal(frame.bytes | std::views::take(7), rowLength); }));
    for (const auto& text : paneTexts())
        EXPECT_EQ(text.find("Exposure underway"), std::string::npos);
    EXPECT_EQ(app->cameraImage, sentFrame());
    EXPECT_TRUE(std::filesystem::exists(dir.file("tarvitemp.bmp")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("zfits.fit")));
    EXPECT_EQ(windows.opened, std::vector<std::string>{""});
    EXPECT_EQ(paneTexts().back(), "Image created");
    EXPECT_EQ(ui.waitDepth, 0);
    // The progress bar fills with the rows and goes away at the end.
    ASSERT_EQ(ui.progress.size(), 166u);
    EXPECT_EQ(ui.progress.front(), (std::pair<int, int>{0, 165}));
    EXPECT_EQ(ui.progress[164], (std::pair<int, int>{164, 165}));
    EXPECT_EQ(ui.progress.back(), (std::pair<int, int>{0, 0}));
    // Captures share one window until the display size changes.
    app->newWindowPerImage = 0;
    ASSERT_EQ(app->captureImage(), 1);
    ASSERT_EQ(app->captureImage(), 1);
    EXPECT_EQ(windows.opened, std::vector<std::string>{""});
    EXPECT_EQ(windows.retitled, (std::vector<std::string>{"Tarvi1-0001.bmp", "Tarvi1-0002.bmp"}));
    app->displaySize = 2.0;
    ASSERT_EQ(app->captureImage(), 1);
    EXPECT_EQ(windows.opened, (std::vector<std::string>{"", "Tarvi1-0001.bmp"}));
}

TEST_F(CaptureTest, EveryWaitOfACapturePaintsTheWindowsAndEscapeEndsItAtOnce)
{
    struct Case {
        const char* values;        // the settings line
        const char* escapeWhile;   // the pane-0 text at which Escape is typed; none: not typed
        int result;
        std::int64_t longestMs;    // how long the capture may take in all
        std::uint64_t exposures;   // started in the camera
    };
    const Case cases[] = {
        {"0 0 0 1 1 0 10 2 0 0 0 0 0 1 -1 -1 0", nullptr, 1, 20000, 1},
        {"0 0 0 1 1 0 10 2 0 0 0 0 0 1 -1 -1 0", "Exposure Delay - Seconds remaining:  2", 0, 1000, 0},
        {"0 0 0 1 1 0 10 2 0 0 0 0 0 1 -1 -1 0", "Exposure underway.  Seconds remaining:  7", 0, 6000, 1},
    };
    for (const Case& c : cases) {
        start(c.values);
        const std::string escapeWhile = c.escapeWhile != nullptr ? c.escapeWhile : "";
        ui.onLook = [&] { return InputSeen{.escapeTyped = ui.paneText(0) == escapeWhile}; };
        const std::int64_t started = clock.nowMs();
        EXPECT_EQ(app->captureImage(), c.result) << escapeWhile;
        EXPECT_LE(clock.nowMs() - started, c.longestMs) << escapeWhile;
        // Never more than a slice without a look for Escape.
        EXPECT_LE(*std::max_element(clock.sleeps.begin(), clock.sleeps.end()), 50) << escapeWhile;
        EXPECT_GE(ui.looks + ui.steps, static_cast<int>(clock.sleeps.size())) << escapeWhile;
        // A start whose acknowledgement comes late on a busy machine is sent
        // again: whether one began is the logic, not how many frames it took.
        EXPECT_EQ(camera->stats().exposuresStarted > 0, c.exposures > 0) << escapeWhile;
        EXPECT_EQ(std::filesystem::exists(dir.file("tarvitemp.bmp")), c.result == 1) << escapeWhile;
        if (c.result == 0) {
            EXPECT_EQ(paneTexts().back(), "Image capture TERMINATED");
        } else {
            EXPECT_EQ(paneTexts("Exposure underway.  Seconds remaining:  "),
                      (std::vector<std::string>{"10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "0"}));
        }
    }
}

// The PC also subtracts the constant, down to zero, and tells the camera to subtract nothing.
TEST_F(CaptureTest, DelayCountsDownWithASoundEachStepAndThePcSubtractsTheConstant)
{
    start("0 0 0 1 1 0 .5 3 0 10 0 0 0 1 -1 -1 0");
    ASSERT_EQ(app->captureImage(), 1);
    EXPECT_EQ(paneTexts("Exposure Delay - Seconds remaining:  "), (std::vector<std::string>{"3", "2", "1", "1", "1", "1", "1"}));
    const std::vector<std::int64_t> first(clock.waits.begin(), clock.waits.begin() + 7);
    EXPECT_EQ(first, (std::vector<std::int64_t>{1000, 1000, 200, 200, 200, 200, 200}));
    // Seven during the delay, one before the download, two at the end.
    EXPECT_EQ(ui.sounds.size(), 10u);
    EXPECT_EQ(ui.sounds.front(), dir.file("place.wav"));
    CTarviApp::Frame expected = sentFrame();
    for (auto& v : expected)
        v = std::uint8_t(std::max(0, v - 10));
    EXPECT_EQ(app->cameraImage, expected);
    EXPECT_EQ(camera->ram()[0x34], 0);
}

// The camera smooths and subtracts only when the PC does not.
TEST_F(CaptureTest, ModeByteFollowsTheSwitches)
{
    const std::pair<const char*, std::uint8_t> cases[] = {
        // smoothing, dark subtraction, work in the PC, compression
        {"0 0 0 0", 0xF0}, {"1 0 0 0", 0xF1}, {"0 1 0 0", 0xF4}, {"0 0 0 1", 0xF2}, {"1 1 0 1", 0xF7},
        {"1 1 1 0", 0xF0}, {"1 1 1 1", 0xF2}, {"0 1 1 1", 0xF2}, {"1 0 1 0", 0xF0},
    };
    for (const auto& [switches, mode] : cases) {
        start("0 " + std::string(switches) + " 0 .5 0 0 0 0 0 0 1 -1 -1 0");
        ASSERT_EQ(app->captureImage(), 1);
        EXPECT_EQ(modeSent(), mode) << switches;
    }
}

TEST_F(CaptureTest, APictureThatCannotBeWrittenOpensNoWindow)
{
    start();
    // A FITS copy that cannot be written is said, and the capture goes on.
    std::filesystem::create_directory(dir.file("zfits.fit"));
    EXPECT_EQ(app->captureImage(), 1);
    EXPECT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(windows.opened.size(), 1u);
    // A full disk: the picture of the last capture stays as it was, the
    // failure is said with the file's name, no "Image created", no window.
    const std::string before = test::readFile(dir.file("tarvitemp.bmp"));
    ui.statusTexts.clear();
    {
        const test::FileSizeLimit fullDisk(4096);
        EXPECT_EQ(app->captureImage(), 0);
    }
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[1].text, "Cannot write file " + dir.file("tarvitemp.bmp") + ":\n" + SysError(EFBIG).text());
    EXPECT_EQ(test::readFile(dir.file("tarvitemp.bmp")), before);
    const auto panes = paneTexts();
    EXPECT_EQ(std::count(panes.begin(), panes.end(), "Image created"), 0);
    // Nor does an autoshoot run or the dark frame get a window without it.
    std::filesystem::remove(dir.file("tarvitemp.bmp"));
    std::filesystem::create_directory(dir.file("tarvitemp.bmp"));
    app->newWindowPerImage = 0;
    int pumps = 0;
    ui.onLook = [&] { return InputSeen{.escapeTyped = ++pumps > 1000}; };
    app->autoShoot();
    app->showDarkFrame();
    EXPECT_EQ(ui.boxes.size(), 4u);
    EXPECT_EQ(windows.opened.size(), 1u);
    EXPECT_EQ(windows.retitled.size(), 0u);
    EXPECT_EQ(app->averagedFrameCount, 0);
}

TEST_F(CaptureTest, CameraThatStopsAnsweringDuringTheExposureIsGivenUpOnAfterTenReads)
{
    start();
    // The camera goes quiet once the exposure has begun.
    clock.onSleep = [&](std::int64_t) {
        if (ui.paneText(0) == "Begin exposure")
            camera->setSilent(true);
    };
    EXPECT_EQ(app->captureImage(), 0);
    // Each unanswered read of the mode byte says so; after the tenth the
    // capture gives up.
    std::vector<std::string> expected(10, "readRAM:  Failed to read RAM");
    expected.push_back("The camera did not finish the exposure.");
    ASSERT_EQ(ui.boxes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(ui.boxes[i].text, expected[i]) << i;
    EXPECT_EQ(paneTexts().back(), "Image capture TERMINATED");
    EXPECT_TRUE(windows.opened.empty());
    // A pause between the reads; the 30-second limit was never reached.
    const auto pauses = std::count(clock.waits.begin(), clock.waits.end(), std::int64_t{100});
    EXPECT_EQ(pauses, 9);
    EXPECT_LT(clock.nowMs() - 1000000, 30000);
    // One that answers but stays busy is given up on too.
    sim::CameraOptions slow = instant();
    slow.timeScale = 1e6;
    start("0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", slow);
    EXPECT_EQ(app->captureImage(), 0);
    EXPECT_EQ(ui.boxes.back().text, "The camera did not finish the exposure.");
    EXPECT_EQ(paneTexts().back(), "Image capture TERMINATED");
    EXPECT_TRUE(windows.opened.empty());
}

TEST_F(CaptureTest, ACameraLostDuringTheExposureIsOneMessageAndThePollEndsAtOnce)
{
    start("0 0 0 1 1 0 10 0 0 0 0 0 0 1 -1 -1 0");
    bool pulled = false;
    clock.onSleep = [&](std::int64_t) {
        if (!pulled && ui.paneText(0) == "Exposure underway.  Seconds remaining:  9") {
            pulled = true;
            camera->hangUp();
        }
    };
    const std::int64_t started = clock.nowMs();
    EXPECT_EQ(app->captureImage(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u) << ui.boxes[1].text;
    EXPECT_EQ(ui.boxes[0].text.rfind("com1 (sim:camera) is no longer there: ", 0), 0u) << ui.boxes[0].text;
    EXPECT_EQ(paneTexts().back(), "Image capture TERMINATED");
    // Eleven seconds of countdown, and no polling of a port known to be gone.
    EXPECT_EQ(clock.nowMs() - started, 11000);
    EXPECT_TRUE(windows.opened.empty());
    // The next capture opens the port afresh.
    camera->plugIn();
    ui.boxes.clear();
    EXPECT_EQ(app->captureImage(), 1);
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
}

// In the camera the dark frame stays there and the picture comes as
// downloaded; in the PC it is downloaded, shown, and loaded back from a file
// of the frame's size only.
TEST_F(CaptureTest, DarkFramesInTheCameraAndInThePc)
{
    start("0 0 1 0 1 0 .5 0 0 10 0 0 0 1 -1 -1 0");
    app->captureDarkFrame();
    EXPECT_EQ(paneTexts().back(), "Dark-frame exposure completed");
    for (const auto& frame : camera->receivedFrames())
        EXPECT_FALSE(frame.bytes.size() == 2 && frame.bytes[0] >= 0x40) << "no row was fetched";
    EXPECT_TRUE(std::all_of(app->darkFrame.begin(), app->darkFrame.end(), [](auto v) { return v == 0; }));
    ASSERT_EQ(app->captureImage(), 1);
    EXPECT_EQ(app->cameraImage, sentFrame());

    start("0 0 1 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0");
    app->captureDarkFrame();
    EXPECT_EQ(paneTexts().back(), "Dark image upload finished");
    EXPECT_EQ(app->darkFrame, sentFrame());
    app->showDarkFrame();
    EXPECT_EQ(windows.opened.size(), 1u);
    const CTarviApp::Frame taken = app->darkFrame;
    app->darkFrame.fill(0);
    app->loadDarkFrame(dir.file("tarvitemp.bmp"));
    EXPECT_EQ(app->darkFrame, taken);
    const std::vector<std::uint8_t> gray(100 * 100, 200);
    bmp small(ui);
    small.createFromGray(gray.data(), 100, 100);
    ASSERT_EQ(small.writeBmp(dir.file("small.bmp")), 1);
    app->loadDarkFrame(dir.file("small.bmp"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("192 x 165"), std::string::npos);
    EXPECT_EQ(app->darkFrame, taken);
}

// Each frame is saved until Escape or a failed capture; the frames taken so
// far are averaged into a window of their own.
TEST_F(CaptureTest, AutoshootSavesEachFrameUntilItIsStoppedAndShowsTheAverage)
{
    const struct {
        int escapeAtPump;     // counted in one-message pumps; 0: never
        int silentAtExposure; // the camera stops answering in this exposure; -1: never
        std::vector<std::string> saved, opened;
        std::size_t boxes;    // ten failed reads, then the give-up
        int averaged;
    } cases[] = {
        {2 * 165 + 10, -1, {"F-0001.bmp.fit", "F-0002.bmp.fit"}, {"F-0001.bmp", ""}, 0, 2},
        {0, 2, {"F-0001.bmp.fit"}, {"F-0001.bmp", ""}, 11, 1},
        {1, -1, {}, {}, 0, 0},  // Escape in the first download
    };
    for (const auto& c : cases) {
        start();
        app->newWindowPerImage = 0;
        app->autosaveFits = app->autosaveBmp = 1;
        app->fitsDirectory = dir.file("fits");
        app->bmpDirectory = dir.file("bmp");
        for (const auto& folder : {app->fitsDirectory, app->bmpDirectory}) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directory(folder);
        }
        int pumps = 0;
        int exposures = 0;
        ui.onLook = [&] {
            const bool downloading = ui.paneText(0).starts_with("Uploading image line");
            return InputSeen{.escapeTyped = downloading && ++pumps == c.escapeAtPump};
        };
        ui.onStatus = [&](int, const std::string& text) { exposures += text == "Begin exposure" ? 1 : 0; };
        clock.onSleep = [&](std::int64_t) {
            if (exposures == c.silentAtExposure)
                camera->setSilent(true);
        };
        app->autoShoot();
        std::vector<std::string> saved;
        for (const auto& entry : std::filesystem::directory_iterator(app->fitsDirectory))
            saved.push_back(entry.path().filename().string());
        std::sort(saved.begin(), saved.end());
        EXPECT_EQ(saved, c.saved) << "the stopped frame is not saved";
        EXPECT_EQ(std::filesystem::exists(dir.file("bmp/F-0001.bmp.bmp")), !c.saved.empty());
        EXPECT_EQ(windows.opened, c.opened);
        EXPECT_EQ(ui.boxes.size(), c.boxes);
        // The capture that ended the run said so and took its bar away.
        EXPECT_EQ(paneTexts("Image capture TERMINATED").size(), 1u);
        EXPECT_EQ(ui.progress.back(), (std::pair<int, int>{0, 0}));
        EXPECT_EQ(std::filesystem::exists(dir.file("tarvitemp.bmp")), c.averaged > 0);
        EXPECT_EQ(app->averagedFrameCount, c.averaged);
        if (c.averaged == 1) {
            EXPECT_EQ(app->averageImage, app->cameraImage);
        }
    }
}

TEST(AutosaveName, NumbersTheNextCapture)
{
    const std::pair<const char*, const char*> cases[] = {
        {"F-0001.bmp", "F-0002.bmp"}, {"M42", "M42-0001.bmp"}, {"M42-7", "M42-7-0001.bmp"}, {"", "-0001.bmp"},
        {"M42-0007.BMP", "M42-0008.bmp"}, {"X-9999.BMP", "X-10000.bmp"}, {"a-b-0041.bmp", "a-b-0042.bmp"},
        {"M42.BMP", "M42-0001.bmp"}, {"M42.Bmp", "M42-0001.bmp"},
        // At the top of the number's range a new count starts.
        {"M42-9223372036854775806.bmp", "M42-9223372036854775807.bmp"},
        {"M42-9223372036854775807.bmp", "M42-9223372036854775807-0001.bmp"},
        {"M42-99999999999999999999.bmp", "M42-99999999999999999999-0001.bmp"},
    };
    for (const auto& [name, next] : cases)
        EXPECT_EQ(nextAutosaveName(name), next);
}

// With the setting on, zfits.fit tells when, how long and where, as cfitsio
// reads it; with it off the file is exactly what it always was.
TEST_F(CaptureTest, ObservationKeywordsRecordTheExposureAndThePointing)
{
    start("0 0 0 1 1 0 2.5 0 0 0 0 0 0 1 -1 -1 0");
    sim::TelescopeOptions options;
    options.position = sim::EquatorialPosition{5.0 + 35.0 / 60 + 17.0 / 3600, -(5.0 + 23.0 / 60 + 28.0 / 3600)};
    options.longFormat = true;
    sim::TelescopeSimulator telescope(options);
    telescope.start();
    opener.setSimulatorHook([&](const std::string& name) {
        return name == "camera" ? camera->slavePath() : telescope.slavePath();
    });
    app->portMap.setDevice(1, "sim:telescope");

    // The picture as Tarvi writes it without the keywords, in today.fit.
    const auto plainFits = [&] {
        bmp plain(ui);
        plain.createFromGray(app->cameraImage.data(), CTarviApp::frameWidth, CTarviApp::frameHeight);
        EXPECT_EQ(plain.writeFits(dir.file("today.fit")), 1);
        return test::readFile(dir.file("today.fit"));
    };
    ASSERT_EQ(app->captureImage(), 1);
    EXPECT_EQ(test::readFile(dir.file("zfits.fit")), plainFits());

    app->observationKeywords = true;
    app->objectName = [] { return std::string("M42"); };
    ASSERT_EQ(app->openTelescopePort(), 1);
    std::time_t begun = 0;
    ui.onStatus = [&](int, const std::string& text) { begun = text == "Begin exposure" ? clock.nowSeconds() : begun; };
    ASSERT_EQ(app->captureImage(), 1);

    fitsfile* file = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_file(&file, dir.file("zfits.fit").c_str(), READONLY, &status), 0);
    const auto text = [&](const char* key) {
        char value[FLEN_VALUE] = "";
        fits_read_key(file, TSTRING, key, value, nullptr, &status);
        return std::string(value);
    };
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", std::gmtime(&begun));
    const std::pair<const char*, std::string> keys[] = {{"DATE-OBS", date}, {"IMAGETYP", "Light Frame"},
        {"INSTRUME", "ST-4"}, {"OBJCTRA", "05:35:17"}, {"OBJCTDEC", "-05:23:28"}, {"OBJECT", "M42"}};
    for (const auto& [key, value] : keys)
        EXPECT_EQ(text(key), value) << key;
    char type = 0, value[FLEN_VALUE] = "";
    double seconds = 0;
    fits_read_keyword(file, "EXPTIME", value, nullptr, &status);
    fits_get_keytype(value, &type, &status);
    fits_read_key(file, TDOUBLE, "EXPTIME", &seconds, nullptr, &status);
    EXPECT_EQ(type, 'F');
    EXPECT_DOUBLE_EQ(seconds, 2.5);
    EXPECT_EQ(status, 0);
    fits_close_file(file, &status);

    // Only the header differs from the file without them, and Tarvi reads
    // the picture as before.
    EXPECT_EQ(test::readFile(dir.file("zfits.fit")).substr(2880), plainFits().substr(2880));
    bmp keyed(ui), unkeyed(ui);
    ASSERT_EQ(keyed.readFits(dir.file("zfits.fit"), 1.0, 1.0), 1);
    ASSERT_EQ(unkeyed.readFits(dir.file("today.fit"), 1.0, 1.0), 1);
    const auto pixels = [](const bmp& image) {
        const auto& buffer = image.record()->pixels;
        return std::vector<std::uint8_t>(buffer.data(), buffer.data() + buffer.size());
    };
    EXPECT_EQ(pixels(keyed), pixels(unkeyed));
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
}

}  // namespace
}  // namespace tarvi
