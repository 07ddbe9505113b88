#include "camera/setup_camera_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/tarvi_app.h"
#include "platform/dialog_units.h"

namespace tarvi {

namespace {

QString controlName(const char* kind, int id)
{
    return QStringLiteral("%1%2").arg(QLatin1String(kind)).arg(id);
}

}  // namespace

setupCamera::setupCamera(Ui& ui, QWidget* parent) : ExchangeDialog(ui, parent)
{
    setWindowTitle(QStringLiteral("Setup Camera"));
    const DialogUnits du(font());
    setFixedSize(du.size(272, 218));

    // Controls inside a group box are placed by their position in the
    // dialog template, less the box's own corner.
    auto placeIn = [&du](QWidget* widget, int boxLeft, int boxTop, int left, int top, int width, int height) {
        du.place(widget, left - boxLeft, top - boxTop, width, height);
    };
    constexpr int boxLeft = 7;
    constexpr int boxTop = 7;

    auto* settingsBox = new QGroupBox(QStringLiteral("Camera Settings"), this);
    settingsBox->setObjectName(QStringLiteral("cameraSettingsBox"));
    du.place(settingsBox, boxLeft, boxTop, 258, 140);

    // Created in tab order, top to bottom and left to right.
    operationsInPCBox_ = new QCheckBox(QStringLiteral("Do operations in PC (Avoid internal camera operations)"),
                                       settingsBox);
    operationsInPCBox_->setObjectName(controlName("check", 1017));
    placeIn(operationsInPCBox_, boxLeft, boxTop, 16, 21, 240, 10);

    struct Field {
        const char* label;
        int id;
        QLineEdit** edit;
    };
    const Field fields[] = {
        {"Exposure Time (0.01 - 600.00)", 1009, &exposureTimeEdit_},
        {"Exposure Delay (0 - 99)", 1010, &exposureDelayEdit_},
        {"Baseline Level (0 - 255)", 1011, &baselineLevelEdit_},
        {"Subtraction Constant (0 - 255)", 1016, &subtractionConstantEdit_},
    };
    int top = 38;
    for (const Field& field : fields) {
        auto* label = new QLabel(QString::fromLatin1(field.label), settingsBox);
        label->setObjectName(controlName("label", field.id));
        placeIn(label, boxLeft, boxTop, 16, top + 3, 116, 8);
        auto* edit = new QLineEdit(settingsBox);
        edit->setObjectName(controlName("edit", field.id));
        placeIn(edit, boxLeft, boxTop, 134, top, 44, 14);
        label->setBuddy(edit);
        *field.edit = edit;
        top += 18;
    }

    auto* gainBox = new QGroupBox(QStringLiteral("Camera Gain"), settingsBox);
    gainBox->setObjectName(QStringLiteral("cameraGainBox"));
    constexpr int gainLeft = 192;
    constexpr int gainTop = 34;
    placeIn(gainBox, boxLeft, boxTop, gainLeft, gainTop, 64, 70);
    int gainId = 1005;
    int radioTop = 48;
    for (const char* text : {"1x", "2x", "3x", "4x"}) {
        auto* radio = new QRadioButton(QString::fromLatin1(text), gainBox);
        radio->setObjectName(controlName("radio", gainId++));
        du.place(radio, 202 - gainLeft, radioTop - gainTop, 40, 10);
        gainButtons_.append(radio);
        radioTop += 13;
    }

    antiBloomBox_ = new QCheckBox(QStringLiteral("Anti-Bloom"), settingsBox);
    antiBloomBox_->setObjectName(controlName("check", 1013));
    placeIn(antiBloomBox_, boxLeft, boxTop, 16, 114, 100, 10);
    smoothImageBox_ = new QCheckBox(QStringLiteral("Smooth Image"), settingsBox);
    smoothImageBox_->setObjectName(controlName("check", 1014));
    placeIn(smoothImageBox_, boxLeft, boxTop, 134, 114, 100, 10);
    subtractDarkFrameBox_ = new QCheckBox(QStringLiteral("Subtract Dark Frame"), settingsBox);
    subtractDarkFrameBox_->setObjectName(controlName("check", 1015));
    placeIn(subtractDarkFrameBox_, boxLeft, boxTop, 16, 128, 100, 10);
    useCompressionBox_ = new QCheckBox(QStringLiteral("Use Compression"), settingsBox);
    useCompressionBox_->setObjectName(controlName("check", 1018));
    placeIn(useCompressionBox_, boxLeft, boxTop, 134, 128, 100, 10);

    // Plain text: the notes' runs of blanks are part of their wording.
    auto* note = new QLabel(QStringLiteral("Note:   Internal camera operations include Dark Frame storage and "
                                           "subtraction, Subtraction of the Subtraction Constant, and image smoothing."
                                           "  Default is to do these in the PC instead of in the camera box."),
                            this);
    note->setObjectName(QStringLiteral("note"));
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    du.place(note, 9, 152, 254, 26);
    auto* noteAlso = new QLabel(QStringLiteral("(Note also:  PC smoothing operation is not yet implemented.)"), this);
    noteAlso->setObjectName(QStringLiteral("noteAlso"));
    noteAlso->setTextFormat(Qt::PlainText);
    du.place(noteAlso, 9, 181, 254, 8);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    du.place(ok, 161, 197, 50, 14);

    observationKeywordsBox_ = new QCheckBox(QStringLiteral("Write observation keywords"), this);
    observationKeywordsBox_->setObjectName(QStringLiteral("observationKeywords"));
    observationKeywordsBox_->setToolTip(QStringLiteral(
        "FITS files of captures also record the date, exposure time and where the telescope pointed"));
    du.place(observationKeywordsBox_, 9, 199, 148, 10);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    du.place(cancel, 215, 197, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    du.widenToShowTexts(this);
}

void setupCamera::doDataExchange(DataExchange& exchange)
{
    // This order decides which refused field the user is sent back to first.
    exchange.check(antiBloomBox_, antiBloom);
    exchange.check(smoothImageBox_, smoothImage);
    exchange.check(subtractDarkFrameBox_, subtractDarkFrame);
    exchange.radio(gainButtons_, cameraGain);
    exchange.text(exposureTimeEdit_, exposureTime, shortestExposure, longestExposure);
    exchange.text(exposureDelayEdit_, exposureDelay, 0, longestDelay);
    exchange.text(baselineLevelEdit_, baselineLevel, 0, largestLevel);
    exchange.text(subtractionConstantEdit_, subtractionConstant, 0, largestLevel);
    exchange.check(operationsInPCBox_, operationsInPC);
    exchange.check(useCompressionBox_, useCompression);
    exchange.check(observationKeywordsBox_, observationKeywords);
}

void OnSetupCamera(CTarviApp& app, QWidget* parent)
{
    st4Settings& s = app.settings;
    setupCamera dialog(app.ui(), parent);
    dialog.antiBloom = s.antiBloom;
    dialog.smoothImage = s.smoothImage;
    dialog.subtractDarkFrame = s.subtractDarkFrame;
    dialog.operationsInPC = s.operationsInPC;
    dialog.useCompression = s.useCompression;
    dialog.cameraGain = s.cameraGain;
    dialog.exposureTime = s.exposureTime;
    dialog.exposureDelay = s.exposureDelay;
    dialog.baselineLevel = s.baselineLevel;
    dialog.subtractionConstant = s.subtractionConstant;
    dialog.observationKeywords = app.observationKeywords ? 1 : 0;
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (app.observationKeywords != (dialog.observationKeywords != 0)) {
        app.observationKeywords = dialog.observationKeywords != 0;
        app.saveObservationKeywords();
    }
    s.antiBloom = dialog.antiBloom;
    s.smoothImage = dialog.smoothImage;
    s.subtractDarkFrame = dialog.subtractDarkFrame;
    s.operationsInPC = dialog.operationsInPC;
    s.useCompression = dialog.useCompression;
    s.cameraGain = dialog.cameraGain;
    s.exposureTime = dialog.exposureTime;
    s.exposureDelay = dialog.exposureDelay;
    s.baselineLevel = dialog.baselineLevel;
    s.subtractionConstant = dialog.subtractionConstant;
    // A camera that cannot be reached has said so itself; the values are
    // kept all the same.
    app.cameraJob([&app] {
        app.sendCameraSettings();
        app.saveSettings();
    });
}

}  // namespace tarvi
