#include "platform/ini_file.h"

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/port_map.h"
#include "support/image_checks.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::namesIn;
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
    writeFile(path, "; settings\r\n[ First ]\r\n  Key One  =  spaced value  \r\nquoted=\"  kept blanks  \"\r\n"
                    "single='x'\r\nlonely\"=\"\r\nempty=\r\nlong=" + std::string(300, 'x') + "\n"
                    "[second]\nKEY=upper\nkey=later duplicate\n[Other]\nValues=1 2 3\n");
    const struct {
        const char* section;
        const char* key;
        std::size_t size;
        std::string expected;
    } cases[] = {
        {"Missing", "Values", 256, "ERROR"},
        {"Other", "Values", 256, "1 2 3"},
        {"First", "Key One", 256, "spaced value"},      // blanks around names and values go
        {"FIRST", "key one", 256, "spaced value"},      // names match without regard to case
        {"first", "quoted", 256, "  kept blanks  "},    // one pair of quotes comes off
        {"first", "single", 256, "x"},
        {"first", "lonely\"", 256, "\""},               // a lone quote stays
        {"first", "empty", 256, ""},                    // present but empty is not missing
        {"Second", "key", 256, "upper"},                // the first of two wins
        {"second", "Key One", 256, "ERROR"},            // keys belong to their own section
        {"first", "long", 256, std::string(255, 'x')},  // cut to the buffer less its terminator
        {"first", "long", 4, "xxx"},
        {"first", "long", 0, ""},
        {"first", "missing", 3, "ER"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.readString(c.section, c.key, "ERROR", c.size), c.expected) << c.section << "/" << c.key;
}

// Each row: the file before (none when null), the writes, the file after.
TEST_F(IniFileTest, WritesChangeOnlyTheirKeyAndKeepEverythingElseInPlace)
{
    const std::string values = "0 0 0 1 1 0 0.500000 0 0 0 0 0 0 1 -1 -1 0";
    const struct {
        const char* before;
        std::vector<std::array<std::string, 3>> writes;
        std::string after;
    } cases[] = {
        {nullptr, {{"st4Settings150", "Values", values}}, "[st4Settings150]\nValues=" + values + "\n"},
        // A value ending in a newline leaves one empty line, however often it is saved.
        {nullptr, std::vector(3, std::array<std::string, 3>{"st4Settings150", "Values", values + "\n"}),
         "[st4Settings150]\nValues=" + values + "\n\n"},
        {"# by hand\n[Ports]\nCOM1=/dev/ttyUSB0\n\n[st4Settings150]\nBefore=1\nValues=old\nAfter=2\n\n[Last]\nValues=x\n",
         {{"ST4SETTINGS150", "values", "new"}},
         "# by hand\n[Ports]\nCOM1=/dev/ttyUSB0\n\n[st4Settings150]\nBefore=1\nvalues=new\nAfter=2\n\n[Last]\nValues=x\n"},
        // A new key goes at the end of its section, before the blank lines.
        {"[a]\nx=1\n\n[b]\ny=2\n", {{"a", "z", "3"}, {"c", "w", "4"}}, "[a]\nx=1\nz=3\n\n[b]\ny=2\n[c]\nw=4\n"},
        {"[a]\nx=1", {{"a", "x", "2"}}, "[a]\nx=2\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.before != nullptr)
            writeFile(path, c.before);
        for (const auto& [section, key, value] : c.writes)
            ASSERT_FALSE(ini.writeString(section, key, value).failed());
        EXPECT_EQ(readFile(path), c.after);
    }
    ASSERT_FALSE(ini.writeString("s", "v", values + "\n").failed());
    EXPECT_EQ(ini.readString("s", "v", "ERROR"), values);  // without its newline
}

// A reader that opened the old file keeps reading it; a link stays a link.
TEST_F(IniFileTest, WriteReplacesTheFileAtomicallyAndLeavesNoTemporaryFile)
{
    const std::string target = dir.file("real.ini");
    writeFile(target, "[a]\nx=1\n");
    ::chmod(target.c_str(), 0640);
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    std::ifstream oldReader(target);
    ASSERT_FALSE(ini.writeString("a", "x", "2").failed());
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "the file was rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    std::string oldText((std::istreambuf_iterator<char>(oldReader)), {});
    EXPECT_EQ(oldText, "[a]\nx=1\n");
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFile(target), "[a]\nx=2\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// Whatever stands at the settings file's name stays exactly as it was when
// it cannot be read or written; nothing waits on a fifo or a device.
TEST(IniFileRefusals, LeaveTheFileAsItWasAndSayWhy)
{
    ::alarm(10);  // a read or write that blocks ends the test run instead of hanging it
    const struct {
        const char* what;
        std::function<void(const std::string& path)> make;
        const char* readsAs;
        const char* problem;  // "" for none
        const char* writeError;
        rlim_t sizeLimit = 0;
    } cases[] = {
        {"fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }, "ERROR",
         "Is a named pipe, not a regular file", "Is a named pipe, not a regular file"},
        {"link to /dev/zero", [](const std::string& p) { ::symlink("/dev/zero", p.c_str()); }, "ERROR",
         "Is a device, not a regular file", "Is a device, not a regular file"},
        {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }, "ERROR", "Is a directory",
         "Is a directory"},
        {"over 1 MiB", [](const std::string& p) { writeFile(p, "[a]\nx=1\n" + std::string(1 << 20, ';')); },
         "ERROR", "Larger than 1 MiB", "Larger than 1 MiB"},
        {"read-only", [](const std::string& p) { writeFile(p, "[a]\nx=1\n"), ::chmod(p.c_str(), 0444); }, "1", "",
         "Permission denied"},
        {"full disk", [](const std::string& p) { writeFile(p, "[a]\nx=1\n"); }, "1", "", "File too large", 4},
        {"directory not there", [](const std::string&) {}, "ERROR", "", "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = std::string(c.what) == "directory not there" ? dir.file("gone/tarvi.ini")
                                                                              : dir.file("tarvi.ini");
        c.make(path);
        struct stat before {}, after {};
        const int found = ::lstat(path.c_str(), &before);
        IniFile ini(path);
        EXPECT_EQ(ini.readString("a", "x", "ERROR"), c.readsAs);
        EXPECT_EQ(ini.problem().failed() ? ini.problem().text() : "", c.problem);
        {
            std::optional<test::FileSizeLimit> limit;
            if (c.sizeLimit != 0)
                limit.emplace(c.sizeLimit);
            EXPECT_EQ(ini.writeString("a", "x", "2").text(), c.writeError);
        }
        ASSERT_EQ(::lstat(path.c_str(), &after), found);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(namesIn(dir.path()).size(), found == 0 ? 1u : 0u);
    }
    ::alarm(0);
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(FileReplacement, EitherTemporaryReplacesTheWholeFileOrNothing)
{
    for (const auto temporary : {FileReplacement::Temporary::unnamedWhereSupported, FileReplacement::Temporary::named}) {
        TempDir dir;
        const std::string path = dir.file("frame.bmp");
        writeFile(path, "old");
        ::chmod(path.c_str(), 0640);
        {
            FileReplacement file(path, temporary);
            ASSERT_FALSE(file.begin().failed());
            test::FileSizeLimit limit(4);
            EXPECT_EQ(writeAll(file.fd(), {bytesOf("new content")}).text(), "File too large");
        }
        EXPECT_EQ(readFile(path), "old");
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"frame.bmp"});

        FileReplacement file(path, temporary);
        ASSERT_FALSE(file.begin().failed());
        ASSERT_FALSE(writeAll(file.fd(), {bytesOf("new "), bytesOf("content")}).failed());
        ASSERT_FALSE(file.commit().failed());
        EXPECT_EQ(readFile(path), "new content");
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0640u);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"frame.bmp"});
    }
}

TEST(FileReplacement, ATemporaryLeftByAKilledWriterGoesWithTheNextWriteIntoItsDirectory)
{
    TempDir dir;
    const pid_t child = ::fork();
    if (child == 0) {
        FileReplacement file(dir.file("a.bmp"), FileReplacement::Temporary::named);
        if (!file.begin().failed())
            (void)writeAll(file.fd(), {bytesOf("part of a picture")});
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(namesIn(dir.path()).size(), 1u);

    // A writer still at work keeps its temporary through another's clean-up.
    FileReplacement working(dir.file("b.bmp"), FileReplacement::Temporary::named);
    ASSERT_FALSE(working.begin().failed());
    ASSERT_FALSE(replaceFile(dir.file("c.bmp"), "c").failed());
    ASSERT_FALSE(working.commit().failed());
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"b.bmp", "c.bmp"}));
}

// COM1 to COM4 with no file, then with a Ports section; an empty entry keeps the default.
TEST_F(IniFileTest, PortsSectionNamesTheDevicesAndTheRestAreTheSerialDevices)
{
    const std::string text = "[Ports]\nCOM1=/dev/serial/by-id/usb-0403_6001-if00\ncom2 = sim:telescope\nCOM3=\n"
                             "COM4=tcp:127.0.0.1:4030\n";
    const std::vector<std::string> devices[] = {{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"},
        {"/dev/serial/by-id/usb-0403_6001-if00", "sim:telescope", "/dev/ttyS2", "tcp:127.0.0.1:4030"}};
    for (const bool withFile : {false, true}) {
        if (withFile)
            writeFile(path, text);
        const PortMap map = PortMap::read(IniFile(path));
        EXPECT_EQ((std::vector<std::string>{map.device(0), map.device(1), map.device(2), map.device(3)}), devices[withFile]);
        EXPECT_TRUE(map.device(4).empty() && map.device(-1).empty());
    }
    EXPECT_EQ(readFile(path), text);
    EXPECT_EQ(PortMap::portName(3), "com4");
}

TEST(PortTable, HandlesNameOpenPortsUntilClosedAndAreNeverReused)
{
    PortTable table;
    const auto script = std::make_shared<test::PortScript>();
    const int first = table.add(std::make_unique<test::ScriptedPort>(script));
    const int second = table.add(std::make_unique<test::ScriptedPort>(std::make_shared<test::PortScript>()));
    EXPECT_TRUE(first != PortTable::closed && first != second && table.find(first) != nullptr);
    EXPECT_TRUE(table.close(first) && script->closed && table.find(first) == nullptr);
    EXPECT_FALSE(table.close(first) || table.close(PortTable::closed));
    const int third = table.add(std::make_unique<test::ScriptedPort>(std::make_shared<test::PortScript>()));
    EXPECT_TRUE(third != first && third != second && table.size() == 2u);
    EXPECT_EQ(table.add(nullptr), PortTable::closed);
}

}  // namespace
}  // namespace tarvi
