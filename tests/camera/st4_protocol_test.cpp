#include "camera/st4_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace tarvi {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(St4Frames, RequestsByteForByte)
{
    const struct {
        int address;
        Bytes value;
        Bytes frame;
    } writes[] = {
        {0x2F, {0x60}, {0x01, 0x04, 0x01, 0x2F, 0x00, 0x60, 0x95}},
        {0x30, {50, 0}, {0x01, 0x05, 0x01, 0x30, 0x00, 0x32, 0x00, 0x69}},  // 0.5 s in hundredths, little-endian
        {0x38, {0xFF}, {0x01, 0x04, 0x01, 0x38, 0x00, 0xFF, 0x3D}},
        {0x32, {0x00, 0xC0}, {0x01, 0x05, 0x01, 0x32, 0x00, 0x00, 0xC0, 0xF9}},
    };
    for (const auto& c : writes)
        EXPECT_EQ(writeRamFrame(std::uint16_t(c.address), c.value), c.frame) << c.address;
    EXPECT_EQ(readRamFrame(0x37, 1), (std::array<std::uint8_t, 6>{0x02, 0x01, 0x01, 0x37, 0x00, 0x3B}));
    EXPECT_EQ(rowRequestFrame(164), (std::array<std::uint8_t, 2>{0xE4, 0xE4}));
    // Rows past 191 wrap in the low 8 bits.
    EXPECT_EQ(rowRequestFrame(200), (std::array<std::uint8_t, 2>{0x08, 0x08}));
}

TEST(St4Frames, ChecksumIsTheSumOfTheBytesBeforeIt)
{
    std::uint8_t one[] = {0x55};
    setChecksum(one, 1);
    EXPECT_EQ(one[0], 0x00);  // no bytes before it
    std::uint8_t block[] = {0xFF, 0xFF, 0x03, 0x00};
    setChecksum(block, 4);
    EXPECT_EQ(block[3], 0x01);  // 0x201 modulo 256
    EXPECT_TRUE(checksumOk(block, 4));
    block[1] ^= 0x10;
    EXPECT_FALSE(checksumOk(block, 4));
    EXPECT_FALSE(checksumOk(block, 0));
}

TEST(St4Values, GainExposureAndNibbles)
{
    EXPECT_EQ((std::array{gainValue(0), gainValue(1), gainValue(2), gainValue(3)}),
              (std::array<std::uint8_t, 4>{255, 127, 85, 63}));
    const std::pair<float, int> exposures[] = {{0.5f, 50}, {0.01f, 1}, {600.0f, 60000}, {1.234f, 123}, {1.235f, 124}};
    for (const auto& [seconds, hundredths] : exposures)
        EXPECT_EQ(exposureValue(seconds), hundredths) << seconds;
    const std::uint8_t bytes[] = {0x21, 0xA8, 0x0F};
    std::uint8_t codes[6] = {};
    unpackNibbles(bytes, 3, codes);
    EXPECT_EQ(Bytes(codes, codes + 6), (Bytes{0x1, 0x2, 0x8, 0xA, 0xF, 0x0}));  // low nibble first
}

TEST(St4Rows, DecodeIntoTheRowAndNeverPastIt)
{
    const struct {
        Bytes payload;
        Bytes start;  // the first pixels; 0xEE: not written
    } cases[] = {
        {{0x64, 0x21, 0x00}, {0x64, 0x65, 0x67, 0xEE}},        // deltas; the last byte is never deltas
        {{0x10, 0x58, 0x1A, 0x00}, {0x10, 0xA5, 0xA6, 0xEE}},  // escape 8: two codes, low first, as a literal
        {{0x00, 0x9F, 0x00}, {0x00, 255, 248, 0xEE}},          // 0xF is -1 and wraps; 9 is -7
        {{0x42, 0x33}, {0x42, 0xEE}},                          // two bytes or fewer: the first pixel only
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 192> row{};
        row.fill(0xEE);
        decodeRow(c.payload.data(), row.data(), int(c.payload.size()));
        EXPECT_EQ(Bytes(row.begin(), row.begin() + c.start.size()), c.start) << int(c.payload[0]);
    }
    Bytes raw(192);
    for (int i = 0; i < 192; ++i)
        raw[std::size_t(i)] = std::uint8_t(i * 7);
    std::array<std::uint8_t, 200> row{};
    decodeRow(raw.data(), row.data(), 192);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), row.begin())) << "exactly 192 bytes are the raw row";
    // 255 bytes of +1 deltas would be 506 pixels.
    const Bytes deltas(255, 0x11);
    row.fill(0xEE);
    decodeRow(deltas.data(), row.data(), 255);
    EXPECT_EQ(row[191], std::uint8_t(0x11 + 191));
    EXPECT_EQ(row[192], 0xEE);
}

}  // namespace
}  // namespace tarvi
