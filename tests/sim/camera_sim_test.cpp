// The simulated camera and its pseudo-terminal: the behaviour the program's
// tests rely on.
#include "sim/camera_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>

#include "camera/st4_protocol.h"
#include "sim/pseudo_terminal.h"
#include "sim/sim_line.h"

namespace tarvi::sim {
namespace {

using test::Bytes;
using namespace std::chrono_literals;
using test::eventually;
using test::Line;

const Bytes versionReply{0x02, 0x01, 0x03, 0x06};

TEST(PseudoTerminal, SpeedSeenBytesBothWaysCloseAndInterrupt)
{
    PseudoTerminal pty;
    Line line(pty.slavePath(), B57600);
    ASSERT_TRUE(pty.lineSpeed());
    EXPECT_EQ(pty.lineSpeed()->baud, 57600u);
    line.setSpeed(B1200);
    EXPECT_EQ(pty.lineSpeed()->baud, 1200u);

    const Bytes out{0x00, 0x11, 0x0D, 0x0A, 0x7F, 0xFF};
    ASSERT_EQ(pty.write(out, 1s).status, PseudoTerminal::Status::ok);
    EXPECT_EQ(line.receive(out.size()), out);
    line.send(Bytes{0x13, 0x0D, 0x03});
    std::uint8_t buffer[8];
    const auto got = pty.read(buffer, 10s);
    ASSERT_EQ(got.status, PseudoTerminal::Status::ok);
    EXPECT_EQ(Bytes(buffer, buffer + got.count), (Bytes{0x13, 0x0D, 0x03}));

    std::thread waker([&] {
        std::this_thread::sleep_for(20ms);
        pty.interrupt();
    });
    EXPECT_EQ(pty.read(buffer, 100s).status, PseudoTerminal::Status::interrupted);
    waker.join();
    pty.close();
    std::uint8_t byte = 0;
    errno = 0;
    EXPECT_LE(::read(line.fd(), &byte, 1), 0);
    EXPECT_NE(errno, EAGAIN);
}

class CameraSimulatorTest : public ::testing::Test {
protected:
    std::unique_ptr<CameraSimulator> camera;
    std::unique_ptr<Line> line;

    void start(CameraOptions options = {}, speed_t speed = B9600, double timeScale = 0)
    {
        options.timeScale = timeScale;
        camera = std::make_unique<CameraSimulator>(options);
        camera->start();
        line = std::make_unique<Line>(camera->slavePath(), speed);
    }
    // A sky with no noise and no drift: two exposures alike give the same frame.
    void startStill()
    {
        CameraOptions options;
        options.sky.readNoise = 0;
        options.sky.electronsPerAdu = 0;
        options.sky.driftPerSecond = 0;
        start(options);
    }
    Bytes readRam(std::uint16_t address, int count = 1)
    {
        line->send(readRamFrame(address, count));
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
    // The version asked for at a speed the camera is not at: it hears garbage
    // and says nothing.
    void expectDeafTo(std::uint64_t garbageBefore = 0)
    {
        line->send(readRamFrame(st4::ram::version, 1));
        ASSERT_TRUE(eventually([&] { return camera->stats().garbageBytes >= garbageBefore + 6; }));
        EXPECT_EQ(line->pending(), 0u);
    }
    // Starts an exposure and polls the mode byte as the program does, until
    // the camera is no longer busy; the frame it took.
    Bytes expose(std::uint8_t mode)
    {
        EXPECT_TRUE(writeRam(st4::ram::mode, {mode}));
        const int busy = (mode & 0x40) ? st4::busyBits : st4::busyBits | st4::darkBusyBit;
        EXPECT_TRUE(eventually([&] { return (readByte(st4::ram::mode) & busy) == 0; }));
        return camera->lastFrame();
    }
    // A row frame: byte 0, the length N, N payload bytes, the checksum.
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
    // Every row of the frame, decoded; the payload lengths seen.
    Bytes download(std::vector<int>& lengths, const std::vector<int>& rows)
    {
        Bytes pixels(st4::rowWidth * st4::rowCount);
        for (const int row : rows) {
            const Bytes frame = rowFrame(row);
            EXPECT_EQ(frame.size(), frame.size() < 2 ? 0u : frame[1] + 3u) << "row " << row;
            if (frame.size() < 3)
                break;
            EXPECT_TRUE(checksumOk(frame.data(), int(frame.size()))) << "row " << row;
            decodeRow(frame.data() + 2, pixels.data() + row * st4::rowWidth, frame[1]);
            lengths.push_back(frame[1]);
        }
        return pixels;
    }
};

TEST_F(CameraSimulatorTest, RamWritesAreAcknowledgedAndReadBackWithTheirChecksum)
{
    start();
    EXPECT_TRUE(writeRam(st4::ram::gain, {127}));
    EXPECT_TRUE(writeRam(st4::ram::exposure, {0xE8, 0x03}));
    const auto ram = camera->ram();
    EXPECT_EQ((Bytes{ram[st4::ram::gain], ram[st4::ram::exposure], ram[st4::ram::exposure + 1]}),
              (Bytes{127, 0xE8, 0x03}));
    const auto frames = camera->receivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, (Bytes{0x01, 0x04, 0x01, 0x35, 0x00, 0x7F, 0xBA}));
    EXPECT_TRUE(frames[0].checksumOk);

    EXPECT_EQ(readRam(st4::ram::version), versionReply);
    ASSERT_TRUE(writeRam(st4::ram::baseline, {0xAB}));
    EXPECT_EQ(readRam(st4::ram::baseline), (Bytes{0x02, 0x01, 0xAB, 0xAE}));
    EXPECT_EQ(readRam(st4::ram::exposure, 2), (Bytes{0x02, 0x02, 0xE8, 0x03, 0xEF}));
}

TEST_F(CameraSimulatorTest, IgnoresBadChecksumsUnknownRequestsAndAHalfFrameAfterAPause)
{
    start();
    Bytes bad = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    bad.back() ^= 0x01;
    line->send(bad);
    Bytes otherMemory = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    otherMemory[2] = 0x02;
    setChecksum(otherMemory.data(), int(otherMemory.size()));
    line->send(otherMemory);
    line->send(rowRequestFrame(st4::rowCount));
    line->send(Bytes{0x41, 0x42});
    // Had any of them been answered, its reply would come before this one.
    EXPECT_EQ(readRam(st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
    EXPECT_EQ(camera->stats().framesRejected, 4u);
    EXPECT_EQ(line->pending(), 0u);

    const auto heard = camera->stats().bytesHeard;
    line->send(Bytes(bad.begin(), bad.begin() + 3));
    ASSERT_TRUE(eventually([&] { return camera->stats().bytesHeard >= heard + 3; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(readRam(st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
}

TEST_F(CameraSimulatorTest, AnswersOnlyAtItsSpeedWhichTheDivisorAndAPowerCutSet)
{
    start({}, B19200);
    expectDeafTo();
    EXPECT_TRUE(camera->receivedFrames().empty());
    line->setSpeed(B9600);
    EXPECT_EQ(readRam(st4::ram::version), versionReply);

    ASSERT_TRUE(writeRam(st4::ram::divisor, {0xFF}));
    ASSERT_TRUE(eventually([&] { return camera->baud() == 57600; }));
    expectDeafTo(6);
    line->setSpeed(B57600);
    EXPECT_EQ(readByte(st4::ram::version), 3);
    const speed_t lineSpeeds[] = {B57600, B19200, B9600, B1200};
    for (const int to : {3, 1, 0, 2}) {
        ASSERT_TRUE(writeRam(st4::ram::divisor, {st4::divisors[to]})) << "to index " << to;
        line->setSpeed(lineSpeeds[to]);
        EXPECT_EQ(readByte(st4::ram::divisor), st4::divisors[to]);
        EXPECT_EQ(camera->baud(), st4::baudRates[to]);
    }

    ASSERT_TRUE(writeRam(st4::ram::divisor, {0xFF}));
    ASSERT_TRUE(eventually([&] { return camera->baud() == 57600; }));
    line->setSpeed(B57600);
    ASSERT_TRUE(writeRam(st4::ram::baseline, {9}));
    camera->powerCut();
    expectDeafTo(12);
    line->setSpeed(B9600);
    EXPECT_EQ(readByte(st4::ram::version), 3);
    EXPECT_EQ(readByte(st4::ram::baseline), 0);
    EXPECT_EQ(readByte(st4::ram::divisor), 0xFA);
}

TEST_F(CameraSimulatorTest, BusyBitsStayUntilTheExposureTimeHasPassed)
{
    start({}, B9600, 1000);
    ASSERT_TRUE(writeRam(st4::ram::exposure, {50, 0}));
    for (const auto& [mode, done] : {std::pair{0xF0, 0xC0}, {0xB7, 0x83}}) {
        camera->setTimeScale(1000);
        ASSERT_TRUE(writeRam(st4::ram::mode, {std::uint8_t(mode)}));
        EXPECT_EQ(readByte(st4::ram::mode), mode);
        camera->setTimeScale(0);
        ASSERT_TRUE(eventually([&] { return readByte(st4::ram::mode) == done; })) << mode;
    }
    EXPECT_EQ(camera->stats().exposuresFinished, 2u);
    // Scaled, an exposure of ten seconds ends on its own.
    camera->setTimeScale(0.001);
    ASSERT_TRUE(writeRam(st4::ram::exposure, {0xE8, 0x03}));
    expose(0xF2);
    EXPECT_EQ(camera->stats().exposuresFinished, 3u);
}

double variance(const Bytes& frame)
{
    const double mean = std::accumulate(frame.begin(), frame.end(), 0.0) / double(frame.size());
    double sum = 0;
    for (const auto v : frame)
        sum += (v - mean) * (v - mean);
    return sum / double(frame.size());
}

TEST_F(CameraSimulatorTest, DarkFrameSubtractionBaselineGainAndSmoothingAsTheModeAndRamAsk)
{
    startStill();
    const Bytes dark = expose(0xB0);
    EXPECT_EQ(camera->darkFrame(), dark);
    const auto [darkMin, darkMax] = std::minmax_element(dark.begin(), dark.end());
    EXPECT_GT(*darkMin, 0) << "the bias shows in a dark frame";
    EXPECT_GT(*darkMax, *darkMin + 10) << "hot pixels show in a dark frame";
    // Hot pixels stand alone in a dark frame: smoothing spreads each over nine.
    const Bytes smoothed = expose(0xB1);
    const double sharpSum = std::accumulate(dark.begin(), dark.end(), 0.0);
    EXPECT_NEAR(std::accumulate(smoothed.begin(), smoothed.end(), 0.0), sharpSum, sharpSum * 0.01);
    EXPECT_LT(variance(smoothed), 0.5 * variance(dark));

    const Bytes image = expose(0xF0);
    const Bytes subtracted = expose(0xF4);
    ASSERT_TRUE(writeRam(st4::ram::subtraction, {10}));
    const Bytes lowered = expose(0xF0);
    ASSERT_TRUE(writeRam(st4::ram::subtraction, {0}));
    ASSERT_TRUE(writeRam(st4::ram::baseline, {20}));
    const Bytes lifted = expose(0xF0);
    ASSERT_TRUE(writeRam(st4::ram::baseline, {0}));
    ASSERT_TRUE(writeRam(st4::ram::gain, {gainValue(1)}));
    const Bytes doubled = expose(0xF0);
    EXPECT_NE(subtracted, image);
    for (std::size_t i = 0; i < image.size(); ++i) {
        ASSERT_EQ(subtracted[i], std::max(0, image[i] - dark[i])) << "pixel " << i;
        ASSERT_EQ(lowered[i], std::max(0, image[i] - 10)) << "pixel " << i;
        ASSERT_EQ(lifted[i], std::min(255, image[i] + 20)) << "pixel " << i;
        if (image[i] < 120) {
            ASSERT_NEAR(doubled[i], 255.0 / 127 * image[i], 2.5) << "pixel " << i;
        }
    }
}

TEST_F(CameraSimulatorTest, DownloadsTheFrameItTookRawAndCompressedPacedOrNot)
{
    std::vector<int> all(st4::rowCount);
    std::iota(all.begin(), all.end(), 0);
    for (const bool pace : {false, true}) {
        CameraOptions options;
        options.pace = pace;
        options.startSpeedIndex = pace ? 0 : st4::speedIndex9600;
        start(options, pace ? B57600 : B9600);
        const std::vector<int> rows = pace ? std::vector<int>{0, 82, 164} : all;
        for (const std::uint8_t mode : {std::uint8_t{0xF0}, std::uint8_t{0xF2}}) {
            const Bytes frame = expose(mode);
            const auto [low, high] = std::minmax_element(frame.begin(), frame.end());
            ASSERT_GT(*high, *low + 50) << "a frame with stars in it";
            std::vector<int> lengths;
            const Bytes pixels = download(lengths, rows);
            for (const int row : rows)
                EXPECT_TRUE(std::equal(frame.begin() + row * st4::rowWidth, frame.begin() + (row + 1) * st4::rowWidth,
                                       pixels.begin() + row * st4::rowWidth)) << "row " << row;
            for (const int n : lengths)
                EXPECT_TRUE(mode == 0xF0 ? n == 192 : n < 192) << n;
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
            EXPECT_EQ(line->receive(reply.onWire.size()), reply.onWire) << "row " << row;
            EXPECT_EQ(line->pending(), 0u);
            ASSERT_TRUE(checksumOk(reply.bytes.data(), int(reply.bytes.size())));
            sent += reply.bytes.size();
            delivered += reply.onWire.size();
            badFrames += !checksumOk(reply.onWire.data(), int(reply.onWire.size()));
            if (drop) {
                // What was sent, with gaps.
                auto at = reply.bytes.begin();
                for (const auto b : reply.onWire) {
                    at = std::find(at, reply.bytes.end(), b);
                    ASSERT_NE(at, reply.bytes.end());
                    ++at;
                }
            } else {
                ASSERT_EQ(reply.onWire.size(), reply.bytes.size());
                for (std::size_t i = 0; i < reply.bytes.size(); ++i)
                    changed += reply.bytes[i] != reply.onWire[i];
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
    EXPECT_EQ(line->pending(), 0u);
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
    const Bytes row = rowFrame(0);
    ASSERT_EQ(row.size(), 195u);
    EXPECT_TRUE(checksumOk(row.data(), int(row.size())));
    line->send(rowRequestFrame(1));
    ASSERT_TRUE(eventually([&] { return line->hungUp(); }));
}

TEST_F(CameraSimulatorTest, StopsAndStartsAgain)
{
    start();
    ASSERT_EQ(readByte(st4::ram::version), 3);
    line.reset();
    camera->stop();
    camera->start();
    line = std::make_unique<Line>(camera->slavePath());
    EXPECT_EQ(readByte(st4::ram::version), 3);
}

}  // namespace
}  // namespace tarvi::sim
