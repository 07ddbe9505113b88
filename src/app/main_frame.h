#pragma once

#include <QMainWindow>

#include <map>
#include <vector>

#include "platform/qt_ui.h"

class QLabel;
class QProgressBar;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;

namespace tarvi {

class CTarviApp;
class CommandRouter;

// The main window: the MDI area holding the image windows, the toolbar, the
// status bar with its four panes, and the menu bar, which is menu 128 while
// no image window is open and menu 129 while one is.
class CMainFrame final : public QMainWindow, public StatusPanes {
    Q_OBJECT
public:
    // The four panes of the original, and the telescope's beside the first.
    static constexpr int paneCount = 5;
    static constexpr int baudPaneWidth = 200;

    CMainFrame(CTarviApp& app, const CommandRouter& router);
    ~CMainFrame() override;

    // Builds the MDI area, toolbar, status bar and menus; false on failure.
    bool create();

    QMdiArea* mdiArea() const { return mdiArea_; }
    QToolBar* toolBar() const { return toolBar_; }
    QAction* commandAction(int id) const;
    QLabel* pane(int index) const;
    // The telescope server and its clients; hidden when the text is empty.
    void setServerStatus(const QString& text);
    QLabel* serverPane() const { return serverPane_; }
    int currentMenu() const { return currentMenu_; }

    // Adds an image window to the MDI area and keeps the menus in step with it.
    QMdiSubWindow* addImageWindow(QWidget* content);

    // Greys what cannot run now and picks menu 128 or 129.
    void updateCommandUi();
    // A device became busy or idle: the commands follow, and an Exit that
    // waited for the devices goes ahead.
    void devicesBusyChanged();

    void setPaneText(int pane, const QString& text) override;
    void setProgress(int done, int total) override;
    QProgressBar* progressBar() const { return progress_; }

    // The File menu lists these, most recent first, in place of "Recent File".
    void setRecentFiles(const QStringList& paths);

signals:
    void filesDropped(const QStringList& paths);
    void recentFileChosen(const QString& path);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createActions();
    void buildMenuBar(int menuResource);
    bool hasActiveChild() const;

    CTarviApp& app_;
    const CommandRouter& router_;
    QMdiArea* mdiArea_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    std::map<int, QAction*> actions_;
    QLabel* panes_[paneCount] = {};
    QLabel* serverPane_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QString paneZeroText_;
    QStringList recentFiles_;
    std::vector<QAction*> recentActions_;  // what pane 0 shows when no menu prompt covers it
    int currentMenu_ = 0;
    bool closeWhenIdle_ = false;
};

}  // namespace tarvi
