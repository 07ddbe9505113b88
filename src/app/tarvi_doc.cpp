#include "app/tarvi_doc.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <string_view>

#include "app/doc_manager.h"
#include "app/document_names.h"
#include "app/tarvi_app.h"
#include "image/fits.h"
#include "platform/safe_file.h"
#include "view/tarvi_view.h"

namespace tarvi {

namespace {

const QString saveAsFilter = QStringLiteral("Tarvi files (*.bmp);;FITS files (*.fit);;All Files (*)");

std::string_view trimmedRight(std::string_view text)
{
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

// The cards writeFits puts in every file; its HISTORY card is told apart by
// its text. Blank cards carry nothing.
bool carriesNothingMore(std::string_view card)
{
    static constexpr std::string_view ours[] = {"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "DATAMIN", "DATAMAX"};
    const std::string_view text = trimmedRight(card);
    const std::string_view keyword = trimmedRight(card.substr(0, 8));
    return text.empty() || std::find(std::begin(ours), std::end(ours), keyword) != std::end(ours)
           || text == "HISTORY Created by Tarvi.";
}

QString dataDescription(std::int64_t bitpix)
{
    if (bitpix == -32 || bitpix == -64)
        return QStringLiteral("%1-bit floating-point data").arg(-bitpix);
    return QStringLiteral("%1-bit data").arg(bitpix);
}

struct FitsContent {
    std::int64_t bitpix = 0;
    int moreCards = 0;  // cards that writeFits would not write
};

// What the header of a FITS file says; nothing when the file is no FITS
// file that can be read.
std::optional<FitsContent> readFitsContent(const QString& path)
{
    // A fifo or a device in the file's place holds no picture, and opening
    // it could block.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray block = file.read(fits::blockSize);
    if (!block.startsWith("SIMPLE  "))
        return std::nullopt;
    fits::Header header;
    int moreCards = 0;
    for (; block.size() == static_cast<qsizetype>(fits::blockSize); block = file.read(fits::blockSize)) {
        for (std::size_t at = 0; at < fits::blockSize; at += fits::cardSize) {
            const std::string_view card(block.constData() + at, fits::cardSize);
            if (fits::isEndCard(card))
                return header.bitpix ? std::optional(FitsContent{*header.bitpix, moreCards}) : std::nullopt;
            fits::readCard(card, header);
            if (!carriesNothingMore(card))
                ++moreCards;
        }
    }
    return std::nullopt;
}

}  // namespace

QString fitsSaveLoss(const QString& path)
{
    const std::optional<FitsContent> content = readFitsContent(path);
    if (!content || (content->bitpix == 8 && content->moreCards == 0))
        return {};
    const QString name = QFileInfo(path).fileName();
    const int more = content->moreCards;
    const QString cards =
        more == 1 ? QStringLiteral("1 more header card") : QStringLiteral("%1 more header cards").arg(more);
    const QString them = more == 1 ? QStringLiteral("it") : QStringLiteral("them");
    if (content->bitpix == 8)
        return QStringLiteral("%1 holds %2; saving drops %3.").arg(name, cards, them);
    const QString data = dataDescription(content->bitpix);
    if (more == 0)
        return QStringLiteral("%1 holds %2; saving writes 8-bit data.").arg(name, data);
    return QStringLiteral("%1 holds %2 and %3; saving writes 8-bit data and drops %4.").arg(name, data, cards, them);
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
    // The document reads no data; the file must be there to be read by the
    // view, and a regular file: a fifo or a device would block the opening.
    FileHandle file;
    if (const FileError error = openRegularFile(path.toStdString(), file); error.failed()) {
        app_.ui().messageBox(openFailureText(path.toStdString(), error), "File Open Error", Buttons::ok, {});
        return false;
    }
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
    if (!pathName_.isEmpty()) {
        // Writing FITS means 8-bit data and Tarvi's own header: a file from
        // a camera program would lose its depth and its cards unasked.
        const QString loss = saveFormat(pathName_.toStdString()) == ImageFormat::fits ? fitsSaveLoss(pathName_)
                                                                                        : QString();
        if (!loss.isEmpty()) {
            const QString name = QFileInfo(pathName_).fileName();
            const QString text = QStringLiteral("%1\n\nWrite over %2 all the same?\nYes writes over it, No saves a "
                                                "copy under another name, Cancel saves nothing.")
                                     .arg(loss, name);
            switch (app_.ui().messageBox(text.toStdString(), {}, Buttons::yesNoCancel, {})) {
            case Answer::yes:
                break;
            case Answer::no:
                return OnFileSaveAs();
            default:
                return false;
            }
        }
        return OnSaveDocument(pathName_);
    }
    const QString proposal = QString::fromStdString(proposeSaveAsName(title_.toStdString()));
    const QString path = manager_.chooseSaveFile(proposal, QStringLiteral("Tarvi Files (*.bmp);;All Files (*)"));
    if (path.isEmpty())
        return false;
    if (!OnSaveDocument(path))
        return false;
    setPathName(path);
    return true;
}

bool CTarviDoc::OnFileSaveAs()
{
    const QString proposal = QString::fromStdString(proposeSaveAsName(title_.toStdString()));
    const QString path = manager_.chooseSaveFile(proposal, saveAsFilter);
    if (path.isEmpty())
        return false;
    const ImageFormat format = saveAsFormat(path.toStdString());
    if (format == ImageFormat::none) {
        const QString text = QStringLiteral("%1\nOnly files ending in .bmp or .fit can be written. Nothing was saved.")
                                 .arg(path);
        app_.ui().messageBox(text.toStdString(), {}, Buttons::ok, {});
        return false;
    }
    CTarviView* view = viewForSaving();
    if (view == nullptr)
        return false;
    const int written = format == ImageFormat::bmp ? view->saveAsBmp(path) : view->saveAsFits(path);
    if (written == 1)
        setModifiedFlag(false);
    return written == 1;
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
