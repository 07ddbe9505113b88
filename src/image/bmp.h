#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui.h"

namespace tarvi {

// Memory for pixel arrays, all zeros when handed out. Big pictures get pages
// of 2 MiB: faulting in a 48 MB array 4 KiB at a time costs more than reading
// the file it comes from.
void* allocatePixels(std::size_t bytes);
void freePixels(void* memory, std::size_t bytes) noexcept;

// An array of bytes on that memory, zeroed once by whoever hands the memory
// out and never a second time.
class PixelBuffer {
public:
    PixelBuffer() = default;
    ~PixelBuffer() { freePixels(bytes_, size_); }
    PixelBuffer(PixelBuffer&& other) noexcept : bytes_(other.bytes_), size_(other.size_)
    {
        other.bytes_ = nullptr;
        other.size_ = 0;
    }
    PixelBuffer& operator=(PixelBuffer&& other) noexcept
    {
        std::swap(bytes_, other.bytes_);
        std::swap(size_, other.size_);
        return *this;
    }
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    // As for a vector: the bytes kept keep their values, new ones are 0.
    void resize(std::size_t size);

    std::uint8_t* data() { return bytes_; }
    const std::uint8_t* data() const { return bytes_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t* begin() { return bytes_; }
    std::uint8_t* end() { return bytes_ + size_; }
    const std::uint8_t* begin() const { return bytes_; }
    const std::uint8_t* end() const { return bytes_ + size_; }
    std::uint8_t& operator[](std::size_t at) { return bytes_[at]; }
    std::uint8_t operator[](std::size_t at) const { return bytes_[at]; }

private:
    std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
};

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
    PixelBuffer pixels;
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

    // A width or height below 1, no buffer, or a pixel array over 1 GiB makes
    // no image and gives 0.
    int createFromGray(const std::uint8_t* gray, int width, int height);
    int readBmp(const std::string& path);
    int writeBmp(const std::string& path);
    int draw(DrawTarget& target, double requestedScale);
    int center();

    // The FITS reader widens 16-bit and wider data to 8 bits through the two
    // conversion gammas.
    int readFits(const std::string& path, double gamma1, double gamma2);
    int writeFits(const std::string& path) { return writeFits(path, {}); }
    // moreCards go into the header after its nine cards, before END.
    int writeFits(const std::string& path, const std::vector<std::string>& moreCards);

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
    // A grey-image record of width x height with its headers filled in and
    // every pixel 0; the caller has checked the size.
    static std::unique_ptr<bmpData> makeGrayRecord(int width, int height);
    // One grey byte becomes blue, green and red.
    static void widenGrayRow(const std::uint8_t* gray, std::uint8_t* bgr, std::size_t width);
    void adopt(std::unique_ptr<bmpData> record);
    void freeImage();
    // Every box has an OK button and no owner; an empty caption is the title.
    void showBox(const std::string& text, std::string_view caption = {});

    Ui& ui_;
    std::unique_ptr<bmpData> data;
    double scale = 1.0;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace tarvi
