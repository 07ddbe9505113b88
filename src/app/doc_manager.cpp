#include "app/doc_manager.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSettings>
#include <QTimer>

#include <algorithm>

#include "app/child_frame.h"
#include "app/command_router.h"
#include "app/document_names.h"
#include "app/main_frame.h"
#include "app/tarvi_app.h"
#include "app/tarvi_doc.h"
#include "view/tarvi_view.h"

namespace tarvi {

namespace {
const QString recentGroup = QStringLiteral("Recent File List");
}

RecentFiles::RecentFiles()
{
    QSettings settings;
    settings.beginGroup(recentGroup);
    for (int i = 1; i <= capacity; ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty())
            files_ << path;
    }
}

void RecentFiles::add(const QString& path)
{
    files_.removeAll(path);
    files_.prepend(path);
    while (files_.size() > capacity)
        files_.removeLast();
    save();
}

void RecentFiles::remove(const QString& path)
{
    if (files_.removeAll(path) > 0)
        save();
}

void RecentFiles::save() const
{
    QSettings settings;
    settings.beginGroup(recentGroup);
    for (int i = 1; i <= capacity; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= files_.size())
            settings.setValue(key, files_[i - 1]);
        else
            settings.remove(key);
    }
}

DocManager::DocManager(CTarviApp& app, CMainFrame& mainFrame) : app_(app), mainFrame_(mainFrame)
{
    chooseSaveFile = [this](const QString& proposal, const QString& filter) {
        QFileDialog dialog(&mainFrame_, QStringLiteral("Save As"), proposal, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("bmp"));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                       : QString();
    };
    chooseOpenFiles = [this](const QString& filter) {
        return QFileDialog::getOpenFileNames(&mainFrame_, QStringLiteral("Open"), QString(), filter);
    };
    mainFrame_.setRecentFiles(recent_.files());
    connect(&mainFrame_, &CMainFrame::recentFileChosen, this, [this](const QString& path) {
        if (openDocumentFile(path) == nullptr) {
            recent_.remove(path);
            mainFrame_.setRecentFiles(recent_.files());
        }
    });
}

DocManager::~DocManager()
{
    // Windows go before their documents: each view tells its document it is gone.
    std::vector<QMdiSubWindow*> frames;
    for (const auto& doc : documents_) {
        for (CTarviView* view : doc->views()) {
            if (auto* frame = qobject_cast<QMdiSubWindow*>(view->parentWidget()))
                frames.push_back(frame);
        }
    }
    for (QMdiSubWindow* frame : frames)
        delete frame;
}

void DocManager::registerHandlers(CommandRouter& router)
{
    router.setHandler(Handler::fileNew, [this] { newDocument(); });
    router.setHandler(Handler::fileOpen, [this] { onFileOpen(); });
    router.setHandler(Handler::fileClose, [this] { onFileClose(); });
    router.setHandler(Handler::fileSave, [this] {
        if (CTarviDoc* doc = activeDocument())
            doc->DoFileSave();
    });
    router.setHandler(Handler::fileSaveAs, [this] {
        if (CTarviDoc* doc = activeDocument())
            doc->OnFileSaveAs();
    });
    router.setHandler(Handler::filePrint, [this] { onPrint(); });
    router.setHandler(Handler::filePrintPreview, [this] { onPrintPreview(); });
    router.setHandler(Handler::filePrintSetup, [this] { onPrintSetup(); });
    router.setHandler(Handler::center, [this] {
        if (CTarviView* view = activeView())
            view->OnCenter();
    });
    router.setHandler(Handler::windowNew, [this] {
        if (CTarviDoc* doc = activeDocument())
            newWindow(*doc);
    });
    router.setHandler(Handler::windowArrange, [this] { onArrangeIcons(); });
}

CTarviDoc* DocManager::newDocument()
{
    auto document = std::make_unique<CTarviDoc>(app_, *this);
    document->setTitle(QString::fromStdString(untitledTitle(untitledCount_ + 1)));
    if (!document->OnNewDocument())
        return nullptr;
    ++untitledCount_;
    CTarviDoc* doc = document.get();
    documents_.push_back(std::move(document));
    newWindow(*doc);
    return doc;
}

CTarviDoc* DocManager::openDocumentFile(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const auto& doc : documents_) {
        if (doc->pathName() == absolute && !doc->views().empty()) {
            auto* frame = qobject_cast<QMdiSubWindow*>(doc->views().front()->parentWidget());
            if (frame != nullptr)
                mainFrame_.mdiArea()->setActiveSubWindow(frame);
            return doc.get();
        }
    }
    auto document = std::make_unique<CTarviDoc>(app_, *this);
    if (!document->OnOpenDocument(absolute))
        return nullptr;
    document->setPathName(absolute);
    CTarviDoc* doc = document.get();
    documents_.push_back(std::move(document));
    newWindow(*doc);
    return doc;
}

CChildFrame* DocManager::newWindow(CTarviDoc& document)
{
    auto* view = new CTarviView(app_, document);
    auto* frame = new CChildFrame(view);
    mainFrame_.addImageWindow(frame);
    frame->show();
    view->OnInitialUpdate();
    view->setFocus();
    return frame;
}

void DocManager::newCaptureWindow(const std::string& title)
{
    CTarviDoc* doc = newDocument();
    if (doc != nullptr && !title.empty())
        doc->setTitle(QString::fromStdString(title));
}

bool DocManager::hasCurrentWindow()
{
    return app_.currentView != nullptr;
}

std::string DocManager::currentWindowTitle()
{
    return app_.currentView != nullptr ? app_.currentView->document().title().toStdString() : std::string();
}

void DocManager::retitleAndReloadCurrent(const std::string& title)
{
    CTarviView* view = app_.currentView;
    if (view == nullptr)
        return;
    view->document().setTitle(QString::fromStdString(title));
    view->reloadImage();
    view->viewport()->update();
}

CTarviView* DocManager::activeView() const
{
    auto* frame = qobject_cast<CChildFrame*>(mainFrame_.mdiArea()->currentSubWindow());
    return frame != nullptr ? frame->view() : nullptr;
}

CTarviDoc* DocManager::activeDocument() const
{
    CTarviView* view = activeView();
    return view != nullptr ? &view->document() : nullptr;
}

void DocManager::addToRecentFiles(const QString& path)
{
    recent_.add(path);
    mainFrame_.setRecentFiles(recent_.files());
}

void DocManager::removeDocument(CTarviDoc* document)
{
    // The document goes once the call that closed its last window is over.
    const auto it = std::find_if(documents_.begin(), documents_.end(),
                                 [document](const auto& owned) { return owned.get() == document; });
    if (it == documents_.end())
        return;
    it->release()->deleteLater();
    documents_.erase(it);
}

void DocManager::closeDocumentWindows(CTarviDoc& document)
{
    std::vector<QMdiSubWindow*> frames;
    for (CTarviView* view : document.views()) {
        if (auto* frame = qobject_cast<QMdiSubWindow*>(view->parentWidget()))
            frames.push_back(frame);
    }
    for (QMdiSubWindow* frame : frames)
        frame->close();
}

void DocManager::onFileOpen()
{
    const QStringList paths = chooseOpenFiles(QStringLiteral("Tarvi Files (*.bmp);;All Files (*)"));
    for (const QString& path : paths)
        openDocumentFile(path);
}

void DocManager::onFileClose()
{
    CTarviDoc* doc = activeDocument();
    if (doc == nullptr || !doc->SaveModified())
        return;
    // Saved or given up: the windows close without asking again.
    doc->setModifiedFlag(false);
    closeDocumentWindows(*doc);
}

QPrinter& DocManager::printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

void DocManager::onPrint()
{
    CTarviView* view = activeView();
    if (view == nullptr)
        return;
    QPrintDialog dialog(&printer(), &mainFrame_);
    if (dialog.exec() == QDialog::Accepted)
        view->print(&printer());
}

void DocManager::onPrintPreview()
{
    CTarviView* view = activeView();
    if (view == nullptr)
        return;
    QPrintPreviewDialog preview(&printer(), &mainFrame_);
    connect(&preview, &QPrintPreviewDialog::paintRequested, view, [view](QPrinter* p) { view->print(p); });
    preview.exec();
}

void DocManager::onPrintSetup()
{
    QPageSetupDialog dialog(&printer(), &mainFrame_);
    dialog.exec();
}

void DocManager::onArrangeIcons()
{
    // Minimised windows in a row along the bottom of the area, left to right.
    QMdiArea* area = mainFrame_.mdiArea();
    int x = 0;
    for (QMdiSubWindow* window : area->subWindowList(QMdiArea::CreationOrder)) {
        if (!window->isMinimized())
            continue;
        const QSize size = window->size();
        if (x > 0 && x + size.width() > area->viewport()->width())
            x = 0;
        window->move(x, area->viewport()->height() - size.height());
        x += size.width();
    }
}

}  // namespace tarvi
