#include "sim/camera_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <numeric>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "camera/st4_protocol.h"
#include "sim/pseudo_terminal.h"

namespace tarvi::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A generous bound for things that happen at once on a healthy machine; the
// tests never wait it out unless they are failing.
constexpr auto patience = 10s;

bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The program's end of the line, opened and set up the plain way.
class Line {
public:
    explicit Line(const std::string& path, speed_t speed = B9600)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            ADD_FAILURE() << "cannot open " << path << ": " << std::strerror(errno);
        setSpeed(speed);
    }
    ~Line()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    int fd() const { return fd_; }

    void setSpeed(speed_t speed)
    {
        termios line{};
        ASSERT_EQ(::tcgetattr(fd_, &line), 0);
        // No parity: a pseudo-terminal drops the flag, and the C library
        // then fails a call that changes nothing else.
        ::cfmakeraw(&line);
        line.c_cflag |= CREAD | CLOCAL;
        line.c_cflag &= ~CSTOPB;
        ::cfsetispeed(&line, speed);
        ::cfsetospeed(&line, speed);
        ASSERT_EQ(::tcsetattr(fd_, TCSANOW, &line), 0) << std::strerror(errno);
    }

    void send(const Bytes& bytes)
    {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    template<std::size_t N>
    void send(const std::array<std::uint8_t, N>& bytes)
    {
        send(Bytes(bytes.begin(), bytes.end()));
    }

    // Up to `count` bytes, as soon as they are all in.
    Bytes receive(std::size_t count)
    {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::uint8_t buffer[512];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    std::size_t pending() const
    {
        int count = 0;
        ::ioctl(fd_, FIONREAD, &count);
        return static_cast<std::size_t>(count);
    }

private:
    int fd_ = -1;
};

Bytes readRamReply(Line& line, std::uint16_t address)
{
    line.send(readRamFrame(address, 1));
    return line.receive(4);
}

std::uint8_t readByte(Line& line, std::uint16_t address)
{
    const Bytes reply = readRamReply(line, address);
    EXPECT_EQ(reply.size(), 4u);
    return reply.size() == 4 ? reply[2] : 0;
}

bool writeRam(Line& line, std::uint16_t address, Bytes data)
{
    line.send(writeRamFrame(address, data));
    return line.receive(1) == Bytes{st4::acknowledgement};
}

// Starts an exposure and polls the mode byte as the program does, until the
// camera is no longer busy.
void expose(Line& line, std::uint8_t mode)
{
    ASSERT_TRUE(writeRam(line, st4::ram::mode, {mode}));
    const std::uint8_t busy = (mode & 0x40) ? st4::busyBits : st4::busyBits | st4::darkBusyBit;
    ASSERT_TRUE(eventually([&] { return (readByte(line, st4::ram::mode) & busy) == 0; }));
}

// A row frame: byte 0, the length N, N payload bytes, the checksum.
Bytes receiveRowFrame(Line& line, int row)
{
    line.send(rowRequestFrame(row));
    Bytes frame = line.receive(2);
    if (frame.size() == 2) {
        const Bytes rest = line.receive(frame[1] + 1u);
        frame.insert(frame.end(), rest.begin(), rest.end());
    }
    return frame;
}

struct Download {
    Bytes pixels;
    std::vector<int> payloadLengths;
};

Download downloadFrame(Line& line)
{
    Download download;
    download.pixels.resize(st4::rowWidth * st4::rowCount);
    for (int row = 0; row < st4::rowCount; ++row) {
        const Bytes frame = receiveRowFrame(line, row);
        EXPECT_GE(frame.size(), 3u);
        if (frame.size() < 3)
            return download;
        EXPECT_EQ(frame.size(), frame[1] + 3u) << "row " << row;
        EXPECT_TRUE(checksumOk(frame.data(), static_cast<int>(frame.size()))) << "row " << row;
        decodeRow(frame.data() + 2, download.pixels.data() + row * st4::rowWidth, frame[1]);
        download.payloadLengths.push_back(frame[1]);
    }
    return download;
}

CameraOptions quickCamera()
{
    CameraOptions options;
    options.timeScale = 0;
    return options;
}

// A sky with no noise and no drift: two exposures alike give the same frame.
CameraOptions stillCamera()
{
    CameraOptions options = quickCamera();
    options.sky.readNoise = 0;
    options.sky.electronsPerAdu = 0;
    options.sky.driftPerSecond = 0;
    return options;
}

TEST(PseudoTerminal, MasterSeesTheSpeedTheProgramSetsOnTheSlave)
{
    PseudoTerminal pty;
    Line line(pty.slavePath(), B57600);
    ASSERT_TRUE(pty.lineSpeed());
    EXPECT_EQ(pty.lineSpeed()->baud, 57600u);
    line.setSpeed(B1200);
    EXPECT_EQ(pty.lineSpeed()->baud, 1200u);
}

TEST(PseudoTerminal, CarriesBytesBothWaysUntilClosed)
{
    PseudoTerminal pty;
    Line line(pty.slavePath());
    const Bytes out{0x00, 0x11, 0x0D, 0x0A, 0x7F, 0xFF};
    ASSERT_EQ(pty.write(out, 1s).status, PseudoTerminal::Status::ok);
    EXPECT_EQ(line.receive(out.size()), out);

    line.send(Bytes{0x13, 0x0D, 0x03});
    std::uint8_t buffer[8];
    const auto got = pty.read(buffer, patience);
    ASSERT_EQ(got.status, PseudoTerminal::Status::ok);
    EXPECT_EQ(Bytes(buffer, buffer + got.count), (Bytes{0x13, 0x0D, 0x03}));

    pty.close();
    std::uint8_t byte = 0;
    errno = 0;
    EXPECT_LE(::read(line.fd(), &byte, 1), 0);
    EXPECT_NE(errno, EAGAIN);
}

TEST(PseudoTerminal, InterruptWakesAWaitingRead)
{
    PseudoTerminal pty;
    std::thread waker([&] {
        std::this_thread::sleep_for(20ms);
        pty.interrupt();
    });
    std::uint8_t buffer[8];
    const auto got = pty.read(buffer, std::chrono::duration_cast<std::chrono::milliseconds>(10 * patience));
    waker.join();
    EXPECT_EQ(got.status, PseudoTerminal::Status::interrupted);
}

class CameraSimulatorTest : public ::testing::Test {
protected:
    void startCamera(const CameraOptions& options = quickCamera())
    {
        camera_ = std::make_unique<CameraSimulator>(options);
        camera_->start();
    }
    CameraSimulator& camera() { return *camera_; }

    std::unique_ptr<CameraSimulator> camera_;
};

TEST_F(CameraSimulatorTest, AcknowledgesRamWritesAndKeepsTheBytes)
{
    startCamera();
    Line line(camera().slavePath());

    EXPECT_TRUE(writeRam(line, st4::ram::gain, {127}));
    EXPECT_TRUE(writeRam(line, st4::ram::exposure, {0xE8, 0x03}));
    const auto ram = camera().ram();
    EXPECT_EQ(ram[st4::ram::gain], 127);
    EXPECT_EQ(ram[st4::ram::exposure], 0xE8);
    EXPECT_EQ(ram[st4::ram::exposure + 1], 0x03);

    const auto frames = camera().receivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, (Bytes{0x01, 0x04, 0x01, 0x35, 0x00, 0x7F, 0xBA}));
    EXPECT_TRUE(frames[0].checksumOk);
    EXPECT_EQ(frames[1].bytes, writeRamFrame(st4::ram::exposure, Bytes{0xE8, 0x03}));
}

TEST_F(CameraSimulatorTest, AnswersARamReadWithTheBytesAndTheirChecksum)
{
    startCamera();
    Line line(camera().slavePath());

    EXPECT_EQ(readRamReply(line, st4::ram::version), (Bytes{0x02, 0x01, 0x03, 0x06}));
    ASSERT_TRUE(writeRam(line, st4::ram::baseline, {0xAB}));
    EXPECT_EQ(readRamReply(line, st4::ram::baseline), (Bytes{0x02, 0x01, 0xAB, 0xAE}));

    line.send(readRamFrame(st4::ram::exposure, 2));
    EXPECT_EQ(line.receive(5), (Bytes{0x02, 0x02, 100, 0x00, 0x68}));
}

TEST_F(CameraSimulatorTest, IgnoresAFrameWithABadChecksum)
{
    startCamera();
    Line line(camera().slavePath());

    Bytes bad = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    bad.back() ^= 0x01;
    line.send(bad);
    auto badRead = readRamFrame(st4::ram::version, 1);
    badRead.back() ^= 0x80;
    line.send(badRead);
    line.send(Bytes{0x41, 0x42});
    // Had any of them been answered, its reply would come before this one.
    EXPECT_EQ(readRamReply(line, st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
    EXPECT_EQ(camera().stats().framesRejected, 3u);
    EXPECT_EQ(line.pending(), 0u);
}

TEST_F(CameraSimulatorTest, RefusesRowsPastTheLastAndMemoryItDoesNotHave)
{
    startCamera();
    Line line(camera().slavePath());

    line.send(rowRequestFrame(st4::rowCount));
    Bytes otherMemory = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    otherMemory[2] = 0x02;
    setChecksum(otherMemory.data(), static_cast<int>(otherMemory.size()));
    line.send(otherMemory);
    EXPECT_EQ(readRamReply(line, st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
    EXPECT_EQ(camera().stats().framesRejected, 2u);
}

TEST_F(CameraSimulatorTest, DropsAHalfFrameAfterAPauseAndHearsTheNextOne)
{
    startCamera();
    Line line(camera().slavePath());

    const Bytes frame = writeRamFrame(st4::ram::baseline, Bytes{0x55});
    line.send(Bytes(frame.begin(), frame.begin() + 3));
    ASSERT_TRUE(eventually([&] { return camera().stats().bytesHeard >= 3; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(readRamReply(line, st4::ram::baseline), (Bytes{0x02, 0x01, 0x00, 0x03}));
}

TEST_F(CameraSimulatorTest, StaysSilentUntilTheProgramIsAtItsSpeed)
{
    startCamera();
    Line line(camera().slavePath(), B19200);

    line.send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera().stats().garbageBytes >= 6; }));
    EXPECT_EQ(line.pending(), 0u);
    EXPECT_TRUE(camera().receivedFrames().empty());

    line.setSpeed(B9600);
    EXPECT_EQ(readRamReply(line, st4::ram::version), (Bytes{0x02, 0x01, 0x03, 0x06}));
}

TEST_F(CameraSimulatorTest, ChangesSpeedAfterAcknowledgingTheDivisor)
{
    startCamera();
    Line line(camera().slavePath(), B9600);

    ASSERT_TRUE(writeRam(line, st4::ram::divisor, {0xFF}));
    ASSERT_TRUE(eventually([&] { return camera().baud() == 57600; }));
    line.send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera().stats().garbageBytes >= 6; }));
    EXPECT_EQ(line.pending(), 0u);

    line.setSpeed(B57600);
    EXPECT_EQ(readByte(line, st4::ram::version), 3);

    const speed_t lineSpeeds[] = {B57600, B19200, B9600, B1200};
    for (const int to : {3, 1, 0, 2}) {
        ASSERT_TRUE(writeRam(line, st4::ram::divisor, {st4::divisors[to]})) << "to index " << to;
        line.setSpeed(lineSpeeds[to]);
        EXPECT_EQ(readByte(line, st4::ram::divisor), st4::divisors[to]);
        EXPECT_EQ(camera().baud(), st4::baudRates[to]);
    }
}

TEST_F(CameraSimulatorTest, APowerCutBringsTheCameraBackAt9600)
{
    CameraOptions options = quickCamera();
    options.startSpeedIndex = 0;
    startCamera(options);
    Line line(camera().slavePath(), B57600);
    ASSERT_TRUE(writeRam(line, st4::ram::baseline, {9}));

    camera().powerCut();
    line.send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera().stats().garbageBytes >= 6; }));
    EXPECT_EQ(line.pending(), 0u);

    line.setSpeed(B9600);
    EXPECT_EQ(readByte(line, st4::ram::version), 3);
    EXPECT_EQ(readByte(line, st4::ram::baseline), 0);
    EXPECT_EQ(readByte(line, st4::ram::divisor), 0xFA);
}

TEST_F(CameraSimulatorTest, BusyBitsStayUntilTheExposureTimeHasPassed)
{
    CameraOptions options = quickCamera();
    options.timeScale = 1000;
    startCamera(options);
    Line line(camera().slavePath());
    ASSERT_TRUE(writeRam(line, st4::ram::exposure, {50, 0}));

    ASSERT_TRUE(writeRam(line, st4::ram::mode, {0xF0}));
    EXPECT_EQ(readByte(line, st4::ram::mode), 0xF0);
    EXPECT_EQ(camera().stats().exposuresFinished, 0u);
    camera().setTimeScale(0);
    ASSERT_TRUE(eventually([&] { return readByte(line, st4::ram::mode) == 0xC0; }));

    camera().setTimeScale(1000);
    ASSERT_TRUE(writeRam(line, st4::ram::mode, {0xB7}));
    EXPECT_EQ(readByte(line, st4::ram::mode), 0xB7);
    camera().setTimeScale(0);
    ASSERT_TRUE(eventually([&] { return readByte(line, st4::ram::mode) == 0x83; }));
    EXPECT_EQ(camera().stats().exposuresFinished, 2u);
}

TEST_F(CameraSimulatorTest, ScaledExposuresEndOnTheirOwn)
{
    CameraOptions options = quickCamera();
    options.timeScale = 0.001;
    startCamera(options);
    Line line(camera().slavePath());
    ASSERT_TRUE(writeRam(line, st4::ram::exposure, {0xE8, 0x03}));
    expose(line, 0xF2);
    EXPECT_EQ(camera().stats().exposuresFinished, 1u);
}

TEST_F(CameraSimulatorTest, SubtractsItsDarkFrameWhenTheModeAsks)
{
    startCamera(stillCamera());
    Line line(camera().slavePath());

    expose(line, 0xB0);
    const Bytes dark = camera().lastFrame();
    EXPECT_EQ(camera().darkFrame(), dark);
    const auto [darkMin, darkMax] = std::minmax_element(dark.begin(), dark.end());
    EXPECT_GT(*darkMin, 0) << "the bias shows in a dark frame";
    EXPECT_GT(*darkMax, *darkMin + 10) << "hot pixels show in a dark frame";

    expose(line, 0xF0);
    const Bytes image = camera().lastFrame();
    expose(line, 0xF4);
    const Bytes subtracted = camera().lastFrame();
    ASSERT_EQ(subtracted.size(), image.size());
    for (std::size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(subtracted[i], std::max(0, image[i] - dark[i])) << "pixel " << i;
    EXPECT_NE(subtracted, image);
}

TEST_F(CameraSimulatorTest, AppliesSubtractionBaselineAndGain)
{
    startCamera(stillCamera());
    Line line(camera().slavePath());

    expose(line, 0xF0);
    const Bytes image = camera().lastFrame();

    ASSERT_TRUE(writeRam(line, st4::ram::subtraction, {10}));
    expose(line, 0xF0);
    const Bytes lowered = camera().lastFrame();
    for (std::size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(lowered[i], std::max(0, image[i] - 10)) << "pixel " << i;

    ASSERT_TRUE(writeRam(line, st4::ram::subtraction, {0}));
    ASSERT_TRUE(writeRam(line, st4::ram::baseline, {20}));
    expose(line, 0xF0);
    const Bytes lifted = camera().lastFrame();
    for (std::size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(lifted[i], std::min(255, image[i] + 20)) << "pixel " << i;

    ASSERT_TRUE(writeRam(line, st4::ram::baseline, {0}));
    ASSERT_TRUE(writeRam(line, st4::ram::gain, {gainValue(1)}));
    expose(line, 0xF0);
    const Bytes doubled = camera().lastFrame();
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (image[i] < 120) {
            ASSERT_NEAR(doubled[i], 255.0 / 127 * image[i], 2.5) << "pixel " << i;
        }
    }
}

double variance(const Bytes& frame)
{
    const double mean = std::accumulate(frame.begin(), frame.end(), 0.0) / frame.size();
    double sum = 0;
    for (const auto v : frame)
        sum += (v - mean) * (v - mean);
    return sum / frame.size();
}

TEST_F(CameraSimulatorTest, SmoothsWhenTheModeAsks)
{
    startCamera(stillCamera());
    Line line(camera().slavePath());

    // Hot pixels stand alone in a dark frame: smoothing spreads each over nine.
    expose(line, 0xB0);
    const Bytes sharp = camera().lastFrame();
    expose(line, 0xB1);
    const Bytes smoothed = camera().lastFrame();
    const double sharpSum = std::accumulate(sharp.begin(), sharp.end(), 0.0);
    const double smoothSum = std::accumulate(smoothed.begin(), smoothed.end(), 0.0);
    EXPECT_NEAR(smoothSum, sharpSum, sharpSum * 0.01);
    EXPECT_LT(variance(smoothed), 0.5 * variance(sharp));
}

TEST_F(CameraSimulatorTest, DownloadsTheFrameItTookRawAndCompressed)
{
    startCamera();
    Line line(camera().slavePath());

    expose(line, 0xF0);
    const Download raw = downloadFrame(line);
    const Bytes rawFrame = camera().lastFrame();
    const auto [low, high] = std::minmax_element(rawFrame.begin(), rawFrame.end());
    ASSERT_GT(*high, *low + 50) << "a frame with stars in it";
    EXPECT_EQ(raw.pixels, rawFrame);
    EXPECT_TRUE(std::all_of(raw.payloadLengths.begin(), raw.payloadLengths.end(), [](int n) { return n == 192; }));

    expose(line, 0xF2);
    const Download compressed = downloadFrame(line);
    const Bytes compressedFrame = camera().lastFrame();
    EXPECT_NE(compressedFrame, rawFrame) << "a new exposure, new noise";
    EXPECT_EQ(compressed.pixels, compressedFrame);
    EXPECT_TRUE(std::all_of(compressed.payloadLengths.begin(), compressed.payloadLengths.end(),
                            [](int n) { return n < 192; }));
    EXPECT_EQ(line.pending(), 0u);
}

TEST_F(CameraSimulatorTest, PacedRowsArriveWhole)
{
    CameraOptions options = quickCamera();
    options.pace = true;
    options.startSpeedIndex = 0;
    startCamera(options);
    Line line(camera().slavePath(), B57600);

    for (const std::uint8_t mode : {std::uint8_t{0xF2}, std::uint8_t{0xF0}}) {
        expose(line, mode);
        const Bytes frame = camera().lastFrame();
        for (const int row : {0, 82, 164}) {
            const Bytes reply = receiveRowFrame(line, row);
            ASSERT_GE(reply.size(), 3u);
            ASSERT_TRUE(checksumOk(reply.data(), static_cast<int>(reply.size())));
            Bytes pixels(st4::rowWidth);
            decodeRow(reply.data() + 2, pixels.data(), reply[1]);
            EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), frame.begin() + row * st4::rowWidth));
        }
    }
}

// Fetches rows one by one and checks that what arrives is what the camera
// says the line delivered; returns the replies.
std::vector<SentReply> fetchRowsAsDelivered(CameraSimulator& camera, Line& line, int rows)
{
    camera.clearTraffic();
    for (int row = 0; row < rows; ++row) {
        line.send(rowRequestFrame(row));
        if (!eventually([&] { return camera.sentReplies().size() == static_cast<std::size_t>(row + 1); })) {
            ADD_FAILURE() << "no reply to row " << row;
            break;
        }
        const SentReply reply = camera.sentReplies().back();
        EXPECT_EQ(line.receive(reply.onWire.size()), reply.onWire) << "row " << row;
        EXPECT_EQ(line.pending(), 0u);
    }
    return camera.sentReplies();
}

TEST_F(CameraSimulatorTest, LosesTheGivenFractionOfItsBytesOnTheLine)
{
    CameraOptions options = quickCamera();
    options.seed = 7;
    startCamera(options);
    Line line(camera().slavePath());
    expose(line, 0xF0);
    CameraFaults faults;
    faults.dropFraction = 0.2;
    camera().setFaults(faults);

    std::size_t sent = 0;
    std::size_t delivered = 0;
    for (const auto& reply : fetchRowsAsDelivered(camera(), line, 40)) {
        sent += reply.bytes.size();
        delivered += reply.onWire.size();
        // What arrives is what was sent, with gaps.
        auto at = reply.bytes.begin();
        for (const auto b : reply.onWire) {
            at = std::find(at, reply.bytes.end(), b);
            ASSERT_NE(at, reply.bytes.end());
            ++at;
        }
    }
    const double lost = 1.0 - double(delivered) / sent;
    EXPECT_GT(lost, 0.15);
    EXPECT_LT(lost, 0.25);
}

TEST_F(CameraSimulatorTest, CorruptsTheGivenFractionOfItsBytesOnTheLine)
{
    CameraOptions options = quickCamera();
    options.seed = 11;
    startCamera(options);
    Line line(camera().slavePath());
    expose(line, 0xF0);
    CameraFaults faults;
    faults.corruptFraction = 0.1;
    camera().setFaults(faults);

    std::size_t sent = 0;
    std::size_t changed = 0;
    int badFrames = 0;
    for (const auto& reply : fetchRowsAsDelivered(camera(), line, 40)) {
        ASSERT_EQ(reply.onWire.size(), reply.bytes.size());
        sent += reply.bytes.size();
        for (std::size_t i = 0; i < reply.bytes.size(); ++i)
            changed += reply.bytes[i] != reply.onWire[i];
        badFrames += !checksumOk(reply.onWire.data(), static_cast<int>(reply.onWire.size()));
        EXPECT_TRUE(checksumOk(reply.bytes.data(), static_cast<int>(reply.bytes.size())));
    }
    EXPECT_GT(double(changed) / sent, 0.05);
    EXPECT_LT(double(changed) / sent, 0.15);
    EXPECT_GT(badFrames, 30);

    camera().setFaults({});
    EXPECT_EQ(readRamReply(line, st4::ram::version), (Bytes{0x02, 0x01, 0x03, 0x06}));
}

TEST_F(CameraSimulatorTest, ASilentCameraAnswersNothingUntilItSpeaksAgain)
{
    startCamera();
    Line line(camera().slavePath());

    camera().setSilent(true);
    line.send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera().stats().strayBytes >= 6; }));
    EXPECT_EQ(line.pending(), 0u);

    camera().setSilent(false);
    EXPECT_EQ(readRamReply(line, st4::ram::version), (Bytes{0x02, 0x01, 0x03, 0x06}));

    CameraFaults faults;
    faults.silentAfterReplies = 2;  // counting the one above
    camera().setFaults(faults);
    EXPECT_EQ(readRamReply(line, st4::ram::version), (Bytes{0x02, 0x01, 0x03, 0x06}));
    line.send(readRamFrame(st4::ram::version, 1));
    ASSERT_TRUE(eventually([&] { return camera().stats().strayBytes >= 12; }));
    EXPECT_EQ(line.pending(), 0u);
}

TEST_F(CameraSimulatorTest, AHangUpFailsTheProgramsSideOfTheLine)
{
    startCamera();
    Line line(camera().slavePath());
    ASSERT_EQ(readByte(line, st4::ram::version), 3);

    camera().hangUp();
    ASSERT_TRUE(eventually([&] {
        pollfd p{line.fd(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }));
    std::uint8_t byte = 0;
    EXPECT_LE(::read(line.fd(), &byte, 1), 0);
    EXPECT_EQ(::open(camera().slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), -1);
}

TEST_F(CameraSimulatorTest, HangsUpAfterTheGivenReplies)
{
    CameraOptions options = quickCamera();
    options.faults.hangUpAfterReplies = 2;
    startCamera(options);
    Line line(camera().slavePath());

    EXPECT_EQ(readByte(line, st4::ram::version), 3);
    const Bytes row = receiveRowFrame(line, 0);
    ASSERT_EQ(row.size(), 195u);
    EXPECT_TRUE(checksumOk(row.data(), static_cast<int>(row.size())));
    line.send(rowRequestFrame(1));
    ASSERT_TRUE(eventually([&] {
        pollfd p{line.fd(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }));
}

TEST_F(CameraSimulatorTest, StopsAndStartsAgain)
{
    startCamera();
    {
        Line line(camera().slavePath());
        ASSERT_EQ(readByte(line, st4::ram::version), 3);
    }
    camera().stop();
    camera().start();
    Line line(camera().slavePath());
    EXPECT_EQ(readByte(line, st4::ram::version), 3);
}

}  // namespace
}  // namespace tarvi::sim
