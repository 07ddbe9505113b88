#include "image/bmp.h"

namespace tarvi {

bmp::bmp(Ui& ui) : ui_(ui) {}

bmp::~bmp() = default;

int bmp::rowStrideFor(int width)
{
    return (width * 3 + 3) / 4 * 4;
}

int bmp::getRowStride() const
{
    return data ? rowStrideFor(data->width) : 0;
}

std::uint8_t* bmp::getPixels()
{
    return data ? data->pixels.data() : nullptr;
}

const std::uint8_t* bmp::getPixels() const
{
    return data ? data->pixels.data() : nullptr;
}

std::unique_ptr<Palette> bmp::makePalette(DrawTarget& target)
{
    return makeSystemPalette(target);
}

std::unique_ptr<Palette> bmp::makeSystemPalette(DrawTarget&)
{
    // No display of today works through a palette.
    return nullptr;
}

}  // namespace tarvi
