#include "image/conversion_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <memory>
#include <thread>

#include "app/tarvi_app.h"
#include "platform/dialog_units.h"

namespace tarvi {

QString conversionFileFilter()
{
    // The all-files pattern is "*": on Linux "*.*" would pass over names
    // without a dot.
    return QStringLiteral("Tarvi and Fits files (*.bmp *.fit *.fts);;Tarvi files (*.bmp);;"
                          "FITS files (*.fit);;FTS files (*.fts);;All Files (*)");
}

QStringList chooseFilesToConvert(QWidget* parent)
{
    return QFileDialog::getOpenFileNames(parent, QStringLiteral("Open"), QString(), conversionFileFilter());
}

QString chooseOutputDirectory(QWidget* parent, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Output Directory for new files"), start);
}

fileConversion::fileConversion(Ui& ui, QWidget* parent, FileChooser chooseFiles, DirectoryChooser chooseDirectory)
    : ExchangeDialog(ui, parent),
      chooseFiles_(chooseFiles ? std::move(chooseFiles) : FileChooser(chooseFilesToConvert)),
      chooseDirectory_(chooseDirectory ? std::move(chooseDirectory) : DirectoryChooser(chooseOutputDirectory))
{
    setWindowTitle(QStringLiteral("File Converson"));
    const DialogUnits du(font());
    setFixedSize(du.size(236, 104));

    auto* label = new QLabel(QStringLiteral("Output Directory for new files:"), this);
    du.place(label, 10, 10, 160, 8);
    outputDirEdit_ = new QLineEdit(this);
    outputDirEdit_->setObjectName(QStringLiteral("edit1030"));
    du.place(outputDirEdit_, 10, 20, 160, 14);
    label->setBuddy(outputDirEdit_);

    auto* browse = new QPushButton(QStringLiteral("Browse"), this);
    browse->setObjectName(QStringLiteral("button1028"));
    du.place(browse, 176, 20, 50, 14);
    connect(browse, &QPushButton::clicked, this, &fileConversion::onBrowse);

    fitsOutputButton_ = new QRadioButton(QStringLiteral("Fits Output"), this);
    fitsOutputButton_->setObjectName(QStringLiteral("radio1025"));
    du.place(fitsOutputButton_, 10, 42, 70, 10);
    bmpOutputButton_ = new QRadioButton(QStringLiteral("Bmp Output"), this);
    bmpOutputButton_->setObjectName(QStringLiteral("radio1027"));
    du.place(bmpOutputButton_, 90, 42, 70, 10);

    auto* select = new QPushButton(QStringLiteral("Select files to convert"), this);
    select->setObjectName(QStringLiteral("button1024"));
    du.place(select, 10, 60, 100, 14);
    connect(select, &QPushButton::clicked, this, &fileConversion::onSelectFiles);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    du.place(ok, 120, 82, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    du.place(cancel, 176, 82, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    du.widenToShowTexts(this);
}

void fileConversion::doDataExchange(DataExchange& exchange)
{
    exchange.text(outputDirEdit_, outputDir);
    exchange.radio({fitsOutputButton_, bmpOutputButton_}, outputType);
}

void fileConversion::onSelectFiles()
{
    const QStringList chosen = chooseFiles_(this);
    if (chosen.isEmpty()) {
        fileList.clear();
        return;
    }
    for (const QString& path : chosen)
        fileList.push_back(QFile::encodeName(path).toStdString());
}

void fileConversion::onBrowse()
{
    const QString chosen = chooseDirectory_(this, outputDirEdit_->text());
    if (!chosen.isEmpty())
        outputDirEdit_->setText(chosen);
}

ConversionProgressDialog::ConversionProgressDialog(QWidget* parent, int total)
    : dialog_(QStringLiteral("Converting files..."), QStringLiteral("Cancel"), 0, total, parent)
{
    dialog_.setWindowTitle(QString::fromUtf8(Ui::applicationTitle.data(),
                                             static_cast<qsizetype>(Ui::applicationTitle.size())));
    dialog_.setWindowModality(Qt::ApplicationModal);
    dialog_.setMinimumDuration(0);
    dialog_.setAutoClose(false);
    dialog_.setAutoReset(false);
    QObject::connect(&dialog_, &QProgressDialog::canceled, &dialog_, [this] { cancelled_ = true; });
    dialog_.show();
}

bool ConversionProgressDialog::cancelled(int done, int total)
{
    QMetaObject::invokeMethod(&dialog_, [this, done, total] {
        dialog_.setMaximum(total);
        dialog_.setValue(done);
        if (done < total)
            dialog_.setLabelText(QStringLiteral("Converting file %1 of %2...").arg(done + 1).arg(total));
    });
    return cancelled_;
}

std::optional<ConversionResult> convertFilesCommand(CTarviApp& app, QWidget* parent,
                                                    const ConversionChoosers& choosers)
{
    fileConversion dialog(app.ui(), parent, choosers.files, choosers.directory);
    dialog.outputType = fitsOutput;
    dialog.outputDir = app.startDirectory;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;

    ConversionJob job;
    job.outputDir = dialog.outputDir;
    job.outputType = dialog.outputType;
    job.fileList = dialog.fileList;
    job.gamma1 = app.gamma1;
    job.gamma2 = app.gamma2;
    if (job.fileList.size() <= static_cast<std::size_t>(filesConvertedWithoutProgress))
        return runConversion(job, app.conversionImage, app.ui());
    // A long run works on a thread of its own while the progress dialog
    // takes the user's Cancel; its boxes open without a loop of their own.
    ConversionProgressDialog progress(parent, static_cast<int>(job.fileList.size()));
    ConversionResult result;
    std::thread run([&] {
        result = runConversion(job, app.conversionImage, app.ui(), &progress);
        QMetaObject::invokeMethod(&progress.dialog(), [&progress] { progress.dialog().done(QDialog::Accepted); });
    });
    progress.dialog().exec();
    run.join();
    return result;
}

}  // namespace tarvi
