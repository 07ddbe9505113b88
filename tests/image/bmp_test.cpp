#include "image/bmp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/fake_ui.h"
#include "support/image_checks.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::expectOneBox;
using test::FakeUi;
using test::FileSizeLimit;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::uint32_t le32(const std::string& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
}

std::uint16_t le16(const std::string& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

void putLe16(std::string& out, std::uint16_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void putLe32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A BMP file put together byte by byte.
struct BmpLayout {
    std::int32_t width = 3;
    std::int32_t height = 2;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t infoSize = 40;
    std::uint32_t pixelOffset = 54;
    std::uint32_t colorsUsed = 0;
    std::string gap;     // bytes between the headers and the pixels
    std::string pixels;  // as they stand in the file
};

std::string bmpFile(const BmpLayout& layout)
{
    std::string out = "BM";
    putLe32(out, static_cast<std::uint32_t>(14 + layout.infoSize + layout.gap.size() + layout.pixels.size()));
    putLe32(out, 0);
    putLe32(out, layout.pixelOffset);
    putLe32(out, layout.infoSize);
    putLe32(out, static_cast<std::uint32_t>(layout.width));
    putLe32(out, static_cast<std::uint32_t>(layout.height));
    putLe16(out, 1);
    putLe16(out, layout.bitCount);
    putLe32(out, layout.compression);
    putLe32(out, static_cast<std::uint32_t>(layout.pixels.size()));
    putLe32(out, 2835);
    putLe32(out, 2835);
    putLe32(out, layout.colorsUsed);
    putLe32(out, 0);
    // The rest of a larger header (masks, colour space, profile) is noise to us.
    for (std::uint32_t i = 40; i < layout.infoSize; ++i)
        out.push_back(static_cast<char>(0xA0 + i % 16));
    return out + layout.gap + layout.pixels;
}

// Rows of w pixels, each pixel three distinct bytes, padded to 4 with 0.
std::string pixelRows(int width, int height, int seed)
{
    std::string out;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            out.push_back(static_cast<char>(seed + 10 * r + c));
            out.push_back(static_cast<char>(seed + 100 + 10 * r + c));
            out.push_back(static_cast<char>(seed + 200 + 10 * r + c));
        }
        while (out.size() % 4 != 0)
            out.push_back('\0');
    }
    return out;
}

std::string pixelsOf(const bmp& image)
{
    const bmpData* record = image.record();
    return std::string(reinterpret_cast<const char*>(record->pixels.data()), record->pixels.size());
}

std::vector<std::uint8_t> grayRamp(int width, int height)
{
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < gray.size(); ++i)
        gray[i] = static_cast<std::uint8_t>(i * 7 + i / 191);
    return gray;
}



TEST(BmpObject, EmptyObjectHoldsNoImage)
{
    FakeUi ui;
    bmp image(ui);
    EXPECT_EQ(image.getWidth(), 0);
    EXPECT_EQ(image.getHeight(), 0);
    EXPECT_EQ(image.getPixels(), nullptr);
    EXPECT_EQ(image.getRowStride(), 0);
    EXPECT_EQ(image.getScale(), 1.0);
    EXPECT_EQ(image.record(), nullptr);
}

TEST(BmpObject, CameraFrameBecomesA24BitImage)
{
    FakeUi ui;
    bmp image(ui);
    const auto gray = grayRamp(192, 165);
    ASSERT_EQ(image.createFromGray(gray.data(), 192, 165), 1);

    const bmpData& record = *image.record();
    EXPECT_EQ(record.width, 192);
    EXPECT_EQ(record.height, 165);
    EXPECT_EQ(image.getWidth(), 192);
    EXPECT_EQ(image.getHeight(), 165);
    EXPECT_EQ(record.colorCount, 0u);
    EXPECT_EQ(record.imageSize, 95040u);
    EXPECT_EQ(record.pixels.size(), 95040u);
    EXPECT_EQ(image.getRowStride(), 576);

    const std::string fileHeader(record.fileHeader.begin(), record.fileHeader.end());
    EXPECT_EQ(fileHeader.substr(0, 2), "BM");
    EXPECT_EQ(le32(fileHeader, 2), 95094u);
    EXPECT_EQ(le32(fileHeader, 6), 0u);
    EXPECT_EQ(le32(fileHeader, 10), 54u);
    const std::string info(record.info.begin(), record.info.begin() + 40);
    EXPECT_EQ(le32(info, 0), 40u);
    EXPECT_EQ(le32(info, 4), 192u);
    EXPECT_EQ(le32(info, 8), 165u);
    EXPECT_EQ(le16(info, 12), 1u);
    EXPECT_EQ(le16(info, 14), 24u);
    for (std::size_t at : {16, 24, 28, 32, 36})
        EXPECT_EQ(le32(info, at), 0u) << "info byte " << at;
    EXPECT_EQ(le32(info, 20), 95040u);
}

TEST(BmpObject, GrayRowZeroIsTheBottomRowAndEveryByteIsTripled)
{
    FakeUi ui;
    bmp image(ui);
    const auto gray = grayRamp(192, 165);
    image.createFromGray(gray.data(), 192, 165);
    const std::uint8_t* pixels = image.getPixels();
    for (int row = 0; row < 165; ++row) {
        for (int column = 0; column < 192; ++column) {
            const std::uint8_t* pixel = pixels + row * 576 + 3 * column;
            const std::uint8_t want = gray[static_cast<std::size_t>(row) * 192 + column];
            ASSERT_EQ(pixel[0], want) << row << "," << column;
            ASSERT_EQ(pixel[1], want);
            ASSERT_EQ(pixel[2], want);
        }
    }
}

TEST(BmpObject, RowStrideRoundsThreeBytesAPixelUpToFour)
{
    const std::pair<int, int> cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {6, 20}, {192, 576}, {4096, 12288}};
    for (const auto& [width, stride] : cases)
        EXPECT_EQ(bmp::rowStrideFor(width), stride) << "width " << width;
}

TEST(BmpObject, WidthFiveLeavesOnePadByteAfterEachRow)
{
    FakeUi ui;
    bmp image(ui);
    const std::vector<std::uint8_t> gray = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    image.createFromGray(gray.data(), 5, 2);
    EXPECT_EQ(image.getRowStride(), 16);
    EXPECT_EQ(image.record()->imageSize, 32u);
    const std::string expected("\1\1\1\2\2\2\3\3\3\4\4\4\5\5\5\0"
                               "\6\6\6\7\7\7\10\10\10\11\11\11\12\12\12\0",
                               32);
    EXPECT_EQ(pixelsOf(image), expected);
}

TEST(BmpObject, SizesThatMakeNoImageAreRefused)
{
    const std::uint8_t one = 9;
    const struct {
        const std::uint8_t* gray;
        int width;
        int height;
    } cases[] = {{&one, 0, 1}, {&one, 1, 0}, {&one, -1, 5}, {&one, 5, -1}, {nullptr, 1, 1}, {&one, 40000, 40000}};
    for (const auto& c : cases) {
        FakeUi ui;
        bmp image(ui);
        const std::uint8_t before = 1;
        image.createFromGray(&before, 1, 1);
        EXPECT_EQ(image.createFromGray(c.gray, c.width, c.height), 0) << c.width << "x" << c.height;
        EXPECT_EQ(image.record(), nullptr);
        EXPECT_EQ(image.getWidth(), 0);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(BmpWrite, CameraFrameGivesTheWholeFileByteForByte)
{
    FakeUi ui;
    TempDir dir;
    bmp image(ui);
    const auto gray = grayRamp(192, 165);
    image.createFromGray(gray.data(), 192, 165);
    ASSERT_EQ(image.writeBmp(dir.file("frame.bmp")), 1);

    const std::string file = readFile(dir.file("frame.bmp"));
    ASSERT_EQ(file.size(), 95094u);
    std::string header = "BM";
    putLe32(header, 95094);
    putLe32(header, 0);
    putLe32(header, 54);
    putLe32(header, 40);
    putLe32(header, 192);
    putLe32(header, 165);
    putLe16(header, 1);
    putLe16(header, 24);
    putLe32(header, 0);
    putLe32(header, 95040);
    for (int i = 0; i < 4; ++i)
        putLe32(header, 0);
    EXPECT_EQ(file.substr(0, 54), header);
    EXPECT_EQ(file.substr(54), pixelsOf(image));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(BmpWrite, ReplacesALongerFileCompletely)
{
    FakeUi ui;
    TempDir dir;
    const std::string path = dir.file("old.bmp");
    writeFile(path, std::string(200000, 'x'));
    bmp image(ui);
    const std::vector<std::uint8_t> gray = {10, 20, 30, 40};
    image.createFromGray(gray.data(), 2, 2);
    ASSERT_EQ(image.writeBmp(path), 1);
    EXPECT_EQ(readFile(path).size(), 54u + 16u);
}

TEST(BmpWrite, WithoutAnImageNothingIsCreated)
{
    FakeUi ui;
    TempDir dir;
    bmp image(ui);
    EXPECT_EQ(image.writeBmp(dir.file("none.bmp")), 0);
    expectOneBox(ui, "No PIC file exists!", "Tarvi");
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.bmp")));
}

TEST(BmpWrite, FailuresAndTheirMessages)
{
    ::alarm(10);  // a write that blocks on the fifo ends the run instead of hanging it
    TempDir dir;
    const std::string old = "the picture of last night";
    for (const char* name : {"header.bmp", "pixels.bmp", "locked.bmp"})
        writeFile(dir.file(name), old);
    ::chmod(dir.file("locked.bmp").c_str(), 0444);
    ::mkfifo(dir.file("fifo.bmp").c_str(), 0644);
    const auto refused = [](const std::string& path, const char* reason) {
        return "Cannot open file " + path + " for writing:\n" + reason;
    };
    const std::vector<std::uint8_t> gray(192 * 165, 77);
    test::expectWriteFailures(gray, 192, 165, &bmp::writeBmp, {
        {dir.file("missing/frame.bmp"), 0, refused(dir.file("missing/frame.bmp"), "No such file or directory"),
         "File Open Error"},
        {"/dev/full", 0, refused("/dev/full", "Is a device, not a regular file"), "File Open Error"},
        {dir.file("fifo.bmp"), 0, refused(dir.file("fifo.bmp"), "Is a named pipe, not a regular file"),
         "File Open Error"},
        {dir.file("locked.bmp"), 0, refused(dir.file("locked.bmp"), "Permission denied"), "File Open Error",
         old.size()},
        {dir.file("header.bmp"), 30, "Cannot write file " + dir.file("header.bmp") + ":\nFile too large",
         "File Write Error", old.size()},
        {dir.file("pixels.bmp"), 1000, "Cannot write file " + dir.file("pixels.bmp") + ":\nFile too large",
         "File Write Error", old.size()},
    });
    ::alarm(0);
    for (const char* name : {"header.bmp", "pixels.bmp", "locked.bmp"})
        EXPECT_EQ(readFile(dir.file(name)), old) << name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

TEST(BmpRead, WrittenImageReadsBackUnchanged)
{
    const std::pair<int, int> sizes[] = {{192, 165}, {5, 3}, {1, 1}, {7, 1}, {1, 9}};
    for (const auto& [width, height] : sizes) {
        FakeUi ui;
        TempDir dir;
        bmp written(ui);
        const auto gray = grayRamp(width, height);
        written.createFromGray(gray.data(), width, height);
        // Colour, so that a mix-up of the three bytes shows.
        std::uint8_t* pixels = written.getPixels();
        for (int i = 0; i < width * height; ++i) {
            const int at = (i / width) * written.getRowStride() + 3 * (i % width);
            pixels[at] = static_cast<std::uint8_t>(i);
            pixels[at + 1] = static_cast<std::uint8_t>(i * 3);
        }
        ASSERT_EQ(written.writeBmp(dir.file("round.bmp")), 1);

        bmp read(ui);
        ASSERT_EQ(read.readBmp(dir.file("round.bmp")), 1);
        EXPECT_EQ(read.getWidth(), width);
        EXPECT_EQ(read.getHeight(), height);
        EXPECT_EQ(pixelsOf(read), pixelsOf(written)) << width << "x" << height;
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(BmpRead, KeepsTheHeadersAsReadAndTheColourCount)
{
    FakeUi ui;
    TempDir dir;
    BmpLayout layout;
    layout.colorsUsed = 12;
    layout.pixels = pixelRows(3, 2, 1);
    const std::string file = bmpFile(layout);
    writeFile(dir.file("a.bmp"), file);
    bmp image(ui);
    ASSERT_EQ(image.readBmp(dir.file("a.bmp")), 1);
    EXPECT_EQ(image.record()->colorCount, 12u);
    EXPECT_EQ(std::string(image.record()->fileHeader.begin(), image.record()->fileHeader.end()), file.substr(0, 14));
    EXPECT_EQ(std::string(image.record()->info.begin(), image.record()->info.begin() + 40), file.substr(14, 40));
}

struct Refusal {
    const char* what;
    std::string content;  // written to the file; "<none>" for no file at all
    const char* text;     // "%p" stands for the path
    const char* caption;
};

std::string withPath(std::string text, const std::string& path)
{
    const auto at = text.find("%p");
    if (at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

TEST(BmpRead, RefusedFilesLeaveNoImage)
{
    auto layout = [](auto change) {
        BmpLayout s;
        s.pixels = pixelRows(3, 2, 5);
        change(s);
        return bmpFile(s);
    };
    const Refusal cases[] = {
        {"missing", "<none>", "Cannot open file %p:\nNo such file or directory", "File Open Error"},
        {"fifo", "<fifo>", "Cannot open file %p:\nIs a named pipe, not a regular file", "File Open Error"},
        {"directory", "<directory>", "Cannot open file %p:\nIs a directory", "File Open Error"},
        {"empty", "", "%p has zero length.   \nNo image will be displayed.", "Tarvi"},
        {"not BM", "PK" + std::string(60, '\0'), "Not a Bitmap File!", "Tarvi"},
        {"one byte", "B", "Not a Bitmap File!", "Tarvi"},
        {"cut in the file header", "BM\x10\0\0", "Not a Bitmap File!", "Tarvi"},
        {"cut in the info header", layout([](BmpLayout&) {}).substr(0, 40), "Not a Bitmap File!", "Tarvi"},
        {"8-bit", layout([](BmpLayout& s) { s.bitCount = 8; }), "Sorry, we handle 24-bit bmp images only.",
         "Wrong bmp type"},
        {"32-bit", layout([](BmpLayout& s) { s.bitCount = 32; }), "Sorry, we handle 24-bit bmp images only.",
         "Wrong bmp type"},
        {"run-length coded", layout([](BmpLayout& s) { s.compression = 1; }),
         "Sorry, we handle uncompressed bmp images only.", "Wrong bmp type"},
        {"bit fields", layout([](BmpLayout& s) { s.compression = 3; }), "Sorry, we handle uncompressed bmp images only.",
         "Wrong bmp type"},
        {"12-byte header", layout([](BmpLayout& s) { s.infoSize = 12; }),
         "Sorry, we handle bmp images with a header of 40 bytes or more only.", "Wrong bmp type"},
        {"width 0", layout([](BmpLayout& s) { s.width = 0; }),
         "Sorry, we handle bmp images with a width and height of 1 or more only.", "Wrong bmp type"},
        {"negative width", layout([](BmpLayout& s) { s.width = -3; }),
         "Sorry, we handle bmp images with a width and height of 1 or more only.", "Wrong bmp type"},
        {"height 0", layout([](BmpLayout& s) { s.height = 0; }),
         "Sorry, we handle bmp images with a width and height of 1 or more only.", "Wrong bmp type"},
        {"lowest height", layout([](BmpLayout& s) { s.height = INT32_MIN; }),
         "Sorry, we handle bmp images with a width and height of 1 or more only.", "Wrong bmp type"},
        {"over 1 GiB", layout([](BmpLayout& s) { s.width = 20000; s.height = 20000; }),
         "Sorry, we handle bmp images of up to 1 GB only.", "Wrong bmp type"},
        {"widest", layout([](BmpLayout& s) { s.width = INT32_MAX; s.height = -1; }),
         "Sorry, we handle bmp images of up to 1 GB only.", "Wrong bmp type"},
    };
    ::alarm(10);  // a read that blocks on the fifo ends the run instead of hanging it
    for (const Refusal& c : cases) {
        FakeUi ui;
        TempDir dir;
        const std::string path = dir.file("picture.bmp");
        if (c.content == "<fifo>")
            ::mkfifo(path.c_str(), 0644);
        else if (c.content == "<directory>")
            std::filesystem::create_directory(path);
        else if (c.content != "<none>")
            writeFile(path, c.content);
        bmp image(ui);
        const std::uint8_t gray = 3;
        image.createFromGray(&gray, 1, 1);
        EXPECT_EQ(image.readBmp(path), 0) << c.what;
        EXPECT_EQ(image.record(), nullptr) << c.what;
        EXPECT_EQ(image.getWidth(), 0) << c.what;
        EXPECT_EQ(image.getHeight(), 0) << c.what;
        SCOPED_TRACE(c.what);
        expectOneBox(ui, withPath(c.text, path), c.caption);
    }
    ::alarm(0);
}

TEST(BmpRead, PixelsAreTakenFromTheOffsetButNeverFromInsideTheHeaders)
{
    const std::string colourTable = "\x00\x00\x00\x00\xff\xff\xff\x00";
    const struct {
        std::uint32_t infoSize;
        std::string gap;
        std::uint32_t colorsUsed = 0;
        std::uint32_t offsetDown = 0;  // how far the offset points back into the headers
    } cases[] = {{40, ""},       {40, colourTable, 2}, {40, std::string(3, '\x66')}, {40, "", 0, 54},
                 {108, ""},      {124, ""},            {108, std::string(12, '\x55')}, {124, std::string(3, '\x66')},
                 {56, "", 0, 2}};
    for (const auto& c : cases) {
        FakeUi ui;
        TempDir dir;
        BmpLayout layout;
        layout.width = 5;
        layout.height = 3;
        layout.infoSize = c.infoSize;
        layout.gap = c.gap;
        layout.colorsUsed = c.colorsUsed;
        layout.pixelOffset = static_cast<std::uint32_t>(14 + c.infoSize + c.gap.size()) - c.offsetDown;
        layout.pixels = pixelRows(5, 3, 60);
        writeFile(dir.file("v.bmp"), bmpFile(layout));
        bmp image(ui);
        ASSERT_EQ(image.readBmp(dir.file("v.bmp")), 1) << c.infoSize;
        EXPECT_EQ(image.getWidth(), 5);
        EXPECT_EQ(image.getHeight(), 3);
        EXPECT_EQ(pixelsOf(image), layout.pixels) << "header " << c.infoSize << " gap " << c.gap.size();
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(BmpRead, TopDownFileIsReadTheRightWayUp)
{
    FakeUi ui;
    TempDir dir;
    BmpLayout layout;
    layout.width = 3;
    layout.height = -4;
    const std::string rows = pixelRows(3, 4, 7);  // first row in the file is the top
    layout.pixels = rows;
    writeFile(dir.file("td.bmp"), bmpFile(layout));
    bmp image(ui);
    ASSERT_EQ(image.readBmp(dir.file("td.bmp")), 1);
    EXPECT_EQ(image.getHeight(), 4);
    EXPECT_EQ(image.record()->height, 4);
    std::string bottomUp;
    for (int row = 3; row >= 0; --row)
        bottomUp += rows.substr(static_cast<std::size_t>(row) * 12, 12);
    EXPECT_EQ(pixelsOf(image), bottomUp);
}

TEST(BmpRead, ShortFileIsShownAsFarAsItGoesAndSaidToBeTruncated)
{
    const struct {
        std::int32_t height;
        std::size_t bytesKept;
    } cases[] = {{4, 0}, {4, 1}, {4, 13}, {4, 45}, {-4, 13}, {-4, 30}};
    for (const auto& c : cases) {
        FakeUi ui;
        TempDir dir;
        BmpLayout layout;
        layout.width = 3;
        layout.height = c.height;
        const std::string rows = pixelRows(3, 4, 90);
        layout.pixels = rows.substr(0, c.bytesKept);
        writeFile(dir.file("short.bmp"), bmpFile(layout));
        bmp image(ui);
        ASSERT_EQ(image.readBmp(dir.file("short.bmp")), 1);
        std::string inFileOrder = layout.pixels + std::string(48 - c.bytesKept, '\0');
        std::string expected = inFileOrder;
        if (c.height < 0) {
            expected.clear();
            for (int row = 3; row >= 0; --row)
                expected += inFileOrder.substr(static_cast<std::size_t>(row) * 12, 12);
        }
        EXPECT_EQ(pixelsOf(image), expected) << c.height << " " << c.bytesKept;
        // Without the last row's padding nothing is lost.
        if (c.bytesKept < 45) {
            expectOneBox(ui, dir.file("short.bmp") + " is truncated: it holds " + std::to_string(c.bytesKept) +
                                 " of the 48 bytes of pixel data its header promises.\n"
                                 "The rest of the picture is shown black.", "Tarvi");
        } else {
            EXPECT_TRUE(ui.boxes.empty());
        }
    }
}

TEST(BmpRead, AFailedReadTakesThePreviousImageAway)
{
    FakeUi ui;
    TempDir dir;
    bmp image(ui);
    const auto gray = grayRamp(4, 4);
    image.createFromGray(gray.data(), 4, 4);
    EXPECT_EQ(image.readBmp(dir.file("absent.bmp")), 0);
    EXPECT_EQ(image.record(), nullptr);
    EXPECT_EQ(image.getPixels(), nullptr);
}

TEST(BmpWrite, AnyFileReadIsWrittenBackConsistent)
{
    const struct {
        std::uint32_t infoSize;
        std::int32_t height;
        std::uint32_t colorsUsed;
    } cases[] = {{124, 2, 0}, {108, -2, 0}, {40, -2, 0}, {40, 2, 256}};
    for (const auto& c : cases) {
        FakeUi ui;
        TempDir dir;
        BmpLayout layout;
        layout.width = 5;
        layout.height = c.height;
        layout.infoSize = c.infoSize;
        layout.colorsUsed = c.colorsUsed;
        layout.pixelOffset = 14 + c.infoSize;
        layout.pixels = pixelRows(5, 2, 33);
        writeFile(dir.file("in.bmp"), bmpFile(layout));
        bmp image(ui);
        ASSERT_EQ(image.readBmp(dir.file("in.bmp")), 1);
        ASSERT_EQ(image.writeBmp(dir.file("out.bmp")), 1);

        const std::string out = readFile(dir.file("out.bmp"));
        SCOPED_TRACE(std::to_string(c.infoSize) + " " + std::to_string(c.height));
        ASSERT_EQ(out.size(), 54u + 32u);
        EXPECT_EQ(le32(out, 2), 86u);
        EXPECT_EQ(le32(out, 10), 54u);
        EXPECT_EQ(le32(out, 14), 40u);
        EXPECT_EQ(le32(out, 18), 5u);
        EXPECT_EQ(le32(out, 22), 2u);
        EXPECT_EQ(le16(out, 28), 24u);
        EXPECT_EQ(le32(out, 30), 0u);
        EXPECT_EQ(le32(out, 34), 32u);
        EXPECT_EQ(le32(out, 38), 2835u);  // the resolution is kept
        EXPECT_EQ(le32(out, 46), 0u);     // no colour table follows
        EXPECT_EQ(out.substr(54), pixelsOf(image));

        bmp again(ui);
        ASSERT_EQ(again.readBmp(dir.file("out.bmp")), 1);
        EXPECT_EQ(pixelsOf(again), pixelsOf(image));
    }
}

class RecordingTarget final : public DrawTarget {
public:
    bool stretchDib(const std::uint8_t* pixels, int width, int height, int rowStride, int destWidth,
                    int destHeight) override
    {
        calls.push_back({pixels, width, height, rowStride, destWidth, destHeight});
        return answer;
    }
    struct Call {
        const std::uint8_t* pixels;
        int width;
        int height;
        int rowStride;
        int destWidth;
        int destHeight;
    };
    std::vector<Call> calls;
    bool answer = true;
};

TEST(BmpDraw, ScaleIsClampedToTheTenthAndFiveTimes)
{
    const struct {
        double requested;
        double used;
        int destWidth;
        int destHeight;
    } cases[] = {
        {0.05, 0.1, 19, 16}, {0.1, 0.1, 19, 16}, {7.5, 5.0, 960, 825},     {5.0, 5.0, 960, 825},
        {2.5, 2.5, 480, 412}, {1.0, 1.0, 192, 165}, {0.0, 0.1, 19, 16},    {-3.0, 0.1, 19, 16},
        {std::nan(""), 0.1, 19, 16}, {HUGE_VAL, 5.0, 960, 825},
    };
    for (const auto& c : cases) {
        FakeUi ui;
        bmp image(ui);
        const auto gray = grayRamp(192, 165);
        image.createFromGray(gray.data(), 192, 165);
        RecordingTarget target;
        EXPECT_EQ(image.draw(target, c.requested), 1);
        EXPECT_EQ(image.getScale(), c.used) << c.requested;
        ASSERT_EQ(target.calls.size(), 1u);
        const auto& call = target.calls[0];
        EXPECT_EQ(call.pixels, image.getPixels());
        EXPECT_EQ(call.width, 192);
        EXPECT_EQ(call.height, 165);
        EXPECT_EQ(call.rowStride, 576);
        EXPECT_EQ(call.destWidth, c.destWidth) << c.requested;
        EXPECT_EQ(call.destHeight, c.destHeight) << c.requested;
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(BmpDraw, WithoutAnImageNothingIsPaintedAndTheScaleStays)
{
    FakeUi ui;
    bmp image(ui);
    RecordingTarget target;
    EXPECT_EQ(image.draw(target, 3.0), 1);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(image.getScale(), 1.0);
}

TEST(BmpDraw, ARefusingDeviceIsReported)
{
    FakeUi ui;
    bmp image(ui);
    const std::uint8_t gray = 1;
    image.createFromGray(&gray, 1, 1);
    RecordingTarget target;
    target.answer = false;
    EXPECT_EQ(image.draw(target, 1.0), 1);
    expectOneBox(ui, "StretchDIBits failed...", "Error");
}

TEST(BmpDraw, NoPaletteOnTodaysDisplays)
{
    FakeUi ui;
    bmp image(ui);
    const std::uint8_t gray = 1;
    image.createFromGray(&gray, 1, 1);
    RecordingTarget target;
    EXPECT_EQ(image.makePalette(target), nullptr);
    EXPECT_EQ(image.makeSystemPalette(target), nullptr);
}

TEST(Centroid, IntensityWeightedAndTruncated)
{
    const struct {
        const char* what;
        int width;
        int height;
        std::vector<std::pair<int, int>> spots;  // (index, value)
        CentroidPoint expected;
    } cases[] = {
        {"single spot", 192, 165, {{20 * 192 + 10, 255}}, {10, 20}},
        {"two equal spots", 10, 10, {{2 * 10 + 2, 100}, {6 * 10 + 8, 100}}, {5, 4}},
        {"weights 1 and 2 truncate", 4, 1, {{0, 1}, {1, 2}}, {0, 0}},
        {"weights 1 and 3", 4, 1, {{0, 1}, {3, 3}}, {2, 0}},
        {"row order is memory order", 3, 5, {{4 * 3 + 1, 9}}, {1, 4}},
        {"no light: the centre", 192, 165, {}, {96, 82}},
        {"no light, odd sizes", 5, 7, {}, {2, 3}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> plane(static_cast<std::size_t>(c.width) * c.height, 0);
        for (const auto& [index, value] : c.spots)
            plane[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
        EXPECT_EQ(findCentroid(plane.data(), c.width, c.height), c.expected) << c.what;
    }
}

TEST(Centroid, EmptyPlane)
{
    EXPECT_EQ(findCentroid(nullptr, 0, 0), CentroidPoint{});
    EXPECT_EQ(findCentroid(nullptr, 4, 6), (CentroidPoint{2, 3}));
}

// Red carries one bright spot, blue the column and green the row, so the
// shift and the repeated edges show in the other two planes.
std::unique_ptr<bmp> spotImage(FakeUi& ui, int width, int height, int spotX, int spotY)
{
    auto image = std::make_unique<bmp>(ui);
    const std::vector<std::uint8_t> gray(static_cast<std::size_t>(width) * height, 0);
    image->createFromGray(gray.data(), width, height);
    std::uint8_t* pixels = image->getPixels();
    const int stride = image->getRowStride();
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            std::uint8_t* pixel = pixels + r * stride + 3 * c;
            pixel[0] = static_cast<std::uint8_t>(c);
            pixel[1] = static_cast<std::uint8_t>(r);
            pixel[2] = (r == spotY && c == spotX) ? 255 : 0;
        }
    }
    return image;
}

TEST(Center, SingleBrightSpotMovesToTheMiddle)
{
    const struct {
        int spotX;
        int spotY;
    } spots[] = {{10, 20}, {180, 150}, {96, 82}, {0, 0}};
    for (const auto& spot : spots) {
        FakeUi ui;
        auto image = spotImage(ui, 192, 165, spot.spotX, spot.spotY);
        ASSERT_EQ(image->center(), 1);
        const std::uint8_t* pixels = image->getPixels();
        const int dx = spot.spotX - 96;
        const int dy = spot.spotY - 82;
        for (int r = 0; r < 165; ++r) {
            for (int c = 0; c < 192; ++c) {
                const std::uint8_t* pixel = pixels + r * 576 + 3 * c;
                // The outermost column and row repeat over the uncovered margin.
                ASSERT_EQ(pixel[0], std::clamp(c + dx, 0, 191)) << r << "," << c;
                ASSERT_EQ(pixel[1], std::clamp(r + dy, 0, 164)) << r << "," << c;
                const bool fromSpot = std::clamp(r + dy, 0, 164) == spot.spotY && std::clamp(c + dx, 0, 191) == spot.spotX;
                ASSERT_EQ(pixel[2], fromSpot ? 255 : 0) << r << "," << c;
            }
        }
        EXPECT_EQ(pixels[82 * 576 + 3 * 96 + 2], 255);
    }
}

TEST(Center, PaddingIsLeftAlone)
{
    FakeUi ui;
    auto image = spotImage(ui, 5, 3, 0, 0);
    std::uint8_t* pixels = image->getPixels();
    for (int r = 0; r < 3; ++r)
        pixels[r * 16 + 15] = 0xAB;
    image->center();
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(pixels[r * 16 + 15], 0xAB);
    EXPECT_EQ(pixels[1 * 16 + 3 * 2 + 2], 255);
}

TEST(Center, PictureWithoutLightStaysAsItIs)
{
    FakeUi ui;
    auto image = spotImage(ui, 192, 165, -1, -1);
    const std::string before = pixelsOf(*image);
    EXPECT_EQ(image->center(), 1);
    EXPECT_EQ(pixelsOf(*image), before);
}

TEST(Center, WithoutAnImageNothingHappens)
{
    FakeUi ui;
    bmp image(ui);
    EXPECT_EQ(image.center(), 1);
    EXPECT_EQ(image.record(), nullptr);
}

TEST(PixelMemory, ComesZeroedForSmallAndLargePictures)
{
    for (std::size_t bytes : {std::size_t{16}, std::size_t{5} << 20}) {
        PixelBuffer buffer;
        buffer.resize(bytes);
        std::size_t nonZero = 0;
        for (std::uint8_t byte : buffer)
            nonZero += byte != 0;
        EXPECT_EQ(nonZero, 0u) << bytes;
    }
}

}  // namespace
}  // namespace tarvi
