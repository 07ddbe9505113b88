#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace tarvi {

// One image: a 24-bit device-independent bitmap. Pixels are blue, green, red,
// each row padded to rowStride bytes (a multiple of 4), rows bottom-up: the
// first row in memory is the bottom row on screen.
struct bmpData {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t colorCount = 0;  // biClrUsed as read; 0 for grey images
    std::uint32_t imageSize = 0;   // rowStride * height
    std::array<std::uint8_t, 14> fileHeader{};  // BITMAPFILEHEADER, little-endian
    std::array<std::uint8_t, 1060> info{};      // BITMAPINFOHEADER + room for 256 RGBQUADs
    std::vector<std::uint8_t> pixels;
};

// Where draw() paints: the view implements it with the toolkit's painter.
class DrawTarget {
public:
    virtual ~DrawTarget() = default;
    // Paints the whole bitmap (bottom-up BGR rows of rowStride bytes) stretched
    // into the rectangle from (0, 0) of destWidth x destHeight. False when the
    // device refuses.
    virtual bool stretchDib(const std::uint8_t* pixels, int width, int height, int rowStride,
                            int destWidth, int destHeight) = 0;
};

// A logical palette. Today's displays have none, so nothing makes one.
struct Palette {
    std::vector<std::uint32_t> entries;
};

struct CentroidPoint {
    int x = 0;
    int y = 0;
    bool operator==(const CentroidPoint&) const = default;
};

// Intensity-weighted centroid of an 8-bit plane of width x height bytes, rows
// in memory order; each coordinate truncated toward zero. A plane with no
// light at all has no centroid: its centre (width / 2, height / 2) is given.
CentroidPoint findCentroid(const std::uint8_t* plane, int width, int height);

class bmp {
public:
    static constexpr double smallestScale = 0.1;
    static constexpr double largestScale = 5.0;

    // Boxes go through ui with no owner window; "Tarvi" where no caption is named.
    explicit bmp(Ui& ui);
    ~bmp();
    bmp(const bmp&) = delete;
    bmp& operator=(const bmp&) = delete;

    static int rowStrideFor(int width);

    int createFromGray(const std::uint8_t* gray, int width, int height);
    int readBmp(const std::string& path);
    int writeBmp(const std::string& path);
    int draw(DrawTarget& target, double requestedScale);
    int center();

    // The FITS reader widens 16-bit and wider data to 8 bits through the two
    // conversion gammas.
    int readFits(const std::string& path, double gamma1, double gamma2);
    int writeFits(const std::string& path);

    std::uint8_t* getPixels();
    const std::uint8_t* getPixels() const;
    int getWidth() const { return width_; }
    int getHeight() const { return height_; }
    double getScale() const { return scale; }
    int getRowStride() const;

    std::unique_ptr<Palette> makePalette(DrawTarget& target);
    std::unique_ptr<Palette> makeSystemPalette(DrawTarget& target);

    // The record; null when the object holds no image.
    const bmpData* record() const { return data.get(); }

private:
    Ui& ui_;
    std::unique_ptr<bmpData> data;
    double scale = 1.0;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace tarvi
