#include "image/conversion_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include "app/command_table.h"
#include "app/tarvi_app.h"
#include "app/tarvi_shell.h"
#include "image/gamma_dialog.h"
#include "support/fake_clock.h"
#include "support/dialog_helpers.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace tarvi {
namespace {

namespace fs = std::filesystem;

using test::buttonNamed;
using test::child;
using test::labelTexts;
using test::whenModal;

// Every control lies inside the dialog and none covers another.
void expectTidyLayout(QWidget& dialog)
{
    const QRect inside(QPoint(0, 0), dialog.size());
    const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* control : controls)
        EXPECT_TRUE(inside.contains(control->geometry())) << control->objectName().toStdString();
    for (qsizetype i = 0; i < controls.size(); ++i) {
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " / " << controls[j]->objectName().toStdString();
        }
    }
}

// A grey picture written as a BMP, so each converted file can be told apart.
void writeGreyBmp(const std::string& path, std::uint8_t level)
{
    test::FakeUi quiet;
    bmp image(quiet);
    const std::vector<std::uint8_t> grey(8 * 4, level);
    ASSERT_EQ(image.createFromGray(grey.data(), 8, 4), 1);
    ASSERT_EQ(image.writeBmp(path), 1);
}

class ImageDialogTest : public ::testing::Test {
protected:
    test::FakeUi ui;
    test::FakeClock clock;
    test::TempDir dir;
    CTarviApp app{ui, clock, dir.path()};
};

TEST_F(ImageDialogTest, GammaDialogHasItsCaptionLabelsFieldsAndButtons)
{
    getGammas dialog(ui);
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
    EXPECT_TRUE(labelTexts(dialog).contains("Gamma 1"));
    EXPECT_TRUE(labelTexts(dialog).contains("Gamma 2"));
    EXPECT_NE(buttonNamed(dialog, "OK"), nullptr);
    EXPECT_NE(buttonNamed(dialog, "Cancel"), nullptr);
    dialog.gamma1 = 2.5;
    dialog.show();
    EXPECT_EQ(child<QLineEdit>(dialog, "edit1009")->text(), "2.5");
    EXPECT_EQ(child<QLineEdit>(dialog, "edit1010")->text(), "1");
    // Typing goes straight into the first field.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_EQ(QApplication::focusWidget(), child<QLineEdit>(dialog, "edit1009"));
    expectTidyLayout(dialog);
    dialog.hide();
}

struct GammaEntry {
    const char* gamma1;
    const char* gamma2;
    double expected1;
    double expected2;
};

void PrintTo(const GammaEntry& c, std::ostream* out)
{
    *out << '"' << c.gamma1 << "\" \"" << c.gamma2 << '"';
}

class GammasAccepted : public ImageDialogTest, public ::testing::WithParamInterface<GammaEntry> {};

TEST_P(GammasAccepted, OkCopiesBothValuesBack)
{
    const GammaEntry& c = GetParam();
    whenModal<getGammas>([&](getGammas& dialog) {
        EXPECT_EQ(child<QLineEdit>(dialog, "edit1009")->text(), "1");
        EXPECT_EQ(child<QLineEdit>(dialog, "edit1010")->text(), "1");
        child<QLineEdit>(dialog, "edit1009")->setText(QString::fromLatin1(c.gamma1));
        child<QLineEdit>(dialog, "edit1010")->setText(QString::fromLatin1(c.gamma2));
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
    });
    setConversionGammas(app, nullptr);
    EXPECT_EQ(app.gamma1, c.expected1);
    EXPECT_EQ(app.gamma2, c.expected2);
    EXPECT_TRUE(ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Values, GammasAccepted,
                         ::testing::Values(GammaEntry{"2", "0.5", 2.0, 0.5}, GammaEntry{" 2.2 ", "\t1", 2.2, 1.0},
                                           GammaEntry{"0", "100", 0.0, 100.0},
                                           GammaEntry{"0.0", "1e2", 0.0, 100.0}));

using GammaRefusal = test::FieldRefusal;

class GammasRefused : public ImageDialogTest, public ::testing::WithParamInterface<GammaRefusal> {};

TEST_P(GammasRefused, ShowTheMessageAndKeepTheDialogOpenOnTheField)
{
    const GammaRefusal& c = GetParam();
    app.gamma1 = 1.5;
    app.gamma2 = 0.8;
    bool keptOpen = false;
    whenModal<getGammas>([&](getGammas& dialog) {
        QLineEdit* field = child<QLineEdit>(dialog, c.field);
        // The other field holds a good new value, which must not get through either.
        child<QLineEdit>(dialog, std::string(c.field) == "edit1009" ? "edit1010" : "edit1009")->setText("3");
        field->setText(QString::fromLatin1(c.text));
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        keptOpen = dialog.isVisible();
        EXPECT_EQ(dialog.focusWidget(), field);
        EXPECT_EQ(field->selectedText(), field->text());
        QTest::mouseClick(buttonNamed(dialog, "Cancel"), Qt::LeftButton);
    });
    setConversionGammas(app, nullptr);
    EXPECT_TRUE(keptOpen);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, c.message);
    EXPECT_EQ(ui.boxes[0].caption, "Tarvi");
    EXPECT_EQ(app.gamma1, 1.5);
    EXPECT_EQ(app.gamma2, 0.8);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, GammasRefused,
    ::testing::Values(GammaRefusal{"edit1009", "abc", "Please enter a number."},
                      GammaRefusal{"edit1009", "101", "Please enter a number between 0 and 100."},
                      GammaRefusal{"edit1009", "", "Please enter a number."},
                      GammaRefusal{"edit1009", "2,5", "Please enter a number."},
                      GammaRefusal{"edit1010", "abc", "Please enter a number."},
                      GammaRefusal{"edit1010", "101", "Please enter a number between 0 and 100."},
                      GammaRefusal{"edit1010", "-0.1", "Please enter a number between 0 and 100."}));

TEST_F(ImageDialogTest, CancelLeavesTheGammasAsTheyWere)
{
    whenModal<getGammas>([](getGammas& dialog) {
        child<QLineEdit>(dialog, "edit1009")->setText("4");
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    setConversionGammas(app, nullptr);
    EXPECT_EQ(app.gamma1, 1.0);
    EXPECT_EQ(app.gamma2, 1.0);
}

TEST_F(ImageDialogTest, GammasAreBackToOneForANewApplicationObject)
{
    whenModal<getGammas>([](getGammas& dialog) {
        child<QLineEdit>(dialog, "edit1009")->setText("2");
        child<QLineEdit>(dialog, "edit1010")->setText("3");
        dialog.accept();
    });
    setConversionGammas(app, nullptr);
    ASSERT_EQ(app.gamma1, 2.0);

    CTarviApp restarted(ui, clock, dir.path());
    EXPECT_EQ(restarted.gamma1, 1.0);
    EXPECT_EQ(restarted.gamma2, 1.0);
}

TEST(ShellHandlers, SetConversionGammasRunsFromBothMenuIdentifiers)
{
    test::TempDir dir;
    TarviShell shell(dir.path());
    for (const int id : {cmd::setConversionGammasNoDoc, cmd::setConversionGammas}) {
        const double value = id == cmd::setConversionGammas ? 3.0 : 2.0;
        whenModal<getGammas>([value](getGammas& dialog) {
            child<QLineEdit>(dialog, "edit1009")->setText(QString::number(value));
            dialog.accept();
        });
        ASSERT_TRUE(shell.router().route(id));
        EXPECT_EQ(shell.app().gamma1, value) << id;
    }
}

TEST(ShellHandlers, ConversionOpensTheDialogOnTheStartDirectoryWithFitsOutput)
{
    test::TempDir dir;
    TarviShell shell(dir.path());
    QString shownDir;
    bool fitsChecked = false;
    whenModal<fileConversion>([&](fileConversion& dialog) {
        shownDir = child<QLineEdit>(dialog, "edit1030")->text();
        fitsChecked = child<QRadioButton>(dialog, "radio1025")->isChecked();
        dialog.reject();
    });
    ASSERT_TRUE(shell.router().route(cmd::conversion));
    EXPECT_EQ(shownDir, QString::fromStdString(dir.path()));
    EXPECT_TRUE(fitsChecked);
    EXPECT_EQ(shell.app().conversionImage, nullptr);
}

class FileConversionTest : public ImageDialogTest {
protected:
    // Each press of "Select files to convert" takes the next selection; an
    // empty one is a cancelled file dialog.
    std::deque<QStringList> selections;
    std::deque<QString> directories;
    int fileDialogs = 0;
    QString directoryStart;

    ConversionChoosers choosers()
    {
        return {[this](QWidget*) {
                    ++fileDialogs;
                    QStringList next = selections.empty() ? QStringList() : selections.front();
                    if (!selections.empty())
                        selections.pop_front();
                    return next;
                },
                [this](QWidget*, const QString& start) {
                    directoryStart = start;
                    QString next = directories.empty() ? QString() : directories.front();
                    if (!directories.empty())
                        directories.pop_front();
                    return next;
                }};
    }

    QString inputPath(const std::string& name) const { return QString::fromStdString(dir.file("in/" + name)); }

    void SetUp() override
    {
        fs::create_directory(dir.file("in"));
        fs::create_directory(dir.file("out"));
    }

    std::vector<std::string> outputs() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.file("out")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Presses "Select files to convert" once per selection, picks the output
    // kind and directory, and presses OK.
    std::optional<ConversionResult> convert(int presses, int outputType = fitsOutput)
    {
        whenModal<fileConversion>([this, presses, outputType](fileConversion& dialog) {
            child<QLineEdit>(dialog, "edit1030")->setText(QString::fromStdString(dir.file("out")));
            child<QRadioButton>(dialog, outputType == fitsOutput ? "radio1025" : "radio1027")->setChecked(true);
            for (int i = 0; i < presses; ++i)
                QTest::mouseClick(buttonNamed(dialog, "Select files to convert"), Qt::LeftButton);
            QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        });
        return convertFilesCommand(app, nullptr, choosers());
    }
};

TEST_F(FileConversionTest, DialogHasItsCaptionLabelAndControls)
{
    fileConversion dialog(ui, nullptr, choosers().files, choosers().directory);
    EXPECT_EQ(dialog.windowTitle(), "File Converson");
    EXPECT_TRUE(labelTexts(dialog).contains("Output Directory for new files:"));
    EXPECT_EQ(child<QPushButton>(dialog, "button1028")->text(), "Browse");
    EXPECT_EQ(child<QRadioButton>(dialog, "radio1025")->text(), "Fits Output");
    EXPECT_EQ(child<QRadioButton>(dialog, "radio1027")->text(), "Bmp Output");
    EXPECT_EQ(child<QPushButton>(dialog, "button1024")->text(), "Select files to convert");
    EXPECT_NE(buttonNamed(dialog, "OK"), nullptr);
    EXPECT_NE(buttonNamed(dialog, "Cancel"), nullptr);
    expectTidyLayout(dialog);
}

TEST_F(FileConversionTest, FieldsGoIntoTheControlsAndComeBack)
{
    fileConversion dialog(ui, nullptr, choosers().files, choosers().directory);
    dialog.outputDir = "/data/night 1";
    dialog.outputType = bmpOutput;
    dialog.show();
    EXPECT_EQ(child<QLineEdit>(dialog, "edit1030")->text(), "/data/night 1");
    EXPECT_FALSE(child<QRadioButton>(dialog, "radio1025")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(dialog, "radio1027")->isChecked());

    child<QLineEdit>(dialog, "edit1030")->setText("/out");
    QTest::mouseClick(child<QRadioButton>(dialog, "radio1025"), Qt::LeftButton);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.outputDir, "/out");
    EXPECT_EQ(dialog.outputType, fitsOutput);
}

TEST_F(FileConversionTest, TheFileChooserOffersTheThreeKindsAndAllFiles)
{
    EXPECT_EQ(conversionFileFilter(),
              "Tarvi and Fits files (*.bmp *.fit *.fts);;Tarvi files (*.bmp);;FITS files (*.fit);;"
              "FTS files (*.fts);;All Files (*)");
}

struct SelectionCase {
    const char* name;
    std::vector<QStringList> selections;
    std::vector<std::string> fileList;
};

void PrintTo(const SelectionCase& c, std::ostream* out)
{
    *out << c.name;
}

class Selections : public FileConversionTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selections, BuildTheListOrEmptyIt)
{
    fileConversion dialog(ui, nullptr, choosers().files, choosers().directory);
    for (const QStringList& selection : GetParam().selections) {
        selections.push_back(selection);
        dialog.onSelectFiles();
    }
    EXPECT_EQ(dialog.fileList, GetParam().fileList);
}

INSTANTIATE_TEST_SUITE_P(
    Presses, Selections,
    ::testing::Values(
        SelectionCase{"one", {{"/d/M42.BMP", "/d/m31.fit"}}, {"/d/M42.BMP", "/d/m31.fit"}},
        SelectionCase{"two_confirmed", {{"/d/a.bmp"}, {"/e/b.fts", "/e/c.fit"}}, {"/d/a.bmp", "/e/b.fts", "/e/c.fit"}},
        SelectionCase{"second_cancelled", {{"/d/a.bmp"}, {}}, {}},
        SelectionCase{"cancelled_then_chosen", {{"/d/a.bmp"}, {}, {"/d/b.bmp"}}, {"/d/b.bmp"}},
        SelectionCase{"same_file_twice", {{"/d/a.bmp"}, {"/d/a.bmp"}}, {"/d/a.bmp", "/d/a.bmp"}},
        SelectionCase{"name_with_spaces", {{"/d/night one/Moon 1.bmp"}}, {"/d/night one/Moon 1.bmp"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileConversionTest, BrowseStartsAtTheFieldAndPutsTheChosenDirectoryInIt)
{
    fileConversion dialog(ui, nullptr, choosers().files, choosers().directory);
    dialog.outputDir = "/data";
    dialog.show();
    directories = {"/data/out", ""};
    QTest::mouseClick(child<QPushButton>(dialog, "button1028"), Qt::LeftButton);
    EXPECT_EQ(directoryStart, "/data");
    EXPECT_EQ(child<QLineEdit>(dialog, "edit1030")->text(), "/data/out");
    // A cancelled chooser leaves the field alone.
    QTest::mouseClick(child<QPushButton>(dialog, "button1028"), Qt::LeftButton);
    EXPECT_EQ(directoryStart, "/data/out");
    EXPECT_EQ(child<QLineEdit>(dialog, "edit1030")->text(), "/data/out");
    dialog.hide();
}

TEST_F(FileConversionTest, TwoConfirmedSelectionsAreBothConverted)
{
    writeGreyBmp(inputPath("M42.BMP").toStdString(), 40);
    writeGreyBmp(inputPath("m31.bmp").toStdString(), 80);
    selections = {{inputPath("M42.BMP")}, {inputPath("m31.bmp")}};
    const auto result = convert(2);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->total, 2);
    EXPECT_EQ(result->converted, 2);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"m31.fit", "m42.fit"}));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(app.conversionImage, nullptr);
}

TEST_F(FileConversionTest, CancellingTheSecondSelectionLeavesNothingToConvert)
{
    writeGreyBmp(inputPath("m42.bmp").toStdString(), 40);
    selections = {{inputPath("m42.bmp")}, {}};
    const auto result = convert(2);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(fileDialogs, 2);
    EXPECT_EQ(result->total, 0);
    EXPECT_TRUE(outputs().empty());
}

TEST_F(FileConversionTest, OkWithAnEmptyListConvertsNothing)
{
    const auto result = convert(0);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->total, 0);
    EXPECT_EQ(result->converted, 0);
    EXPECT_TRUE(outputs().empty());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(FileConversionTest, BmpOutputWritesBmpFiles)
{
    writeGreyBmp(inputPath("Moon.bmp").toStdString(), 200);
    selections = {{inputPath("Moon.bmp")}};
    const auto result = convert(1, bmpOutput);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->converted, 1);
    EXPECT_EQ(outputs(), std::vector<std::string>{"moon.bmp"});
}

TEST_F(FileConversionTest, CancelConvertsNothingEvenWithFilesChosen)
{
    writeGreyBmp(inputPath("m42.bmp").toStdString(), 40);
    selections = {{inputPath("m42.bmp")}};
    whenModal<fileConversion>([this](fileConversion& dialog) {
        child<QLineEdit>(dialog, "edit1030")->setText(QString::fromStdString(dir.file("out")));
        dialog.onSelectFiles();
        QTest::mouseClick(buttonNamed(dialog, "Cancel"), Qt::LeftButton);
    });
    EXPECT_FALSE(convertFilesCommand(app, nullptr, choosers()).has_value());
    EXPECT_TRUE(outputs().empty());
}

// Sees every progress dialog that shows itself.
class ProgressWatcher final : public QObject {
public:
    ProgressWatcher() { qApp->installEventFilter(this); }
    ~ProgressWatcher() override { qApp->removeEventFilter(this); }
    int shown = 0;
    int maximum = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* progress = qobject_cast<QProgressDialog*>(watched)) {
                ++shown;
                maximum = progress->maximum();
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

struct ProgressCase {
    int files;
    bool progressShown;
};

void PrintTo(const ProgressCase& c, std::ostream* out)
{
    *out << c.files << " files";
}

class Progress : public FileConversionTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(Progress, IsShownOnlyForMoreThanAHandfulOfFiles)
{
    QStringList chosen;
    for (int i = 0; i < GetParam().files; ++i) {
        const QString path = inputPath("f" + std::to_string(i) + ".bmp");
        writeGreyBmp(path.toStdString(), static_cast<std::uint8_t>(i));
        chosen << path;
    }
    selections = {chosen};
    ProgressWatcher watcher;
    const auto result = convert(1);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->converted, GetParam().files);
    EXPECT_EQ(watcher.shown > 0, GetParam().progressShown);
    if (GetParam().progressShown) {
        EXPECT_EQ(watcher.maximum, GetParam().files);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Progress,
                         ::testing::Values(ProgressCase{1, false}, ProgressCase{5, false}, ProgressCase{6, true},
                                           ProgressCase{9, true}));

TEST_F(FileConversionTest, CancelInTheProgressDialogStopsTheRun)
{
    QStringList chosen;
    for (int i = 0; i < 8; ++i) {
        const QString path = inputPath("f" + std::to_string(i) + ".bmp");
        writeGreyBmp(path.toStdString(), static_cast<std::uint8_t>(i));
        chosen << path;
    }
    selections = {chosen};
    QTimer canceller;
    canceller.setInterval(0);
    QObject::connect(&canceller, &QTimer::timeout, [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<QProgressDialog*>(window);
            if (progress != nullptr && progress->isVisible())
                progress->cancel();
        }
    });
    canceller.start();
    const auto result = convert(1);
    canceller.stop();
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->cancelled);
    EXPECT_LT(result->converted, 8);
    EXPECT_EQ(static_cast<int>(outputs().size()), result->converted);
    EXPECT_FALSE(result->allConverted());
    EXPECT_EQ(app.conversionImage, nullptr);
}

TEST(ConversionProgressDialog, CountsTheFilesAndReportsCancel)
{
    ConversionProgressDialog progress(nullptr, 7);
    EXPECT_TRUE(progress.dialog().isVisible());
    EXPECT_EQ(progress.dialog().windowTitle(), "Tarvi");
    EXPECT_FALSE(progress.cancelled(0, 7));
    EXPECT_FALSE(progress.cancelled(3, 7));
    EXPECT_EQ(progress.dialog().value(), 3);
    EXPECT_EQ(progress.dialog().labelText(), "Converting file 4 of 7...");
    QTest::mouseClick(buttonNamed(progress.dialog(), "Cancel"), Qt::LeftButton);
    EXPECT_TRUE(progress.cancelled(4, 7));
}

}  // namespace
}  // namespace tarvi
