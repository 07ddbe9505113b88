// The camera's link and the port routines under it, on scripted ports: every
// byte the program writes and every way the camera or telescope answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"
#include "platform/device_opener.h"
#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::Bytes;

// The camera's side of the line: answers only at its own speed, acknowledges
// RAM writes, answers RAM reads and row requests.
struct FakeCamera {
    std::shared_ptr<test::PortScript> port;
    std::uint32_t baud = 57600;
    std::array<std::uint8_t, 256> ram{};
    bool followsDivisor = true;
    bool acksDivisor = true;  // acknowledges the speed frame
    // The payload the camera sends for a row.
    std::function<Bytes(int row)> payload = [](int row) { return Bytes(192, std::uint8_t(row)); };
    // Changes a row frame on its way (a noisy line).
    std::function<std::vector<Bytes>(Bytes frame)> line = [](Bytes frame) { return std::vector<Bytes>{frame}; };

    void operator()(const Bytes& w)
    {
        if (port->current.baud != baud || port->current.parity != Parity::even)
            return;
        if (w.size() >= 7 && w[0] == 0x01 && checksumOk(w.data(), int(w.size()))) {
            if (w[3] == 0x38 && !acksDivisor)
                return;
            const int n = w[1] - 3;
            std::copy_n(w.begin() + 5, n, ram.begin() + w[3]);
            port->arrive({0x06});
            if (w[3] == 0x38 && followsDivisor) {
                const auto at = std::find(st4::divisors.begin(), st4::divisors.end(), w[5]);
                baud = st4::baudRates[std::size_t(at - st4::divisors.begin())];
            }
        } else if (w.size() == 6 && w[0] == 0x02 && checksumOk(w.data(), 6)) {
            Bytes reply{0x02, 0x00};
            for (int i = 0; i < w[1]; ++i)
                reply.push_back(ram[std::size_t(w[3] + i)]);
            reply.push_back(0);
            setChecksum(reply.data(), int(reply.size()));
            port->arrive(reply);
        } else if (w.size() == 2 && w[0] == w[1] && w[0] >= 0x40) {
            const Bytes data = payload(w[0] - 0x40);
            Bytes frame{w[0], std::uint8_t(data.size())};
            frame.insert(frame.end(), data.begin(), data.end());
            frame.push_back(0);
            setChecksum(frame.data(), int(frame.size()));
            for (auto& burst : line(frame))
                port->arrive(burst);
        }
    }
};

class CameraLinkTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    test::FakeClock clock;
    test::ScriptedOpener opener;
    std::unique_ptr<CTarviApp> app;
    std::shared_ptr<test::PortScript> port = opener.add("/dev/ttyS0");
    FakeCamera camera{port};

    // A fresh program and camera line; the ini holds the settings line.
    void start(const std::string& values = "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0")
    {
        app.reset();
        ui = test::FakeUi{};
        *port = test::PortScript{};
        camera = FakeCamera{port};
        test::writeFile(dir.file("tarvi.ini"), "[st4Settings150]\nValues=" + values + "\n");
        app = std::make_unique<CTarviApp>(ui, clock, dir.path());
        app->setPortOpener(&opener);
        app->log = [](const std::string&) {};
        port->current.baud = 9600;
        port->device = [this](const Bytes& written) { camera(written); };
        camera.ram[0x37] = 3;
    }
    void connect()
    {
        ASSERT_EQ(app->openCameraPort(), 1);
        port->writes.clear();
        port->readSizes.clear();
        ui.boxes.clear();
    }
    std::string savedLine() const
    {
        const std::string text = test::readFile(dir.file("tarvi.ini"));
        const auto at = text.find("Values=");
        return text.substr(at + 7, text.find('\n', at) - at - 7);
    }
};

TEST_F(CameraLinkTest, SettingsGoOutInFiveAcknowledgedFrames)
{
    start("1 0 0 1 1 3 2.5 0 17 99 0 0 0 1 -1 -1 0");
    connect();
    ASSERT_EQ(app->sendCameraSettings(), 1);
    EXPECT_EQ(port->writes, (std::vector<Bytes>{
                                {0x01, 0x04, 0x01, 0x2F, 0x00, 0x60, 0x95},        // anti-blooming on
                                {0x01, 0x04, 0x01, 0x35, 0x00, 63, 0x7A},          // gain 4x
                                {0x01, 0x05, 0x01, 0x30, 0x00, 250, 0x00, 0x31},   // 2.5 s
                                {0x01, 0x04, 0x01, 0x36, 0x00, 17, 0x4D},          // baseline
                                {0x01, 0x04, 0x01, 0x34, 0x00, 0, 0x3A},           // constant: in the PC
                            }));
    app->settings.operationsInPC = 0;
    port->writes.clear();
    ASSERT_EQ(app->sendCameraSettings(), 1);
    EXPECT_EQ(port->writes.back(), (Bytes{0x01, 0x04, 0x01, 0x34, 0x00, 99, 0x9D}));
}

// The speed search: the speed in use first, then the others, 22 tries each;
// a camera found elsewhere is set to the wanted speed and the PC follows it.
TEST_F(CameraLinkTest, ConnectingSearchesTheSpeedsAndSetsTheWantedOne)
{
    const std::string noAnswer = "Cannot open camera port com1\n/dev/ttyS0: no answer at any speed";
    const std::string notThere = "Cannot open/setup camera port com3\n/dev/ttyS2: " + std::string(std::strerror(ENOENT));
    const std::vector<std::string> unchanged = {"readRAM:  Failed to read RAM",
        "Can not change baud rate...\nNOTE if the ST-4 power was interrupted, it reverted to 9600 Baud.  "
        "You should changeto 9600 Baud, then change to other speeds."};
    const struct {
        const char* what;
        const char* values;     // wanted speed (12th), speed in use (13th), camera port (11th)
        std::uint32_t cameraAt;
        bool follows;           // the camera takes the divisor it is sent
        int opened;
        std::vector<std::string> boxes;
        std::string pane;       // pane 1: speed and version
        std::uint32_t lineAt;   // the PC's speed afterwards
        int inUse;
        std::uint8_t divisor;   // the camera's RAM 0x38; 0: never written
        long probes;            // the first frame's tries
        std::uint32_t readMs, writeMs;  // the time-outs' constants; 0: not checked
        const char* saved;      // the settings line in the ini; nullptr: not checked
    } cases[] = {
        {"at the speed in use", "0 0 0 1 1 0 .5 0 0 0 0 1 1 1 -1 -1 0", 19200, true, 1, {},
         "Baud rate: 19.2K.  ST-4 Version:  3", 19200, 1, 0xFD, 1, 100, 300, nullptr},
        // Two probes go unanswered at 57600 before 9600.
        {"after a power cut", "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", 9600, true, 1, {},
         "Baud rate: 56.6K.  ST-4 Version:  3", 57600, 0, 0xFF, 45, 15, 15, "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 1 -1 0"},
        {"never answers", "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0", 4800, true, 0, {noAnswer},
         "", 57600, 2, 0, 66, 0, 0, "0 0 0 1 1 0 0.500000 0 0 0 0 0 2 1 -1 -1 0"},
        {"port not there", "0 0 0 1 1 0 .5 0 0 0 2 0 0 1 -1 -1 0", 57600, true, 0, {notThere},
         "", 9600, 0, 0, 0, 0, 0, "0 0 0 1 1 0 0.500000 0 0 0 2 0 0 1 -1 -1 0"},
        // The PC side stays where it followed the camera to.
        {"speed not changed", "0 0 0 1 1 0 .5 0 0 0 0 1 2 1 -1 -1 0", 9600, false, 1, unchanged,
         "Baud rate: 9600.  ST-4 Version:  0", 19200, 2, 0xFD, 1, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start(c.values);
        camera.baud = c.cameraAt;
        camera.followsDivisor = c.follows;
        EXPECT_EQ(app->openCameraPort(), c.opened);
        EXPECT_EQ(ui.boxTexts(), c.boxes);
        EXPECT_EQ(ui.paneText(1), c.pane);
        EXPECT_EQ(ui.paneText(0), "");
        EXPECT_EQ(port->current.baud, c.lineAt);
        EXPECT_EQ(app->settings.cameraSpeedInUse, c.inUse);
        EXPECT_EQ(camera.ram[0x38], c.divisor);
        EXPECT_EQ(port->writes.empty() ? 0 : std::count(port->writes.begin(), port->writes.end(), port->writes.front()),
                  c.probes);
        EXPECT_EQ(port->closed, c.opened == 0 && c.probes > 0);
        EXPECT_EQ(app->settings.cameraHandle != -1, c.opened == 1);
        EXPECT_EQ(app->quietComm, c.opened);
        EXPECT_TRUE(c.readMs == 0 || port->timeouts.readTotalConstant == c.readMs);
        EXPECT_TRUE(c.writeMs == 0 || port->timeouts.writeTotalConstant == c.writeMs);
        if (c.saved != nullptr) {
            EXPECT_EQ(savedLine(), c.saved);
        }
        if (c.opened == 1) {
            EXPECT_EQ(ui.statusTexts.front(),
                      (std::pair<int, std::string>{0, "Please Wait.  Establishing camera communications"}));
            // Connected: the next camera command costs nothing.
            const auto writes = port->writes.size();
            EXPECT_EQ(app->openCameraPort(), 1);
            EXPECT_EQ(port->writes.size(), writes);
        }
    }

    // A camera that does not acknowledge the speed frame: nothing more is said,
    // the port stays open at the speed that answered, and the connection fails.
    start("0 0 0 1 1 0 .5 0 0 0 0 0 1 1 -1 -1 0");
    camera.baud = 19200;
    camera.acksDivisor = false;
    EXPECT_EQ(app->openCameraPort(), 0);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(ui.paneText(0), "");
    EXPECT_FALSE(port->closed);
    EXPECT_EQ(port->current.baud, 19200u);
    EXPECT_EQ(app->settings.cameraSpeedInUse, 1);
    EXPECT_EQ(camera.ram[0x38], 0);
}

// A RAM reply is taken only whole and good, in at most two reads; a request
// that goes out short without an error is said, and the reply still taken.
TEST_F(CameraLinkTest, ReadRamAcceptsOnlyAWholeGoodReply)
{
    const std::string failed = "readRAM:  Failed to read RAM";
    const struct {
        const char* what;
        std::vector<Bytes> bursts;
        int result;
        std::size_t writeLimit = SIZE_MAX;
        std::string box = "";
    } cases[] = {
        {"whole", {{0x02, 0x99, 0x30, 0xCB}}, 1},
        {"in two bursts", {{0x02, 0x99}, {0x30, 0xCB}}, 1},
        {"late", {{}, {0x02, 0x99, 0x30, 0xCB}}, 1},
        {"too late", {{}, {}, {0x02, 0x99, 0x30, 0xCB}}, 0, SIZE_MAX, failed},
        {"in three bursts", {{0x02}, {0x99}, {0x30, 0xCB}}, 0, SIZE_MAX, failed},
        {"bad checksum", {{0x02, 0x99, 0x30, 0xCC}}, 0, SIZE_MAX, failed},
        {"wrong first byte", {{0x03, 0x99, 0x30, 0xCC}}, 0, SIZE_MAX, failed},
        {"too long", {{0x02, 0x99, 0x30, 0x00, 0xCB}}, 0, SIZE_MAX, failed},
        {"nothing", {}, 0, SIZE_MAX, failed},
        {"request goes out short", {{0x02, 0x99, 0x30, 0xCB}}, 1, 0, "readRAM:  Write to camera operation failed..."},
    };
    start();
    connect();
    port->device = nullptr;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        port->writes.clear();
        port->arrivals.clear();
        port->writeLimit = c.writeLimit;
        ui.boxes.clear();
        for (const auto& burst : c.bursts)
            port->arrive(burst);
        std::uint8_t value = 0;
        EXPECT_EQ(app->readRAM(0x2E, 1, &value), c.result);
        const Bytes request{0x02, 0x01, 0x01, 0x2E, 0x00, 0x32};
        EXPECT_EQ(port->writes, std::vector<Bytes>{Bytes(request.begin(), request.begin() + std::min(6ul, c.writeLimit))});
        EXPECT_TRUE(c.result == 0 || value == 0x30);
        ASSERT_EQ(ui.boxes.size(), c.box.empty() ? 0u : 1u);
        EXPECT_TRUE(c.box.empty() || ui.boxes[0].text == c.box) << ui.boxes[0].text;
    }
}

// A row comes as two bytes telling its length, then exactly the rest; late
// pieces are collected by later passes (four in all), a frame that fails its
// checksum fails the row without reading past it, and bytes left from an
// earlier reply are thrown away first. The request goes out once a row.
TEST_F(CameraLinkTest, RowDownloadsTakeOnlyAWholeGoodFrame)
{
    using Line = std::function<std::vector<Bytes>(Bytes)>;
    const auto silences = [](int n) { return [n](Bytes frame) { std::vector<Bytes> b(n); b.push_back(frame); return b; }; };
    const struct {
        const char* what;
        Line line;
        int result;
        std::vector<std::size_t> readSizes;  // none: not checked
        std::size_t stale = 0;               // bytes of an earlier reply waiting
        // The row before failed: its reply may still come, so the line is
        // read until quiet before the request.
        bool quietFirst = false;
    } cases[] = {
        {"raw", nullptr, 1, {2, 193}},
        {"four pieces with silences between",
         [](Bytes f) { return std::vector<Bytes>{Bytes(f.begin(), f.begin() + 1), {}, Bytes(f.begin() + 1, f.begin() + 100), {}, {},
                                                 Bytes(f.begin() + 100, f.end())}; }, 1, {}},
        {"good in the fourth pass", silences(6), 1, {}},
        {"not in four passes", silences(8), 0, {}},
        {"corrupt byte", [](Bytes f) { f[50] ^= 0x01; return std::vector<Bytes>{f}; }, 0, {2, 193}, 0, true},
        // A corrupted length byte ends the frame early; it fails its checksum.
        {"corrupt length", [](Bytes f) { f[1] = 4; return std::vector<Bytes>{f}; }, 0, {2, 5}, 0, true},
        {"stale bytes first", nullptr, 1, {}, 120, true},
        {"after a good row", nullptr, 1, {2, 193}},
    };
    start();
    connect();
    const Line asSent = camera.line;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        camera.line = c.line ? c.line : asSent;
        port->writes.clear();
        port->readSizes.clear();
        port->discards = 0;
        if (c.stale != 0)
            port->arrive(Bytes(c.stale, 0x5A));
        std::array<std::uint8_t, 192> row{};
        EXPECT_EQ(app->downloadRow(7, row.data()), c.result);
        EXPECT_EQ(port->writes, (std::vector<Bytes>{{0x47, 0x47}}));
        EXPECT_TRUE(c.result == 0 || std::all_of(row.begin(), row.end(), [](auto v) { return v == 7; }));
        std::vector<std::size_t> sizes = port->readSizes;
        const auto quietReads = std::erase(sizes, std::size_t(st4::largestRowFrame));
        EXPECT_EQ(quietReads > 0, c.quietFirst);
        EXPECT_TRUE(c.readSizes.empty() || sizes == c.readSizes);
        EXPECT_EQ(port->discards, c.stale != 0 ? 1 : port->discards);
        EXPECT_TRUE(ui.boxes.empty()) << "a failed row is the caller's to report";
    }
    camera.line = asSent;
    camera.payload = [](int) { return Bytes{0x64, 0x21, 0x00}; };
    port->readSizes.clear();
    std::array<std::uint8_t, 192> row{};
    ASSERT_EQ(app->downloadRow(0, row.data()), 1);
    EXPECT_EQ((std::array{row[0], row[1], row[2]}), (std::array<std::uint8_t, 3>{0x64, 0x65, 0x67}));
    EXPECT_EQ(port->readSizes, (std::vector<std::size_t>{2, 4}));
}

// A stop flag left in the ini fails the first row and is cleared; Escape
// typed during a row raises the stop request; a request that cannot be
// written fails the row and says so.
TEST_F(CameraLinkTest, RowDownloadsStopOnTheSavedFlagAndOnEscapeAndFailOnAShortRequest)
{
    start("0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 1");
    ASSERT_EQ(app->settings.downloadStop, 1);
    connect();
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(0, row.data()), 0);
    EXPECT_EQ(app->settings.downloadStop, 0);
    EXPECT_TRUE(port->readSizes.empty());
    ui.onLook = [] { return InputSeen{.escapeTyped = true}; };
    EXPECT_EQ(app->downloadRow(0, row.data()), 1);
    EXPECT_EQ(app->stopRequested, 1);
    port->writeLimit = 1;
    EXPECT_EQ(app->downloadRow(12, row.data()), 0);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "writeCamera:  Write to camera operation failed...");
    EXPECT_EQ(ui.boxes[1].text, "Image download failed - Row 12");
}

// The port routines under the link: no camera answers unless a test says
// so, and the camera's line was left 2400 baud, odd parity, hardware flow
// and cooked by a terminal program.
class SerialRoutinesTest : public CameraLinkTest {
protected:
    std::vector<std::string> logged;
    std::shared_ptr<test::PortScript> telescope = opener.add("/dev/ttyS1");

    void SetUp() override
    {
        start();
        app->log = [this](const std::string& line) { logged.push_back(line); };
        port->device = nullptr;
        port->current.baud = 2400;
        port->current.parity = Parity::odd;
        port->current.hardwareFlow = true;
        port->current.binary = false;
        port->timeouts = {7, 8, 9, 10, 11};
    }

    // Opens the camera port as a connection would, without talking to it.
    void openCamera()
    {
        app->settings.cameraHandle = app->ports.add(opener.open("/dev/ttyS0").port);
    }
};

// The camera line is eight bits, even parity, one stop bit, no flow control.
TEST_F(SerialRoutinesTest, EachPortIsSetToItsDevicesLine)
{
    openCamera();
    EXPECT_EQ(app->configurePort(CTarviApp::cameraPortSelector, 1), 1);
    ASSERT_EQ(port->lineSettingsSet.size(), 1u);
    const LineSettings& set = port->lineSettingsSet[0];
    EXPECT_TRUE(set.baud == 19200u && set.binary && set.dataBits == 8 && set.parity == Parity::even && set.parityCheck &&
                set.stopBits == 1);
    EXPECT_FALSE(set.hardwareFlow || set.softwareFlow || set.dtrOn || set.rtsOn);
    // Only the two total constants change.
    const PortTimeouts& t = port->timeouts;
    EXPECT_EQ((std::array{t.readInterval, t.readTotalMultiplier, t.readTotalConstant, t.writeTotalMultiplier,
                          t.writeTotalConstant}), (std::array<std::uint32_t, 5>{7, 8, 100, 10, 300}));
    EXPECT_TRUE(ui.boxes.empty());
    // The telescope line: 9600 baud, no parity.
    app->settings.telescopeHandle = app->ports.add(opener.open("/dev/ttyS1").port);
    telescope->current.baud = 4800;
    EXPECT_EQ(app->configurePort(CTarviApp::telescopePortSelector, 2), 1);
    EXPECT_EQ(telescope->current.baud, 9600u);
    EXPECT_EQ(telescope->current.parity, Parity::none);
    // A speed index outside the table leaves the rate alone.
    EXPECT_EQ(app->configurePort(CTarviApp::telescopePortSelector, 7), 1);
    EXPECT_EQ(telescope->current.baud, 9600u);
    EXPECT_EQ(app->configurePort(5, 2), 0);
}

TEST_F(SerialRoutinesTest, ClosingRestoresTheLineAsItWasBeforeTheLastConfigureAndSaves)
{
    openCamera();
    app->configurePort(CTarviApp::cameraPortSelector, 0);
    app->configurePort(CTarviApp::cameraPortSelector, 2);
    std::filesystem::remove(app->iniPath);
    app->closePort(CTarviApp::cameraPortSelector);
    EXPECT_TRUE(port->closed);
    EXPECT_EQ(app->settings.cameraHandle, -1);
    // The kept copy is what the second configure found: the first one's line.
    EXPECT_EQ(port->current.baud, 57600u);
    EXPECT_EQ(port->timeouts.readTotalConstant, 100u);
    EXPECT_NE(test::readFile(app->iniPath).find("Values=0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0\n"),
              std::string::npos);

    // A closed port is left alone and nothing is saved.
    std::filesystem::remove(app->iniPath);
    app->closePort(CTarviApp::cameraPortSelector);
    EXPECT_FALSE(std::filesystem::exists(app->iniPath));
}

TEST_F(SerialRoutinesTest, RefusedSettingsAndAHeldLineAreReported)
{
    openCamera();
    port->failQueueSizes = true;
    port->failLineSettings = true;
    EXPECT_EQ(app->configurePort(CTarviApp::cameraPortSelector, 0), 0);
    ASSERT_EQ(ui.boxes.size(), 2u);
    for (const auto& box : ui.boxes) {
        EXPECT_EQ(box.text, "Serial Port SetupComm function call failed.");
        EXPECT_EQ(box.caption, "info");
        EXPECT_TRUE(box.style.setForeground);
    }
    port->failQueueSizes = port->failLineSettings = false;
    port->ctsHold = true;
    EXPECT_EQ(app->configurePort(CTarviApp::cameraPortSelector, 0), 0);
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_EQ(ui.boxes[2].text, "Serial Port waiting for CTS.  Download cancelled.  Check connection.");
}

TEST_F(SerialRoutinesTest, TelescopeIsProbedWithGetSiderealTime)
{
    telescope->device = [this](const Bytes&) { telescope->arrive({'0', '3', ':', '1', '2', ':', '4', '4', '#'}); };
    int rebuilt = 0;
    app->telescopeReopened = [&](bool afterLoss) {
        EXPECT_FALSE(afterLoss);
        ++rebuilt;
    };
    EXPECT_EQ(app->openTelescopePort(), 1);
    EXPECT_EQ(telescope->writes, (std::vector<Bytes>{{':', 'G', 'S', '#'}}));
    EXPECT_EQ(telescope->current.baud, 9600u);
    EXPECT_EQ(app->quietComm, 0) << "the camera's alone";
    EXPECT_NE(app->settings.telescopeHandle, -1);
    EXPECT_EQ(rebuilt, 1);
    ASSERT_GE(ui.statusTexts.size(), 2u);
    EXPECT_EQ(ui.statusTexts.front(),
              (std::pair<int, std::string>{Ui::telescopePane, "Please Wait.  Establishing telescope communications"}));
    EXPECT_EQ(ui.statusTexts.back(), (std::pair<int, std::string>{Ui::telescopePane, ""}));

    // Already open: nothing is opened or sent again.
    EXPECT_EQ(app->openTelescopePort(), 1);
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
    app->telescopeReopened = [&](bool) { ++rebuilt; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        ui.boxes.clear();
        logged.clear();
        app->settings.telescopePort = c.port;
        *telescope = test::PortScript{};
        opener.refusals.clear();
        if (c.refusal == EACCES)
            opener.refusals = {{"/dev/ttyS1", EACCES}};
        EXPECT_EQ(app->openTelescopePort(), 0);
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, c.box);
        EXPECT_EQ(ui.boxes[0].caption, "Tarvi");
        EXPECT_EQ(app->settings.telescopeHandle, -1);
        EXPECT_EQ(telescope->closed, c.refusal == 0);
        EXPECT_EQ(rebuilt, 0);
        if (c.refusal != 0) {
            ASSERT_EQ(logged.size(), 1u);
            EXPECT_NE(logged[0].find(std::strerror(c.refusal)), std::string::npos);
        }
        std::filesystem::remove(app->iniPath);
        app->closePort(CTarviApp::telescopePortSelector);
        EXPECT_FALSE(std::filesystem::exists(app->iniPath));
    }
    // The camera's port the same; another reason is given without the hint.
    for (const int refusal : {EACCES, EBUSY}) {
        opener.refusals = {{"/dev/ttyS0", refusal}};
        EXPECT_EQ(app->openCameraPort(), 0);
        const std::string hint = refusal == EACCES ? "\n\n" + permissionAdvice("/dev/ttyS0") : "";
        EXPECT_EQ(ui.boxes.back().text, "Cannot open/setup camera port com1\n/dev/ttyS0: " + std::string(strerror(refusal)) + hint);
    }
}

TEST_F(SerialRoutinesTest, TelescopeRepliesLoseTheirLastByte)
{
    const int handle = app->ports.add(opener.open("/dev/ttyS1").port);
    std::uint8_t buffer[32];
    telescope->arrive({'+', '4', '5', '*', '1', '2', '#'});
    EXPECT_EQ(app->readTelescope(handle, buffer, sizeof buffer), 7);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "+45*12");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(app->readTelescope(handle, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 0);
    // Bytes past the capacity wait for the next read.
    telescope->arrive({'1', '2', '3', '4', '5', '#'});
    EXPECT_EQ(app->readTelescope(handle, buffer, 4), 4);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "123");
    EXPECT_EQ(app->readTelescope(handle, buffer, 4), 2);
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
    app->quietComm = 1;
    const Bytes frame{0x01, 0x04, 0x01, 0x2F, 0x00, 0x20, 0x55};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        port->writes.clear();
        port->writeLimit = c.writeLimit;
        port->device = [&](const Bytes&) {
            if (port->writes.size() <= c.replies.size())
                port->arrive(c.replies[port->writes.size() - 1]);
        };
        EXPECT_EQ(app->writeCamera(frame.data(), 7), c.result);
        ASSERT_EQ(port->writes.size(), c.writes);
        for (const auto& written : port->writes)
            EXPECT_EQ(written, Bytes(frame.begin(), frame.begin() + long(std::min<std::size_t>(7, c.writeLimit))));
        EXPECT_TRUE((c.writes == 1 && c.result == 0) || port->readSizes.back() == 1000u);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST_F(SerialRoutinesTest, ShortTelescopeWriteAsksToRetry)
{
    const int handle = app->ports.add(opener.open("/dev/ttyS1").port);
    telescope->writeLimit = 2;
    ui.answers = {Answer::retry, Answer::cancel};
    const Bytes command{':', 'G', 'R', '#'};
    EXPECT_EQ(app->writeTelescope(handle, command.data(), 4), 0);
    EXPECT_EQ(telescope->writes.size(), 2u);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "writeCamera:  Retrying failed write to telescope...");
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::retryCancel);
    telescope->writeLimit = SIZE_MAX;
    EXPECT_EQ(app->writeTelescope(handle, command.data(), 4), 1);
}

TEST_F(SerialRoutinesTest, PortThatGoesAwayIsReportedOnceAndOpenedAfreshNextTime)
{
    openCamera();
    port->deviceError = EIO;
    std::uint8_t buffer[8];
    EXPECT_EQ(app->readCamera(buffer, 8), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "com1 (/dev/ttyS0) is no longer there: " + std::string(std::strerror(EIO)));
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_EQ(app->settings.cameraHandle, -1);
    EXPECT_EQ(ui.paneText(1), "") << "the camera's speed and version went with it";
    // Nothing more is said about the lost port.
    EXPECT_EQ(app->readCamera(buffer, 8), 0);
    const Bytes frame{0x40, 0x40};
    EXPECT_EQ(app->writeCameraRaw(frame.data(), 2), 0);
    EXPECT_EQ(ui.boxes.size(), 1u);
}
}  // namespace
}  // namespace tarvi
