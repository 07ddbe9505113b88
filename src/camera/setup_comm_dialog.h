#pragma once

#include <QList>

#include "platform/data_exchange.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace tarvi {

class CTarviApp;
class PortMap;

// The camera's port and speed and the telescope's port. Beside each COM
// button stands the device that port is on this machine, because "COM2"
// alone tells a Linux user nothing.
class setupComm final : public ExchangeDialog {
    Q_OBJECT
public:
    setupComm(Ui& ui, const PortMap& portMap, QWidget* parent = nullptr);

    int cameraPort = 0;     // 0 = COM1 .. 3 = COM4
    int cameraSpeed = 0;    // 0 = 57.6K, 1 = 19.2K, 2 = 9600, 3 = 1200
    int telescopePort = 0;  // 0 = COM1 .. 3 = COM4
    // The telescope shared with planetarium programs over TCP.
    int shareTelescope = 0;
    int sharePort = 4030;
    int allowOtherComputers = 0;

    QCheckBox* shareBox() const { return shareBox_; }
    QLineEdit* sharePortEdit() const { return sharePortEdit_; }
    QCheckBox* allowOthersBox() const { return allowOthersBox_; }

protected:
    void doDataExchange(DataExchange& exchange) override;

private:
    QList<QAbstractButton*> cameraPortButtons_;
    QList<QAbstractButton*> cameraSpeedButtons_;
    QList<QAbstractButton*> telescopePortButtons_;
    QCheckBox* shareBox_;
    QLineEdit* sharePortEdit_;
    QCheckBox* allowOthersBox_;
};

// Setup > Communications: Cancel changes nothing; CONNECT reconnects both
// devices on the ports chosen, even when nothing was changed, and saves, the
// telescope's sharing included. True after CONNECT.
bool OnSetupComm(CTarviApp& app, QWidget* parent);

}  // namespace tarvi
