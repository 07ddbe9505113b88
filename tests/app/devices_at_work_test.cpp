// The whole program while its devices work, in the real event loop, against
// the simulated camera and telescope on pseudo-terminals: what shows during a
// wait, what is refused meanwhile, and a device that goes away and comes back.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/command_table.h"
#include "app/doc_manager.h"
#include "app/main_frame.h"
#include "app/tarvi_doc.h"
#include "app/tarvi_shell.h"
#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "telescope/lx200_control.h"
#include "telescope/lx200_p0.h"
#include "telescope/lx200_p3.h"

namespace tarvi {
namespace {

using Button = LX200P0::DrawnButton;

// Exposures of 3 s; the camera is looked for at 9600 baud first, where the
// simulated one starts, and then set to 57600.
constexpr const char* settingsLine = "0 0 0 1 1 0 3 0 0 0 0 0 2 1 -1 -1 0";

class DevicesAtWorkTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    std::unique_ptr<TarviShell> shell;

    void SetUp() override
    {
        test::writeFile(dir.file("tarvi.ini"), std::string("[st4Settings150]\nValues=") + settingsLine + "\n");
        shell = std::make_unique<TarviShell>(dir.path(), &ui);
        // Boxes are recorded and answered here; everything else reaches the
        // real windows and event loop.
        ui.desktop = &shell->ui();
        shell->pageSettingsDirectory = dir.path();
        ASSERT_TRUE(shell->initInstance(parseCommandLine({"--simulate"})));
        for (const auto& doc : shell->docManager().documents())
            doc->setModifiedFlag(false);
        app().log = [](const std::string&) {};
    }
    void TearDown() override
    {
        // Whatever a test left open goes without asking.
        for (const auto& doc : shell->docManager().documents())
            doc->setModifiedFlag(false);
    }

    CTarviApp& app() { return shell->app(); }
    CMainFrame& frame() { return *shell->mainFrame(); }
    QString paneZero() { return frame().pane(0)->text(); }
    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> out;
        for (const auto& box : ui.boxes)
            out.push_back(box.text);
        return out;
    }

    // Runs `look` every 50 ms of the real event loop while `work` runs.
    void watching(const std::function<void()>& look, const std::function<void()>& work)
    {
        QTimer watch;
        watch.setInterval(50);
        QObject::connect(&watch, &QTimer::timeout, look);
        watch.start();
        work();
    }

    // Chooses the command from its menu as a person does: the menu opens,
    // and a click on the item closes it and runs the command.
    QMenu* chooseFromMenu(int id)
    {
        QAction* item = frame().commandAction(id);
        for (QAction* entry : frame().menuBar()->actions()) {
            QMenu* menu = entry->menu();
            if (menu == nullptr || !menu->actions().contains(item))
                continue;
            menu->popup(frame().mapToGlobal(QPoint(10, 10)));
            EXPECT_TRUE(QTest::qWaitForWindowExposed(menu));
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
            return menu;
        }
        ADD_FAILURE() << "no menu holds command " << id;
        return nullptr;
    }

    // The frame the camera sent, in the program's buffer order.
    CTarviApp::Frame sentFrame()
    {
        const auto sent = shell->cameraSimulator()->lastFrame();
        CTarviApp::Frame frame{};
        for (int row = 0; row < CTarviApp::frameHeight; ++row)
            std::copy_n(sent.begin() + row * CTarviApp::frameWidth, CTarviApp::frameWidth,
                        frame.begin() + (CTarviApp::frameHeight - 1 - row) * CTarviApp::frameWidth);
        return frame;
    }

    LX200Control& openSheet()
    {
        shell->router().route(cmd::lx200Controls);
        return *shell->telescopeSheet();
    }
    sim::TelescopeSimulator& telescope() { return *shell->telescopeSimulator(); }
    // A click on a drawn button of the motion page, through its window.
    void click(Button button)
    {
        LX200P0& motion = shell->telescopeSheet()->page0();
        QTest::mouseClick(&motion, Qt::LeftButton, {}, motion.buttonRect(button).center());
    }
};

TEST_F(DevicesAtWorkTest, ACaptureCountsDownOnScreenAndItsMenuIsGone)
{
    std::set<QString> shown;
    bool menuOpenDuringTheCapture = false;
    QMenu* menu = nullptr;
    watching(
        [&] {
            shown.insert(paneZero());
            if (app().cameraLine().busy() && menu != nullptr && menu->isVisible())
                menuOpenDuringTheCapture = true;
        },
        [&] { menu = chooseFromMenu(cmd::captureImage); });
    EXPECT_TRUE(shown.count("Exposure underway.  Seconds remaining:  2")) << "the countdown was painted";
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const QString& text) {
        return text.startsWith("Uploading image line");
    }));
    EXPECT_FALSE(menuOpenDuringTheCapture);
    EXPECT_EQ(paneZero(), "Image created");
    EXPECT_EQ(app().cameraImage, sentFrame());
    EXPECT_TRUE(boxTexts().empty()) << boxTexts()[0];
}

TEST_F(DevicesAtWorkTest, SetupCommunicationsDuringACaptureIsRefusedAndThePictureIsWhole)
{
    bool tried = false;
    bool greyed = false;
    bool routed = true;
    watching(
        [&] {
            if (tried || paneZero() != "Exposure underway.  Seconds remaining:  1")
                return;
            tried = true;
            greyed = !frame().commandAction(cmd::setupComm)->isEnabled()
                     && !frame().commandAction(cmd::captureImage)->isEnabled()
                     && frame().commandAction(cmd::lx200Controls)->isEnabled();
            routed = shell->router().route(cmd::setupComm);
        },
        [&] { shell->router().route(cmd::captureImage); });
    ASSERT_TRUE(tried);
    EXPECT_TRUE(greyed);
    EXPECT_FALSE(routed);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{std::string(cameraBusyMessage)});
    EXPECT_EQ(paneZero(), "Image created");
    EXPECT_EQ(app().cameraImage, sentFrame());
    EXPECT_TRUE(frame().commandAction(cmd::setupComm)->isEnabled()) << "free again";
}

TEST_F(DevicesAtWorkTest, ExitDuringACaptureStopsItAndThenEnds)
{
    bool asked = false;
    watching(
        [&] {
            if (!asked && paneZero().startsWith("Exposure underway")) {
                asked = true;
                frame().close();
            }
        },
        [&] { shell->router().route(cmd::captureImage); });
    ASSERT_TRUE(asked);
    EXPECT_EQ(paneZero(), "Image capture TERMINATED");
    EXPECT_TRUE(frame().isVisible()) << "not while the capture ran";
    QTest::qWait(50);
    EXPECT_FALSE(frame().isVisible());
}

TEST_F(DevicesAtWorkTest, ACameraLostMidDownloadIsOneMessageAndRetryFinishesTheFrame)
{
    ui.onStatus = [&](int pane, const std::string& text) {
        if (pane == 0 && text == "Uploading image line   60")
            shell->cameraSimulator()->hangUp();
    };
    // Plugged in again before Retry is pressed.
    ui.onBox = [&](const test::FakeUi::Box&) {
        ui.onStatus = nullptr;
        shell->cameraSimulator()->plugIn();
    };
    ui.answers = {Answer::retry};
    ASSERT_EQ(app().captureImage(), 1);
    ASSERT_EQ(ui.boxes.size(), 1u) << boxTexts()[1];
    const std::string& text = ui.boxes[0].text;
    EXPECT_EQ(text.rfind("Attempt to retrieve row 60 failed\n\ncom1 (sim:camera) is no longer there: ", 0), 0u)
        << text;
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::retryCancel);
    EXPECT_EQ(app().cameraImage, sentFrame());
    EXPECT_EQ(frame().pane(1)->text(), "Baud rate: 56.6K.  ST-4 Version:  3");
}

TEST_F(DevicesAtWorkTest, ATelescopeLostWithTheSheetOpenIsOneMessageAndTheNextGetFindsItAgain)
{
    LX200Control& sheet = openSheet();
    LX200P0& motion = sheet.page0();
    ASSERT_TRUE(boxTexts().empty());
    telescope().hangUp();
    QTest::qWait(100);  // the line is gone
    click(Button::get);
    ASSERT_EQ(ui.boxes.size(), 1u) << boxTexts()[1];
    EXPECT_NE(ui.boxes[0].text.find("com2 (sim:telescope) is no longer there: "), std::string::npos)
        << ui.boxes[0].text;
    EXPECT_EQ(app().settings.telescopeHandle, -1);

    telescope().plugIn();
    motion.raEdit()->clear();
    click(Button::get);
    EXPECT_EQ(ui.boxes.size(), 1u) << boxTexts().back();
    EXPECT_EQ(shell->telescopeSheet(), &sheet) << "the same sheet, handed the port again";
    EXPECT_EQ(motion.raEdit()->text().size(), 8) << motion.raEdit()->text().toStdString();
    EXPECT_NE(motion.portHandle(), -1);
    EXPECT_EQ(motion.portHandle(), app().settings.telescopeHandle);
}

TEST_F(DevicesAtWorkTest, ConnectToASilentTelescopeSaysSoOnceAndThePagesFindThePortClosed)
{
    openSheet();
    telescope().setSilent(true);
    app().connectDevices(app().settings.cameraPort, app().settings.cameraSpeed, app().settings.telescopePort);
    QTest::qWait(10);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Cannot open telescope port com2\nsim:telescope: no answer"});
    ui.boxes.clear();
    click(Button::get);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Telescope port is not open."});
}

TEST_F(DevicesAtWorkTest, SkyFlatsEndedByAClickOnStopSendTheirStopsThenStopsOwn)
{
    LX200Control& sheet = openSheet();
    sheet.tabs()->setCurrentIndex(3);
    LX200P3& flats = sheet.page3();
    flats.millisecondsEdit()->setText("200");
    telescope().clearTraffic();
    QTimer::singleShot(700, flats.stopButton(), [&] { QTest::mouseClick(flats.stopButton(), Qt::LeftButton); });
    QTest::mouseClick(flats.startButton(), Qt::LeftButton);
    QTest::qWait(50);  // Stop's own click, which waited for the run to end
    const std::vector<std::string> stopAll{":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#", ":GR#", ":GD#"};
    std::vector<std::string> tail = stopAll;
    tail.insert(tail.end(), {":GR#", ":GD#", ":RG#"});
    tail.insert(tail.end(), stopAll.begin(), stopAll.end());
    // The click came during a leg: the run reads the position, ends, and
    // only then does the Stop button do its own stop.
    tail.insert(tail.begin(), {":GR#", ":GD#"});
    const auto heard = telescope().receivedCommands();
    ASSERT_GT(heard.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(heard.end() - static_cast<long>(tail.size()), heard.end()), tail);
    EXPECT_TRUE(boxTexts().empty()) << boxTexts()[0];
}

}  // namespace
}  // namespace tarvi
