#include "telescope/motion_rules.h"


#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "telescope/lx200_link.h"

namespace tarvi::motion {

std::string_view slewRateCommand(int slewRate)
{
    static constexpr std::array<std::string_view, 4> commands{":RS#", ":RM#", ":RC#", ":RG#"};
    if (slewRate < 0 || slewRate > 3)
        return {};
    return commands[static_cast<std::size_t>(slewRate)];
}

FocusFlags focusFlags(int focusSpeed)
{
    switch (focusSpeed) {
    case 0: return {};
    case 1: return {.steppedFocus = 1};
    case 2: return {.fastFocus = 1};
    case 3: return {.fastFocus = 1, .steppedFocus = 1};
    case 4: return {.slowStepper = 1};
    case 5: return {.fastStepper = 1};
    default: return {};
    }
}

std::string focusPulse(bool in)
{
    return std::string(in ? ":F-#" : ":F+#") + std::string(30, '.') + ":FQ#";
}

int focusCounterChange(std::int64_t d, bool steppedFocus, bool fastFocus)
{
    const std::int64_t a = d < 0 ? -d : d;
    std::int64_t steps = 0;
    if (!steppedFocus) {
        const double x = static_cast<double>(std::min<std::int64_t>(a, 1000)) * 0.001;
        const auto ramp = static_cast<std::int64_t>(x * (1000.0 * x));
        std::int64_t units = std::max<std::int64_t>(a - 1000, 0) + 2 * ramp;
        if (!fastFocus)
            units /= 2;
        steps = std::max<std::int64_t>(units / 16, 1);
    } else {
        std::int64_t units = a;
        if (!fastFocus)
            units /= 2;
        steps = std::max<std::int64_t>(units / 16, 2);
    }
    steps = std::min<std::int64_t>(steps, 1'000'000'000);
    return static_cast<int>(d >= 0 ? steps : -steps);
}

int clampOutStepsPerHour(int value)
{
    return std::clamp(value, 1, 7200);
}

int dynamicFocusPeriodMs(int outStepsPerHour)
{
    return static_cast<int>(3600.0 / clampOutStepsPerHour(outStepsPerHour) * 1000.0);
}

int parkSecondsLeft(int startSeconds, std::int64_t startTime, std::int64_t now)
{
    // Worked in 32 bits like the countdown's own fields; a clock set back
    // does not make the countdown run longer than it started.
    const auto elapsed = static_cast<std::int32_t>(static_cast<std::uint32_t>(now - startTime));
    const std::int64_t left = static_cast<std::int64_t>(startSeconds) - elapsed;
    return left < 0 ? 0 : static_cast<int>(std::min<std::int64_t>(left, startSeconds));
}

PageSettings parsePageSettings(std::string_view line, PageSettings kept)
{
    const std::string text(line);
    int first = 0;
    int second = 0;
    const int read = std::sscanf(text.c_str(), "%d %d", &first, &second);
    if (read >= 1)
        kept.parked = first == 1 ? 1 : 0;
    if (read >= 2)
        kept.focusSpeed = second;
    return kept;
}

std::string formatPageSettings(const PageSettings& settings)
{
    return std::to_string(settings.parked) + " " + std::to_string(settings.focusSpeed);
}

std::string userConfigDirectory(const char* xdgConfigHome, const char* home)
{
    std::filesystem::path base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        base = xdgConfigHome;
    else if (home != nullptr && home[0] != '\0')
        base = std::filesystem::path(home) / ".config";
    else
        base = std::filesystem::temp_directory_path();
    const std::filesystem::path directory = base / "tarvi";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory.string();
}

void precisionSetup(LX200Link& link)
{
    for (const std::string_view stop : {":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#"})
        link.send(stop);
    std::vector<std::uint8_t> reply(51, 0);
    link.send(":GD#");
    const unsigned first = link.readTelescope(link.portHandle, reply.data(), 50);
    link.send(":U#");
    link.send(":GD#");
    const unsigned second = link.readTelescope(link.portHandle, reply.data(), 50);
    if (first > second)
        link.send(":U#");
    link.send(":FQ#");
}

}  // namespace tarvi::motion
