#pragma once

#include <QProgressDialog>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/conversion.h"
#include "platform/data_exchange.h"

class QLineEdit;
class QRadioButton;

namespace tarvi {

class CTarviApp;

// The multiple-selection file chooser; an empty list when the user cancelled.
using FileChooser = std::function<QStringList(QWidget* parent)>;
// The directory chooser, opened on the directory given; empty when cancelled.
using DirectoryChooser = std::function<QString(QWidget* parent, const QString& start)>;

// The desktop's own choosers.
QStringList chooseFilesToConvert(QWidget* parent);
QString chooseOutputDirectory(QWidget* parent, const QString& start);

// The chooser's filter: BMP and FITS files together, each kind alone, all files.
QString conversionFileFilter();

// The output directory, the kind of file to write, and the files to convert,
// gathered over as many selections as the user makes.
class fileConversion final : public ExchangeDialog {
    Q_OBJECT
public:
    // Choosers left empty are the desktop's own.
    explicit fileConversion(Ui& ui, QWidget* parent = nullptr, FileChooser chooseFiles = {},
                            DirectoryChooser chooseDirectory = {});

    std::string outputDir;
    int outputType = fitsOutput;
    std::vector<std::string> fileList;

    // "Select files to convert": a confirmed selection adds its files to the
    // list, a cancelled one empties it.
    void onSelectFiles();
    // "Browse": a chosen directory replaces the one in the field.
    void onBrowse();

protected:
    void doDataExchange(DataExchange& exchange) override;

private:
    FileChooser chooseFiles_;
    DirectoryChooser chooseDirectory_;
    QLineEdit* outputDirEdit_;
    QRadioButton* fitsOutputButton_;
    QRadioButton* bmpOutputButton_;
};

// A progress dialog with Cancel for runs of many files. The run works on a
// thread of its own while the dialog runs its own loop; cancelled() may be
// called from either thread.
class ConversionProgressDialog final : public ConversionProgress {
public:
    ConversionProgressDialog(QWidget* parent, int total);
    bool cancelled(int done, int total) override;
    QProgressDialog& dialog() { return dialog_; }

private:
    QProgressDialog dialog_;
    std::atomic<bool> cancelled_ = false;
};

// Runs with more files than this show their progress.
inline constexpr int filesConvertedWithoutProgress = 5;

struct ConversionChoosers {
    FileChooser files;
    DirectoryChooser directory;
};

// Image > Conversion...: nothing when the dialog is cancelled.
std::optional<ConversionResult> convertFilesCommand(CTarviApp& app, QWidget* parent,
                                                    const ConversionChoosers& choosers = {});

}  // namespace tarvi
