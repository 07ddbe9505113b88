#include "view/readout.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "image/bmp.h"

namespace tarvi {

double computeMeanLevel(const bmp& image)
{
    const int width = image.getWidth();
    const int height = image.getHeight();
    const std::uint8_t* pixels = image.getPixels();
    if (pixels == nullptr || width <= 0 || height <= 0)
        return 0.0;
    const int stride = image.getRowStride();
    double sum = 0.0;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* bytes = pixels + static_cast<std::size_t>(row) * stride;
        std::uint64_t rowSum = 0;
        for (int i = 0; i < 3 * width; ++i)
            rowSum += bytes[i];
        sum += static_cast<double>(rowSum);
    }
    return sum / (3.0 * width * height);
}

PixelColor pixelAt(const bmp& image, int viewX, int viewY, int scrollX, int scrollY, double drawnScale)
{
    PixelColor pixel;
    const int width = image.getWidth();
    const int height = image.getHeight();
    const std::uint8_t* pixels = image.getPixels();
    if (pixels == nullptr || width <= 0 || height <= 0)
        return pixel;
    const double scale = drawnScale > 0.0 ? drawnScale : 1.0;
    pixel.x = std::clamp(static_cast<int>(std::floor((viewX + scrollX) / scale)), 0, width - 1);
    pixel.y = std::clamp(static_cast<int>(std::floor((viewY + scrollY) / scale)), 0, height - 1);
    const std::size_t row = static_cast<std::size_t>(height - 1 - pixel.y);
    const std::uint8_t* at = pixels + row * image.getRowStride() + 3 * static_cast<std::size_t>(pixel.x);
    pixel.blue = at[0];
    pixel.green = at[1];
    pixel.red = at[2];
    return pixel;
}

std::string formatReadout(const PixelColor& p, double meanLevel)
{
    char mean[64];
    const auto written = std::to_chars(mean, mean + sizeof mean, meanLevel, std::chars_format::fixed, 6);
    return "(" + std::to_string(p.x) + "," + std::to_string(p.y) + "): R=" + std::to_string(p.red)
           + ", G=" + std::to_string(p.green) + ", B=" + std::to_string(p.blue) + " - Q = "
           + std::string(mean, written.ptr);
}

}  // namespace tarvi
