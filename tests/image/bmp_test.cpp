#include "image/bmp.h"

#include "image/image_files.h"

namespace tarvi {
namespace {

using namespace test;

TEST(BmpObject, GreyRowsAreTripledBottomUpPaddedAndWrittenByteForByte)
{
    for (const auto& [width, height] : {std::pair{5, 2}, {192, 165}, {1, 1}, {7, 3}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        FakeUi ui;
        TempDir dir;
        bmp image(ui);
        const auto gray = ramp(static_cast<std::size_t>(width * height));
        ASSERT_EQ(image.createFromGray(gray.data(), width, height), 1);
        std::string rows;  // grey row 0 first in memory: the bottom row on screen
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c)
                rows.append(3, static_cast<char>(gray[static_cast<std::size_t>(r * width + c)]));
            rows.resize((rows.size() + 3) / 4 * 4, '\0');
        }
        EXPECT_EQ(pixelsOf(image), rows);
        EXPECT_TRUE(image.record()->imageSize == rows.size() && image.getRowStride() * height == int(rows.size()));
        writeFile(dir.file("a.bmp"), std::string(200000, 'x'));  // a longer file of the same name is replaced whole
        ASSERT_EQ(image.writeBmp(dir.file("a.bmp")), 1);
        EXPECT_EQ(readFile(dir.file("a.bmp")), bmpFile({.width = width, .height = height, .resolution = 0, .pixels = rows}));
        bmp back(ui);
        ASSERT_EQ(back.readBmp(dir.file("a.bmp")), 1);
        EXPECT_EQ(pixelsOf(back), rows);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(BmpObject, SizesThatMakeNoImageAreRefusedAndTakeTheOldImageAway)
{
    const std::uint8_t one = 9;
    for (const auto& [gray, width, height] : {std::tuple{&one, 0, 1}, {&one, 1, 0}, {&one, -1, 5}, {&one, 5, -1},
                                             {nullptr, 1, 1}, {&one, 40000, 40000}}) {
        FakeUi ui;
        bmp image(ui);
        image.createFromGray(&one, 1, 1);
        EXPECT_EQ(image.createFromGray(gray, width, height), 0) << width << "x" << height;
        EXPECT_TRUE(image.record() == nullptr && image.getWidth() == 0 && ui.boxes.empty());
    }
}

TEST(ImageWrite, FailuresAreReportedAndLeaveTheOldFile)
{
    ::alarm(10);  // a write that blocks on the fifo ends the run instead of hanging it
    // 100 x 100 grey: a BMP file of 54 + 30000 bytes, a FITS file of 2880 + 10000 + 1520.
    for (const auto& [write, extension, limits] : {std::tuple{&bmp::writeBmp, ".bmp", std::array<rlim_t, 3>{30, 1000, 20000}},
                                                   {&bmp::writeFits, ".fit", {1000, 2880 + 9999, 14399}}}) {
        SCOPED_TRACE(extension);
        TempDir dir;
        const auto path = [&](const char* name) { return dir.file(name + std::string(extension)); };
        const auto refused = [&](const std::string& file, const char* reason) {
            return "Cannot open file " + file + " for writing:\n" + reason;
        };
        const auto full = [&](const char* name) { return "Cannot write file " + path(name) + ":\nFile too large"; };
        const std::string old = "the picture of last night";
        for (const char* name : {"a", "b", "c", "locked"})
            writeFile(path(name), old);
        ::chmod(path("locked").c_str(), 0444);
        ::mkfifo(path("fifo").c_str(), 0644);
        expectWriteFailures(std::vector<std::uint8_t>(100 * 100, 77), 100, 100, write, {
            {path("no/a"), 0, refused(path("no/a"), "No such file or directory"), "File Open Error"},
            {"/dev/full", 0, refused("/dev/full", "Is a device, not a regular file"), "File Open Error"},
            {path("fifo"), 0, refused(path("fifo"), "Is a named pipe, not a regular file"), "File Open Error"},
            {path("locked"), 0, refused(path("locked"), "Permission denied"), "File Open Error", old.size()},
            {path("a"), limits[0], full("a"), "File Write Error", old.size()},
            {path("b"), limits[1], full("b"), "File Write Error", old.size()},
            {path("c"), limits[2], full("c"), "File Write Error", old.size()},
        });
        FakeUi ui;
        bmp empty(ui);
        EXPECT_EQ((empty.*write)(path("a")), 0);
        expectOneBox(ui, "No PIC file exists!", "Tarvi");
        for (const char* name : {"a", "b", "c", "locked"})
            EXPECT_EQ(readFile(path(name)), old) << name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 5);
    }
    ::alarm(0);
}

TEST(BmpRead, RefusedFilesLeaveNoImage)
{
    const std::string size = "Sorry, we handle bmp images with a width and height of 1 or more only.";
    const std::string gib = "Sorry, we handle bmp images of up to 1 GB only.", bits = "Sorry, we handle 24-bit bmp images only.";
    const std::string packed = "Sorry, we handle uncompressed bmp images only.", notBmp = "Not a Bitmap File!";
    const std::string header = "Sorry, we handle bmp images with a header of 40 bytes or more only.";
    const struct {
        std::string content, text, caption = "Wrong bmp type";
    } cases[] = {
        {"<none>", "Cannot open file %p:\nNo such file or directory", "File Open Error"},
        {"<fifo>", "Cannot open file %p:\nIs a named pipe, not a regular file", "File Open Error"},
        {"<directory>", "Cannot open file %p:\nIs a directory", "File Open Error"},
        {"", "%p has zero length.   \nNo image will be displayed.", "Tarvi"}, {"PK" + std::string(60, '\0'), notBmp, "Tarvi"},
        {"B", notBmp, "Tarvi"}, {"BM\x10\0\0", notBmp, "Tarvi"}, {bmpFile({}).substr(0, 17), notBmp, "Tarvi"},
        {bmpFile({}).substr(0, 53), notBmp, "Tarvi"}, {bmpFile({.bitCount = 8}), bits}, {bmpFile({.bitCount = 32}), bits},
        {bmpFile({.compression = 1}), packed}, {bmpFile({.compression = 3}), packed}, {bmpFile({.infoSize = 12}), header},
        {bmpFile({.infoSize = 39}), header}, {bmpFile({.width = 0}), size}, {bmpFile({.width = -3}), size},
        {bmpFile({.height = 0}), size}, {bmpFile({.height = INT32_MIN}), size}, {bmpFile({.width = 20000, .height = 20000}), gib},
        {bmpFile({.width = 16384, .height = 21846}), gib}, {bmpFile({.width = INT32_MAX, .height = -1}), gib},
    };
    ::alarm(10);  // a read that blocks on the fifo ends the run instead of hanging it
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.content.size()));
        FakeUi ui;
        TempDir dir;
        const std::string path = dir.file("picture.bmp");
        place(path, c.content);
        bmp image(ui);
        const std::uint8_t gray = 3;
        image.createFromGray(&gray, 1, 1);
        EXPECT_EQ(image.readBmp(path), 0);
        EXPECT_TRUE(image.record() == nullptr && image.getWidth() == 0 && image.getHeight() == 0);
        expectOneBox(ui, withPath(c.text, path), c.caption);
    }
    ::alarm(0);
}

TEST(BmpRead, PixelsComeFromTheOffsetTheRightWayUpAsFarAsTheFileGoesAndAreWrittenBackPlain)
{
    const std::string colours("\0\0\0\0\xff\xff\xff\0", 8);
    const struct {
        std::uint32_t infoSize;
        std::string gap;
        std::uint32_t colorsUsed;
        std::int64_t offset;  // -1: right after the gap
        std::int32_t height;
        std::size_t kept;     // of the 48 bytes of pixels; the last 3 are padding
    } cases[] = {
        {40, "", 0, -1, 4, 48},   {40, colours, 2, -1, 4, 48}, {40, "fff", 0, -1, 4, 48},       {40, "", 256, 0, 4, 48},
        {108, "", 0, -1, 4, 48},  {124, "", 0, -1, 4, 48},     {108, "0123456789ab", 0, -1, 4, 48}, {56, "", 0, 68, 4, 48},
        {124, "fff", 0, -1, -4, 48}, {40, "", 0, -1, 4, 45},   {40, "", 0, -1, 4, 44},          {40, "", 0, -1, 4, 0},
        {40, "", 0, -1, 4, 13},   {40, "", 0, -1, -4, 13},     {40, "", 0, -1, -4, 30},         {40, "", 0, -1, -4, 45},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.infoSize) + " gap " + std::to_string(c.gap.size()) + " height " +
                     std::to_string(c.height) + " kept " + std::to_string(c.kept));
        FakeUi ui;
        TempDir dir;
        std::string inFile(48, '\0');
        for (std::size_t i = 0; i < c.kept; ++i)
            inFile[i] = static_cast<char>(40 + i);
        writeFile(dir.file("in.bmp"), bmpFile({.width = 3, .height = c.height, .infoSize = c.infoSize, .colorsUsed = c.colorsUsed,
                                               .gap = c.gap, .pixels = inFile.substr(0, c.kept), .pixelOffset = c.offset}));
        bmp image(ui);
        ASSERT_EQ(image.readBmp(dir.file("in.bmp")), 1);
        std::string bottomUp = inFile;
        if (c.height < 0) {
            for (std::size_t row = 0; row < 4; ++row)
                bottomUp.replace(row * 12, 12, inFile.substr((3 - row) * 12, 12));
        }
        EXPECT_TRUE(image.getWidth() == 3 && image.getHeight() == 4 && image.record()->colorCount == c.colorsUsed);
        EXPECT_EQ(pixelsOf(image), bottomUp);
        if (c.kept < 45)
            expectOneBox(ui, dir.file("in.bmp") + " is truncated: it holds " + std::to_string(c.kept) +
                                 " of the 48 bytes of pixel data its header promises.\nThe rest of the picture is shown black.", "Tarvi");
        EXPECT_EQ(ui.boxes.size(), c.kept < 45 ? 1u : 0u);
        ASSERT_EQ(image.writeBmp(dir.file("out.bmp")), 1);
        EXPECT_EQ(readFile(dir.file("out.bmp")), bmpFile({.width = 3, .height = 4, .pixels = bottomUp}));
    }
}

struct RecordingTarget final : DrawTarget {
    std::vector<std::array<std::intptr_t, 6>> calls;
    bool answer = true;
    bool stretchDib(const std::uint8_t* pixels, int width, int height, int stride, int destWidth, int destHeight) override
    {
        calls.push_back({reinterpret_cast<std::intptr_t>(pixels), width, height, stride, destWidth, destHeight});
        return answer;
    }
};

TEST(BmpDraw, ScaleIsKeptBetweenATenthAndFiveTimesAndARefusingDeviceIsReported)
{
    const std::tuple<double, double, int, int> cases[] = {  // requested, used, and the size painted
        {0.05, 0.1, 19, 16}, {7.5, 5.0, 960, 825}, {2.5, 2.5, 480, 412}, {0.0, 0.1, 19, 16}, {-3.0, 0.1, 19, 16},
        {std::nan(""), 0.1, 19, 16}, {HUGE_VAL, 5.0, 960, 825}};
    FakeUi ui;
    bmp image(ui);
    RecordingTarget target;
    EXPECT_EQ(image.draw(target, 3.0), 1);  // no image: nothing painted, the scale stays
    EXPECT_TRUE(target.calls.empty() && image.getScale() == 1.0);
    const auto gray = ramp(192 * 165);
    image.createFromGray(gray.data(), 192, 165);
    const auto pixels = reinterpret_cast<std::intptr_t>(image.getPixels());
    for (const auto& [requested, used, destWidth, destHeight] : cases) {
        target.calls.clear();
        EXPECT_TRUE(image.draw(target, requested) == 1 && image.getScale() == used) << requested;
        EXPECT_EQ(target.calls, (std::vector<std::array<std::intptr_t, 6>>{{pixels, 192, 165, 576, destWidth, destHeight}}));
    }
    EXPECT_TRUE(ui.boxes.empty());
    target.answer = false;
    EXPECT_EQ(image.draw(target, 1.0), 1);
    expectOneBox(ui, "StretchDIBits failed...", "Error");
}

TEST(Centroid, IntensityWeightedAndTruncated)
{
    // Width, height, the lit pixels as (index, value), and the centroid; single spots are the center test's.
    const std::tuple<int, int, std::vector<std::pair<int, int>>, CentroidPoint> cases[] = {
        {10, 10, {{22, 100}, {68, 100}}, {5, 4}}, {4, 1, {{0, 1}, {1, 2}}, {0, 0}}, {4, 1, {{0, 1}, {3, 3}}, {2, 0}},
        {3, 5, {{13, 9}}, {1, 4}}, {5, 7, {}, {2, 3}}};
    for (const auto& [width, height, spots, expected] : cases) {
        std::vector<std::uint8_t> plane(static_cast<std::size_t>(width * height), 0);
        for (const auto& [index, value] : spots)
            plane[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
        EXPECT_EQ(findCentroid(plane.data(), width, height), expected) << width << "x" << height;
    }
    EXPECT_EQ(findCentroid(nullptr, 0, 0), CentroidPoint{});
    EXPECT_EQ(findCentroid(nullptr, 4, 6), (CentroidPoint{2, 3}));
}

TEST(Center, TheBrightSpotMovesToTheMiddleTheEdgesRepeatAndThePaddingStays)
{
    // Blue carries the column, green the row, red one spot (none when -1).
    for (const auto& [width, height, spotX, spotY] :
         {std::tuple{192, 165, 10, 20}, {192, 165, 180, 150}, {5, 3, 0, 0}, {5, 3, -1, -1}}) {
        SCOPED_TRACE(std::to_string(spotX) + "," + std::to_string(spotY));
        FakeUi ui;
        bmp image(ui);
        EXPECT_EQ(image.center(), 1);  // no image: nothing happens
        const std::vector<std::uint8_t> gray(static_cast<std::size_t>(width * height), 0);
        image.createFromGray(gray.data(), width, height);
        const int stride = image.getRowStride(), dx = spotX < 0 ? 0 : spotX - width / 2, dy = spotY < 0 ? 0 : spotY - height / 2;
        std::uint8_t* pixels = image.getPixels();
        for (int i = 0; i < width * height; ++i) {
            std::uint8_t* pixel = pixels + i / width * stride + 3 * (i % width);
            pixel[0] = static_cast<std::uint8_t>(i % width), pixel[1] = static_cast<std::uint8_t>(i / width);
            pixel[2] = i % width == spotX && i / width == spotY ? 255 : 0;
            if (i % width == 0 && stride > 3 * width)
                pixels[i / width * stride + stride - 1] = 0xAB;
        }
        ASSERT_EQ(image.center(), 1);
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                const std::uint8_t* pixel = pixels + r * stride + 3 * c;
                const int fromC = std::clamp(c + dx, 0, width - 1), fromR = std::clamp(r + dy, 0, height - 1);
                ASSERT_EQ(std::vector<int>({pixel[0], pixel[1], pixel[2]}),
                          std::vector<int>({fromC, fromR, fromR == spotY && fromC == spotX ? 255 : 0})) << r << "," << c;
            }
            EXPECT_TRUE(stride == 3 * width || pixels[r * stride + stride - 1] == 0xAB);
        }
    }
}

TEST(PixelMemory, ComesZeroedAndKeepsItsBytesWhenItGrows)
{
    for (std::size_t bytes : {std::size_t{16}, std::size_t{5} << 20}) {
        PixelBuffer buffer;
        buffer.resize(bytes);
        EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), static_cast<std::ptrdiff_t>(bytes));
        buffer[0] = 7, buffer[bytes - 1] = 9;
        buffer.resize(bytes * 2);
        EXPECT_TRUE(buffer[0] == 7 && buffer[bytes - 1] == 9 && buffer[bytes] == 0 && buffer[2 * bytes - 1] == 0);
    }
}

}  // namespace
}  // namespace tarvi
