// The object list reads objects.txt from the current directory, which each
// test points at a fresh temporary directory.
#include "telescope/object_list.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

#include "support/dialog_helpers.h"
#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "telescope/lx200_p2.h"

namespace tarvi {
namespace {

const std::string m42Line = "M42 05:35:16 -05:23:14 4.0 85 Orion Nebula, great in any telescope";

class ObjectListTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    std::filesystem::path startDirectory = std::filesystem::current_path();

    void SetUp() override { std::filesystem::current_path(dir.path()); }
    void TearDown() override { std::filesystem::current_path(startDirectory); }
};

TEST_F(ObjectListTest, EveryLineIsARowOfSixColumnsAndAMissingFileIsSaid)
{
    {
        objectList missing(ui);
        EXPECT_EQ(ui.boxes.at(0).caption + ": " + ui.boxes[0].text, "Problem: Cannot open objects.txt.");
        EXPECT_EQ(missing.list()->topLevelItemCount(), 0);
        ui.boxes.clear();
    }
    test::writeFile(dir.file("objects.txt"), m42Line + "\n\r\nG\xDCnther 1 2\n");
    objectList dialog(ui);
    QTreeWidget* list = dialog.list();
    std::vector<QStringList> rows;
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        rows.emplace_back();
        for (int c = 0; c < 6; ++c)
            rows.back() << list->topLevelItem(r)->text(c);
    }
    const std::vector<QStringList> expected{
        {"M42", "05:35:16", "-05:23:14", "4.0", "85", "Orion Nebula, great in any telescope"},
        QStringList(6, QString()),
        {QString::fromUtf8("G\u00DCnther"), "1", "2", "", "", ""},  // a Latin-1 file
    };
    EXPECT_EQ(rows, expected);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ObjectListTest, OkOrADoubleClickHandsBackTheChosenRowInFixedWidth)
{
    test::writeFile(dir.file("objects.txt"), "Comet_with_a_thirty_letter_nam 01:02:03 +04:05:06\n" + m42Line + "\n");
    const std::string m42 = "M42                       05:35:16 -05:23:14";  // 25 + 1 + 8 + 1 + 9
    const std::vector<std::tuple<int, bool, std::string>> cases{
        {1, true, m42}, {0, false, "Comet_with_a_thirty_letter_nam 01:02:03 +04:05:06"}, {-1, false, ""},
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
}

TEST_F(ObjectListTest, ObjectsPageRunsTheListAndTakesItsChoice)
{
    test::writeFile(dir.file("objects.txt"), m42Line + "\n");
    test::FakeClock clock;
    PortTable ports;
    int lineHandle = PortTable::closed;
    PortOwner line{ui, ports, lineHandle};
    LX200P2 page(ui, clock, line);
    test::whenModal<objectList>([](objectList& dialog) {
        dialog.list()->topLevelItem(0)->setSelected(true);
        test::buttonNamed(dialog, "OK")->click();
    });
    page.listButton()->click();
    EXPECT_EQ(page.raEdit()->text() + page.decEdit()->text(), "05:35:16-05:23:14");
    EXPECT_EQ(page.listedNameEdit()->text(), QString("M42").leftJustified(25));
}

}  // namespace
}  // namespace tarvi
