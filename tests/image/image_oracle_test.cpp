// Our BMP and FITS files against readers and writers that others wrote.
#include <QColor>
#include <QImage>
#include <fitsio.h>

#include "image/fits.h"
#include "image/image_files.h"

namespace tarvi::test {
namespace {

// An open cfitsio file; cfitsio does nothing once a call has failed, so one check at the end sees any error.
struct Fits {
    fitsfile* file = nullptr;
    int status = 0;
    ~Fits() { close(); }
    void close()
    {
        if (file != nullptr)
            fits_close_file(file, &status);
        file = nullptr;
        EXPECT_EQ(status, 0) << "cfitsio";
    }
};

// A picture whose bytes differ in every channel, or one of grey levels.
void paint(bmp& image, int width, int height, bool colour)
{
    const auto gray = ramp(static_cast<std::size_t>(width * height), 29);
    image.createFromGray(gray.data(), width, height);
    for (int i = 0; colour && i < width * height; ++i) {
        std::uint8_t* pixel = image.getPixels() + (i / width) * image.getRowStride() + 3 * (i % width);
        pixel[0] = static_cast<std::uint8_t>(17 * i + 5);
        pixel[1] = static_cast<std::uint8_t>(255 - 11 * i);
    }
}

TEST(CfitsioReadsOurFits, HeaderValuesAndPixels)
{
    for (const auto& [width, height, colour] : {std::tuple{192, 165, false}, {1, 1, false}, {5, 3, true}, {2881, 2, true}}) {
        SCOPED_TRACE(width);
        FakeUi ui;
        TempDir dir;
        bmp image(ui);
        paint(image, width, height, colour);
        ASSERT_EQ(image.writeFits(dir.file("ours.fit")), 1);
        Fits fits;
        int hdus = 0, bitpix = 0, axes = 0, dataMax = -1, keys = 0, room = 0;
        long size[3] = {0, 0, 0};
        fits_open_file(&fits.file, dir.file("ours.fit").c_str(), READONLY, &fits.status);
        fits_get_num_hdus(fits.file, &hdus, &fits.status);
        fits_get_img_param(fits.file, 3, &bitpix, &axes, size, &fits.status);
        fits_read_key(fits.file, TINT, "DATAMAX", &dataMax, nullptr, &fits.status);
        fits_get_hdrspace(fits.file, &keys, &room, &fits.status);
        EXPECT_EQ(std::vector<long>({hdus, bitpix, axes, size[0], size[1], dataMax, keys}),
                  std::vector<long>({1, BYTE_IMG, 2, width, height, 255, 8}));
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height));
        int anyNull = 0;
        fits_read_img(fits.file, TBYTE, 1, static_cast<LONGLONG>(pixels.size()), nullptr, pixels.data(), &anyNull,
                      &fits.status);
        fits.close();
        EXPECT_EQ(std::vector<int>(pixels.begin(), pixels.end()), redTopDown(image, false));
    }
}

TEST(WeReadCfitsioFits, EveryDataTypeWithItsScalingALongHeaderAndAThirdAxis)
{
    std::vector<double> floats(24), ramp20(20), ramp12(12), bytes(21);
    for (std::size_t i = 0; i < 24; ++i)
        floats[i] = i % 6 == 5 ? NAN : -3.0 + 41.25 * static_cast<double>((i * 37) % 24);
    for (std::size_t i = 0; i < 21; ++i)
        bytes[i] = static_cast<double>((i * 29 + 3) % 256);
    const auto ramp = [](std::size_t count, double first, double step) {
        std::vector<double> out(count);
        for (std::size_t i = 0; i < count; ++i)
            out[i] = first + step * static_cast<double>((i * 37) % count);
        return out;
    };
    const struct {
        int type;
        double bzero, bscale;
        std::vector<double> physical;
        long width, height;
        int comments = 0, planes = 1;
    } cases[] = {
        {USHORT_IMG, 0, 1, ramp(30, 0.0, 2259.0), 6, 5}, {USHORT_IMG, 0, 1, {0, 65535, 32768, 16384, 1, 65534}, 3, 2},
        {SHORT_IMG, -10.0, 0.5, ramp(20, -10.0, 7.5), 5, 4}, {SHORT_IMG, 0, 1, ramp(12, -500.0, 97.0), 4, 3},
        {LONG_IMG, 100.0, 2.0, ramp(20, 100.0, 2000002.0), 4, 5}, {LONGLONG_IMG, 0, 1, ramp(15, -7.0, 3e12), 5, 3},
        {FLOAT_IMG, 0, 1, floats, 6, 4}, {FLOAT_IMG, 10.0, 0.5, ramp(12, 10.0, 12.5), 4, 3},
        {DOUBLE_IMG, -1.0, 0.25, ramp(12, -1.0, 0.75), 3, 4}, {SHORT_IMG, 0, 1, ramp(12, 0.0, 100.0), 4, 3, 60, 2},
        {BYTE_IMG, -128.0, 2.0, bytes, 7, 3},  // eight bits are shown as stored, whatever the scaling
    };
    for (const auto& c : cases) {
        for (const auto& [gamma1, gamma2] : {std::pair{1.0, 1.0}, {2.2, 0.45}}) {
            SCOPED_TRACE(std::to_string(c.type) + " gammas " + std::to_string(gamma1));
            FakeUi ui;
            TempDir dir;
            {
                Fits fits;
                long size[3] = {c.width, c.height, c.planes};
                double bzero = c.bzero, bscale = c.bscale;
                fits_create_file(&fits.file, dir.file("theirs.fit").c_str(), &fits.status);
                fits_create_img(fits.file, c.type, c.planes > 1 ? 3 : 2, size, &fits.status);
                if (c.bzero != 0.0 || c.bscale != 1.0) {
                    fits_update_key(fits.file, TDOUBLE, "BZERO", &bzero, nullptr, &fits.status);
                    fits_update_key(fits.file, TDOUBLE, "BSCALE", &bscale, nullptr, &fits.status);
                    fits_set_bscale(fits.file, c.type == BYTE_IMG ? 1.0 : c.bscale, c.type == BYTE_IMG ? 0.0 : c.bzero,
                                    &fits.status);
                }
                for (int i = 0; i < c.comments; ++i)
                    fits_write_comment(fits.file, ("NAXIS1 = 3 and BZERO = 7, line " + std::to_string(i)).c_str(),
                                       &fits.status);
                std::vector<double> values = c.physical;
                values.resize(c.physical.size() * static_cast<std::size_t>(c.planes), 30000.0);  // must not count
                fits_write_img(fits.file, TDOUBLE, 1, static_cast<LONGLONG>(values.size()), values.data(), &fits.status);
            }
            std::vector<int> expected;
            double max = 0.0;
            for (double p : c.physical)
                max = std::isfinite(p) && p > max ? p : max;
            for (double p : c.physical)
                expected.push_back(c.type == BYTE_IMG ? static_cast<int>(p) : fits::grayLevel(p, max, gamma1, gamma2));
            bmp image(ui);
            ASSERT_EQ(image.readFits(dir.file("theirs.fit"), gamma1, gamma2), 1);
            EXPECT_TRUE(ui.boxes.empty());
            EXPECT_TRUE(image.getWidth() == c.width && image.getHeight() == c.height);
            EXPECT_EQ(redTopDown(image), expected);
        }
    }
}

// Every pixel of ours against the toolkit's reading of the same picture.
void expectSamePicture(const bmp& ours, const QImage& theirs)
{
    ASSERT_FALSE(theirs.isNull());
    ASSERT_TRUE(theirs.width() == ours.getWidth() && theirs.height() == ours.getHeight());
    for (int y = 0; y < theirs.height(); ++y) {
        const std::uint8_t* row = ours.getPixels() + (ours.getHeight() - 1 - y) * ours.getRowStride();
        for (int x = 0; x < theirs.width(); ++x) {
            const QColor colour = theirs.pixelColor(x, y);
            ASSERT_EQ(std::vector<int>({colour.blue(), colour.green(), colour.red()}),
                      std::vector<int>({row[3 * x], row[3 * x + 1], row[3 * x + 2]}))
                << x << "," << y;
        }
    }
}

TEST(QImageAndOurBmp, EachReadsWhatTheOtherWrote)
{
    for (const auto& [width, height] : {std::pair{192, 165}, {5, 3}, {1, 1}, {7, 2}, {4, 4}, {3, 11}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        FakeUi ui;
        TempDir dir;
        for (bool colour : {false, true}) {
            bmp ours(ui);
            paint(ours, width, height, colour);
            ASSERT_EQ(ours.writeBmp(dir.file("ours.bmp")), 1);
            expectSamePicture(ours, QImage(QString::fromStdString(dir.file("ours.bmp")), "BMP"));
        }
        QImage theirs(width, height, QImage::Format_RGB888);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                theirs.setPixelColor(x, y, QColor((x * 37 + y) % 256, (y * 53 + 7) % 256, (x * y + 90) % 256));
        }
        ASSERT_TRUE(theirs.save(QString::fromStdString(dir.file("theirs.bmp")), "BMP"));
        bmp read(ui);
        ASSERT_EQ(read.readBmp(dir.file("theirs.bmp")), 1);
        expectSamePicture(read, theirs);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

}  // namespace
}  // namespace tarvi::test
