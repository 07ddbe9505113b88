#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tarvi {

// The camera's wire protocol: frames that write and read its RAM, row
// requests, and the row frames it answers with. Every frame ends in a
// checksum byte, the sum of the bytes before it modulo 256.
namespace st4 {

inline constexpr std::uint8_t acknowledgement = 0x06;
inline constexpr std::uint8_t writeRamCommand = 0x01;
inline constexpr std::uint8_t readRamCommand = 0x02;
inline constexpr std::uint8_t rowRequestBase = 0x40;
inline constexpr int rowWidth = 192;
inline constexpr int rowCount = 165;
inline constexpr int rawPayload = rowWidth;
// A row frame: byte 0 (not looked at), the payload length, the payload, the checksum.
inline constexpr int rowFrameOverhead = 3;
inline constexpr int largestRowFrame = 255 + rowFrameOverhead;

namespace ram {
inline constexpr std::uint16_t mode = 0x2E;         // writing it starts an exposure
inline constexpr std::uint16_t antiBloom = 0x2F;    // 0x60 on, 0x20 off
inline constexpr std::uint16_t exposure = 0x30;     // 2 bytes, hundredths of a second
inline constexpr std::uint16_t rowLength = 0x32;    // 2 bytes: 0x00, 0xC0 before a download
inline constexpr std::uint16_t subtraction = 0x34;
inline constexpr std::uint16_t gain = 0x35;
inline constexpr std::uint16_t baseline = 0x36;
inline constexpr std::uint16_t version = 0x37;
inline constexpr std::uint16_t divisor = 0x38;
}  // namespace ram

// Mode bits the camera keeps set while an exposure or dark frame is under way.
inline constexpr std::uint8_t busyBits = 0x10 | 0x20;
inline constexpr std::uint8_t darkBusyBit = 0x04;

// By speed index 0..3.
inline constexpr std::array<std::uint32_t, 4> baudRates{57600, 19200, 9600, 1200};
inline constexpr std::array<std::uint8_t, 4> divisors{0xFF, 0xFD, 0xFA, 0xD2};
inline constexpr std::array<std::string_view, 4> speedLabels{"56.6K", "19.2K", "9600", "1200"};
inline constexpr int speedIndex9600 = 2;

}  // namespace st4

void setChecksum(std::uint8_t* block, int length);
bool checksumOk(const std::uint8_t* block, int length);

// 0x01, n + 3, 0x01, address low, address high, the n data bytes, checksum.
std::vector<std::uint8_t> writeRamFrame(std::uint16_t address, std::span<const std::uint8_t> data);
// 0x02, n, 0x01, address low, address high, checksum.
std::array<std::uint8_t, 6> readRamFrame(std::uint16_t address, std::uint8_t count);
// 0x40 + row (low 8 bits), then the same byte as its checksum.
std::array<std::uint8_t, 2> rowRequestFrame(int row);

// The gain byte for gain index 0..3: 255, 127, 85, 63.
std::uint8_t gainValue(int cameraGain);
// Exposure in hundredths of a second, rounded, as the camera takes it.
std::uint16_t exposureValue(float exposureTime);

// For each byte its low nibble, then its high nibble: 2 * count values.
void unpackNibbles(const std::uint8_t* bytes, int count, std::uint8_t* out);

// Turns a row frame's payload of n bytes into the row's 192 pixels. A
// payload of exactly 192 bytes is the raw row; any other is compressed:
// payload byte 0 is the first pixel, and the 4-bit codes of the bytes after
// it (low nibble first) are deltas of -7..+7, or 8, an escape whose next two
// codes make a literal pixel. The last byte's codes only ever serve as an
// escape's operands. Nothing past the 192nd pixel is written.
void decodeRow(const std::uint8_t* payload, std::uint8_t* destination, int n);

}  // namespace tarvi
