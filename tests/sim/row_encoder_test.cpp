#include "sim/row_encoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
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

// Rows whose compressed form the round trip must survive: flat ones and
// ramps that compress well, ones that wrap around, and random walks of every
// spread, some broken by jumps (escapes) at random rates.
std::vector<std::pair<std::string, Row>> testRows()
{
    std::vector<std::pair<std::string, Row>> rows;
    const auto add = [&](std::string name, auto pixel) {
        Row row;
        for (int x = 0; x < st4::rowWidth; ++x)
            row[std::size_t(x)] = std::uint8_t(pixel(x));
        rows.emplace_back(std::move(name), row);
    };
    for (int slope = -9; slope <= 9; ++slope) {
        for (int start : {0, 3, 7, 8, 128, 248, 252, 255})
            add("ramp " + std::to_string(slope) + " from " + std::to_string(start), [=](int x) { return start + slope * x; });
    }
    add("0 and 255 alternating", [](int x) { return x % 2 ? 255 : 0; });
    add("ends in a jump", [](int x) { return x == st4::rowWidth - 1 ? 200 : 10; });
    add("starts with a jump", [](int x) { return x == 1 ? 200 : 10; });
    std::mt19937 random(20261206);
    for (int i = 0; i < 720; ++i) {
        const int spread = std::array{1, 3, 7, 8, 15, 40, 256}[i % 7];
        std::uniform_int_distribution<int> step(-spread / 2, spread / 2), any(0, 255);
        std::bernoulli_distribution jump(i < 420 ? 0.0 : std::uniform_real_distribution<double>(0.0, 1.0)(random));
        int v = any(random);
        add("walk " + std::to_string(i), [&](int) { return v = jump(random) ? any(random) : (v + step(random)) & 0xFF; });
    }
    return rows;
}

TEST(EncodeRow, DecodeRowGivesBackEveryRow)
{
    for (const bool compress : {false, true}) {
        for (const auto& [name, row] : testRows()) {
            const Bytes payload = encodeRow(row.data(), compress);
            ASSERT_TRUE(payload.size() >= 1 && payload.size() <= 255) << name;
            if (!compress || payload.size() == st4::rawPayload) {
                ASSERT_EQ(payload, Bytes(row.begin(), row.end())) << name;
            }
            // Two fills: a pixel the decoder left alone would match one of them only.
            ASSERT_EQ(decoded(payload, 0x00), row) << name << (compress ? " compressed" : " raw");
            ASSERT_EQ(decoded(payload, 0xFF), row) << name << (compress ? " compressed" : " raw");
        }
    }
}

// A row of 192 pixels whose first `jumps` steps are too big for a delta and
// whose other steps are small; the last step is a jump when `endsInJump`.
Row rowWithJumps(int jumps, bool endsInJump)
{
    Row row{};
    for (std::size_t x = 1; x < row.size(); ++x) {
        const bool jump = x == row.size() - 1 ? endsInJump : jumps > (endsInJump ? 1 : 0);
        jumps -= jump;
        row[x] = std::uint8_t(jump ? row[x - 1] ^ 0x80 : row[x - 1] + 1);
    }
    return row;
}

// Each jump costs two codes more than a delta; a closing delta costs a byte
// more than a closing escape, because the last byte must hold no delta.
TEST(EncodeRow, NeverSends192CompressedBytesNorMoreThan255)
{
    const struct { int jumps; bool endsInJump; std::size_t compressedLength; } cases[] = {  // 0: the raw row goes
        {94, true, 191},  {95, true, 0},   {96, true, 193},  {93, false, 191}, {94, false, 0}, {95, false, 193},
        {158, true, 255}, {159, true, 0}, {157, false, 255}, {158, false, 0}, {191, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.jumps) + (c.endsInJump ? " jumps, ending in a jump" : " jumps, ending in a step"));
        const Row row = rowWithJumps(c.jumps, c.endsInJump);
        const Bytes payload = encodeRow(row.data(), true);
        EXPECT_EQ(payload.size(), c.compressedLength == 0 ? st4::rawPayload : c.compressedLength);
        EXPECT_EQ(decoded(payload, 0x00), row);
        EXPECT_EQ(decoded(payload, 0xFF), row);
    }
}

}  // namespace
}  // namespace tarvi::sim
