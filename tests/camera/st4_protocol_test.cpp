// The frames' checksums, the exposure in hundredths and the row decoder. The
// request frames themselves are checked byte for byte on the scripted line in
// camera_link_test.cpp.
#include "camera/st4_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace tarvi {
namespace {

using Bytes = std::vector<std::uint8_t>;

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
    const std::pair<float, int> exposures[] = {{0.5f, 50}, {0.01f, 1}, {600.0f, 60000}, {1.234f, 123}, {1.235f, 124}};
    for (const auto& [seconds, hundredths] : exposures)
        EXPECT_EQ(exposureValue(seconds), hundredths) << seconds;
}

TEST(St4Rows, DecodeIntoTheRowAndNeverPastIt)
{
    const struct {
        Bytes payload;
        Bytes start;  // the first pixels; 0xEE: not written
    } cases[] = {
        {{0x64, 0x21, 0x00}, {0x64, 0x65, 0x67, 0xEE}},        // deltas, low nibble first; the last byte is never deltas
        {{0x10, 0x58, 0x1A, 0x00}, {0x10, 0xA5, 0xA6, 0xEE}},  // escape 8: two codes, low first, as a literal
        {{0x20, 0x81, 0xC3}, {0x20, 0x21, 0xC3, 0xEE}},        // an escape may take its operands from the last byte
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
