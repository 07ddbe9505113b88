#include "camera/autoshoot_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/tarvi_app.h"
#include "platform/dialog_units.h"

namespace tarvi {

autoshootsetup::autoshootsetup(Ui& ui, QWidget* parent) : ExchangeDialog(ui, parent)
{
    setWindowTitle(QStringLiteral("Autoshoot Setup"));
    const DialogUnits du(font());
    setFixedSize(du.size(300, 150));

    const auto box = [&](const char* text, const char* name, int top) {
        auto* check = new QCheckBox(QString::fromLatin1(text), this);
        check->setObjectName(QString::fromLatin1(name));
        du.place(check, 10, top, 280, 12);
        return check;
    };
    const auto edit = [&](const char* name, int top) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QString::fromLatin1(name));
        du.place(field, 22, top, 268, 14);
        return field;
    };
    fitsBox_ = box("Automatically save autoshoot files as FITS files (.fit files) in directory:", "check1019", 8);
    fitsEdit_ = edit("edit1022", 22);
    bmpBox_ = box("Automatically save autoshoot files as bmp files (.bmp files) in directory:", "check1021", 42);
    bmpEdit_ = edit("edit1023", 56);
    centerBox_ = box("Automatically center saved images (useful for planetary images, making movies, etc.)",
                     "check1026", 78);
    windowBox_ = box("Create new window for each captured image.", "check1042", 94);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    du.place(ok, 184, 126, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    du.place(cancel, 240, 126, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    du.widenToShowTexts(this);
}

void autoshootsetup::doDataExchange(DataExchange& exchange)
{
    exchange.check(fitsBox_, autosaveFits);
    exchange.text(fitsEdit_, fitsDirectory);
    exchange.check(bmpBox_, autosaveBmp);
    exchange.text(bmpEdit_, bmpDirectory);
    exchange.check(centerBox_, autoCenter);
    exchange.check(windowBox_, newWindowPerImage);
}

void OnAutoshootSetup(CTarviApp& app, QWidget* parent)
{
    autoshootsetup dialog(app.ui(), parent);
    dialog.autosaveFits = app.autosaveFits;
    dialog.fitsDirectory = app.fitsDirectory;
    dialog.autosaveBmp = app.autosaveBmp;
    dialog.bmpDirectory = app.bmpDirectory;
    dialog.autoCenter = app.autoCenter;
    dialog.newWindowPerImage = app.newWindowPerImage;
    if (dialog.exec() != QDialog::Accepted)
        return;
    app.autosaveFits = dialog.autosaveFits;
    app.fitsDirectory = dialog.fitsDirectory;
    app.autosaveBmp = dialog.autosaveBmp;
    app.bmpDirectory = dialog.bmpDirectory;
    app.autoCenter = dialog.autoCenter;
    app.newWindowPerImage = dialog.newWindowPerImage;
}

}  // namespace tarvi
