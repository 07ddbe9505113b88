// How a picture is shown: the display size the dialog's scroll bar stands
// for, and the readout of the pixel under the pointer.
#include <gtest/gtest.h>

#include <vector>

#include "image/bmp.h"
#include "support/fake_ui.h"
#include "view/display_size.h"
#include "view/readout.h"

namespace tarvi {
namespace {

TEST(DisplaySize, ScrollPositionsStandForTwentiethsNeverBelowATenth)
{
    // Position, the size shown, and where the thumb starts when the dialog opens again with that size.
    const std::tuple<int, const char*, int> positions[] = {{0, " 0.10", 2}, {1, " 0.10", 2}, {2, " 0.10", 2},
                                                           {3, " 0.15", 3}, {9, " 0.45", 8}, {11, " 0.55", 11},
                                                           {20, " 1.00", 20}, {99, " 4.95", 99}, {100, " 5.00", 100}};
    for (const auto& [position, shown, back] : positions) {
        EXPECT_EQ(formatDisplaySize(displaySizeForPosition(position)), shown) << position;
        EXPECT_EQ(positionForDisplaySize(displaySizeForPosition(position)), back) << position;
    }
    EXPECT_EQ(formatDisplaySize(12.5), "12.50");
    using enum ScrollAction;
    const std::tuple<ScrollAction, int, int, int> moves[] = {
        {lineLeft, 20, 0, 19},  {lineLeft, 0, 0, 0},   {lineLeft, 1, 0, 0},     {lineRight, 20, 0, 21},
        {lineRight, 100, 0, 100}, {lineRight, 99, 0, 100}, {pageLeft, 20, 0, 15}, {pageLeft, 3, 0, 0},
        {pageLeft, 0, 0, 0},    {pageRight, 97, 0, 100}, {pageRight, 20, 0, 25}, {pageRight, 100, 0, 100},
        {thumb, 20, 63, 63},    {thumb, 20, 101, 100}, {thumb, 20, -1, 0},     {leftEnd, 40, 0, 0},
        {rightEnd, 40, 0, 100}, {endScroll, 40, 7, 40}};
    for (const auto& [action, from, thumbAt, to] : moves)
        EXPECT_EQ(scrollPosition(action, from, thumbAt), to) << static_cast<int>(action) << " from " << from;
}


TEST(Readout, PixelUnderThePointerThroughScrollAndScaleKeptInsideThePicture)
{
    // A 192 x 165 grey frame of level (row + column) % 256, grey row 0 the bottom row, with one colour pixel.
    std::vector<std::uint8_t> gray(192 * 165);
    for (std::size_t i = 0; i < gray.size(); ++i)
        gray[i] = static_cast<std::uint8_t>((i / 192 + i % 192) % 256);
    test::FakeUi ui;
    bmp image(ui);
    image.createFromGray(gray.data(), 192, 165);
    image.getPixels()[(164 - 25) * 576 + 3 * 50] = 7, image.getPixels()[(164 - 25) * 576 + 3 * 50 + 1] = 8;  // at (50, 25)
    const std::tuple<int, int, int, int, double, int, int> cases[] = {
        {300, 200, 0, 0, 1.0, 191, 164}, {0, 0, 0, 0, 1.0, 0, 0}, {100, 50, 0, 0, 2.0, 50, 25}, {100, 50, 40, 60, 2.0, 70, 55},
        {10, 10, 0, 0, 0.5, 20, 20}, {-5, -1, 0, 0, 1.0, 0, 0}, {3, 3, 0, 0, 0.0, 3, 3}, {191, 164, 0, 0, 1.0, 191, 164},
        {99, 49, 0, 0, 2.0, 49, 24}};
    for (const auto& [viewX, viewY, scrollX, scrollY, scale, x, y] : cases) {
        const PixelColor pixel = pixelAt(image, viewX, viewY, scrollX, scrollY, scale);
        const int level = (164 - y + x) % 256;
        const bool coloured = x == 50 && y == 25;
        EXPECT_EQ(std::vector<int>({pixel.x, pixel.y, pixel.red, pixel.green, pixel.blue}),
                  std::vector<int>({x, y, level, coloured ? 8 : level, coloured ? 7 : level}))
            << viewX << "," << viewY << " at " << scale;
    }
    EXPECT_EQ(formatReadout(pixelAt(image, 100, 50, 0, 0, 2.0), 127.5), "(50,25): R=189, G=8, B=7 - Q = 127.500000");
    bmp empty(ui);
    EXPECT_EQ(pixelAt(empty, 5, 5, 0, 0, 1.0).x + pixelAt(empty, 5, 5, 0, 0, 1.0).red, 0);
}

TEST(Readout, MeanLevelLeavesTheRowPaddingOut)
{
    test::FakeUi ui;
    const std::vector<std::uint8_t> gray{10, 20, 30, 40, 50, 60, 70, 80, 90, 100};  // width 5: one padding byte a row
    bmp image(ui);
    image.createFromGray(gray.data(), 5, 2);
    image.getPixels()[15] = 255, image.getPixels()[31] = 255;
    image.getPixels()[0] = 13;  // a blue byte counts as much as the others
    EXPECT_DOUBLE_EQ(computeMeanLevel(image), 55.1);
    bmp empty(ui);
    EXPECT_DOUBLE_EQ(computeMeanLevel(empty), 0.0);
}

}  // namespace
}  // namespace tarvi
