#include "image/conversion.h"

#include "image/image_files.h"

namespace tarvi::test {
namespace {

namespace fs = std::filesystem;

TEST(ConversionNames, KindIsTheLastFourCharactersInAnyCaseAndTheOutputTheLowerCasedName)
{
    using enum ConversionInput;
    const std::pair<const char*, ConversionInput> kinds[] = {
        {"/d/m42.bmp", bmp}, {"/d/M42.BMP", bmp}, {"/d/m42.Bmp", bmp}, {"/d/m42.fit", fits}, {"/d/M42.FIT", fits},
        {"/d/m42.fts", fits}, {"/d/M42.FITS", unknown}, {"/d/m42.jpg", unknown}, {"/d/m42.bmp.gz", unknown},
        {"/d/m42bmp", unknown}, {"bmp", unknown}, {".fit", fits}, {"", unknown}};
    for (const auto& [path, kind] : kinds)
        EXPECT_EQ(conversionInputOf(path), kind) << path;
    const std::tuple<const char*, int, const char*, const char*> names[] = {
        {"/data/M42.BMP", fitsOutput, "/out", "/out/m42.fit"}, {"/data/M42.BMP", bmpOutput, "/out", "/out/m42.bmp"},
        {"/Night/Saturn.FTS", bmpOutput, "/o", "/o/saturn.bmp"}, {"m31.fit", fitsOutput, "/o", "/o/m31.fit"},
        {"/A.B/C.D/Moon.Fit", fitsOutput, "out", "out/moon.fit"}, {"/d/night.one.bmp", fitsOutput, "/o", "/o/night.one.fit"},
        {"/d/.bmp", fitsOutput, "/o", "/o/.fit"}, {"/d/bmp", fitsOutput, "/o", "/o/.fit"}, {"/d/ab", bmpOutput, "/o", "/o/.bmp"},
        {"/d/\xC3\x84quator.BMP", fitsOutput, "/o", "/o/\xC3\x84quator.fit"}, {"/d/M42.BMP", fitsOutput, "/o/", "/o//m42.fit"}};
    for (const auto& [path, type, dir, output] : names)
        EXPECT_EQ(conversionOutputPath(dir, path, type), output) << path;
}

class ConversionRun : public ::testing::Test {
protected:
    FakeUi ui;
    TempDir dir;
    std::unique_ptr<bmp> image;

    void SetUp() override { fs::create_directories(dir.file("Data")), fs::create_directories(dir.file("out")); }
    std::string data(const std::string& name) const { return dir.file("Data/" + name); }
    // BMP files: 8 x 4 pixels of blue 20, green 10 and red 200; FITS files: one row of four 16-bit values.
    std::string put(const std::string& name)
    {
        std::string pixels;
        for (int i = 0; i < 32; ++i)
            pixels += "\x14\x0a\xc8";
        writeFile(data(name), conversionInputOf(name) == ConversionInput::bmp
                                  ? bmpFile({.width = 8, .height = 4, .pixels = pixels})
                                  : fitsHeader({"BITPIX  = 16", "NAXIS1  = 4", "NAXIS2  = 1", "END"}) +
                                        std::string("\0\0\x03\xe8\x07\xd0\x0f\xa0", 8));  // 0, 1000, 2000, 4000
        return data(name);
    }
    std::vector<std::string> boxTexts()
    {
        std::vector<std::string> texts;
        for (const auto& box : ui.boxes)
            texts.push_back(box.text + " | " + box.caption);
        ui.boxes.clear();
        return texts;
    }
};

TEST_F(ConversionRun, EachFileIsReadAndWrittenByTheNameGivenAndFailuresAreTheReadersAndWriters)
{
    const std::string out = dir.file("out");
    writeFile(dir.file("out/m42.fit"), "an older picture");  // no input: replaced without asking
    ConversionResult result = runConversion(
        {out, fitsOutput, {put("M42.BMP"), put("M42.FITS"), data("missing.bmp"), put("Deep.FTS"), data("gone.fit")}}, image, ui);
    EXPECT_TRUE(result.total == 5 && result.converted == 2 && result.notConverted == 3 && !result.allConverted());
    EXPECT_EQ(namesIn(dir.file("out")), (std::vector<std::string>{"deep.fit", "m42.fit"}));
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{
                              "Cannot open file " + data("missing.bmp") + ":\nNo such file or directory | File Open Error",
                              "Cannot open file " + data("gone.fit") + ":\nNo such file or directory | File Open Error"}));
    EXPECT_EQ(readFile(dir.file("out/m42.fit")).substr(2880), std::string(32, '\xc8') + std::string(2848, '\0'));
    EXPECT_EQ(readFile(dir.file("out/deep.fit")).substr(2880, 4), std::string("\0\x3f\x7f\xff", 4));
    EXPECT_EQ(image, nullptr);

    // Gammas shape the 16-bit data; BMP output; the command line's report of an unknown kind.
    result = runConversion({out, bmpOutput, {data("Deep.FTS"), data("M42.FITS")}, 2.0, 1.0, true}, image, ui);
    EXPECT_TRUE(result.converted == 1 && result.notConverted == 1);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Cannot convert " + data("M42.FITS") +
                                                   ": its name ends in none of .bmp, .fit and .fts. | Tarvi"});
    bmp back(ui);
    ASSERT_EQ(back.readBmp(dir.file("out/deep.bmp")), 1);
    EXPECT_EQ(redTopDown(back), (std::vector<int>{0, 127, 180, 255}));
    runConversion({out, fitsOutput, {data("Deep.FTS")}, 1.0, 2.0}, image, ui);
    EXPECT_EQ(readFile(dir.file("out/deep.fit")).substr(2880, 4), std::string("\0\x0f\x3f\xff", 4));

    // An output directory that is not there fails every file with the writer's message.
    result = runConversion({dir.file("nowhere"), fitsOutput, {data("M42.BMP"), data("Deep.FTS")}}, image, ui);
    EXPECT_TRUE(result.converted == 0 && result.notConverted == 2);
    const auto refused = [&](const char* name) {
        return "Cannot open file " + dir.file(name) + " for writing:\nNo such file or directory | File Open Error";
    };
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{refused("nowhere/m42.fit"), refused("nowhere/deep.fit")}));
}

TEST_F(ConversionRun, AnOutputThatWouldReplaceAnInputOfTheRunIsNotWritten)
{
    const struct {
        std::vector<std::string> files;
        int outputType;
        const char* outputDir;
        std::vector<std::string> skipped;
    } cases[] = {
        {{"deep.fit"}, fitsOutput, "Data", {"deep.fit"}},         {{"moon.bmp"}, bmpOutput, "Data", {"moon.bmp"}},
        {{"deep.fit"}, fitsOutput, "Data/.", {"deep.fit"}},       {{"m42.bmp", "m42.fit"}, fitsOutput, "Data", {"m42.bmp", "m42.fit"}},
        {{"m42.fit", "m42.bmp"}, fitsOutput, "Data", {"m42.fit", "m42.bmp"}}, {{"deep.fit", "m31.bmp"}, fitsOutput, "Data", {"deep.fit"}},
        {{"deep.fit", "moon.bmp"}, fitsOutput, "out", {}},       {{"DEEP.FIT"}, fitsOutput, "Data", {}},  // Data/deep.fit is another file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files[0] + " to " + c.outputDir);
        fs::remove_all(dir.file("Data")), fs::create_directories(dir.file("Data"));
        std::vector<std::string> paths, before, expected;
        for (const std::string& name : c.files)
            paths.push_back(put(name)), before.push_back(readFile(paths.back()));
        for (const std::string& name : c.skipped)
            expected.push_back(data(name) + " not converted: its output " + dir.file(c.outputDir) + "/" +
                               conversionOutputName(name, c.outputType) + " would replace one of the files being converted. | Tarvi");
        const ConversionResult result = runConversion({dir.file(c.outputDir), c.outputType, paths}, image, ui);
        EXPECT_TRUE(result.converted == int(c.files.size() - c.skipped.size()) && result.notConverted == int(c.skipped.size()));
        EXPECT_EQ(boxTexts(), expected);
        for (std::size_t i = 0; i < paths.size(); ++i)
            EXPECT_EQ(readFile(paths[i]), before[i]) << paths[i] << " was written over";
    }
}

// Records each call, and whether the run's image is there and empty, and stops when told to.
struct ScriptedProgress final : ConversionProgress {
    int stopAt;
    std::unique_ptr<bmp>* slot;
    std::vector<std::tuple<int, int, bool>> calls;
    ScriptedProgress(int stop, std::unique_ptr<bmp>* image) : stopAt(stop), slot(image) {}
    bool cancelled(int done, int total) override
    {
        calls.emplace_back(done, total, *slot != nullptr && (*slot)->record() == nullptr);
        return done == stopAt;
    }
};

TEST_F(ConversionRun, ProgressIsToldBeforeEachFileAndAtTheEndAndCancelStopsBeforeTheNextFile)
{
    image = std::make_unique<bmp>(ui);  // left over from a run that ended abnormally: not used
    const std::vector<std::uint8_t> grey(16, 9);
    image->createFromGray(grey.data(), 4, 4);
    const std::vector<std::string> files = {put("a.bmp"), put("b.bmp"), put("c.bmp")};
    ScriptedProgress progress(-1, &image);
    ConversionResult result = runConversion({dir.file("out"), fitsOutput, files}, image, ui, &progress);
    using Calls = std::vector<std::tuple<int, int, bool>>;
    EXPECT_EQ(progress.calls, (Calls{{0, 3, true}, {1, 3, false}, {2, 3, false}, {3, 3, false}}));
    EXPECT_TRUE(result.converted == 3 && !result.cancelled && image == nullptr);
    fs::remove_all(dir.file("out")), fs::create_directories(dir.file("out"));
    ScriptedProgress stopping(1, &image);
    result = runConversion({dir.file("out"), fitsOutput, files}, image, ui, &stopping);
    EXPECT_EQ(stopping.calls, (Calls{{0, 3, true}, {1, 3, false}}));
    EXPECT_TRUE(result.cancelled && result.converted == 1 && result.notConverted == 0 && !result.allConverted());
    EXPECT_EQ(namesIn(dir.file("out")), std::vector<std::string>{"a.fit"});
    EXPECT_EQ(image, nullptr);
    result = runConversion({}, image, ui);
    EXPECT_TRUE(result.total == 0 && result.converted == 0 && result.allConverted() && image == nullptr);
}

}  // namespace
}  // namespace tarvi::test
