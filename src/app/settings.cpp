#include "app/settings.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <utility>

namespace tarvi {

namespace {

struct IntField {
    int st4Settings::*member;
    int low;
    int high;
};

// Fields in line order, except the float, which is seventh.
constexpr std::array<IntField, 16> intFields{{
    {&st4Settings::antiBloom, 0, 1},
    {&st4Settings::smoothImage, 0, 1},
    {&st4Settings::subtractDarkFrame, 0, 1},
    {&st4Settings::operationsInPC, 0, 1},
    {&st4Settings::useCompression, 0, 1},
    {&st4Settings::cameraGain, 0, 3},
    {&st4Settings::exposureDelay, 0, 99},
    {&st4Settings::baselineLevel, 0, 255},
    {&st4Settings::subtractionConstant, 0, 255},
    {&st4Settings::cameraPort, 0, 3},
    {&st4Settings::cameraSpeed, 0, 3},
    {&st4Settings::cameraSpeedInUse, 0, 3},
    {&st4Settings::telescopePort, 0, 3},
    {&st4Settings::cameraHandle, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()},
    {&st4Settings::telescopeHandle, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()},
    {&st4Settings::downloadStop, 0, 1},
}};

constexpr int floatPosition = 6;
constexpr float shortestExposure = 0.01f;
constexpr float longestExposure = 600.0f;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void skipSpace(std::string_view& text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
}

// A leading "+" is accepted as scanf accepts it; from_chars does not.
std::string_view withoutPlus(std::string_view text)
{
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    return text;
}

bool scanInt(std::string_view& text, long long& value)
{
    skipSpace(text);
    const auto digits = withoutPlus(text);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (end == digits.data())
        return false;
    if (error == std::errc::result_out_of_range)
        value = std::numeric_limits<long long>::max();
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool scanFloat(std::string_view& text, float& value)
{
    skipSpace(text);
    const auto digits = withoutPlus(text);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (end == digits.data())
        return false;
    if (error == std::errc::result_out_of_range)
        value = std::numeric_limits<float>::infinity();
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

}  // namespace

st4Settings st4Settings::defaults()
{
    st4Settings s;
    s.operationsInPC = 1;
    s.useCompression = 1;
    s.exposureTime = 0.5f;
    s.telescopePort = 1;
    s.cameraHandle = -1;
    s.telescopeHandle = -1;
    return s;
}

std::string formatSettingsLine(const st4Settings& s)
{
    std::string line;
    std::size_t next = 0;
    for (int i = 0; i < settingsFieldCount; ++i) {
        if (i > 0)
            line += ' ';
        char buffer[64];
        std::to_chars_result written;
        if (i == floatPosition) {
            written = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(s.exposureTime),
                                    std::chars_format::fixed, 6);
        } else {
            written = std::to_chars(buffer, buffer + sizeof buffer, s.*intFields[next++].member);
        }
        line.append(buffer, written.ptr);
    }
    line += '\n';
    return line;
}

int parseSettingsLine(std::string_view line, st4Settings& s)
{
    const st4Settings fallback = st4Settings::defaults();
    std::size_t next = 0;
    for (int i = 0; i < settingsFieldCount; ++i) {
        if (i == floatPosition) {
            float value = 0.0f;
            if (!scanFloat(line, value))
                return i;
            const bool inRange = std::isfinite(value) && value >= shortestExposure && value <= longestExposure;
            s.exposureTime = inRange ? value : fallback.exposureTime;
            continue;
        }
        const IntField& field = intFields[next++];
        long long value = 0;
        if (!scanInt(line, value))
            return i;
        const bool inRange = value >= field.low && value <= field.high;
        s.*field.member = inRange ? static_cast<int>(value) : fallback.*field.member;
    }
    return settingsFieldCount;
}

namespace {

int readNumber(const IniFile& ini, std::string_view section, std::string_view key, int low, int high, int otherwise)
{
    const std::string text = ini.readString(section, key, "");
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return otherwise;
    return value;
}

}  // namespace

TelescopeSharing readTelescopeSharing(const IniFile& ini)
{
    TelescopeSharing sharing;
    sharing.on = readNumber(ini, sharingSection, "Share", 0, 1, 0) == 1;
    sharing.port = readNumber(ini, sharingSection, "Port", 1, 65535, TelescopeSharing::defaultPort);
    sharing.allowOthers = readNumber(ini, sharingSection, "AllowOtherComputers", 0, 1, 0) == 1;
    return sharing;
}

FileError writeTelescopeSharing(IniFile& ini, const TelescopeSharing& sharing)
{
    for (const auto& [key, value] : {std::pair<std::string_view, int>{"Share", sharing.on ? 1 : 0},
                                     {"Port", sharing.port},
                                     {"AllowOtherComputers", sharing.allowOthers ? 1 : 0}}) {
        if (const FileError error = ini.writeString(sharingSection, key, std::to_string(value)); error.failed())
            return error;
    }
    return {};
}

bool readObservationKeywords(const IniFile& ini)
{
    return readNumber(ini, fitsSection, "ObservationKeywords", 0, 1, 0) == 1;
}

FileError writeObservationKeywords(IniFile& ini, bool on)
{
    return ini.writeString(fitsSection, "ObservationKeywords", on ? "1" : "0");
}

}  // namespace tarvi
