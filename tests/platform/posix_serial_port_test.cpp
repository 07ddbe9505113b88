#include "platform/posix_serial_port.h"
#include "platform/tcp_serial_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <stdexcept>

#include "platform/device_opener.h"
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

[[noreturn]] termios fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The far end of a port under test, as the test plays it: a pseudo-terminal's master or a socket.
class FarEnd {
public:
    explicit FarEnd(int fd) : fd_(fd) {}
    ~FarEnd() { close(); }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    int fd() const { return fd_; }
    void close() { if (fd_ >= 0) ::close(std::exchange(fd_, -1)); }
    void send(const Bytes& bytes) const
    {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0 && errno != EINTR)
                fail("far end write");
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }
    // What the port wrote: `count` bytes, or fewer if they do not come within 5 s.
    Bytes receive(std::size_t count) const
    {
        Bytes got;
        for (const auto giveUp = std::chrono::steady_clock::now() + 5s;
             got.size() < count && std::chrono::steady_clock::now() < giveUp;) {
            pollfd entry{fd_, POLLIN, 0};
            std::uint8_t chunk[4096];
            const ssize_t n = ::poll(&entry, 1, 100) <= 0 ? 0 : ::read(fd_, chunk, std::min(sizeof chunk, count - got.size()));
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }
    bool nothingWaiting() const { pollfd entry{fd_, POLLIN, 0}; return ::poll(&entry, 1, 50) == 0; }

protected:
    int fd_;
};

// A pseudo-terminal: the port under test opens the slave, the test plays the
// device on the master (where the termios calls act on the slave).
class PseudoTerminal : public FarEnd {
public:
    PseudoTerminal() : FarEnd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        char name[128];
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0 || ::ptsname_r(fd_, name, sizeof name) != 0)
            fail("pseudo-terminal");
        slavePath = name;
    }

    std::string slavePath;
    void hangUp() { close(); }
    termios state() const
    {
        termios state{};
        return ::tcgetattr(fd_, &state) == 0 ? state : fail("tcgetattr");
    }
};

// Every byte value crosses both ways; a read with its count in returns at once, status counts
// the unread bytes, and at its deadline a read gives what arrived, then nothing, and no error.
void expectEveryByteCrosses(SerialPort& port, const FarEnd& far)
{
    ASSERT_FALSE(port.setTimeouts(readingFor(30000)).failed());
    const Bytes bytes = everyByteValue();
    const IoResult written = port.write(bytes);
    EXPECT_TRUE(!written.error.failed() && written.count == bytes.size()) << written.error.text();
    EXPECT_EQ(far.receive(bytes.size()), bytes);
    far.send(bytes);
    far.send({'1', '2', ':', '#'});
    waitForQueued(port, bytes.size() + 4);
    Bytes got(bytes.size());
    auto reading = std::async(std::launch::async, [&] { return port.read(got); });
    ASSERT_EQ(reading.wait_for(10s), std::future_status::ready) << "still waiting with its count in";
    const IoResult read = reading.get();
    EXPECT_TRUE(!read.error.failed() && read.count == bytes.size()) << read.error.text();
    EXPECT_EQ(got, bytes);
    EXPECT_TRUE(far.nothingWaiting());  // no echo of what came in
    ASSERT_FALSE(port.setTimeouts(readingFor(100)).failed());
    Bytes buffer(10, 0xEE);
    const IoResult partial = port.read(buffer);
    EXPECT_TRUE(!partial.error.failed() && partial.count == 4u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{'1', '2', ':', '#', 0xEE}));
    const IoResult silent = port.read(buffer);
    EXPECT_TRUE(!silent.error.failed() && silent.count == 0);
}

// The program's line: 8 bits, one stop bit, errors reported, raw, no flow control.
LineSettings line(std::uint32_t baud, Parity parity = Parity::even, int dataBits = 8, int stopBits = 1)
{
    return {.baud = baud, .dataBits = dataBits, .parity = parity, .stopBits = stopBits, .parityCheck = true,
            .native = {}};
}

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
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

// The camera's line: 57600 baud, 8 bits, even parity, raw. A pseudo-terminal
// has no parity generator and clears PARENB itself, so that bit is checked
// only where asked.
void expectCameraLine(const termios& state, bool parityBit)
{
    EXPECT_EQ(cfgetospeed(&state), B57600);
    EXPECT_EQ(cfgetispeed(&state), B57600);
    EXPECT_EQ(state.c_cflag & (CSIZE | CSTOPB | CRTSCTS | CLOCAL | CREAD), tcflag_t(CS8 | CLOCAL | CREAD));
    EXPECT_TRUE(!parityBit || (state.c_cflag & (PARENB | PARODD | CMSPAR)) == tcflag_t(PARENB));
    EXPECT_EQ(state.c_iflag & (INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY | IGNBRK | BRKINT | ISTRIP | INLCR |
                               IGNCR | ICRNL | IUCLC), tcflag_t(INPCK));
    EXPECT_EQ(state.c_oflag & OPOST, 0u);
    EXPECT_EQ(state.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(state.c_cc[VMIN], 1);
    EXPECT_EQ(state.c_cc[VTIME], 0);
}

// Rates, parity and bits both ways; refusals leave the termios alone; settings read from a
// termios put it back; a half-set flag is completed when asked.
TEST(Termios, RatesParityBitsRefusalsAndRoundTrips)
{
    const std::pair<std::uint32_t, speed_t> rates[] = {{57600, B57600}, {19200, B19200}, {9600, B9600}, {1200, B1200},
                                                       {50, B50}, {115200, B115200}, {4000000, B4000000}};
    for (const auto& [baud, speed] : rates) {
        EXPECT_EQ(speedFromBaud(baud), speed) << baud;
        EXPECT_EQ(baudFromSpeed(speed), baud) << baud;
    }
    EXPECT_EQ(speedFromBaud(56600), std::nullopt);  // the camera's label, not a rate
    EXPECT_EQ(baudFromSpeed(B0), 0u);

    termios camera = cookedTerminal();
    ASSERT_FALSE(applyLineSettings(line(57600), camera).failed());
    expectCameraLine(camera, true);
    EXPECT_NE(camera.c_cflag & HUPCL, 0u);  // not the program's to change

    const std::pair<Parity, tcflag_t> parities[] = {{Parity::none, 0}, {Parity::odd, PARENB | PARODD},
                                                    {Parity::even, PARENB}, {Parity::mark, PARENB | PARODD | CMSPAR},
                                                    {Parity::space, PARENB | CMSPAR}};
    const std::pair<int, tcflag_t> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& [parity, bits] : parities) {
        for (const auto& [dataBits, size] : sizes) {
            for (const int stopBits : {1, 2}) {
                termios state = cookedTerminal();
                state.c_cflag |= PARENB | PARODD | CMSPAR;  // whatever was there goes
                ASSERT_FALSE(applyLineSettings(line(9600, parity, dataBits, stopBits), state).failed());
                EXPECT_EQ(state.c_cflag & (PARENB | PARODD | CMSPAR | CSIZE | CSTOPB), bits | size | (stopBits == 2 ? CSTOPB : 0));
                const LineSettings back = lineSettingsFromTermios(state);
                EXPECT_TRUE(back.parity == parity && back.dataBits == dataBits && back.stopBits == stopBits && back.baud == 9600u);
            }
        }
    }
    for (const LineSettings& settings : {line(12345), line(9600, Parity::even, 9), line(9600, Parity::even, 8, 3)}) {
        termios state = cookedTerminal();
        EXPECT_EQ(applyLineSettings(settings, state).code(), EINVAL);
        EXPECT_TRUE(sameTermios(state, cookedTerminal()));
    }
    std::vector<termios> states(7, camera);
    states[0] = cookedTerminal();
    states[1].c_iflag = IXON;
    states[2].c_iflag |= IGNPAR;
    states[3].c_cflag = (camera.c_cflag & ~CSIZE) | CS7 | PARENB | CMSPAR | CSTOPB;
    cfsetospeed(&states[4], B0);
    states[5].c_cc[VMIN] = 4;
    states[5].c_cc[VTIME] = 2;
    for (std::size_t i = 0; i < states.size(); ++i) {
        termios state = states[i];
        ASSERT_FALSE(applyLineSettings(lineSettingsFromTermios(state), state).failed()) << i;
        EXPECT_TRUE(sameTermios(state, states[i])) << "state " << i;
    }
    termios half = cookedTerminal();
    half.c_iflag = IXANY | INPCK | IGNPAR;
    half.c_cc[VMIN] = 0;
    const LineSettings read = lineSettingsFromTermios(half);
    EXPECT_TRUE(read.softwareFlow);  // some flow control is on
    EXPECT_FALSE(read.parityCheck || read.binary);  // bad bytes are dropped, not reported
    ASSERT_FALSE(applyLineSettings(line(9600), half).failed());
    EXPECT_EQ(half.c_iflag & (IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK), tcflag_t(INPCK));
    EXPECT_EQ(half.c_cc[VMIN], 1);
    EXPECT_EQ(half.c_lflag & (ECHO | ICANON), 0u);
}

TEST(ReadPlan, TheFiveValuesGiveTheWindowsReadRules)
{
    using std::nullopt;
    const struct {
        PortTimeouts timeouts;
        std::size_t count;
        std::optional<std::uint64_t> total, interval;
        bool firstBytes;
    } rows[] = {
        {{0, 0, 100, 0, 300}, 10, 100, nullopt, false},        {{0, 0, 15, 0, 15}, 195, 15, nullopt, false},
        {{0, 2, 100, 0, 0}, 10, 120, nullopt, false},          {{0, 0, 0, 0, 0}, 10, nullopt, nullopt, false},
        {{50, 0, 0, 0, 0}, 10, nullopt, 50, false},            {{50, 0, 100, 0, 0}, 10, 100, 50, false},
        {{maxDword, 0, 0, 0, 0}, 10, 0, nullopt, false},       {{maxDword, maxDword, 200, 0, 0}, 10, 200, nullopt, true},
        {{maxDword, 0, 100, 0, 0}, 10, 100, nullopt, false},
        {{maxDword, maxDword, 0, 0, 0}, 2, 2 * std::uint64_t{maxDword}, nullopt, false},
        {{0, maxDword, 0, 0, 0}, std::size_t{1} << 40, nullopt, nullopt, false},  // beyond any clock
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const ReadPlan plan = readPlan(rows[i].timeouts, rows[i].count);
        EXPECT_TRUE(plan.totalMs == rows[i].total && plan.intervalMs == rows[i].interval &&
                    plan.returnOnFirstBytes == rows[i].firstBytes) << "row " << i;
    }
    EXPECT_EQ(writeLimitMs({0, 0, 0, 0, 300}, 4), 300u);
    EXPECT_EQ(writeLimitMs({0, 0, 0, 3, 10}, 4), 22u);
    EXPECT_EQ(writeLimitMs({0, 0, 100, 0, 0}, 4), std::nullopt);
}

// Each kind of device name opens its device, or keeps the system's reason;
// a port is for one user at a time.
TEST(DeviceOpener, EachKindOfNameOpensItsDeviceForExclusiveUseOrKeepsTheSystemsReason)
{
    PseudoTerminal pty;
    test::TempDir dir;
    test::writeFile(dir.file("not-a-port"), "x");
    std::vector<std::string> asked;
    DeviceOpener hooked([&](const std::string& name) {
        asked.push_back(name);
        return name == "camera" ? pty.slavePath : name == "gone" ? "/dev/pts/tarvi-gone" : std::string();
    });
    DeviceOpener plain;
    const struct {
        DeviceOpener& opener;
        std::string device;
        int error;
    } cases[] = {
        {plain, pty.slavePath, 0},     {plain, "/dev/ttyTarviMissing0", ENOENT}, {plain, dir.file("not-a-port"), ENOTTY},
        {plain, "sim:camera", ENODEV}, {hooked, "sim:camera", 0},                {hooked, "sim:telescope", ENODEV},
        {hooked, "sim:gone", ENOENT},  {plain, "tcp:127.0.0.1", EINVAL},
    };
    // Opened first, so that it can look at the terminal's flag whoever runs the test.
    const int observer = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(observer, 0);
    for (const auto& c : cases) {
        PortOpener::Result opened = c.opener.open(c.device);
        EXPECT_EQ(opened.error.code(), c.error) << c.device << ": " << opened.error.text();
        ASSERT_EQ(opened.port != nullptr, c.error == 0) << c.device;
        if (opened.port == nullptr)
            continue;
        int exclusive = -1;
        ASSERT_EQ(::ioctl(observer, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        EXPECT_EQ(PosixSerialPort::open(pty.slavePath).error.code(), EBUSY);
        // Configures nothing: a fresh pseudo-terminal passes these bytes as they are.
        ASSERT_FALSE(opened.port->setTimeouts(readingFor(0)).failed());
        const Bytes probe = {':', 'G', 'S', '#'};
        EXPECT_EQ(opened.port->write(probe).count, probe.size());
        EXPECT_EQ(pty.receive(probe.size()), probe);
        opened.port.reset();
        ASSERT_EQ(::ioctl(observer, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"camera", "telescope", "gone"}));
    ::close(observer);
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
    std::unique_ptr<SerialPort> port = PosixSerialPort::open(pty.slavePath).port;
    Bytes buffer = Bytes(10, 0xEE);

    void SetUp() override { ASSERT_NE(port, nullptr); }
    void raw() { ASSERT_FALSE(port->setLineSettings(line(9600, Parity::none)).failed()); }
    void setTimeouts(const PortTimeouts& timeouts) { ASSERT_FALSE(port->setTimeouts(timeouts).failed()); }
};

// A fresh pseudo-terminal is cooked: the program's settings reach it, every byte crosses both
// ways, a read takes its count or what came by its deadline, and the kept copy puts it back.
TEST_F(PtyPort, SettingsReachTheTerminalEveryByteCrossesAndTheKeptCopyPutsItBack)
{
    const termios cooked = pty.state();
    ASSERT_NE(cooked.c_lflag & ICANON, 0u);
    LineSettings kept, back;
    ASSERT_FALSE(port->getLineSettings(kept).failed());
    EXPECT_FALSE(kept.binary);
    ASSERT_FALSE(port->setLineSettings(line(57600)).failed());
    expectCameraLine(pty.state(), false);
    ASSERT_FALSE(port->getLineSettings(back).failed());
    EXPECT_TRUE(back.baud == 57600u && back.parityCheck && back.binary && back.dataBits == 8 && back.stopBits == 1);
    EXPECT_FALSE(back.hardwareFlow || back.softwareFlow || back.dtrOn || back.rtsOn);

    expectEveryByteCrosses(*port, pty);
    ASSERT_FALSE(port->setLineSettings(line(1200)).failed());
    const termios slow = pty.state();
    EXPECT_EQ(cfgetospeed(&slow), B1200);
    EXPECT_EQ(port->setLineSettings(line(31250)).code(), EINVAL);
    ASSERT_FALSE(port->setLineSettings(kept).failed());
    EXPECT_TRUE(sameTermios(pty.state(), cooked));
}

TEST_F(PtyPort, ReadDeadlinesAreAboutTheWholeReadAndGapsEndItOnlyWhenAsked)
{
    raw();
    PortTimeouts interval;
    interval.readInterval = 100;  // and no total: the first byte is waited for
    const struct {  // `before`: a long pause of `pauseMs` after this many bytes
        const char* what;
        PortTimeouts timeouts;
        std::size_t size;
        std::chrono::milliseconds gap;
        std::size_t before, pauseMs, least, most;
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
        Bytes got(sent.size());
        IoResult result;
        {
            std::jthread far([&](std::stop_token stop) {
                for (std::size_t i = 0; i < sent.size() && !stop.stop_requested(); ++i) {
                    for (std::size_t waited = 0; i == c.before && waited < c.pauseMs && !stop.stop_requested(); waited += 10)
                        std::this_thread::sleep_for(10ms);
                    pty.send({sent[i]});
                    std::this_thread::sleep_for(c.gap);
                }
            });
            result = port->read(got);
        }
        EXPECT_FALSE(result.error.failed()) << c.what;
        EXPECT_TRUE(result.count >= c.least && result.count <= c.most) << c.what << ": " << result.count;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + std::ptrdiff_t(result.count), sent.begin())) << c.what;
        ASSERT_FALSE(port->discardInput().failed());
    }
    // With no wait, what is already there is taken.
    pty.send({1, 2, 3});
    waitForQueued(*port, 3);
    ASSERT_EQ(port->read(buffer).count, 3u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{1, 2, 3}));
    // A reply that has come whole ends the read long before its deadline.
    setTimeouts(readingFor(60000));
    const auto start = std::chrono::steady_clock::now();
    std::jthread far([&] { pty.send({'1', '2', ':', '3', '4'}); std::this_thread::sleep_for(50ms); pty.send({'#'}); });
    const IoResult whole = port->readReply(buffer, [](std::span<const std::uint8_t> in) { return in.back() == '#'; });
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + std::ptrdiff_t(whole.count)), (Bytes{'1', '2', ':', '3', '4', '#'}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "ended by its deadline, not by its end";
    far.join();
}

// A write nobody takes stops at its deadline having sent a prefix; status counts the unread
// bytes, and a pseudo-terminal never holds for CTS; a hang-up fails reads and writes at once.
TEST_F(PtyPort, WriteDeadlineStatusAndHangUp)
{
    raw();
    setTimeouts({0, 0, 0, 0, 100});
    const Bytes bytes = pattern(1 << 20);  // far more than the terminal's buffers hold
    const IoResult written = port->write(bytes);
    EXPECT_FALSE(written.error.failed());
    ASSERT_GT(written.count, 0u);
    ASSERT_LT(written.count, bytes.size());
    EXPECT_EQ(pty.receive(written.count), Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(written.count)));
    EXPECT_TRUE(pty.nothingWaiting());

    EXPECT_FALSE(port->setQueueSizes(1200, 1200).failed());
    pty.send(pattern(10));
    waitForQueued(*port, 10);
    LineSettings flow = line(9600);
    flow.hardwareFlow = true;
    ASSERT_FALSE(port->setLineSettings(flow).failed());
    ASSERT_NE(pty.state().c_cflag & CRTSCTS, 0u);
    PortStatus status;
    ASSERT_FALSE(port->clearErrors(status).failed());
    EXPECT_TRUE(status.inQueue == 10u && !status.ctsHold);  // it has no CTS line to wait on
    EXPECT_EQ(port->read(buffer).count, 10u);  // the status read took nothing
    setTimeouts(readingFor(5000));

    std::thread unplug([this] {
        std::this_thread::sleep_for(50ms);
        pty.hangUp();
    });
    const IoResult waiting = port->read(buffer);
    unplug.join();
    EXPECT_EQ(waiting.error.code(), EIO) << "a deadline passed instead: " << waiting.error.text();
    EXPECT_EQ(port->read(buffer).error.code(), EIO);
    EXPECT_EQ(port->write(Bytes{':', 'G', 'S', '#'}).error.code(), EIO);
}

// The far end of a connection.
class Peer : public FarEnd {
public:
    using FarEnd::FarEnd;
    // A reset rather than an orderly end: what a bridge that crashed sends.
    void reset()
    {
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close();
    }
};

class LoopbackServer {
public:
    explicit LoopbackServer(int family = AF_INET) : family_(family), fd_(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in6 address{};  // room for either family
        auto& in = reinterpret_cast<sockaddr_in&>(address);
        if (family == AF_INET)
            in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        else
            address.sin6_addr = in6addr_loopback;
        address.sin6_family = static_cast<sa_family_t>(family);  // the same place in both
        socklen_t size = family == AF_INET ? sizeof in : sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            fail("listen");
        port_ = ntohs(address.sin6_port);  // the same place in both
    }
    ~LoopbackServer() { stopListening(); }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string device() const { return (family_ == AF_INET ? "tcp:127.0.0.1:" : "tcp:[::1]:") + std::to_string(port_); }
    std::uint16_t port() const { return port_; }
    // The connection the port made: it waits in the backlog until taken.
    std::unique_ptr<Peer> accept() const
    {
        pollfd entry{fd_, POLLIN, 0};
        const int peer = ::poll(&entry, 1, 5000) == 1 ? ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (peer < 0)
            fail("accept");
        return std::make_unique<Peer>(peer);
    }
    void stopListening() { if (fd_ >= 0) ::close(std::exchange(fd_, -1)); }

private:
    int family_;
    int fd_;
    std::uint16_t port_ = 0;
};

// The port's own socket, found among this process's descriptors by the
// address the peer sees it connect from.
int portSocket(const Peer& peer)
{
    sockaddr_storage from{};
    socklen_t fromSize = sizeof from;
    if (::getpeername(peer.fd(), reinterpret_cast<sockaddr*>(&from), &fromSize) != 0)
        fail("getpeername");
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_storage local{};
        socklen_t size = sizeof local;
        if (fd != peer.fd() && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 && size == fromSize &&
            std::memcmp(&local, &from, size) == 0)
            return fd;
    }
    return -1;
}

TEST(ParseTcpDevice, HostAndPortInEachFormAndMalformedDevicesRefused)
{
    const std::array<const char*, 3> rows[] = {
        {"tcp:127.0.0.1:4030", "127.0.0.1", "4030"}, {"tcp:bridge.local:23", "bridge.local", "23"},
        {"tcp:[::1]:4030", "::1", "4030"},           {"tcp:[fe80::1%eth0]:65535", "fe80::1%eth0", "65535"},
        {"tcp:::1:4030", "::1", "4030"},             {"TCP:localhost:1", "localhost", "1"},
    };
    for (const auto& [device, host, port] : rows) {
        const auto address = parseTcpDevice(device);
        ASSERT_TRUE(address.has_value()) << device;
        EXPECT_TRUE(address->host == host && address->port == port) << device;
    }
    for (const char* device : {"tcp:", "tcp:host", "tcp:host:", "tcp::4030", "tcp:host:0", "tcp:host:65536",
                               "tcp:host:123456", "tcp:host:40a0", "tcp:host:-1", "tcp:[::1]4030", "tcp:[::1",
                               "tcp:[]:4030", "udp:host:4030", "/dev/ttyS0", ""}) {
        EXPECT_FALSE(parseTcpDevice(device).has_value()) << device;
        PortOpener::Result opened = TcpSerialPort::open(device);
        EXPECT_TRUE(opened.error.code() == EINVAL && opened.port == nullptr) << device;
    }
}

// Host names, IPv6 literals and the scheme in either case connect through the program's own
// opener, with Nagle off and keep-alive on, and carry every byte; reads end at their deadline.
// A peer that closes after its last bytes, or resets (a bridge that crashed), fails reads once
// what came is taken, and writes at once. A listener that has gone refuses.
TEST(TcpSerialPort, EveryFormOfAddressCarriesALineUntilThePeerClosesOrResets)
{
    LoopbackServer v4, v6(AF_INET6), gone;
    const std::string port = std::to_string(v4.port());
    const struct {
        const LoopbackServer* server;
        std::string device;
        bool reset;
    } rows[] = {{&v4, "tcp:localhost:" + port, false}, {&v6, v6.device(), true},
                {&v4, "tcp:127.0.0.1:" + port, true},  {&v4, "TCP:127.0.0.1:" + port, false}};
    DeviceOpener opener;
    for (const auto& [server, device, reset] : rows) {
        SCOPED_TRACE(device);
        PortOpener::Result opened = opener.open(device);
        ASSERT_NE(opened.port, nullptr) << opened.error.text();
        const auto peer = server->accept();
        SerialPort& link = *opened.port;
        const int fd = portSocket(*peer);
        int nagleOff = 0, keepAlive = 0;
        socklen_t size = sizeof nagleOff;
        ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nagleOff, &size), 0);
        ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size), 0);
        EXPECT_TRUE(nagleOff != 0 && keepAlive != 0);

        // Line settings and queue sizes are accepted and kept; a socket never holds for CTS.
        EXPECT_FALSE(link.setQueueSizes(1200, 1200).failed());
        LineSettings back;
        ASSERT_FALSE(link.setLineSettings(line(57600)).failed());
        ASSERT_FALSE(link.getLineSettings(back).failed());
        EXPECT_TRUE(back.baud == 57600u && back.parity == Parity::even);
        PortTimeouts timeouts;
        ASSERT_FALSE(link.setTimeouts(readingFor(2000)).failed());
        ASSERT_FALSE(link.getTimeouts(timeouts).failed());
        EXPECT_TRUE(timeouts.readTotalConstant == 2000u && timeouts.writeTotalConstant == 300u);

        expectEveryByteCrosses(link, *peer);
        PortStatus status;
        ASSERT_FALSE(link.clearErrors(status).failed());
        EXPECT_FALSE(status.ctsHold);
        Bytes buffer(10, 0xEE);
        ASSERT_FALSE(link.setTimeouts(readingFor(5000)).failed());
        if (!reset)
            peer->send({'a', 'b'});
        reset ? peer->reset() : peer->close();
        const IoResult last = link.read(buffer);
        EXPECT_EQ(last.error.code(), ECONNRESET) << "a deadline passed instead: " << last.error.text();
        ASSERT_EQ(last.count, reset ? 0u : 2u);
        EXPECT_TRUE(reset || (buffer[0] == 'a' && buffer[1] == 'b'));
        EXPECT_EQ(link.read(buffer).error.code(), ECONNRESET);
        const IoResult refusedWrite = link.write(Bytes{':', 'Q', '#'});
        EXPECT_TRUE(refusedWrite.error.code() == EPIPE && refusedWrite.count == 0u);
    }
    gone.stopListening();
    PortOpener::Result refused = TcpSerialPort::open(gone.device());
    EXPECT_EQ(refused.error.code(), ECONNREFUSED);
    EXPECT_EQ(refused.port, nullptr);
}

}  // namespace
}  // namespace tarvi
