#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"
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
    // The payload the camera sends for a row.
    std::function<Bytes(int row)> payload = [](int row) { return Bytes(192, std::uint8_t(row)); };
    // Changes a row frame on its way (a noisy line).
    std::function<std::vector<Bytes>(Bytes frame)> line = [](Bytes frame) { return std::vector<Bytes>{frame}; };

    void operator()(const Bytes& w)
    {
        if (port->current.baud != baud || port->current.parity != Parity::even)
            return;
        if (w.size() >= 7 && w[0] == 0x01 && checksumOk(w.data(), int(w.size()))) {
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

    void start(const std::string& values = "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0")
    {
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

TEST_F(CameraLinkTest, ConnectsAtTheSpeedInUseFirst)
{
    start("0 0 0 1 1 0 .5 0 0 0 0 1 1 1 -1 -1 0");
    camera.baud = 19200;
    ASSERT_EQ(app->openCameraPort(), 1);
    EXPECT_EQ(port->current.baud, 19200u);
    EXPECT_EQ(ui.paneText(1), "Baud rate: 19.2K.  ST-4 Version:  3");
    EXPECT_EQ(ui.paneText(0), "");
    EXPECT_EQ(ui.statusTexts.front(), (std::pair<int, std::string>{0, "Please Wait.  Establishing camera communications"}));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(camera.ram[0x38], 0xFD);
    EXPECT_EQ(port->timeouts.readTotalConstant, 100u);
    // Connected: the next camera command costs nothing.
    const auto writes = port->writes.size();
    EXPECT_EQ(app->openCameraPort(), 1);
    EXPECT_EQ(port->writes.size(), writes);
}

TEST_F(CameraLinkTest, AfterAPowerCutTheCameraIsFoundAtNineThousandSixHundredAndSetToTheWantedSpeed)
{
    start("0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0");
    camera.baud = 9600;  // the power cut put it back to 9600
    ASSERT_EQ(app->openCameraPort(), 1);
    EXPECT_EQ(camera.ram[0x38], 0xFF);
    EXPECT_EQ(camera.baud, 57600u);
    EXPECT_EQ(port->current.baud, 57600u);
    EXPECT_EQ(app->settings.cameraSpeedInUse, 0);
    EXPECT_EQ(ui.paneText(1), "Baud rate: 56.6K.  ST-4 Version:  3");
    // At 57600 baud both time-outs are short.
    EXPECT_EQ(port->timeouts.readTotalConstant, 15u);
    EXPECT_EQ(port->timeouts.writeTotalConstant, 15u);
    // Two probes went unanswered at 57600 (22 tries each) before 9600.
    const auto firstFrame = port->writes.front();
    EXPECT_EQ(std::count(port->writes.begin(), port->writes.end(), firstFrame), 45);
    EXPECT_EQ(savedLine(), "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 1 -1 0");
}

TEST_F(CameraLinkTest, CameraThatNeverAnswersClosesThePort)
{
    start();
    camera.baud = 4800;
    EXPECT_EQ(app->openCameraPort(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot open camera port com1\n/dev/ttyS0: no answer at any speed");
    EXPECT_EQ(app->settings.cameraHandle, -1);
    EXPECT_EQ(app->quietComm, 0);
    EXPECT_TRUE(port->closed);
    EXPECT_EQ(port->writes.size(), 66u);
    EXPECT_EQ(app->settings.cameraSpeedInUse, 2);
    EXPECT_EQ(savedLine(), "0 0 0 1 1 0 0.500000 0 0 0 0 0 2 1 -1 -1 0");
}

TEST_F(CameraLinkTest, PortThatCannotBeOpenedSaysSoAndSaves)
{
    start("0 0 0 1 1 0 .5 0 0 0 2 0 0 1 -1 -1 0");
    EXPECT_EQ(app->openCameraPort(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot open/setup camera port com3\n/dev/ttyS2: " + std::string(std::strerror(ENOENT)));
    EXPECT_EQ(ui.paneText(0), "");
    EXPECT_EQ(savedLine(), "0 0 0 1 1 0 0.500000 0 0 0 2 0 0 1 -1 -1 0");
}

TEST_F(CameraLinkTest, CameraThatDoesNotChangeSpeedIsReported)
{
    start("0 0 0 1 1 0 .5 0 0 0 0 1 2 1 -1 -1 0");
    camera.baud = 9600;
    camera.followsDivisor = false;
    EXPECT_EQ(app->openCameraPort(), 1);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "readRAM:  Failed to read RAM");
    EXPECT_EQ(ui.boxes[1].text,
              "Can not change baud rate...\nNOTE if the ST-4 power was interrupted, it reverted to 9600 Baud.  "
              "You should changeto 9600 Baud, then change to other speeds.");
    EXPECT_EQ(app->settings.cameraSpeed, 2);
    EXPECT_EQ(app->settings.cameraSpeedInUse, 2);
    // The PC side stays where it followed the camera to.
    EXPECT_EQ(port->current.baud, 19200u);
}

struct RamCase {
    const char* what;
    std::vector<Bytes> bursts;
    int result;
};

void PrintTo(const RamCase& c, std::ostream* out)
{
    *out << c.what;
}

class ReadRamReplies : public CameraLinkTest, public ::testing::WithParamInterface<RamCase> {};

TEST_P(ReadRamReplies, AcceptOnlyAWholeGoodReply)
{
    start();
    connect();
    port->device = nullptr;
    for (const auto& burst : GetParam().bursts)
        port->arrive(burst);
    std::uint8_t value = 0;
    EXPECT_EQ(app->readRAM(0x2E, 1, &value), GetParam().result) << GetParam().what;
    EXPECT_EQ(port->writes, (std::vector<Bytes>{{0x02, 0x01, 0x01, 0x2E, 0x00, 0x32}}));
    if (GetParam().result == 1) {
        EXPECT_EQ(value, 0x30);
        EXPECT_TRUE(ui.boxes.empty());
    } else {
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, "readRAM:  Failed to read RAM");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadRamReplies,
    ::testing::Values(RamCase{"whole", {{0x02, 0x99, 0x30, 0xCB}}, 1},
                      RamCase{"in two bursts", {{0x02, 0x99}, {0x30, 0xCB}}, 1},
                      RamCase{"late", {{}, {0x02, 0x99, 0x30, 0xCB}}, 1},
                      RamCase{"too late", {{}, {}, {0x02, 0x99, 0x30, 0xCB}}, 0},
                      RamCase{"in three bursts", {{0x02}, {0x99}, {0x30, 0xCB}}, 0},
                      RamCase{"bad checksum", {{0x02, 0x99, 0x30, 0xCC}}, 0},
                      RamCase{"wrong first byte", {{0x03, 0x99, 0x30, 0xCC}}, 0},
                      RamCase{"too long", {{0x02, 0x99, 0x30, 0x00, 0xCB}}, 0},
                      RamCase{"nothing", {}, 0}));

// A request that goes out short without an error is said, and the reply is
// still taken.
TEST_F(CameraLinkTest, ReadRamWhoseRequestGoesOutShortSaysSoAndStillReads)
{
    start();
    connect();
    port->device = nullptr;
    port->writeLimit = 0;
    port->arrive({0x02, 0x99, 0x30, 0xCB});
    std::uint8_t value = 0;
    EXPECT_EQ(app->readRAM(0x2E, 1, &value), 1);
    EXPECT_EQ(value, 0x30);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "readRAM:  Write to camera operation failed...");
}

TEST_F(CameraLinkTest, RowsDownloadRawAndCompressed)
{
    start();
    connect();
    std::array<std::uint8_t, 192> row{};
    ASSERT_EQ(app->downloadRow(7, row.data()), 1);
    EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](auto v) { return v == 7; }));
    EXPECT_EQ(port->writes, (std::vector<Bytes>{{0x47, 0x47}}));
    // Two bytes tell the length, then exactly the rest is asked for.
    EXPECT_EQ(port->readSizes, (std::vector<std::size_t>{2, 193}));

    camera.payload = [](int) { return Bytes{0x64, 0x21, 0x00}; };
    port->readSizes.clear();
    ASSERT_EQ(app->downloadRow(0, row.data()), 1);
    EXPECT_EQ(row[0], 0x64);
    EXPECT_EQ(row[1], 0x65);
    EXPECT_EQ(row[2], 0x67);
    EXPECT_EQ(port->readSizes, (std::vector<std::size_t>{2, 4}));
}

TEST_F(CameraLinkTest, LateBytesAreCollectedByLaterPasses)
{
    start();
    connect();
    // The frame comes in four pieces with silences between them.
    camera.line = [](Bytes frame) {
        return std::vector<Bytes>{Bytes(frame.begin(), frame.begin() + 1), {},
                                  Bytes(frame.begin() + 1, frame.begin() + 100), {}, {},
                                  Bytes(frame.begin() + 100, frame.end())};
    };
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(3, row.data()), 1);
    EXPECT_EQ(row[191], 3);
    EXPECT_EQ(port->writes.size(), 1u) << "the request goes out once per row";
}

TEST_F(CameraLinkTest, FrameGoodOnlyInTheFourthPassIsTaken)
{
    start();
    connect();
    camera.line = [](Bytes frame) {
        return std::vector<Bytes>{{}, {}, {}, {}, {}, {}, frame};
    };
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(9, row.data()), 1);
    camera.line = [](Bytes frame) {
        return std::vector<Bytes>{{}, {}, {}, {}, {}, {}, {}, {}, frame};
    };
    EXPECT_EQ(app->downloadRow(9, row.data()), 0);
    EXPECT_TRUE(ui.boxes.empty()) << "a failed row is the caller's to report";
}

TEST_F(CameraLinkTest, CorruptFrameFailsTheRowWithoutReadingPastIt)
{
    start();
    connect();
    camera.line = [](Bytes frame) {
        frame[50] ^= 0x01;
        return std::vector<Bytes>{frame};
    };
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(1, row.data()), 0);
    // Once the frame is in, later passes ask for nothing more.
    EXPECT_EQ(port->readSizes, (std::vector<std::size_t>{2, 193}));

    // A corrupted length byte ends the frame early; it fails its checksum.
    camera.line = [](Bytes frame) {
        frame[1] = 4;
        return std::vector<Bytes>{frame};
    };
    port->readSizes.clear();
    EXPECT_EQ(app->downloadRow(1, row.data()), 0);
    EXPECT_EQ(port->readSizes, (std::vector<std::size_t>{2, 5}));
}

TEST_F(CameraLinkTest, BytesLeftFromAnEarlierReplyAreNotReadAsThisRow)
{
    start();
    connect();
    // The tail of a reply whose length byte was spoilt is still waiting.
    port->arrive(Bytes(120, 0x5A));
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(4, row.data()), 1);
    EXPECT_EQ(row[0], 4);
    EXPECT_EQ(port->discards, 1);
    EXPECT_EQ(port->writes.size(), 1u);
}

TEST_F(CameraLinkTest, StopFlagFromTheIniFailsTheFirstRowAndIsCleared)
{
    start("0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 1");
    ASSERT_EQ(app->settings.downloadStop, 1);
    connect();
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(0, row.data()), 0);
    EXPECT_EQ(app->settings.downloadStop, 0);
    EXPECT_TRUE(port->readSizes.empty());
    EXPECT_EQ(app->downloadRow(0, row.data()), 1);
}

TEST_F(CameraLinkTest, EscapeTypedWhileRowsComeInRaisesTheStopRequest)
{
    start();
    connect();
    ui.onPump = [](PumpMode mode) {
        EXPECT_EQ(mode, PumpMode::one);
        return PumpReport{.escapeTyped = true};
    };
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(0, row.data()), 1);
    EXPECT_EQ(app->stopRequested, 1);
}

TEST_F(CameraLinkTest, RowRequestThatCannotBeWrittenIsReported)
{
    start();
    connect();
    port->writeLimit = 1;
    std::array<std::uint8_t, 192> row{};
    EXPECT_EQ(app->downloadRow(12, row.data()), 0);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "writeCamera:  Write to camera operation failed...");
    EXPECT_EQ(ui.boxes[1].text, "Image download failed - Row 12");
}

}  // namespace
}  // namespace tarvi
