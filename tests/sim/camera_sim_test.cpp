// The simulated camera and its pseudo-terminal: the behaviour the program's
// tests rely on.
#include "sim/camera_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>

#include "camera/st4_protocol.h"
#include "sim/sim_line.h"

namespace tarvi::sim {
namespace {

using test::Bytes;
using namespace std::chrono_literals;
using test::eventually;
using test::Line;

const Bytes versionReply{0x02, 0x01, 0x03, 0x06};

class CameraSimulatorTest : public ::testing::Test {
protected:
    std::unique_ptr<CameraSimulator> camera;
    std::unique_ptr<Line> line;

    void start(CameraOptions options = {}, speed_t speed = B9600)
    {
        options.timeScale = 0;
        camera = std::make_unique<CameraSimulator>(options);
        camera->start();
        line = std::make_unique<Line>(camera->slavePath(), speed);
    }
    Bytes readRam(std::uint16_t address, int count = 1)
    {
        line->send(readRamFrame(address, std::uint8_t(count)));
        return line->receive(std::size_t(count) + 3);
    }
    int readByte(std::uint16_t address)
    {
        const Bytes reply = readRam(address);
        return reply.size() == 4 ? reply[2] : -1;
    }
    bool writeRam(std::uint16_t address, Bytes data)
    {
        line->send(writeRamFrame(address, data));
        return line->receive(1) == Bytes{st4::acknowledgement};
    }
    // Asked at a speed the camera is not at, it hears garbage and says nothing.
    void expectDeaf()
    {
        const auto garbageBefore = camera->stats().garbageBytes;
        line->send(readRamFrame(st4::ram::version, 1));
        ASSERT_TRUE(eventually([&] { return camera->stats().garbageBytes >= garbageBefore + 6; }));
        EXPECT_EQ(line->pending(), 0u);
    }
    // Polls the mode byte as the program does until the camera is done; the frame it took.
    Bytes expose(std::uint8_t mode)
    {
        EXPECT_TRUE(writeRam(st4::ram::mode, {mode}));
        const int busy = (mode & 0x40) ? st4::busyBits : st4::busyBits | st4::darkBusyBit;
        EXPECT_TRUE(eventually([&] { return (readByte(st4::ram::mode) & busy) == 0; }));
        return camera->lastFrame();
    }
    // Byte 0, the length N, N payload bytes, the checksum.
    Bytes rowFrame(int row)
    {
        line->send(rowRequestFrame(row));
        Bytes frame = line->receive(2);
        if (frame.size() == 2) {
            const Bytes rest = line->receive(frame[1] + 1u);
            frame.insert(frame.end(), rest.begin(), rest.end());
        }
        return frame;
    }
};

TEST_F(CameraSimulatorTest, RamIsWrittenAndReadWithChecksumsAndBadFramesGoUnanswered)
{
    start();
    EXPECT_TRUE(writeRam(st4::ram::gain, {127}));
    EXPECT_EQ(camera->receivedFrames().at(0).bytes, (Bytes{0x01, 0x04, 0x01, 0x35, 0x00, 0x7F, 0xBA}));
    EXPECT_TRUE(writeRam(st4::ram::exposure, {0xE8, 0x03}));
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    EXPECT_EQ(readRam(st4::ram::exposure, 2), (Bytes{0x02, 0x02, 0xE8, 0x03, 0xEF}));

    Bytes bad = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    bad.back() ^= 0x01;
    Bytes otherMemory = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    otherMemory[2] = 0x02;
    setChecksum(otherMemory.data(), int(otherMemory.size()));
    for (const Bytes& refused : {bad, otherMemory, Bytes{0x41, 0x42}})
        line->send(refused);
    line->send(rowRequestFrame(st4::rowCount));
    // Had any of them been answered, its reply would come before this one.
    EXPECT_EQ(readRam(st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
    EXPECT_EQ(camera->stats().framesRejected, 4u);
    // Half a frame, then a pause: the rest never joins it.
    const auto heard = camera->stats().bytesHeard;
    line->send(Bytes(bad.begin(), bad.begin() + 3));
    ASSERT_TRUE(eventually([&] { return camera->stats().bytesHeard >= heard + 3; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(readRam(st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
}

TEST_F(CameraSimulatorTest, AnswersOnlyAtItsSpeedWhichTheDivisorAndAPowerCutSet)
{
    start({}, B19200);
    expectDeaf();
    line->setSpeed(B9600);
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    const speed_t lineSpeeds[] = {B57600, B19200, B9600, B1200};
    for (const int to : {3, 0, 1}) {
        ASSERT_TRUE(writeRam(st4::ram::divisor, {st4::divisors[to]})) << to;
        ASSERT_TRUE(eventually([&] { return camera->baud() == st4::baudRates[to]; }));
        line->setSpeed(lineSpeeds[to]);
        EXPECT_EQ(readByte(st4::ram::divisor), st4::divisors[to]);
    }
    ASSERT_TRUE(writeRam(st4::ram::baseline, {9}));
    camera->powerCut();
    expectDeaf();
    line->setSpeed(B9600);
    EXPECT_EQ(readByte(st4::ram::baseline), 0);
    EXPECT_EQ(readByte(st4::ram::divisor), 0xFA);
}

TEST_F(CameraSimulatorTest, DownloadsTheFrameItTookRawAndCompressedPacedOrNot)
{
    for (const bool pace : {false, true}) {
        CameraOptions options;
        options.pace = pace;
        options.startSpeedIndex = pace ? 0 : st4::speedIndex9600;
        start(options, pace ? B57600 : B9600);
        std::vector<int> rows{0, 82, 164};
        if (!pace) {
            rows.resize(st4::rowCount);
            std::iota(rows.begin(), rows.end(), 0);
        }
        for (const std::uint8_t mode : {std::uint8_t{0xF0}, std::uint8_t{0xF2}}) {
            const Bytes frame = expose(mode);
            const auto [low, high] = std::minmax_element(frame.begin(), frame.end());
            ASSERT_GT(*high, *low + 50) << "a frame with stars in it";
            for (const int row : rows) {
                const Bytes got = rowFrame(row);
                ASSERT_EQ(got.size(), got.size() < 2 ? 0u : got[1] + 3u) << row;
                ASSERT_TRUE(checksumOk(got.data(), int(got.size()))) << row;
                EXPECT_TRUE(mode == 0xF0 ? got[1] == 192 : got[1] < 192) << int(got[1]);
                Bytes pixels(st4::rowWidth);
                decodeRow(got.data() + 2, pixels.data(), got[1]);
                EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), frame.begin() + row * st4::rowWidth)) << row;
            }
            EXPECT_EQ(line->pending(), 0u);
        }
    }
}

TEST_F(CameraSimulatorTest, LosesOrCorruptsTheGivenFractionOfItsBytesOnTheLine)
{
    for (const bool drop : {true, false}) {
        CameraOptions options;
        options.seed = drop ? 7 : 11;
        start(options);
        expose(0xF0);
        CameraFaults faults;
        (drop ? faults.dropFraction : faults.corruptFraction) = drop ? 0.2 : 0.1;
        camera->setFaults(faults);
        camera->clearTraffic();
        std::size_t sent = 0, delivered = 0, changed = 0;
        int badFrames = 0;
        for (int row = 0; row < 40; ++row) {
            line->send(rowRequestFrame(row));
            ASSERT_TRUE(eventually([&] { return camera->sentReplies().size() == std::size_t(row + 1); }));
            const SentReply reply = camera->sentReplies().back();
            // What arrives is what the camera says the line delivered.
            EXPECT_EQ(line->receive(reply.onWire.size()), reply.onWire) << row;
            sent += reply.bytes.size();
            delivered += reply.onWire.size();
            badFrames += !checksumOk(reply.onWire.data(), int(reply.onWire.size()));
            // Dropping leaves what was sent with gaps; corrupting, as many bytes.
            auto at = reply.bytes.begin();
            for (std::size_t i = 0; i < reply.onWire.size(); ++i) {
                at = drop ? std::find(at, reply.bytes.end(), reply.onWire[i]) : reply.bytes.begin() + long(i);
                ASSERT_NE(at, reply.bytes.end());
                changed += *at++ != reply.onWire[i];
            }
        }
        const double fraction = drop ? 1.0 - double(delivered) / double(sent) : double(changed) / double(sent);
        EXPECT_GT(fraction, drop ? 0.15 : 0.05);
        EXPECT_LT(fraction, drop ? 0.25 : 0.15);
        EXPECT_GT(badFrames, 30);
        camera->setFaults({});
        EXPECT_EQ(readRam(st4::ram::version), versionReply);
    }
}

TEST_F(CameraSimulatorTest, FallsSilentAndHangsUpWhenToldOrAfterTheGivenReplies)
{
    start();
    camera->setSilent(true);
    line->send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera->stats().strayBytes >= 6; }));
    camera->setSilent(false);
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    CameraFaults faults;
    faults.silentAfterReplies = 2;  // counting the one above
    camera->setFaults(faults);
    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    line->send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera->stats().strayBytes >= 12; }));
    EXPECT_EQ(line->pending(), 0u);
    camera->hangUp();
    ASSERT_TRUE(eventually([&] { return line->hungUp(); }));
    EXPECT_EQ(::open(camera->slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), -1);

    CameraOptions options;
    options.faults.hangUpAfterReplies = 2;
    start(options);
    EXPECT_EQ(readByte(st4::ram::version), 3);
    EXPECT_EQ(rowFrame(0).size(), 195u);
    line->send(rowRequestFrame(1));
    ASSERT_TRUE(eventually([&] { return line->hungUp(); }));
}

}  // namespace
}  // namespace tarvi::sim
