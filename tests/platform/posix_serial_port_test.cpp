#include "platform/posix_serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

#include "platform/device_opener.h"
#include "support/port_checks.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
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
        char name[128];
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error(std::string("pseudo-terminal: ") + std::strerror(errno));
        slavePath_ = name;
    }
    ~PseudoTerminal() { hangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    void hangUp()
    {
        if (master_ >= 0)
            ::close(std::exchange(master_, -1));
    }
    void send(const Bytes& bytes) const
    {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0 && errno != EINTR)
                throw std::runtime_error(std::string("master write: ") + std::strerror(errno));
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }
    // What the port wrote: `count` bytes, or fewer if they have not all come
    // within a few seconds.
    Bytes receive(std::size_t count) const
    {
        Bytes got;
        for (const auto giveUp = std::chrono::steady_clock::now() + 5s;
             got.size() < count && std::chrono::steady_clock::now() < giveUp;) {
            pollfd entry{master_, POLLIN, 0};
            std::uint8_t chunk[4096];
            const ssize_t n = ::poll(&entry, 1, 100) <= 0 ? 0 : ::read(master_, chunk, std::min(sizeof chunk, count - got.size()));
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
    // On the master the termios calls act on the slave, as a simulator sees it.
    termios state() const
    {
        termios state{};
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
    LineSettings s;
    if (const SysError error = port.getLineSettings(s); error.failed())
        return error;
    s.baud = baud;
    s.parity = parity;
    s.dataBits = 8;
    s.stopBits = 1;
    s.parityCheck = s.binary = true;
    s.hardwareFlow = s.softwareFlow = s.dtrOn = s.rtsOn = false;
    return port.setLineSettings(s);
}

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

termios cookedTerminal()
{
    termios state{};
    state.c_iflag = BRKINT | ICRNL | IXON | IMAXBEL;
    state.c_oflag = OPOST | ONLCR;
    state.c_cflag = CS8 | CREAD | HUPCL;
    state.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN | ECHOCTL | ECHOKE;
    state.c_cc[VINTR] = 3;
    state.c_cc[VMIN] = 1;
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
    settings.parity = Parity::even;
    settings.parityCheck = true;
    return settings;
}

// The camera's line: 57600 baud, 8 bits, even parity, one stop bit, raw, no
// flow control. A pseudo-terminal has no parity generator and clears PARENB
// itself, so the parity bit is checked only where asked.
void expectCameraLine(const termios& state, bool parityBit)
{
    EXPECT_EQ(cfgetospeed(&state), B57600);
    EXPECT_EQ(cfgetispeed(&state), B57600);
    EXPECT_EQ(state.c_cflag & (CSIZE | CSTOPB | CRTSCTS | CLOCAL | CREAD), tcflag_t(CS8 | CLOCAL | CREAD));
    if (parityBit) {
        EXPECT_EQ(state.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB));
    }
    EXPECT_EQ(state.c_iflag & (INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY | IGNBRK | BRKINT | ISTRIP | INLCR |
                               IGNCR | ICRNL | IUCLC), tcflag_t(INPCK));
    EXPECT_EQ(state.c_oflag & OPOST, 0u);
    EXPECT_EQ(state.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(state.c_cc[VMIN], 1);
    EXPECT_EQ(state.c_cc[VTIME], 0);
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
    expectCameraLine(state, true);
    EXPECT_NE(state.c_cflag & HUPCL, 0u);  // not the program's to change
}

TEST(ApplyLineSettings, ParityDataBitsAndStopBitsSetTheirBitsAndReadBack)
{
    const std::pair<Parity, tcflag_t> parities[] = {{Parity::none, 0}, {Parity::odd, PARENB | PARODD},
                                                    {Parity::even, PARENB}, {Parity::mark, PARENB | PARODD | CMSPAR},
                                                    {Parity::space, PARENB | CMSPAR}};
    const std::pair<int, tcflag_t> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& [parity, bits] : parities) {
        for (const auto& [dataBits, size] : sizes) {
            for (const int stopBits : {1, 2}) {
                termios state = cookedTerminal();
                state.c_cflag |= PARENB | PARODD | CMSPAR;  // whatever was there goes
                LineSettings settings = cameraTable(9600);
                settings.parity = parity;
                settings.dataBits = dataBits;
                settings.stopBits = stopBits;
                ASSERT_FALSE(applyLineSettings(settings, state).failed());
                EXPECT_EQ(state.c_cflag & (PARENB | PARODD | CMSPAR | CSIZE | CSTOPB),
                          bits | size | (stopBits == 2 ? CSTOPB : 0));
                const LineSettings back = lineSettingsFromTermios(state);
                EXPECT_EQ(back.parity, parity);
                EXPECT_EQ(back.dataBits, dataBits);
                EXPECT_EQ(back.stopBits, stopBits);
                EXPECT_EQ(back.baud, 9600u);
            }
        }
    }
}

TEST(ApplyLineSettings, WhatTermiosCannotExpressIsRefusedAndChangesNothing)
{
    LineSettings badRate = cameraTable(12345), badSize = cameraTable(9600), badStop = cameraTable(9600);
    badSize.dataBits = 9;
    badStop.stopBits = 3;
    for (const LineSettings& settings : {badRate, badSize, badStop}) {
        termios state = cookedTerminal();
        EXPECT_EQ(applyLineSettings(settings, state).code(), EINVAL);
        EXPECT_TRUE(sameTermios(state, cookedTerminal()));
    }
}

TEST(ApplyLineSettings, SettingsReadFromATermiosPutItBackUnchanged)
{
    termios raw = cookedTerminal();
    applyLineSettings(cameraTable(57600), raw);
    std::vector<termios> states(7, raw);
    states[0] = cookedTerminal();
    states[1].c_iflag = IXON;
    states[2].c_iflag |= IGNPAR;
    states[3].c_cflag = (raw.c_cflag & ~CSIZE) | CS7 | PARENB | CMSPAR | CSTOPB;
    cfsetospeed(&states[4], B0);
    states[5].c_cc[VMIN] = 4;
    states[5].c_cc[VTIME] = 2;
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
    EXPECT_EQ(state.c_iflag & (IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK), tcflag_t(INPCK));
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
    EXPECT_NE(PosixSerialPort::open(pty.slavePath()).port, nullptr);
    ::close(observer);
}

// What each kind of device name opens to, or the system's reason it does not.
TEST(DeviceOpener, EachKindOfNameOpensItsDeviceOrKeepsTheSystemsReason)
{
    PseudoTerminal pty;
    test::TempDir dir;
    test::writeFile(dir.file("not-a-port"), "x");
    std::vector<std::string> asked;
    DeviceOpener hooked([&](const std::string& name) {
        asked.push_back(name);
        return name == "camera" ? pty.slavePath() : name == "gone" ? "/dev/pts/tarvi-gone" : std::string();
    });
    DeviceOpener plain;
    const struct {
        DeviceOpener& opener;
        std::string device;
        int error;
    } cases[] = {
        {plain, pty.slavePath(), 0},     {plain, "/dev/ttyTarviMissing0", ENOENT},
        {plain, dir.file("not-a-port"), ENOTTY}, {plain, "sim:camera", ENODEV},
        {hooked, "sim:camera", 0},       {hooked, "sim:telescope", ENODEV},
        {hooked, "sim:gone", ENOENT},    {plain, "tcp:127.0.0.1", EINVAL},
    };
    for (const auto& c : cases) {
        PortOpener::Result opened = c.opener.open(c.device);
        EXPECT_EQ(opened.error.code(), c.error) << c.device << ": " << opened.error.text();
        ASSERT_EQ(opened.port != nullptr, c.error == 0) << c.device;
        if (opened.port == nullptr)
            continue;
        // Configures nothing: a device's termios is not the opener's
        // business, and a fresh pseudo-terminal passes these bytes as they are.
        ASSERT_FALSE(opened.port->setTimeouts(readingFor(0)).failed());
        const Bytes probe = {':', 'G', 'S', '#'};
        EXPECT_EQ(opened.port->write(probe).count, probe.size());
        EXPECT_EQ(pty.receive(probe.size()), probe);
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"camera", "telescope", "gone"}));
    EXPECT_EQ(PosixSerialPort::open(dir.file("not-a-port")).error.code(), ENOTTY);
}

TEST(DeviceOpener, PermissionAdviceNamesTheGroupThatOwnsTheDevice)
{
    test::TempDir dir;
    const std::string device = dir.file("ttyS9");
    test::writeFile(device, "");
    const passwd* me = ::getpwuid(::getuid());
    const group* system = ::getgrgid(1);  // belongs to the system on every Debian machine
    ASSERT_TRUE(me != nullptr && system != nullptr);
    const std::string name = system->gr_name;
    const std::string generic = "You may not use " + device
                                + ".  Serial devices usually belong to the group \"dialout\"; ask the computer's"
                                  " administrator to let you use this one.";
    const struct {
        gid_t group;
        mode_t mode;
        std::string advice;
    } cases[] = {
        {1, 0660, "You may not use " + device + ".  It belongs to the group \"" + name + "\": add yourself to it with \"sudo adduser "
                      + me->pw_name + " " + name + "\", then log out and in again."},
        {1, 0600, generic},  // the group may not use it either
        {0, 0660, generic},  // nobody joins root's group
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::chown(device.c_str(), static_cast<uid_t>(-1), c.group) | ::chmod(device.c_str(), c.mode), 0)
            << std::strerror(errno);
        EXPECT_EQ(permissionAdvice(device), c.advice) << c.group << " " << c.mode;
    }
    ::unlink(device.c_str());
    EXPECT_EQ(permissionAdvice(device), generic) << "a device that is not there";
}

// A port on a pseudo-terminal configured as the telescope's line.
class PtyPort : public ::testing::Test {
protected:
    PseudoTerminal pty;
    std::unique_ptr<SerialPort> port = openPort(pty.slavePath());

    void SetUp() override { ASSERT_FALSE(configure(*port, 9600, Parity::none).failed()); }
    void setTimeouts(const PortTimeouts& timeouts) { ASSERT_FALSE(port->setTimeouts(timeouts).failed()); }
    IoResult read(Bytes& buffer) { return port->read(buffer); }
};

TEST_F(PtyPort, TheProgramsSettingsReachTheTerminalAndTheKeptCopyPutsItBack)
{
    ASSERT_FALSE(configure(*port, 57600, Parity::even).failed());
    expectCameraLine(pty.state(), false);
    LineSettings back;
    ASSERT_FALSE(port->getLineSettings(back).failed());
    EXPECT_EQ(back.baud, 57600u);
    EXPECT_TRUE(back.parityCheck && back.binary && back.dataBits == 8 && back.stopBits == 1);
    EXPECT_FALSE(back.hardwareFlow || back.softwareFlow || back.dtrOn || back.rtsOn);

    const std::pair<std::uint32_t, speed_t> table[] = {{19200, B19200}, {9600, B9600}, {1200, B1200}};
    for (const auto& [baud, speed] : table) {
        ASSERT_FALSE(configure(*port, baud, Parity::even).failed()) << baud;
        const termios state = pty.state();
        EXPECT_EQ(cfgetospeed(&state), speed) << baud;
    }
    EXPECT_EQ(port->setLineSettings(cameraTable(31250)).code(), EINVAL);

    // A fresh pseudo-terminal is cooked; the kept copy puts it back exactly.
    PseudoTerminal fresh;
    auto other = openPort(fresh.slavePath());
    const termios cooked = fresh.state();
    ASSERT_NE(cooked.c_lflag & ICANON, 0u);
    LineSettings kept;
    ASSERT_FALSE(other->getLineSettings(kept).failed());
    EXPECT_FALSE(kept.binary);
    ASSERT_FALSE(configure(*other, 19200, Parity::even).failed());
    ASSERT_FALSE(sameTermios(fresh.state(), cooked));
    ASSERT_FALSE(other->setLineSettings(kept).failed());
    EXPECT_TRUE(sameTermios(fresh.state(), cooked));
}

TEST_F(PtyPort, EveryByteValueCrossesUnchangedBothWays)
{
    ASSERT_FALSE(configure(*port, 57600, Parity::even).failed());
    setTimeouts(readingFor(2000));
    const Bytes bytes = test::everyByteValue();
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

TEST_F(PtyPort, AReadReturnsOnceItsCountIsInAndLeavesTheRestQueued)
{
    setTimeouts(readingFor(30000));
    const Bytes sent = pattern(15);
    pty.send(sent);
    Bytes first(10), rest(5);
    auto reading = std::async(std::launch::async, [&] { return port->read(first); });
    ASSERT_EQ(reading.wait_for(10s), std::future_status::ready) << "still waiting with its count in";
    const IoResult got = reading.get();
    EXPECT_FALSE(got.error.failed());
    ASSERT_EQ(got.count, 10u);
    EXPECT_EQ(first, Bytes(sent.begin(), sent.begin() + 10));
    ASSERT_EQ(read(rest).count, 5u);
    EXPECT_EQ(rest, Bytes(sent.begin() + 10, sent.end()));
}

TEST_F(PtyPort, AtTheDeadlineAReadGivesWhatArrivedAndNoError)
{
    setTimeouts(readingFor(100));
    Bytes buffer(10, 0xEE);
    const IoResult silent = read(buffer);
    EXPECT_FALSE(silent.error.failed());
    EXPECT_EQ(silent.count, 0u);

    pty.send({'1', '2', ':', '#'});
    waitForQueued(*port, 4);
    const IoResult partial = read(buffer);
    EXPECT_FALSE(partial.error.failed());
    ASSERT_EQ(partial.count, 4u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{'1', '2', ':', '#', 0xEE}));
}

TEST_F(PtyPort, TheWaitHookRunsWhileAReadWaitsAndNeverWhenBytesAreIn)
{
    setTimeouts(readingFor(180));
    int hooked = 0;
    port->setWaitHook([&] { ++hooked; });
    Bytes buffer(4);
    // A silent device: the windows get their turns through the deadline,
    // and one at its end, for whatever waits next.
    EXPECT_EQ(read(buffer).count, 0u);
    EXPECT_GE(hooked, 2);
    EXPECT_LE(hooked, 4);
    hooked = 0;
    pty.send({'1', '2', '3', '4'});
    waitForQueued(*port, 4);
    EXPECT_EQ(read(buffer).count, 4u);
    EXPECT_EQ(hooked, 0);
}

// The device sends its bytes one at a time, `gap` apart, with a long pause
// after the first `before` of them; it stops when the read is over.
std::jthread device(PseudoTerminal& pty, Bytes bytes, std::chrono::milliseconds gap, std::size_t before, int pauseMs)
{
    return std::jthread([&pty, bytes, gap, before, pauseMs](std::stop_token stop) {
        for (std::size_t i = 0; i < bytes.size() && !stop.stop_requested(); ++i) {
            for (int waited = 0; i == before && waited < pauseMs && !stop.stop_requested(); waited += 10)
                std::this_thread::sleep_for(10ms);
            pty.send({bytes[i]});
            std::this_thread::sleep_for(gap);
        }
    });
}

TEST_F(PtyPort, ReadDeadlinesAreAboutTheWholeReadAndGapsEndItOnlyWhenAsked)
{
    PortTimeouts interval;
    interval.readInterval = 100;  // and no total: the first byte is waited for
    const struct {
        const char* what;
        PortTimeouts timeouts;
        std::size_t size;
        std::chrono::milliseconds gap;
        std::size_t before;
        int pauseMs;
        std::size_t least, most;
    } cases[] = {
        // 1.2 s of bytes, 30 ms apart: a trickle does not stretch the total.
        {"trickle", readingFor(100), 40, 30ms, 0, 0, 0, 39},
        {"gap longer than the interval", interval, 10, 0ms, 5, 1000, 1, 9},
        {"first bytes", {maxDword, maxDword, 30000, 0, 0}, 2, 0ms, 1, 3000, 1, 1},
        {"no wait at all", {maxDword, 0, 0, 0, 0}, 1, 0ms, 0, 1000, 0, 0},
    };
    for (const auto& c : cases) {
        setTimeouts(c.timeouts);
        const Bytes sent = pattern(c.size);
        Bytes buffer(sent.size());
        IoResult got;
        {
            std::jthread far = device(pty, sent, c.gap, c.before, c.pauseMs);
            got = read(buffer);
        }
        EXPECT_FALSE(got.error.failed()) << c.what;
        EXPECT_GE(got.count, c.least) << c.what;
        EXPECT_LE(got.count, c.most) << c.what;
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + std::ptrdiff_t(got.count)),
                  Bytes(sent.begin(), sent.begin() + std::ptrdiff_t(got.count))) << c.what;
        ASSERT_FALSE(port->discardInput().failed());
    }
    // With no wait, what is already there is taken.
    Bytes buffer(10);
    pty.send({1, 2, 3});
    waitForQueued(*port, 3);
    ASSERT_EQ(read(buffer).count, 3u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{1, 2, 3}));
}

TEST_F(PtyPort, AHangUpFailsReadsAndWritesAtOnce)
{
    setTimeouts(readingFor(5000));
    std::thread unplug([this] {
        std::this_thread::sleep_for(50ms);
        pty.hangUp();
    });
    Bytes buffer(10);
    const IoResult waiting = read(buffer);
    unplug.join();
    EXPECT_EQ(waiting.error.code(), EIO) << "a deadline passed instead: " << waiting.error.text();
    EXPECT_EQ(read(buffer).error.code(), EIO);
    EXPECT_EQ(port->write(Bytes{':', 'G', 'S', '#'}).error.code(), EIO);
}

TEST_F(PtyPort, AWriteNobodyTakesStopsAtItsDeadlineHavingSentAPrefix)
{
    PortTimeouts timeouts;
    timeouts.writeTotalConstant = 100;
    setTimeouts(timeouts);
    const Bytes bytes = pattern(1 << 20);  // far more than the terminal's buffers hold
    const IoResult written = port->write(bytes);
    EXPECT_FALSE(written.error.failed());
    ASSERT_GT(written.count, 0u);
    ASSERT_LT(written.count, bytes.size());
    EXPECT_EQ(pty.receive(written.count), Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(written.count)));
    EXPECT_TRUE(pty.nothingWaiting());
}

TEST_F(PtyPort, StatusCountsTheUnreadBytesAndAPseudoTerminalNeverHoldsForCts)
{
    EXPECT_FALSE(port->setQueueSizes(1200, 1200).failed());
    PortStatus status;
    ASSERT_FALSE(port->clearErrors(status).failed());
    EXPECT_EQ(status.inQueue, 0u);
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
    setTimeouts(readingFor(100));
    EXPECT_EQ(read(buffer).count, 7u);  // the status read took nothing
}

}  // namespace
}  // namespace tarvi
