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
        {"900", 0}, {"901", 1000}, {"905", 1000}, {"909", 1000}, {"910", 0}, {"0905", 1000}, {"9050", 0}, {"9", 0},
        {"000", 0}, {"99999999999999999999905", 0},
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
    const ListedObject object = listedObject(objectSelection({"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion"}));
    EXPECT_EQ(object.name, "M42" + std::string(22, ' '));
    EXPECT_EQ(object.ra + object.dec, "05:35:16-05:23:14");
    const ListedObject none = listedObject("");
    EXPECT_EQ(none.name + none.ra + none.dec, "");
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
        {"", "+22:00:52", GoToCheck::missing},        {"00:00:00", "", GoToCheck::missing},
        {"12:34", "+22:00:52", GoToCheck::malformed}, {"12:34:56", "+22:00", GoToCheck::malformed},
        {"00:00:00", "+22:00:52", GoToCheck::ready},  {"24:00:00", "+99:00:00", GoToCheck::ready},
    };
    for (const auto& c : checks)
        EXPECT_EQ(goToCheck(c.ra, c.dec), c.check) << c.ra << " " << c.dec;
}

// Get, Go To and Sync enabled.
void expectButtons(const ObjectsPageState& s, bool get, bool goTo, bool sync)
{
    EXPECT_EQ(s.getEnabled, get);
    EXPECT_EQ(s.goToEnabled, goTo);
    EXPECT_EQ(s.syncEnabled, sync);
}

TEST(ObjectsPageStates, CatalogObjectFoundRefusedAndNumberChanged)
{
    ObjectsPageState s = objectsPageInitialised();
    EXPECT_EQ(s.catalogIndex, 0);
    EXPECT_EQ(s.catalog, "STAR");
    expectButtons(s, false, false, false);
    s = afterNumberChange(afterCatalogChange(s, 3), "42");
    EXPECT_EQ(s.catalog + s.objectNumber, "Messier42");
    expectButtons(s, true, false, false);
    s = afterObjectFound(afterGetStarted(s), "05:35:16", "-05:23:14");
    EXPECT_EQ(s.ra + s.dec, "05:35:16-05:23:14");
    expectButtons(s, true, true, true);
    // A new number clears the coordinates; Sync stays as it was.
    s = afterNumberChange(s, "43");
    EXPECT_EQ(s.ra + s.dec, "");
    expectButtons(s, true, false, true);

    s = afterObjectFound(afterGetStarted(s), "12:00:00", "+10:00:00");
    s = afterObjectRefused(afterGetStarted(s));
    EXPECT_EQ(s.ra + s.dec, "");
    expectButtons(s, true, false, true);
    s = afterObjectFound(s, "12:00:00", "+10:00:00");
    s.listedName = "leftover";
    s = afterCatalogChange(s, 4);
    EXPECT_EQ(s.catalog, "NGC");
    EXPECT_EQ(s.ra + s.listedName, "");
    expectButtons(s, true, false, true);
}

TEST(ObjectsPageStates, ListChosenNothingChosenOrCancelled)
{
    ObjectsPageState s = afterObjectFound(afterNumberChange(objectsPageInitialised(), "42"), "05:35:16", "-05:23:14");
    s = afterListOpened(s);
    EXPECT_FALSE(s.getEnabled);
    s = afterListChosen(s, objectSelection({"Vega", "18:36:56", "+38:47:01", "0.0", "", ""}));
    EXPECT_EQ(s.catalogIndex, emptyCatalogItem);
    EXPECT_EQ(s.catalog + s.objectNumber, "");
    EXPECT_EQ(s.ra + s.dec, "18:36:56+38:47:01");
    EXPECT_EQ(s.listedName, "Vega" + std::string(21, ' '));
    expectButtons(s, false, true, false);
    // With the empty item selected, typing a number leaves Get off.
    expectButtons(afterNumberChange(s, "7"), false, false, false);

    s = afterListChosen(afterListOpened(objectsPageInitialised()), "");
    EXPECT_EQ(s.ra + s.dec, "");
    expectButtons(s, false, true, false);
    EXPECT_EQ(goToCheck(s.ra, s.dec), GoToCheck::missing);
    // Cancel: Get stays off until a number is typed with a catalog chosen.
    s = afterListOpened(objectsPageInitialised());
    expectButtons(s, false, false, false);
    expectButtons(afterNumberChange(s, "1"), true, false, false);
    // The empty item picked by hand works like the list's.
    s = afterNumberChange(afterCatalogChange(afterListOpened(objectsPageInitialised()), emptyCatalogItem), "1");
    EXPECT_FALSE(s.getEnabled);
    EXPECT_EQ(afterCatalogChange(s, -1).catalog, "");
}

}  // namespace
}  // namespace tarvi
