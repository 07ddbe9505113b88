#include "app/tarvi_doc.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include "app/doc_manager.h"
#include "app/document_names.h"
#include "app/tarvi_app.h"
#include "view/tarvi_view.h"

namespace tarvi {

namespace {
const QString saveAsFilter = QStringLiteral("Tarvi files (*.bmp);;FITS files (*.fit);;All Files (*)");
}

CTarviDoc::CTarviDoc(CTarviApp& app, DocManager& manager) : app_(app), manager_(manager) {}

CTarviDoc::~CTarviDoc() = default;

void CTarviDoc::setPathName(const QString& path)
{
    pathName_ = QFileInfo(path).absoluteFilePath();
    title_ = QFileInfo(path).fileName();
    manager_.addToRecentFiles(pathName_);
    emit changed();
}

void CTarviDoc::setTitle(const QString& title)
{
    title_ = title;
    emit changed();
}

void CTarviDoc::setModifiedFlag(bool modified)
{
    if (modified_ == modified)
        return;
    modified_ = modified;
    emit changed();
}

bool CTarviDoc::OnNewDocument()
{
    if (app_.skipNextNewDocument) {
        app_.skipNextNewDocument = 0;
        return false;
    }
    pathName_.clear();
    modified_ = false;
    if (app_.averagedFrameCount != 0) {
        setTitle(QString::fromStdString(averagedTitle(title_.toStdString(), app_.averagedFrameCount)));
        app_.averagedFrameCount = 0;
    }
    return true;
}

bool CTarviDoc::OnOpenDocument(const QString& path)
{
    // The document reads no data; the file must be there to be read by the view.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString text = QStringLiteral("%1\n%2").arg(path, file.errorString());
        app_.ui().messageBox(text.toStdString(), {}, Buttons::ok, {});
        return false;
    }
    file.close();
    modified_ = false;
    app_.nextWindowX += 20;
    app_.nextWindowY += 20;
    app_.nextWindowWidth = CTarviApp::frameWidth;
    app_.nextWindowHeight = CTarviApp::frameHeight;
    return true;
}

CTarviView* CTarviDoc::viewForSaving() const
{
    CTarviView* active = manager_.activeView();
    if (active != nullptr && &active->document() == this)
        return active;
    return views_.empty() ? nullptr : views_.front();
}

bool CTarviDoc::OnSaveDocument(const QString& path)
{
    CTarviView* view = viewForSaving();
    if (view == nullptr)
        return false;
    const int written = saveFormat(path.toStdString()) == ImageFormat::fits ? view->saveAsFits(path)
                                                                            : view->saveAsBmp(path);
    // A picture that did not reach the file is still unsaved.
    if (written == 1)
        setModifiedFlag(false);
    return written == 1;
}

bool CTarviDoc::DoFileSave()
{
    if (!pathName_.isEmpty())
        return OnSaveDocument(pathName_);
    const QString proposal = QString::fromStdString(proposeSaveAsName(title_.toStdString()));
    const QString path = manager_.chooseSaveFile(proposal, QStringLiteral("Tarvi Files (*.bmp);;All Files (*)"));
    if (path.isEmpty())
        return false;
    if (!OnSaveDocument(path))
        return false;
    setPathName(path);
    return true;
}

void CTarviDoc::OnFileSaveAs()
{
    const QString proposal = QString::fromStdString(proposeSaveAsName(title_.toStdString()));
    const QString path = manager_.chooseSaveFile(proposal, saveAsFilter);
    if (path.isEmpty())
        return;
    const ImageFormat format = saveAsFormat(path.toStdString());
    if (format == ImageFormat::none) {
        const QString text = QStringLiteral("%1\nOnly files ending in .bmp or .fit can be written. Nothing was saved.")
                                 .arg(path);
        app_.ui().messageBox(text.toStdString(), {}, Buttons::ok, {});
        return;
    }
    CTarviView* view = viewForSaving();
    if (view == nullptr)
        return;
    const int written = format == ImageFormat::bmp ? view->saveAsBmp(path) : view->saveAsFits(path);
    if (written == 1)
        setModifiedFlag(false);
}

bool CTarviDoc::SaveModified()
{
    if (!modified_)
        return true;
    const QString name = pathName_.isEmpty() ? title_ : pathName_;
    const QString text = QStringLiteral("Save changes to %1?").arg(name);
    switch (app_.ui().messageBox(text.toStdString(), {}, Buttons::yesNoCancel, {})) {
    case Answer::yes:
        return DoFileSave();
    case Answer::no:
        return true;
    default:
        return false;
    }
}

void CTarviDoc::OnCloseDocument()
{
    manager_.closeDocumentWindows(*this);
}

void CTarviDoc::addView(CTarviView* view)
{
    views_.push_back(view);
    emit changed();
}

void CTarviDoc::removeView(CTarviView* view)
{
    std::erase(views_, view);
    if (views_.empty())
        manager_.removeDocument(this);
    else
        emit changed();
}

}  // namespace tarvi
