#include "camera/st4_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace tarvi {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(St4Frames, WriteRamFramesByteForByte)
{
    const std::uint8_t antiBloomOn[] = {0x60};
    EXPECT_EQ(writeRamFrame(0x2F, antiBloomOn), (Bytes{0x01, 0x04, 0x01, 0x2F, 0x00, 0x60, 0x95}));
    // 0.5 s is 50 hundredths, little-endian in an 8-byte frame.
    const std::uint8_t exposure[] = {50, 0};
    EXPECT_EQ(writeRamFrame(0x30, exposure), (Bytes{0x01, 0x05, 0x01, 0x30, 0x00, 0x32, 0x00, 0x69}));
    const std::uint8_t divisor[] = {0xFF};
    EXPECT_EQ(writeRamFrame(0x38, divisor), (Bytes{0x01, 0x04, 0x01, 0x38, 0x00, 0xFF, 0x3D}));
    const std::uint8_t rowLength[] = {0x00, 0xC0};
    EXPECT_EQ(writeRamFrame(0x32, rowLength), (Bytes{0x01, 0x05, 0x01, 0x32, 0x00, 0x00, 0xC0, 0xF9}));
}

TEST(St4Frames, ReadRamAndRowRequests)
{
    EXPECT_EQ(readRamFrame(0x37, 1), (std::array<std::uint8_t, 6>{0x02, 0x01, 0x01, 0x37, 0x00, 0x3B}));
    EXPECT_EQ(readRamFrame(0x2E, 1), (std::array<std::uint8_t, 6>{0x02, 0x01, 0x01, 0x2E, 0x00, 0x32}));
    EXPECT_EQ(rowRequestFrame(0), (std::array<std::uint8_t, 2>{0x40, 0x40}));
    EXPECT_EQ(rowRequestFrame(164), (std::array<std::uint8_t, 2>{0xE4, 0xE4}));
    // Rows past 191 wrap in the low 8 bits.
    EXPECT_EQ(rowRequestFrame(200), (std::array<std::uint8_t, 2>{0x08, 0x08}));
}

TEST(St4Frames, ChecksumIsTheSumOfTheBytesBeforeIt)
{
    std::uint8_t one[] = {0x55};
    setChecksum(one, 1);
    EXPECT_EQ(one[0], 0x00);  // no bytes before it
    EXPECT_TRUE(checksumOk(one, 1));
    one[0] = 1;
    EXPECT_FALSE(checksumOk(one, 1));

    std::uint8_t block[] = {0xFF, 0xFF, 0x03, 0x00};
    setChecksum(block, 4);
    EXPECT_EQ(block[3], 0x01);  // 0x201 modulo 256
    EXPECT_TRUE(checksumOk(block, 4));
    block[1] ^= 0x10;
    EXPECT_FALSE(checksumOk(block, 4));
    EXPECT_FALSE(checksumOk(block, 0));
}

TEST(St4Values, GainExposureAndSpeeds)
{
    EXPECT_EQ((std::array{gainValue(0), gainValue(1), gainValue(2), gainValue(3)}), (std::array<std::uint8_t, 4>{255, 127, 85, 63}));
    EXPECT_EQ(exposureValue(0.5f), 50);
    EXPECT_EQ(exposureValue(0.01f), 1);
    EXPECT_EQ(exposureValue(600.0f), 60000);
    EXPECT_EQ(exposureValue(1.234f), 123);
    EXPECT_EQ(exposureValue(1.235f), 124);
}

TEST(St4Nibbles, LowNibbleFirst)
{
    const std::uint8_t bytes[] = {0x21, 0xA8, 0x0F};
    std::uint8_t codes[6] = {};
    unpackNibbles(bytes, 3, codes);
    EXPECT_EQ(Bytes(codes, codes + 6), (Bytes{0x1, 0x2, 0x8, 0xA, 0xF, 0x0}));
}

std::array<std::uint8_t, 192> decoded(const Bytes& payload)
{
    std::array<std::uint8_t, 192> row{};
    row.fill(0xEE);
    decodeRow(payload.data(), row.data(), int(payload.size()));
    return row;
}

TEST(St4Rows, CompressedRowsDecode)
{
    // Deltas 1 and 2 after 0x64; the last byte is never decoded as deltas.
    auto row = decoded({0x64, 0x21, 0x00});
    EXPECT_EQ(row[0], 0x64);
    EXPECT_EQ(row[1], 0x65);
    EXPECT_EQ(row[2], 0x67);
    EXPECT_EQ(row[3], 0xEE);

    // The escape 8 takes the next two codes, low first, as a literal: 0xA5;
    // the deltas after it go on from there.
    row = decoded({0x10, 0x58, 0x1A, 0x00});
    EXPECT_EQ(row[0], 0x10);
    EXPECT_EQ(row[1], 0xA5);
    EXPECT_EQ(row[2], 0xA6);
    EXPECT_EQ(row[3], 0xEE);

    // Delta 0xF is -1: after 0 it wraps to 255, then 9 is -7.
    row = decoded({0x00, 0x9F, 0x00});
    EXPECT_EQ(row[1], 255);
    EXPECT_EQ(row[2], 248);

    // Two or fewer payload bytes give the first pixel only.
    row = decoded({0x42, 0x33});
    EXPECT_EQ(row[0], 0x42);
    EXPECT_EQ(row[1], 0xEE);
}

TEST(St4Rows, ExactlyOneHundredNinetyTwoBytesAreTheRawRow)
{
    Bytes payload(192);
    for (int i = 0; i < 192; ++i)
        payload[std::size_t(i)] = std::uint8_t(i * 7);
    const auto row = decoded(payload);
    EXPECT_TRUE(std::equal(row.begin(), row.end(), payload.begin()));
}

TEST(St4Rows, DecodingNeverWritesPastTheRow)
{
    // 255 bytes of +1 deltas would be 506 pixels.
    Bytes payload(255, 0x11);
    std::array<std::uint8_t, 200> row{};
    row.fill(0xEE);
    decodeRow(payload.data(), row.data(), 255);
    EXPECT_EQ(row[191], std::uint8_t(0x11 + 191));
    EXPECT_EQ(row[192], 0xEE);
}

}  // namespace
}  // namespace tarvi
