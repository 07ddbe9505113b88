#include "platform/qt_ui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
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
    loop      // run the event loop with no pump
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
        const auto mouse = [&](QEvent::Type type, Qt::MouseButton button) {
            const Qt::MouseButtons down = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
            return static_cast<QEvent*>(new QMouseEvent(type, at, global, button, down, Qt::NoModifier));
        };
        for (const char* letter = letters; *letter != '\0'; ++letter) {
            QEvent* event = nullptr;
            if (*letter == 'p' || *letter == 'q')
                event = mouse(QEvent::MouseButtonPress, *letter == 'p' ? Qt::LeftButton : Qt::RightButton);
            else if (*letter == 'r')
                event = mouse(QEvent::MouseButtonRelease, Qt::LeftButton);
            else
                event = new QKeyEvent(QEvent::KeyPress, *letter == '!' ? Qt::Key_Escape : Qt::Key_A + (*letter - 'a'),
                                      Qt::NoModifier);
            QCoreApplication::postEvent(to, event);
        }
    };

    for (std::size_t index = 0; index < c.steps.size(); ++index) {
        const Step& step = c.steps[index];
        SCOPED_TRACE(testing::Message() << "step " << index);
        childLog.clear();
        parentLog.clear();
        if (step.what == Do::loop) {
            runEventLoop();
        } else {
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
