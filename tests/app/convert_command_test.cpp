#include "app/convert_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>

#include "image/conversion.h"
#include "platform/console_ui.h"
#include "platform/safe_file.h"
#include "support/fake_ui.h"
#include "support/image_checks.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

namespace fs = std::filesystem;

struct ArgumentsCase {
    std::vector<std::string> arguments;
    int outputType;
    std::string outputDir;
    double gamma1;
    double gamma2;
    std::vector<std::string> files;
    std::string error;
};

void PrintTo(const ArgumentsCase& c, std::ostream* out)
{
    for (const auto& argument : c.arguments)
        *out << argument << ' ';
}

class ConvertArgumentsCases : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(ConvertArgumentsCases, Parse)
{
    const ArgumentsCase& c = GetParam();
    const ConvertArguments line = parseConvertArguments(c.arguments);
    EXPECT_EQ(line.error, c.error);
    if (!c.error.empty())
        return;
    EXPECT_FALSE(line.help);
    EXPECT_EQ(line.outputType, c.outputType);
    EXPECT_EQ(line.outputDir, c.outputDir);
    EXPECT_EQ(line.gamma1, c.gamma1);
    EXPECT_EQ(line.gamma2, c.gamma2);
    EXPECT_EQ(line.files, c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConvertArgumentsCases,
    ::testing::Values(
        ArgumentsCase{{"--to", "fits", "--out", "/o", "a.bmp"}, fitsOutput, "/o", 1.0, 1.0, {"a.bmp"}, ""},
        ArgumentsCase{{"--to=bmp", "--out=/o", "a.fit", "b.fts"}, bmpOutput, "/o", 1.0, 1.0, {"a.fit", "b.fts"}, ""},
        ArgumentsCase{{"a.fit", "--out", "/o", "--to", "bmp", "b.fit"}, bmpOutput, "/o", 1.0, 1.0, {"a.fit", "b.fit"}, ""},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--gamma1", "2.2", "--gamma2=0.5", "x.fit"},
                      fitsOutput, "/o", 2.2, 0.5, {"x.fit"}, ""},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--gamma1", "0", "--gamma2", "100", "x.fit"},
                      fitsOutput, "/o", 0.0, 100.0, {"x.fit"}, ""},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--", "-dark.bmp", "--to"}, fitsOutput, "/o", 1.0, 1.0,
                      {"-dark.bmp", "--to"}, ""},
        ArgumentsCase{{"--to", "fits", "--out", "/a", "--out", "/b", "x.bmp"}, fitsOutput, "/b", 1.0, 1.0, {"x.bmp"}, ""},
        ArgumentsCase{{"--out", "/o", "a.bmp"}, 0, "", 0, 0, {}, "--to fits or --to bmp is missing"},
        ArgumentsCase{{"--to", "fits", "a.bmp"}, 0, "", 0, 0, {}, "--out DIR is missing"},
        ArgumentsCase{{"--to", "fits", "--out", "/o"}, 0, "", 0, 0, {}, "no files to convert"},
        ArgumentsCase{{}, 0, "", 0, 0, {}, "--to fits or --to bmp is missing"},
        ArgumentsCase{{"--to", "png", "--out", "/o", "a.bmp"}, 0, "", 0, 0, {}, "--to must be fits or bmp, not 'png'"},
        ArgumentsCase{{"--to", "FITS", "--out", "/o", "a.bmp"}, 0, "", 0, 0, {}, "--to must be fits or bmp, not 'FITS'"},
        ArgumentsCase{{"--to", "fits", "--out", "", "a.bmp"}, 0, "", 0, 0, {}, "--out needs a directory"},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "a.bmp", "--to"}, 0, "", 0, 0, {}, "option '--to' needs a value"},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--frobnicate", "a.bmp"}, 0, "", 0, 0, {},
                      "unknown option '--frobnicate'"},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--gamma1", "abc", "a.fit"}, 0, "", 0, 0, {},
                      "--gamma1 must be a number between 0 and 100, not 'abc'"},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--gamma2", "101", "a.fit"}, 0, "", 0, 0, {},
                      "--gamma2 must be a number between 0 and 100, not '101'"},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--gamma1=-1", "a.fit"}, 0, "", 0, 0, {},
                      "--gamma1 must be a number between 0 and 100, not '-1'"},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--gamma1", "nan", "a.fit"}, 0, "", 0, 0, {},
                      "--gamma1 must be a number between 0 and 100, not 'nan'"},
        ArgumentsCase{{"--to", "fits", "--out", "/o", "--gamma1", "2x", "a.fit"}, 0, "", 0, 0, {},
                      "--gamma1 must be a number between 0 and 100, not '2x'"}));

TEST(ConvertArguments, HelpIsAskedForAnywhereOnTheLine)
{
    EXPECT_TRUE(parseConvertArguments({"--help"}).help);
    EXPECT_TRUE(parseConvertArguments({"--to", "fits", "-h"}).help);
}

struct LineCase {
    const char* text;
    const char* caption;
    const char* line;
};

void PrintTo(const LineCase& c, std::ostream* out)
{
    *out << c.line;
}

class ConsoleLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(ConsoleLines, EachBoxIsOneCaptionAndTextLine)
{
    std::ostringstream err;
    ConsoleUi ui(err);
    ui.messageBox(GetParam().text, GetParam().caption, Buttons::ok, {});
    EXPECT_EQ(err.str(), std::string(GetParam().line) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ConsoleLines,
    ::testing::Values(LineCase{"Not a Bitmap File!", "", "Tarvi: Not a Bitmap File!"},
                      LineCase{"Cannot open file /d/a.bmp", "File Open Error", "File Open Error: Cannot open file /d/a.bmp"},
                      LineCase{"Cannot write file /d/a.bmp:\nNo space left on device", "File Write Error",
                               "File Write Error: Cannot write file /d/a.bmp: No space left on device"},
                      LineCase{"/d/a.bmp has zero length.   \nNo image will be displayed.", "",
                               "Tarvi: /d/a.bmp has zero length. No image will be displayed."},
                      LineCase{"\r\nfirst\r\nsecond\n\n", "Note", "Note: first second"},
                      LineCase{"", "", "Tarvi: "}));

struct AnswerCase {
    Buttons buttons;
    Answer answer;
};

class ConsoleAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ConsoleAnswers, AreTheSafeWayOut)
{
    std::ostringstream err;
    ConsoleUi ui(err);
    EXPECT_EQ(ui.messageBox("Retry?", "", GetParam().buttons, {}), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Buttons, ConsoleAnswers,
                         ::testing::Values(AnswerCase{Buttons::ok, Answer::ok},
                                           AnswerCase{Buttons::okCancel, Answer::cancel},
                                           AnswerCase{Buttons::retryCancel, Answer::cancel},
                                           AnswerCase{Buttons::yesNo, Answer::no},
                                           AnswerCase{Buttons::yesNoCancel, Answer::cancel}));

class ConvertCommand : public ::testing::Test {
protected:
    test::TempDir dir;
    std::ostringstream out;
    std::ostringstream err;

    void SetUp() override { fs::create_directory(dir.file("out")); }

    void writeBmp(const std::string& name)
    {
        test::FakeUi quiet;
        bmp image(quiet);
        const std::vector<std::uint8_t> grey(6 * 3, 120);
        ASSERT_EQ(image.createFromGray(grey.data(), 6, 3), 1);
        ASSERT_EQ(image.writeBmp(dir.file(name)), 1);
    }

    int convert(std::vector<std::string> arguments) { return runConvertCommand(arguments, out, err); }

    std::vector<std::string> errLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(err.str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

TEST_F(ConvertCommand, EveryFileConvertedExitsZeroAndSaysNothing)
{
    writeBmp("M42.BMP");
    writeBmp("m31.bmp");
    EXPECT_EQ(convert({"--to", "fits", "--out", dir.file("out"), dir.file("M42.BMP"), dir.file("m31.bmp")}), 0);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(fs::exists(dir.file("out/m42.fit")));
    EXPECT_TRUE(fs::exists(dir.file("out/m31.fit")));
}

TEST_F(ConvertCommand, UnknownEndingExitsOneWithALineSayingSo)
{
    writeBmp("m31.bmp");
    test::writeFile(dir.file("M42.FITS"), "SIMPLE");
    EXPECT_EQ(convert({"--to", "bmp", "--out", dir.file("out"), dir.file("M42.FITS"), dir.file("m31.bmp")}), 1);
    EXPECT_EQ(errLines(), (std::vector<std::string>{
                              "Tarvi: Cannot convert " + dir.file("M42.FITS") +
                                  ": its name ends in none of .bmp, .fit and .fts.",
                              "tarvi convert: 1 of 2 files converted"}));
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
        {"missing.bmp", {}, 1, "File Open Error: Cannot open file %i: No such file or directory"},
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
            EXPECT_EQ(convert({"--to", "fits", "--out", dir.file("out"), input}), c.status);
        }
        std::string line = c.line;
        line.replace(line.find('%'), 2, line[line.find('%') + 1] == 'i' ? input : output);
        std::vector<std::string> expected{line};
        if (c.status != 0)
            expected.push_back("tarvi convert: 0 of 1 files converted");
        EXPECT_EQ(errLines(), expected);
        if (c.sizeLimit != 0) {
            EXPECT_EQ(test::readFile(output), old);
        }
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
    {
        test::FakeUi quiet;
        bmp image(quiet);
        const std::vector<std::uint8_t> grey(4000 * 3000, 99);
        ASSERT_EQ(image.createFromGray(grey.data(), 4000, 3000), 1);
        ASSERT_EQ(image.writeBmp(dir.file("big.bmp")), 1);
    }
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

TEST_F(ConvertCommand, AnInputIsNeverWrittenOver)
{
    writeBmp("moon.bmp");
    const std::string original = test::readFile(dir.file("moon.bmp"));
    EXPECT_EQ(convert({"--to", "bmp", "--out", dir.path(), dir.file("moon.bmp")}), 1);
    EXPECT_EQ(test::readFile(dir.file("moon.bmp")), original);
    const std::vector<std::string> lines = errLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Tarvi: " + dir.file("moon.bmp") + " not converted: its output " + dir.file("moon.bmp") +
                            " would replace one of the files being converted.");
}

struct UsageCase {
    std::vector<std::string> arguments;
    const char* error;
};

void PrintTo(const UsageCase& c, std::ostream* out)
{
    *out << c.error;
}

class ConvertUsageErrors : public ConvertCommand, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(ConvertUsageErrors, ExitTwoWithAShortMessageAndConvertNothing)
{
    writeBmp("a.bmp");
    std::vector<std::string> arguments = GetParam().arguments;
    for (auto& argument : arguments) {
        if (argument == "FILE")
            argument = dir.file("a.bmp");
        else if (argument == "OUT")
            argument = dir.file("out");
    }
    EXPECT_EQ(convert(arguments), 2);
    EXPECT_EQ(err.str(), std::string("tarvi convert: ") + GetParam().error +
                             "\nTry 'tarvi convert --help' for more information.\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(fs::is_empty(dir.file("out")));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConvertUsageErrors,
    ::testing::Values(UsageCase{{}, "--to fits or --to bmp is missing"},
                      UsageCase{{"--to", "fits", "FILE"}, "--out DIR is missing"},
                      UsageCase{{"--to", "tiff", "--out", "OUT", "FILE"}, "--to must be fits or bmp, not 'tiff'"},
                      UsageCase{{"--to", "fits", "--out", "OUT"}, "no files to convert"},
                      UsageCase{{"--to", "fits", "--out", "OUT", "--gamma1", "101", "FILE"},
                                "--gamma1 must be a number between 0 and 100, not '101'"},
                      UsageCase{{"--to", "fits", "--out", "OUT", "-x", "FILE"}, "unknown option '-x'"}));

TEST_F(ConvertCommand, HelpExplainsTheCommandOnStandardOutput)
{
    EXPECT_EQ(convert({"--help"}), 0);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str().rfind("Usage: tarvi convert --to fits|bmp --out DIR [--gamma1 G] [--gamma2 G] FILE...\n", 0),
              0u);
    for (const char* word : {"--to", "--out", "--gamma1", "--gamma2", "Exit status"})
        EXPECT_NE(out.str().find(word), std::string::npos) << word;
}

TEST_F(ConvertCommand, GammasReachTheSixteenBitReader)
{
    // One row: 0, a quarter of the maximum, and the maximum.
    std::string header(2880, ' ');
    const char* cards[] = {"SIMPLE  =                    T", "BITPIX  =                   16",
                           "NAXIS   =                    2", "NAXIS1  =                    3",
                           "NAXIS2  =                    1", "END"};
    for (std::size_t i = 0; i < std::size(cards); ++i)
        header.replace(i * 80, std::string(cards[i]).size(), cards[i]);
    std::string data(2880, '\0');
    data[2] = static_cast<char>(1000 >> 8);
    data[3] = static_cast<char>(1000 & 0xFF);
    data[4] = static_cast<char>(4000 >> 8);
    data[5] = static_cast<char>(4000 & 0xFF);
    test::writeFile(dir.file("deep.fts"), header + data);

    ASSERT_EQ(convert({"--to", "fits", "--gamma1", "2", "--out", dir.file("out"), dir.file("deep.fts")}), 0);
    const std::string fits = test::readFile(dir.file("out/deep.fit"));
    ASSERT_GE(fits.size(), 2883u);
    EXPECT_EQ(static_cast<std::uint8_t>(fits[2881]), 127);
    EXPECT_EQ(static_cast<std::uint8_t>(fits[2882]), 255);
}

}  // namespace
}  // namespace tarvi
