#include "image/fits.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "image/bmp.h"
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

std::string card(const std::string& text)
{
    std::string out = text;
    out.resize(80, ' ');
    return out;
}

// Cards padded to whole 2880-byte blocks with spaces.
std::string headerOf(const std::vector<std::string>& texts)
{
    std::string out;
    for (const std::string& text : texts)
        out += card(text);
    out.resize((out.size() + 2879) / 2880 * 2880, ' ');
    return out;
}

std::string beBytes(std::uint64_t bits, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    return out;
}

std::string be16(std::int16_t value) { return beBytes(static_cast<std::uint16_t>(value), 2); }
std::string be32(std::int32_t value) { return beBytes(static_cast<std::uint32_t>(value), 4); }
std::string be64(std::int64_t value) { return beBytes(static_cast<std::uint64_t>(value), 8); }
std::string beFloat(float value) { return beBytes(std::bit_cast<std::uint32_t>(value), 4); }
std::string beDouble(double value) { return beBytes(std::bit_cast<std::uint64_t>(value), 8); }

std::string imageCards(int bitpix, int width, int height, const std::vector<std::string>& more = {})
{
    std::vector<std::string> texts = {
        "SIMPLE  =                    T",
        "BITPIX  = " + std::string(20 - std::to_string(bitpix).size(), ' ') + std::to_string(bitpix),
        "NAXIS   =                    2",
        fits::integerCard("NAXIS1", width),
        fits::integerCard("NAXIS2", height),
    };
    texts.insert(texts.end(), more.begin(), more.end());
    texts.push_back("END");
    return headerOf(texts);
}

// The picture as grey levels, top row first; every pixel must be grey.
std::vector<int> grayTopDown(const bmp& image)
{
    std::vector<int> out;
    const std::uint8_t* pixels = image.getPixels();
    for (int row = image.getHeight() - 1; row >= 0; --row) {
        for (int column = 0; column < image.getWidth(); ++column) {
            const std::uint8_t* pixel = pixels + row * image.getRowStride() + 3 * column;
            EXPECT_EQ(pixel[0], pixel[2]);
            EXPECT_EQ(pixel[1], pixel[2]);
            out.push_back(pixel[2]);
        }
    }
    return out;
}



std::vector<std::uint8_t> grayRamp(int width, int height)
{
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < gray.size(); ++i)
        gray[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
    return gray;
}

const char* const writtenCards[] = {
    "SIMPLE  =                    T", "BITPIX  =                    8", "NAXIS   =                    2",
    "NAXIS1  =                  192", "NAXIS2  =                  165", "DATAMIN =                    0",
    "DATAMAX =                  255", "HISTORY Created by Tarvi.     ", "END",
};

TEST(FitsWrite, CameraFrameGivesTheWholeFileByteForByte)
{
    FakeUi ui;
    TempDir dir;
    bmp image(ui);
    const auto gray = grayRamp(192, 165);
    image.createFromGray(gray.data(), 192, 165);
    ASSERT_EQ(image.writeFits(dir.file("frame.fit")), 1);

    const std::string file = readFile(dir.file("frame.fit"));
    ASSERT_EQ(file.size(), 34560u);
    std::string header(2880, ' ');
    for (std::size_t i = 0; i < 9; ++i)
        header.replace(i * 80, std::strlen(writtenCards[i]), writtenCards[i]);
    EXPECT_EQ(file.substr(0, 2880), header);
    // Grey row 0 is the bottom of the picture, so it comes last.
    std::string data;
    for (int row = 164; row >= 0; --row)
        data.append(reinterpret_cast<const char*>(gray.data()) + row * 192, 192);
    EXPECT_EQ(file.substr(2880), data);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(FitsWrite, DataIsPaddedWithZerosToWholeRecords)
{
    const struct {
        int width;
        int height;
        std::size_t fileSize;
    } cases[] = {{192, 165, 34560}, {100, 100, 14400}, {1, 1, 5760}, {2880, 1, 5760}, {2881, 1, 8640}, {5, 3, 5760}};
    for (const auto& c : cases) {
        FakeUi ui;
        TempDir dir;
        bmp image(ui);
        const std::vector<std::uint8_t> gray(static_cast<std::size_t>(c.width) * c.height, 0xEE);
        image.createFromGray(gray.data(), c.width, c.height);
        ASSERT_EQ(image.writeFits(dir.file("p.fit")), 1);
        const std::string file = readFile(dir.file("p.fit"));
        ASSERT_EQ(file.size(), c.fileSize) << c.width << "x" << c.height;
        const std::size_t dataEnd = 2880 + gray.size();
        EXPECT_EQ(file.substr(2880, gray.size()), std::string(gray.size(), '\xEE'));
        EXPECT_EQ(file.substr(dataEnd), std::string(c.fileSize - dataEnd, '\0'));
    }
}

TEST(FitsWrite, WidthCardColumns)
{
    FakeUi ui;
    TempDir dir;
    bmp image(ui);
    const std::vector<std::uint8_t> gray(192 * 2, 1);
    image.createFromGray(gray.data(), 192, 2);
    image.writeFits(dir.file("c.fit"));
    const std::string cardFour = readFile(dir.file("c.fit")).substr(240, 80);
    for (std::size_t column = 1; column <= 80; ++column) {
        char want = ' ';
        if (column <= 6)
            want = "NAXIS1"[column - 1];
        else if (column == 9)
            want = '=';
        else if (column >= 28 && column <= 30)
            want = "192"[column - 28];
        EXPECT_EQ(cardFour[column - 1], want) << "column " << column;
    }
}

TEST(FitsWrite, ColourImageKeepsItsRedChannel)
{
    FakeUi ui;
    TempDir dir;
    bmp image(ui);
    const std::vector<std::uint8_t> gray(3 * 2, 0);
    image.createFromGray(gray.data(), 3, 2);
    std::uint8_t* pixels = image.getPixels();
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            std::uint8_t* pixel = pixels + row * 12 + 3 * column;
            pixel[0] = 200;  // blue
            pixel[1] = 100;  // green
            pixel[2] = static_cast<std::uint8_t>(10 * row + column);
        }
    }
    ASSERT_EQ(image.writeFits(dir.file("red.fit")), 1);
    EXPECT_EQ(readFile(dir.file("red.fit")).substr(2880, 6), std::string("\x0a\x0b\x0c\x00\x01\x02", 6));

    bmp back(ui);
    ASSERT_EQ(back.readFits(dir.file("red.fit"), 1.0, 1.0), 1);
    EXPECT_EQ(grayTopDown(back), (std::vector<int>{10, 11, 12, 0, 1, 2}));
}

TEST(FitsWrite, WithoutAnImageNothingIsCreated)
{
    FakeUi ui;
    TempDir dir;
    bmp image(ui);
    EXPECT_EQ(image.writeFits(dir.file("none.fit")), 0);
    expectOneBox(ui, "No PIC file exists!", "Tarvi");
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.fit")));
}

TEST(FitsWrite, FailuresAndTheirMessages)
{
    ::alarm(10);  // a write that blocks on the fifo ends the run instead of hanging it
    TempDir dir;
    const std::string old = "the picture of last night";
    for (const char* name : {"header.fit", "data.fit", "padding.fit"})
        writeFile(dir.file(name), old);
    ::mkfifo(dir.file("fifo.fit").c_str(), 0644);
    const auto full = [&](const char* name) { return "Cannot write file " + dir.file(name) + ":\nFile too large"; };
    const std::vector<std::uint8_t> gray(100 * 100, 5);  // 2880 + 10000 + 1520 bytes
    test::expectWriteFailures(
        gray, 100, 100, &bmp::writeFits,
        {
            {dir.file("missing/p.fit"), 0,
             "Cannot open file " + dir.file("missing/p.fit") + " for writing:\nNo such file or directory",
             "File Open Error"},
            {dir.file("fifo.fit"), 0,
             "Cannot open file " + dir.file("fifo.fit") + " for writing:\nIs a named pipe, not a regular file",
             "File Open Error"},
            {dir.file("header.fit"), 1000, full("header.fit"), "File Write Error", old.size()},
            {dir.file("data.fit"), 2880 + 9999, full("data.fit"), "File Write Error", old.size()},
            {dir.file("padding.fit"), 14399, full("padding.fit"), "File Write Error", old.size()},
        });
    ::alarm(0);
    for (const char* name : {"header.fit", "data.fit", "padding.fit"})
        EXPECT_EQ(readFile(dir.file(name)), old) << name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

TEST(FitsWrite, ReplacesALongerFileCompletely)
{
    FakeUi ui;
    TempDir dir;
    writeFile(dir.file("old.fit"), std::string(100000, 'x'));
    bmp image(ui);
    const std::vector<std::uint8_t> gray(4, 9);
    image.createFromGray(gray.data(), 2, 2);
    ASSERT_EQ(image.writeFits(dir.file("old.fit")), 1);
    const std::string file = readFile(dir.file("old.fit"));
    EXPECT_EQ(file.size(), 5760u);
    EXPECT_EQ(file.substr(2884), std::string(2876, '\0'));
}

TEST(FitsCards, IntegerCardsEndInColumnThirty)
{
    const struct {
        const char* keyword;
        std::int64_t value;
        const char* text;
    } cases[] = {
        {"NAXIS1", 192, "NAXIS1  =                  192"},
        {"NAXIS2", 165, "NAXIS2  =                  165"},
        {"BITPIX", 8, "BITPIX  =                    8"},
        {"NAXIS", 2, "NAXIS   =                    2"},
        {"DATAMAX", 255, "DATAMAX =                  255"},
        {"NAXIS1", 2147483647, "NAXIS1  =           2147483647"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fits::integerCard(c.keyword, c.value), c.text);
}

TEST(FitsCards, HeaderBlockHoldsTheNineCardsAndSpaces)
{
    const std::string block = fits::headerBlock(192, 165);
    ASSERT_EQ(block.size(), 2880u);
    for (std::size_t i = 0; i < 36; ++i) {
        const std::string expected = i < 9 ? card(writtenCards[i]) : std::string(80, ' ');
        EXPECT_EQ(block.substr(i * 80, 80), expected) << "card " << i + 1;
    }
}

TEST(FitsCards, ObservationKeywordsFollowTheNineCardsBeforeEnd)
{
    fits::Observation observation;
    observation.start = 1796558418;  // 2026-12-06 12:00:18 UTC
    observation.exposureSeconds = 2.5;
    const std::vector<std::string> plain = {
        "DATE-OBS= '2026-12-06T12:00:18' / UTC at the start of the exposure",
        "EXPTIME =                  2.5 / [s] exposure time",
        "IMAGETYP= 'Light Frame'",
        "INSTRUME= 'ST-4    '",
    };
    const auto cards = [](const std::vector<std::string>& texts) {
        std::vector<std::string> out;
        for (const std::string& text : texts)
            out.push_back(card(text));
        return out;
    };
    EXPECT_EQ(fits::observationCards(observation), cards(plain));

    observation.exposureSeconds = 0.01f;  // as the settings keep it
    observation.dark = true;
    observation.ra = "05:35:17";
    observation.dec = "-05:23:28";
    observation.object = "Bob's \x01nebula";
    std::vector<std::string> full = plain;
    full[1] = "EXPTIME =                 0.01 / [s] exposure time";
    full[2] = "IMAGETYP= 'Dark Frame'";
    full.insert(full.end(), {"OBJCTRA = '05:35:17'           / as the telescope reported it",
                             "OBJCTDEC= '-05:23:28'          / as the telescope reported it",
                             "OBJECT  = 'Bob''s ?nebula'"});
    EXPECT_EQ(fits::observationCards(observation), cards(full));
    observation.object = std::string(100, 'x');
    EXPECT_EQ(fits::observationCards(observation).back(), card("OBJECT  = '" + std::string(67, 'x') + "'"));

    const std::string block = fits::headerBlock(192, 165, cards(full));
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(block.substr(i * 80, 80), card(writtenCards[i])) << "card " << i + 1;
    for (std::size_t i = 0; i < full.size(); ++i)
        EXPECT_EQ(block.substr((8 + i) * 80, 80), card(full[i]));
    EXPECT_EQ(block.substr((8 + full.size()) * 80, 80), card("END"));
}

TEST(FitsCards, EndCard)
{
    const std::pair<std::string, bool> cases[] = {
        {card("END"), true},          {"END", true},
        {card("END     / x"), true},  {std::string("END\0\0\0\0\0", 8) + std::string(72, ' '), true},
        {card("ENDTIME = 5"), false}, {card("END-OBS = 'x'"), false},
        {card("end"), false},         {card(" END"), false},
        {card("EN"), false},
    };
    for (const auto& [text, isEnd] : cases)
        EXPECT_EQ(fits::isEndCard(text), isEnd) << text;
}

TEST(FitsCards, KeywordsCountOnlyInTheKeywordField)
{
    using Header = fits::Header;
    const struct {
        const char* what;
        std::vector<std::string> cards;
        Header expected;
    } cases[] = {
        {"the five", {"BITPIX  =                   16", "NAXIS1  =                  320", "NAXIS2  =                  240",
                      "BZERO   =              32768.0", "BSCALE  =                  2.5"},
         Header{16, 320, 240, 32768.0, 2.5}},
        {"nothing: the standard's scaling", {"SIMPLE  =                    T"}, Header{}},
        {"a comment after the value stops the number", {"NAXIS1  =                  320 / width in pixels"},
         Header{{}, 320, {}, 0.0, 1.0}},
        {"commentary cards that mention keywords",
         {"NAXIS1  =                  320", "COMMENT NAXIS1 = 10 is what the camera sent", "HISTORY BZERO   = 5",
          "HISTORY   NAXIS2 =     7", "NAXIS2  =                   20"},
         Header{{}, 320, 20, 0.0, 1.0}},
        {"a later card wins", {"NAXIS1  =                    5", "NAXIS1  =                    6"},
         Header{{}, 6, {}, 0.0, 1.0}},
        {"longer keywords are others", {"NAXIS1A =                    5", "BZEROS  =                  3.0", "BITPIX2 =   8"},
         Header{}},
        {"case matters", {"naxis1  =                    5"}, Header{}},
        {"NAXIS is not NAXIS1", {"NAXIS   =                    3"}, Header{}},
        {"missing values read as 0", {"BITPIX  =", "BSCALE  =  / none"}, Header{0, {}, {}, 0.0, 0.0}},
    };
    for (const auto& c : cases) {
        std::string cards;
        for (const std::string& text : c.cards)
            cards += card(text);
        EXPECT_EQ(fits::parseHeader(cards), c.expected) << c.what;
    }
}

TEST(FitsCards, Numbers)
{
    const std::pair<const char*, std::int64_t> integers[] = {
        {"                 192", 192}, {"320 / comment", 320}, {"", 0},        {"abc", 0},
        {"  -5", -5},                  {"+7", 7},              {"\t 12x", 12}, {"- 3", 0},
        {"99999999999999999999999", std::numeric_limits<std::int64_t>::max()},
        {"-99999999999999999999999", -std::numeric_limits<std::int64_t>::max()},
    };
    for (const auto& [text, value] : integers)
        EXPECT_EQ(fits::parseInteger(text), value) << text;

    const std::pair<const char*, double> reals[] = {
        {"              32768.0", 32768.0}, {"1.5E3", 1500.0}, {"  -2.5 / x", -2.5}, {"1.0D3", 1.0},
        {"", 0.0},                          {"none", 0.0},     {"+.5", 0.5},         {"1e400", HUGE_VAL},
    };
    for (const auto& [text, value] : reals)
        EXPECT_EQ(fits::parseReal(text), value) << text;
}

TEST(FitsCards, BytesPerPixel)
{
    const std::pair<std::int64_t, int> cases[] = {{8, 1},  {16, 2}, {32, 4}, {64, 8}, {-32, 4},
                                                  {-64, 8}, {0, 0},  {12, 0}, {-8, 0}, {-16, 0}};
    for (const auto& [bitpix, bytes] : cases)
        EXPECT_EQ(fits::bytesPerPixel(bitpix), bytes) << bitpix;
}

TEST(FitsGray, TheTwoGammaSteps)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double p;
        double max;
        double gamma1;
        double gamma2;
        int gray;
    } cases[] = {
        {65535, 65535, 1, 1, 255},  {65535, 65535, 2.2, 0.4, 255}, {0, 65535, 1, 1, 0},      {0, 65535, 0.3, 3, 0},
        {25, 100, 1, 1, 63},        {25, 100, 2, 1, 127},          {50, 100, 1, 1, 127},     {25, 100, 1, 2, 15},
        // The way back through the logarithm comes out one lower here.
        {15.5, 255, 1, 1, 14},      {2.5, 255, 1, 1, 1},           {250, 1000, 2, 0.5, 179}, {1, 1000, 2, 0.5, 45},
        {100, 1000, 2.2, 1, 89},    {0.1, 100, 1, 1, 0},
        // Non-finite steps.
        {10, 0, 1, 1, 0},           {nan, 100, 1, 1, 0},           {50, 100, nan, 1, 0},     {50, 100, 1, nan, 0},
        {0.1, 100, 1, 0, 0},        {50, 100, 1, 0, 255},          {100, 100, 0, 1, 255},    {50, 100, 0, 1, 0},
        // Below the zero point is black, whatever the gammas.
        {-10, 100, 1, 1, 0},        {-50, 100, 0.5, 1, 0},         {-100, 100, 0.25, 1, 0},  {-100, 100, 0, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fits::grayLevel(c.p, c.max, c.gamma1, c.gamma2), c.gray)
            << c.p << " of " << c.max << " gammas " << c.gamma1 << ", " << c.gamma2;
        EXPECT_EQ(fits::GrayScale(c.max, c.gamma1, c.gamma2)(c.p), c.gray) << c.p << " of " << c.max;
    }
}

struct Scaling {
    double bzero;
    double bscale;
};

const std::pair<double, double> gammaPairs[] = {{1.0, 1.0}, {2.0, 1.0}, {1.0, 2.0}, {0.5, 0.5}, {2.2, 0.45},
                                                {0.0, 1.0}, {1.0, 0.0}, {100.0, 100.0}, {0.01, 3.0}};
const Scaling scalings[] = {{32768.0, 1.0}, {0.0, 1.0}, {-1000.0, 0.5}, {0.0, -1.0}, {100.0, 1e-3}};

double largestPhysical(const Scaling& s)
{
    return std::max({0.0, -32768 * s.bscale + s.bzero, 32767 * s.bscale + s.bzero});
}

TEST(FitsGray, TableEqualsTheFormulaForEveryRawValue)
{
    fits::Raw16Table table;
    for (const auto& [gamma1, gamma2] : gammaPairs) {
        for (const Scaling& s : scalings) {
            const double max = largestPhysical(s);
            fits::fillRaw16Table(table, s.bzero, s.bscale, max, gamma1, gamma2);
            int differences = 0;
            for (std::uint32_t bits = 0; bits < 65536; ++bits) {
                const auto raw = static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
                const std::uint8_t direct = fits::grayLevel(raw * s.bscale + s.bzero, max, gamma1, gamma2);
                if (table[bits] != direct && ++differences <= 3)
                    ADD_FAILURE() << "raw " << raw << " gammas " << gamma1 << ", " << gamma2 << " bzero " << s.bzero
                                  << " bscale " << s.bscale << ": table " << int(table[bits]) << ", formula "
                                  << int(direct);
            }
        }
    }
}

TEST(FitsRead, WrittenImageReadsBackTheSameWayUp)
{
    const std::pair<int, int> sizes[] = {{192, 165}, {100, 100}, {5, 3}, {1, 1}, {1, 7}, {2881, 2}};
    for (const auto& [width, height] : sizes) {
        FakeUi ui;
        TempDir dir;
        bmp written(ui);
        const auto gray = grayRamp(width, height);
        written.createFromGray(gray.data(), width, height);
        ASSERT_EQ(written.writeFits(dir.file("r.fit")), 1);
        bmp read(ui);
        ASSERT_EQ(read.readFits(dir.file("r.fit"), 3.0, 0.2), 1);
        ASSERT_EQ(read.getWidth(), width);
        ASSERT_EQ(read.getHeight(), height);
        EXPECT_EQ(std::memcmp(read.getPixels(), written.getPixels(), written.record()->imageSize), 0)
            << width << "x" << height;
        EXPECT_EQ(read.record()->colorCount, 0u);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(FitsRead, RefusedFilesLeaveThePreviousImage)
{
    const std::string oneBlockWithoutEnd = headerOf({"SIMPLE  =                    T", "BITPIX  =                    8"});
    const struct {
        const char* what;
        std::string content;  // "<none>": no file
        std::string text;     // "%p" stands for the path
        const char* caption;
    } cases[] = {
        {"missing", "<none>", "Cannot open file %p:\nNo such file or directory", "File Open Error"},
        {"directory", "<directory>", "Cannot open file %p:\nIs a directory", "File Open Error"},
        {"empty", "", "%p has zero length.   \nNo image will be displayed.", "Tarvi"},
        {"no END in a whole block", oneBlockWithoutEnd + std::string(100, '\0'),
         "%p has no END card.   \nNo image will be displayed.", "Tarvi"},
        {"no END before the file ends", card("SIMPLE  =                    T"),
         "%p has no END card.   \nNo image will be displayed.", "Tarvi"},
        {"ENDTIME is no END", headerOf({"BITPIX  =                    8", "NAXIS1  = 1", "NAXIS2  = 1", "ENDTIME = 3"}),
         "%p has no END card.   \nNo image will be displayed.", "Tarvi"},
        {"BITPIX 12", imageCards(12, 2, 2) + std::string(2880, '\0'),
         "Sorry, we handle fits images with BITPIX 8, 16, 32, 64, -32 or -64 only.", "Wrong fits type"},
        {"no BITPIX", headerOf({"NAXIS1  = 2", "NAXIS2  = 2", "END"}) + std::string(2880, '\0'),
         "Sorry, we handle fits images with BITPIX 8, 16, 32, 64, -32 or -64 only.", "Wrong fits type"},
        {"NAXIS1 0", imageCards(8, 0, 2), "Sorry, we handle fits images with NAXIS1 and NAXIS2 of 1 or more only.",
         "Wrong fits type"},
        {"negative NAXIS2", imageCards(8, 4, -2),
         "Sorry, we handle fits images with NAXIS1 and NAXIS2 of 1 or more only.", "Wrong fits type"},
        {"no NAXIS2", headerOf({"BITPIX  = 8", "NAXIS1  = 4", "END"}),
         "Sorry, we handle fits images with NAXIS1 and NAXIS2 of 1 or more only.", "Wrong fits type"},
        {"pixel array over 1 GiB", imageCards(8, 20000, 20000), "Sorry, we handle fits images of up to 1 GB only.",
         "Wrong fits type"},
        {"data over 1 GiB", imageCards(-64, 16384, 9000), "Sorry, we handle fits images of up to 1 GB only.",
         "Wrong fits type"},
        {"absurd sizes", imageCards(16, 2147483647, 2147483647), "Sorry, we handle fits images of up to 1 GB only.",
         "Wrong fits type"},
        {"sizes past 64 bits", headerOf({"BITPIX  = 8", "NAXIS1  = 99999999999999999999", "NAXIS2  = 9", "END"}),
         "Sorry, we handle fits images of up to 1 GB only.", "Wrong fits type"},
    };
    for (const auto& c : cases) {
        FakeUi ui;
        TempDir dir;
        const std::string path = dir.file("p.fit");
        if (c.content == "<directory>")
            std::filesystem::create_directory(path);
        else if (c.content != "<none>")
            writeFile(path, c.content);
        bmp image(ui);
        const std::vector<std::uint8_t> gray = {1, 2, 3, 4, 5, 6};
        image.createFromGray(gray.data(), 3, 2);
        const bmpData* before = image.record();
        EXPECT_EQ(image.readFits(path, 1.0, 1.0), 0) << c.what;
        EXPECT_EQ(image.record(), before) << c.what;
        EXPECT_EQ(image.getWidth(), 3) << c.what;
        EXPECT_EQ(image.getHeight(), 2) << c.what;
        std::string text = c.text;
        if (const auto at = text.find("%p"); at != std::string::npos)
            text.replace(at, 2, path);
        SCOPED_TRACE(c.what);
        expectOneBox(ui, text, c.caption);
    }
}

struct ReadCase {
    const char* what;
    std::string file;
    int width;
    int height;
    std::vector<int> grayTopDown;
    double gamma1 = 1.0;
    double gamma2 = 1.0;
};

void expectReads(const ReadCase& c)
{
    FakeUi ui;
    TempDir dir;
    writeFile(dir.file("in.fit"), c.file);
    bmp image(ui);
    ASSERT_EQ(image.readFits(dir.file("in.fit"), c.gamma1, c.gamma2), 1) << c.what;
    EXPECT_TRUE(ui.boxes.empty()) << c.what;
    ASSERT_EQ(image.getWidth(), c.width) << c.what;
    ASSERT_EQ(image.getHeight(), c.height) << c.what;
    EXPECT_EQ(grayTopDown(image), c.grayTopDown) << c.what;
}

TEST(FitsRead, HeaderAndLayoutCases)
{
    const std::string sixBytes("\x01\x02\x03\x04\x05\x06", 6);
    std::vector<std::string> manyCards;
    for (int i = 0; i < 40; ++i)
        manyCards.push_back("COMMENT filler " + std::to_string(i));
    const ReadCase cases[] = {
        {"8-bit bytes are shown as they stand", imageCards(8, 3, 2) + std::string("\x00\x01\x80\xff\x7f\x10", 6), 3, 2,
         {0, 1, 128, 255, 127, 16}},
        {"8-bit ignores BZERO and BSCALE",
         imageCards(8, 2, 1, {"BZERO   =               -128.0", "BSCALE  =                  2.0"}) + "\x05\xfa", 2, 1,
         {5, 250}},
        {"END in the second block: data from 5760", imageCards(8, 3, 2, manyCards) + sixBytes, 3, 2,
         {1, 2, 3, 4, 5, 6}},
        {"NAXIS1 with a comment", headerOf({"BITPIX  = 8", "NAXIS1  =                    3 / width", "NAXIS2  = 2", "END"}) + sixBytes,
         3, 2, {1, 2, 3, 4, 5, 6}},
        {"a COMMENT naming NAXIS1 changes nothing",
         imageCards(8, 3, 2, {"COMMENT NAXIS1 = 2 was the old width", "HISTORY NAXIS2 = 3"}) + sixBytes, 3, 2,
         {1, 2, 3, 4, 5, 6}},
        {"three axes: the first plane", imageCards(8, 3, 1, {"NAXIS3  =                    2"}) + sixBytes, 3, 1,
         {1, 2, 3}},
        {"cards after END in its block still count", headerOf({"BITPIX  = 8", "NAXIS1  = 2", "END", "NAXIS2  = 1"}) + "\x04\x05",
         2, 1, {4, 5}},
    };
    for (const ReadCase& c : cases)
        expectReads(c);
}

TEST(FitsRead, ShortDataIsShownAsFarAsItGoesAndSaidToBeTruncated)
{
    const struct {
        ReadCase read;
        int got;
        int promised;
    } cases[] = {
        {{"short data: the rest is black", imageCards(8, 3, 2) + std::string("\x09\x08\x07\x06", 4), 3, 2,
          {9, 8, 7, 6, 0, 0}}, 4, 6},
        {{"no data at all", imageCards(8, 2, 2), 2, 2, {0, 0, 0, 0}}, 0, 4},
        {{"header block cut short after END", card("BITPIX  = 8") + card("NAXIS1  = 2") + card("NAXIS2  = 1") + card("END"),
          2, 1, {0, 0}}, 0, 2},
        {{"16-bit: the maximum comes from what is there", imageCards(16, 2, 2) + be16(100) + be16(50) + be16(25) + "\x7f",
          2, 2, {255, 127, 63, 0}}, 7, 8},
        {{"16-bit: an odd byte only", imageCards(16, 1, 1) + "\x7f", 1, 1, {0}}, 1, 2},
        {{"BITPIX -64", imageCards(-64, 2, 1) + beDouble(7) + "\x40\x1c", 2, 1, {255, 0}}, 10, 16},
    };
    for (const auto& c : cases) {
        FakeUi ui;
        TempDir dir;
        writeFile(dir.file("in.fit"), c.read.file);
        bmp image(ui);
        ASSERT_EQ(image.readFits(dir.file("in.fit"), 1.0, 1.0), 1) << c.read.what;
        EXPECT_EQ(grayTopDown(image), c.read.grayTopDown) << c.read.what;
        SCOPED_TRACE(c.read.what);
        expectOneBox(ui, dir.file("in.fit") + " is truncated: it holds " + std::to_string(c.got) + " of the " +
                             std::to_string(c.promised) +
                             " bytes of pixel data its header promises.\nThe rest of the picture is shown black.",
                     "Tarvi");
    }
}

std::string data16(const std::vector<std::int16_t>& values)
{
    std::string out;
    for (std::int16_t value : values)
        out += be16(value);
    return out;
}

TEST(FitsRead, SixteenBitCases)
{
    const ReadCase cases[] = {
        {"BZERO 32768: physical 0 .. 65535", imageCards(16, 4, 1, {"BZERO   =                32768", "BSCALE  = 1"}) +
                                                 data16({-32768, 32767, 0, -16384}),
         4, 1, {0, 255, 127, 63}},
        {"BZERO 32768 with gammas 2.2 and 0.4", imageCards(16, 2, 1, {"BZERO   =                32768"}) +
                                                    data16({-32768, 32767}),
         2, 1, {0, 255}, 2.2, 0.4},
        {"BZERO 32768 with gammas 0.3 and 5", imageCards(16, 2, 1, {"BZERO   =                32768"}) +
                                                  data16({32767, -32768}),
         2, 1, {255, 0}, 0.3, 5.0},
        {"all negative with BZERO 0", imageCards(16, 3, 1) + data16({-1, -32768, -500}), 3, 1, {0, 0, 0}, 0.5, 2.0},
        {"no BZERO or BSCALE: the raw values", imageCards(16, 4, 1) + data16({1000, 500, 250, -20}), 4, 1,
         {255, 127, 63, 0}},
        {"gamma1 2.0 lifts a quarter of the maximum to 127", imageCards(16, 2, 1) + data16({400, 100}), 2, 1,
         {255, 127}, 2.0, 1.0},
        {"BSCALE -1: the lowest raw value is the brightest", imageCards(16, 3, 1, {"BSCALE  = -1"}) +
                                                               data16({-100, 100, -50}),
         3, 1, {255, 0, 127}},
        {"BSCALE and BZERO", imageCards(16, 3, 1, {"BSCALE  =                  0.5", "BZERO   =                  -10"}) +
                                 data16({20, 520, 2020}),
         3, 1, {0, 63, 255}},
        {"a scale that overflows: those pixels are black",
         imageCards(16, 3, 1, {"BSCALE  =               1E+308"}) + data16({1, 2, 0}), 3, 1, {255, 0, 0}},
        {"an infinite scale: no finite value, all black", imageCards(16, 2, 1, {"BSCALE  = 1e999"}) + data16({1, 2}),
         2, 1, {0, 0}},
        {"a NaN zero point: all black", imageCards(16, 2, 1, {"BZERO   = nan"}) + data16({1, 2}), 2, 1, {0, 0}},
    };
    for (const ReadCase& c : cases)
        expectReads(c);
}

TEST(FitsRead, SixteenBitPathEqualsTheFormulaPixelForPixel)
{
    // Every raw value once, in a shuffled order, over 256 rows.
    std::vector<std::int16_t> values(65536);
    for (std::uint32_t i = 0; i < 65536; ++i)
        values[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(i * 40503u + 17u));
    for (const auto& [gamma1, gamma2] : {std::pair{1.0, 1.0}, std::pair{2.2, 0.45}, std::pair{0.5, 3.0}}) {
        for (const Scaling& s : {Scaling{32768.0, 1.0}, Scaling{-2000.0, 0.25}, Scaling{0.0, -2.0}}) {
            ReadCase c{"every raw value", imageCards(16, 256, 256, {"BZERO   = " + std::to_string(s.bzero),
                                                                   "BSCALE  = " + std::to_string(s.bscale)}) +
                                              data16(values),
                       256, 256, {}, gamma1, gamma2};
            const double max = largestPhysical(s);
            for (std::int16_t raw : values)
                c.grayTopDown.push_back(fits::grayLevel(raw * s.bscale + s.bzero, max, gamma1, gamma2));
            SCOPED_TRACE(std::to_string(gamma1) + " " + std::to_string(s.bzero));
            expectReads(c);
        }
    }
}

TEST(FitsRead, WiderDataIsReadAsWhatItIs)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const ReadCase cases[] = {
        {"BITPIX 32 with BSCALE 2 and BZERO 100",
         imageCards(32, 5, 1, {"BSCALE  = 2", "BZERO   = 100"}) + be32(-50) + be32(75) + be32(200) + be32(450) +
             be32(-1000000),
         5, 1, {0, 63, 127, 255, 0}},
        {"BITPIX 32 beyond 16 bits", imageCards(32, 3, 1) + be32(4000000) + be32(2000000) + be32(1000000), 3, 1,
         {255, 127, 63}},
        {"BITPIX 64", imageCards(64, 5, 1, {"BSCALE  = 1e-9"}) + be64(0) + be64(250000000000) + be64(500000000000) +
                          be64(1000000000000) + be64(-5),
         5, 1, {0, 63, 127, 255, 0}},
        {"BITPIX -32 with NaN and infinities",
         imageCards(-32, 7, 1) + beFloat(0) + beFloat(250) + beFloat(500) + beFloat(1000) + beFloat(static_cast<float>(nan)) +
             beFloat(-HUGE_VALF) + beFloat(HUGE_VALF),
         7, 1, {0, 63, 127, 255, 0, 0, 0}},
        {"BITPIX -32 small values", imageCards(-32, 3, 1) + beFloat(0.004f) + beFloat(0.002f) + beFloat(0.001f), 3, 1,
         {255, 127, 63}},
        {"BITPIX -64 with BSCALE and BZERO",
         imageCards(-64, 4, 1, {"BZERO   =                 10.0", "BSCALE  =                  0.5"}) + beDouble(-20) +
             beDouble(480) + beDouble(980) + beDouble(1980),
         4, 1, {0, 63, 127, 255}},
        {"BITPIX -64 gammas", imageCards(-64, 3, 1) + beDouble(1000) + beDouble(250) + beDouble(1), 3, 1,
         {255, 179, 45}, 2.0, 0.5},
    };
    for (const ReadCase& c : cases)
        expectReads(c);
}

TEST(FitsRead, ReadingReplacesTheImage)
{
    FakeUi ui;
    TempDir dir;
    writeFile(dir.file("p.fit"), imageCards(8, 2, 1) + "\x01\x02");
    bmp image(ui);
    const auto gray = grayRamp(192, 165);
    image.createFromGray(gray.data(), 192, 165);
    ASSERT_EQ(image.readFits(dir.file("p.fit"), 1.0, 1.0), 1);
    EXPECT_EQ(image.getWidth(), 2);
    EXPECT_EQ(image.getHeight(), 1);
    EXPECT_EQ(image.record()->imageSize, 8u);
    EXPECT_EQ(grayTopDown(image), (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace tarvi
