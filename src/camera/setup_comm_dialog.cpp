#include "camera/setup_comm_dialog.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/tarvi_app.h"
#include "platform/dialog_units.h"
#include "platform/port_map.h"

namespace tarvi {

namespace {

constexpr int rowHeight = 12;
constexpr int deviceWidth = 66;

QString controlName(const char* kind, int id)
{
    return QStringLiteral("%1%2").arg(QLatin1String(kind)).arg(id);
}

// One radio button per row with its text as a separate label, as the
// template has it; the button still reads its label to a screen reader.
QAbstractButton* addRadioRow(const DialogUnits& du, QGroupBox* box, int id, const QString& text, int top,
                             int labelWidth)
{
    auto* radio = new QRadioButton(box);
    radio->setObjectName(controlName("radio", id));
    radio->setAccessibleName(text);
    du.place(radio, 7, top, 10, 10);
    auto* label = new QLabel(text, box);
    label->setObjectName(controlName("label", id));
    du.place(label, 19, top + 1, labelWidth, 8);
    return radio;
}

// The device path can be long (/dev/serial/by-id/...): the label shows what
// fits and the tooltip all of it.
void addDeviceLabel(const DialogUnits& du, QGroupBox* box, int id, const std::string& device, int top)
{
    auto* label = new QLabel(box);
    label->setObjectName(controlName("device", id));
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    label->setFont(small);
    label->setForegroundRole(QPalette::PlaceholderText);
    du.place(label, 43, top + 1, deviceWidth, 8);
    // The name comes from the ini file as the user typed it: shown as it
    // stands, never read as markup.
    label->setTextFormat(Qt::PlainText);
    const QString full = QString::fromStdString(device);
    label->setText(QFontMetrics(small).elidedText(full, Qt::ElideMiddle, label->width()));
    label->setToolTip(QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(full.toHtmlEscaped()));
}

QList<QAbstractButton*> addPortBox(const DialogUnits& du, QWidget* parent, const char* name, const int (&ids)[4],
                                   const PortMap& portMap, int left, int top)
{
    auto* box = new QGroupBox(QStringLiteral("Port"), parent);
    box->setObjectName(QLatin1String(name));
    du.place(box, left, top, 116, 14 + 4 * rowHeight);
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < PortMap::portCount; ++i) {
        const int rowTop = 12 + i * rowHeight;
        buttons.append(addRadioRow(du, box, ids[i], QStringLiteral("COM%1").arg(i + 1), rowTop, 22));
        addDeviceLabel(du, box, ids[i], portMap.device(i), rowTop);
    }
    return buttons;
}

}  // namespace

setupComm::setupComm(Ui& ui, const PortMap& portMap, QWidget* parent) : ExchangeDialog(ui, parent)
{
    setWindowTitle(QStringLiteral("Setup Communications "));
    const DialogUnits du(font());
    setFixedSize(du.size(206, 211));

    // Group boxes hold their controls, so each radio group is exclusive
    // within its own box; positions inside a box are from its corner.
    auto* cameraBox = new QGroupBox(QStringLiteral("Camera"), this);
    cameraBox->setObjectName(QStringLiteral("cameraBox"));
    du.place(cameraBox, 7, 7, 192, 76);
    cameraPortButtons_ = addPortBox(du, cameraBox, "cameraPortBox", {1000, 1001, 1002, 1003}, portMap, 7, 10);

    auto* speedBox = new QGroupBox(QStringLiteral("Speed"), cameraBox);
    speedBox->setObjectName(QStringLiteral("cameraSpeedBox"));
    du.place(speedBox, 129, 10, 56, 14 + 4 * rowHeight);
    int speedId = 1004;
    int rowTop = 12;
    for (const char* text : {"57.6K", "19.2K", "9600", "1200"}) {
        cameraSpeedButtons_.append(addRadioRow(du, speedBox, speedId++, QString::fromLatin1(text), rowTop, 30));
        rowTop += rowHeight;
    }

    auto* telescopeBox = new QGroupBox(QStringLiteral("LX200"), this);
    telescopeBox->setObjectName(QStringLiteral("telescopeBox"));
    du.place(telescopeBox, 7, 88, 130, 76);
    telescopePortButtons_ =
        addPortBox(du, telescopeBox, "telescopePortBox", {1008, 1009, 1010, 1012}, portMap, 7, 10);

    auto* sharingBox = new QGroupBox(QStringLiteral("Planetarium programs"), this);
    sharingBox->setObjectName(QStringLiteral("sharingBox"));
    du.place(sharingBox, 7, 169, 192, 36);
    shareBox_ = new QCheckBox(QStringLiteral("Share the telescope on TCP port"), sharingBox);
    shareBox_->setObjectName(QStringLiteral("shareTelescope"));
    du.place(shareBox_, 7, 10, 124, 10);
    sharePortEdit_ = new QLineEdit(sharingBox);
    sharePortEdit_->setObjectName(QStringLiteral("sharePort"));
    sharePortEdit_->setAccessibleName(QStringLiteral("TCP port"));
    du.place(sharePortEdit_, 133, 9, 32, 12);
    allowOthersBox_ = new QCheckBox(QStringLiteral("Allow other computers"), sharingBox);
    allowOthersBox_->setObjectName(QStringLiteral("allowOtherComputers"));
    du.place(allowOthersBox_, 7, 22, 124, 10);
    const auto followShare = [this] {
        sharePortEdit_->setEnabled(shareBox_->isChecked());
        allowOthersBox_->setEnabled(shareBox_->isChecked());
    };
    connect(shareBox_, &QCheckBox::toggled, this, followShare);

    auto* connectButton = new QPushButton(QStringLiteral("CONNECT"), this);
    connectButton->setObjectName(QStringLiteral("ok"));
    connectButton->setDefault(true);
    du.place(connectButton, 149, 131, 50, 14);
    connect(connectButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    du.place(cancel, 149, 150, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    du.widenToShowTexts(this);
}

void setupComm::doDataExchange(DataExchange& exchange)
{
    exchange.radio(cameraPortButtons_, cameraPort);
    exchange.radio(cameraSpeedButtons_, cameraSpeed);
    exchange.radio(telescopePortButtons_, telescopePort);
    exchange.check(shareBox_, shareTelescope);
    // A port is asked for only when the telescope is to be shared.
    if (!exchange.saveAndValidate() || shareTelescope != 0)
        exchange.text(sharePortEdit_, sharePort, 1, 65535);
    exchange.check(allowOthersBox_, allowOtherComputers);
    if (!exchange.saveAndValidate()) {
        sharePortEdit_->setEnabled(shareTelescope != 0);
        allowOthersBox_->setEnabled(shareTelescope != 0);
    }
}

bool OnSetupComm(CTarviApp& app, QWidget* parent)
{
    setupComm dialog(app.ui(), app.portMap, parent);
    dialog.cameraPort = app.settings.cameraPort;
    dialog.cameraSpeed = app.settings.cameraSpeed;
    dialog.telescopePort = app.settings.telescopePort;
    dialog.shareTelescope = app.sharing.on ? 1 : 0;
    dialog.sharePort = app.sharing.port;
    dialog.allowOtherComputers = app.sharing.allowOthers ? 1 : 0;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const TelescopeSharing sharing{.on = dialog.shareTelescope != 0,
                                   .port = dialog.sharePort,
                                   .allowOthers = dialog.allowOtherComputers != 0};
    if (sharing != app.sharing) {
        app.sharing = sharing;
        app.saveSharing();
    }
    app.connectDevices(dialog.cameraPort, dialog.cameraSpeed, dialog.telescopePort);
    return true;
}

}  // namespace tarvi
