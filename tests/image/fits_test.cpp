#include "image/fits.h"

#include "image/bmp.h"
#include "image/image_files.h"

namespace tarvi {
namespace {

using namespace test;

const double nan = std::numeric_limits<double>::quiet_NaN();

// Big-endian integers of `bytes` bytes each.
std::string be(std::initializer_list<std::int64_t> values, int bytes)
{
    std::string out;
    for (std::int64_t value : values)
        out += bytesOf(static_cast<std::uint64_t>(value), bytes, true);
    return out;
}

template <class F>
std::string beReal(std::initializer_list<F> values)
{
    std::string out;
    for (F value : values)
        out += bytesOf(std::bit_cast<std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>>(value), sizeof(F), true);
    return out;
}

// The cards our writer puts before any others; integers right-aligned to column 30.
std::vector<std::string> ourCards(int width, int height)
{
    const auto fixed = [](const char* keyword, int value) {
        const std::string digits = std::to_string(value);
        return keyword + std::string(21 - digits.size(), ' ') + digits;
    };
    return {"SIMPLE  =                    T", "BITPIX  =                    8", "NAXIS   =                    2",
            fixed("NAXIS1  =", width),       fixed("NAXIS2  =", height),       "DATAMIN =                    0",
            "DATAMAX =                  255", "HISTORY Created by Tarvi."};
}

std::string imageCards(int bitpix, long width, long height, const std::vector<std::string>& more = {})
{
    std::vector<std::string> texts = {"SIMPLE  = T", "BITPIX  = " + std::to_string(bitpix), "NAXIS   = 2",
                                      "NAXIS1  = " + std::to_string(width), "NAXIS2  = " + std::to_string(height)};
    texts.insert(texts.end(), more.begin(), more.end());
    texts.push_back("END");
    return fitsHeader(texts);
}

TEST(FitsWrite, RedBytesTopRowFirstAfterTheCardsPaddedToWholeBlocksAndReadBackAsTheyStand)
{
    for (const auto& [width, height] : {std::pair{192, 165}, {1, 1}, {2880, 1}, {2881, 1}, {5, 3}}) {
        SCOPED_TRACE(width);
        FakeUi ui;
        TempDir dir;
        bmp image(ui);
        const auto red = ramp(static_cast<std::size_t>(width * height), 13);
        image.createFromGray(red.data(), width, height);
        for (int i = 0; i < width * height; ++i) {  // blue and green are not written
            std::uint8_t* pixel = image.getPixels() + i / width * image.getRowStride() + 3 * (i % width);
            pixel[0] = 200, pixel[1] = 100;
        }
        writeFile(dir.file("p.fit"), std::string(100000, 'x'));  // replaced whole
        ASSERT_EQ(image.writeFits(dir.file("p.fit")), 1);
        std::vector<std::string> cards = ourCards(width, height);
        cards.push_back("END");
        std::string expected = fitsHeader(cards);
        for (int row = height - 1; row >= 0; --row)
            expected.append(reinterpret_cast<const char*>(red.data()) + row * width, static_cast<std::size_t>(width));
        expected.resize((expected.size() + 2879) / 2880 * 2880, '\0');
        EXPECT_EQ(readFile(dir.file("p.fit")), expected);
        bmp back(ui);
        ASSERT_EQ(back.readFits(dir.file("p.fit"), 3.0, 0.2), 1);
        const auto* data = reinterpret_cast<const std::uint8_t*>(expected.data()) + 2880;
        EXPECT_EQ(redTopDown(back), std::vector<int>(data, data + width * height));
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(FitsCards, ObservationKeywordsGoBetweenOurCardsAndEndAndAFullHeaderStaysOneBlock)
{
    fits::Observation observation;
    observation.start = 1796558418;  // 2026-12-06 12:00:18 UTC
    observation.exposureSeconds = 2.5;
    std::vector<std::string> cards = {card("DATE-OBS= '2026-12-06T12:00:18' / UTC at the start of the exposure"),
                                      card("EXPTIME =                  2.5 / [s] exposure time"),
                                      card("IMAGETYP= 'Light Frame'"), card("INSTRUME= 'ST-4    '")};
    EXPECT_EQ(fits::observationCards(observation), cards);
    observation.exposureSeconds = 0.01f;  // as the settings keep it
    observation.dark = true;
    observation.ra = "05:35:17", observation.dec = "-05:23:28", observation.object = "Bob's \x01nebula";
    cards[1] = card("EXPTIME =                 0.01 / [s] exposure time");
    cards[2] = card("IMAGETYP= 'Dark Frame'");
    cards.insert(cards.end(), {card("OBJCTRA = '05:35:17'           / as the telescope reported it"),
                               card("OBJCTDEC= '-05:23:28'          / as the telescope reported it"),
                               card("OBJECT  = 'Bob''s ?nebula'")});
    EXPECT_EQ(fits::observationCards(observation), cards);
    std::vector<std::string> all = ourCards(192, 165);
    all.insert(all.end(), cards.begin(), cards.end());
    all.push_back("END");
    EXPECT_EQ(fits::headerBlock(192, 165, cards), fitsHeader(all));
    // Long values are cut, never inside a doubled quote.
    observation.object = std::string(100, 'x');
    EXPECT_EQ(fits::observationCards(observation).back(), card("OBJECT  = '" + std::string(67, 'x') + "'"));
    observation.object = std::string(40, '\'');
    EXPECT_EQ(fits::observationCards(observation).back(), card("OBJECT  = '" + std::string(66, '\'') + "'"));
    // Past 27 more cards the rest are left out, END keeps the last place.
    std::vector<std::string> many;
    for (int i = 0; i < 30; ++i)
        many.push_back(card("COMMENT " + std::to_string(i)));
    all = ourCards(1, 1);
    all.insert(all.end(), many.begin(), many.begin() + 27);
    all.push_back("END");
    EXPECT_EQ(fits::headerBlock(1, 1, many), fitsHeader(all));
}

TEST(FitsCards, EndAndKeywordsCountOnlyInTheKeywordFieldAndTheLastOneWins)
{
    const std::pair<std::string, bool> ends[] = {
        {card("END"), true}, {"END", true}, {card("END     / x"), true}, {std::string("END\0\0\0\0\0=", 9), true},
        {card("ENDTIME = 5"), false}, {card("end"), false}, {card(" END"), false}, {card("END    X"), false}};
    for (const auto& [text, isEnd] : ends)
        EXPECT_EQ(fits::isEndCard(text), isEnd) << text;
    EXPECT_EQ(fits::parseHeader(card("NAXIS1  = 320 / width") + card("COMMENT NAXIS1 = 10") + card("NAXIS1A = 5") +
                                card("naxis2  = 5") + card("NAXIS2  = 7") + card("HISTORY   NAXIS2 = 9") +
                                card("BITPIX  =") + card("BZEROS  = 3") + card("BZERO   = 1.5E3") + "BSCALE  = -2.5"),
              (fits::Header{0, 320, 7, 1500.0, -2.5}));  // the last card is short
}

TEST(FitsGray, TheTwoGammaStepsAndTheirLookUpAgree)
{
    const struct {
        double p, max, gamma1, gamma2;
        int gray;
    } cases[] = {
        {65535, 65535, 1, 1, 255}, {65535, 65535, 2.2, 0.4, 255}, {0, 65535, 1, 1, 0}, {0, 65535, 0.3, 3, 0},
        {25, 100, 1, 1, 63}, {25, 100, 2, 1, 127}, {50, 100, 1, 1, 127}, {25, 100, 1, 2, 15},
        // The way back through the logarithm comes out one lower here.
        {15.5, 255, 1, 1, 14}, {2.5, 255, 1, 1, 1}, {250, 1000, 2, 0.5, 179}, {1, 1000, 2, 0.5, 45},
        {100, 1000, 2.2, 1, 89}, {0.1, 100, 1, 1, 0}, {10, 0, 1, 1, 0}, {nan, 100, 1, 1, 0}, {50, 100, nan, 1, 0},
        {50, 100, 1, nan, 0}, {0.1, 100, 1, 0, 0}, {50, 100, 1, 0, 255}, {100, 100, 0, 1, 255}, {50, 100, 0, 1, 0},
        {200, 100, 1, 1, 255}, {-10, 100, 1, 1, 0}, {-50, 100, 0.5, 1, 0}, {-100, 100, 0.25, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fits::grayLevel(c.p, c.max, c.gamma1, c.gamma2), c.gray) << c.p << " of " << c.max << " " << c.gamma1;
        EXPECT_EQ(fits::GrayScale(c.max, c.gamma1, c.gamma2)(c.p), c.gray) << c.p << " of " << c.max << " " << c.gamma1;
    }
}

TEST(FitsRead, RefusedFilesLeaveThePreviousImage)
{
    const std::string noEnd = "%p has no END card.   \nNo image will be displayed.";
    const std::string bitpix = "Sorry, we handle fits images with BITPIX 8, 16, 32, 64, -32 or -64 only.";
    const std::string axes = "Sorry, we handle fits images with NAXIS1 and NAXIS2 of 1 or more only.";
    const std::string gib = "Sorry, we handle fits images of up to 1 GB only.";
    const struct {
        std::string content, text, caption = "Wrong fits type";
    } cases[] = {
        {"<none>", "Cannot open file %p:\nNo such file or directory", "File Open Error"},
        {"<directory>", "Cannot open file %p:\nIs a directory", "File Open Error"},
        {"", "%p has zero length.   \nNo image will be displayed.", "Tarvi"}, {card("SIMPLE  = T"), noEnd, "Tarvi"},
        {fitsHeader({"SIMPLE  = T", "BITPIX  = 8"}) + std::string(100, '\0'), noEnd, "Tarvi"},
        {fitsHeader({"BITPIX  = 8", "NAXIS1  = 1", "NAXIS2  = 1", "ENDTIME = 3"}), noEnd, "Tarvi"},
        {imageCards(12, 2, 2) + std::string(2880, '\0'), bitpix}, {imageCards(-16, 2, 2), bitpix},
        {fitsHeader({"NAXIS1  = 2", "NAXIS2  = 2", "END"}), bitpix}, {imageCards(8, 0, 2), axes},
        {imageCards(8, 4, -2), axes}, {imageCards(8, 1, 0), axes}, {fitsHeader({"BITPIX  = 8", "NAXIS1  = 4", "END"}), axes},
        {fitsHeader({"BITPIX  = 8", "NAXIS2  = 4", "END"}), axes}, {imageCards(8, 20000, 20000), gib},
        {imageCards(8, 16384, 21846), gib}, {imageCards(-64, 16384, 8193), gib}, {imageCards(16, 2147483647, 2147483647), gib},
        {imageCards(8, 1073741825, 1), gib}, {imageCards(8, 1, 1073741825), gib},
        {fitsHeader({"BITPIX  = 8", "NAXIS1  = 99999999999999999999", "NAXIS2  = 9", "END"}), gib},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.content.size()));
        FakeUi ui;
        TempDir dir;
        const std::string path = dir.file("p.fit");
        place(path, c.content);
        bmp image(ui);
        const std::vector<std::uint8_t> gray = {1, 2, 3, 4, 5, 6};
        image.createFromGray(gray.data(), 3, 2);
        const bmpData* before = image.record();
        EXPECT_EQ(image.readFits(path, 1.0, 1.0), 0);
        EXPECT_TRUE(image.record() == before && image.getWidth() == 3 && image.getHeight() == 2);
        expectOneBox(ui, withPath(c.text, path), c.caption);
    }
}

struct ReadCase {
    std::string file;
    int width, height;
    std::vector<int> grayTopDown;
    double gamma1 = 1.0, gamma2 = 1.0;
    int got = -1, promised = 0;  // a truncated file's pixel bytes
};

void expectReads(const ReadCase& c)
{
    FakeUi ui;
    TempDir dir;
    writeFile(dir.file("in.fit"), c.file);
    bmp image(ui);
    const auto before = ramp(192 * 165);
    image.createFromGray(before.data(), 192, 165);
    ASSERT_EQ(image.readFits(dir.file("in.fit"), c.gamma1, c.gamma2), 1);
    ASSERT_TRUE(image.getWidth() == c.width && image.getHeight() == c.height);
    EXPECT_EQ(image.record()->imageSize, static_cast<std::uint32_t>(image.getRowStride() * c.height));
    EXPECT_EQ(redTopDown(image), c.grayTopDown);
    if (c.got < 0) {
        EXPECT_TRUE(ui.boxes.empty());
        return;
    }
    expectOneBox(ui, dir.file("in.fit") + " is truncated: it holds " + std::to_string(c.got) + " of the " +
                         std::to_string(c.promised) +
                         " bytes of pixel data its header promises.\nThe rest of the picture is shown black.", "Tarvi");
}

TEST(FitsRead, EveryDataTypeItsScalingAndItsGammas)
{
    const std::string six("\x01\x02\x03\x04\x05\x06", 6);
    std::vector<std::string> comments = {"NAXIS1  = 3", "NAXIS1A = 9"};  // the last NAXIS1 counts, NAXIS1A is another
    for (int i = 0; i < 40; ++i)
        comments.push_back("COMMENT NAXIS1 = 2 filler " + std::to_string(i));
    const ReadCase cases[] = {
        {imageCards(8, 3, 2) + std::string("\x00\x01\x80\xff\x7f\x10", 6), 3, 2, {0, 1, 128, 255, 127, 16}},
        {imageCards(8, 2, 1, {"BZERO   = -128.0", "BSCALE  = 2.0"}) + "\x05\xfa", 2, 1, {5, 250}, 2.0, 0.5},
        {imageCards(8, 5, 2, comments) + six, 3, 2, {1, 2, 3, 4, 5, 6}},  // END in the second block
        {imageCards(8, 3, 1, {"NAXIS3  =                    2"}) + six, 3, 1, {1, 2, 3}},
        {fitsHeader({"BITPIX  = 8", "NAXIS1  = 2", "END", "NAXIS2  = 1"}) + "\x04\x05", 2, 1, {4, 5}},
        {imageCards(8, 3, 2) + "\x09\x08\x07\x06", 3, 2, {9, 8, 7, 6, 0, 0}, 1, 1, 4, 6},
        {card("BITPIX  = 8") + card("NAXIS1  = 2") + card("NAXIS2  = 1") + card("END"), 2, 1, {0, 0}, 1, 1, 0, 2},
        {imageCards(16, 4, 1, {"BZERO   = 32768", "BSCALE  = 1"}) + be({-32768, 32767, 0, -16384}, 2), 4, 1, {0, 255, 127, 63}},
        {imageCards(16, 3, 1) + be({-1, -32768, -500}, 2), 3, 1, {0, 0, 0}, 0.5, 2.0},
        {imageCards(16, 4, 1) + be({1000, 500, 250, -20}, 2), 4, 1, {255, 127, 63, 0}},
        {imageCards(16, 3, 1, {"BSCALE  = -1"}) + be({-100, 100, -50}, 2), 3, 1, {255, 0, 127}},
        {imageCards(16, 3, 1, {"BSCALE  = 0.5", "BZERO   = -10"}) + be({20, 520, 2020}, 2), 3, 1, {0, 63, 255}},
        {imageCards(16, 3, 1, {"BSCALE  = 1E+308"}) + be({1, 2, 0}, 2), 3, 1, {255, 0, 0}},
        {imageCards(16, 3, 1, {"BSCALE  = -1E+308"}) + be({-1, -2, 0}, 2), 3, 1, {255, 0, 0}},
        {imageCards(16, 2, 1, {"BSCALE  = 1e999"}) + be({1, 2}, 2), 2, 1, {0, 0}},
        {imageCards(16, 2, 1, {"BZERO   = nan"}) + be({1, 2}, 2), 2, 1, {0, 0}},
        {imageCards(16, 2, 2) + be({100, 50, 25}, 2) + "\x7f", 2, 2, {255, 127, 63, 0}, 1, 1, 7, 8},
        {imageCards(16, 1, 1) + "\x7f", 1, 1, {0}, 1, 1, 1, 2},
        {imageCards(32, 5, 1, {"BSCALE  = 2", "BZERO   = 100"}) + be({-50, 75, 200, 450, -1000000}, 4), 5, 1, {0, 63, 127, 255, 0}},
        {imageCards(64, 5, 1, {"BSCALE  = 1e-9"}) + be({0, 250000000000, 500000000000, 1000000000000, -5}, 8), 5, 1,
         {0, 63, 127, 255, 0}},
        {imageCards(-32, 7, 1) + beReal<float>({0, 250, 500, 1000, NAN, -HUGE_VALF, HUGE_VALF}), 7, 1, {0, 63, 127, 255, 0, 0, 0}},
        {imageCards(-64, 4, 1, {"BZERO   = 10.0", "BSCALE  = 0.5"}) + beReal<double>({-20, 480, 980, 1980}), 4, 1, {0, 63, 127, 255}},
        {imageCards(-64, 3, 1) + beReal<double>({1000, 250, 1}), 3, 1, {255, 179, 45}, 2.0, 0.5},
        {imageCards(-64, 2, 1) + beReal<double>({7}) + "\x40\x1c", 2, 1, {255, 0}, 1, 1, 10, 16},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.file.substr(0, 400));
        expectReads(c);
    }
}

TEST(FitsRead, SixteenBitPicturesEqualTheFormulaPixelForPixel)
{
    // Every raw value once, shuffled over 256 rows.
    std::vector<std::int16_t> values(65536);
    std::string raw;
    for (std::uint32_t i = 0; i < 65536; ++i)
        values[i] = static_cast<std::int16_t>(i * 40503u + 17u), raw += be({values[i]}, 2);
    for (const auto& [bzero, bscale, gamma1, gamma2] : {std::tuple{32768.0, 1.0, 2.2, 0.45},
                                                         {-2000.0, 0.25, 1.0, 1.0}, {0.0, -2.0, 0.5, 3.0}}) {
        SCOPED_TRACE(bzero);
        ReadCase c{imageCards(16, 256, 256, {"BZERO   = " + std::to_string(bzero), "BSCALE  = " + std::to_string(bscale)}) +
                       raw, 256, 256, {}, gamma1, gamma2};
        const double max = std::max(-32768 * bscale + bzero, 32767 * bscale + bzero);
        for (std::int16_t value : values)
            c.grayTopDown.push_back(fits::grayLevel(value * bscale + bzero, max, gamma1, gamma2));
        expectReads(c);
    }
}

}  // namespace
}  // namespace tarvi
