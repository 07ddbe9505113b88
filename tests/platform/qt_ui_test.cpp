#include "platform/qt_ui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <map>

namespace tarvi {
namespace {

class RecordingPanes final : public StatusPanes {
public:
    void setPaneText(int pane, const QString& text) override { texts[pane] = text; }
    void setProgress(int done, int total) override { progress = {done, total}; }
    std::pair<int, int> progress{-1, -1};
    std::map<int, QString> texts;
};

struct SeenBox {
    QString title;
    QString text;
    QStringList buttons;
    bool owned = false;
};

TEST(QtUi, MessageBoxesShowTheirCaptionButtonsAndGiveTheAnswer)
{
    QtUi ui;
    QWidget main;
    RecordingPanes panes;
    ui.setMainWindow(&main, &panes);

    struct Case {
        Buttons buttons;
        const char* click;
        QStringList shown;
        Answer answer;
    };
    const Case cases[] = {
        {Buttons::ok, "OK", {"OK"}, Answer::ok},
        {Buttons::ok, "", {"OK"}, Answer::ok},
        {Buttons::retryCancel, "Retry", {"Retry", "Cancel"}, Answer::retry},
        {Buttons::retryCancel, "Cancel", {"Retry", "Cancel"}, Answer::cancel},
        {Buttons::retryCancel, "", {"Retry", "Cancel"}, Answer::cancel},
        {Buttons::yesNo, "Yes", {"Yes", "No"}, Answer::yes},
        {Buttons::yesNo, "No", {"Yes", "No"}, Answer::no},
        {Buttons::yesNoCancel, "Cancel", {"Yes", "No", "Cancel"}, Answer::cancel},
    };
    for (const auto& c : cases) {
        SeenBox seen;
        QTimer::singleShot(0, [&seen, &c] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.owned = box->parentWidget() != nullptr;
            for (QAbstractButton* button : box->buttons())
                seen.buttons << button->text().remove('&');
            for (QAbstractButton* button : box->buttons()) {
                if (QString(c.click) == button->text().remove('&')) {
                    button->click();
                    return;
                }
            }
            box->reject();
        });
        const Answer answer = ui.messageBox("Attempt to retrieve row 7 failed", {}, c.buttons, {});
        EXPECT_EQ(answer, c.answer) << c.click;
        EXPECT_EQ(seen.title, "Tarvi");
        EXPECT_EQ(seen.text, "Attempt to retrieve row 7 failed");
        EXPECT_TRUE(seen.owned);
        QStringList sortedSeen = seen.buttons;
        QStringList sortedWanted = c.shown;
        sortedSeen.sort();
        sortedWanted.sort();
        EXPECT_EQ(sortedSeen, sortedWanted);
    }
}

TEST(QtUi, BoxWithoutOwnerAndForegroundStyle)
{
    QtUi ui;
    QWidget main;
    ui.setMainWindow(&main, nullptr);
    bool owned = true;
    bool onTop = false;
    QString title;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        owned = box->parentWidget() != nullptr;
        onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        title = box->windowTitle();
        box->accept();
    });
    ui.messageBox("Cannot get settings", "Information", Buttons::ok, BoxStyle{.setForeground = true, .noOwner = true});
    EXPECT_FALSE(owned);
    EXPECT_TRUE(onTop);
    EXPECT_EQ(title, "Information");
}

TEST(QtUi, StatusTextsWaitForTheMainWindow)
{
    QtUi ui;
    ui.setStatusText(0, "Please Wait.  Establishing telescope communications");
    ui.setStatusText(1, "Baud rate: 9600.  ST-4 Version:  2");
    RecordingPanes panes;
    QWidget main;
    ui.setMainWindow(&main, &panes);
    EXPECT_EQ(panes.texts[0], "Please Wait.  Establishing telescope communications");
    EXPECT_EQ(panes.texts[1], "Baud rate: 9600.  ST-4 Version:  2");
    ui.setStatusText(0, "");
    EXPECT_EQ(panes.texts[0], "");
    ui.setProgress(12, 165);
    EXPECT_EQ(panes.progress, (std::pair<int, int>{12, 165}));
}

TEST(QtUi, WaitCursorNestsAndComesBack)
{
    QtUi ui;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    {
        WaitCursor outer(ui);
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            WaitCursor inner(ui);
        }
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ui.endWaitCursor();  // one too many is harmless
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtUi, PumpReportsEscapeAndTheLeftButton)
{
    QtUi ui;
    QWidget target;
    target.resize(100, 100);
    target.show();

    EXPECT_FALSE(ui.pumpMessages(PumpMode::all).escapeTyped);

    QCoreApplication::postEvent(&target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    PumpReport report = ui.pumpMessages(PumpMode::one);
    EXPECT_TRUE(report.escapeTyped);
    EXPECT_FALSE(report.leftButtonPressed);

    // What went by is reported once.
    EXPECT_FALSE(ui.pumpMessages(PumpMode::all).escapeTyped);

    QCoreApplication::postEvent(&target, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
    EXPECT_FALSE(ui.pumpMessages(PumpMode::all).escapeTyped);

    const QPointF at(10, 10);
    QCoreApplication::postEvent(&target, new QMouseEvent(QEvent::MouseButtonPress, at, at, Qt::LeftButton,
                                                         Qt::LeftButton, Qt::NoModifier));
    report = ui.pumpMessages(PumpMode::all);
    EXPECT_TRUE(report.leftButtonPressed);
    EXPECT_FALSE(report.leftButtonReleased);

    QCoreApplication::postEvent(&target, new QMouseEvent(QEvent::MouseButtonRelease, at, at, Qt::LeftButton,
                                                         Qt::NoButton, Qt::NoModifier));
    report = ui.pumpMessages(PumpMode::all);
    EXPECT_TRUE(report.leftButtonReleased);

    QCoreApplication::postEvent(&target, new QMouseEvent(QEvent::MouseButtonPress, at, at, Qt::RightButton,
                                                         Qt::RightButton, Qt::NoModifier));
    report = ui.pumpMessages(PumpMode::all);
    EXPECT_FALSE(report.leftButtonPressed);
}

}  // namespace
}  // namespace tarvi
