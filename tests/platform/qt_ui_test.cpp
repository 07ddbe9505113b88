#include "platform/qt_ui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

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

// Writes down the input it is given, a letter a message as in Step::post, and
// counts the custom events posted to it. It takes no input, so keys and
// buttons go on to its parent too.
class Recorder final : public QWidget {
public:
    Recorder(QString& log, QWidget* parent = nullptr) : QWidget(parent), log_(log) {}
    int customEvents = 0;

protected:
    bool event(QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            log_ += key == Qt::Key_Escape ? QChar('!') : QChar(key).toLower();
            break;
        }
        case QEvent::MouseButtonPress:
            log_ += static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton ? 'p' : 'q';
            break;
        case QEvent::MouseButtonRelease:
            log_ += 'r';
            break;
        case QEvent::User:
            ++customEvents;
            return true;
        default:
            break;
        }
        return QWidget::event(event);
    }

private:
    QString& log_;
};

enum class Do {
    pump,     // post, then pump
    box,      // pump; inside, a message box is answered with a click
    dialog,   // pump; inside, a plain modal dialog is answered the same way
    nested,   // post, then pump; inside, a pump of everything, after which c is typed
    loop      // post, then run the event loop with no pump
};

struct Step {
    Do what;
    PumpMode mode = PumpMode::all;
    const char* post = "";    // a, b, c: keys; !: Escape; p, r: left press, release; q: right press
    const char* got = "";     // what the widget was given during the step
    const char* report = "";  // !: Escape typed; p, r: left button pressed, released
};

struct PumpCase {
    const char* name;
    std::vector<Step> steps;
};

QString reportLetters(const PumpReport& report)
{
    return QString(report.escapeTyped ? "!" : "") + (report.leftButtonPressed ? "p" : "")
         + (report.leftButtonReleased ? "r" : "");
}

void runEventLoop()
{
    for (int pass = 0; pass < 4; ++pass) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
}

// The click on Yes is pending when something pumps while the box is up, as
// a device poll on a timer would.
void clickYesOnTheBox(Ui& ui)
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    QAbstractButton* yes = box->button(QMessageBox::Yes);
    const QPointF at = yes->rect().center();
    const QPointF global = yes->mapToGlobal(at);
    QCoreApplication::postEvent(yes, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                     Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(yes, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                     Qt::NoButton, Qt::NoModifier));
    ui.pumpMessages(PumpMode::paintOnly);
    // A click kept from the box would leave it up for ever.
    QTimer::singleShot(500, box, [box] { box->reject(); });
}

// Input goes either straight to the widget, or to its window as the window
// system delivers it (Qt then hands it on to the widget).
void runPumpCase(const PumpCase& c, bool throughWindow)
{
    SCOPED_TRACE(testing::Message() << c.name << (throughWindow ? ", through the window" : ", to the widget"));
    QtUi ui;
    QString parentLog;
    QString childLog;
    auto window = std::make_unique<Recorder>(parentLog);
    window->resize(100, 100);
    auto* child = new Recorder(childLog, window.get());
    child->setGeometry(20, 20, 40, 40);
    child->setFocusPolicy(Qt::StrongFocus);
    child->setFocus();
    window->show();

    const auto post = [&](const char* letters) {
        QObject* to = throughWindow ? static_cast<QObject*>(window->windowHandle()) : child;
        const QPointF at = throughWindow ? QPointF(30, 30) : QPointF(10, 10);
        const QPointF global = child->mapToGlobal(QPointF(10, 10));
        const auto mouse = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons down) {
            return static_cast<QEvent*>(new QMouseEvent(type, at, global, button, down, Qt::NoModifier));
        };
        for (const char* letter = letters; *letter != '\0'; ++letter) {
            QEvent* event = nullptr;
            switch (*letter) {
            case 'p':
                event = mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
                break;
            case 'q':
                event = mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton);
                break;
            case 'r':
                event = mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
                break;
            case '!':
                event = new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                break;
            default:
                event = new QKeyEvent(QEvent::KeyPress, Qt::Key_A + (*letter - 'a'), Qt::NoModifier);
                break;
            }
            QCoreApplication::postEvent(to, event);
        }
    };

    for (std::size_t index = 0; index < c.steps.size(); ++index) {
        const Step& step = c.steps[index];
        SCOPED_TRACE(testing::Message() << "step " << index);
        childLog.clear();
        parentLog.clear();
        switch (step.what) {
        case Do::pump:
        case Do::box:
        case Do::dialog:
        case Do::nested: {
            post(step.post);
            // Timers and posted events run in every mode.
            QCoreApplication::postEvent(child, new QEvent(QEvent::User));
            Answer answer = Answer::cancel;
            int ticks = 0;
            QTimer timer;
            timer.setSingleShot(true);
            QObject::connect(&timer, &QTimer::timeout, [&] {
                ++ticks;
                if (step.what == Do::box || step.what == Do::dialog)
                    QTimer::singleShot(0, [&ui] { clickYesOnTheBox(ui); });
                if (step.what == Do::box) {
                    answer = ui.messageBox("Telescope not responding", {}, Buttons::yesNo, {});
                } else if (step.what == Do::dialog) {
                    QMessageBox box(QMessageBox::Question, "Tarvi", "Overwrite?",
                                    QMessageBox::Yes | QMessageBox::No);
                    answer = box.exec() == QMessageBox::Yes ? Answer::yes : Answer::no;
                } else if (step.what == Do::nested) {
                    ui.pumpMessages(PumpMode::all);
                    post("c");
                }
            });
            timer.start(0);
            const int customBefore = child->customEvents;
            const PumpReport report = ui.pumpMessages(step.mode);
            EXPECT_EQ(reportLetters(report), QString::fromLatin1(step.report));
            EXPECT_EQ(ticks, 1);
            EXPECT_EQ(child->customEvents, customBefore + 1);
            if (step.what == Do::box || step.what == Do::dialog) {
                EXPECT_EQ(answer, Answer::yes);
            }
            break;
        }
        case Do::loop:
            post(step.post);
            runEventLoop();
            break;
        }
        EXPECT_EQ(childLog, QString::fromLatin1(step.got));
        // Each message the widget did not take reached its parent too, at once.
        EXPECT_EQ(parentLog, childLog);
    }
}

TEST(QtUi, PumpsTakeInputByModeAndTheRestWaitsInOrder)
{
    using enum Do;
    // Each step: what, mode, input posted, what the widget got, the report.
    const PumpCase cases[] = {
        {"one message a pump, the same key twice being two",
         {{pump, PumpMode::one, "a!a", "a"},
          {pump, PumpMode::one, "", "!", "!"},
          {pump, PumpMode::one, "", "a"},
          {loop}}},
        {"what one pump leaves goes to the event loop",
         {{pump, PumpMode::one, "ab", "a"}, {loop, {}, "", "b"}}},
        {"up to a left press", {{pump, PumpMode::toLeftPress, "aqpr", "aqp", "p"}, {loop, {}, "", "r"}}},
        {"up to a left release", {{pump, PumpMode::toLeftRelease, "pbrc", "pbr", "pr"}, {loop, {}, "", "c"}}},
        {"everything", {{pump, PumpMode::all, "p!r", "p!r", "!pr"}}},
        {"a pump within a pump takes what the outer one left, which then goes on as before",
         {{nested, PumpMode::paintOnly, "ab", "ab"}, {loop, {}, "", "c"}}},
        {"no input while painting",
         {{pump, PumpMode::paintOnly, "!p", ""}, {pump, PumpMode::all, "", "!p", "!p"}}},
        // A key waits here: Qt itself forgets a button held down across a
        // modal box.
        {"a box is answered while input waits", {{box, PumpMode::paintOnly, "a"}, {loop, {}, "", "a"}}},
        {"a dialog opened in a pump that is done taking is answered",
         {{dialog, PumpMode::one, "ab", "a"}, {loop, {}, "", "b"}}},
    };
    for (const PumpCase& c : cases) {
        runPumpCase(c, false);
        runPumpCase(c, true);
    }
}

}  // namespace
}  // namespace tarvi
