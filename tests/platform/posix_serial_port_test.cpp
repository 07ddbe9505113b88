#include "platform/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/port_checks.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using test::everyByteValue;
using test::readingFor;
using test::waitForQueued;

constexpr std::uint32_t maxDword = 0xFFFFFFFFu;

// A pseudo-terminal: the port under test opens the slave, the test plays the
// device on the master.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error(std::string("pseudo-terminal: ") + std::strerror(errno));
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error(std::string("ptsname_r: ") + std::strerror(errno));
        slavePath_ = name;
    }
    ~PseudoTerminal()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    void hangUp()
    {
        ::close(master_);
        master_ = -1;
    }

    void send(const Bytes& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw std::runtime_error(std::string("master write: ") + std::strerror(errno));
            done += static_cast<std::size_t>(n);
        }
    }

    // What the port wrote: `count` bytes, or fewer if they have not all come
    // within a few seconds.
    Bytes receive(std::size_t count) const
    {
        Bytes got;
        const auto giveUp = std::chrono::steady_clock::now() + 5s;
        while (got.size() < count && std::chrono::steady_clock::now() < giveUp) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0)
                continue;
            std::uint8_t chunk[4096];
            const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - got.size()));
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

    bool nothingWaiting() const
    {
        pollfd entry{master_, POLLIN, 0};
        return ::poll(&entry, 1, 50) == 0;
    }

    termios state() const
    {
        termios state{};
        // On the master the termios calls act on the slave, as a simulator sees it.
        if (::tcgetattr(master_, &state) != 0)
            throw std::runtime_error(std::string("tcgetattr: ") + std::strerror(errno));
        return state;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

std::unique_ptr<SerialPort> openPort(const std::string& path)
{
    PortOpener::Result opened = PosixSerialPort::open(path);
    if (opened.error.failed() || !opened.port)
        throw std::runtime_error(path + ": " + opened.error.text());
    return std::move(opened.port);
}

// As the program configures its ports: read the settings, change what the
// table names, apply.
SysError configure(SerialPort& port, std::uint32_t baud, Parity parity)
{
    LineSettings working;
    if (const SysError error = port.getLineSettings(working); error.failed())
        return error;
    working.baud = baud;
    working.dataBits = 8;
    working.parity = parity;
    working.stopBits = 1;
    working.parityCheck = true;
    working.hardwareFlow = false;
    working.softwareFlow = false;
    working.dtrOn = false;
    working.rtsOn = false;
    working.binary = true;
    return port.setLineSettings(working);
}

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// Writes `bytes` on the master one at a time, `gap` apart, until done or told
// to stop.
class Trickle {
public:
    Trickle(const PseudoTerminal& pty, Bytes bytes, std::chrono::milliseconds gap)
        : thread_([&pty, bytes = std::move(bytes), gap, this](std::stop_token stop) {
              for (const std::uint8_t byte : bytes) {
                  if (stop.stop_requested())
                      return;
                  pty.send({byte});
                  sent_.fetch_add(1);
                  std::this_thread::sleep_for(gap);
              }
          })
    {
    }
    ~Trickle() { stop(); }
    void stop()
    {
        thread_.request_stop();
        if (thread_.joinable())
            thread_.join();
    }
    std::size_t sent() const { return sent_.load(); }

private:
    std::atomic<std::size_t> sent_{0};
    std::jthread thread_;
};

termios cookedTerminal()
{
    termios state{};
    state.c_iflag = BRKINT | ICRNL | IXON | IMAXBEL;
    state.c_oflag = OPOST | ONLCR;
    state.c_cflag = CS8 | CREAD | HUPCL;
    state.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN | ECHOCTL | ECHOKE;
    state.c_cc[VINTR] = 3;
    state.c_cc[VMIN] = 1;
    state.c_cc[VTIME] = 0;
    cfsetispeed(&state, B38400);
    cfsetospeed(&state, B38400);
    return state;
}

bool sameTermios(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           a.c_line == b.c_line && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

LineSettings cameraTable(std::uint32_t baud)
{
    LineSettings settings;
    settings.baud = baud;
    settings.dataBits = 8;
    settings.parity = Parity::even;
    settings.stopBits = 1;
    settings.parityCheck = true;
    settings.binary = true;
    return settings;
}

TEST(TermiosRates, TheProgramsRatesAndTheOtherStandardOnesMapBothWays)
{
    const std::pair<std::uint32_t, speed_t> rows[] = {
        {57600, B57600}, {19200, B19200}, {9600, B9600}, {1200, B1200},
        {50, B50},       {38400, B38400}, {115200, B115200}, {4000000, B4000000},
    };
    for (const auto& [baud, speed] : rows) {
        EXPECT_EQ(speedFromBaud(baud), speed) << baud;
        EXPECT_EQ(baudFromSpeed(speed), baud) << baud;
    }
    EXPECT_EQ(speedFromBaud(56600), std::nullopt);  // the camera's label, not a rate
    EXPECT_EQ(speedFromBaud(0), std::nullopt);
    EXPECT_EQ(baudFromSpeed(B0), 0u);
}

TEST(ApplyLineSettings, TheCameraTableOnACookedTerminalGivesARawEvenParityLine)
{
    termios state = cookedTerminal();
    ASSERT_FALSE(applyLineSettings(cameraTable(57600), state).failed());

    EXPECT_EQ(cfgetospeed(&state), B57600);
    EXPECT_EQ(cfgetispeed(&state), B57600);
    EXPECT_EQ(state.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(state.c_cflag & PARENB, 0u);
    EXPECT_EQ(state.c_cflag & (PARODD | CMSPAR), 0u);
    EXPECT_EQ(state.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(state.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(state.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_NE(state.c_cflag & HUPCL, 0u);  // not the program's to change
    EXPECT_NE(state.c_iflag & INPCK, 0u);
    EXPECT_EQ(state.c_iflag & (IGNPAR | PARMRK), 0u);
    EXPECT_EQ(state.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(state.c_iflag & (IGNBRK | BRKINT | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC), 0u);
    EXPECT_EQ(state.c_oflag & OPOST, 0u);
    EXPECT_EQ(state.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(state.c_cc[VMIN], 1);
    EXPECT_EQ(state.c_cc[VTIME], 0);
}

TEST(ApplyLineSettings, ParityDataBitsAndStopBitsSetTheirBitsAndReadBack)
{
    struct Row {
        Parity parity;
        tcflag_t bits;
    };
    const Row parities[] = {
        {Parity::none, 0},
        {Parity::odd, PARENB | PARODD},
        {Parity::even, PARENB},
        {Parity::mark, PARENB | PARODD | CMSPAR},
        {Parity::space, PARENB | CMSPAR},
    };
    const std::pair<int, tcflag_t> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const Row& row : parities) {
        for (const auto& [dataBits, size] : sizes) {
            for (const int stopBits : {1, 2}) {
                termios state = cookedTerminal();
                state.c_cflag |= PARENB | PARODD | CMSPAR;  // whatever was there goes
                LineSettings settings = cameraTable(9600);
                settings.parity = row.parity;
                settings.dataBits = dataBits;
                settings.stopBits = stopBits;
                ASSERT_FALSE(applyLineSettings(settings, state).failed());
                EXPECT_EQ(state.c_cflag & (PARENB | PARODD | CMSPAR), row.bits);
                EXPECT_EQ(state.c_cflag & CSIZE, size);
                EXPECT_EQ((state.c_cflag & CSTOPB) != 0, stopBits == 2);

                const LineSettings back = lineSettingsFromTermios(state);
                EXPECT_EQ(back.parity, row.parity);
                EXPECT_EQ(back.dataBits, dataBits);
                EXPECT_EQ(back.stopBits, stopBits);
                EXPECT_EQ(back.baud, 9600u);
            }
        }
    }
}

TEST(ApplyLineSettings, WhatTermiosCannotExpressIsRefusedAndChangesNothing)
{
    LineSettings badRate = cameraTable(12345);
    LineSettings badSize = cameraTable(9600);
    badSize.dataBits = 9;
    LineSettings badStop = cameraTable(9600);
    badStop.stopBits = 3;
    for (const LineSettings& settings : {badRate, badSize, badStop}) {
        termios state = cookedTerminal();
        EXPECT_EQ(applyLineSettings(settings, state).code(), EINVAL);
        EXPECT_TRUE(sameTermios(state, cookedTerminal()));
    }
}

TEST(ApplyLineSettings, SettingsReadFromATermiosPutItBackUnchanged)
{
    std::vector<termios> states;
    states.push_back(cookedTerminal());
    termios raw = cookedTerminal();
    applyLineSettings(cameraTable(57600), raw);
    states.push_back(raw);
    termios xonOnly = cookedTerminal();
    xonOnly.c_iflag = IXON;
    states.push_back(xonOnly);
    termios ignoreParity = raw;
    ignoreParity.c_iflag |= IGNPAR;
    states.push_back(ignoreParity);
    termios space = raw;
    space.c_cflag = (space.c_cflag & ~CSIZE) | CS7 | PARENB | CMSPAR | CSTOPB;
    states.push_back(space);
    termios hungUp = raw;
    cfsetospeed(&hungUp, B0);
    states.push_back(hungUp);
    termios odd = raw;
    odd.c_cc[VMIN] = 4;
    odd.c_cc[VTIME] = 2;
    states.push_back(odd);

    for (std::size_t i = 0; i < states.size(); ++i) {
        termios state = states[i];
        ASSERT_FALSE(applyLineSettings(lineSettingsFromTermios(state), state).failed()) << i;
        EXPECT_TRUE(sameTermios(state, states[i])) << "state " << i;
    }
}

TEST(ApplyLineSettings, AFlagHalfSetIsCompletedWhenTheProgramAsksForIt)
{
    termios state = cookedTerminal();
    state.c_iflag = IXANY | INPCK | IGNPAR;
    state.c_cc[VMIN] = 0;
    const LineSettings read = lineSettingsFromTermios(state);
    EXPECT_TRUE(read.softwareFlow);   // some flow control is on
    EXPECT_FALSE(read.parityCheck);  // bad bytes are dropped, not reported
    EXPECT_FALSE(read.binary);

    ASSERT_FALSE(applyLineSettings(cameraTable(9600), state).failed());
    EXPECT_EQ(state.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(state.c_iflag & (INPCK | IGNPAR | PARMRK), static_cast<tcflag_t>(INPCK));
    EXPECT_EQ(state.c_cc[VMIN], 1);
    EXPECT_EQ(state.c_lflag & (ECHO | ICANON), 0u);
}

TEST(ReadPlan, TheFiveValuesGiveTheWindowsReadRules)
{
    struct Row {
        PortTimeouts timeouts;
        std::size_t count;
        std::optional<std::uint64_t> total;
        std::optional<std::uint64_t> interval;
        bool firstBytes;
    };
    const Row rows[] = {
        {{0, 0, 100, 0, 300}, 10, 100, std::nullopt, false},
        {{0, 0, 15, 0, 15}, 195, 15, std::nullopt, false},
        {{0, 2, 100, 0, 0}, 10, 120, std::nullopt, false},
        {{0, 0, 0, 0, 0}, 10, std::nullopt, std::nullopt, false},  // wait for the count
        {{50, 0, 0, 0, 0}, 10, std::nullopt, 50, false},
        {{50, 0, 100, 0, 0}, 10, 100, 50, false},
        {{maxDword, 0, 0, 0, 0}, 10, 0, std::nullopt, false},  // what is there, now
        {{maxDword, maxDword, 200, 0, 0}, 10, 200, std::nullopt, true},
        {{maxDword, 0, 100, 0, 0}, 10, 100, std::nullopt, false},
        {{maxDword, maxDword, 0, 0, 0}, 2, 2 * std::uint64_t{maxDword}, std::nullopt, false},
        {{0, maxDword, 0, 0, 0}, std::size_t{1} << 40, std::nullopt, std::nullopt, false},  // beyond any clock
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const ReadPlan plan = readPlan(rows[i].timeouts, rows[i].count);
        EXPECT_EQ(plan.totalMs, rows[i].total) << "row " << i;
        EXPECT_EQ(plan.intervalMs, rows[i].interval) << "row " << i;
        EXPECT_EQ(plan.returnOnFirstBytes, rows[i].firstBytes) << "row " << i;
    }
    EXPECT_EQ(writeLimitMs({0, 0, 0, 0, 300}, 4), 300u);
    EXPECT_EQ(writeLimitMs({0, 0, 0, 3, 10}, 4), 22u);
    EXPECT_EQ(writeLimitMs({0, 0, 100, 0, 0}, 4), std::nullopt);
}

TEST(PosixSerialPort, OpensForExclusiveUseAndGivesItUpWhenClosed)
{
    PseudoTerminal pty;
    // Opened first, so that it can look at the terminal's flag whoever runs the test.
    const int observer = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(observer, 0);
    int exclusive = -1;
    {
        auto port = openPort(pty.slavePath());
        ASSERT_EQ(::ioctl(observer, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);

        PortOpener::Result second = PosixSerialPort::open(pty.slavePath());
        EXPECT_EQ(second.error.code(), EBUSY);
        EXPECT_EQ(second.port, nullptr);
    }
    ASSERT_EQ(::ioctl(observer, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    PortOpener::Result again = PosixSerialPort::open(pty.slavePath());
    EXPECT_FALSE(again.error.failed()) << again.error.text();
    EXPECT_NE(again.port, nullptr);
    ::close(observer);
}

TEST(PosixSerialPort, AMissingDeviceOrAFileThatIsNoTerminalIsRefusedWithTheSystemsReason)
{
    PortOpener::Result missing = PosixSerialPort::open("/dev/tarvi-no-such-port");
    EXPECT_EQ(missing.error.code(), ENOENT);
    EXPECT_EQ(missing.port, nullptr);

    test::TempDir dir;
    test::writeFile(dir.file("not-a-port"), "x");
    PortOpener::Result file = PosixSerialPort::open(dir.file("not-a-port"));
    EXPECT_EQ(file.error.code(), ENOTTY);
    EXPECT_EQ(file.port, nullptr);
}

TEST(PosixSerialPort, TheCameraSettingsReachTheTerminal)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 57600, Parity::even).failed());

    const termios state = pty.state();
    EXPECT_EQ(cfgetospeed(&state), B57600);
    EXPECT_EQ(cfgetispeed(&state), B57600);
    EXPECT_EQ(state.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(state.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(state.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(state.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_NE(state.c_iflag & INPCK, 0u);
    EXPECT_EQ(state.c_iflag & (IGNPAR | PARMRK), 0u);
    EXPECT_EQ(state.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(state.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT), 0u);
    EXPECT_EQ(state.c_oflag & OPOST, 0u);
    EXPECT_EQ(state.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(state.c_cc[VMIN], 1);
    EXPECT_EQ(state.c_cc[VTIME], 0);
    // A pseudo-terminal has no parity generator and clears PARENB itself;
    // the bit the program asks for is checked on the termios above.

    LineSettings back;
    ASSERT_FALSE(port->getLineSettings(back).failed());
    EXPECT_EQ(back.baud, 57600u);
    EXPECT_EQ(back.dataBits, 8);
    EXPECT_EQ(back.stopBits, 1);
    EXPECT_TRUE(back.parityCheck);
    EXPECT_TRUE(back.binary);
    EXPECT_FALSE(back.hardwareFlow);
    EXPECT_FALSE(back.softwareFlow);
    EXPECT_FALSE(back.dtrOn);
    EXPECT_FALSE(back.rtsOn);
}

TEST(PosixSerialPort, EachSpeedOfTheSpeedTableReachesTheTerminal)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    const std::pair<std::uint32_t, speed_t> table[] = {{57600, B57600}, {19200, B19200}, {9600, B9600}, {1200, B1200}};
    for (const auto& [baud, speed] : table) {
        ASSERT_FALSE(configure(*port, baud, Parity::even).failed()) << baud;
        const termios state = pty.state();
        EXPECT_EQ(cfgetospeed(&state), speed) << baud;
    }
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    const termios telescope = pty.state();
    EXPECT_EQ(cfgetospeed(&telescope), B9600);
    EXPECT_EQ(telescope.c_cflag & (PARENB | CSIZE | CSTOPB), static_cast<tcflag_t>(CS8));

    LineSettings rate = cameraTable(31250);
    EXPECT_EQ(port->setLineSettings(rate).code(), EINVAL);
}

TEST(PosixSerialPort, TheKeptCopyPutsBackTheTerminalExactlyAsItWas)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    const termios before = pty.state();
    ASSERT_NE(before.c_lflag & ICANON, 0u);  // a fresh pseudo-terminal is cooked

    LineSettings kept;
    ASSERT_FALSE(port->getLineSettings(kept).failed());
    EXPECT_FALSE(kept.binary);
    ASSERT_FALSE(configure(*port, 19200, Parity::even).failed());
    ASSERT_FALSE(sameTermios(pty.state(), before));

    ASSERT_FALSE(port->setLineSettings(kept).failed());
    EXPECT_TRUE(sameTermios(pty.state(), before));
}

TEST(PosixSerialPort, EveryByteValueCrossesUnchangedBothWays)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 57600, Parity::even).failed());
    ASSERT_FALSE(port->setTimeouts(readingFor(2000)).failed());
    const Bytes bytes = everyByteValue();

    const IoResult written = port->write(bytes);
    EXPECT_FALSE(written.error.failed()) << written.error.text();
    EXPECT_EQ(written.count, bytes.size());
    EXPECT_EQ(pty.receive(bytes.size()), bytes);

    pty.send(bytes);
    Bytes got(bytes.size());
    const IoResult read = port->read(got);
    EXPECT_FALSE(read.error.failed()) << read.error.text();
    ASSERT_EQ(read.count, bytes.size());
    EXPECT_EQ(got, bytes);
    EXPECT_TRUE(pty.nothingWaiting());  // no echo of what came in
}

TEST(PosixSerialPort, AReadReturnsOnceItsCountIsInAndLeavesTheRestQueued)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    ASSERT_FALSE(port->setTimeouts(readingFor(30000)).failed());
    const Bytes sent = pattern(15);
    pty.send(sent);

    Bytes first(10);
    auto reading = std::async(std::launch::async, [&] { return port->read(first); });
    ASSERT_EQ(reading.wait_for(10s), std::future_status::ready) << "still waiting with its count in";
    const IoResult read = reading.get();
    EXPECT_FALSE(read.error.failed());
    ASSERT_EQ(read.count, 10u);
    EXPECT_EQ(first, Bytes(sent.begin(), sent.begin() + 10));

    Bytes rest(5);
    const IoResult next = port->read(rest);
    ASSERT_EQ(next.count, 5u);
    EXPECT_EQ(rest, Bytes(sent.begin() + 10, sent.end()));
}

TEST(PosixSerialPort, AtTheDeadlineAReadGivesWhatArrivedAndNoError)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    ASSERT_FALSE(port->setTimeouts(readingFor(100)).failed());

    Bytes buffer(10, 0xEE);
    const IoResult silent = port->read(buffer);
    EXPECT_FALSE(silent.error.failed());
    EXPECT_EQ(silent.count, 0u);

    const Bytes sent = {'1', '2', ':', '#'};
    pty.send(sent);
    waitForQueued(*port, sent.size());
    const IoResult partial = port->read(buffer);
    EXPECT_FALSE(partial.error.failed());
    ASSERT_EQ(partial.count, sent.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), sent);
    EXPECT_EQ(buffer[4], 0xEE);
}

TEST(PosixSerialPort, TheWaitHookRunsWhileAReadWaitsAndNeverWhenBytesAreIn)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    ASSERT_FALSE(port->setTimeouts(readingFor(180)).failed());
    int hooked = 0;
    port->setWaitHook([&] { ++hooked; });
    Bytes buffer(4);
    // A silent device: the windows get their turns through the deadline,
    // and one at its end, for whatever waits next.
    EXPECT_EQ(port->read(buffer).count, 0u);
    EXPECT_GE(hooked, 2);
    EXPECT_LE(hooked, 4);
    hooked = 0;
    pty.send({'1', '2', '3', '4'});
    waitForQueued(*port, 4);
    EXPECT_EQ(port->read(buffer).count, 4u);
    EXPECT_EQ(hooked, 0);
}

TEST(PosixSerialPort, ATrickleOfBytesDoesNotStretchTheDeadline)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    ASSERT_FALSE(port->setTimeouts(readingFor(100)).failed());
    const Bytes sent = pattern(40);  // 1.2 s of bytes, 30 ms apart

    Trickle trickle(pty, sent, 30ms);
    Bytes buffer(sent.size());
    const IoResult read = port->read(buffer);
    trickle.stop();

    EXPECT_FALSE(read.error.failed());
    EXPECT_LT(read.count, sent.size()) << "the read waited for the whole trickle";
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(read.count)),
              Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(read.count)));
}

TEST(PosixSerialPort, AGapLongerThanTheIntervalEndsTheRead)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    PortTimeouts timeouts;
    timeouts.readInterval = 100;  // and no total: the first byte is waited for
    ASSERT_FALSE(port->setTimeouts(timeouts).failed());

    const Bytes sent = pattern(10);
    std::jthread device([&pty, &sent](std::stop_token stop) {
        pty.send(Bytes(sent.begin(), sent.begin() + 5));
        for (int i = 0; i < 100 && !stop.stop_requested(); ++i)
            std::this_thread::sleep_for(10ms);
        pty.send(Bytes(sent.begin() + 5, sent.end()));
    });
    Bytes buffer(sent.size());
    const IoResult read = port->read(buffer);
    device.request_stop();
    device.join();

    EXPECT_FALSE(read.error.failed());
    EXPECT_GE(read.count, 1u);
    EXPECT_LT(read.count, sent.size()) << "the gap did not end the read";
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(read.count)),
              Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(read.count)));
}

TEST(PosixSerialPort, NoWaitAtAllTakesOnlyWhatIsAlreadyThere)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    PortTimeouts timeouts;
    timeouts.readInterval = maxDword;
    ASSERT_FALSE(port->setTimeouts(timeouts).failed());

    Bytes buffer(10);
    const IoResult empty = port->read(buffer);
    EXPECT_FALSE(empty.error.failed());
    EXPECT_EQ(empty.count, 0u);

    pty.send({1, 2, 3});
    waitForQueued(*port, 3);
    const IoResult some = port->read(buffer);
    ASSERT_EQ(some.count, 3u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{1, 2, 3}));
}

TEST(PosixSerialPort, WaitingForTheFirstBytesReturnsWithThem)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    PortTimeouts timeouts;
    timeouts.readInterval = maxDword;
    timeouts.readTotalMultiplier = maxDword;
    timeouts.readTotalConstant = 30000;
    ASSERT_FALSE(port->setTimeouts(timeouts).failed());

    std::jthread device([&pty](std::stop_token stop) {
        std::this_thread::sleep_for(20ms);
        pty.send({0x06});
        for (int i = 0; i < 300 && !stop.stop_requested(); ++i)
            std::this_thread::sleep_for(10ms);
        pty.send({0x15});
    });
    Bytes buffer(10);
    const IoResult read = port->read(buffer);
    device.request_stop();
    device.join();
    ASSERT_EQ(read.count, 1u);
    EXPECT_EQ(buffer[0], 0x06);
}

TEST(PosixSerialPort, AHangUpFailsReadsAndWritesAtOnce)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    ASSERT_FALSE(port->setTimeouts(readingFor(5000)).failed());

    std::thread unplug([&pty] {
        std::this_thread::sleep_for(50ms);
        pty.hangUp();
    });
    Bytes buffer(10);
    const IoResult waiting = port->read(buffer);
    unplug.join();
    EXPECT_EQ(waiting.error.code(), EIO) << "a deadline passed instead: " << waiting.error.text();

    const IoResult again = port->read(buffer);
    EXPECT_EQ(again.error.code(), EIO);
    const Bytes command = {':', 'G', 'S', '#'};
    const IoResult written = port->write(command);
    EXPECT_TRUE(written.error.failed());
    EXPECT_EQ(written.error.code(), EIO);
}

TEST(PosixSerialPort, AWriteNobodyTakesStopsAtItsDeadlineHavingSentAPrefix)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    PortTimeouts timeouts;
    timeouts.writeTotalConstant = 100;
    ASSERT_FALSE(port->setTimeouts(timeouts).failed());

    const Bytes bytes = pattern(1 << 20);  // far more than the terminal's buffers hold
    const IoResult written = port->write(bytes);
    EXPECT_FALSE(written.error.failed());
    ASSERT_GT(written.count, 0u);
    ASSERT_LT(written.count, bytes.size());

    const Bytes arrived = pty.receive(written.count);
    EXPECT_EQ(arrived, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(written.count)));
    EXPECT_TRUE(pty.nothingWaiting());
}

TEST(PosixSerialPort, StatusCountsTheUnreadBytesAndAPseudoTerminalNeverHoldsForCts)
{
    PseudoTerminal pty;
    auto port = openPort(pty.slavePath());
    ASSERT_FALSE(configure(*port, 9600, Parity::none).failed());
    EXPECT_FALSE(port->setQueueSizes(1200, 1200).failed());

    PortStatus status;
    ASSERT_FALSE(port->clearErrors(status).failed());
    EXPECT_EQ(status.inQueue, 0u);
    EXPECT_FALSE(status.ctsHold);

    pty.send(pattern(7));
    waitForQueued(*port, 7);
    LineSettings flow;
    ASSERT_FALSE(port->getLineSettings(flow).failed());
    flow.hardwareFlow = true;
    ASSERT_FALSE(port->setLineSettings(flow).failed());
    ASSERT_NE(pty.state().c_cflag & CRTSCTS, 0u);
    ASSERT_FALSE(port->clearErrors(status).failed());
    EXPECT_EQ(status.inQueue, 7u);
    EXPECT_FALSE(status.ctsHold);  // it has no CTS line to wait on

    Bytes buffer(7);
    ASSERT_FALSE(port->setTimeouts(readingFor(100)).failed());
    EXPECT_EQ(port->read(buffer).count, 7u);  // the status read took nothing
}

}  // namespace
}  // namespace tarvi
