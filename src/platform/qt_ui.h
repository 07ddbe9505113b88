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
    // Device work runs on its own threads, which look at the tally.
    InputSeen lookForInput() override { return {}; }
    void setProgress(int done, int total) override;
    void playSound(const std::string& wavPath) override;
    void beep() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
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
    int waitDepth_ = 0;
    std::vector<QProcess*> players_;
};

}  // namespace tarvi
