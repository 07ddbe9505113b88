// Our BMP and FITS files against readers and writers that others wrote.
#include <QColor>
#include <QImage>
#include <QString>

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "image/fits.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::FakeUi;
using test::TempDir;
using test::writeFile;

// An open cfitsio file that reports its first error.
class Fits {
public:
    ~Fits()
    {
        int ignored = 0;
        if (file != nullptr)
            fits_close_file(file, &ignored);
    }
    void check(const char* what)
    {
        if (status != 0) {
            char text[FLEN_STATUS];
            fits_get_errstatus(status, text);
            ADD_FAILURE() << what << ": cfitsio status " << status << " " << text;
            status = 0;
        }
    }
    void close()
    {
        fits_close_file(file, &status);
        file = nullptr;
        check("close");
    }

    fitsfile* file = nullptr;
    int status = 0;
};

std::vector<std::uint8_t> pattern(int width, int height)
{
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < gray.size(); ++i)
        gray[i] = static_cast<std::uint8_t>(i * 29 + i / 255 + 3);
    return gray;
}

// The red byte of every pixel, top row first: what a FITS file should hold.
std::vector<std::uint8_t> redTopDown(const bmp& image)
{
    std::vector<std::uint8_t> out;
    for (int row = image.getHeight() - 1; row >= 0; --row) {
        for (int column = 0; column < image.getWidth(); ++column)
            out.push_back(image.getPixels()[row * image.getRowStride() + 3 * column + 2]);
    }
    return out;
}

std::vector<int> grayTopDown(const bmp& image)
{
    std::vector<int> out;
    for (int row = image.getHeight() - 1; row >= 0; --row) {
        for (int column = 0; column < image.getWidth(); ++column) {
            const std::uint8_t* pixel = image.getPixels() + row * image.getRowStride() + 3 * column;
            EXPECT_TRUE(pixel[0] == pixel[2] && pixel[1] == pixel[2]);
            out.push_back(pixel[2]);
        }
    }
    return out;
}

TEST(CfitsioReadsOurFits, HeaderValuesAndPixels)
{
    const struct {
        int width;
        int height;
        bool colour;
    } cases[] = {{192, 165, false}, {100, 100, false}, {1, 1, false}, {5, 3, true}, {2881, 2, false}, {64, 45, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        FakeUi ui;
        TempDir dir;
        bmp image(ui);
        const auto gray = pattern(c.width, c.height);
        image.createFromGray(gray.data(), c.width, c.height);
        if (c.colour) {
            std::uint8_t* pixels = image.getPixels();
            for (std::uint32_t i = 0; i < image.record()->imageSize; ++i)
                pixels[i] = static_cast<std::uint8_t>(pixels[i] * (1 + i % 3) + i % 7);
        }
        const std::string path = dir.file("ours.fit");
        ASSERT_EQ(image.writeFits(path), 1);

        Fits fits;
        fits_open_file(&fits.file, path.c_str(), READONLY, &fits.status);
        fits.check("open");
        ASSERT_NE(fits.file, nullptr);
        int hdus = 0;
        fits_get_num_hdus(fits.file, &hdus, &fits.status);
        EXPECT_EQ(hdus, 1);
        int bitpix = 0;
        int axes = 0;
        long size[3] = {0, 0, 0};
        fits_get_img_param(fits.file, 3, &bitpix, &axes, size, &fits.status);
        EXPECT_EQ(bitpix, BYTE_IMG);
        EXPECT_EQ(axes, 2);
        EXPECT_EQ(size[0], c.width);
        EXPECT_EQ(size[1], c.height);
        int simple = 0;
        fits_read_key(fits.file, TLOGICAL, "SIMPLE", &simple, nullptr, &fits.status);
        EXPECT_EQ(simple, 1);
        int dataMin = -1;
        int dataMax = -1;
        fits_read_key(fits.file, TINT, "DATAMIN", &dataMin, nullptr, &fits.status);
        fits_read_key(fits.file, TINT, "DATAMAX", &dataMax, nullptr, &fits.status);
        EXPECT_EQ(dataMin, 0);
        EXPECT_EQ(dataMax, 255);
        char history[FLEN_CARD] = {};
        fits_read_card(fits.file, "HISTORY", history, &fits.status);
        EXPECT_STREQ(history, "HISTORY Created by Tarvi.");
        int keys = 0;
        int room = 0;
        fits_get_hdrspace(fits.file, &keys, &room, &fits.status);
        EXPECT_EQ(keys, 8);
        fits.check("header");

        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(c.width) * c.height);
        int anyNull = 0;
        fits_read_img(fits.file, TBYTE, 1, static_cast<LONGLONG>(pixels.size()), nullptr, pixels.data(), &anyNull,
                      &fits.status);
        fits.check("pixels");
        EXPECT_EQ(pixels, redTopDown(image));
        fits.close();
    }
}

// A picture as physical values, written by cfitsio in some data type with
// some scaling, and what we should make of it.
struct Written {
    const char* what;
    int imageType;
    double bzero;
    double bscale;
    std::vector<double> physical;
    int width;
    int height;
};

std::vector<int> expectedGray(const std::vector<double>& physical, std::size_t count, double gamma1, double gamma2)
{
    double max = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::isfinite(physical[i]) && physical[i] > max)
            max = physical[i];
    }
    std::vector<int> out;
    for (std::size_t i = 0; i < count; ++i)
        out.push_back(std::isfinite(physical[i]) ? fits::grayLevel(physical[i], max, gamma1, gamma2) : 0);
    return out;
}

void writeWithCfitsio(const std::string& path, const Written& w, const std::vector<std::string>& extraComments = {},
                      int planes = 1)
{
    Fits fits;
    long size[3] = {w.width, w.height, planes};
    fits_create_file(&fits.file, ("!" + path).c_str(), &fits.status);
    fits_create_img(fits.file, w.imageType, planes > 1 ? 3 : 2, size, &fits.status);
    if (w.bzero != 0.0 || w.bscale != 1.0) {
        double bzero = w.bzero;
        double bscale = w.bscale;
        fits_update_key(fits.file, TDOUBLE, "BZERO", &bzero, nullptr, &fits.status);
        fits_update_key(fits.file, TDOUBLE, "BSCALE", &bscale, nullptr, &fits.status);
        fits_set_bscale(fits.file, w.bscale, w.bzero, &fits.status);
    }
    for (const std::string& comment : extraComments)
        fits_write_comment(fits.file, comment.c_str(), &fits.status);
    std::vector<double> values = w.physical;
    for (int plane = 1; plane < planes; ++plane)
        values.insert(values.end(), w.physical.size(), 30000.0);  // far brighter: must not count
    fits_write_img(fits.file, TDOUBLE, 1, static_cast<LONGLONG>(values.size()), values.data(), &fits.status);
    fits.check("write");
    fits.close();
}

std::vector<double> ramp(std::size_t count, double first, double step)
{
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = first + step * static_cast<double>((i * 37) % count);
    return out;
}

TEST(WeReadCfitsioFits, EveryDataTypeWithItsScaling)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> floats = ramp(24, -3.0, 41.25);
    floats[5] = nan;
    floats[11] = nan;
    const Written cases[] = {
        {"16-bit unsigned (BZERO 32768)", USHORT_IMG, 0, 1, ramp(30, 0.0, 2259.0), 6, 5},
        {"16-bit full range", USHORT_IMG, 0, 1, {0, 65535, 32768, 16384, 1, 65534}, 3, 2},
        {"16-bit with BSCALE and BZERO", SHORT_IMG, -10.0, 0.5, ramp(20, -10.0, 7.5), 5, 4},
        {"16-bit signed, some below zero", SHORT_IMG, 0, 1, ramp(12, -500.0, 97.0), 4, 3},
        {"32-bit with BSCALE and BZERO", LONG_IMG, 100.0, 2.0, ramp(20, 100.0, 2000002.0), 4, 5},
        {"64-bit", LONGLONG_IMG, 0, 1, ramp(15, -7.0, 3e12), 5, 3},
        {"-32 with NaN", FLOAT_IMG, 0, 1, floats, 6, 4},
        {"-32 with BSCALE and BZERO", FLOAT_IMG, 10.0, 0.5, ramp(12, 10.0, 12.5), 4, 3},
        {"-64 with BSCALE and BZERO", DOUBLE_IMG, -1.0, 0.25, ramp(12, -1.0, 0.75), 3, 4},
    };
    for (const Written& w : cases) {
        for (const auto& [gamma1, gamma2] : {std::pair{1.0, 1.0}, std::pair{2.2, 0.45}}) {
            SCOPED_TRACE(std::string(w.what) + " gammas " + std::to_string(gamma1));
            FakeUi ui;
            TempDir dir;
            writeWithCfitsio(dir.file("theirs.fit"), w);
            bmp image(ui);
            ASSERT_EQ(image.readFits(dir.file("theirs.fit"), gamma1, gamma2), 1);
            EXPECT_TRUE(ui.boxes.empty());
            ASSERT_EQ(image.getWidth(), w.width);
            ASSERT_EQ(image.getHeight(), w.height);
            EXPECT_EQ(grayTopDown(image), expectedGray(w.physical, w.physical.size(), gamma1, gamma2));
        }
    }
}

TEST(WeReadCfitsioFits, EightBitIsShownAsStoredWhateverTheScaling)
{
    FakeUi ui;
    TempDir dir;
    const std::string path = dir.file("bytes.fit");
    std::vector<std::uint8_t> bytes = pattern(7, 3);
    {
        Fits fits;
        long size[2] = {7, 3};
        fits_create_file(&fits.file, ("!" + path).c_str(), &fits.status);
        fits_create_img(fits.file, BYTE_IMG, 2, size, &fits.status);
        double bzero = -128.0;
        double bscale = 2.0;
        fits_update_key(fits.file, TDOUBLE, "BZERO", &bzero, nullptr, &fits.status);
        fits_update_key(fits.file, TDOUBLE, "BSCALE", &bscale, nullptr, &fits.status);
        // The bytes go into the file as they are.
        fits_set_bscale(fits.file, 1.0, 0.0, &fits.status);
        fits_write_img(fits.file, TBYTE, 1, 21, bytes.data(), &fits.status);
        fits.check("write");
        fits.close();
    }
    bmp image(ui);
    ASSERT_EQ(image.readFits(path, 2.0, 2.0), 1);
    EXPECT_EQ(redTopDown(image), bytes);
}

TEST(WeReadCfitsioFits, LongHeaderAndThirdAxis)
{
    FakeUi ui;
    TempDir dir;
    std::vector<std::string> comments;
    for (int i = 0; i < 60; ++i)
        comments.push_back("NAXIS1 = 3 and BZERO = 7 in a comment, line " + std::to_string(i));
    const Written w{"cube", SHORT_IMG, 0, 1, ramp(12, 0.0, 100.0), 4, 3};
    writeWithCfitsio(dir.file("cube.fit"), w, comments, 2);
    bmp image(ui);
    ASSERT_EQ(image.readFits(dir.file("cube.fit"), 1.0, 1.0), 1);
    ASSERT_EQ(image.getWidth(), 4);
    ASSERT_EQ(image.getHeight(), 3);
    EXPECT_EQ(grayTopDown(image), expectedGray(w.physical, 12, 1.0, 1.0));
}

QImage loaded(const std::string& path)
{
    QImage image;
    EXPECT_TRUE(image.load(QString::fromStdString(path), "BMP")) << path;
    return image;
}

// Every pixel of ours against the toolkit's reading of the same picture.
void expectSamePicture(const bmp& ours, const QImage& theirs)
{
    ASSERT_EQ(theirs.width(), ours.getWidth());
    ASSERT_EQ(theirs.height(), ours.getHeight());
    for (int y = 0; y < theirs.height(); ++y) {
        const std::uint8_t* row = ours.getPixels() + (ours.getHeight() - 1 - y) * ours.getRowStride();
        for (int x = 0; x < theirs.width(); ++x) {
            const QColor colour = theirs.pixelColor(x, y);
            ASSERT_EQ(colour.blue(), row[3 * x]) << x << "," << y;
            ASSERT_EQ(colour.green(), row[3 * x + 1]) << x << "," << y;
            ASSERT_EQ(colour.red(), row[3 * x + 2]) << x << "," << y;
        }
    }
}

TEST(QImageReadsOurBmp, GreyAndColourPictures)
{
    const std::pair<int, int> sizes[] = {{192, 165}, {5, 3}, {1, 1}, {7, 2}, {4, 4}, {2, 9}};
    for (const auto& [width, height] : sizes) {
        for (bool colour : {false, true}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + (colour ? " colour" : " grey"));
            FakeUi ui;
            TempDir dir;
            bmp image(ui);
            const auto gray = pattern(width, height);
            image.createFromGray(gray.data(), width, height);
            if (colour) {
                for (int r = 0; r < height; ++r) {
                    for (int c = 0; c < width; ++c) {
                        std::uint8_t* pixel = image.getPixels() + r * image.getRowStride() + 3 * c;
                        pixel[0] = static_cast<std::uint8_t>(17 * c + r);
                        pixel[1] = static_cast<std::uint8_t>(255 - 11 * r);
                    }
                }
            }
            ASSERT_EQ(image.writeBmp(dir.file("ours.bmp")), 1);
            expectSamePicture(image, loaded(dir.file("ours.bmp")));
        }
    }
}

QImage colourful(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor((x * 37 + y) % 256, (y * 53 + 7) % 256, (x * y + 90) % 256));
    }
    return image;
}

TEST(WeReadQImageBmp, TwentyFourBitFilesWrittenByTheToolkit)
{
    const std::pair<int, int> sizes[] = {{192, 165}, {5, 3}, {1, 1}, {7, 2}, {4, 4}, {3, 11}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        FakeUi ui;
        TempDir dir;
        const QImage theirs = colourful(width, height);
        const std::string path = dir.file("theirs.bmp");
        ASSERT_TRUE(theirs.save(QString::fromStdString(path), "BMP"));
        bmp image(ui);
        ASSERT_EQ(image.readBmp(path), 1);
        EXPECT_TRUE(ui.boxes.empty());
        expectSamePicture(image, theirs);
    }
}

void putLe(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A 24-bit file with a header of infoSize bytes, the pixels right after it.
std::string handBuilt(int width, int height, std::uint32_t infoSize)
{
    const int stride = bmp::rowStrideFor(width);
    const int rows = height < 0 ? -height : height;
    std::string pixels;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < stride; ++c)
            pixels.push_back(static_cast<char>(c < 3 * width ? (r * 31 + c * 7) % 256 : 0));
    }
    std::string out = "BM";
    putLe(out, 14 + infoSize + static_cast<std::uint32_t>(pixels.size()), 4);
    putLe(out, 0, 4);
    putLe(out, 14 + infoSize, 4);
    putLe(out, infoSize, 4);
    putLe(out, static_cast<std::uint32_t>(width), 4);
    putLe(out, static_cast<std::uint32_t>(height), 4);
    putLe(out, 1, 2);
    putLe(out, 24, 2);
    putLe(out, 0, 4);
    putLe(out, static_cast<std::uint32_t>(pixels.size()), 4);
    putLe(out, 3780, 4);
    putLe(out, 3780, 4);
    putLe(out, 0, 4);
    putLe(out, 0, 4);
    if (infoSize >= 108) {
        putLe(out, 0x00FF0000, 4);  // masks, unused without bit fields
        putLe(out, 0x0000FF00, 4);
        putLe(out, 0x000000FF, 4);
        putLe(out, 0, 4);
        out += "BGRs";  // sRGB
        out += std::string(36 + 12, '\0');
    }
    if (infoSize >= 124) {
        putLe(out, 4, 4);  // rendering intent
        putLe(out, 0, 4);
        putLe(out, 0, 4);
        putLe(out, 0, 4);
    }
    return out + pixels;
}

TEST(HandBuiltBmp, ReadAsTheToolkitReadsIt)
{
    const struct {
        const char* what;
        int width;
        int height;
        std::uint32_t infoSize;
    } cases[] = {
        {"108-byte header", 5, 3, 108}, {"124-byte header", 7, 4, 124}, {"top-down", 5, -3, 40},
        {"top-down, 108-byte header", 6, -5, 108}, {"plain", 3, 3, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeUi ui;
        TempDir dir;
        const std::string path = dir.file("hand.bmp");
        writeFile(path, handBuilt(c.width, c.height, c.infoSize));
        const QImage theirs = loaded(path);
        ASSERT_FALSE(theirs.isNull());
        bmp image(ui);
        ASSERT_EQ(image.readBmp(path), 1);
        expectSamePicture(image, theirs);

        // Written back it is a plain file that reads the same.
        ASSERT_EQ(image.writeBmp(dir.file("back.bmp")), 1);
        expectSamePicture(image, loaded(dir.file("back.bmp")));
    }
}

}  // namespace
}  // namespace tarvi
