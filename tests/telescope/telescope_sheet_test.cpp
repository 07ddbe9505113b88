// Telescope > LX200 Controls through the whole program, against the simulated
// telescope on a pseudo-terminal.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/command_line.h"
#include "app/command_table.h"
#include "app/doc_manager.h"
#include "app/main_frame.h"
#include "app/tarvi_doc.h"
#include "app/tarvi_shell.h"
#include "sim/telescope_sim.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "telescope/lx200_control.h"
#include "telescope/lx200_p0.h"
#include "telescope/lx200_p1.h"
#include "telescope/lx200_p2.h"
#include "telescope/lx200_p3.h"

namespace tarvi {
namespace {

using Button = LX200P0::DrawnButton;

class TelescopeSheetTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    std::unique_ptr<TarviShell> shell;

    void SetUp() override
    {
        shell = std::make_unique<TarviShell>(dir.path(), &ui);
        shell->pageSettingsDirectory = dir.path();
        ASSERT_TRUE(shell->initInstance(parseCommandLine({"--simulate"})));
        for (const auto& doc : shell->docManager().documents())
            doc->setModifiedFlag(false);
    }
    // Until the telescope has ended its work, what it shows included.
    void idle()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell->app().telescopeLine().working(); }, 60000));
    }
    void openSheet()
    {
        shell->router().route(cmd::lx200Controls);
        idle();
    }
    LX200Control& sheet() { return *shell->telescopeSheet(); }
    LX200P0& motion() { return sheet().page0(); }
    sim::TelescopeSimulator& telescope() { return *shell->telescopeSimulator(); }
    std::size_t count(const std::string& command)
    {
        const auto heard = telescope().receivedCommands();
        return static_cast<std::size_t>(std::count(heard.begin(), heard.end(), command));
    }
    void click(Button button)
    {
        motion().press(motion().buttonRect(button).center());
        motion().release(motion().buttonRect(button).center());
        idle();
    }
};

TEST_F(TelescopeSheetTest, SheetTakesOverTheTelescopeInItsLongFormatOnceAndStaysOpenWhileACommandRuns)
{
    openSheet();
    LX200Control* first = shell->telescopeSheet();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(sheet().isVisible());
    // The simulated telescope starts in the short format; the hand-over
    // switched it, and the boxes show the position to the second.
    EXPECT_TRUE(telescope().longFormat());
    EXPECT_EQ(motion().raEdit()->text().size(), 8) << motion().raEdit()->text().toStdString();
    EXPECT_EQ(motion().decEdit()->text().size(), 9) << motion().decEdit()->text().toStdString();
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;

    // A second command only raises it; closed, it comes back with its fields.
    const std::size_t toggles = count(":U#");
    openSheet();
    EXPECT_EQ(shell->telescopeSheet(), first);
    motion().counterEdit()->setText("42");
    {
        std::atomic<bool> done = false;
        shell->app().telescopeLine().run([&] { while (!done) std::this_thread::yield(); });
        sheet().close();
        EXPECT_TRUE(sheet().isVisible()) << "a telescope command runs";
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, LX200Control::sheetBusyMessage);
        EXPECT_FALSE(shell->mainFrame()->commandAction(cmd::lx200Controls)->isEnabled());
        EXPECT_FALSE(shell->mainFrame()->commandAction(cmd::setupComm)->isEnabled());
        EXPECT_TRUE(shell->mainFrame()->commandAction(cmd::captureImage)->isEnabled());
        done = true;
        idle();
    }
    sheet().close();
    EXPECT_FALSE(sheet().isVisible());
    EXPECT_TRUE(shell->mainFrame()->commandAction(cmd::lx200Controls)->isEnabled());
    openSheet();
    EXPECT_EQ(shell->telescopeSheet(), first);
    EXPECT_TRUE(sheet().isVisible());
    EXPECT_EQ(motion().counterEdit()->text(), "42");
    EXPECT_EQ(count(":U#"), toggles) << "no second hand-over";

    // A new connection builds the sheet again on the new port.
    const int before = motion().portHandle();
    CTarviApp& app = shell->app();
    app.connectDevices(app.settings.cameraPort, app.settings.cameraSpeed, app.settings.telescopePort);
    idle();
    ASSERT_NE(shell->telescopeSheet(), nullptr);
    EXPECT_TRUE(sheet().isVisible());
    EXPECT_NE(motion().portHandle(), before);
    EXPECT_EQ(sheet().page3().portHandle(), app.settings.telescopeHandle);
    EXPECT_EQ(motion().raEdit()->text().size(), 8) << "the new sheet read the position";
}

TEST_F(TelescopeSheetTest, GoFollowsTheSlewToTheTarget)
{
    openSheet();
    telescope().setTimeScale(0.02);
    // A target near where the telescope points, certainly above the horizon.
    const QString hour = QString::asprintf("%02d", (motion().raEdit()->text().left(2).toInt() + 1) % 24);
    motion().raEdit()->setText(hour + ":30:00");
    motion().decEdit()->setText("+40:00:00");
    telescope().clearTraffic();
    click(Button::go);
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
    EXPECT_EQ(count(":Sr" + hour.toStdString() + ":29:59#"), 1u);
    EXPECT_EQ(count(":Sd+40\xDF" "00:00#"), 1u);
    // GET followed the slew until two readings agreed: it has arrived.
    EXPECT_FALSE(telescope().slewing());
    EXPECT_EQ(motion().raEdit()->text() + motion().decEdit()->text(), hour + ":29:59+40:00:00");
}

TEST_F(TelescopeSheetTest, TimePageShowsTheSiteObjectsPageGetsAnObjectSkyFlatsEndAtTheGuideRateInNightColours)
{
    openSheet();
    sheet().tabs()->setCurrentIndex(1);
    idle();
    LX200P1& site = sheet().page1();
    EXPECT_EQ(site.latitudeEdit()->text(), "+45:30");
    EXPECT_EQ(site.longitudeEdit()->text(), "073:34");
    EXPECT_EQ(site.siderealEdit()->text().size(), 8);
    EXPECT_NE(site.clockTimer, 0) << "the clock runs while the page is in front";
    site.onGetTrackingRate();
    idle();
    EXPECT_EQ(site.trackingRateEdit()->text(), "60.1");
    sheet().tabs()->setCurrentIndex(0);
    idle();
    EXPECT_EQ(site.clockTimer, 0);

    // The objects page gets a catalog object from the telescope.
    sheet().tabs()->setCurrentIndex(2);
    LX200P2& objects = sheet().page2();
    objects.catalogBox()->setCurrentIndex(3);  // Messier
    objects.onCatalogChanged(3);
    objects.numberEdit()->setText("31");
    objects.onNumberChanged();
    telescope().clearTraffic();
    objects.onGet();
    idle();
    EXPECT_EQ(objects.raEdit()->text(), "00:42:44");
    EXPECT_EQ(objects.decEdit()->text(), "+41:16:09");
    EXPECT_EQ(telescope().receivedCommands(), (std::vector<std::string>{":LM 31#", ":LI#", ":Gr#", ":Gd#"}));
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;

    // Sky flats drift north, east, south, west and round again, and end at
    // the guiding rate; a press ends the run once four legs have begun.
    sheet().tabs()->setCurrentIndex(3);
    LX200P3& flats = sheet().page3();
    flats.millisecondsEdit()->setText("100");
    const std::vector<std::string> cycle{":Mn#", ":Me#", ":Ms#", ":Mw#"};
    const auto legs = [&] {
        std::vector<std::string> heard;
        for (const auto& command : telescope().receivedCommands()) {
            if (command == ":RC#" || command == ":RG#" || std::ranges::count(cycle, command) > 0)
                heard.push_back(command);
        }
        return heard;
    };
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (legs().size() >= 5)
            QTest::mousePress(&flats, Qt::LeftButton);
    });
    press.start(20);
    telescope().clearTraffic();
    flats.onStart();
    idle();
    const std::vector<std::string> heard = legs();
    ASSERT_GE(heard.size(), 6u);
    EXPECT_EQ(heard.front(), ":RC#");
    EXPECT_EQ(heard.back(), ":RG#");
    for (std::size_t leg = 1; leg + 1 < heard.size(); ++leg)
        EXPECT_EQ(heard[leg], cycle[(leg - 1) % cycle.size()]) << leg;
    EXPECT_EQ(telescope().rate(), sim::MotionRate::guide);
    EXPECT_EQ(flats.raEdit()->text().size(), 8);

    // The drawn buttons take the night scheme's colours: no glare, no green.
    shell->router().route(cmd::nightVisionDark);
    QApplication::processEvents();
    sheet().tabs()->setCurrentIndex(0);
    QImage image(motion().size(), QImage::Format_ARGB32);
    motion().render(&image);
    const QColor night = image.pixelColor(motion().buttonRect(Button::north).topLeft() + QPoint(3, 2));
    EXPECT_EQ(night, motion().palette().color(QPalette::Button));
    EXPECT_LT(night.red() + night.green() + night.blue(), 191 * 3 / 2);
    EXPECT_EQ(night.green(), 0);
}

}  // namespace
}  // namespace tarvi
