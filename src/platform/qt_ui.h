#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/ui.h"

class QInputEvent;
class QMessageBox;
class QProcess;
class QWidget;
class QWindow;

namespace tarvi {

// Where the status-bar texts go; the main frame.
class StatusPanes {
public:
    virtual ~StatusPanes() = default;
    virtual void setPaneText(int pane, const QString& text) = 0;
    virtual void setProgress(int done, int total) = 0;
};

// Ui on a Qt desktop. It exists before the main window does (the settings are
// read, and may need a message box, before the window is built); until then
// boxes have no owner and status texts wait for the window.
class QtUi final : public QObject, public Ui {
    Q_OBJECT
public:
    QtUi();
    ~QtUi() override;

    void setMainWindow(QWidget* window, StatusPanes* panes);

    Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons,
                      BoxStyle style) override;
    // The box without a loop of its own: a device's job waits for the answer,
    // the program does not.
    void openMessageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style,
                        std::function<void(Answer)> answered) override;
    // At exit: every box opened so far and still open is answered with its
    // safe button.
    void closeOpenBoxes();
    // Escape, left presses and releases as they reached the windows.
    InputTally& input() { return input_; }
    void setStatusText(int pane, std::string_view text) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    PumpReport pumpMessages(PumpMode mode) override;
    void setProgress(int done, int total) override;
    void playSound(const std::string& wavPath) override;
    void beep() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Input a pump did not take: a copy of the event and where it was going.
    struct Waiting {
        std::unique_ptr<QEvent> event;
        QPointer<QObject> receiver;
    };

    // The input message last let through. Qt hands one message on from the
    // window to the widget and from a widget to its parents; those later
    // sightings belong to it and must pass too.
    struct Taken {
        QEvent::Type type = QEvent::None;
        quint64 timestamp = 0;
        int code = 0;
        QPointer<QObject> receiver;

        bool continuedBy(const QInputEvent& event, QObject* receiver) const;
    };

    // Who decides about input just now: a pump, or a message box.
    struct Level {
        enum class Kind { box, pump } kind = Kind::pump;
        PumpMode mode = PumpMode::all;
        // Waiting input below this index was left by whatever ran before a
        // message box opened; it stays out of the box's way.
        std::size_t floor = 0;
        bool full = false;
        Taken taken;
        PumpReport seen;
        // A dialog or menu that opens later runs an event loop of its own,
        // which must get the input it needs.
        QPointer<QWindow> modal;
        QPointer<QWidget> popup;
    };

    // Waiting input below this index belongs to an outer level.
    std::size_t floor() const { return levels_.empty() ? 0 : levels_.back().floor; }
    static void noteDialogs(Level& level);
    static bool dialogOpenedSince(const Level& level);
    bool mustWait(const Level& level) const;
    void take(Level& level, const QInputEvent& event, QObject* receiver);
    void handBack();

    // Counts an input message once, however many objects it passes through.
    void tally(const QInputEvent& event);
    QMessageBox* makeBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style) const;

    InputTally input_;
    struct Tallied {
        QEvent::Type type = QEvent::None;
        quint64 timestamp = 0;
        int code = 0;
    } lastTallied_;
    std::vector<QPointer<QMessageBox>> openBoxes_;
    QPointer<QWidget> mainWindow_;
    StatusPanes* panes_ = nullptr;
    std::vector<std::pair<int, QString>> pendingTexts_;
    std::vector<Level> levels_;
    std::deque<Waiting> waiting_;
    int waitDepth_ = 0;
    std::vector<QProcess*> players_;
};

}  // namespace tarvi
