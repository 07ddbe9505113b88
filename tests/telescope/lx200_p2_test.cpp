// The objects page against a scripted telescope and a clock that does not
// wait, on Qt's offscreen platform; the object list is replaced by a choice,
// except where the list itself is tested. The list reads objects.txt from the
// current directory, a fresh temporary one in each test.
#include "telescope/lx200_p2.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/dialog_helpers.h"
#include "support/temp_dir.h"
#include "telescope/object_list.h"
#include "telescope/objects_file.h"
#include "telescope/scripted_telescope.h"

namespace tarvi {
namespace {

using test::Strings;
using Flags = std::vector<bool>;

class ObjectsPageP2Test : public ::testing::Test, protected test::ScriptedTelescope {
protected:
    std::optional<std::string> listChoice;
    std::unique_ptr<LX200P2> page;
    std::size_t waitsMarked = 0;
    test::TempDir dir;
    std::filesystem::path startDirectory = std::filesystem::current_path();

    void SetUp() override
    {
        std::filesystem::current_path(dir.path());
        replies = {{":LI#", {"M42 EN NEBULA#"}}, {":Gr#", {"05:35:16#"}}, {":Gd#", {"-05\xDF" "23:14#"}}, {":MS#", {"0"}}};
        // Marks where in the traffic each wait fell, and how many replies
        // had been read by then.
        ui.clock = &clock;
        clock.onSleep = [this](std::int64_t) {
            if (clock.waits.size() == waitsMarked)
                return;
            waitsMarked = clock.waits.size();
            script->writes.push_back(test::bytesOf("wait after read " + std::to_string(script->readSizes.size())));
        };
        page = std::make_unique<LX200P2>(ui, clock, line);
        page->chooseObject = [this] { return listChoice; };
        page->setPort(addPort());
    }
    void TearDown() override { std::filesystem::current_path(startDirectory); }
    // The traffic since the last look.
    Strings sent()
    {
        const Strings out = ScriptedTelescope::sent();
        script->writes.clear();
        return out;
    }
    Strings boxes()
    {
        Strings out;
        for (const auto& box : ui.boxes)
            out.push_back(box.caption + ": " + box.text);
        ui.boxes.clear();
        return out;
    }
    Flags getGoToSync() const
    {
        return {page->getButton()->isEnabled(), page->goToButton()->isEnabled(), page->syncButton()->isEnabled()};
    }
    void getObject(int catalog, const char* number)
    {
        page->catalogBox()->setCurrentIndex(catalog);
        emit page->catalogBox()->activated(catalog);
        page->numberEdit()->clear();
        QTest::keyClicks(page->numberEdit(), QString::fromLatin1(number));
        page->getButton()->click();
    }
    void listObject(const char* ra, const char* dec)
    {
        listChoice = objectSelection({"Vega", ra, dec, "", "", ""});
        page->listButton()->click();
    }
};

TEST_F(ObjectsPageP2Test, GetSendsTheCatalogCommandsAndWaitsForThePlanetNumbersOrSendsNothing)
{
    EXPECT_EQ(getGoToSync(), (Flags{false, false, false}));
    const std::vector<std::tuple<int, const char*, Strings, std::vector<std::size_t>>> cases{
        {3, "42", {":LM 42#", ":LI#", ":Gr#", ":Gd#"}, {513, 100, 100}},
        {0, "905", {":Ls 0#", ":LS 905#", ":LI#", "wait after read 1", ":Gr#", ":Gd#"}, {50, 513, 100, 100}},
        {7, "910", {":Lo 2#", ":LC 910#", ":LI#", ":Gr#", ":Gd#"}, {50, 513, 100, 100}},
    };
    for (const auto& [catalog, number, traffic, reads] : cases) {
        script->readSizes.clear();
        clock.clearSleeps();
        waitsMarked = 0;
        getObject(catalog, number);
        EXPECT_EQ(sent(), traffic) << number;
        EXPECT_EQ(script->readSizes, reads) << number;
        EXPECT_EQ(clock.waits, traffic.size() == 6 ? std::vector<std::int64_t>{1000} : std::vector<std::int64_t>{})
            << number;
        EXPECT_EQ(page->raEdit()->text() + page->decEdit()->text(), "05:35:16-05:23:14");
        EXPECT_EQ(getGoToSync(), (Flags{true, true, true}));
    }
    EXPECT_TRUE(boxes().empty());

    // A bad number, an unknown catalog or a closed port send nothing.
    const std::string refused = "Tarvi: Object number is not a number.  Operation cancelled.";
    for (const auto& [catalog, number, shown] :
         {std::tuple{"Messier", "4a", Strings{refused}}, {"ngc", "42", Strings{}}}) {
        page->catalogBox()->setEditText(QString::fromLatin1(catalog));
        QTest::keyClicks(page->numberEdit(), "1");
        page->numberEdit()->setText(QString::fromLatin1(number));
        page->getButton()->click();
        EXPECT_EQ(sent(), Strings{}) << catalog << number;
        EXPECT_EQ(boxes(), shown) << catalog << number;
        EXPECT_EQ(page->catalogBox()->currentText(), QString::fromLatin1(catalog));
    }
    page->haltButton()->click();
    EXPECT_EQ(sent(), Strings{":Q#"});

    page->setPort(PortTable::closed);
    getObject(3, "42");
    EXPECT_EQ(sent(), Strings{});
    EXPECT_EQ(boxes(), Strings{"ERROR: Telescope port is not open."});
}

TEST_F(ObjectsPageP2Test, DeclinationDegreeSignComesBackIntoGoToSyncAsksAndTooRefuses)
{
    replies[":Gd#"] = {"+22\xDF" "00:52#"};
    getObject(3, "13");
    EXPECT_EQ(page->decEdit()->text(), "+22:00:52");
    sent();
    script->readSizes.clear();
    page->goToButton()->click();
    EXPECT_EQ(sent(), (Strings{":Sr05:35:15#", ":Sd+22\xDF" "00:52#", ":MS#"}));
    EXPECT_EQ(script->readSizes, (std::vector<std::size_t>{50, 50, 100}));

    // Sync asks first and goes only on Yes.
    for (const Answer answer : {Answer::yes, Answer::no}) {
        ui.answers = {answer};
        page->syncButton()->click();
        EXPECT_EQ(boxes(), Strings{"Sync: Are you sure you want to SYNC?"});
        EXPECT_EQ(sent(), answer == Answer::yes ? Strings{":CM#"} : Strings{});
    }
    EXPECT_EQ(script->readSizes.back(), 100u);

    // "Too" in the object information refuses the object.
    replies[":LI#"] = {"Too Low#"};
    page->getButton()->click();
    EXPECT_EQ(sent(), (Strings{":LM 13#", ":LI#"}));
    EXPECT_EQ(boxes(), Strings{"Tarvi: Too Low"});
    EXPECT_EQ(page->raEdit()->text() + page->decEdit()->text(), "");
    EXPECT_EQ(getGoToSync(), (Flags{true, false, true}));
}

TEST_F(ObjectsPageP2Test, ListedObjectClearsTheCatalogTypingLeavesGetOffAndGoToSendsOnlyTheFixedForms)
{
    getObject(3, "42");
    listObject("18:36:56", "+38:47:01");
    EXPECT_EQ(page->catalogBox()->currentIndex(), 8);
    EXPECT_EQ(page->catalogBox()->currentText() + page->numberEdit()->text(), "");
    EXPECT_EQ(page->raEdit()->text() + page->decEdit()->text(), "18:36:56+38:47:01");
    EXPECT_EQ(page->listedNameEdit()->text(), QString("Vega").leftJustified(25));
    EXPECT_EQ(getGoToSync(), (Flags{false, true, false}));

    QTest::keyClicks(page->numberEdit(), "7");
    EXPECT_EQ(getGoToSync(), (Flags{false, false, false}));
    EXPECT_EQ(page->raEdit()->text(), "");

    // A catalog picked again empties the name; Cancel then leaves Get off.
    listObject("18:36:56", "+38:47:01");
    getObject(4, "224");
    EXPECT_EQ(page->listedNameEdit()->text(), "");
    listChoice.reset();
    page->listButton()->click();
    EXPECT_EQ(page->catalogBox()->currentText() + page->numberEdit()->text(), "NGC224");
    EXPECT_EQ(getGoToSync(), (Flags{false, true, true}));

    // Go To sends only the fixed forms and shows the telescope's refusal.
    sent();
    // A null ra: OK with no row selected.
    struct Case { const char *ra, *dec, *slew; Strings traffic, shown; };
    const Strings go{":Sr23:59:59#", ":Sd+10\xDF" "00:00#", ":MS#"};
    const std::vector<Case> cases{
        {"00:00:00", "+10:00:00", "0", go, {}},
        {"24:00:00", "+10:00:00", "1Below Horizon.#", go, {"Cannot Slew to the current object: Below Horizon."}},
        {"12:34:56", "+22:00", "0", {}, {}},
        {nullptr, nullptr, "0", {}, {"I'm not going anywhere like this...: GO TO coordinates not available..."}},
    };
    for (const Case& c : cases) {
        replies[":MS#"] = {c.slew};
        listChoice = c.ra ? objectSelection({"Vega", c.ra, c.dec, "", "", ""}) : "";
        page->listButton()->click();
        page->goToButton()->click();
        EXPECT_EQ(sent(), c.traffic) << c.slew;
        if (!ui.boxes.empty()) {
            EXPECT_EQ(ui.boxes[0].style.noOwner, c.ra != nullptr);
        }
        EXPECT_EQ(boxes(), c.shown) << c.slew;
    }
}

TEST_F(ObjectsPageP2Test, TheListShowsEveryLineOfObjectsTxtAndHandsBackTheChosenRowInFixedWidth)
{
    {
        objectList missing(ui);
        EXPECT_EQ(boxes(), Strings{"Problem: Cannot open objects.txt."});
        EXPECT_EQ(missing.list()->topLevelItemCount(), 0);
    }
    const std::string m42Line = "M42 05:35:16 -05:23:14 4.0 85 Orion Nebula, great in any telescope";
    const std::string comet = "Comet_with_a_thirty_letter_nam 01:02:03 +04:05:06";
    test::writeFile(dir.file("objects.txt"), comet + "\n" + m42Line + "\n\r\nG\xDCnther 1 2\n");
    {
        objectList dialog(ui);
        QTreeWidget* list = dialog.list();
        std::vector<QStringList> rows;
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            rows.emplace_back();
            for (int c = 0; c < 6; ++c)
                rows.back() << list->topLevelItem(r)->text(c);
        }
        const std::vector<QStringList> expected{
            {"Comet_with_a_thirty_letter_nam", "01:02:03", "+04:05:06", "", "", ""},
            {"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion Nebula, great in any telescope"},
            QStringList(6, QString()),
            {QString::fromUtf8("G\u00DCnther"), "1", "2", "", "", ""},  // a Latin-1 file
        };
        EXPECT_EQ(rows, expected);
        EXPECT_TRUE(ui.boxes.empty());
    }

    const std::string m42 = "M42                       05:35:16 -05:23:14";  // 25 + 1 + 8 + 1 + 9
    const std::vector<std::tuple<int, bool, std::string>> cases{
        {1, true, m42}, {0, false, comet}, {-1, false, ""},
        {-1, true, ""},  // below the last row
    };
    for (const auto& [row, doubleClick, selection] : cases) {
        objectList dialog(ui);
        dialog.show();
        QTreeWidget* list = dialog.list();
        if (doubleClick) {
            // A double click reaches the list as a click, then the double click.
            const QPoint at = row >= 0 ? list->visualItemRect(list->topLevelItem(row)).center()
                                       : list->viewport()->rect().bottomLeft() + QPoint(20, -5);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        } else {
            if (row >= 0)
                list->topLevelItem(row)->setSelected(true);
            test::buttonNamed(dialog, "OK")->click();
        }
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.selection, selection) << row;
    }

    // A page of its own runs the list as a modal dialog and takes its choice.
    LX200P2 listing(ui, clock, line);
    test::whenModal<objectList>([](objectList& dialog) {
        dialog.list()->topLevelItem(1)->setSelected(true);
        test::buttonNamed(dialog, "OK")->click();
    });
    listing.listButton()->click();
    EXPECT_EQ(listing.raEdit()->text() + listing.decEdit()->text(), "05:35:16-05:23:14");
    EXPECT_EQ(listing.listedNameEdit()->text(), QString("M42").leftJustified(25));
}

}  // namespace
}  // namespace tarvi
