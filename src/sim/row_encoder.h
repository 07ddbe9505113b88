#pragma once

#include <cstdint>
#include <vector>

namespace tarvi::sim {

// The payload of a row frame for the 192 pixels of one row, as the camera
// sends it. Uncompressed it is the pixels themselves. Compressed it is the
// first pixel, then 4-bit codes packed low nibble first: a delta of -7..+7
// from the previous pixel, or the escape 8 followed by a literal pixel as two
// codes. When the compressed form would come out at 192 bytes (the length
// that means raw) or over 255 (more than the length byte can say), the raw
// row goes instead.
std::vector<std::uint8_t> encodeRow(const std::uint8_t* pixels, bool compress);

}  // namespace tarvi::sim
