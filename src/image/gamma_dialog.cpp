#include "image/gamma_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/tarvi_app.h"
#include "platform/dialog_units.h"

namespace tarvi {

getGammas::getGammas(Ui& ui, QWidget* parent) : ExchangeDialog(ui, parent)
{
    setWindowTitle(QStringLiteral("Dialog"));
    const DialogUnits du(font());
    setFixedSize(du.size(186, 54));

    // Created in tab order: the two fields, then the buttons.
    auto* label1 = new QLabel(QStringLiteral("Gamma 1"), this);
    du.place(label1, 12, 13, 36, 8);
    gamma1Edit_ = new QLineEdit(this);
    gamma1Edit_->setObjectName(QStringLiteral("edit1009"));
    du.place(gamma1Edit_, 52, 10, 60, 14);
    label1->setBuddy(gamma1Edit_);

    auto* label2 = new QLabel(QStringLiteral("Gamma 2"), this);
    du.place(label2, 12, 33, 36, 8);
    gamma2Edit_ = new QLineEdit(this);
    gamma2Edit_->setObjectName(QStringLiteral("edit1010"));
    du.place(gamma2Edit_, 52, 30, 60, 14);
    label2->setBuddy(gamma2Edit_);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    du.place(ok, 126, 10, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    du.place(cancel, 126, 30, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    du.widenToShowTexts(this);
}

void getGammas::doDataExchange(DataExchange& exchange)
{
    exchange.text(gamma1Edit_, gamma1, smallestGamma, largestGamma);
    exchange.text(gamma2Edit_, gamma2, smallestGamma, largestGamma);
}

void setConversionGammas(CTarviApp& app, QWidget* parent)
{
    getGammas dialog(app.ui(), parent);
    dialog.gamma1 = app.gamma1;
    dialog.gamma2 = app.gamma2;
    if (dialog.exec() != QDialog::Accepted)
        return;
    app.gamma1 = dialog.gamma1;
    app.gamma2 = dialog.gamma2;
}

}  // namespace tarvi
