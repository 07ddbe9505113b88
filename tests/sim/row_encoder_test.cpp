#include "sim/row_encoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "camera/st4_protocol.h"

namespace tarvi::sim {
namespace {

using Row = std::array<std::uint8_t, st4::rowWidth>;
using Bytes = std::vector<std::uint8_t>;

// Decodes onto a row filled with `fill`, so that a pixel the payload never
// reaches shows as the fill.
Row decoded(const Bytes& payload, std::uint8_t fill)
{
    Row row;
    row.fill(fill);
    decodeRow(payload.data(), row.data(), static_cast<int>(payload.size()));
    return row;
}

TEST(DecodeRow, TakesTheFirstBytesCodesAsThePixelAndIgnoresTheLastBytesCodes)
{
    const Row row = decoded({0x64, 0x21, 0x00}, 0xEE);
    EXPECT_EQ(row[0], 0x64);
    EXPECT_EQ(row[1], 0x65);
    EXPECT_EQ(row[2], 0x67);
    EXPECT_EQ(row[3], 0xEE);
    EXPECT_EQ(row[191], 0xEE);
}

TEST(DecodeRow, EscapeGivesALiteralPixelAndDeltasGoOnFromIt)
{
    // Codes from index 2: 8, 5, A (the literal 0xA5), then +1; the last byte is padding.
    const Row row = decoded({0x10, 0x58, 0x1A, 0x00}, 0xEE);
    EXPECT_EQ(row[0], 0x10);
    EXPECT_EQ(row[1], 0xA5);
    EXPECT_EQ(row[2], 0xA6);
    EXPECT_EQ(row[3], 0xEE);
}

TEST(DecodeRow, AnEscapeMayTakeItsOperandsFromTheLastByte)
{
    const Row row = decoded({0x20, 0x81, 0xC3}, 0xEE);
    EXPECT_EQ(row[1], 0x21);
    EXPECT_EQ(row[2], 0xC3);
    EXPECT_EQ(row[3], 0xEE);
}

TEST(DecodeRow, NegativeDeltasWrapBelowZero)
{
    const Row row = decoded({0x00, 0xFF, 0x00}, 0xEE);
    EXPECT_EQ(row[1], 255);
    EXPECT_EQ(row[2], 254);
}

TEST(DecodeRow, TwoBytesGiveTheFirstPixelOnly)
{
    const Row row = decoded({0x42, 0x35}, 0xEE);
    EXPECT_EQ(row[0], 0x42);
    EXPECT_EQ(row[1], 0xEE);
}

TEST(DecodeRow, APayloadOf192BytesIsTheRawRow)
{
    Bytes payload(st4::rawPayload);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 37 + 8);
    const Row row = decoded(payload, 0xEE);
    EXPECT_TRUE(std::equal(row.begin(), row.end(), payload.begin()));
}

// Rows whose compressed form the round trip must survive: the smooth ones
// that compress well, and the ones that take escapes, wrap around, or end on
// an escape or a delta.
std::vector<std::pair<std::string, Row>> testRows()
{
    std::vector<std::pair<std::string, Row>> rows;
    const auto add = [&](std::string name, auto pixel) {
        Row row;
        for (int x = 0; x < st4::rowWidth; ++x)
            row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(pixel(x));
        rows.emplace_back(std::move(name), row);
    };
    for (int level : {0, 1, 7, 8, 127, 128, 248, 254, 255})
        add("flat " + std::to_string(level), [=](int) { return level; });
    for (int slope = -9; slope <= 9; ++slope) {
        for (int start : {0, 3, 128, 252, 255})
            add("ramp " + std::to_string(slope) + " from " + std::to_string(start), [=](int x) { return start + slope * x; });
    }
    add("0 and 255 alternating", [](int x) { return x % 2 ? 255 : 0; });
    add("wrapping by +3 across 255", [](int x) { return 250 + 3 * x; });
    add("wrapping by -5 across 0", [](int x) { return 4 - 5 * x; });
    add("jumps of exactly 8", [](int x) { return x % 2 ? 8 : 0; });
    add("jumps of exactly 7", [](int x) { return x % 2 ? 7 : 0; });
    add("ends in a jump", [](int x) { return x == st4::rowWidth - 1 ? 200 : 10; });
    add("ends in a step", [](int x) { return x == st4::rowWidth - 1 ? 11 : 10; });
    add("starts with a jump", [](int x) { return x == 1 ? 200 : 10; });
    add("a star", [](int x) {
        const double d = x - 96.3;
        return 20 + static_cast<int>(220 * std::exp(-d * d / 4.5));
    });

    std::mt19937 random(20261206);
    for (int spread : {1, 3, 7, 8, 15, 40, 256}) {
        for (int i = 0; i < 60; ++i) {
            std::uniform_int_distribution<int> step(-spread / 2, spread / 2);
            int v = std::uniform_int_distribution<int>(0, 255)(random);
            add("noise " + std::to_string(spread) + " #" + std::to_string(i), [&](int) {
                v = (v + step(random)) & 0xFF;
                return v;
            });
        }
    }
    for (int i = 0; i < 300; ++i) {
        // Mixed: quiet stretches broken by jumps, with random jump rates.
        const double jumpRate = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        std::bernoulli_distribution jump(jumpRate);
        std::uniform_int_distribution<int> any(0, 255);
        std::uniform_int_distribution<int> small(-7, 7);
        int v = any(random);
        add("mixed #" + std::to_string(i), [&](int) {
            v = jump(random) ? any(random) : (v + small(random)) & 0xFF;
            return v;
        });
    }
    return rows;
}

TEST(EncodeRow, RawIsTheRowItself)
{
    for (const auto& [name, row] : testRows()) {
        const Bytes payload = encodeRow(row.data(), false);
        ASSERT_EQ(payload, Bytes(row.begin(), row.end())) << name;
    }
}

TEST(EncodeRow, DecodeRowGivesBackEveryRow)
{
    for (const bool compress : {false, true}) {
        for (const auto& [name, row] : testRows()) {
            const Bytes payload = encodeRow(row.data(), compress);
            ASSERT_GE(payload.size(), 1u) << name;
            ASSERT_LE(payload.size(), 255u) << name;
            if (payload.size() == st4::rawPayload) {
                ASSERT_EQ(payload, Bytes(row.begin(), row.end())) << name;
            }
            // Two fills: a pixel the decoder left alone would match one of them only.
            ASSERT_EQ(decoded(payload, 0x00), row) << name << (compress ? " compressed" : " raw");
            ASSERT_EQ(decoded(payload, 0xFF), row) << name << (compress ? " compressed" : " raw");
        }
    }
}

TEST(EncodeRow, SmoothRowsCompress)
{
    // The first pixel, 191 zero deltas at two a byte, and the closing byte.
    Row flat;
    flat.fill(0x64);
    EXPECT_EQ(encodeRow(flat.data(), true).size(), 98u);

    Row gentle;
    for (int x = 0; x < st4::rowWidth; ++x)
        gentle[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(40 + (x * 7) % 13);
    EXPECT_LT(encodeRow(gentle.data(), true).size(), st4::rawPayload);
}

// A row of 192 pixels whose first `jumps` steps are too big for a delta and
// whose other steps are small; the last step is a jump when `endsInJump`.
Row rowWithJumps(int jumps, bool endsInJump)
{
    Row row;
    row[0] = 0;
    int jumpsLeft = jumps;
    for (int x = 1; x < st4::rowWidth; ++x) {
        const bool last = x == st4::rowWidth - 1;
        const bool jump = last ? endsInJump : (jumpsLeft > (endsInJump ? 1 : 0));
        if (jump) {
            --jumpsLeft;
            row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(row[static_cast<std::size_t>(x - 1)] ^ 0x80);
        } else {
            row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(row[static_cast<std::size_t>(x - 1)] + 1);
        }
    }
    return row;
}

struct LengthCase {
    int jumps;
    bool endsInJump;
    std::size_t compressedLength;  // 0: the raw row goes
};

std::ostream& operator<<(std::ostream& out, const LengthCase& c)
{
    return out << c.jumps << " jumps, ending in a " << (c.endsInJump ? "jump" : "step");
}

class EncodeRowLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(EncodeRowLength, NeverSends192CompressedBytesNorMoreThan255)
{
    const LengthCase c = GetParam();
    const Row row = rowWithJumps(c.jumps, c.endsInJump);
    const Bytes payload = encodeRow(row.data(), true);
    if (c.compressedLength == 0) {
        EXPECT_EQ(payload, Bytes(row.begin(), row.end()));
    } else {
        EXPECT_EQ(payload.size(), c.compressedLength);
    }
    EXPECT_EQ(decoded(payload, 0x00), row);
    EXPECT_EQ(decoded(payload, 0xFF), row);
}

// Each jump costs two codes more than a delta; a closing delta costs a byte
// more than a closing escape, because the last byte must hold no delta.
INSTANTIATE_TEST_SUITE_P(Boundaries, EncodeRowLength,
                         ::testing::Values(LengthCase{94, true, 191}, LengthCase{95, true, 0}, LengthCase{96, true, 193},
                                           LengthCase{93, false, 191}, LengthCase{94, false, 0},
                                           LengthCase{95, false, 193}, LengthCase{158, true, 255},
                                           LengthCase{159, true, 0}, LengthCase{157, false, 255},
                                           LengthCase{158, false, 0}, LengthCase{191, true, 0}));

}  // namespace
}  // namespace tarvi::sim
