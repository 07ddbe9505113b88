#include "app/tarvi_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::readFile;
using test::writeFile;

class TarviAppTest : public ::testing::Test {
protected:
    test::FakeUi ui;
    test::FakeClock clock;
    test::TempDir dir;

    std::string ini() const { return dir.file("tarvi.ini"); }
};

TEST_F(TarviAppTest, FirstStartWritesTheDefaultLineAndUsesComOneAndComTwo)
{
    CTarviApp app(ui, clock, dir.path());
    EXPECT_EQ(app.iniPath, dir.path() + "/tarvi.ini");
    EXPECT_EQ(readFile(ini()), "[st4Settings150]\nValues=0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(app.settings.cameraPort, 0);
    EXPECT_EQ(app.settings.telescopePort, 1);
    EXPECT_EQ(app.settings.operationsInPC, 1);
    EXPECT_EQ(app.settings.useCompression, 1);
    EXPECT_FLOAT_EQ(app.settings.exposureTime, 0.5f);
    EXPECT_EQ(app.settings.cameraHandle, -1);
    EXPECT_EQ(app.settings.telescopeHandle, -1);
}

TEST_F(TarviAppTest, ValueErrorIsTreatedLikeAMissingKey)
{
    writeFile(ini(), "[st4Settings150]\nValues=ERROR\n");
    CTarviApp app(ui, clock, dir.path());
    EXPECT_EQ(readFile(ini()), "[st4Settings150]\nValues=0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(app.settings.telescopePort, 1);
    EXPECT_FLOAT_EQ(app.settings.exposureTime, 0.5f);
}

TEST_F(TarviAppTest, SaveWritesSixDecimalsAndATrailingNewline)
{
    CTarviApp app(ui, clock, dir.path());
    EXPECT_EQ(app.saveSettings(), 1);
    EXPECT_EQ(readFile(ini()), "[st4Settings150]\nValues=0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0\n\n");
    EXPECT_EQ(IniFile(ini()).readString("st4Settings150", "Values", "ERROR"),
              "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0");

    // Saved while a port is open, the handle goes into the file...
    app.settings.cameraHandle = 3;
    app.settings.exposureTime = 2.0f;
    ASSERT_EQ(app.saveSettings(), 1);
    EXPECT_EQ(readFile(ini()), "[st4Settings150]\nValues=0 0 0 1 1 0 2.000000 0 0 0 0 0 0 1 3 -1 0\n\n");
    // ...and the next start reads everything back but the handle.
    test::FakeUi nextUi;
    CTarviApp next(nextUi, clock, dir.path());
    EXPECT_FLOAT_EQ(next.settings.exposureTime, 2.0f);
    EXPECT_EQ(next.settings.cameraHandle, -1);
}

TEST_F(TarviAppTest, StoredHandlesAreClosedAtStart)
{
    writeFile(ini(), "[st4Settings150]\nValues=1 1 1 0 0 2 1.500000 3 4 5 2 1 0 3 1234 77 0\n\n");
    // What a write killed in an earlier run left goes; nothing else does.
    writeFile(dir.file(".tarvi-write.Xy12Ab"), "half a picture");
    writeFile(dir.file("notes.txt"), "M42 tonight");
    CTarviApp app(ui, clock, dir.path());
    EXPECT_FALSE(std::filesystem::exists(dir.file(".tarvi-write.Xy12Ab")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("notes.txt")));
    EXPECT_EQ(app.settings.cameraHandle, -1);
    EXPECT_EQ(app.settings.telescopeHandle, -1);
    EXPECT_EQ(app.settings.cameraGain, 2);
    EXPECT_FLOAT_EQ(app.settings.exposureTime, 1.5f);
    EXPECT_EQ(app.settings.cameraPort, 2);
    EXPECT_EQ(app.settings.telescopePort, 3);
    // Reading does not rewrite the file.
    EXPECT_EQ(readFile(ini()), "[st4Settings150]\nValues=1 1 1 0 0 2 1.500000 3 4 5 2 1 0 3 1234 77 0\n\n");
}

TEST_F(TarviAppTest, FiveNumbersSetTheFirstFiveFieldsAndLeaveTheRestAtZero)
{
    writeFile(ini(), "[st4Settings150]\nValues=1 1 1 0 0\n");
    CTarviApp app(ui, clock, dir.path());
    const st4Settings& s = app.settings;
    EXPECT_EQ(s.antiBloom, 1);
    EXPECT_EQ(s.smoothImage, 1);
    EXPECT_EQ(s.subtractDarkFrame, 1);
    EXPECT_EQ(s.operationsInPC, 0);
    EXPECT_EQ(s.useCompression, 0);
    EXPECT_EQ(s.cameraGain, 0);
    EXPECT_EQ(s.exposureTime, 0.0f);
    EXPECT_EQ(s.exposureDelay, 0);
    EXPECT_EQ(s.baselineLevel, 0);
    EXPECT_EQ(s.subtractionConstant, 0);
    EXPECT_EQ(s.cameraPort, 0);
    EXPECT_EQ(s.cameraSpeed, 0);
    EXPECT_EQ(s.cameraSpeedInUse, 0);
    EXPECT_EQ(s.telescopePort, 0);
    EXPECT_EQ(s.cameraHandle, -1);
    EXPECT_EQ(s.telescopeHandle, -1);
    EXPECT_EQ(s.downloadStop, 0);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(TarviAppTest, OutOfRangeValuesFallBackSilently)
{
    writeFile(ini(), "[st4Settings150]\nValues=0 0 0 1 1 -1 0 0 300 0 6 7 -2 4 -1 -1 0\n");
    CTarviApp app(ui, clock, dir.path());
    EXPECT_EQ(app.settings.cameraGain, 0);
    EXPECT_FLOAT_EQ(app.settings.exposureTime, 0.5f);
    EXPECT_EQ(app.settings.baselineLevel, 0);
    EXPECT_EQ(app.settings.cameraPort, 0);
    EXPECT_EQ(app.settings.cameraSpeed, 0);
    EXPECT_EQ(app.settings.cameraSpeedInUse, 0);
    EXPECT_EQ(app.settings.telescopePort, 1);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(TarviAppTest, UnwritableDirectorySaysCannotGetSettingsOnceAndRunsOnDefaults)
{
    const std::string missing = dir.file("gone");
    CTarviApp app(ui, clock, missing);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot get settings");
    EXPECT_EQ(ui.boxes[0].caption, "Information");
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::ok);
    EXPECT_TRUE(ui.boxes[0].style.noOwner);
    EXPECT_EQ(app.settings.operationsInPC, 1);
    EXPECT_EQ(app.settings.telescopePort, 1);
    EXPECT_FLOAT_EQ(app.settings.exposureTime, 0.5f);
    EXPECT_EQ(app.settings.cameraHandle, -1);

    // Later saves fail without a word.
    EXPECT_EQ(app.saveSettings(), 0);
    EXPECT_EQ(app.loadSettings(), 0);
    EXPECT_EQ(ui.boxes.size(), 2u);  // loadSettings itself always speaks
}

TEST_F(TarviAppTest, SettingsFileThatIsADirectoryCannotBeWritten)
{
    std::filesystem::create_directory(ini());
    CTarviApp app(ui, clock, dir.path());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot get settings");
    EXPECT_EQ(app.settings.useCompression, 1);
}

TEST_F(TarviAppTest, SavingKeepsTheRestOfTheFile)
{
    writeFile(ini(), "[Ports]\nCOM1=sim:camera\nCOM2=sim:telescope\n\n[st4Settings150]\nValues=0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n");
    CTarviApp app(ui, clock, dir.path());
    EXPECT_EQ(app.portMap.device(0), "sim:camera");
    EXPECT_EQ(app.portMap.device(1), "sim:telescope");
    EXPECT_EQ(app.portMap.device(2), "/dev/ttyS2");
    app.settings.cameraGain = 2;
    ASSERT_EQ(app.saveSettings(), 1);
    EXPECT_EQ(readFile(ini()),
              "[Ports]\nCOM1=sim:camera\nCOM2=sim:telescope\n\n[st4Settings150]\n"
              "Values=0 0 0 1 1 2 0.500000 0 0 0 0 0 0 1 -1 -1 0\n\n");
}

TEST_F(TarviAppTest, ProgramWideValuesStartAsTheProgramExpects)
{
    CTarviApp app(ui, clock, dir.path());
    EXPECT_EQ(app.startDirectory, dir.path());
    EXPECT_EQ(app.displaySize, 1.0);
    EXPECT_EQ(app.captureDisplaySize, 1.0);
    EXPECT_EQ(app.nextWindowX, 0);
    EXPECT_EQ(app.nextWindowY, 0);
    EXPECT_EQ(app.nextWindowWidth, 0);
    EXPECT_EQ(app.nextWindowHeight, 0);
    EXPECT_EQ(app.currentView, nullptr);
    EXPECT_EQ(app.colorsSaved, 0);
    EXPECT_EQ(app.autosaveName, "F-0001.bmp");
    EXPECT_EQ(app.autoCenter, 0);
    EXPECT_EQ(app.newWindowPerImage, 1);
    EXPECT_EQ(app.autosaveFits, 0);
    EXPECT_EQ(app.autosaveBmp, 0);
    EXPECT_EQ(app.fitsDirectory, dir.path());
    EXPECT_EQ(app.bmpDirectory, dir.path());
    EXPECT_EQ(app.quietComm, 0);
    EXPECT_EQ(app.stopRequested, 0);
    EXPECT_EQ(app.averagedFrameCount, 0);
    EXPECT_EQ(app.gamma1, 1.0);
    EXPECT_EQ(app.gamma2, 1.0);
    EXPECT_TRUE(std::all_of(app.darkFrame.begin(), app.darkFrame.end(), [](auto v) { return v == 0; }));
    EXPECT_EQ(app.darkFrame.size(), 192u * 165u);
}

}  // namespace
}  // namespace tarvi
