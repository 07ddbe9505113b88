#include "camera/st4_protocol.h"

#include <algorithm>

namespace tarvi {

void setChecksum(std::uint8_t* block, int length)
{
    if (length <= 0)
        return;
    std::uint8_t sum = 0;
    for (int i = 0; i < length - 1; ++i)
        sum = static_cast<std::uint8_t>(sum + block[i]);
    block[length - 1] = sum;
}

bool checksumOk(const std::uint8_t* block, int length)
{
    if (length <= 0)
        return false;
    std::uint8_t sum = 0;
    for (int i = 0; i < length - 1; ++i)
        sum = static_cast<std::uint8_t>(sum + block[i]);
    return block[length - 1] == sum;
}

std::vector<std::uint8_t> writeRamFrame(std::uint16_t address, std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + 6);
    frame.push_back(st4::writeRamCommand);
    frame.push_back(static_cast<std::uint8_t>(data.size() + 3));
    frame.push_back(0x01);
    frame.push_back(static_cast<std::uint8_t>(address & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(address >> 8));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(0);
    setChecksum(frame.data(), static_cast<int>(frame.size()));
    return frame;
}

std::array<std::uint8_t, 6> readRamFrame(std::uint16_t address, std::uint8_t count)
{
    std::array<std::uint8_t, 6> frame{st4::readRamCommand, count, 0x01, static_cast<std::uint8_t>(address & 0xFF),
                                      static_cast<std::uint8_t>(address >> 8), 0};
    setChecksum(frame.data(), static_cast<int>(frame.size()));
    return frame;
}

std::array<std::uint8_t, 2> rowRequestFrame(int row)
{
    const auto request = static_cast<std::uint8_t>(st4::rowRequestBase + row);
    return {request, request};
}

std::uint8_t gainValue(int cameraGain)
{
    return static_cast<std::uint8_t>(255 / (cameraGain + 1));
}

std::uint16_t exposureValue(float exposureTime)
{
    return static_cast<std::uint16_t>(static_cast<int>(exposureTime * 100 + 0.5));
}

void unpackNibbles(const std::uint8_t* bytes, int count, std::uint8_t* out)
{
    for (int i = 0; i < count; ++i) {
        out[2 * i] = bytes[i] & 0x0F;
        out[2 * i + 1] = bytes[i] >> 4;
    }
}

void decodeRow(const std::uint8_t* payload, std::uint8_t* destination, int n)
{
    if (n == st4::rawPayload) {
        std::copy(payload, payload + st4::rowWidth, destination);
        return;
    }
    if (n <= 0 || n > 255)
        return;
    std::uint8_t codes[2 * 255];
    unpackNibbles(payload, n, codes);
    std::uint8_t v = payload[0];
    destination[0] = v;
    int pixel = 1;
    const auto output = [&](std::uint8_t value) {
        if (pixel < st4::rowWidth)
            destination[pixel++] = value;
    };
    int i = 2;
    // The last payload byte's two codes are reached only as an escape's operands.
    while (i < 2 * n - 2) {
        const std::uint8_t c = codes[i];
        if (c == 8) {
            v = static_cast<std::uint8_t>(codes[i + 2] * 16 + codes[i + 1]);
            output(v);
            i += 3;
        } else if (c < 8) {
            v = static_cast<std::uint8_t>(v + c);
            output(v);
            i += 1;
        } else {
            v = static_cast<std::uint8_t>(v + c - 16);
            output(v);
            i += 1;
        }
    }
}

}  // namespace tarvi
