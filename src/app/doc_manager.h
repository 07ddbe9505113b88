#pragma once

#include <QObject>
#include <QStringList>

#include "app/tarvi_app.h"

#include <functional>
#include <memory>
#include <vector>

class QPrinter;

namespace tarvi {

class CChildFrame;
class CMainFrame;
class CTarviDoc;
class CTarviView;
class CommandRouter;

// The recent-file list: four entries, kept with the desktop's settings store.
class RecentFiles {
public:
    static constexpr int capacity = 4;

    RecentFiles();
    const QStringList& files() const { return files_; }
    void add(const QString& path);
    void remove(const QString& path);

private:
    void save() const;
    QStringList files_;
};

// Documents and their windows: File New and Open, the recent files, Save,
// Save As and Close of the active document, printing and centring of the
// active view, and the window list.
class DocManager final : public QObject, public CaptureWindows {
    Q_OBJECT
public:
    DocManager(CTarviApp& app, CMainFrame& mainFrame);
    ~DocManager() override;

    void registerHandlers(CommandRouter& router);

    // File New; null when the new document is turned away.
    CTarviDoc* newDocument();
    // Opens path in a window of its own, or brings forward the window that
    // already shows it; null when the file cannot be opened.
    CTarviDoc* openDocumentFile(const QString& path);
    CChildFrame* newWindow(CTarviDoc& document);

    CTarviView* activeView() const;
    CTarviDoc* activeDocument() const;
    const std::vector<std::unique_ptr<CTarviDoc>>& documents() const { return documents_; }
    RecentFiles& recentFiles() { return recent_; }

    void addToRecentFiles(const QString& path);
    void removeDocument(CTarviDoc* document);
    void closeDocumentWindows(CTarviDoc& document);

    // Where captures put their pictures.
    void newCaptureWindow(const std::string& title) override;
    bool hasCurrentWindow() override;
    std::string currentWindowTitle() override;
    void retitleAndReloadCurrent(const std::string& title) override;

    // The file dialogs, replaceable so that tests can answer them.
    std::function<QString(const QString& proposal, const QString& filter)> chooseSaveFile;
    std::function<QStringList(const QString& filter)> chooseOpenFiles;

private:
    void onFileOpen();
    void onFileClose();
    void onPrint();
    void onPrintPreview();
    void onPrintSetup();
    void onArrangeIcons();
    QPrinter& printer();

    CTarviApp& app_;
    CMainFrame& mainFrame_;
    std::vector<std::unique_ptr<CTarviDoc>> documents_;
    int untitledCount_ = 0;
    RecentFiles recent_;
    std::unique_ptr<QPrinter> printer_;
};

}  // namespace tarvi
