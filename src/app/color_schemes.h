#pragma once

#include <array>
#include <cstdint>

namespace tarvi {

// The desktop colour elements the night schemes set, by their index in the
// 256-entry colour table.
namespace colorElement {
inline constexpr int activeCaption = 2;
inline constexpr int menu = 4;
inline constexpr int window = 5;
inline constexpr int highlightText = 14;
inline constexpr int buttonFace = 15;
}  // namespace colorElement

enum class NightScheme { dark, light };

using ColorTable = std::array<std::uint32_t, 256>;  // 0x00BBGGRR

// Red on black: every element black but the five above, each a shade of pure
// red (the light scheme twice as bright as the dark one).
ColorTable nightSchemeValues(NightScheme scheme);

inline constexpr int redOf(std::uint32_t colorRef)
{
    return static_cast<int>(colorRef & 0xFF);
}

}  // namespace tarvi
