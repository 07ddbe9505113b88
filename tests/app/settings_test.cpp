#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include "app/tarvi_app.h"
#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/image_checks.h"
#include "support/temp_dir.h"

#include <ostream>

#include <cmath>
#include <limits>

namespace tarvi {
namespace {

std::vector<double> fields(const st4Settings& s)
{
    return {double(s.antiBloom),        double(s.smoothImage),      double(s.subtractDarkFrame),
            double(s.operationsInPC),   double(s.useCompression),   double(s.cameraGain),
            double(s.exposureTime),     double(s.exposureDelay),    double(s.baselineLevel),
            double(s.subtractionConstant), double(s.cameraPort),    double(s.cameraSpeed),
            double(s.cameraSpeedInUse), double(s.telescopePort),    double(s.cameraHandle),
            double(s.telescopeHandle),  double(s.downloadStop)};
}

TEST(Settings, DefaultsAreTheDefaultLine)
{
    st4Settings parsed;
    EXPECT_EQ(parseSettingsLine(defaultSettingsLine, parsed), 17);
    EXPECT_EQ(fields(parsed), fields(st4Settings::defaults()));
    EXPECT_EQ(fields(st4Settings::defaults()),
              (std::vector<double>{0, 0, 0, 1, 1, 0, 0.5, 0, 0, 0, 0, 0, 0, 1, -1, -1, 0}));
}

TEST(Settings, WriteFormatIsSeventeenNumbersWithSixDecimalsAndANewline)
{
    st4Settings s;
    s.antiBloom = 1;
    s.smoothImage = 0;
    s.subtractDarkFrame = 1;
    s.operationsInPC = 0;
    s.useCompression = 1;
    s.cameraGain = 3;
    s.exposureTime = 12.25f;
    s.exposureDelay = 99;
    s.baselineLevel = 255;
    s.subtractionConstant = 17;
    s.cameraPort = 2;
    s.cameraSpeed = 1;
    s.cameraSpeedInUse = 3;
    s.telescopePort = 3;
    s.cameraHandle = 7;
    s.telescopeHandle = -1;
    s.downloadStop = 1;
    EXPECT_EQ(formatSettingsLine(s), "1 0 1 0 1 3 12.250000 99 255 17 2 1 3 3 7 -1 1\n");
    EXPECT_EQ(formatSettingsLine(st4Settings::defaults()), "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0\n");

    s.exposureTime = 0.01f;  // the float, widened, rounds to six places as printf does
    EXPECT_NE(formatSettingsLine(s).find(" 0.010000 "), std::string::npos);
    s.exposureTime = 600.0f;
    EXPECT_NE(formatSettingsLine(s).find(" 600.000000 "), std::string::npos);
    s.exposureTime = 0.1f;
    EXPECT_NE(formatSettingsLine(s).find(" 0.100000 "), std::string::npos);
}

TEST(Settings, RoundTripsThroughTheLine)
{
    st4Settings s = st4Settings::defaults();
    for (float exposure : {0.01f, 0.5f, 1.0f, 33.33f, 599.99f, 600.0f}) {
        for (int gain = 0; gain <= 3; ++gain) {
            s.exposureTime = exposure;
            s.cameraGain = gain;
            s.cameraSpeed = 3 - gain;
            s.baselineLevel = gain * 85;
            st4Settings back;
            ASSERT_EQ(parseSettingsLine(formatSettingsLine(s), back), 17);
            EXPECT_EQ(fields(back)[5], gain);
            EXPECT_NEAR(back.exposureTime, exposure, 0.000001);
            EXPECT_EQ(back.cameraSpeed, 3 - gain);
            EXPECT_EQ(back.baselineLevel, gain * 85);
        }
    }
}

struct ScanCase {
    const char* line;
    int fieldsRead;
    std::vector<double> expected;
};

void PrintTo(const ScanCase& c, std::ostream* out)
{
    *out << '"' << c.line << '"';
}

// Fields the line does not reach keep the values they had, here all 9.
class SettingsScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(SettingsScan, StopsAtTheFirstItemThatIsNotANumber)
{
    st4Settings s;
    s.antiBloom = s.smoothImage = s.subtractDarkFrame = s.operationsInPC = s.useCompression = 1;
    s.cameraGain = 2;
    s.exposureTime = 9.0f;
    s.exposureDelay = s.baselineLevel = s.subtractionConstant = 9;
    s.cameraPort = s.cameraSpeed = s.cameraSpeedInUse = s.telescopePort = 2;
    s.cameraHandle = s.telescopeHandle = 9;
    s.downloadStop = 1;
    EXPECT_EQ(parseSettingsLine(GetParam().line, s), GetParam().fieldsRead);
    EXPECT_EQ(fields(s), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SettingsScan,
    ::testing::Values(
        ScanCase{"", 0, {1, 1, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        ScanCase{"0 0 0 0 0", 5, {0, 0, 0, 0, 0, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        ScanCase{"0 0 x 0 0", 2, {0, 0, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        ScanCase{"0,0", 1, {0, 1, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        ScanCase{"+1\t-0\n 0 1 1 3 .25 5", 8, {1, 0, 0, 1, 1, 3, 0.25, 5, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        // An integer field reads the digits and leaves the rest for the next field.
        ScanCase{"0 0 0 0 0 1.5", 7, {0, 0, 0, 0, 0, 1, 0.5, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}},
        ScanCase{"0 0 0 0 0 0 3e1 1 2 3 0 1 2 3 4 5 0 trailing", 17,
                 {0, 0, 0, 0, 0, 0, 30, 1, 2, 3, 0, 1, 2, 3, 4, 5, 0}},
        ScanCase{"ERROR", 0, {1, 1, 1, 1, 1, 2, 9, 9, 9, 9, 2, 2, 2, 2, 9, 9, 1}}));

struct RangeCase {
    const char* line;
    std::size_t field;  // 0-based position in the line
    double expected;
};

void PrintTo(const RangeCase& c, std::ostream* out)
{
    *out << '"' << c.line << "\" field " << c.field;
}

class SettingsRange : public ::testing::TestWithParam<RangeCase> {};

// A field read from the file but outside the range the program works with
// takes its default.
TEST_P(SettingsRange, OutOfRangeFieldTakesItsDefault)
{
    st4Settings s;
    parseSettingsLine(GetParam().line, s);
    EXPECT_EQ(fields(s)[GetParam().field], GetParam().expected) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SettingsRange,
    ::testing::Values(
        RangeCase{"2 0 0 1 1 0 .5", 0, 0},
        RangeCase{"0 -1 0 1 1 0 .5", 1, 0},
        RangeCase{"0 0 5 1 1 0 .5", 2, 0},
        RangeCase{"0 0 0 2 1 0 .5", 3, 1},
        RangeCase{"0 0 0 1 -3 0 .5", 4, 1},
        RangeCase{"0 0 0 1 1 -1 .5", 5, 0},            // gain index -1
        RangeCase{"0 0 0 1 1 4 .5", 5, 0},
        RangeCase{"0 0 0 1 1 3 .5", 5, 3},
        RangeCase{"0 0 0 1 1 0 0", 6, 0.5},            // exposure time 0
        RangeCase{"0 0 0 1 1 0 0.005", 6, 0.5},
        RangeCase{"0 0 0 1 1 0 0.01", 6, double(0.01f)},
        RangeCase{"0 0 0 1 1 0 600", 6, 600},
        RangeCase{"0 0 0 1 1 0 600.5", 6, 0.5},
        RangeCase{"0 0 0 1 1 0 -2", 6, 0.5},
        RangeCase{"0 0 0 1 1 0 nan", 6, 0.5},
        RangeCase{"0 0 0 1 1 0 inf", 6, 0.5},
        RangeCase{"0 0 0 1 1 0 1e40", 6, 0.5},
        RangeCase{"0 0 0 1 1 0 .5 100", 7, 0},
        RangeCase{"0 0 0 1 1 0 .5 99", 7, 99},
        RangeCase{"0 0 0 1 1 0 .5 0 256", 8, 0},
        RangeCase{"0 0 0 1 1 0 .5 0 0 -1", 9, 0},
        RangeCase{"0 0 0 1 1 0 .5 0 0 0 4", 10, 0},
        RangeCase{"0 0 0 1 1 0 .5 0 0 0 0 7", 11, 0},   // speed index 7
        RangeCase{"0 0 0 1 1 0 .5 0 0 0 0 0 -1", 12, 0},
        RangeCase{"0 0 0 1 1 0 .5 0 0 0 0 0 0 9", 13, 1},
        RangeCase{"0 0 0 1 1 0 .5 0 0 0 0 0 0 1 1234", 14, 1234},  // handles are not checked here
        RangeCase{"0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 2", 16, 0},
        RangeCase{"0 0 0 1 1 99999999999999999999", 5, 0}));

// A settings file refused for what it is: named at the start, the defaults
// in force, the file left as it was, and later saves say no more.
TEST(SettingsFile, ARefusedFileIsNamedOnceAndLeftAlone)
{
    ::alarm(10);  // a start that blocks on the fifo ends the run instead of hanging it
    const std::string stored = "[st4Settings150]\nValues=0 0 0 1 1 0 2.0 0 0 0 0 0 0 1 -1 -1 0\n";
    const struct {
        const char* what;
        std::function<void(const std::string& ini)> make;
        const char* reason;
    } cases[] = {
        {"fifo", [](const std::string& ini) { ::mkfifo(ini.c_str(), 0644); }, "Is a named pipe, not a regular file"},
        {"link to /dev/zero", [](const std::string& ini) { ::symlink("/dev/zero", ini.c_str()); },
         "Is a device, not a regular file"},
        {"over 1 MiB", [&](const std::string& ini) { test::writeFile(ini, stored + std::string(1 << 20, ';')); },
         "Larger than 1 MiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string ini = dir.file("tarvi.ini");
        c.make(ini);
        struct stat before {}, after {};
        ASSERT_EQ(::lstat(ini.c_str(), &before), 0);
        test::FakeUi ui;
        test::FakeClock clock;
        CTarviApp app(ui, clock, dir.path());
        test::expectOneBox(ui, "Cannot get settings from " + ini + ":\n" + c.reason, "Information");
        EXPECT_FLOAT_EQ(app.settings.exposureTime, 0.5f);
        EXPECT_EQ(app.saveSettings(), 0);
        EXPECT_EQ(ui.boxes.size(), 1u);
        ASSERT_EQ(::lstat(ini.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
    }
    ::alarm(0);
}

TEST(SettingsFile, AFailedSaveIsSaidOnceAndLeavesTheFileAsItWas)
{
    const std::string stored = "[st4Settings150]\nValues=0 0 0 1 1 0 2.000000 0 0 0 0 0 0 1 -1 -1 0\n\n";
    const struct {
        const char* what;
        mode_t mode;
        rlim_t sizeLimit;
        const char* reason;
    } cases[] = {{"read-only", 0444, 0, "Permission denied"}, {"full disk", 0644, 10, "File too large"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string ini = dir.file("tarvi.ini");
        test::writeFile(ini, stored);
        ::chmod(ini.c_str(), c.mode);
        test::FakeUi ui;
        test::FakeClock clock;
        CTarviApp app(ui, clock, dir.path());
        ASSERT_TRUE(ui.boxes.empty());
        app.settings.exposureTime = 3.0f;
        {
            std::optional<test::FileSizeLimit> limit;
            if (c.sizeLimit != 0)
                limit.emplace(c.sizeLimit);
            EXPECT_EQ(app.saveSettings(), 0);
            EXPECT_EQ(app.saveSettings(), 0);
        }
        test::expectOneBox(ui, "Cannot write file " + ini + ":\n" + c.reason, "File Write Error");
        EXPECT_EQ(test::readFile(ini), stored);
        struct stat status {};
        ASSERT_EQ(::stat(ini.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.mode);
    }
}

// The telescope's sharing lives in a section of its own: values out of range
// read as the defaults, and writing it leaves the settings line as it was.
TEST(SettingsFile, TelescopeSharingHasASectionOfItsOwn)
{
    const struct {
        const char* section;
        TelescopeSharing expected;
    } cases[] = {
        {"", {}},
        {"[TelescopeServer]\nShare=1\nPort=10001\nAllowOtherComputers=1\n", {true, 10001, true}},
        {"[TelescopeServer]\nShare=2\nPort=0\nAllowOtherComputers=yes\n", {}},
        {"[TelescopeServer]\nShare=1\nPort=65536\n", {true, 4030, false}},
        {"[TelescopeServer]\nPort=65535\n", {false, 65535, false}},
        {"[TelescopeServer]\nPort=40 30\n", {}},
    };
    const std::string line = "[st4Settings150]\nValues=0 0 0 1 1 0 2.000000 0 0 0 0 0 0 1 -1 -1 0\n\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        test::TempDir dir;
        test::writeFile(dir.file("tarvi.ini"), line + c.section);
        IniFile ini(dir.file("tarvi.ini"));
        EXPECT_EQ(readTelescopeSharing(ini), c.expected);
    }
    test::TempDir dir;
    test::writeFile(dir.file("tarvi.ini"), line);
    IniFile ini(dir.file("tarvi.ini"));
    ASSERT_FALSE(writeTelescopeSharing(ini, {true, 4031, false}).failed());
    EXPECT_EQ(test::readFile(dir.file("tarvi.ini")),
              line + "[TelescopeServer]\nShare=1\nPort=4031\nAllowOtherComputers=0\n");
}

}  // namespace
}  // namespace tarvi
