#pragma once

#include "platform/data_exchange.h"

class QLineEdit;

namespace tarvi {

class CTarviApp;

// The two conversion gammas that take 16-bit FITS data to 8 bits.
class getGammas final : public ExchangeDialog {
    Q_OBJECT
public:
    static constexpr double smallestGamma = 0.0;
    static constexpr double largestGamma = 100.0;

    explicit getGammas(Ui& ui, QWidget* parent = nullptr);

    double gamma1 = 1.0;
    double gamma2 = 1.0;

protected:
    void doDataExchange(DataExchange& exchange) override;

private:
    QLineEdit* gamma1Edit_;
    QLineEdit* gamma2Edit_;
};

// Image > Set Conversion Gammas...: the gammas change only when OK is pressed
// and both values pass.
void setConversionGammas(CTarviApp& app, QWidget* parent);

}  // namespace tarvi
