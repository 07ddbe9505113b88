// Any settings line: every field read lands in its range, and what is
// formatted reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/settings.h"

namespace {
bool inRange(const tarvi::st4Settings& s)
{
    const auto flag = [](int v) { return v == 0 || v == 1; };
    const auto index = [](int v) { return v >= 0 && v <= 3; };
    return flag(s.antiBloom) && flag(s.smoothImage) && flag(s.subtractDarkFrame) && flag(s.operationsInPC)
           && flag(s.useCompression) && index(s.cameraGain) && s.exposureTime >= 0.01f
           && s.exposureTime <= 600.0f && s.exposureDelay >= 0 && s.exposureDelay <= 99
           && s.baselineLevel >= 0 && s.baselineLevel <= 255 && s.subtractionConstant >= 0
           && s.subtractionConstant <= 255 && index(s.cameraPort) && index(s.cameraSpeed)
           && index(s.cameraSpeedInUse) && index(s.telescopePort) && flag(s.downloadStop);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tarvi::st4Settings s = tarvi::st4Settings::defaults();
    tarvi::parseSettingsLine(std::string_view(reinterpret_cast<const char*>(data), size), s);
    if (!inRange(s))
        std::abort();
    tarvi::st4Settings back = tarvi::st4Settings::defaults();
    if (tarvi::parseSettingsLine(tarvi::formatSettingsLine(s), back) != tarvi::settingsFieldCount)
        std::abort();
    if (tarvi::formatSettingsLine(back) != tarvi::formatSettingsLine(s))
        std::abort();
    return 0;
}
