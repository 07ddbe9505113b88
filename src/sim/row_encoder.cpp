#include "sim/row_encoder.h"

#include "camera/st4_protocol.h"

namespace tarvi::sim {
namespace {

std::vector<std::uint8_t> rawRow(const std::uint8_t* pixels)
{
    return std::vector<std::uint8_t>(pixels, pixels + st4::rowWidth);
}

}  // namespace

std::vector<std::uint8_t> encodeRow(const std::uint8_t* pixels, bool compress)
{
    if (!compress)
        return rawRow(pixels);

    // codes[0] and codes[1] are the first pixel's nibbles: the receiver reads
    // them as the first payload byte and starts decoding at code 2.
    std::vector<std::uint8_t> codes{static_cast<std::uint8_t>(pixels[0] & 0x0F), static_cast<std::uint8_t>(pixels[0] >> 4)};
    bool lastIsDelta = false;
    for (int x = 1; x < st4::rowWidth; ++x) {
        const int delta = static_cast<std::int8_t>(static_cast<std::uint8_t>(pixels[x] - pixels[x - 1]));
        lastIsDelta = delta >= -7 && delta <= 7;
        if (lastIsDelta) {
            codes.push_back(static_cast<std::uint8_t>(delta & 0x0F));
        } else {
            codes.push_back(8);
            codes.push_back(pixels[x] & 0x0F);
            codes.push_back(pixels[x] >> 4);
        }
    }

    // The receiver decodes while its code index is below 2n - 2, so the last
    // token must start below that and everything after it must not: the
    // final byte's codes are only ever read as an escape's operands. After a
    // closing escape ceil(size / 2) bytes do; after a closing delta exactly
    // size / 2 + 1 bytes do, which needs an even count: one more zero delta
    // makes it even, and the pixel it decodes to falls past the end of the
    // row, where the receiver writes nothing.
    if (lastIsDelta && codes.size() % 2 == 1)
        codes.push_back(0);
    const std::size_t n = lastIsDelta ? codes.size() / 2 + 1 : (codes.size() + 1) / 2;
    if (n == st4::rawPayload || n > 255)
        return rawRow(pixels);
    codes.resize(2 * n, 0);
    std::vector<std::uint8_t> payload(n);
    for (std::size_t i = 0; i < n; ++i)
        payload[i] = static_cast<std::uint8_t>(codes[2 * i] | (codes[2 * i + 1] << 4));
    return payload;
}

}  // namespace tarvi::sim
