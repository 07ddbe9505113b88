#pragma once

#include <string>
#include <string_view>

namespace tarvi {

// The title after name in a run of captures sharing one window: "F-0001.bmp"
// -> "F-0002.bmp", "M42" -> "M42-0001.bmp", "X-9999.BMP" -> "X-10000.bmp".
std::string nextAutosaveName(std::string_view name);

}  // namespace tarvi
