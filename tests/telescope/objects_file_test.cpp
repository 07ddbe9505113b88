#include "telescope/objects_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tarvi {
namespace {

const char* const m42Line = "M42 05:35:16 -05:23:14 4.0 85 Orion Nebula, great in any telescope";
const ObjectRow m42{"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion Nebula, great in any telescope"};

struct LineCase {
    std::string line;
    ObjectRow row;
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << testing::PrintToString(c.line);
}

class ObjectLine : public testing::TestWithParam<LineCase> {};

TEST_P(ObjectLine, SixFields)
{
    EXPECT_EQ(splitObjectLine(GetParam().line), GetParam().row);
    EXPECT_EQ(readObjectRows(GetParam().line), std::vector<ObjectRow>{GetParam().row});
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ObjectLine,
    testing::Values(LineCase{m42Line, m42},
                    LineCase{"  \tM42\t05:35:16  \t -05:23:14 4.0 85   Orion  Nebula  ",
                             {"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion  Nebula  "}},
                    LineCase{"M42 05:35:16", {"M42", "05:35:16", "", "", "", ""}},
                    LineCase{"M42 05:35:16 -05:23:14 4.0 85", {"M42", "05:35:16", "-05:23:14", "4.0", "85", ""}},
                    LineCase{"M42 05:35:16 -05:23:14 4.0 85   ", {"M42", "05:35:16", "-05:23:14", "4.0", "85", ""}},
                    LineCase{"a b c d e f\tg h", {"a", "b", "c", "d", "e", "f\tg h"}},
                    LineCase{"   ", {}}));

TEST(ObjectsText, EveryLineARow)
{
    // The second line is blank and gives an empty row.
    const std::vector<ObjectRow> rows = readObjectRows(std::string(m42Line) + "\n\nM31 00:42:44 +41:16:09 3.4 178\n");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], m42);
    EXPECT_EQ(rows[1], ObjectRow{});
    EXPECT_EQ(rows[2], (ObjectRow{"M31", "00:42:44", "+41:16:09", "3.4", "178", ""}));
}

TEST(ObjectsText, LineEnds)
{
    EXPECT_TRUE(readObjectRows("").empty());
    EXPECT_EQ(readObjectRows("\n").size(), 1u);
    const auto names = [](const std::vector<ObjectRow>& rows) {
        std::vector<std::string> out;
        for (const ObjectRow& row : rows)
            out.push_back(row.name);
        return out;
    };
    EXPECT_EQ(names(readObjectRows("a\r\nb\r\n")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(names(readObjectRows("a\rb")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(names(readObjectRows("a\r\n\r\nb")), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(names(readObjectRows("a\n\rb")), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(readObjectRows("a b c d e other data\r\n")[0].otherData, "other data");
    EXPECT_EQ(splitObjectLine("a b c d e rest\r\n").otherData, "rest");
}

TEST(ObjectsText, ALongLineStaysOneRow)
{
    const std::string other(5000, 'x');
    const std::vector<ObjectRow> rows = readObjectRows("Long 01:02:03 +04:05:06 1 2 " + other + "\nNext");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].otherData, other);
    EXPECT_EQ(rows[1].name, "Next");
}

TEST(ObjectSelection, FixedWidthColumns)
{
    const std::string selection = objectSelection(m42);
    EXPECT_EQ(selection, "M42                       05:35:16 -05:23:14");
    EXPECT_EQ(selection.size(), 44u);
    EXPECT_EQ(objectSelection(ObjectRow{}), std::string(44, ' ').replace(25, 1, " "));

    // Longer values are not cut.
    const ObjectRow longName{std::string(30, 'N'), "05:35:16", "-05:23:14", "", "", ""};
    EXPECT_EQ(objectSelection(longName), std::string(30, 'N') + " 05:35:16 -05:23:14");
    EXPECT_EQ(objectSelection(ObjectRow{"Vega", "18:36", "+38:47", "", "", ""}),
              "Vega                      18:36    +38:47   ");
}

TEST(ObjectsFile, ReadFromDisk)
{
    test::TempDir dir;
    const std::string path = dir.file("objects.txt");
    test::writeFile(path, std::string(m42Line) + "\r\n\r\nM31 00:42:44 +41:16:09 3.4 178 Andromeda\r\n");
    const auto rows = readObjectsFile(path);
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[0], m42);
    EXPECT_EQ((*rows)[1], ObjectRow{});
    EXPECT_EQ((*rows)[2].otherData, "Andromeda");

    test::writeFile(path, "");
    ASSERT_TRUE(readObjectsFile(path).has_value());
    EXPECT_TRUE(readObjectsFile(path)->empty());
}

TEST(ObjectsFile, RefusedWithoutWaitingAndSaidWhy)
{
    ::alarm(10);  // a read that blocks on the fifo ends the run instead of hanging it
    test::TempDir dir;
    test::writeFile(dir.file("big.txt"), std::string(m42Line) + "\n" + std::string(1 << 20, ' '));
    ::mkfifo(dir.file("fifo.txt").c_str(), 0644);
    const struct {
        std::string path;
        const char* message;
    } cases[] = {
        {dir.file("objects.txt"), "Cannot open objects.txt."},
        {dir.path(), "Cannot open objects.txt.\nIs a directory"},
        {dir.file("fifo.txt"), "Cannot open objects.txt.\nIs a named pipe, not a regular file"},
        {dir.file("big.txt"), "Cannot open objects.txt.\nLarger than 1 MiB"},
    };
    for (const auto& c : cases) {
        FileError error;
        EXPECT_EQ(readObjectsFile(c.path, &error), std::nullopt) << c.path;
        EXPECT_EQ(objectsFileMessage(error), c.message);
    }
    ::alarm(0);
}

}  // namespace
}  // namespace tarvi
