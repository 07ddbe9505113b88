#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

#include "platform/ui.h"

class QProcess;
class QWidget;

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
    QPointer<QWidget> mainWindow_;
    StatusPanes* panes_ = nullptr;
    std::vector<std::pair<int, QString>> pendingTexts_;
    PumpReport seen_;
    int waitDepth_ = 0;
    std::vector<QProcess*> players_;
};

}  // namespace tarvi
