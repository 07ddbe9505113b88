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
    std::unique_ptr<bmp> conversionImage;
    ConversionJob job;

    void SetUp() override { into("out"), fs::create_directories(dir.file("Data")), fs::create_directories(dir.file("out")); }
    void into(const std::string& sub, int outputType = fitsOutput)
    {
        job = ConversionJob();
        job.outputDir = dir.file(sub), job.outputType = outputType;
    }
    std::string data(const std::string& name) const { return dir.file("Data/" + name); }
    // BMP files: 8 x 4 pixels of blue 20, green 10 and red `level`; FITS files: one row of four 16-bit values.
    std::string put(const std::string& name, std::uint8_t level = 200)
    {
        const std::string bmpPixels = std::string("\x14\x0a", 2) + static_cast<char>(level);
        std::string pixels;
        for (int i = 0; i < 32; ++i)
            pixels += bmpPixels;
        writeFile(data(name), conversionInputOf(name) == ConversionInput::bmp
                                  ? bmpFile({.width = 8, .height = 4, .pixels = pixels})
                                  : fitsHeader({"BITPIX  = 16", "NAXIS1  = 4", "NAXIS2  = 1", "END"}) +
                                        std::string("\0\0\x03\xe8\x07\xd0\x0f\xa0", 8));  // 0, 1000, 2000, 4000
        return data(name);
    }
    ConversionResult run(std::vector<std::string> files, ConversionProgress* progress = nullptr)
    {
        job.fileList = std::move(files);
        return runConversion(job, conversionImage, ui, progress);
    }
    std::vector<std::string> listing(const std::string& sub) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.file(sub)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& box : ui.boxes)
            texts.push_back(box.text + " | " + box.caption);
        return texts;
    }
};

TEST_F(ConversionRun, EachFileIsReadAndWrittenByTheNameGivenAndFailuresAreTheReadersAndWriters)
{
    const std::vector<std::string> files = {put("M42.BMP"), put("M42.FITS"), data("missing.bmp"), put("Deep.FTS"),
                                            data("gone.fit")};
    writeFile(dir.file("out/m42.fit"), "an older picture");  // no input: replaced without asking
    ConversionResult result = run(files);
    EXPECT_TRUE(result.total == 5 && result.converted == 2 && result.notConverted == 3 && !result.allConverted());
    EXPECT_EQ(listing("out"), (std::vector<std::string>{"deep.fit", "m42.fit"}));
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{
                              "Cannot open file " + data("missing.bmp") + ":\nNo such file or directory | File Open Error",
                              "Cannot open file " + data("gone.fit") + ":\nNo such file or directory | File Open Error"}));
    EXPECT_EQ(readFile(dir.file("out/m42.fit")).substr(2880), std::string(32, '\xc8') + std::string(2848, '\0'));
    EXPECT_EQ(readFile(dir.file("out/deep.fit")).substr(2880, 4), std::string("\0\x3f\x7f\xff", 4));
    EXPECT_EQ(conversionImage, nullptr);

    // Gammas shape the 16-bit data; BMP output; the command line's report of an unknown kind.
    into("out", bmpOutput);
    job.gamma1 = 2.0, job.reportUnknownTypes = true;
    ui.boxes.clear();
    result = run({data("Deep.FTS"), data("M42.FITS")});
    EXPECT_TRUE(result.converted == 1 && result.notConverted == 1);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Cannot convert " + data("M42.FITS") +
                                                   ": its name ends in none of .bmp, .fit and .fts. | Tarvi"});
    bmp back(ui);
    ASSERT_EQ(back.readBmp(dir.file("out/deep.bmp")), 1);
    EXPECT_EQ(redTopDown(back), (std::vector<int>{0, 127, 180, 255}));
    job.gamma2 = 2.0, job.gamma1 = 1.0, job.outputType = fitsOutput;
    run({data("Deep.FTS")});
    EXPECT_EQ(readFile(dir.file("out/deep.fit")).substr(2880, 4), std::string("\0\x0f\x3f\xff", 4));

    // An output directory that is not there fails every file with the writer's message.
    job.outputDir = dir.file("nowhere");
    ui.boxes.clear();
    result = run({data("M42.BMP"), data("Deep.FTS")});
    EXPECT_TRUE(result.converted == 0 && result.notConverted == 2);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{
                              "Cannot open file " + dir.file("nowhere/m42.fit") + " for writing:\nNo such file or directory | File Open Error",
                              "Cannot open file " + dir.file("nowhere/deep.fit") + " for writing:\nNo such file or directory | File Open Error"}));
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
            paths.push_back(put(name, 150)), before.push_back(readFile(paths.back()));
        for (const std::string& name : c.skipped) {
            const std::string output = dir.file(c.outputDir) + "/" + conversionOutputName(name, c.outputType);
            expected.push_back(data(name) + " not converted: its output " + output +
                               " would replace one of the files being converted. | Tarvi");
        }
        into(c.outputDir, c.outputType);
        ui.boxes.clear();
        const ConversionResult result = run(paths);
        EXPECT_EQ(result.converted, static_cast<int>(c.files.size() - c.skipped.size()));
        EXPECT_EQ(result.notConverted, static_cast<int>(c.skipped.size()));
        EXPECT_EQ(boxTexts(), expected);
        for (std::size_t i = 0; i < paths.size(); ++i)
            EXPECT_EQ(readFile(paths[i]), before[i]) << paths[i] << " was written over";
    }
}

// Records each call, and the state of the run's image, and stops when told to.
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
    // A left-over image from an earlier run that ended abnormally is not used.
    conversionImage = std::make_unique<bmp>(ui);
    const std::vector<std::uint8_t> grey(16, 9);
    conversionImage->createFromGray(grey.data(), 4, 4);
    ScriptedProgress progress(-1, &conversionImage);
    ConversionResult result = run({put("a.bmp"), put("b.bmp"), put("c.bmp")}, &progress);
    using Calls = std::vector<std::tuple<int, int, bool>>;
    EXPECT_EQ(progress.calls, (Calls{{0, 3, true}, {1, 3, false}, {2, 3, false}, {3, 3, false}}));
    EXPECT_TRUE(result.converted == 3 && !result.cancelled && conversionImage == nullptr);
    fs::remove_all(dir.file("out")), fs::create_directories(dir.file("out"));
    ScriptedProgress stopping(1, &conversionImage);
    result = run({data("a.bmp"), data("b.bmp"), data("c.bmp")}, &stopping);
    EXPECT_EQ(stopping.calls, (Calls{{0, 3, true}, {1, 3, false}}));
    EXPECT_TRUE(result.cancelled && result.converted == 1 && result.notConverted == 0 && !result.allConverted());
    EXPECT_EQ(listing("out"), std::vector<std::string>{"a.fit"});
    EXPECT_EQ(conversionImage, nullptr);
    result = run({});
    EXPECT_TRUE(result.total == 0 && result.converted == 0 && result.allConverted() && conversionImage == nullptr);
}

}  // namespace
}  // namespace tarvi::test
