#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/signalfd.h>
#include <unistd.h>

#include "sim/camera_sim.h"

namespace {

constexpr const char* usage =
    "Usage: tarvi-sim camera [OPTION]...\n"
    "Runs a simulated ST-4 camera on a pseudo-terminal and prints the path of\n"
    "its port. Runs until interrupted or until standard input closes.\n"
    "\n"
    "  --speed INDEX     speed at power-on: 0 = 57600, 1 = 19200, 2 = 9600 (default), 3 = 1200\n"
    "  --time-scale X    real seconds per exposure second (default 1; 0 = at once)\n"
    "  --pace            every byte takes its line time at the camera's speed\n"
    "  --drop F          fraction of the camera's bytes lost on the line\n"
    "  --corrupt F       fraction of the camera's bytes changed on the line\n"
    "  --silent-after N  stop answering after N replies\n"
    "  --hang-up-after N take the line away after N replies\n"
    "  --seed N          seed of the sky and of the line's faults (default 1)\n"
    "  --help            show this text\n";

template<typename T>
std::optional<T> parse(std::string_view text)
{
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "tarvi-sim: %s\n", message.c_str());
    std::fputs("Try 'tarvi-sim --help'.\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    using tarvi::sim::CameraOptions;

    if (argc >= 2 && std::string_view(argv[1]) == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc < 2 || std::string_view(argv[1]) != "camera")
        return fail(argc < 2 ? "which device? only 'camera' is built in" : "unknown device '" + std::string(argv[1]) + "'");

    CameraOptions options;
    for (int i = 2; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--pace") {
            options.pace = true;
            continue;
        }
        std::string_view value;
        if (const auto equals = arg.find('='); equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return fail("option '" + std::string(arg) + "' needs a value");
        }
        const std::string bad = "bad value '" + std::string(value) + "' for " + std::string(arg);
        if (arg == "--speed") {
            const auto speed = parse<int>(value);
            if (!speed || *speed < 0 || *speed > 3)
                return fail(bad);
            options.startSpeedIndex = *speed;
        } else if (arg == "--time-scale") {
            const auto scale = parse<double>(value);
            if (!scale || !(*scale >= 0))
                return fail(bad);
            options.timeScale = *scale;
        } else if (arg == "--drop" || arg == "--corrupt") {
            const auto fraction = parse<double>(value);
            if (!fraction || !(*fraction >= 0 && *fraction <= 1))
                return fail(bad);
            (arg == "--drop" ? options.faults.dropFraction : options.faults.corruptFraction) = *fraction;
        } else if (arg == "--silent-after" || arg == "--hang-up-after") {
            const auto replies = parse<std::uint64_t>(value);
            if (!replies)
                return fail(bad);
            (arg == "--silent-after" ? options.faults.silentAfterReplies : options.faults.hangUpAfterReplies) = *replies;
        } else if (arg == "--seed") {
            const auto seed = parse<std::uint32_t>(value);
            if (!seed)
                return fail(bad);
            options.seed = *seed;
            options.sky.seed = *seed;
        } else {
            return fail("unknown option '" + std::string(arg) + "'");
        }
    }

    // Blocked before the camera's thread exists, so that it inherits the mask
    // and the signals come only through the descriptor below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fprintf(stderr, "tarvi-sim: cannot block signals\n");
        return 1;
    }
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) {
        std::fprintf(stderr, "tarvi-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    try {
        tarvi::sim::CameraSimulator camera(options);
        camera.start();
        std::printf("%s\n", camera.slavePath().c_str());
        std::fflush(stdout);

        pollfd fds[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[0].revents & POLLIN)
                break;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
                char discard[256];
                const ssize_t got = read(STDIN_FILENO, discard, sizeof discard);
                if (got <= 0 && !(got < 0 && errno == EINTR))
                    break;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvi-sim: %s\n", error.what());
        close(signals);
        return 1;
    }
    close(signals);
    return 0;
}
