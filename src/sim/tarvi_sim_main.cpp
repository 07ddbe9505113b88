#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/signalfd.h>
#include <unistd.h>

#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"

namespace {

constexpr const char* usage =
    "Usage: tarvi-sim camera [OPTION]...\n"
    "       tarvi-sim telescope [OPTION]...\n"
    "Runs a simulated ST-4 camera or LX200 telescope on a pseudo-terminal and\n"
    "prints the path of its port. Runs until interrupted or until standard input\n"
    "closes.\n"
    "\n"
    "Camera:\n"
    "  --speed INDEX     speed at power-on: 0 = 57600, 1 = 19200, 2 = 9600 (default), 3 = 1200\n"
    "  --time-scale X    real seconds per exposure second (default 1; 0 = at once)\n"
    "  --pace            every byte takes its line time at the camera's speed\n"
    "  --drop F          fraction of the camera's bytes lost on the line\n"
    "  --corrupt F       fraction of the camera's bytes changed on the line\n"
    "  --silent-after N  stop answering after N replies\n"
    "  --hang-up-after N take the line away after N replies\n"
    "  --seed N          seed of the sky and of the line's faults (default 1)\n"
    "\n"
    "Telescope (9600 baud):\n"
    "  --time-scale X    real seconds per second of its motions (default 1;\n"
    "                    0 = a go-to arrives at once)\n"
    "  --pace            every byte takes its line time\n"
    "  --latitude D      site latitude in degrees, north positive (default 45.5)\n"
    "  --longitude D     site longitude in degrees west, 0 to 360 (default 73.567)\n"
    "  --utc-offset H    hours added to local time to give universal time\n"
    "                    (default: those of this computer's time zone)\n"
    "  --higher-limit D  lowest altitude in degrees a go-to may reach (default 10)\n"
    "  --long-format     start in the long coordinate format\n"
    "  --silent          hear nothing and say nothing\n"
    "\n"
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

// What an option's handler made of it.
enum class Parsed { ok, bad, unknown };

// Walks the options after the device name: a switch stands alone, any other
// option takes the next word or the text after "=" as its value. Returns the
// exit code when the program is to end here.
std::optional<int> parseOptions(int argc, char** argv, const std::function<bool(std::string_view)>& isSwitch,
                                const std::function<Parsed(std::string_view, std::string_view)>& apply)
{
    for (int i = 2; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        std::string_view value;
        if (!isSwitch(arg)) {
            if (const auto equals = arg.find('='); equals != std::string_view::npos) {
                value = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return fail("option '" + std::string(arg) + "' needs a value");
            }
        }
        const Parsed parsed = apply(arg, value);
        if (parsed == Parsed::bad)
            return fail("bad value '" + std::string(value) + "' for " + std::string(arg));
        if (parsed == Parsed::unknown)
            return fail("unknown option '" + std::string(arg) + "'");
    }
    return std::nullopt;
}

Parsed parseCameraOption(tarvi::sim::CameraOptions& options, std::string_view arg, std::string_view value)
{
    if (arg == "--pace") {
        options.pace = true;
    } else if (arg == "--speed") {
        const auto speed = parse<int>(value);
        if (!speed || *speed < 0 || *speed > 3)
            return Parsed::bad;
        options.startSpeedIndex = *speed;
    } else if (arg == "--time-scale") {
        const auto scale = parse<double>(value);
        if (!scale || !(*scale >= 0))
            return Parsed::bad;
        options.timeScale = *scale;
    } else if (arg == "--drop" || arg == "--corrupt") {
        const auto fraction = parse<double>(value);
        if (!fraction || !(*fraction >= 0 && *fraction <= 1))
            return Parsed::bad;
        (arg == "--drop" ? options.faults.dropFraction : options.faults.corruptFraction) = *fraction;
    } else if (arg == "--silent-after" || arg == "--hang-up-after") {
        const auto replies = parse<std::uint64_t>(value);
        if (!replies)
            return Parsed::bad;
        (arg == "--silent-after" ? options.faults.silentAfterReplies : options.faults.hangUpAfterReplies) = *replies;
    } else if (arg == "--seed") {
        const auto seed = parse<std::uint32_t>(value);
        if (!seed)
            return Parsed::bad;
        options.seed = *seed;
        options.sky.seed = *seed;
    } else {
        return Parsed::unknown;
    }
    return Parsed::ok;
}

Parsed parseTelescopeOption(tarvi::sim::TelescopeOptions& options, std::string_view arg, std::string_view value)
{
    if (arg == "--pace") {
        options.pace = true;
    } else if (arg == "--long-format") {
        options.longFormat = true;
    } else if (arg == "--silent") {
        options.silent = true;
    } else if (arg == "--utc-offset") {
        const auto hours = parse<int>(value);
        if (!hours || *hours < -14 || *hours > 14)
            return Parsed::bad;
        options.utcOffsetHours = *hours;
    } else if (arg == "--time-scale" || arg == "--latitude" || arg == "--longitude" || arg == "--higher-limit") {
        const auto number = parse<double>(value);
        if (!number)
            return Parsed::bad;
        if (arg == "--time-scale" && *number >= 0)
            options.timeScale = *number;
        else if (arg == "--latitude" && *number >= -90 && *number <= 90)
            options.latitudeDegrees = *number;
        else if (arg == "--longitude" && *number >= 0 && *number <= 360)
            options.longitudeDegrees = *number;
        else if (arg == "--higher-limit" && *number >= 0 && *number <= 90)
            options.higherLimitDegrees = *number;
        else
            return Parsed::bad;
    } else {
        return Parsed::unknown;
    }
    return Parsed::ok;
}

// Prints the path and waits for a stop signal or the end of standard input.
int serve(const std::string& path, int signals)
{
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    pollfd fds[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        if (fds[0].revents & POLLIN)
            return 0;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char discard[256];
            const ssize_t got = read(STDIN_FILENO, discard, sizeof discard);
            if (got <= 0 && !(got < 0 && errno == EINTR))
                return 0;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string_view(argv[1]) == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    const std::string_view device = argc >= 2 ? argv[1] : "";
    if (device != "camera" && device != "telescope")
        return fail(argc < 2 ? "which device? 'camera' or 'telescope'" : "unknown device '" + std::string(device) + "'");

    tarvi::sim::CameraOptions cameraOptions;
    tarvi::sim::TelescopeOptions telescopeOptions;
    const auto done = device == "camera"
                          ? parseOptions(
                                argc, argv, [](std::string_view arg) { return arg == "--pace"; },
                                [&](std::string_view arg, std::string_view value) {
                                    return parseCameraOption(cameraOptions, arg, value);
                                })
                          : parseOptions(
                                argc, argv,
                                [](std::string_view arg) {
                                    return arg == "--pace" || arg == "--long-format" || arg == "--silent";
                                },
                                [&](std::string_view arg, std::string_view value) {
                                    return parseTelescopeOption(telescopeOptions, arg, value);
                                });
    if (done)
        return *done;

    // Blocked before the device's thread exists, so that it inherits the mask
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

    int status = 0;
    try {
        if (device == "camera") {
            tarvi::sim::CameraSimulator camera(cameraOptions);
            camera.start();
            status = serve(camera.slavePath(), signals);
        } else {
            tarvi::sim::TelescopeSimulator telescope(telescopeOptions);
            telescope.start();
            status = serve(telescope.slavePath(), signals);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvi-sim: %s\n", error.what());
        status = 1;
    }
    close(signals);
    return status;
}
