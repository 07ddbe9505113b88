#include "telescope/catalogs.h"

#include <gtest/gtest.h>

#include <string>

#include "telescope/objects_file.h"

namespace tarvi {
namespace {

TEST(CatalogItems, NineInComboOrder)
{
    const std::array<std::string_view, 9> expected{"STAR", "SAO", "GCVS", "Messier", "NGC", "CNGC", "IC", "UGC", ""};
    EXPECT_EQ(catalogItems, expected);
    EXPECT_EQ(catalogItems[emptyCatalogItem], "");
}

struct CatalogCase {
    const char* catalog;
    const char* number;
    const char* selection;
    const char* object;
};

void PrintTo(const CatalogCase& c, std::ostream* os)
{
    *os << '"' << c.catalog << "\" " << c.number;
}

class CatalogCommandTable : public testing::TestWithParam<CatalogCase> {};

TEST_P(CatalogCommandTable, SelectionThenObject)
{
    const auto request = catalogRequest(GetParam().catalog, GetParam().number);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->selection, GetParam().selection);
    EXPECT_EQ(request->object, GetParam().object);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogs, CatalogCommandTable,
    testing::Values(CatalogCase{"STAR", "905", ":Ls 0#", ":LS 905#"}, CatalogCase{"SAO", "1234", ":Ls 1#", ":LS 1234#"},
                    CatalogCase{"GCVS", "7", ":Ls 2#", ":LS 7#"}, CatalogCase{"CNGC", "224", ":Lo 0#", ":LC 224#"},
                    CatalogCase{"NGC", "224", ":Lo 0#", ":LC 224#"}, CatalogCase{"IC", "434", ":Lo 1#", ":LC 434#"},
                    CatalogCase{"UGC", "12", ":Lo 2#", ":LC 12#"}, CatalogCase{"Messier", "42", "", ":LM 42#"},
                    CatalogCase{"Messier", "042", "", ":LM 042#"},
                    // Names match exactly, so these select nothing and send nothing.
                    CatalogCase{"messier", "42", "", ""}, CatalogCase{"NGC ", "42", "", ""},
                    CatalogCase{"", "42", "", ""}));

TEST(ObjectNumber, OnlyDigitsAndNotEmpty)
{
    for (const char* number : {"", " 42", "42 ", "4a", "-1", "1.5", "+7"})
        EXPECT_EQ(catalogRequest("STAR", number), std::nullopt) << '"' << number << '"';
    EXPECT_EQ(objectNumberRefusedMessage, "Object number is not a number.  Operation cancelled.");
}

TEST(ObjectNumber, ThePlanetNumbersWaitInEveryCatalog)
{
    struct WaitCase {
        const char* number;
        int waitMs;
    };
    for (const WaitCase& c : {WaitCase{"900", 0}, WaitCase{"901", 1000}, WaitCase{"905", 1000}, WaitCase{"909", 1000},
                              WaitCase{"910", 0}, WaitCase{"0905", 1000}, WaitCase{"9050", 0}, WaitCase{"9", 0},
                              WaitCase{"000", 0}, WaitCase{"99999999999999999999905", 0}}) {
        for (std::string_view catalog : catalogItems) {
            const auto request = catalogRequest(catalog, c.number);
            ASSERT_TRUE(request.has_value());
            EXPECT_EQ(request->objectInfoWaitMs, c.waitMs) << catalog << ' ' << c.number;
        }
    }
}

TEST(ObjectInfo, TooRefuses)
{
    EXPECT_TRUE(objectInfoRefused("Too Low"));
    EXPECT_TRUE(objectInfoRefused("Too"));
    EXPECT_FALSE(objectInfoRefused("too low"));
    EXPECT_FALSE(objectInfoRefused("M42 EN NEB"));
    EXPECT_FALSE(objectInfoRefused(""));
}

TEST(ListedObject, FixedColumnsOfTheSelection)
{
    const ObjectRow m42{"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion Nebula"};
    const ListedObject object = listedObject(objectSelection(m42));
    EXPECT_EQ(object.name, "M42" + std::string(22, ' '));
    EXPECT_EQ(object.ra, "05:35:16");
    EXPECT_EQ(object.dec, "-05:23:14");

    const ListedObject none = listedObject("");
    EXPECT_EQ(none.name, "");
    EXPECT_EQ(none.ra, "");
    EXPECT_EQ(none.dec, "");

    // Too long a name pushes the coordinates out of their columns.
    const ObjectRow longName{std::string(30, 'N'), "05:35:16", "-05:23:14", "", "", ""};
    const ListedObject shifted = listedObject(objectSelection(longName));
    EXPECT_EQ(shifted.ra, "NNNN 05:");
    EXPECT_EQ(goToCheck(shifted.ra, shifted.dec), GoToCheck::malformed);

    // A short selection gives what there is, never more.
    EXPECT_EQ(listedObject("Vega" + std::string(22, ' ') + "18:36").ra, "18:36");
}

TEST(GoToCheck, MissingMalformedReady)
{
    EXPECT_EQ(goToCheck("", "+22:00:52"), GoToCheck::missing);
    EXPECT_EQ(goToCheck("00:00:00", ""), GoToCheck::missing);
    EXPECT_EQ(goToCheck("12:34", "+22:00:52"), GoToCheck::malformed);
    EXPECT_EQ(goToCheck("12:34:56", "+22:00"), GoToCheck::malformed);
    EXPECT_EQ(goToCheck("00:00:00", "+22:00:52"), GoToCheck::ready);
    EXPECT_EQ(goToCheck("24:00:00", "+99:00:00"), GoToCheck::ready);
}

struct Buttons {
    bool get;
    bool goTo;
    bool sync;
};

void expectButtons(const ObjectsPageState& s, Buttons b)
{
    EXPECT_EQ(s.getEnabled, b.get);
    EXPECT_EQ(s.goToEnabled, b.goTo);
    EXPECT_EQ(s.syncEnabled, b.sync);
}

TEST(ObjectsPageStates, CatalogObjectFoundThenNumberChanged)
{
    ObjectsPageState s = objectsPageInitialised();
    EXPECT_EQ(s.catalogIndex, 0);
    EXPECT_EQ(s.catalog, "STAR");
    expectButtons(s, {false, false, false});

    s = afterCatalogChange(s, 3);
    EXPECT_EQ(s.catalog, "Messier");
    s = afterNumberChange(s, "42");
    EXPECT_EQ(s.objectNumber, "42");
    expectButtons(s, {true, false, false});

    s = afterGetStarted(s);
    s = afterObjectFound(s, "05:35:16", "-05:23:14");
    EXPECT_EQ(s.ra, "05:35:16");
    EXPECT_EQ(s.dec, "-05:23:14");
    expectButtons(s, {true, true, true});

    // A new number clears the coordinates; Sync stays as it was.
    s = afterNumberChange(s, "43");
    EXPECT_EQ(s.ra, "");
    EXPECT_EQ(s.dec, "");
    expectButtons(s, {true, false, true});
}

TEST(ObjectsPageStates, RefusedObjectAndCatalogChange)
{
    ObjectsPageState s = afterNumberChange(objectsPageInitialised(), "905");
    s = afterObjectFound(afterGetStarted(s), "12:00:00", "+10:00:00");
    s = afterObjectRefused(afterGetStarted(s));
    EXPECT_EQ(s.ra, "");
    EXPECT_EQ(s.dec, "");
    expectButtons(s, {true, false, true});

    s = afterObjectFound(s, "12:00:00", "+10:00:00");
    s.listedName = "leftover";
    s = afterCatalogChange(s, 4);
    EXPECT_EQ(s.catalog, "NGC");
    EXPECT_EQ(s.ra, "");
    EXPECT_EQ(s.listedName, "");
    expectButtons(s, {true, false, true});
}

TEST(ObjectsPageStates, ListChosenThenNumberTyped)
{
    ObjectsPageState s = afterNumberChange(objectsPageInitialised(), "42");
    s = afterObjectFound(s, "05:35:16", "-05:23:14");
    s = afterListOpened(s);
    EXPECT_FALSE(s.getEnabled);

    const ObjectRow vega{"Vega", "18:36:56", "+38:47:01", "0.0", "", ""};
    s = afterListChosen(s, objectSelection(vega));
    EXPECT_EQ(s.catalogIndex, emptyCatalogItem);
    EXPECT_EQ(s.catalog, "");
    EXPECT_EQ(s.objectNumber, "");
    EXPECT_EQ(s.ra, "18:36:56");
    EXPECT_EQ(s.dec, "+38:47:01");
    EXPECT_EQ(s.listedName, "Vega" + std::string(21, ' '));
    expectButtons(s, {false, true, false});
    EXPECT_EQ(goToCheck(s.ra, s.dec), GoToCheck::ready);

    // With the empty item selected, typing a number leaves Get off.
    s = afterNumberChange(s, "7");
    expectButtons(s, {false, false, false});
}

TEST(ObjectsPageStates, ListWithNothingChosenOrCancelled)
{
    ObjectsPageState s = afterListChosen(afterListOpened(objectsPageInitialised()), "");
    EXPECT_EQ(s.ra, "");
    EXPECT_EQ(s.dec, "");
    expectButtons(s, {false, true, false});
    EXPECT_EQ(goToCheck(s.ra, s.dec), GoToCheck::missing);

    // Cancel: Get stays off until a number is typed with a catalog chosen.
    s = afterListOpened(objectsPageInitialised());
    expectButtons(s, {false, false, false});
    s = afterNumberChange(s, "1");
    expectButtons(s, {true, false, false});

    // The empty item picked by hand works like the list's.
    s = afterNumberChange(afterCatalogChange(afterListOpened(objectsPageInitialised()), emptyCatalogItem), "1");
    EXPECT_FALSE(s.getEnabled);
    EXPECT_EQ(afterCatalogChange(s, -1).catalog, "");
}

}  // namespace
}  // namespace tarvi
