#include "app/convert_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>

#include "image/conversion.h"
#include "image/fits.h"
#include "platform/console_ui.h"
#include "platform/safe_file.h"
#include "support/fake_ui.h"
#include "support/image_checks.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(ConvertArguments, UsableLines)
{
    using Files = std::vector<std::string>;
    const int fits = fitsOutput, bmp = bmpOutput;
    // The arguments; the output type, directory, both gammas and the files they give.
    const std::pair<Files, std::tuple<int, std::string, double, double, Files>> cases[] = {
        {{"--to", "fits", "--out", "/o", "a.bmp"}, {fits, "/o", 1.0, 1.0, {"a.bmp"}}},
        {{"--to=bmp", "--out=/o", "a.fit", "b.fts"}, {bmp, "/o", 1.0, 1.0, {"a.fit", "b.fts"}}},
        {{"a.fit", "--out", "/o", "--to", "bmp", "-"}, {bmp, "/o", 1.0, 1.0, {"a.fit", "-"}}},
        {{"--to", "fits", "--out", "/o", "--gamma1", "+2.2", "--gamma2=0.5", "x.fit"}, {fits, "/o", 2.2, 0.5, {"x.fit"}}},
        {{"--to", "fits", "--out", "/o", "--gamma1", "0", "--gamma2", "100", "x.fit"}, {fits, "/o", 0.0, 100.0, {"x.fit"}}},
        {{"--to", "fits", "--out", "/o", "--", "-dark.bmp", "--to"}, {fits, "/o", 1.0, 1.0, {"-dark.bmp", "--to"}}},
        {{"--to", "fits", "--out", "/a", "--out", "/b", "x.bmp"}, {fits, "/b", 1.0, 1.0, {"x.bmp"}}},
    };
    for (const auto& [arguments, expected] : cases) {
        const ConvertArguments l = parseConvertArguments(arguments);
        EXPECT_TRUE(l.error.empty() && !l.help) << l.error;
        EXPECT_EQ(std::tuple(l.outputType, l.outputDir, l.gamma1, l.gamma2, l.files), expected) << arguments[0];
    }
}

TEST(ConsoleUi, EachBoxIsOneLineAndTheAnswerIsTheSafeWayOut)
{
    const std::array<const char*, 3> lines[] = {
        {"Not a Bitmap File!", "", "Tarvi: Not a Bitmap File!"},
        {"Cannot write file /d/a.bmp:\nNo space left on device", "File Write Error",
         "File Write Error: Cannot write file /d/a.bmp: No space left on device"},
        {"/d/a.bmp has zero length.   \nNo image will be displayed.", "", "Tarvi: /d/a.bmp has zero length. No image will be displayed."},
        {"\r\nfirst\r\nsecond\n\n", "Note", "Note: first second"},
        {"", "", "Tarvi: "},
    };
    for (const auto& [text, caption, line] : lines) {
        std::ostringstream err;
        EXPECT_EQ(ConsoleUi(err).messageBox(text, caption, Buttons::ok, {}), Answer::ok);
        EXPECT_EQ(err.str(), std::string(line) + "\n");
    }
    std::ostringstream err;
    for (const auto& [buttons, answer] : {std::pair{Buttons::okCancel, Answer::cancel}, {Buttons::retryCancel, Answer::cancel},
                                          {Buttons::yesNo, Answer::no}, {Buttons::yesNoCancel, Answer::cancel}})
        EXPECT_EQ(ConsoleUi(err).messageBox("Retry?", "", buttons, {}), answer);
}

class ConvertCommand : public ::testing::Test {
protected:
    test::TempDir dir;
    std::ostringstream out;
    std::ostringstream err;

    void SetUp() override { fs::create_directory(dir.file("out")); }

    void writeBmp(const std::string& name, int width = 6, int height = 3)
    {
        test::FakeUi quiet;
        bmp image(quiet);
        const std::vector<std::uint8_t> grey(std::size_t(width) * height, 120);
        ASSERT_EQ(image.createFromGray(grey.data(), width, height), 1);
        ASSERT_EQ(image.writeBmp(dir.file(name)), 1);
    }

    // OUT and a name ending in a dot-suffix stand for paths in the directory.
    int convert(std::vector<std::string> arguments)
    {
        for (auto& argument : arguments) {
            if (argument == "OUT")
                argument = dir.file("out");
            else if (argument.find('.') != std::string::npos && argument[0] != '-' && argument[0] != '/')
                argument = dir.file(argument);
        }
        out.str("");
        err.str("");
        return runConvertCommand(arguments, out, err);
    }
};

TEST_F(ConvertCommand, AUsageErrorExitsTwoWithAShortMessageAndConvertsNothingAndHelpExitsZero)
{
    writeBmp("a.bmp");
    const std::string gamma = " must be a number between 0 and 100, not ";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "--to fits or --to bmp is missing"},
        {{"--out", "OUT", "a.bmp"}, "--to fits or --to bmp is missing"},
        {{"--to", "fits", "a.bmp"}, "--out DIR is missing"},
        {{"--to", "fits", "--out", "OUT"}, "no files to convert"},
        {{"--to", "png", "--out", "OUT", "a.bmp"}, "--to must be fits or bmp, not 'png'"},
        {{"--to", "FITS", "--out", "OUT", "a.bmp"}, "--to must be fits or bmp, not 'FITS'"},
        {{"--to", "fits", "--out", "", "a.bmp"}, "--out needs a directory"},
        {{"--to", "fits", "--out", "OUT", "a.bmp", "--to"}, "option '--to' needs a value"},
        {{"--to", "fits", "--out", "OUT", "--frobnicate", "-x", "a.bmp"}, "unknown option '--frobnicate'"},
        {{"--to", "fits", "--out", "OUT", "--gamma1", "abc", "a.bmp"}, "--gamma1" + gamma + "'abc'"},
        {{"--to", "fits", "--out", "OUT", "--gamma2", "101", "a.bmp"}, "--gamma2" + gamma + "'101'"},
        {{"--to", "fits", "--out", "OUT", "--gamma1=-1", "a.bmp"}, "--gamma1" + gamma + "'-1'"},
        {{"--to", "fits", "--out", "OUT", "--gamma1", "nan", "a.bmp"}, "--gamma1" + gamma + "'nan'"},
        {{"--to", "fits", "--out", "OUT", "--gamma1", "2x", "a.bmp"}, "--gamma1" + gamma + "'2x'"},
        {{"--to", "fits", "--out", "OUT", "--gamma1=", "a.bmp"}, "--gamma1" + gamma + "''"},
    };
    for (const auto& [arguments, error] : cases) {
        EXPECT_EQ(convert(arguments), 2) << error;
        EXPECT_EQ(err.str(), "tarvi convert: " + error + "\nTry 'tarvi convert --help' for more information.\n");
        EXPECT_EQ(out.str(), "");
        EXPECT_TRUE(fs::is_empty(dir.file("out"))) << error;
    }
    // Help is asked for anywhere on the line, wins over errors, and goes to standard output.
    EXPECT_EQ(convert({"--to", "png", "--help"}), 0);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str().rfind("Usage: tarvi convert --to fits|bmp --out DIR [--gamma1 G] [--gamma2 G] FILE...\n", 0), 0u);
    EXPECT_TRUE(parseConvertArguments({"--to", "fits", "-h"}).help);
}

TEST_F(ConvertCommand, EveryFileConvertedExitsZeroAndSaysNothingElseOneLinePerFileNotConverted)
{
    writeBmp("M42.BMP");
    writeBmp("m31.bmp");
    // One row of 16-bit data, 0, a quarter of the maximum and the maximum, for the gammas to reach.
    std::string deep;
    for (const std::string& card : {std::string("SIMPLE  =                    T"), fits::integerCard("BITPIX", 16),
                                    fits::integerCard("NAXIS", 2), fits::integerCard("NAXIS1", 3),
                                    fits::integerCard("NAXIS2", 1), std::string("END")})
        deep += card + std::string(80 - card.size(), ' ');
    deep.resize(2880, ' ');
    test::writeFile(dir.file("deep.fts"), deep + std::string("\0\0\x03\xE8\x0F\xA0", 6) + std::string(2874, '\0'));
    EXPECT_EQ(convert({"--to", "fits", "--gamma1", "2", "--out", "OUT", "M42.BMP", "m31.bmp", "deep.fts"}), 0);
    EXPECT_EQ(err.str() + out.str(), "");
    EXPECT_TRUE(fs::exists(dir.file("out/m42.fit")) && fs::exists(dir.file("out/m31.fit")));
    EXPECT_EQ(test::readFile(dir.file("out/deep.fit")).substr(2880, 3), "\0\x7F\xFF"s);

    test::writeFile(dir.file("M42.FITS"), "SIMPLE");
    EXPECT_EQ(convert({"--to", "bmp", "--out", "OUT", "M42.FITS", "m31.bmp"}), 1);
    EXPECT_EQ(err.str(), "Tarvi: Cannot convert " + dir.file("M42.FITS") + ": its name ends in none of .bmp, .fit and .fts.\n"
                         "tarvi convert: 1 of 2 files converted\n");
    EXPECT_TRUE(fs::exists(dir.file("out/m31.bmp")));
}

// Each file that fails has a line naming it and why; nothing blocks on a
// fifo, and an output that could not be written is left as it was.
TEST_F(ConvertCommand, FailuresSayWhichFileAndWhy)
{
    ::alarm(10);  // a conversion that blocks on a fifo ends the run instead of hanging it
    writeBmp("a.bmp");
    std::string cut = test::readFile(dir.file("a.bmp"));
    cut.resize(54 + 20);
    test::writeFile(dir.file("cut.bmp"), cut);
    ::mkfifo(dir.file("fifo.bmp").c_str(), 0644);
    const std::string old = "last night's picture";
    const struct {
        const char* input;
        std::function<void(const std::string& output)> before;
        int status;
        std::string line;  // %i is the input, %o the output
        rlim_t sizeLimit = 0;
    } cases[] = {
        {"fifo.bmp", {}, 1, "File Open Error: Cannot open file %i: Is a named pipe, not a regular file"},
        {"a.bmp", [](const std::string& o) { ::mkfifo(o.c_str(), 0644); }, 1,
         "File Open Error: Cannot open file %o for writing: Is a named pipe, not a regular file"},
        {"a.bmp", [&](const std::string& o) { test::writeFile(o, old); }, 1,
         "File Write Error: Cannot write file %o: File too large", 100},
        {"cut.bmp", {}, 0,
         "Tarvi: %i is truncated: it holds 20 of the 60 bytes of pixel data its header promises. "
         "The rest of the picture is shown black."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string input = dir.file(c.input);
        const std::string output = dir.file("out/" + conversionOutputName(input, fitsOutput));
        fs::remove(output);
        if (c.before)
            c.before(output);
        err.str("");
        {
            std::optional<test::FileSizeLimit> limit;
            if (c.sizeLimit != 0)
                limit.emplace(c.sizeLimit);
            EXPECT_EQ(runConvertCommand({"--to", "fits", "--out", dir.file("out"), input}, out, err), c.status);
        }
        std::string line = c.line;
        line.replace(line.find('%'), 2, line[line.find('%') + 1] == 'i' ? input : output);
        EXPECT_EQ(err.str(), line + (c.status != 0 ? "\ntarvi convert: 0 of 1 files converted\n" : "\n"));
        EXPECT_TRUE(c.sizeLimit == 0 || test::readFile(output) == old);
    }
    ::alarm(0);
}

// True when the process has a file open in the directory other than the one
// named: the temporary a write goes into.
bool writingInto(pid_t pid, const std::string& directory, const std::string& name)
{
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code unreadable;
        const std::string target = fs::read_symlink(fd.path(), unreadable).string();
        if (target.rfind(directory + "/", 0) == 0 && target != directory + "/" + name)
            return true;
    }
    return false;
}

TEST_F(ConvertCommand, KilledWhileWritingLeavesTheOldOutputAndNoTemporaryFile)
{
    writeBmp("big.bmp", 4000, 3000);
    const std::string old = "last night's picture";
    bool killedWhileWriting = false;
    for (int attempt = 0; attempt < 5 && !killedWhileWriting; ++attempt) {
        test::writeFile(dir.file("out/big.fit"), old);
        const pid_t child = ::fork();
        if (child == 0) {
            std::ostringstream quiet;
            ::_exit(runConvertCommand({"--to", "fits", "--out", dir.file("out"), dir.file("big.bmp")}, quiet, quiet));
        }
        int status = 0;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (!writingInto(child, dir.file("out"), "big.fit"))
                continue;
            // Stopped, it is seen still writing, or it has just finished.
            ::kill(child, SIGSTOP);
            ::waitpid(child, &status, WUNTRACED);
            killedWhileWriting = WIFSTOPPED(status) && writingInto(child, dir.file("out"), "big.fit");
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
    }
    ASSERT_TRUE(killedWhileWriting);
    EXPECT_EQ(test::readFile(dir.file("out/big.fit")), old);
    // Where the file system has no unnamed temporaries, the next write into
    // the directory takes the one left behind.
    ASSERT_FALSE(replaceFile(dir.file("out/next.fit"), "x").failed());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.file("out")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.fit", "next.fit"}));
}

}  // namespace
}  // namespace tarvi
