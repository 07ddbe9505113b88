#include "app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>

#include <map>
#include <ostream>

#include "app/about_dialog.h"
#include "app/command_table.h"
#include "app/help_window.h"
#include "app/tarvi_shell.h"
#include "platform/dialog_units.h"
#include "image/bmp.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

}  // namespace
}  // namespace tarvi

// Readable values in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace tarvi {
namespace {

// The menus as the user must see them: "id|text|shortcut" per item, "-" for a bar.
using Layout = std::vector<std::pair<QString, QStringList>>;

const QStringList fileMenu128{"57601|&Open...|Ctrl+O", "-", "57606|P&rint Setup...|", "-",
                              "57616|Recent File|", "-", "57665|E&xit|"};
const QStringList fileMenu129{"57601|&Open...|Ctrl+O", "57602|&Close|", "57603|&Save|Ctrl+S",
                              "57604|Save &As...|", "-", "57607|&Print...|Ctrl+P",
                              "57609|Print Pre&view|", "57606|P&rint Setup...|", "-",
                              "57616|Recent File|", "-", "57665|E&xit|"};
const QStringList viewMenu{"59392|&Toolbar|", "59393|&Status Bar|", "32776|Dark Frame|", "-",
                           "32785|Night Vision Light|", "32786|Night Vision Dark|", "32787|Normal Vision|"};
const QStringList captureMenu{"32772|Image|", "32771|DarkFrame|", "-", "32782|Autoshoot Setup...|",
                              "32775|AutoShoot|"};
const QStringList setupMenu{"32773|Camera|", "32777|Load Dark Frame from File|", "-", "32774|Communications|"};
const QStringList telescopeMenu{"32784|LX200 Controls|"};
QStringList imageMenu(int gammasId)
{
    return {"32780|Center|", "-", QString("%1|Set Conversion Gammas...|").arg(gammasId), "32783|Conversion...|",
            "-", "32788|Set Image Display Size...|"};
}
const QStringList windowMenu{"57648|&New Window|", "57650|&Cascade|", "57651|&Tile|", "57649|&Arrange Icons|"};
const QStringList helpMenu{"57667|&Help Topics|", "-", "57664|&About Tarvi...|"};

const Layout menu128{{"&File", fileMenu128},       {"&View", viewMenu},   {"Capture", captureMenu},
                     {"Setup", setupMenu},         {"Telescope", telescopeMenu}, {"Image", imageMenu(145)},
                     {"&Window", windowMenu},      {"&Help", helpMenu}};
const Layout menu129{{"&File", fileMenu129},       {"&View", viewMenu},   {"Capture", captureMenu},
                     {"Setup", setupMenu},         {"Telescope", telescopeMenu}, {"Image", imageMenu(147)},
                     {"&Window", windowMenu},      {"&Help", helpMenu}};

const std::map<int, QString> prompts{
    {57600, "Create a new document"},
    {57601, "Open an existing document"},
    {57602, "Close the active document"},
    {57603, "Save the active document"},
    {57604, "Save the active document with a new name"},
    {57607, "Print the active document"},
    {57609, "Display full pages"},
    {57606, "Change the printer and printing options"},
    {57616, "Open this document"},
    {57665, "Quit the application; prompts to save documents"},
    {59392, "Show or hide the toolbar"},
    {59393, "Show or hide the status bar"},
    {32776, ""},
    {32785, ""},
    {32786, ""},
    {32787, ""},
    {32772, "Capture a single image"},
    {32771, "Capture a single Dark Frame"},
    {32782, "Setup autosave features used with autoshoot"},
    {32775, "Begin automatically taking images"},
    {32773, "Setup Camera Parameters"},
    {32777, "Load a dark frame from a file"},
    {32774, "Setup communications parameters for the ST-4 and LX-200"},
    {32784, "Telescope controls"},
    {32780, "Center a planetary image"},
    {145, ""},
    {147, ""},
    {32783, "Convert images - fits/bmp"},
    {32788, ""},
    {57648, "Open another window for the active document"},
    {57650, "Arrange windows so they overlap"},
    {57651, "Arrange windows as non-overlapping tiles"},
    {57649, "Arrange icons at the bottom of the window"},
    {57667, "List Help topics"},
    {57664, "Display program information, version number and copyright"},
};

Layout menusOf(const CMainFrame& frame)
{
    Layout layout;
    for (QAction* menuAction : frame.menuBar()->actions()) {
        QStringList items;
        for (QAction* item : menuAction->menu()->actions()) {
            if (item->isSeparator())
                items << "-";
            else
                items << QString("%1|%2|%3").arg(item->data().toInt()).arg(item->text(),
                                                 item->shortcut().toString(QKeySequence::PortableText));
        }
        layout.emplace_back(menuAction->text(), items);
    }
    return layout;
}

QAction* menuItem(const CMainFrame& frame, const QString& menuTitle, int id)
{
    for (QAction* menuAction : frame.menuBar()->actions()) {
        if (menuAction->text() != menuTitle)
            continue;
        for (QAction* item : menuAction->menu()->actions()) {
            if (!item->isSeparator() && item->data().toInt() == id)
                return item;
        }
    }
    return nullptr;
}

void writePicture(const std::string& path)
{
    test::FakeUi ui;
    const std::vector<std::uint8_t> gray(192 * 165, 77);
    bmp image(ui);
    image.createFromGray(gray.data(), 192, 165);
    ASSERT_EQ(image.writeBmp(path), 1);
}

// Each test starts with no recent files.
void forgetRecentFiles()
{
    QSettings("Local AppWizard-Generated Applications", "Tarvi").remove("Recent File List");
}

class MainFrameTest : public ::testing::Test {
protected:
    test::TempDir dir;
    const bool forgotten = (forgetRecentFiles(), true);
    TarviShell shell{dir.path()};

    CMainFrame& start(const CommandLine& line = {})
    {
        EXPECT_TRUE(shell.initInstance(line));
        return *shell.mainFrame();
    }

    QMdiSubWindow* openImageWindow(CMainFrame& frame)
    {
        QMdiSubWindow* window = frame.addImageWindow(new QLabel("image"));
        window->show();
        frame.mdiArea()->setActiveSubWindow(window);
        QApplication::processEvents();
        return window;
    }

    void closeImageWindow(QMdiSubWindow* window)
    {
        window->close();
        QApplication::processEvents();
        QApplication::processEvents();
    }
};

TEST_F(MainFrameTest, StartingWithoutArgumentsShowsTheMainWindowAndNoImageWindow)
{
    CMainFrame& frame = start();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(frame.windowTitle(), "Tarvi");
    EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(frame.currentMenu(), 128);
    // The File New of the empty command line used up the refusal.
    EXPECT_EQ(shell.app().skipNextNewDocument, 0);
}

TEST_F(MainFrameTest, AFileOnTheCommandLineLeavesNoRefusalForTheNextNewDocument)
{
    writePicture(dir.file("m42.bmp"));
    CMainFrame& frame = start(parseCommandLine({dir.file("m42.bmp")}));
    EXPECT_EQ(shell.app().skipNextNewDocument, 0);
    ASSERT_EQ(frame.mdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(frame.currentMenu(), 129);
}

TEST_F(MainFrameTest, MenuWithoutDocumentIsMenu128)
{
    CMainFrame& frame = start();
    EXPECT_EQ(menusOf(frame), menu128);
}

TEST_F(MainFrameTest, MenusSwitchAsImageWindowsOpenAndClose)
{
    CMainFrame& frame = start();
    QMdiSubWindow* first = openImageWindow(frame);
    EXPECT_EQ(frame.currentMenu(), 129);
    EXPECT_EQ(menusOf(frame), menu129);

    QMdiSubWindow* second = openImageWindow(frame);
    closeImageWindow(first);
    EXPECT_EQ(frame.currentMenu(), 129);
    closeImageWindow(second);
    EXPECT_EQ(frame.currentMenu(), 128);
    EXPECT_EQ(menusOf(frame), menu128);
}

TEST_F(MainFrameTest, EveryCommandCarriesItsPrompt)
{
    CMainFrame& frame = start();
    for (const auto& [id, prompt] : prompts) {
        QAction* action = frame.commandAction(id);
        ASSERT_NE(action, nullptr) << id;
        EXPECT_EQ(action->statusTip(), prompt) << id;
        EXPECT_EQ(action->data().toInt(), id);
    }
}

TEST_F(MainFrameTest, HighlightedItemShowsItsPromptInPaneZeroUntilTheMenuCloses)
{
    // Greyed items show no prompt; give these two a routine.
    shell.router().setHandler(Handler::captureImage, [] {});
    shell.router().setHandler(Handler::autoshootSetup, [] {});
    CMainFrame& frame = start();
    shell.ui().setStatusText(0, "Exposing: 3");
    EXPECT_EQ(frame.pane(0)->text(), "Exposing: 3");

    QAction* captureAction = nullptr;
    for (QAction* a : frame.menuBar()->actions()) {
        if (a->text() == "Capture")
            captureAction = a;
    }
    ASSERT_NE(captureAction, nullptr);
    QMenu* capture = captureAction->menu();
    frame.menuBar()->setActiveAction(captureAction);
    QApplication::processEvents();
    ASSERT_TRUE(capture->isVisible());
    capture->setActiveAction(frame.commandAction(32772));
    QApplication::processEvents();
    EXPECT_EQ(frame.pane(0)->text(), "Capture a single image");
    capture->setActiveAction(frame.commandAction(32782));
    QApplication::processEvents();
    EXPECT_EQ(frame.pane(0)->text(), "Setup autosave features used with autoshoot");

    capture->hide();
    frame.menuBar()->setActiveAction(nullptr);
    QApplication::processEvents();
    EXPECT_EQ(frame.pane(0)->text(), "Exposing: 3");
}

TEST_F(MainFrameTest, SetConversionGammasReachesOneRoutineFromBothMenus)
{
    int calls = 0;
    shell.router().setHandler(Handler::setConversionGammas, [&] { ++calls; });
    CMainFrame& frame = start();

    QAction* fromMenu128 = menuItem(frame, "Image", 145);
    ASSERT_NE(fromMenu128, nullptr);
    EXPECT_TRUE(fromMenu128->isEnabled());
    fromMenu128->trigger();
    EXPECT_EQ(calls, 1);

    QMdiSubWindow* window = openImageWindow(frame);
    QAction* fromMenu129 = menuItem(frame, "Image", 147);
    ASSERT_NE(fromMenu129, nullptr);
    EXPECT_EQ(menuItem(frame, "Image", 145), nullptr);
    EXPECT_TRUE(fromMenu129->isEnabled());
    fromMenu129->trigger();
    EXPECT_EQ(calls, 2);
    closeImageWindow(window);
}

TEST_F(MainFrameTest, WindowCommandsAreGreyedWithoutAnImageWindow)
{
    CMainFrame& frame = start();
    EXPECT_TRUE(frame.commandAction(cmd::lx200Controls)->isEnabled());
    EXPECT_TRUE(frame.commandAction(cmd::appAbout)->isEnabled());
    EXPECT_TRUE(frame.commandAction(cmd::appExit)->isEnabled());
    EXPECT_TRUE(frame.commandAction(cmd::helpTopics)->isEnabled());
    EXPECT_FALSE(frame.commandAction(cmd::windowCascade)->isEnabled());

    QMdiSubWindow* window = openImageWindow(frame);
    EXPECT_TRUE(frame.commandAction(cmd::windowCascade)->isEnabled());
    EXPECT_TRUE(frame.commandAction(cmd::windowTile)->isEnabled());
    closeImageWindow(window);
    EXPECT_FALSE(frame.commandAction(cmd::windowCascade)->isEnabled());
}

TEST_F(MainFrameTest, ToolbarHoldsNewOpenSavePrintAboutAndContextHelp)
{
    CMainFrame& frame = start();
    QStringList items;
    for (QAction* action : frame.toolBar()->actions()) {
        if (action->isSeparator()) {
            items << "-";
            continue;
        }
        items << QString::number(action->data().toInt());
        const QPixmap icon = action->icon().pixmap(QSize(16, 15));
        EXPECT_FALSE(icon.isNull()) << action->data().toInt();
        EXPECT_EQ(icon.size(), QSize(16, 15)) << action->data().toInt();
        EXPECT_FALSE(action->toolTip().isEmpty());
    }
    EXPECT_EQ(items, (QStringList{"57600", "57601", "57603", "-", "57607", "-", "57664", "57669"}));
    EXPECT_EQ(frame.toolBar()->iconSize(), QSize(16, 15));
}

TEST_F(MainFrameTest, KeysReachTheirCommands)
{
    CMainFrame& frame = start();
    const std::map<int, QString> keys{{57600, "Ctrl+N"}, {57601, "Ctrl+O"}, {57603, "Ctrl+S"},
                                      {57607, "Ctrl+P"}, {57670, "F1"},     {57669, "Shift+F1"}};
    for (const auto& [id, key] : keys)
        EXPECT_EQ(frame.commandAction(id)->shortcut().toString(QKeySequence::PortableText), key) << id;

    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::keyClick(&frame, Qt::Key_F1);
    QApplication::processEvents();
    ASSERT_NE(shell.helpWindow(), nullptr);
    EXPECT_TRUE(shell.helpWindow()->isVisible());
    EXPECT_TRUE(shell.helpWindow()->browser()->toPlainText().contains("COM1"));
}

TEST_F(MainFrameTest, StatusBarHasFourPanesWithTheBaudPaneTwoHundredWide)
{
    CMainFrame& frame = start();
    for (int i = 0; i < 4; ++i)
        ASSERT_NE(frame.pane(i), nullptr);
    EXPECT_EQ(frame.pane(1)->width(), 200);
    EXPECT_EQ(frame.pane(2)->width(), 0);
    EXPECT_EQ(frame.pane(3)->width(), 0);
    EXPECT_TRUE(frame.pane(1)->text().isEmpty());
    shell.ui().setStatusText(1, "Baud rate: 56.6K.  ST-4 Version:  3");
    EXPECT_EQ(frame.pane(1)->text(), "Baud rate: 56.6K.  ST-4 Version:  3");
    // The pane grows where the font needs more than 200 pixels for the text.
    QApplication::processEvents();
    EXPECT_GE(frame.pane(1)->width(), frame.pane(1)->fontMetrics().horizontalAdvance(frame.pane(1)->text()));

    // The download's progress bar shows only while rows come in.
    EXPECT_TRUE(frame.progressBar()->isHidden());
    shell.ui().setProgress(40, 165);
    EXPECT_FALSE(frame.progressBar()->isHidden());
    EXPECT_EQ(frame.progressBar()->value(), 40);
    EXPECT_EQ(frame.progressBar()->maximum(), 165);
    shell.ui().setProgress(0, 0);
    EXPECT_TRUE(frame.progressBar()->isHidden());
}

TEST_F(MainFrameTest, ToolbarAndStatusBarCanBeHiddenAndShown)
{
    CMainFrame& frame = start();
    QAction* toolbar = frame.commandAction(cmd::viewToolbar);
    QAction* statusBar = frame.commandAction(cmd::viewStatusBar);
    EXPECT_TRUE(toolbar->isChecked());
    toolbar->trigger();
    EXPECT_TRUE(frame.toolBar()->isHidden());
    EXPECT_FALSE(toolbar->isChecked());
    toolbar->trigger();
    EXPECT_FALSE(frame.toolBar()->isHidden());
    statusBar->trigger();
    EXPECT_TRUE(frame.statusBar()->isHidden());
    EXPECT_FALSE(statusBar->isChecked());
}

TEST_F(MainFrameTest, AboutBoxIsModalWithTitleAndSize)
{
    CMainFrame& frame = start();
    QString seenTitle;
    bool seenModal = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (box != nullptr) {
            seenTitle = box->windowTitle();
            seenModal = box->isModal();
            box->close();
        }
    });
    frame.commandAction(cmd::appAbout)->trigger();
    EXPECT_EQ(seenTitle, "About Tarvi");
    EXPECT_TRUE(seenModal);

    CAboutDlg about;
    EXPECT_EQ(about.size(), DialogUnits(about.font()).size(267, 98));
    auto* version = about.findChild<QLabel*>("aboutVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(version->text().startsWith("Tarvi Version "));
    auto* icon = about.findChild<QLabel*>("aboutIcon");
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
}

TEST_F(MainFrameTest, DroppedFilesGoToTheOpenRoutine)
{
    CMainFrame& frame = start();
    QSignalSpy dropped(&frame, &CMainFrame::filesDropped);
    QMimeData data;
    writePicture(dir.file("m42.bmp"));
    const QString path = QString::fromStdString(dir.file("m42.bmp"));
    data.setUrls({QUrl::fromLocalFile(path), QUrl("https://example.invalid/x.bmp")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &drop);
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), QStringList{path});
    EXPECT_EQ(frame.mdiArea()->subWindowList().size(), 1) << "the dropped file opens";
}

TEST_F(MainFrameTest, ExitClosesTheMainWindow)
{
    CMainFrame& frame = start();
    frame.commandAction(cmd::appExit)->trigger();
    EXPECT_FALSE(frame.isVisible());
}

TEST(HelpWindow, ShowsTheUserGuidePartOfTheReadme)
{
    const QString readme = "# Tarvi\n\n    scripts/run\n\n## User guide\n\nText.\n";
    EXPECT_EQ(HelpWindow::userGuide(readme), "## User guide\n\nText.\n");
    EXPECT_EQ(HelpWindow::userGuide("no guide"), "no guide");
}

}  // namespace
}  // namespace tarvi
