#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <filesystem>

#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

class IniFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("tarvi.ini");
    IniFile ini{path};
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(ini.readString("st4Settings150", "Values", "ERROR"), "ERROR");
    writeFile(path, "[Other]\nValues=1 2 3\n[st4Settings150]\nName=x\n");
    EXPECT_EQ(ini.readString("Missing", "Values", "ERROR"), "ERROR");
    EXPECT_EQ(ini.readString("st4Settings150", "Values", "ERROR"), "ERROR");
    EXPECT_EQ(ini.readString("Other", "Values", "ERROR"), "1 2 3");
}

TEST_F(IniFileTest, ReadsTheWayProfileStringsAreRead)
{
    writeFile(path,
              "; settings\r\n"
              "[ First ]\r\n"
              "  Key One  =  spaced value  \r\n"
              "quoted=\"  kept blanks  \"\r\n"
              "single='x'\r\n"
              "lonely\"=\"\r\n"
              "empty=\r\n"
              "[second]\n"
              "KEY=upper\n"
              "key=later duplicate\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"First", "Key One", "spaced value"},       // blanks around names and values go
        {"FIRST", "key one", "spaced value"},       // names match without regard to case
        {"first", "quoted", "  kept blanks  "},     // one pair of quotes comes off
        {"first", "single", "x"},
        {"first", "lonely\"", "\""},                // a lone quote stays
        {"first", "empty", ""},                     // present but empty is not missing
        {"Second", "key", "upper"},                 // the first of two wins
        {"second", "Key One", "default"},           // keys belong to their own section
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.readString(c.section, c.key, "default"), c.expected) << c.section << "/" << c.key;
}

TEST_F(IniFileTest, ValueIsCutToTheBufferLessItsTerminator)
{
    const std::string longValue(300, 'x');
    ASSERT_FALSE(ini.writeString("s", "k", longValue).failed());
    EXPECT_EQ(ini.readString("s", "k", "d"), std::string(255, 'x'));
    EXPECT_EQ(ini.readString("s", "k", "d", 4), "xxx");
    EXPECT_EQ(ini.readString("s", "k", "d", 0), "");
    EXPECT_EQ(ini.readString("s", "missing", "ERROR", 3), "ER");
}

TEST_F(IniFileTest, FirstWriteCreatesFileSectionAndKey)
{
    ASSERT_FALSE(ini.writeString("st4Settings150", "Values", "0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0").failed());
    EXPECT_EQ(readFile(path), "[st4Settings150]\nValues=0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n");
}

TEST_F(IniFileTest, ValueEndingInNewlineLeavesAnEmptyLineAndReadsBackWithoutIt)
{
    const std::string value = "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0\n";
    ASSERT_FALSE(ini.writeString("st4Settings150", "Values", value).failed());
    EXPECT_EQ(readFile(path), "[st4Settings150]\nValues=" + value + "\n");
    EXPECT_EQ(ini.readString("st4Settings150", "Values", "ERROR"), "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0");

    // Saving again and again does not pile up empty lines.
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(ini.writeString("st4Settings150", "Values", value).failed());
    EXPECT_EQ(readFile(path), "[st4Settings150]\nValues=" + value + "\n");
}

TEST_F(IniFileTest, WriteKeepsEveryOtherSectionKeyAndTheirOrder)
{
    const std::string before =
        "# written by hand\n"
        "[Ports]\n"
        "COM1=/dev/ttyUSB0\n"
        "COM2=sim:telescope\n"
        "\n"
        "[st4Settings150]\n"
        "Before=1\n"
        "Values=old\n"
        "After=2\n"
        "\n"
        "[Last]\n"
        "Values=untouched\n";
    writeFile(path, before);
    ASSERT_FALSE(ini.writeString("ST4SETTINGS150", "values", "new").failed());
    EXPECT_EQ(readFile(path),
              "# written by hand\n"
              "[Ports]\n"
              "COM1=/dev/ttyUSB0\n"
              "COM2=sim:telescope\n"
              "\n"
              "[st4Settings150]\n"
              "Before=1\n"
              "values=new\n"
              "After=2\n"
              "\n"
              "[Last]\n"
              "Values=untouched\n");
}

TEST_F(IniFileTest, NewKeyGoesAtTheEndOfItsSectionBeforeTheBlankLines)
{
    writeFile(path, "[a]\nx=1\n\n[b]\ny=2\n");
    ASSERT_FALSE(ini.writeString("a", "z", "3").failed());
    ASSERT_FALSE(ini.writeString("c", "w", "4").failed());
    EXPECT_EQ(readFile(path), "[a]\nx=1\nz=3\n\n[b]\ny=2\n[c]\nw=4\n");
}

TEST_F(IniFileTest, FileWithoutFinalLineEndGetsOne)
{
    writeFile(path, "[a]\nx=1");
    ASSERT_FALSE(ini.writeString("a", "x", "2").failed());
    EXPECT_EQ(readFile(path), "[a]\nx=2\n");
}

TEST_F(IniFileTest, WriteReplacesTheFileAtomicallyAndLeavesNoTemporaryFile)
{
    writeFile(path, "[a]\nx=1\n");
    ::chmod(path.c_str(), 0640);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    // A reader that opened the old file keeps reading the old content.
    std::ifstream oldReader(path);

    ASSERT_FALSE(ini.writeString("a", "x", "2").failed());

    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "the file was rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    std::string oldLine;
    std::getline(oldReader, oldLine);
    std::getline(oldReader, oldLine);
    EXPECT_EQ(oldLine, "x=1");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(IniFileTest, WriteThroughASymbolicLinkChangesTheFileItPointsTo)
{
    const std::string target = dir.file("real.ini");
    writeFile(target, "[a]\nx=1\n");
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    ASSERT_FALSE(ini.writeString("a", "x", "2").failed());
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFile(target), "[a]\nx=2\n");
}

TEST_F(IniFileTest, UnwritablePlacesMakeTheWriteFailAndChangeNothing)
{
    IniFile inMissingDirectory(dir.file("no/such/dir/tarvi.ini"));
    EXPECT_TRUE(inMissingDirectory.writeString("a", "x", "1").failed());
    EXPECT_EQ(inMissingDirectory.readString("a", "x", "ERROR"), "ERROR");

    std::filesystem::create_directory(path);
    const SysError error = ini.writeString("a", "x", "1");
    EXPECT_TRUE(error.failed());
    EXPECT_FALSE(error.text().empty());
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(ini.readString("a", "x", "ERROR"), "ERROR");
}

}  // namespace
}  // namespace tarvi
