// The objects page's catalog requests and the objects file it lists.
#include "telescope/objects_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "telescope/catalogs.h"

namespace tarvi {
namespace {

const char* const m42Line = "M42 05:35:16 -05:23:14 4.0 85 Orion Nebula, great in any telescope";
const ObjectRow m42{"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion Nebula, great in any telescope"};

TEST(CatalogRequest, SelectionThenObjectByExactName)
{
    const struct {
        const char *catalog, *number, *selection, *object;
    } cases[] = {
        {"STAR", "905", ":Ls 0#", ":LS 905#"}, {"SAO", "1234", ":Ls 1#", ":LS 1234#"}, {"GCVS", "7", ":Ls 2#", ":LS 7#"},
        {"CNGC", "224", ":Lo 0#", ":LC 224#"}, {"NGC", "224", ":Lo 0#", ":LC 224#"}, {"IC", "434", ":Lo 1#", ":LC 434#"},
        {"UGC", "12", ":Lo 2#", ":LC 12#"}, {"Messier", "42", "", ":LM 42#"}, {"Messier", "042", "", ":LM 042#"},
        // Names match exactly, so these select nothing and send nothing.
        {"messier", "42", "", ""}, {"NGC ", "42", "", ""}, {"", "42", "", ""},
    };
    for (const auto& c : cases) {
        const auto request = catalogRequest(c.catalog, c.number);
        ASSERT_TRUE(request.has_value()) << c.catalog;
        EXPECT_EQ(request->selection, c.selection) << c.catalog;
        EXPECT_EQ(request->object, c.object) << c.catalog;
    }
    for (const char* number : {"", " 42", "42 ", "4a", "-1", "1.5", "+7"})
        EXPECT_EQ(catalogRequest("STAR", number), std::nullopt) << '"' << number << '"';
}

TEST(CatalogRequest, ThePlanetNumbersWaitInEveryCatalogAndTooRefuses)
{
    const std::pair<const char*, int> waits[] = {
        {"900", 0}, {"901", 1000}, {"909", 1000}, {"910", 0}, {"0905", 1000}, {"9050", 0}, {"99999999999999999999905", 0},
    };
    for (const auto& [number, waitMs] : waits) {
        for (std::string_view catalog : catalogItems) {
            const auto request = catalogRequest(catalog, number);
            ASSERT_TRUE(request.has_value());
            EXPECT_EQ(request->objectInfoWaitMs, waitMs) << catalog << ' ' << number;
        }
    }
    for (const auto& [reply, refused] :
         {std::pair{"Too Low", true}, {"Too", true}, {"too low", false}, {"M42 EN NEB", false}, {"", false}})
        EXPECT_EQ(objectInfoRefused(reply), refused) << reply;
}

TEST(ListedObject, FixedColumnsOfTheSelectionAndTheGoToCheck)
{
    EXPECT_EQ(objectSelection({"Vega", "18:36", "+38:47", "", "", ""}), "Vega                      18:36    +38:47   ");
    // Too long a name pushes the coordinates out of their columns.
    const ListedObject shifted = listedObject(objectSelection({std::string(30, 'N'), "05:35:16", "-05:23:14", "", "", ""}));
    EXPECT_EQ(shifted.ra, "NNNN 05:");
    EXPECT_EQ(goToCheck(shifted.ra, shifted.dec), GoToCheck::malformed);
    // A short selection gives what there is, never more.
    EXPECT_EQ(listedObject("Vega" + std::string(22, ' ') + "18:36").ra, "18:36");

    const struct {
        const char *ra, *dec;
        GoToCheck check;
    } checks[] = {
        {"00:00:00", "", GoToCheck::missing}, {"12:34", "+22:00:52", GoToCheck::malformed},
        {"24:00:00", "+99:00:00", GoToCheck::ready},
    };
    for (const auto& c : checks)
        EXPECT_EQ(goToCheck(c.ra, c.dec), c.check) << c.ra << " " << c.dec;
}

TEST(ObjectsText, SixFieldsALineAndEveryLineEnd)
{
    const std::pair<std::string, ObjectRow> lines[] = {
        {m42Line, m42},
        {"  \tM42\t05:35:16  \t -05:23:14 4.0 85   Orion  Nebula  ",
         {"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion  Nebula  "}},
        {"M42 05:35:16", {"M42", "05:35:16", "", "", "", ""}},
        {"M42 05:35:16 -05:23:14 4.0 85   ", {"M42", "05:35:16", "-05:23:14", "4.0", "85", ""}},
        {"a b c d e f\tg h", {"a", "b", "c", "d", "e", "f\tg h"}},
        {"   ", {}},
    };
    for (const auto& [line, row] : lines) {
        EXPECT_EQ(splitObjectLine(line), row) << line;
        EXPECT_EQ(readObjectRows(line), std::vector<ObjectRow>{row}) << line;
    }
    const auto names = [](std::string_view text) {
        std::vector<std::string> out;
        for (const ObjectRow& row : readObjectRows(text))
            out.push_back(row.name);
        return out;
    };
    using Names = std::vector<std::string>;
    const std::pair<const char*, Names> ends[] = {
        {"", {}}, {"\n", {""}}, {"a\r\nb\r\n", {"a", "b"}}, {"a\rb", {"a", "b"}}, {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}}, {"a\n\nb\n", {"a", "", "b"}},
    };
    for (const auto& [text, expected] : ends)
        EXPECT_EQ(names(text), expected) << testing::PrintToString(text);
    EXPECT_EQ(splitObjectLine("a b c d e rest\r\n").otherData, "rest");
    const std::string other(5000, 'x');
    const std::vector<ObjectRow> rows = readObjectRows("Long 01:02:03 +04:05:06 1 2 " + other + "\nNext");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].otherData, other);
    EXPECT_EQ(rows[1].name, "Next");
}

TEST(ObjectsFile, ReadFromDiskOrRefusedWithoutWaitingAndSaidWhy)
{
    test::TempDir dir;
    const std::string path = dir.file("objects.txt");
    test::writeFile(path, std::string(m42Line) + "\r\n\r\nM31 00:42:44 +41:16:09 3.4 178 Andromeda\r\n");
    const auto rows = readObjectsFile(path);
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(*rows, (std::vector<ObjectRow>{m42, {}, {"M31", "00:42:44", "+41:16:09", "3.4", "178", "Andromeda"}}));

    ::alarm(10);  // a read that blocks on the fifo ends the run instead of hanging it
    test::writeFile(dir.file("big.txt"), std::string(m42Line) + "\n" + std::string(1 << 20, ' '));
    ::mkfifo(dir.file("fifo.txt").c_str(), 0644);
    const std::pair<std::string, const char*> refusals[] = {
        {dir.file("none.txt"), "Cannot open objects.txt."},
        {dir.path(), "Cannot open objects.txt.\nIs a directory"},
        {dir.file("fifo.txt"), "Cannot open objects.txt.\nIs a named pipe, not a regular file"},
        {dir.file("big.txt"), "Cannot open objects.txt.\nLarger than 1 MiB"},
    };
    for (const auto& [refused, message] : refusals) {
        FileError error;
        EXPECT_EQ(readObjectsFile(refused, &error), std::nullopt) << refused;
        EXPECT_EQ(objectsFileMessage(error), message);
    }
    ::alarm(0);
}

}  // namespace
}  // namespace tarvi
