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
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>

#include "app/about_dialog.h"
#include "app/command_table.h"
#include "app/help_window.h"
#include "app/tarvi_shell.h"
#include "image/bmp.h"
#include "platform/dialog_units.h"
#include "support/dialog_helpers.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

QString q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "title: id|text|shortcut|prompt ..." per menu, "-" for a bar.
QStringList shownMenus(const CMainFrame& frame)
{
    QStringList menus;
    for (QAction* menuAction : frame.menuBar()->actions()) {
        QString line = menuAction->text() + ":";
        for (QAction* item : menuAction->menu()->actions())
            line += item->isSeparator() ? QString(" -")
                                        : QString(" %1|%2|%3|%4").arg(item->data().toInt()).arg(item->text(),
                                              item->shortcut().toString(QKeySequence::PortableText), item->statusTip());
        menus << line;
    }
    return menus;
}

QStringList tableMenus(int menu)
{
    QStringList menus;
    for (const MenuDef& def : menuLayout(menu)) {
        QString line = q(def.title) + ":";
        for (int id : def.items) {
            const Command* c = findCommand(id);
            line += c == nullptr ? QString(" -")
                                 : QString(" %1|%2|%3|%4").arg(id).arg(q(menuItemText(*c)), q(c->shortcut), q(c->prompt));
        }
        menus << line;
    }
    return menus;
}

void writePicture(const std::string& path)
{
    test::FakeUi ui;
    const std::vector<std::uint8_t> gray(192 * 165, 77);
    bmp image(ui);
    image.createFromGray(gray.data(), 192, 165);
    ASSERT_EQ(image.writeBmp(path), 1);
}

class MainFrameTest : public ::testing::Test {
protected:
    test::TempDir dir;
    // Each test starts with no recent files.
    const bool forgotten = (QSettings("Local AppWizard-Generated Applications", "Tarvi").remove("Recent File List"), true);
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
    bool enabled(CMainFrame& frame, int id) { return frame.commandAction(id)->isEnabled(); }
};

TEST_F(MainFrameTest, MenusFollowTheImageWindowsAndWindowCommandsNeedOne)
{
    int gammas = 0;
    shell.router().setHandler(Handler::setConversionGammas, [&] { ++gammas; });
    CMainFrame& frame = start();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(frame.windowTitle(), "Tarvi");
    EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty());
    // The File New of the empty command line used up the refusal.
    EXPECT_EQ(shell.app().skipNextNewDocument, 0);
    EXPECT_EQ(frame.currentMenu(), 128);
    EXPECT_EQ(shownMenus(frame), tableMenus(128));
    EXPECT_TRUE(shownMenus(frame).join("").contains(" 145|Set Conversion Gammas...||"));
    EXPECT_TRUE(enabled(frame, cmd::lx200Controls) && enabled(frame, cmd::appAbout) && enabled(frame, cmd::helpTopics));
    EXPECT_FALSE(enabled(frame, cmd::windowCascade));
    frame.commandAction(145)->trigger();
    EXPECT_EQ(gammas, 1);

    QMdiSubWindow* first = openImageWindow(frame);
    EXPECT_EQ(frame.currentMenu(), 129);
    EXPECT_EQ(shownMenus(frame), tableMenus(129));
    EXPECT_TRUE(shownMenus(frame).join("").contains(" 147|Set Conversion Gammas...||"));
    EXPECT_TRUE(enabled(frame, cmd::windowCascade) && enabled(frame, cmd::windowTile));
    frame.commandAction(147)->trigger();
    EXPECT_EQ(gammas, 2);
    QMdiSubWindow* second = openImageWindow(frame);
    closeImageWindow(first);
    EXPECT_EQ(frame.currentMenu(), 129);
    closeImageWindow(second);
    EXPECT_EQ(frame.currentMenu(), 128);
    EXPECT_EQ(shownMenus(frame), tableMenus(128));
    EXPECT_FALSE(enabled(frame, cmd::windowCascade));

    frame.commandAction(cmd::appExit)->trigger();
    EXPECT_FALSE(frame.isVisible());
}

TEST_F(MainFrameTest, HighlightedItemShowsItsPromptInPaneZeroUntilTheMenuCloses)
{
    // Greyed items show no prompt; give these two a routine.
    shell.router().setHandler(Handler::captureImage, [] {});
    shell.router().setHandler(Handler::autoshootSetup, [] {});
    CMainFrame& frame = start();
    shell.ui().setStatusText(0, "Exposing: 3");
    QAction* captureAction = frame.menuBar()->actions().value(2);
    ASSERT_EQ(captureAction->text(), "Capture");
    QMenu* capture = captureAction->menu();
    frame.menuBar()->setActiveAction(captureAction);
    QApplication::processEvents();
    ASSERT_TRUE(capture->isVisible());
    for (const int id : {cmd::captureImage, cmd::autoshootSetup}) {
        capture->setActiveAction(frame.commandAction(id));
        QApplication::processEvents();
        EXPECT_EQ(frame.pane(0)->text(), q(findCommand(id)->prompt));
    }
    capture->hide();
    frame.menuBar()->setActiveAction(nullptr);
    QApplication::processEvents();
    EXPECT_EQ(frame.pane(0)->text(), "Exposing: 3");
}

TEST_F(MainFrameTest, ToolbarKeysAndBarsThatHide)
{
    CMainFrame& frame = start();
    const auto layout = toolbarLayout();
    const QList<QAction*> tools = frame.toolBar()->actions();
    ASSERT_EQ(tools.size(), static_cast<qsizetype>(layout.size()));
    for (qsizetype i = 0; i < tools.size(); ++i) {
        const int id = layout[static_cast<std::size_t>(i)];
        EXPECT_EQ(tools[i]->isSeparator() ? cmd::separator : tools[i]->data().toInt(), id);
        if (id == cmd::separator)
            continue;
        EXPECT_EQ(tools[i]->icon().pixmap(QSize(16, 15)).size(), QSize(16, 15)) << id;
        EXPECT_FALSE(tools[i]->toolTip().isEmpty()) << id;
    }
    EXPECT_EQ(frame.toolBar()->iconSize(), QSize(16, 15));
    for (const Command& command : commandTable())
        EXPECT_EQ(frame.commandAction(command.id)->shortcut().toString(QKeySequence::PortableText), q(command.shortcut));

    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::keyClick(&frame, Qt::Key_F1);
    QApplication::processEvents();
    ASSERT_NE(shell.helpWindow(), nullptr);
    EXPECT_TRUE(shell.helpWindow()->isVisible());
    EXPECT_TRUE(shell.helpWindow()->browser()->toPlainText().contains("COM1"));
    EXPECT_EQ(HelpWindow::userGuide("# Tarvi\n\n    scripts/run\n\n## User guide\n\nText.\n"), "## User guide\n\nText.\n");
    EXPECT_EQ(HelpWindow::userGuide("no guide"), "no guide");

    for (const auto& [id, bar] : {std::pair<int, QWidget*>{cmd::viewToolbar, frame.toolBar()}, {cmd::viewStatusBar, frame.statusBar()}}) {
        QAction* toggle = frame.commandAction(id);
        EXPECT_TRUE(toggle->isChecked());
        toggle->trigger();
        EXPECT_TRUE(bar->isHidden());
        EXPECT_FALSE(toggle->isChecked());
        toggle->trigger();
        EXPECT_FALSE(bar->isHidden());
    }
}

TEST_F(MainFrameTest, StatusBarHasFourPanesWithTheBaudPaneTwoHundredWide)
{
    CMainFrame& frame = start();
    EXPECT_EQ(frame.pane(4), nullptr);
    EXPECT_EQ(frame.pane(-1), nullptr);
    EXPECT_EQ(frame.pane(1)->width(), 200);
    EXPECT_TRUE(frame.pane(2)->width() == 0 && frame.pane(3)->width() == 0);
    shell.ui().setStatusText(1, "Baud rate: 56.6K.  ST-4 Version:  3");
    EXPECT_EQ(frame.pane(1)->text(), "Baud rate: 56.6K.  ST-4 Version:  3");
    // The pane grows where the font needs more than 200 pixels for the text.
    QApplication::processEvents();
    EXPECT_GE(frame.pane(1)->width(), frame.pane(1)->fontMetrics().horizontalAdvance(frame.pane(1)->text()));
    // The download's progress bar shows only while rows come in.
    EXPECT_TRUE(frame.progressBar()->isHidden());
    shell.ui().setProgress(40, 165);
    EXPECT_FALSE(frame.progressBar()->isHidden());
    EXPECT_TRUE(frame.progressBar()->value() == 40 && frame.progressBar()->maximum() == 165);
    shell.ui().setProgress(0, 0);
    EXPECT_TRUE(frame.progressBar()->isHidden());
}

TEST_F(MainFrameTest, AboutBoxIsModalWithTitleAndSize)
{
    CMainFrame& frame = start();
    test::whenModal<CAboutDlg>([](CAboutDlg& box) { EXPECT_EQ(box.windowTitle(), "About Tarvi"); });
    frame.commandAction(cmd::appAbout)->trigger();
    CAboutDlg about;
    EXPECT_EQ(about.size(), DialogUnits(about.font()).size(267, 98));
    EXPECT_TRUE(about.findChild<QLabel*>("aboutVersion")->text().startsWith("Tarvi Version "));
    EXPECT_FALSE(about.findChild<QLabel*>("aboutIcon")->pixmap().isNull());
}

TEST_F(MainFrameTest, AFileOnTheCommandLineAndDroppedFilesOpen)
{
    writePicture(dir.file("m42.bmp"));
    writePicture(dir.file("m31.bmp"));
    CMainFrame& frame = start(parseCommandLine({dir.file("m42.bmp")}));
    EXPECT_EQ(shell.app().skipNextNewDocument, 0) << "no refusal left for the next new document";
    ASSERT_EQ(frame.mdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(frame.currentMenu(), 129);

    QSignalSpy dropped(&frame, &CMainFrame::filesDropped);
    QMimeData data;
    const QString path = QString::fromStdString(dir.file("m31.bmp"));
    data.setUrls({QUrl::fromLocalFile(path), QUrl("https://example.invalid/x.bmp")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &drop);
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), QStringList{path});
    EXPECT_EQ(frame.mdiArea()->subWindowList().size(), 2) << "the dropped file opens";
}

}  // namespace
}  // namespace tarvi
