#include "view/readout.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "image/bmp.h"
#include "support/fake_ui.h"

namespace tarvi {
namespace {

// A 192 x 165 grey frame whose value says where it is; grey row 0 is the
// bottom row of the picture.
std::unique_ptr<bmp> cameraPicture(test::FakeUi& ui)
{
    std::vector<std::uint8_t> gray(192 * 165);
    for (int row = 0; row < 165; ++row) {
        for (int col = 0; col < 192; ++col)
            gray[std::size_t(row) * 192 + col] = std::uint8_t((row + col) % 256);
    }
    auto image = std::make_unique<bmp>(ui);
    image->createFromGray(gray.data(), 192, 165);
    return image;
}

TEST(Readout, PointPastThePictureReadsTheBottomRightPixel)
{
    test::FakeUi ui;
    const auto picture = cameraPicture(ui);
    const bmp& image = *picture;
    // The bottom-right pixel is grey row 0, column 191.
    const PixelColor pixel = pixelAt(image, 300, 200, 0, 0, 1.0);
    EXPECT_EQ(pixel.x, 191);
    EXPECT_EQ(pixel.y, 164);
    EXPECT_EQ(pixel.red, 191);
    EXPECT_EQ(pixel.green, 191);
    EXPECT_EQ(pixel.blue, 191);
    EXPECT_EQ(formatReadout(pixel, 127.5), "(191,164): R=191, G=191, B=191 - Q = 127.500000");
}

TEST(Readout, TopLeftIsTheLastGreyRow)
{
    test::FakeUi ui;
    const auto picture = cameraPicture(ui);
    const bmp& image = *picture;
    const PixelColor pixel = pixelAt(image, 0, 0, 0, 0, 1.0);
    EXPECT_EQ(pixel.x, 0);
    EXPECT_EQ(pixel.y, 0);
    EXPECT_EQ(pixel.red, 164);
}

TEST(Readout, MagnifiedAndScrolledViewsReadThePixelUnderThePointer)
{
    test::FakeUi ui;
    const auto picture = cameraPicture(ui);
    const bmp& image = *picture;
    // Drawn twice as large: view point (100, 50) shows picture pixel (50, 25).
    PixelColor pixel = pixelAt(image, 100, 50, 0, 0, 2.0);
    EXPECT_EQ(pixel.x, 50);
    EXPECT_EQ(pixel.y, 25);
    EXPECT_EQ(pixel.red, (164 - 25 + 50) % 256);
    // Scrolled by (40, 60) at that size: (100 + 40) / 2, (50 + 60) / 2.
    pixel = pixelAt(image, 100, 50, 40, 60, 2.0);
    EXPECT_EQ(pixel.x, 70);
    EXPECT_EQ(pixel.y, 55);
    // Drawn at half size every view pixel covers two picture pixels.
    pixel = pixelAt(image, 10, 10, 0, 0, 0.5);
    EXPECT_EQ(pixel.x, 20);
    EXPECT_EQ(pixel.y, 20);
}

TEST(Readout, MeanLevelLeavesTheRowPaddingOut)
{
    test::FakeUi ui;
    // Width 5: each row has one padding byte that must not count.
    const std::vector<std::uint8_t> gray{10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
    bmp image(ui);
    image.createFromGray(gray.data(), 5, 2);
    image.getPixels()[15] = 255;
    image.getPixels()[31] = 255;
    EXPECT_DOUBLE_EQ(computeMeanLevel(image), 55.0);
    const std::vector<std::uint8_t> black(192 * 165, 0);
    bmp dark(ui);
    dark.createFromGray(black.data(), 192, 165);
    EXPECT_DOUBLE_EQ(computeMeanLevel(dark), 0.0);
    bmp empty(ui);
    EXPECT_DOUBLE_EQ(computeMeanLevel(empty), 0.0);
}

}  // namespace
}  // namespace tarvi
