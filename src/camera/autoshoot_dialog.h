#pragma once

#include <string>

#include "platform/data_exchange.h"

class QCheckBox;
class QLineEdit;

namespace tarvi {

class CTarviApp;

// Capture > Autoshoot Setup...: where autoshoot saves its frames, whether
// saved frames are centred, and whether each capture gets a window of its own.
class autoshootsetup final : public ExchangeDialog {
    Q_OBJECT
public:
    explicit autoshootsetup(Ui& ui, QWidget* parent = nullptr);

    int autosaveFits = 0;
    std::string fitsDirectory;
    int autosaveBmp = 0;
    std::string bmpDirectory;
    int autoCenter = 0;
    int newWindowPerImage = 1;

protected:
    void doDataExchange(DataExchange& exchange) override;

private:
    QCheckBox* fitsBox_;
    QLineEdit* fitsEdit_;
    QCheckBox* bmpBox_;
    QLineEdit* bmpEdit_;
    QCheckBox* centerBox_;
    QCheckBox* windowBox_;
};

void OnAutoshootSetup(CTarviApp& app, QWidget* parent);

}  // namespace tarvi
