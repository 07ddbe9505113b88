#include "image/conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

constexpr std::size_t fitsBlock = 2880;

struct NameCase {
    const char* path;
    int outputType;
    const char* outputDir;
    const char* outputPath;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.path << " -> " << c.outputPath;
}

class OutputNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(OutputNames, AreTheLowerCasedNameWithTheNewEndingInTheOutputDirectory)
{
    const NameCase& c = GetParam();
    EXPECT_EQ(conversionOutputPath(c.outputDir, c.path, c.outputType), c.outputPath);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OutputNames,
    ::testing::Values(NameCase{"/data/M42.BMP", fitsOutput, "/out", "/out/m42.fit"},
                      NameCase{"/data/M42.BMP", bmpOutput, "/out", "/out/m42.bmp"},
                      NameCase{"/Night/Saturn.FTS", bmpOutput, "/o", "/o/saturn.bmp"},
                      NameCase{"/Night/Saturn.fit", fitsOutput, "/o", "/o/saturn.fit"},
                      NameCase{"m31.fit", fitsOutput, "/o", "/o/m31.fit"},
                      NameCase{"/A.B/C.D/Moon.Fit", fitsOutput, "out", "out/moon.fit"},
                      NameCase{"/d/night.one.bmp", fitsOutput, "/o", "/o/night.one.fit"},
                      NameCase{"/d/.bmp", fitsOutput, "/o", "/o/.fit"},
                      NameCase{"/d/\xC3\x84quator.BMP", fitsOutput, "/o", "/o/\xC3\x84quator.fit"},
                      NameCase{"/d/M42.BMP", fitsOutput, "/o/", "/o//m42.fit"}));

struct KindCase {
    const char* path;
    ConversionInput kind;
};

void PrintTo(const KindCase& c, std::ostream* out)
{
    *out << '"' << c.path << '"';
}

class InputKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(InputKinds, AreTheLastFourCharactersInAnyCase)
{
    EXPECT_EQ(conversionInputOf(GetParam().path), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InputKinds,
    ::testing::Values(KindCase{"/d/m42.bmp", ConversionInput::bmp}, KindCase{"/d/M42.BMP", ConversionInput::bmp},
                      KindCase{"/d/m42.Bmp", ConversionInput::bmp}, KindCase{"/d/m42.fit", ConversionInput::fits},
                      KindCase{"/d/M42.FIT", ConversionInput::fits}, KindCase{"/d/m42.fts", ConversionInput::fits},
                      KindCase{"/d/M42.FITS", ConversionInput::unknown},
                      KindCase{"/d/m42.jpg", ConversionInput::unknown},
                      KindCase{"/d/m42.bmp.gz", ConversionInput::unknown},
                      KindCase{"/d/m42bmp", ConversionInput::unknown}, KindCase{"bmp", ConversionInput::unknown},
                      KindCase{".fit", ConversionInput::fits}, KindCase{"", ConversionInput::unknown}));

// A 16-bit FITS file of one row of four pixels with the given raw values.
std::string sixteenBitFits(const std::vector<std::int16_t>& values)
{
    std::string header(fitsBlock, ' ');
    const std::vector<std::string> cards{
        "SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    2",
        "NAXIS1  =                    4", "NAXIS2  =                    1", "BZERO   =                    0",
        "BSCALE  =                    1", "END"};
    for (std::size_t i = 0; i < cards.size(); ++i)
        header.replace(i * 80, cards[i].size(), cards[i]);
    std::string data(fitsBlock, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto raw = static_cast<std::uint16_t>(values[i]);
        data[2 * i] = static_cast<char>(raw >> 8);
        data[2 * i + 1] = static_cast<char>(raw & 0xFF);
    }
    return header + data;
}

class ConversionRun : public ::testing::Test {
protected:
    test::FakeUi ui;
    test::TempDir dir;
    std::unique_ptr<bmp> conversionImage;

    void SetUp() override
    {
        fs::create_directories(dir.file("Data"));
        fs::create_directories(dir.file("out"));
    }

    std::string data(const std::string& name) const { return dir.file("Data/" + name); }
    std::string out(const std::string& name) const { return dir.file("out/" + name); }

    // An 8 x 4 picture whose pixels are blue 20, green 10 and red redLevel.
    void writeColourBmp(const std::string& path, std::uint8_t redLevel)
    {
        test::FakeUi quiet;
        bmp image(quiet);
        const std::vector<std::uint8_t> grey(8 * 4, 0);
        ASSERT_EQ(image.createFromGray(grey.data(), 8, 4), 1);
        for (int row = 0; row < 4; ++row) {
            std::uint8_t* pixel = image.getPixels() + row * image.getRowStride();
            for (int x = 0; x < 8; ++x, pixel += 3) {
                pixel[0] = 20;
                pixel[1] = 10;
                pixel[2] = redLevel;
            }
        }
        ASSERT_EQ(image.writeBmp(path), 1);
    }

    ConversionResult run(std::vector<std::string> files, int outputType = fitsOutput, std::string outputDir = {},
                         ConversionProgress* progress = nullptr)
    {
        ConversionJob job;
        job.outputDir = outputDir.empty() ? dir.file("out") : outputDir;
        job.outputType = outputType;
        job.fileList = std::move(files);
        return runConversion(job, conversionImage, ui, progress);
    }

    std::vector<std::string> outputs() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.file("out")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ConversionRun, BmpToFitsWritesTheLowerCasedNameInTheOutputDirectory)
{
    writeColourBmp(data("M42.BMP"), 200);
    const ConversionResult result = run({data("M42.BMP")});
    EXPECT_EQ(result.total, 1);
    EXPECT_EQ(result.converted, 1);
    EXPECT_TRUE(result.allConverted());
    EXPECT_EQ(outputs(), std::vector<std::string>{"m42.fit"});
    EXPECT_TRUE(ui.boxes.empty());

    // The FITS file keeps the red channel.
    const std::string fits = readFile(out("m42.fit"));
    ASSERT_EQ(fits.size(), 2 * fitsBlock);
    EXPECT_EQ(fits.substr(fitsBlock, 32), std::string(32, static_cast<char>(200)));
}

TEST_F(ConversionRun, FitsToBmpWritesAGreyPicture)
{
    writeFile(data("Deep.FTS"), sixteenBitFits({0, 1000, 2000, 4000}));
    const ConversionResult result = run({data("Deep.FTS")}, bmpOutput);
    EXPECT_EQ(result.converted, 1);
    test::FakeUi quiet;
    bmp back(quiet);
    ASSERT_EQ(back.readBmp(out("deep.bmp")), 1);
    EXPECT_EQ(back.getWidth(), 4);
    EXPECT_EQ(back.getHeight(), 1);
    const std::uint8_t* brightest = back.getPixels() + 3 * 3;
    EXPECT_EQ(brightest[0], 255);
    EXPECT_EQ(brightest[1], 255);
    EXPECT_EQ(brightest[2], 255);
}

TEST_F(ConversionRun, FilesAreOpenedByTheNameTheUserGave)
{
    // Only the output name is lower-cased: "Data/M42.BMP" is not "data/m42.bmp".
    writeColourBmp(data("M42.BMP"), 90);
    ASSERT_FALSE(fs::exists(dir.file("data/m42.bmp")));
    const ConversionResult result = run({data("M42.BMP")}, bmpOutput);
    EXPECT_EQ(result.converted, 1);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(outputs(), std::vector<std::string>{"m42.bmp"});
}

TEST_F(ConversionRun, AnUnknownEndingIsPassedOverAndTheRunGoesOn)
{
    writeFile(data("M42.FITS"), sixteenBitFits({1, 2, 3, 4}));
    writeColourBmp(data("m31.bmp"), 10);
    const ConversionResult result = run({data("M42.FITS"), data("m31.bmp")});
    EXPECT_EQ(result.total, 2);
    EXPECT_EQ(result.converted, 1);
    EXPECT_EQ(result.notConverted, 1);
    EXPECT_FALSE(result.allConverted());
    EXPECT_EQ(outputs(), std::vector<std::string>{"m31.fit"});
    // The dialog's run says nothing: its chooser offers only the three kinds.
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ConversionRun, AnUnknownEndingIsReportedWhenAsked)
{
    ConversionJob job;
    job.outputDir = dir.file("out");
    job.fileList = {data("M42.FITS")};
    job.reportUnknownTypes = true;
    const ConversionResult result = runConversion(job, conversionImage, ui);
    EXPECT_EQ(result.notConverted, 1);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot convert " + data("M42.FITS") + ": its name ends in none of .bmp, .fit and .fts.");
    EXPECT_EQ(ui.boxes[0].caption, "Tarvi");
}

TEST_F(ConversionRun, AFileThatCannotBeReadIsReportedByTheReaderAndTheRunGoesOn)
{
    writeColourBmp(data("m31.bmp"), 10);
    const ConversionResult result = run({data("missing.bmp"), data("m31.bmp"), data("gone.fit")});
    EXPECT_EQ(result.converted, 1);
    EXPECT_EQ(result.notConverted, 2);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot open file " + data("missing.bmp") + ":\nNo such file or directory");
    EXPECT_EQ(ui.boxes[0].caption, "File Open Error");
    EXPECT_EQ(ui.boxes[1].text, "Cannot open file " + data("gone.fit") + ":\nNo such file or directory");
    EXPECT_EQ(outputs(), std::vector<std::string>{"m31.fit"});
}

TEST_F(ConversionRun, AnOutputDirectoryThatIsNotThereFailsEveryFileWithTheWritersMessage)
{
    writeColourBmp(data("a.bmp"), 10);
    writeColourBmp(data("b.bmp"), 20);
    const ConversionResult result = run({data("a.bmp"), data("b.bmp")}, fitsOutput, dir.file("nowhere"));
    EXPECT_EQ(result.converted, 0);
    EXPECT_EQ(result.notConverted, 2);
    ASSERT_EQ(ui.boxes.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(ui.boxes[i].caption, "File Open Error");
        EXPECT_EQ(ui.boxes[i].text, "Cannot open file " + dir.file(i == 0 ? "nowhere/a.fit" : "nowhere/b.fit") +
                                        " for writing:\nNo such file or directory");
    }
}

TEST_F(ConversionRun, AnOutputThatIsNoInputIsReplacedWithoutAsking)
{
    writeColourBmp(data("m42.bmp"), 77);
    writeFile(out("m42.fit"), "an older picture");
    const ConversionResult result = run({data("m42.bmp")});
    EXPECT_EQ(result.converted, 1);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(readFile(out("m42.fit")).size(), 2 * fitsBlock);
}

struct OwnInputCase {
    const char* name;
    std::vector<std::string> files;  // in Data/
    int outputType;
    const char* outputDir;           // under the temporary directory
    std::vector<std::string> skipped;
    int converted;
};

void PrintTo(const OwnInputCase& c, std::ostream* out)
{
    *out << c.name;
}

class OwnInputs : public ConversionRun, public ::testing::WithParamInterface<OwnInputCase> {};

TEST_P(OwnInputs, AreNeverWrittenOver)
{
    const OwnInputCase& c = GetParam();
    std::vector<std::string> paths;
    std::vector<std::string> before;
    for (const std::string& name : c.files) {
        const std::string path = data(name);
        if (conversionInputOf(path) == ConversionInput::bmp)
            writeColourBmp(path, 150);
        else
            writeFile(path, sixteenBitFits({100, 200, 300, 20000}));
        paths.push_back(path);
        before.push_back(readFile(path));
    }

    const ConversionResult result = run(paths, c.outputType, dir.file(c.outputDir));

    EXPECT_EQ(result.converted, c.converted);
    EXPECT_EQ(result.notConverted, static_cast<int>(c.skipped.size()));
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(readFile(paths[i]), before[i]) << paths[i] << " was written over";
    ASSERT_EQ(ui.boxes.size(), c.skipped.size());
    for (std::size_t i = 0; i < c.skipped.size(); ++i) {
        const std::string input = data(c.skipped[i]);
        const std::string output = dir.file(c.outputDir) + "/" + conversionOutputName(input, c.outputType);
        EXPECT_EQ(ui.boxes[i].text,
                  input + " not converted: its output " + output + " would replace one of the files being converted.");
        EXPECT_EQ(ui.boxes[i].caption, "Tarvi");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, OwnInputs,
    ::testing::Values(
        OwnInputCase{"fits_to_fits_into_its_own_directory", {"deep.fit"}, fitsOutput, "Data", {"deep.fit"}, 0},
        OwnInputCase{"bmp_to_bmp_into_its_own_directory", {"moon.bmp"}, bmpOutput, "Data", {"moon.bmp"}, 0},
        OwnInputCase{"directory_named_another_way", {"deep.fit"}, fitsOutput, "Data/.", {"deep.fit"}, 0},
        OwnInputCase{"output_of_one_is_another_input", {"m42.bmp", "m42.fit"}, fitsOutput, "Data",
                     {"m42.bmp", "m42.fit"}, 0},
        OwnInputCase{"output_of_a_later_file_is_an_earlier_input", {"m42.fit", "m42.bmp"}, fitsOutput, "Data",
                     {"m42.fit", "m42.bmp"}, 0},
        OwnInputCase{"other_files_go_on", {"deep.fit", "m31.bmp"}, fitsOutput, "Data", {"deep.fit"}, 1},
        OwnInputCase{"another_directory_is_no_conflict", {"deep.fit", "moon.bmp"}, fitsOutput, "out", {}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConversionRun, AnUpperCaseInputIsNotTheLowerCaseOutput)
{
    // Linux names are case-sensitive: Data/DEEP.FIT converted to FITS in its
    // own directory writes Data/deep.fit, a different file, and may.
    writeFile(data("DEEP.FIT"), sixteenBitFits({100, 200, 300, 20000}));
    const std::string original = readFile(data("DEEP.FIT"));
    const ConversionResult result = run({data("DEEP.FIT")}, fitsOutput, dir.file("Data"));
    EXPECT_EQ(result.converted, 1);
    EXPECT_EQ(readFile(data("DEEP.FIT")), original);
    EXPECT_TRUE(fs::exists(data("deep.fit")));
}

struct GammaCase {
    double gamma1;
    double gamma2;
    int quarter;  // 8-bit value of the pixel at a quarter of the maximum
    int half;
};

void PrintTo(const GammaCase& c, std::ostream* out)
{
    *out << c.gamma1 << ", " << c.gamma2;
}

class Gammas : public ConversionRun, public ::testing::WithParamInterface<GammaCase> {};

TEST_P(Gammas, ShapeTheSixteenBitData)
{
    writeFile(data("deep.fit"), sixteenBitFits({0, 1000, 2000, 4000}));
    ConversionJob job;
    job.outputDir = dir.file("out");
    job.fileList = {data("deep.fit")};
    job.gamma1 = GetParam().gamma1;
    job.gamma2 = GetParam().gamma2;
    ASSERT_EQ(runConversion(job, conversionImage, ui).converted, 1);
    const std::string fits = readFile(out("deep.fit"));
    ASSERT_GE(fits.size(), fitsBlock + 4);
    EXPECT_EQ(static_cast<std::uint8_t>(fits[fitsBlock + 0]), 0);
    EXPECT_EQ(static_cast<std::uint8_t>(fits[fitsBlock + 1]), GetParam().quarter);
    EXPECT_EQ(static_cast<std::uint8_t>(fits[fitsBlock + 2]), GetParam().half);
    EXPECT_EQ(static_cast<std::uint8_t>(fits[fitsBlock + 3]), 255);
}

INSTANTIATE_TEST_SUITE_P(Pairs, Gammas,
                         ::testing::Values(GammaCase{1.0, 1.0, 63, 127}, GammaCase{2.0, 1.0, 127, 180},
                                           GammaCase{1.0, 2.0, 15, 63}));

// Records each call and stops when told to.
class ScriptedProgress final : public ConversionProgress {
public:
    explicit ScriptedProgress(int stopAt, std::unique_ptr<bmp>* slot = nullptr) : stopAt_(stopAt), slot_(slot) {}
    std::vector<std::pair<int, int>> calls;
    std::vector<bool> imageEmpty;

    bool cancelled(int done, int total) override
    {
        calls.emplace_back(done, total);
        if (slot_ != nullptr)
            imageEmpty.push_back(*slot_ != nullptr && (*slot_)->getWidth() == 0);
        return done == stopAt_;
    }

private:
    int stopAt_;
    std::unique_ptr<bmp>* slot_;
};

TEST_F(ConversionRun, ProgressIsToldBeforeEachFileAndAtTheEnd)
{
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        writeColourBmp(data(name), 1);
    ScriptedProgress progress(-1);
    const ConversionResult result = run({data("a.bmp"), data("b.bmp"), data("c.bmp")}, fitsOutput, {}, &progress);
    EXPECT_EQ(progress.calls, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(result.converted, 3);
    EXPECT_FALSE(result.cancelled);
}

TEST_F(ConversionRun, CancelStopsBeforeTheNextFile)
{
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        writeColourBmp(data(name), 1);
    ScriptedProgress progress(1);
    const ConversionResult result = run({data("a.bmp"), data("b.bmp"), data("c.bmp")}, fitsOutput, {}, &progress);
    EXPECT_EQ(progress.calls, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}}));
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.converted, 1);
    EXPECT_EQ(result.notConverted, 0);
    EXPECT_FALSE(result.allConverted());
    EXPECT_EQ(outputs(), std::vector<std::string>{"a.fit"});
    EXPECT_EQ(conversionImage, nullptr);
}

TEST_F(ConversionRun, TheImageIsMadeAfreshForTheRunAndDestroyedAtItsEnd)
{
    // A left-over image from an earlier run that ended abnormally.
    conversionImage = std::make_unique<bmp>(ui);
    const std::vector<std::uint8_t> grey(16, 9);
    ASSERT_EQ(conversionImage->createFromGray(grey.data(), 4, 4), 1);
    writeColourBmp(data("a.bmp"), 1);

    ScriptedProgress progress(-1, &conversionImage);
    run({data("a.bmp")}, fitsOutput, {}, &progress);
    ASSERT_FALSE(progress.imageEmpty.empty());
    EXPECT_TRUE(progress.imageEmpty.front());
    EXPECT_EQ(conversionImage, nullptr);
}

TEST_F(ConversionRun, AnEmptyListConvertsNothingAndReportsNothing)
{
    const ConversionResult result = run({});
    EXPECT_EQ(result.total, 0);
    EXPECT_EQ(result.converted, 0);
    EXPECT_TRUE(result.allConverted());
    EXPECT_TRUE(outputs().empty());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(conversionImage, nullptr);
}

}  // namespace
}  // namespace tarvi
