#pragma once

// Picture files put together byte by byte, and pictures taken apart again.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <tuple>

#include "support/image_checks.h"

namespace tarvi::test {

// value in `bytes` bytes, least significant first unless bigEndian.
inline std::string bytesOf(std::uint64_t value, int bytes, bool bigEndian = false)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * (bigEndian ? bytes - 1 - i : i))));
    return out;
}

// A BMP file: 24 bits a pixel unless told otherwise; a header longer than 40
// bytes carries masks and the sRGB colour space, as other writers put them.
struct BmpLayout {
    std::int32_t width = 3, height = 2;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0, infoSize = 40, colorsUsed = 0, resolution = 2835;
    std::string gap{}, pixels{};  // what stands between the headers and the pixels; the pixels
    std::int64_t pixelOffset = -1;    // -1: right after the gap
};

inline std::string bmpFile(const BmpLayout& s)
{
    const auto offset = s.pixelOffset >= 0 ? s.pixelOffset : 14 + s.infoSize + s.gap.size();
    std::string out = "BM" + bytesOf(14 + s.infoSize + s.gap.size() + s.pixels.size(), 4) + bytesOf(0, 4) +
                      bytesOf(static_cast<std::uint64_t>(offset), 4) + bytesOf(s.infoSize, 4) +
                      bytesOf(static_cast<std::uint32_t>(s.width), 4) + bytesOf(static_cast<std::uint32_t>(s.height), 4) +
                      bytesOf(1, 2) + bytesOf(s.bitCount, 2) + bytesOf(s.compression, 4) + bytesOf(s.pixels.size(), 4) +
                      bytesOf(s.resolution, 4) + bytesOf(s.resolution, 4) + bytesOf(s.colorsUsed, 4) + bytesOf(0, 4);
    if (s.infoSize > 40)
        out += bytesOf(0xFF0000, 4) + bytesOf(0xFF00, 4) + bytesOf(0xFF, 4) + bytesOf(0, 4) + "BGRs";
    out.resize(14 + s.infoSize, '\0');
    return out + s.gap + s.pixels;
}

inline std::string card(std::string text)
{
    text.resize(80, ' ');
    return text;
}

// Cards padded with spaces to whole 2880-byte blocks.
inline std::string fitsHeader(const std::vector<std::string>& texts)
{
    std::string out;
    for (const std::string& text : texts)
        out += card(text);
    out.resize((out.size() + 2879) / 2880 * 2880, ' ');
    return out;
}

inline std::vector<std::uint8_t> ramp(std::size_t count, int step = 7)
{
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>(i * static_cast<std::size_t>(step) + i / 251);
    return out;
}

inline std::string pixelsOf(const bmp& image)
{
    const bmpData* record = image.record();
    return record ? std::string(reinterpret_cast<const char*>(record->pixels.data()), record->pixels.size()) : "";
}

// The picture top row first, each pixel's red byte; with allGrey every pixel must be grey.
inline std::vector<int> redTopDown(const bmp& image, bool allGrey = true)
{
    std::vector<int> out;
    for (int row = image.getHeight() - 1; row >= 0; --row) {
        for (int column = 0; column < image.getWidth(); ++column) {
            const std::uint8_t* pixel = image.getPixels() + row * image.getRowStride() + 3 * column;
            EXPECT_TRUE(!allGrey || (pixel[0] == pixel[2] && pixel[1] == pixel[2])) << row << "," << column;
            out.push_back(pixel[2]);
        }
    }
    return out;
}

// "<none>" makes no file, "<fifo>" and "<directory>" make one; anything else is the content.
inline void place(const std::string& path, const std::string& content)
{
    if (content == "<fifo>")
        ::mkfifo(path.c_str(), 0644);
    else if (content == "<directory>")
        std::filesystem::create_directory(path);
    else if (content != "<none>")
        writeFile(path, content);
}

inline std::string withPath(std::string text, const std::string& path)
{
    if (const auto at = text.find("%p"); at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

}  // namespace tarvi::test
