#pragma once

#include <QObject>
#include <QString>

#include <vector>

namespace tarvi {

class CTarviApp;
class CTarviView;
class DocManager;

// What writing a picture as FITS over the file at path would lose, in one
// sentence ("m42.fit holds 16-bit data and 3 more header cards; saving
// writes 8-bit data and drops them."); empty when the file holds no more
// than Tarvi writes (8-bit data and its own header cards), or is no FITS
// file that can be read.
QString fitsSaveLoss(const QString& path);

// A document holds no picture of its own: its path, its title and whether it
// has changes that are not saved. Its views hold and draw the image.
class CTarviDoc final : public QObject {
    Q_OBJECT
public:
    CTarviDoc(CTarviApp& app, DocManager& manager);
    ~CTarviDoc() override;

    const QString& pathName() const { return pathName_; }
    const QString& title() const { return title_; }
    bool isModified() const { return modified_; }

    // A file name makes the title, and the file goes on the recent-file list.
    void setPathName(const QString& path);
    void setTitle(const QString& title);
    void setModifiedFlag(bool modified = true);

    // False turns the new document away (the File New of an empty command
    // line, and the first one after a file was opened at start-up).
    bool OnNewDocument();
    bool OnOpenDocument(const QString& path);
    // Writes the picture of one of this document's views to path; 1 when written.
    bool OnSaveDocument(const QString& path);
    // True when a copy was written.
    bool OnFileSaveAs();
    // File > Save: a new document asks for a name first, and a FITS file
    // holding more than Tarvi would write is written over only when the
    // user says so.
    bool DoFileSave();
    // Before the last window of the document closes: false to keep it open.
    bool SaveModified();
    void OnCloseDocument();

    void addView(CTarviView* view);
    void removeView(CTarviView* view);
    const std::vector<CTarviView*>& views() const { return views_; }
    // The view a save writes from: the active one where it shows this document.
    CTarviView* viewForSaving() const;

signals:
    void changed();

private:
    CTarviApp& app_;
    DocManager& manager_;
    QString pathName_;
    QString title_;
    bool modified_ = false;
    std::vector<CTarviView*> views_;
};

}  // namespace tarvi
