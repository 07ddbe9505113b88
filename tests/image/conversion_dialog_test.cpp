#include "image/conversion_dialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <deque>

#include "app/command_table.h"
#include "app/tarvi_app.h"
#include "app/tarvi_shell.h"
#include "image/gamma_dialog.h"
#include "image/image_files.h"
#include "support/dialog_helpers.h"
#include "support/fake_clock.h"

namespace tarvi::test {
namespace {

namespace fs = std::filesystem;

class ImageDialogTest : public ::testing::Test {
protected:
    FakeUi ui;
    FakeClock clock;
    TempDir dir;
    CTarviApp app{ui, clock, dir.path()};
    // Each press of "Select files to convert" takes the next selection; an empty one is a cancelled chooser.
    std::deque<QStringList> selections;
    std::deque<QString> directories;
    QString directoryStart;
    ConversionChoosers choosers{[this](QWidget*) { return next(selections); },
                                [this](QWidget*, const QString& start) { return directoryStart = start, next(directories); }};

    template <class T>
    static T next(std::deque<T>& queue)
    {
        T front = queue.empty() ? T() : queue.front();
        if (!queue.empty())
            queue.pop_front();
        return front;
    }
    void SetUp() override { fs::create_directory(dir.file("out")); }
    // Grey BMP files F0.bmp, F1.bmp ... chosen in one selection.
    QStringList files(int count)
    {
        QStringList chosen;
        for (int i = 0; i < count; ++i) {
            chosen << QString::fromStdString(dir.file("F" + std::to_string(i) + ".bmp"));
            writeFile(chosen.back().toStdString(), bmpFile({.pixels = std::string(24, static_cast<char>(i))}));
        }
        return chosen;
    }
    // The dialog opens on the start directory with FITS output; presses "Select files to convert" once per
    // selection queued, picks the output kind, and presses OK.
    std::optional<ConversionResult> convert(int outputType = fitsOutput)
    {
        fs::remove_all(dir.file("out")), fs::create_directory(dir.file("out"));
        whenModal<fileConversion>([this, outputType](fileConversion& dialog) {
            EXPECT_EQ(child<QLineEdit>(dialog, "edit1030")->text().toStdString(), dir.path());
            EXPECT_TRUE(child<QRadioButton>(dialog, "radio1025")->isChecked());
            child<QLineEdit>(dialog, "edit1030")->setText(QString::fromStdString(dir.file("out")));
            child<QRadioButton>(dialog, outputType == fitsOutput ? "radio1025" : "radio1027")->setChecked(true);
            for (auto presses = selections.size(); presses > 0; --presses)
                QTest::mouseClick(buttonNamed(dialog, "Select files to convert"), Qt::LeftButton);
            QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        });
        return convertFilesCommand(app, nullptr, choosers);
    }
};

TEST_F(ImageDialogTest, GammasFrom0To100AreTakenAndOthersRefusedOnTheirField)
{
    const struct {
        const char *gamma1, *gamma2;
        double expected1, expected2;
        const char* message;
    } cases[] = {
        {" 2.2 ", "\t1", 2.2, 1, ""}, {"0", "100", 0, 100, ""}, {"abc", "3", 1.5, 0.8, "Please enter a number."},
        {"3", "abc", 1.5, 0.8, "Please enter a number."}, {"101", "3", 1.5, 0.8, "Please enter a number between 0 and 100."},
        {"3", "-0.1", 1.5, 0.8, "Please enter a number between 0 and 100."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.gamma1) + " " + c.gamma2);
        app.gamma1 = 1.5, app.gamma2 = 0.8;
        ui.boxes.clear();
        whenModal<getGammas>([&](getGammas& dialog) {
            QLineEdit* one = child<QLineEdit>(dialog, "edit1009");
            QLineEdit* two = child<QLineEdit>(dialog, "edit1010");
            EXPECT_TRUE(one->text() == "1.5" && two->text() == "0.8");
            one->setText(c.gamma1), two->setText(c.gamma2);
            QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
            QLineEdit* refused = std::string(c.gamma2) == "3" ? one : two;
            EXPECT_EQ(dialog.isVisible(), *c.message != '\0');
            EXPECT_TRUE(!dialog.isVisible() || (dialog.focusWidget() == refused && refused->selectedText() == refused->text()));
        });
        setConversionGammas(app, nullptr);
        EXPECT_TRUE(app.gamma1 == c.expected1 && app.gamma2 == c.expected2);
        EXPECT_EQ(ui.boxes.size() == 1 ? ui.boxes[0].text + " | " + ui.boxes[0].caption : std::to_string(ui.boxes.size()),
                  *c.message != '\0' ? std::string(c.message) + " | Tarvi" : "0");
    }
    whenModal<getGammas>([](getGammas& dialog) {
        child<QLineEdit>(dialog, "edit1009")->setText("4");
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    setConversionGammas(app, nullptr);
    EXPECT_EQ(app.gamma1, 1.5);
    CTarviApp restarted(ui, clock, dir.path());
    EXPECT_TRUE(restarted.gamma1 == 1.0 && restarted.gamma2 == 1.0);
}

TEST(ShellHandlers, GammasFromBothMenuEntries)
{
    TempDir dir;
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

TEST_F(ImageDialogTest, ConversionDialogExchangesItsFieldsBrowsesAndGathersSelections)
{
    fileConversion dialog(ui, nullptr, choosers.files, choosers.directory);
    dialog.outputDir = "/data";
    dialog.outputType = bmpOutput;
    dialog.show();
    EXPECT_EQ(child<QLineEdit>(dialog, "edit1030")->text(), "/data");
    EXPECT_TRUE(!child<QRadioButton>(dialog, "radio1025")->isChecked() && child<QRadioButton>(dialog, "radio1027")->isChecked());
    directories = {"/data/out", ""};
    for (int press = 0; press < 2; ++press)  // the second chooser is cancelled and leaves the field alone
        QTest::mouseClick(child<QPushButton>(dialog, "button1028"), Qt::LeftButton);
    EXPECT_EQ(directoryStart, "/data/out");
    EXPECT_EQ(child<QLineEdit>(dialog, "edit1030")->text(), "/data/out");
    const std::pair<QStringList, std::vector<std::string>> presses[] = {
        {{"/d/M42.BMP", "/d/m31.fit"}, {"/d/M42.BMP", "/d/m31.fit"}}, {{"/e/b.fts"}, {"/d/M42.BMP", "/d/m31.fit", "/e/b.fts"}},
        {{}, {}}, {{"/d/night one/Moon 1.bmp"}, {"/d/night one/Moon 1.bmp"}}};
    for (const auto& [selection, list] : presses) {
        selections = {selection};
        QTest::mouseClick(child<QPushButton>(dialog, "button1024"), Qt::LeftButton);
        EXPECT_EQ(dialog.fileList, list);
    }
    QTest::mouseClick(child<QRadioButton>(dialog, "radio1025"), Qt::LeftButton);
    dialog.accept();
    EXPECT_TRUE(dialog.outputDir == "/data/out" && dialog.outputType == fitsOutput);
}

TEST_F(ImageDialogTest, ConversionRunsOnTheFilesOfEveryConfirmedSelectionWithAProgressPastFiveFiles)
{
    int shown = 0, maximum = 0;
    QTimer watcher;  // the progress dialog's own loop turns it while the run works
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* progress = qobject_cast<QProgressDialog*>(window); progress != nullptr && progress->isVisible())
                ++shown, maximum = progress->maximum();
        }
    });
    watcher.start(0);
    const QStringList chosen = files(6);
    selections = {chosen.mid(0, 1), chosen.mid(1, 4)};
    auto result = convert(bmpOutput);
    EXPECT_TRUE(result.has_value() && result->total == 5 && result->converted == 5 && ui.boxes.empty() && shown == 0);
    EXPECT_EQ(namesIn(dir.file("out")), (std::vector<std::string>{"f0.bmp", "f1.bmp", "f2.bmp", "f3.bmp", "f4.bmp"}));
    selections = {chosen};
    result = convert();
    EXPECT_TRUE(result.has_value() && result->converted == 6 && shown > 0 && maximum == 6 && app.conversionImage == nullptr);
    // Cancel pressed while the run says it cannot read the third file: the
    // run stops before the fourth.
    ui.onBox = [](const FakeUi::Box&) {
        QMetaObject::invokeMethod(qApp, [] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (auto* progress = qobject_cast<QProgressDialog*>(window); progress != nullptr && progress->isVisible())
                    buttonNamed(*progress, "Cancel")->click();
            }
        }, Qt::BlockingQueuedConnection);
    };
    QStringList eight = files(8);
    eight[2] = QString::fromStdString(dir.file("missing.bmp"));
    selections = {eight};
    result = convert();
    watcher.stop();
    ui.onBox = nullptr;
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->cancelled && result->converted == 2 && !result->allConverted() && app.conversionImage == nullptr);
    EXPECT_EQ(static_cast<int>(namesIn(dir.file("out")).size()), result->converted);
    selections = {chosen};
    whenModal<fileConversion>([](fileConversion& dialog) {
        dialog.onSelectFiles();
        QTest::mouseClick(buttonNamed(dialog, "Cancel"), Qt::LeftButton);
    });
    EXPECT_FALSE(convertFilesCommand(app, nullptr, choosers).has_value());

    ConversionProgressDialog progress(nullptr, 7);
    EXPECT_TRUE(progress.dialog().isVisible() && !progress.cancelled(0, 7) && !progress.cancelled(3, 7));
    EXPECT_EQ(progress.dialog().value(), 3);
    EXPECT_EQ(progress.dialog().labelText(), "Converting file 4 of 7...");
    QTest::mouseClick(buttonNamed(progress.dialog(), "Cancel"), Qt::LeftButton);
    EXPECT_TRUE(progress.cancelled(4, 7));
}

}  // namespace
}  // namespace tarvi::test
