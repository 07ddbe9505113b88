#pragma once

#include <string>

namespace tarvi {

class bmp;

// Q of the read-out: the mean of every colour byte of the picture, the row
// padding left out.
double computeMeanLevel(const bmp& image);

struct PixelColor {
    int x = 0;
    int y = 0;
    int red = 0;
    int green = 0;
    int blue = 0;
};

// The picture's pixel under a point of the view: column and row counted from
// the picture's top-left, through the view's scroll offset and drawn scale,
// kept inside the picture.
PixelColor pixelAt(const bmp& image, int viewX, int viewY, int scrollX, int scrollY, double drawnScale);

// "(%d,%d): R=%d, G=%d, B=%d - Q = %f", the decimal point always ".".
std::string formatReadout(const PixelColor& pixel, double meanLevel);

}  // namespace tarvi
