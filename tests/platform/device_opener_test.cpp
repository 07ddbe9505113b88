#include "platform/device_opener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace tarvi {
namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Waits (a few seconds at most) for something to read on `fd` and reads it.
Bytes receive(int fd, std::size_t count)
{
    Bytes got(count);
    std::size_t done = 0;
    for (int tries = 0; done < count && tries < 50; ++tries) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        const ssize_t n = ::read(fd, got.data() + done, count - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    got.resize(done);
    return got;
}

class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0)
            fail("pseudo-terminal");
        slavePath_ = name;
    }
    ~PseudoTerminal() { ::close(master_); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    std::string slavePath_;
};

class LoopbackListener {
public:
    LoopbackListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 1) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            fail("listen");
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackListener() { ::close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    std::uint16_t port() const { return port_; }
    int accept() const
    {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, 5000) != 1)
            fail("nobody connected");
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Configures nothing: a device's termios is not the opener's business, and a
// fresh pseudo-terminal passes these bytes (no newlines) through as they are.
void expectWriteArrives(SerialPort& port, int far)
{
    PortTimeouts timeouts;
    timeouts.writeTotalConstant = 300;
    ASSERT_FALSE(port.setTimeouts(timeouts).failed());
    const Bytes probe = {':', 'G', 'S', '#'};
    const IoResult written = port.write(probe);
    EXPECT_FALSE(written.error.failed()) << written.error.text();
    EXPECT_EQ(receive(far, probe.size()), probe);
}

TEST(DeviceOpener, APathOpensThatTerminal)
{
    PseudoTerminal pty;
    DeviceOpener opener;
    PortOpener::Result opened = opener.open(pty.slavePath());
    ASSERT_FALSE(opened.error.failed()) << opened.error.text();
    ASSERT_NE(opened.port, nullptr);
    expectWriteArrives(*opened.port, pty.master());
}

TEST(DeviceOpener, AMissingDevicePathKeepsTheSystemsError)
{
    DeviceOpener opener;
    PortOpener::Result opened = opener.open("/dev/ttyTarviMissing0");
    EXPECT_EQ(opened.error.code(), ENOENT);
    EXPECT_EQ(opened.port, nullptr);
}

TEST(DeviceOpener, ASimulatorIsOpenedOnThePathItsHookGives)
{
    PseudoTerminal pty;
    std::vector<std::string> asked;
    DeviceOpener opener([&](const std::string& name) {
        asked.push_back(name);
        return name == "camera" ? pty.slavePath() : std::string();
    });

    PortOpener::Result camera = opener.open("sim:camera");
    ASSERT_FALSE(camera.error.failed()) << camera.error.text();
    ASSERT_NE(camera.port, nullptr);
    expectWriteArrives(*camera.port, pty.master());

    PortOpener::Result telescope = opener.open("sim:telescope");
    EXPECT_EQ(telescope.error.code(), ENODEV);
    EXPECT_EQ(telescope.port, nullptr);
    EXPECT_EQ(asked, (std::vector<std::string>{"camera", "telescope"}));
}

TEST(DeviceOpener, ASimulatorWithoutAHookOrWhosePathHasGoneFails)
{
    DeviceOpener opener;
    PortOpener::Result noHook = opener.open("sim:camera");
    EXPECT_EQ(noHook.error.code(), ENODEV);
    EXPECT_EQ(noHook.port, nullptr);

    opener.setSimulatorHook([](const std::string&) { return std::string("/dev/pts/tarvi-gone"); });
    PortOpener::Result gone = opener.open("sim:camera");
    EXPECT_EQ(gone.error.code(), ENOENT);
    EXPECT_EQ(gone.port, nullptr);
}

TEST(DeviceOpener, ATcpDeviceConnectsWhateverTheCaseOfItsScheme)
{
    LoopbackListener listener;
    DeviceOpener opener;
    for (const char* scheme : {"tcp:", "TCP:"}) {
        const std::string device = scheme + std::string("127.0.0.1:") + std::to_string(listener.port());
        PortOpener::Result opened = opener.open(device);
        ASSERT_FALSE(opened.error.failed()) << device << ": " << opened.error.text();
        ASSERT_NE(opened.port, nullptr);
        const int peer = listener.accept();
        ASSERT_GE(peer, 0);
        expectWriteArrives(*opened.port, peer);
        ::close(peer);
    }
    EXPECT_EQ(opener.open("tcp:127.0.0.1").error.code(), EINVAL);
}

TEST(DeviceOpener, PermissionAdviceNamesTheGroupThatOwnsTheDevice)
{
    char path[] = "/tmp/tarvi-device-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const passwd* me = ::getpwuid(::getuid());
    ASSERT_NE(me, nullptr);
    struct Case {
        gid_t group;
        mode_t mode;
        std::string advice;
    };
    // Group 1 belongs to the system on every Debian machine.
    const group* system = ::getgrgid(1);
    ASSERT_NE(system, nullptr);
    const std::string name = system->gr_name;
    const std::string device(path);
    const std::string generic = "You may not use " + device
                                + ".  Serial devices usually belong to the group \"dialout\"; ask the computer's"
                                  " administrator to let you use this one.";
    const Case cases[] = {
        {1, 0660,
         "You may not use " + device + ".  It belongs to the group \"" + name + "\": add yourself to it with \"sudo adduser "
             + me->pw_name + " " + name + "\", then log out and in again."},
        {1, 0600, generic},  // the group may not use it either
        {0, 0660, generic},  // nobody joins root's group
    };
    for (const Case& c : cases) {
        if (::chown(path, static_cast<uid_t>(-1), c.group) != 0 || ::chmod(path, c.mode) != 0)
            FAIL() << "cannot set up " << path << ": " << std::strerror(errno);
        EXPECT_EQ(permissionAdvice(device), c.advice) << c.group << " " << c.mode;
    }
    ::unlink(path);
    EXPECT_EQ(permissionAdvice(device), generic) << "a device that is not there";
}

}  // namespace
}  // namespace tarvi
