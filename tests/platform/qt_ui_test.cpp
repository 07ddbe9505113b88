#include "platform/qt_ui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTest>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace tarvi {
namespace {

class RecordingPanes final : public StatusPanes {
public:
    void setPaneText(int pane, const QString& text) override { texts[pane] = text; }
    void setProgress(int done, int total) override { progress = {done, total}; }
    std::pair<int, int> progress{-1, -1};
    std::map<int, QString> texts;
};

// Boxes, the status panes and the wait cursor, as the logic asks for them.
TEST(QtUi, BoxesPanesAndTheWaitCursorDoWhatTheLogicAsks)
{
    QtUi ui;
    ui.setStatusText(0, "Please Wait.  Establishing telescope communications");
    ui.setStatusText(1, "Baud rate: 9600.  ST-4 Version:  2");
    QWidget main;
    RecordingPanes panes;
    ui.setMainWindow(&main, &panes);
    EXPECT_EQ(panes.texts[0], "Please Wait.  Establishing telescope communications") << "texts wait for the window";
    EXPECT_EQ(panes.texts[1], "Baud rate: 9600.  ST-4 Version:  2");
    ui.setProgress(12, 165);
    EXPECT_EQ(panes.progress, (std::pair<int, int>{12, 165}));

    const BoxStyle alone{.setForeground = true, .noOwner = true};
    const struct {
        Buttons buttons;
        const char* click;  // "": closed without a button
        QStringList shown;
        Answer answer;
        BoxStyle style = {};
        const char* caption = "";
    } cases[] = {
        {Buttons::ok, "OK", {"OK"}, Answer::ok},
        {Buttons::ok, "", {"OK"}, Answer::ok},
        {Buttons::retryCancel, "Retry", {"Cancel", "Retry"}, Answer::retry},
        {Buttons::retryCancel, "", {"Cancel", "Retry"}, Answer::cancel},
        {Buttons::yesNo, "Yes", {"No", "Yes"}, Answer::yes},
        {Buttons::yesNo, "No", {"No", "Yes"}, Answer::no},
        {Buttons::yesNoCancel, "Cancel", {"Cancel", "No", "Yes"}, Answer::cancel},
        {Buttons::ok, "OK", {"OK"}, Answer::ok, alone, "Information"},
    };
    for (const auto& c : cases) {
        QStringList seen;  // title, text, owned, on top, then the buttons in order
        QTimer::singleShot(0, [&seen, &c] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen << box->windowTitle() << box->text() << QString::number(box->parentWidget() != nullptr)
                 << QString::number(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QAbstractButton* clicked = nullptr;
            QStringList buttons;
            for (QAbstractButton* button : box->buttons()) {
                buttons << button->text().remove('&');
                clicked = buttons.back() == c.click ? button : clicked;
            }
            buttons.sort();
            seen << buttons;
            clicked != nullptr ? clicked->click() : box->reject();
        });
        EXPECT_EQ(ui.messageBox("Attempt to retrieve row 7 failed", c.caption, c.buttons, c.style), c.answer) << c.click;
        const QString title = *c.caption != '\0' ? c.caption : "Tarvi";
        EXPECT_EQ(seen, (QStringList{title, "Attempt to retrieve row 7 failed", QString::number(!c.style.noOwner),
                                     QString::number(c.style.setForeground)} << c.shown)) << c.click;
    }

    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    {
        WaitCursor outer(ui);
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        { WaitCursor inner(ui); }
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ui.endWaitCursor();  // one too many is harmless
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Input is counted once as it reaches the windows, however many objects it
// passes through: Escape, and the left button going down and up.
TEST(QtUi, EscapeAndTheLeftButtonAreCountedOnceEach)
{
    QtUi ui;
    QWidget window;
    auto* child = new QWidget(&window);
    window.show();
    const struct { std::function<void()> input; unsigned escapes, presses, releases; } cases[] = {
        {[&] { QTest::keyClick(child, Qt::Key_Escape); }, 1, 0, 0},
        {[&] { QTest::keyClick(child, Qt::Key_A); }, 0, 0, 0},
        {[&] { QTest::mouseClick(child, Qt::LeftButton); }, 0, 1, 1},
        {[&] { QTest::mouseClick(&window, Qt::RightButton); }, 0, 0, 0},
        {[&] { QTest::mousePress(child, Qt::LeftButton); }, 0, 1, 0},
    };
    for (const auto& c : cases) {
        const unsigned escapes = ui.input().escapes, presses = ui.input().leftPresses,
                       releases = ui.input().leftReleases;
        c.input();
        EXPECT_EQ(ui.input().escapes - escapes, c.escapes);
        EXPECT_EQ(ui.input().leftPresses - presses, c.presses);
        EXPECT_EQ(ui.input().leftReleases - releases, c.releases);
    }
}

// A box for a device's job opens without a loop of its own; the answer comes
// when the user clicks, and Exit answers every open box with its safe button.
TEST(QtUi, BoxesForJobsOpenWithoutALoopAndExitAnswersThemSafely)
{
    QtUi ui;
    std::vector<Answer> answers;
    const auto answered = [&](Answer answer) { answers.push_back(answer); };
    ui.openMessageBox("Attempt to retrieve row 7 failed", "ERROR", Buttons::retryCancel, {}, answered);
    ui.openMessageBox("Sync?", {}, Buttons::yesNo, {}, answered);
    ui.openMessageBox("Telescope not responding", {}, Buttons::ok, {}, answered);
    EXPECT_TRUE(answers.empty()) << "nothing waited for the user";
    QMessageBox* first = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->text() == "Attempt to retrieve row 7 failed")
            first = box;
    }
    ASSERT_NE(first, nullptr);
    first->button(QMessageBox::Retry)->click();
    EXPECT_EQ(answers, std::vector<Answer>{Answer::retry});
    ui.closeOpenBoxes();
    EXPECT_EQ(answers, (std::vector<Answer>{Answer::retry, Answer::no, Answer::ok}));
}

}  // namespace
}  // namespace tarvi
