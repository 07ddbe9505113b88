#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include "app/about_dialog.h"
#include "app/child_frame.h"
#include "app/command_line.h"
#include "app/command_table.h"
#include "app/doc_manager.h"
#include "app/help_window.h"
#include "app/main_frame.h"
#include "app/tarvi_doc.h"
#include "app/tarvi_shell.h"
#include "image/bmp.h"
#include "image/fits.h"
#include "support/dialog_helpers.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "view/display_size_dialog.h"
#include "view/tarvi_view.h"

namespace tarvi {
namespace {

void settle()
{
    for (int i = 0; i < 6; ++i) {
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
}

// Until the camera's jobs have ended, the windows they open included.
void finishCamera(const CTarviApp& app)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app.cameraBusy(); }, 60000));
    settle();
}

QString q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

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

// A grey picture whose value at (col, row from the bottom) is (row + col) % 256.
void writePicture(const std::string& path, bool fits = false, int width = 192, int height = 165)
{
    test::FakeUi ui;
    std::vector<std::uint8_t> gray(std::size_t(width) * height);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col)
            gray[std::size_t(row) * width + col] = std::uint8_t((row + col) % 256);
    }
    bmp image(ui);
    image.createFromGray(gray.data(), width, height);
    ASSERT_EQ(fits ? image.writeFits(path) : image.writeBmp(path), 1);
}

// A FITS file of bits-deep data, described by the usual five cards and then
// the ones given, 2 x 2 pixels of raw 16-bit values 1000 250 0 500.
void writeFitsFile(const std::string& path, int bits, const std::vector<std::string>& more)
{
    std::vector<std::string> cards{"SIMPLE  =                    T", fits::integerCard("BITPIX", bits),
                                   fits::integerCard("NAXIS", 2), fits::integerCard("NAXIS1", 2),
                                   fits::integerCard("NAXIS2", 2)};
    cards.insert(cards.end(), more.begin(), more.end());
    cards.push_back("END");
    std::string content;
    for (const std::string& card : cards)
        content += card + std::string(fits::cardSize - card.size(), ' ');
    content.resize(fits::blockSize, ' ');
    content += std::string("\x03\xE8\x00\xFA\x00\x00\x01\xF4", 8);
    content.resize(2 * fits::blockSize, '\0');
    test::writeFile(path, content);
}

class DocumentTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    std::unique_ptr<TarviShell> shell;
    std::vector<QString> proposals;
    QString nextSavePath;

    // The shell, made with no recent files; handlers set on it before start() stay.
    TarviShell& made()
    {
        if (!shell) {
            QSettings("Local AppWizard-Generated Applications", "Tarvi").remove("Recent File List");
            shell = std::make_unique<TarviShell>(dir.path(), &ui);
        }
        return *shell;
    }
    void start(const CommandLine& line = {})
    {
        ASSERT_TRUE(made().initInstance(line));
        docs().chooseSaveFile = [this](const QString& proposal, const QString&) {
            proposals.push_back(proposal);
            return nextSavePath;
        };
        settle();
    }
    void TearDown() override
    {
        // Nothing is asked while the test's windows go.
        if (shell) {
            for (const auto& doc : docs().documents())
                doc->setModifiedFlag(false);
        }
    }

    DocManager& docs() { return shell->docManager(); }
    CMainFrame& frame() { return *shell->mainFrame(); }
    CTarviApp& app() { return shell->app(); }
    QString file(const char* name) const { return QString::fromStdString(dir.file(name)); }
    void route(int id) { shell->router().route(id); }
    CTarviDoc* open(const char* name)
    {
        CTarviDoc* doc = docs().openDocumentFile(file(name));
        settle();
        return doc;
    }
    std::size_t windows() { return static_cast<std::size_t>(frame().mdiArea()->subWindowList().size()); }
    bool enabled(int id) { return frame().commandAction(id)->isEnabled(); }

    // A document's title, path and whether it holds unsaved changes.
    using State = std::tuple<QString, QString, bool>;
    static State state(const CTarviDoc* doc) { return {doc->title(), doc->pathName(), doc->isModified()}; }
    CTarviView* viewOf(CTarviDoc* doc) { return doc == nullptr || doc->views().empty() ? nullptr : doc->views().front(); }
    QMdiSubWindow* frameOf(CTarviDoc* doc) { return qobject_cast<QMdiSubWindow*>(viewOf(doc)->parentWidget()); }
};

// Then Save As of another new picture proposes a name and writes only BMP and FIT.
TEST_F(DocumentTest, NewDocumentShowsTheTemporaryImageAsksBeforeClosingAndSavesUnderTheNameChosen)
{
    writePicture(dir.file("tarvitemp.bmp"));
    start();
    CTarviDoc* doc = docs().newDocument();
    ASSERT_NE(doc, nullptr);
    settle();
    EXPECT_EQ(state(doc), State("Tarvi1", "", true));
    EXPECT_EQ(viewOf(doc)->imageLoaded(), 1);
    EXPECT_EQ(app().currentView, viewOf(doc));
    EXPECT_EQ(frame().currentMenu(), 129);
    // An averaging run titles the next one.
    app().averagedFrameCount = 10;
    EXPECT_EQ(docs().newDocument()->title(), "Tarvi2AveOf10");
    EXPECT_EQ(app().averagedFrameCount, 0);
    frameOf(docs().documents().back().get())->close();
    settle();
    ui.boxes.clear();

    // Closing asks; Cancel keeps it.
    QMdiSubWindow* window = frameOf(doc);
    ui.answers = {Answer::cancel};
    window->close();
    settle();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Save changes to Tarvi1?");
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::yesNoCancel);
    EXPECT_EQ(windows(), 1u);
    // Saved, it takes the name, and goes without asking.
    nextSavePath = file("saved.bmp");
    route(cmd::fileSave);
    EXPECT_EQ(proposals, std::vector<QString>{"Tarvi1.bmp"});
    EXPECT_EQ(state(doc), State("saved.bmp", file("saved.bmp"), false));
    EXPECT_EQ(docs().recentFiles().files().value(0), file("saved.bmp"));
    window->close();
    settle();
    EXPECT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(windows(), 0u);
    EXPECT_EQ(app().currentView, nullptr);
    EXPECT_EQ(frame().currentMenu(), 128);

    doc = docs().newDocument();
    settle();
    ASSERT_EQ(doc->title(), "Tarvi3");
    nextSavePath = file("shot.FIT");
    route(cmd::fileSaveAs);
    EXPECT_EQ(proposals, (std::vector<QString>{"Tarvi1.bmp", "Tarvi3.bmp"}));
    EXPECT_FALSE(QFile::exists(file("shot.FIT")));
    EXPECT_TRUE(doc->isModified()) << "nothing was written, so the picture is still unsaved";
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_NE(ui.boxes[1].text.find("Nothing was saved"), std::string::npos);
    for (const auto& [name, startsWith] :
         {std::pair{"shot.fit", "SIMPLE  ="}, {"shot.bmp.fit", "SIMPLE  ="}, {"shot.bmp", "BM"}}) {
        doc->setModifiedFlag(true);
        nextSavePath = file(name);
        route(cmd::fileSaveAs);
        EXPECT_EQ(test::readFile(dir.file(name)).rfind(startsWith, 0), 0u) << name;
        EXPECT_FALSE(doc->isModified()) << name;
    }
    // Save As writes a copy: the document keeps its name.
    EXPECT_EQ(state(doc), State("Tarvi3", "", false));
}

// Files on the command line cascade from (20, 20), wrap past 200, turn no
// File New away, and fill the recent-file list most recent first; dropped files open.
TEST_F(DocumentTest, FilesOnTheCommandLineCascadeAndAreTheRecentFiles)
{
    std::vector<std::string> files;
    for (int i = 1; i <= 10; ++i) {
        files.push_back(dir.file("frame" + std::to_string(i) + ".bmp"));
        writePicture(files.back());
    }
    files.push_back(dir.file("M42.FTS"));
    writePicture(files.back(), true);
    writePicture(dir.file("tarvitemp.bmp"));
    writePicture(dir.file("m31.bmp"));
    start(parseCommandLine(files));
    ASSERT_EQ(docs().documents().size(), 11u);
    EXPECT_EQ(windows(), 11u);
    EXPECT_EQ(frame().currentMenu(), 129);
    const std::pair<std::size_t, QPoint> places[] = {{0, {20, 20}}, {1, {40, 40}}, {9, {200, 200}}, {10, {0, 0}}};
    for (const auto& [i, place] : places)
        EXPECT_EQ(frameOf(docs().documents()[i].get())->pos(), place) << i;
    // Upper-case FITS endings load through the FITS reader.
    CTarviDoc* fitsDoc = docs().documents()[10].get();
    EXPECT_EQ(state(fitsDoc), State("M42.FTS", QString::fromStdString(files[10]), false));
    ASSERT_EQ(viewOf(fitsDoc)->imageLoaded(), 1);
    EXPECT_EQ(viewOf(fitsDoc)->image()->getWidth(), 192);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(app().skipNextNewDocument, 0) << "no refusal left for the next new document";
    EXPECT_EQ(docs().newDocument()->title(), "Tarvi1");

    const auto qs = [](const std::string& path) { return QString::fromStdString(path); };
    EXPECT_EQ(docs().recentFiles().files(), (QStringList{qs(files[10]), qs(files[9]), qs(files[8]), qs(files[7])}));
    // The File menu's recent-file items, as the menu holds them now.
    const auto recentItems = [this] {
        QList<QAction*> items = frame().menuBar()->actions().value(0)->menu()->actions();
        items.removeIf([](QAction* item) { return item->data().toInt() < 57616 || item->data().toInt() > 57619; });
        return items;
    };
    ASSERT_EQ(recentItems().size(), 4);
    EXPECT_TRUE(recentItems()[0]->text().startsWith("&1 ") && recentItems()[0]->text().endsWith("M42.FTS"));
    // Choosing the second entry, once its window is closed, opens it again
    // and moves it, once, to the top.
    frameOf(docs().documents()[9].get())->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(recentItems()[1]->data().toInt(), 57617);
    recentItems()[1]->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(docs().recentFiles().files(), (QStringList{qs(files[9]), qs(files[10]), qs(files[8]), qs(files[7])}));

    QSignalSpy dropped(&frame(), &CMainFrame::filesDropped);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file("m31.bmp")), QUrl("https://example.invalid/x.bmp")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    const std::size_t before = windows();
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame(), &drop);
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), QStringList{file("m31.bmp")});
    EXPECT_EQ(windows(), before + 1) << "the dropped file opens";
}

// The pointer's readout, Escape, printing, a second window on the same
// document, a window that a capture will reuse; then night vision, which
// changes nothing without a scheme, reaches dialogs, boxes and windows opened
// later, turns the toolbar red, and Normal brings back the first colours.
TEST_F(DocumentTest, AnOpenedPictureInItsWindowsAndNightVision)
{
    writePicture(dir.file("m42.bmp"));
    writePicture(dir.file("m31.bmp"));
    start();
    CTarviDoc* doc = open("m42.bmp");
    CTarviView* view = viewOf(doc);
    ASSERT_EQ(view->imageLoaded(), 1);
    QMouseEvent move(QEvent::MouseMove, QPointF(300, 200), QPointF(300, 200), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    EXPECT_EQ(ui.paneText(0).substr(0, 37), "(191,164): R=191, G=191, B=191 - Q = ");
    EXPECT_NEAR(std::stod(ui.paneText(0).substr(37)), view->meanLevel(), 1e-6);

    EXPECT_EQ(app().stopRequested, 0);
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(app().stopRequested, 1);

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file("print.pdf"));
    view->print(&printer);
    const std::string pdf = test::readFile(dir.file("print.pdf"));
    EXPECT_EQ(pdf.substr(0, 4), "%PDF");
    EXPECT_NE(pdf.find("/Image"), std::string::npos) << "the page holds no picture";

    // The window a capture will reuse stays open until the capture has ended.
    ASSERT_EQ(app().currentView, viewOf(doc));
    app().newWindowPerImage = 0;
    {
        const auto capture = app().cameraLine().operation();
        frameOf(doc)->close();
        settle();
        EXPECT_EQ(windows(), 1u);
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, CChildFrame::captureWindowBusyMessage);
    }
    route(cmd::windowNew);
    settle();
    ASSERT_EQ(doc->views().size(), 2u);
    QStringList titles;
    for (QMdiSubWindow* window : frame().mdiArea()->subWindowList(QMdiArea::CreationOrder))
        titles << window->windowTitle();
    EXPECT_EQ(titles, (QStringList{"m42.bmp:1[*]", "m42.bmp:2[*]"}));
    // Opening the same file again brings its window forward instead.
    EXPECT_EQ(docs().openDocumentFile(file("m42.bmp")), doc);
    EXPECT_EQ(docs().documents().size(), 1u);
    for (CTarviView* each : std::vector<CTarviView*>(doc->views().begin(), doc->views().end()))
        each->parentWidget()->close();
    settle();
    EXPECT_EQ(windows(), 0u);

    const QPalette before = QApplication::palette();
    const QString style = QApplication::style()->name();
    const QBrush workspace = frame().mdiArea()->background();
    QAction* fileOpen = frame().commandAction(cmd::fileOpen);
    const QImage icon = fileOpen->icon().pixmap(QSize(16, 15)).toImage();
    route(cmd::normalVision);
    EXPECT_EQ(QApplication::palette(), before);
    EXPECT_EQ(QApplication::style()->name(), style);
    EXPECT_EQ(app().colorsSaved, 0);

    route(cmd::nightVisionDark);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(80, 0, 0));
    EXPECT_EQ(QApplication::palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_EQ(QApplication::palette("QMenu").color(QPalette::Window), QColor(100, 0, 0));
    EXPECT_EQ(frame().mdiArea()->background().color(), QColor(0, 0, 0));
    EXPECT_EQ(app().colorsSaved, 1);
    const QImage night = fileOpen->icon().pixmap(QSize(16, 15)).toImage();
    int lit = 0;
    for (int y = 0; y < night.height(); ++y) {
        for (int x = 0; x < night.width(); ++x) {
            const QColor c = night.pixelColor(x, y);
            EXPECT_TRUE(c.green() == 0 && c.blue() == 0 && c.red() <= 100) << x << "," << y;
            lit += c.alpha() > 0 && c.red() > 0;
        }
    }
    EXPECT_GT(lit, 0) << "the picture is still there, in red";
    QDialog dialog;
    QLineEdit edit(&dialog);
    EXPECT_EQ(dialog.palette().color(QPalette::Window), QColor(80, 0, 0));
    EXPECT_EQ(edit.palette().color(QPalette::Base), QColor(90, 0, 0));
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(QMessageBox().palette().color(QPalette::Window), QColor(80, 0, 0));
    // Opened at display size two: drawn twice as large, in a window that fits it.
    app().displaySize = 2.0;
    doc = open("m31.bmp");
    view = viewOf(doc);
    EXPECT_FLOAT_EQ(view->displayScale(), 2.0f);
    EXPECT_DOUBLE_EQ(view->image()->getScale(), 2.0);
    EXPECT_TRUE(view->scrollSize() == QSize(384, 330) && view->viewport()->size() == QSize(384, 330));
    EXPECT_EQ(frameOf(doc)->size(), view->fittedFrameSize());
    EXPECT_EQ(frameOf(doc)->palette().color(QPalette::Highlight), QColor(60, 0, 0));
    // Nothing but red in the window's title bar: no white text or buttons.
    const QImage frameShot = frameOf(doc)->grab().toImage();
    const int titleHeight = view->mapTo(frameOf(doc), QPoint(0, 0)).y();
    ASSERT_GT(titleHeight, 4);
    int notRed = 0;
    for (int y = 0; y < titleHeight; ++y) {
        for (int x = 0; x < frameShot.width(); ++x)
            notRed += frameShot.pixelColor(x, y).green() > 0 || frameShot.pixelColor(x, y).blue() > 0;
    }
    EXPECT_EQ(notRed, 0);

    route(cmd::nightVisionLight);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(160, 0, 0));
    EXPECT_EQ(QApplication::palette().color(QPalette::Base), QColor(180, 0, 0));
    EXPECT_EQ(QApplication::palette().color(QPalette::HighlightedText), QColor(200, 0, 0));
    // File dialogs are the program's own, and take the scheme.
    EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs));
    EXPECT_EQ(QFileDialog().palette().color(QPalette::Window), QColor(160, 0, 0));

    route(cmd::normalVision);
    EXPECT_EQ(QApplication::palette(), before);
    EXPECT_EQ(frame().mdiArea()->background(), workspace);
    EXPECT_EQ(app().colorsSaved, 1);
    EXPECT_EQ(fileOpen->icon().pixmap(QSize(16, 15)).toImage(), icon);
}

// A fifo is refused at once (opening it to read would wait for ever); a file
// that is no picture is said once, however often its window paints.
TEST_F(DocumentTest, AFifoIsRefusedAtOnceAndAnUnreadableFileIsReportedOnce)
{
    const std::string fifo = dir.file("fifo.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::writeFile(dir.file("bad.bmp"), "XX not a bitmap at all");
    ::alarm(10);
    start(parseCommandLine({fifo, dir.file("bad.bmp")}));
    ::alarm(0);
    ASSERT_EQ(docs().documents().size(), 1u);
    CTarviDoc* doc = docs().documents()[0].get();
    for (int i = 0; i < 3; ++i) {
        viewOf(doc)->viewport()->repaint();
        settle();
    }
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Cannot open file " + fifo + ":\nIs a named pipe, not a regular file");
    EXPECT_EQ(ui.boxes[1].text, "Not a Bitmap File!");
    EXPECT_EQ(viewOf(doc)->image(), nullptr);
    route(cmd::center);
    EXPECT_FALSE(doc->isModified());
    // A capture that reuses the window gives it a picture after all.
    writePicture(dir.file("tarvitemp.bmp"));
    docs().retitleAndReloadCurrent("F-0002.bmp");
    EXPECT_EQ(viewOf(doc)->imageLoaded(), 1);
}

// What a FITS file holds beyond what Tarvi writes is named, asked about, and a copy offered.
TEST_F(DocumentTest, SaveOverAFitsFileHoldingMoreAsksAndOffersSaveAs)
{
    const std::string x = dir.file("x.fit");
    const std::tuple<int, std::vector<std::string>, const char*> losses[] = {
        {16, {"OBJECT  = 'M42     '", "EXPTIME =                 30.0", "HISTORY at the club"},
         "x.fit holds 16-bit data and 3 more header cards; saving writes 8-bit data and drops them."},
        {16, {}, "x.fit holds 16-bit data; saving writes 8-bit data."},
        {-32, {}, "x.fit holds 32-bit floating-point data; saving writes 8-bit data."},
        {8, {"COMMENT from the camera"}, "x.fit holds 1 more header card; saving drops it."},
        {8, {"DATAMIN =                    0", "DATAMAX =                  255", "HISTORY Created by Tarvi.", ""}, ""},
    };
    for (const auto& [bits, more, loss] : losses) {
        writeFitsFile(x, bits, more);
        EXPECT_EQ(fitsSaveLoss(QString::fromStdString(x)).toStdString(), loss) << bits;
    }
    writePicture(x, true);
    EXPECT_EQ(fitsSaveLoss(QString::fromStdString(x)), QString()) << "Tarvi's own file";
    EXPECT_EQ(fitsSaveLoss(file("none.fit")), QString());

    writeFitsFile(dir.file("m42.fit"), 16, {"OBJECT  = 'M42     '", "EXPTIME =                 30.0", "HISTORY a"});
    const std::string original = test::readFile(dir.file("m42.fit"));
    start();
    CTarviDoc* doc = open("m42.fit");
    ASSERT_EQ(viewOf(doc)->imageLoaded(), 1);
    const std::string question = "m42.fit holds 16-bit data and 3 more header cards; saving writes 8-bit data and "
                                 "drops them.\n\nWrite over m42.fit all the same?\nYes writes over it, No saves a "
                                 "copy under another name, Cancel saves nothing.";
    // Cancel, also after Yes to "Save changes" on closing: nothing written,
    // the window stays.
    ui.answers = {Answer::cancel};
    route(cmd::fileSave);
    route(cmd::center);
    ui.answers = {Answer::yes, Answer::cancel};
    frameOf(doc)->close();
    settle();
    EXPECT_EQ(frame().mdiArea()->subWindowList().size(), 1);
    EXPECT_TRUE(doc->isModified());
    // No: a copy under the name chosen.
    nextSavePath = file("m42-copy.fit");
    ui.answers = {Answer::no};
    route(cmd::fileSave);
    EXPECT_EQ(proposals, std::vector<QString>{"m42.fit.bmp"});
    EXPECT_EQ(test::readFile(dir.file("m42-copy.fit")).substr(0, 9), "SIMPLE  =");
    EXPECT_FALSE(doc->isModified());
    EXPECT_EQ(test::readFile(dir.file("m42.fit")), original);
    EXPECT_EQ(ui.boxes.size(), 4u);
    for (const std::size_t i : {0u, 2u, 3u})
        EXPECT_EQ(ui.boxes[i].text, question);
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::yesNoCancel);
    // Yes: written over with 8-bit data; then there is nothing more to lose.
    ui.answers = {Answer::yes};
    route(cmd::fileSave);
    EXPECT_EQ(test::readFile(dir.file("m42.fit")).substr(0, 480), fits::headerBlock(2, 2).substr(0, 480));
    route(cmd::fileSave);
    EXPECT_EQ(ui.boxes.size(), 5u);

    doc->setModifiedFlag(true);
    EXPECT_FALSE(doc->OnSaveDocument(file("no/such/dir/m42.bmp")));
    EXPECT_TRUE(doc->isModified()) << "a failed save keeps the changes";
}

TEST_F(DocumentTest, CaptureFromTheSimulatedCameraOpensAWindowWithThePicture)
{
    // Also the first capture after starting with a file.
    writePicture(dir.file("m42.bmp"));
    start(parseCommandLine({"--simulate", dir.file("m42.bmp")}));
    route(cmd::captureImage);
    finishCamera(app());
    ASSERT_EQ(docs().documents().size(), 2u) << (ui.boxes.empty() ? "" : ui.boxes[0].text);
    CTarviDoc* doc = docs().documents().back().get();
    EXPECT_EQ(state(doc), State("Tarvi1", "", true));
    CTarviView* view = viewOf(doc);
    ASSERT_EQ(view->imageLoaded(), 1);
    // The window shows what the camera sent, bottom row first in the buffer.
    EXPECT_EQ(view->image()->getPixels()[2], app().cameraImage[0]);
    EXPECT_EQ(ui.paneText(1).rfind("Baud rate: 56.6K.  ST-4 Version:  ", 0), 0u) << ui.paneText(1);

    // The next capture into the same window, renumbered.
    app().newWindowPerImage = 0;
    route(cmd::captureImage);
    finishCamera(app());
    ASSERT_EQ(docs().documents().size(), 2u);
    EXPECT_EQ(doc->title(), "Tarvi1-0001.bmp");
    EXPECT_EQ(view->image()->getPixels()[2], app().cameraImage[0]);
}

TEST_F(DocumentTest, LoadDarkFrameFromFileReadsTheChosenPictureAndCancelKeepsTheOldOne)
{
    start();
    writePicture(dir.file("dark.bmp"));
    app().darkFrame.fill(7);
    int asked = 0;
    shell->chooseDarkFrameFile = [&] {
        ++asked;
        return QString();
    };
    route(cmd::loadDarkFrame);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(std::ranges::count(app().darkFrame, 7), std::ssize(app().darkFrame)) << "Cancel loads nothing";
    EXPECT_TRUE(ui.boxes.empty());

    shell->chooseDarkFrameFile = [&] { return file("dark.bmp"); };
    route(cmd::loadDarkFrame);
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
    // The file's bottom row is the buffer's first: (row + col) % 256.
    EXPECT_EQ(std::tuple(app().darkFrame[0], app().darkFrame[5], app().darkFrame[192 * 3 + 4]), std::tuple(0, 5, 7));
}

// The value shown follows the scroll bar step by step; only OK changes the display size.
TEST_F(DocumentTest, DisplaySizeChangesOnlyOnOk)
{
    start();
    const std::tuple<QAbstractSlider::SliderAction, int, const char*> steps[] = {
        {QAbstractSlider::SliderToMinimum, 0, " 0.10"},     {QAbstractSlider::SliderSingleStepAdd, 1, " 0.10"},
        {QAbstractSlider::SliderSingleStepAdd, 2, " 0.10"}, {QAbstractSlider::SliderSingleStepAdd, 3, " 0.15"},
        {QAbstractSlider::SliderPageStepAdd, 8, " 0.40"},   {QAbstractSlider::SliderMove, 97, " 4.85"},
        {QAbstractSlider::SliderPageStepAdd, 100, " 5.00"}, {QAbstractSlider::SliderSingleStepAdd, 100, " 5.00"},
        {QAbstractSlider::SliderPageStepSub, 95, " 4.75"},  {QAbstractSlider::SliderToMinimum, 0, " 0.10"},
    };
    for (const bool ok : {false, true}) {
        test::whenModal<SetImageDisplaySize>([&](SetImageDisplaySize& dialog) {
            QScrollBar* bar = dialog.scrollBar();
            EXPECT_TRUE(dialog.valueEdit()->text() == " 1.00" && bar->value() == 20 && bar->maximum() == 100);
            for (const auto& [action, position, shown] : steps) {
                action == QAbstractSlider::SliderMove ? bar->setSliderPosition(position) : bar->triggerAction(action);
                EXPECT_EQ(bar->value(), position) << shown;
                EXPECT_EQ(dialog.valueEdit()->text(), shown);
            }
            for (int i = 0; i < 11; ++i)
                bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            if (ok)
                dialog.accept();
        });
        route(cmd::setImageDisplaySize);
        EXPECT_DOUBLE_EQ(app().displaySize, ok ? 0.55 : 1.0);
    }
}

class MainFrameTest : public DocumentTest {};

// Menus follow the image windows, window commands need one; a highlighted
// item shows its prompt in pane zero until the menu closes.
TEST_F(MainFrameTest, HighlightedItemShowsItsPromptInPaneZeroUntilTheMenuCloses)
{
    int gammas = 0;
    made().router().setHandler(Handler::setConversionGammas, [&] { ++gammas; });
    // Greyed items show no prompt; give these two a routine.
    shell->router().setHandler(Handler::captureImage, [] {});
    shell->router().setHandler(Handler::autoshootSetup, [] {});
    start();
    EXPECT_TRUE(frame().isVisible());
    EXPECT_EQ(frame().windowTitle(), "Tarvi");
    EXPECT_EQ(windows(), 0u);
    // The File New of the empty command line used up the refusal.
    EXPECT_EQ(app().skipNextNewDocument, 0);
    EXPECT_EQ(frame().currentMenu(), 128);
    EXPECT_EQ(shownMenus(frame()), tableMenus(128));
    EXPECT_TRUE(shownMenus(frame()).join("").contains(" 145|Set Conversion Gammas...||"));
    EXPECT_TRUE(enabled(cmd::lx200Controls) && enabled(cmd::appAbout) && enabled(cmd::helpTopics));
    EXPECT_FALSE(enabled(cmd::windowCascade));
    frame().commandAction(145)->trigger();
    EXPECT_EQ(gammas, 1);

    shell->ui().setStatusText(0, "Exposing: 3");
    QAction* captureAction = frame().menuBar()->actions().value(2);
    ASSERT_EQ(captureAction->text(), "Capture");
    QMenu* capture = captureAction->menu();
    frame().menuBar()->setActiveAction(captureAction);
    QApplication::processEvents();
    ASSERT_TRUE(capture->isVisible());
    for (const int id : {cmd::captureImage, cmd::autoshootSetup}) {
        capture->setActiveAction(frame().commandAction(id));
        QApplication::processEvents();
        EXPECT_EQ(frame().pane(0)->text(), q(findCommand(id)->prompt));
    }
    capture->hide();
    frame().menuBar()->setActiveAction(nullptr);
    QApplication::processEvents();
    EXPECT_EQ(frame().pane(0)->text(), "Exposing: 3");

    std::vector<QMdiSubWindow*> opened;
    for (int i = 0; i < 2; ++i) {
        opened.push_back(frame().addImageWindow(new QLabel("image")));
        opened.back()->show();
        frame().mdiArea()->setActiveSubWindow(opened.back());
        QApplication::processEvents();
        EXPECT_EQ(frame().currentMenu(), 129);
    }
    EXPECT_EQ(shownMenus(frame()), tableMenus(129));
    EXPECT_TRUE(shownMenus(frame()).join("").contains(" 147|Set Conversion Gammas...||"));
    EXPECT_TRUE(enabled(cmd::windowCascade) && enabled(cmd::windowTile));
    frame().commandAction(147)->trigger();
    EXPECT_EQ(gammas, 2);
    for (const int menu : {129, 128}) {
        opened.front()->close();
        opened.erase(opened.begin());
        settle();
        EXPECT_EQ(frame().currentMenu(), menu);
    }
    EXPECT_EQ(shownMenus(frame()), tableMenus(128));
    EXPECT_FALSE(enabled(cmd::windowCascade));
    frame().commandAction(cmd::appExit)->trigger();
    EXPECT_FALSE(frame().isVisible());
}

// Also the status bar's four panes, the baud pane 200 wide, and the About box.
TEST_F(MainFrameTest, ToolbarKeysAndBarsThatHide)
{
    start();
    const auto layout = toolbarLayout();
    const QList<QAction*> tools = frame().toolBar()->actions();
    ASSERT_EQ(tools.size(), static_cast<qsizetype>(layout.size()));
    for (qsizetype i = 0; i < tools.size(); ++i) {
        const int id = layout[static_cast<std::size_t>(i)];
        EXPECT_EQ(tools[i]->isSeparator() ? cmd::separator : tools[i]->data().toInt(), id);
        if (id == cmd::separator)
            continue;
        EXPECT_EQ(tools[i]->icon().pixmap(QSize(16, 15)).size(), QSize(16, 15)) << id;
        EXPECT_FALSE(tools[i]->toolTip().isEmpty()) << id;
    }
    EXPECT_EQ(frame().toolBar()->iconSize(), QSize(16, 15));
    for (const Command& command : commandTable())
        EXPECT_EQ(frame().commandAction(command.id)->shortcut().toString(QKeySequence::PortableText), q(command.shortcut));

    frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame()));
    QTest::keyClick(&frame(), Qt::Key_F1);
    QApplication::processEvents();
    ASSERT_NE(shell->helpWindow(), nullptr);
    EXPECT_TRUE(shell->helpWindow()->isVisible());
    EXPECT_TRUE(shell->helpWindow()->browser()->toPlainText().contains("COM1"));
    EXPECT_EQ(HelpWindow::userGuide("# Tarvi\n\n    scripts/run\n\n## User guide\n\nText.\n"), "## User guide\n\nText.\n");
    EXPECT_EQ(HelpWindow::userGuide("no guide"), "no guide");

    EXPECT_TRUE(frame().pane(CMainFrame::paneCount) == nullptr && frame().pane(-1) == nullptr);
    EXPECT_EQ(frame().pane(1)->width(), 200);
    EXPECT_TRUE(frame().pane(2)->width() == 0 && frame().pane(3)->width() == 0);
    shell->ui().setStatusText(1, "Baud rate: 56.6K.  ST-4 Version:  3");
    EXPECT_EQ(frame().pane(1)->text(), "Baud rate: 56.6K.  ST-4 Version:  3");
    // The pane grows where the font needs more than 200 pixels for the text.
    QApplication::processEvents();
    EXPECT_GE(frame().pane(1)->width(), frame().pane(1)->fontMetrics().horizontalAdvance(frame().pane(1)->text()));
    // The download's progress bar shows only while rows come in.
    EXPECT_TRUE(frame().progressBar()->isHidden());
    shell->ui().setProgress(40, 165);
    EXPECT_FALSE(frame().progressBar()->isHidden());
    EXPECT_TRUE(frame().progressBar()->value() == 40 && frame().progressBar()->maximum() == 165);
    shell->ui().setProgress(0, 0);
    EXPECT_TRUE(frame().progressBar()->isHidden());

    for (const auto& [id, bar] : {std::pair<int, QWidget*>{cmd::viewToolbar, frame().toolBar()}, {cmd::viewStatusBar, frame().statusBar()}}) {
        QAction* toggle = frame().commandAction(id);
        EXPECT_TRUE(toggle->isChecked());
        toggle->trigger();
        EXPECT_TRUE(bar->isHidden() && !toggle->isChecked());
        toggle->trigger();
        EXPECT_FALSE(bar->isHidden());
    }

    test::whenModal<CAboutDlg>([](CAboutDlg& box) { EXPECT_EQ(box.windowTitle(), "About Tarvi"); });
    frame().commandAction(cmd::appAbout)->trigger();
    CAboutDlg about;
    EXPECT_TRUE(about.findChild<QLabel*>("aboutVersion")->text().startsWith("Tarvi Version "));
    EXPECT_FALSE(about.findChild<QLabel*>("aboutIcon")->pixmap().isNull());
}

}  // namespace
}  // namespace tarvi
