#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <optional>

#include "app/tarvi_app.h"
#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/image_checks.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using Fields = std::vector<double>;
const Fields defaults{0, 0, 0, 1, 1, 0, 0.5, 0, 0, 0, 0, 0, 0, 1, -1, -1, 0};
const std::string section = "[st4Settings150]\nValues=";

Fields fields(const st4Settings& s)
{
    return {double(s.antiBloom), double(s.smoothImage), double(s.subtractDarkFrame), double(s.operationsInPC),
            double(s.useCompression), double(s.cameraGain), double(s.exposureTime), double(s.exposureDelay),
            double(s.baselineLevel), double(s.subtractionConstant), double(s.cameraPort), double(s.cameraSpeed),
            double(s.cameraSpeedInUse), double(s.telescopePort), double(s.cameraHandle), double(s.telescopeHandle),
            double(s.downloadStop)};
}

st4Settings parsed(const std::string& line, int fieldsRead = settingsFieldCount)
{
    st4Settings s;
    EXPECT_EQ(parseSettingsLine(line, s), fieldsRead) << line;
    return s;
}

TEST(Settings, TheLineIsSeventeenNumbersWithSixDecimalsAndANewline)
{
    EXPECT_EQ(fields(parsed(std::string(defaultSettingsLine))), defaults);
    EXPECT_EQ(formatSettingsLine(st4Settings::defaults()), "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0\n");
    EXPECT_EQ(formatSettingsLine(parsed("1 0 1 0 1 3 12.25 99 255 17 2 1 3 3 7 -1 1")),
              "1 0 1 0 1 3 12.250000 99 255 17 2 1 3 3 7 -1 1\n");
    // The float, widened, rounds to six places as printf does.
    for (const float exposure : {0.01f, 0.1f, 33.33f, 599.99f, 600.0f}) {
        st4Settings s = st4Settings::defaults();
        s.exposureTime = exposure;
        const std::string line = formatSettingsLine(s);
        EXPECT_FLOAT_EQ(parsed(line).exposureTime, exposure) << line;
        if (exposure < 0.2f) {
            EXPECT_NE(line.find(exposure == 0.01f ? " 0.010000 " : " 0.100000 "), std::string::npos) << line;
        }
    }
}

// Fields the line does not reach keep the values they had.
TEST(Settings, AScanStopsAtTheFirstItemThatIsNotANumber)
{
    const std::string before = "1 1 1 1 1 2 9 9 9 9 2 2 2 2 9 9 1";
    const struct {
        const char* line;
        int fieldsRead;
        Fields expected;
    } cases[] = {
        {"", 0, {1, 1, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        {"ERROR", 0, {1, 1, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        {"0 0 0 0 0", 5, {0, 0, 0, 0, 0, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        {"0 0 x 0 0", 2, {0, 0, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        {"0,0", 1, {0, 1, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        {"+1\t-0\n 0 1 1 3 .25 5", 8, {1, 0, 0, 1, 1, 3, 0.25, 5, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        {"+-1", 0, {1, 1, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        // An integer field reads the digits and leaves the rest for the next field.
        {"0 0 0 0 0 1.5", 7, {0, 0, 0, 0, 0, 1, 0.5, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        {"0 0 0 0 0 0 3e1 1 2 3 0 1 2 3 4 5 0 trailing", 17, {0, 0, 0, 0, 0, 0, 30, 1, 2, 3, 0, 1, 2, 3, 4, 5, 0}},
    };
    for (const auto& c : cases) {
        st4Settings s = parsed(before);
        EXPECT_EQ(parseSettingsLine(c.line, s), c.fieldsRead) << c.line;
        EXPECT_EQ(fields(s), c.expected) << c.line;
    }
}

// A field outside the range the program works with takes its default; the
// handles take any int.
TEST(Settings, EachFieldKeepsItsRangeEdgesAndRefusesOneBeyond)
{
    const double least = std::numeric_limits<int>::min(), most = std::numeric_limits<int>::max();
    const struct {
        std::string line;
        Fields expected;
    } cases[] = {
        {"1 1 1 1 1 3 600 99 255 255 3 3 3 3 -2147483648 2147483647 1",
         {1, 1, 1, 1, 1, 3, 600, 99, 255, 255, 3, 3, 3, 3, least, most, 1}},
        {"0 0 0 0 0 0 0.01 0 0 0 0 0 0 0 0 0 0", {0, 0, 0, 0, 0, 0, double(0.01f), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"2 2 2 2 2 4 600.5 100 256 256 4 4 4 4 -2147483649 2147483648 2", defaults},
        {"-1 -1 -1 -1 -1 -1 0.005 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1", defaults},
        {"0 0 0 1 1 99999999999999999999 0 0 0 0 0 0 0 1 -1 -1 0", defaults},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fields(parsed(c.line)), c.expected) << c.line;
    for (const char* exposure : {"0", "-2", "nan", "inf", "1e40"})
        EXPECT_FLOAT_EQ(parsed("0 0 0 1 1 0 " + std::string(exposure), 7).exposureTime, 0.5f) << exposure;
}

struct Start {
    test::TempDir dir;
    test::FakeUi ui;
    test::FakeClock clock;
    std::string ini() const { return dir.file("tarvi.ini"); }
    CTarviApp app() { return CTarviApp(ui, clock, dir.path()); }
};

// What the start makes of the file; a handle stored by an earlier run is
// dropped, and reading does not rewrite the file.
TEST(SettingsFile, TheStartReadsTheLineOrWritesTheDefaultOne)
{
    const struct {
        std::optional<std::string> content;
        std::string after;
        Fields expected;
    } cases[] = {
        {{}, section + "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n", defaults},
        {section + "ERROR\n", section + "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n", defaults},
        {section + "1 1 1 0 0\n", "", {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0}},
        {section + "1 1 1 0 0 2 1.500000 3 4 5 2 1 0 3 1234 77 0\n\n", "",
         {1, 1, 1, 0, 0, 2, 1.5, 3, 4, 5, 2, 1, 0, 3, -1, -1, 0}},
    };
    for (const auto& c : cases) {
        Start start;
        if (c.content)
            test::writeFile(start.ini(), *c.content);
        // What a write killed in an earlier run left goes; nothing else does.
        test::writeFile(start.dir.file(".tarvi-write.Xy12Ab"), "half a picture");
        test::writeFile(start.dir.file("notes.txt"), "M42 tonight");
        const CTarviApp app = start.app();
        EXPECT_EQ(fields(app.settings), c.expected);
        EXPECT_EQ(test::readFile(start.ini()), c.after.empty() ? *c.content : c.after);
        EXPECT_TRUE(start.ui.boxes.empty());
        EXPECT_FALSE(std::filesystem::exists(start.dir.file(".tarvi-write.Xy12Ab")));
        EXPECT_TRUE(std::filesystem::exists(start.dir.file("notes.txt")));
        EXPECT_EQ(app.fitsDirectory, start.dir.path());
        EXPECT_EQ(app.bmpDirectory, start.dir.path());
    }
}

TEST(SettingsFile, SavingWritesTheLineAndKeepsTheRestOfTheFile)
{
    Start start;
    const std::string ports = "[Ports]\nCOM1=sim:camera\nCOM2=sim:telescope\n\n";
    test::writeFile(start.ini(), ports + section + "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n");
    CTarviApp app = start.app();
    EXPECT_EQ(app.portMap.device(1), "sim:telescope");
    EXPECT_EQ(app.portMap.device(2), "/dev/ttyS2");
    // Saved while a port is open, the handle goes into the file...
    app.settings.cameraGain = 2;
    app.settings.cameraHandle = 3;
    app.settings.exposureTime = 2.0f;
    ASSERT_EQ(app.saveSettings(), 1);
    EXPECT_EQ(test::readFile(start.ini()), ports + section + "0 0 0 1 1 2 2.000000 0 0 0 0 0 0 1 3 -1 0\n\n");
    // ...and the next start reads everything back but the handle.
    test::FakeUi nextUi;
    const CTarviApp next(nextUi, start.clock, start.dir.path());
    EXPECT_FLOAT_EQ(next.settings.exposureTime, 2.0f);
    EXPECT_EQ(next.settings.cameraGain, 2);
    EXPECT_EQ(next.settings.cameraHandle, -1);
}

// A settings file that cannot be had: said once at the start, the defaults
// in force, the file left as it was, and later saves say no more.
TEST(SettingsFile, AFileThatCannotBeHadIsSaidOnceAndLeftAlone)
{
    ::alarm(10);  // a start that blocks on the fifo ends the run instead of hanging it
    const std::string stored = section + "0 0 0 1 1 0 2.0 0 0 0 0 0 0 1 -1 -1 0\n";
    const struct {
        std::function<void(const std::string& ini)> make;
        const char* reason;  // empty: the box names nothing
    } cases[] = {
        {[](const std::string& ini) { ::mkfifo(ini.c_str(), 0644); }, "Is a named pipe, not a regular file"},
        {[](const std::string& ini) { ::symlink("/dev/zero", ini.c_str()); }, "Is a device, not a regular file"},
        {[&](const std::string& ini) { test::writeFile(ini, stored + std::string(1 << 20, ';')); }, "Larger than 1 MiB"},
        {[](const std::string& ini) { std::filesystem::create_directory(ini); }, ""},
        {[](const std::string& ini) { std::filesystem::remove(std::filesystem::path(ini).parent_path()); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        Start start;
        c.make(start.ini());
        struct stat before {}, after {};
        const int existed = ::lstat(start.ini().c_str(), &before);
        CTarviApp app = start.app();
        test::expectOneBox(start.ui, *c.reason != '\0' ? "Cannot get settings from " + start.ini() + ":\n" + c.reason
                                                       : std::string("Cannot get settings"),
                           "Information");
        EXPECT_EQ(fields(app.settings), defaults);
        EXPECT_EQ(app.saveSettings(), 0);
        EXPECT_EQ(start.ui.boxes.size(), 1u);
        EXPECT_EQ(app.loadSettings(), 0);
        EXPECT_EQ(start.ui.boxes.size(), 2u) << "loadSettings itself always speaks";
        EXPECT_EQ(::lstat(start.ini().c_str(), &after), existed);
        EXPECT_EQ(std::pair(after.st_ino, after.st_size), std::pair(before.st_ino, before.st_size));
    }
    ::alarm(0);
}

TEST(SettingsFile, AFailedSaveIsSaidOnceAndLeavesTheFileAsItWas)
{
    const std::string stored = section + "0 0 0 1 1 0 2.000000 0 0 0 0 0 0 1 -1 -1 0\n\n";
    const struct {
        mode_t mode;
        rlim_t sizeLimit;
        const char* reason;
    } cases[] = {{0444, 0, "Permission denied"}, {0644, 10, "File too large"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        Start start;
        test::writeFile(start.ini(), stored);
        ::chmod(start.ini().c_str(), c.mode);
        CTarviApp app = start.app();
        ASSERT_TRUE(start.ui.boxes.empty());
        app.settings.exposureTime = 3.0f;
        {
            std::optional<test::FileSizeLimit> limit;
            if (c.sizeLimit != 0)
                limit.emplace(c.sizeLimit);
            EXPECT_EQ(app.saveSettings(), 0);
            EXPECT_EQ(app.saveSettings(), 0);
        }
        test::expectOneBox(start.ui, "Cannot write file " + start.ini() + ":\n" + c.reason, "File Write Error");
        EXPECT_EQ(test::readFile(start.ini()), stored);
        struct stat status {};
        ASSERT_EQ(::stat(start.ini().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.mode);
    }
}

// Values out of range read as the defaults, and writing the section leaves
// the settings line as it was.
TEST(SettingsFile, TelescopeSharingHasASectionOfItsOwn)
{
    const std::string line = section + "0 0 0 1 1 0 2.000000 0 0 0 0 0 0 1 -1 -1 0\n\n";
    const struct {
        const char* section;
        TelescopeSharing expected;
    } cases[] = {
        {"", {}},
        {"[TelescopeServer]\nShare=1\nPort=10001\nAllowOtherComputers=1\n", {true, 10001, true}},
        {"[TelescopeServer]\nShare=2\nPort=0\nAllowOtherComputers=yes\n", {}},
        {"[TelescopeServer]\nShare=1\nPort=65536\nAllowOtherComputers=-1\n", {true, 4030, false}},
        {"[TelescopeServer]\nPort=65535\n", {false, 65535, false}},
        {"[TelescopeServer]\nPort=1\n", {false, 1, false}},
        {"[TelescopeServer]\nPort=40 30\n", {}},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        test::writeFile(dir.file("tarvi.ini"), line + c.section);
        EXPECT_EQ(readTelescopeSharing(IniFile(dir.file("tarvi.ini"))), c.expected) << c.section;
    }
    test::writeFile(dir.file("tarvi.ini"), line);
    IniFile ini(dir.file("tarvi.ini"));
    ASSERT_FALSE(writeTelescopeSharing(ini, {true, 4031, false}).failed());
    EXPECT_EQ(test::readFile(dir.file("tarvi.ini")), line + "[TelescopeServer]\nShare=1\nPort=4031\nAllowOtherComputers=0\n");
}

}  // namespace
}  // namespace tarvi
