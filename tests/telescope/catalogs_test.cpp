#include "telescope/catalogs.h"

#include <gtest/gtest.h>

#include <string>

#include "telescope/objects_file.h"

namespace tarvi {
namespace {

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

}  // namespace
}  // namespace tarvi
