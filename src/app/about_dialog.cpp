#include "app/about_dialog.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/version.h"
#include "platform/dialog_units.h"

namespace tarvi {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Tarvi"));
    setModal(true);
    const DialogUnits du(font());
    setFixedSize(du.size(267, 98));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(QIcon(QStringLiteral(":/icons/tarvi32.xpm")).pixmap(32, 32));
    du.place(icon, 11, 17, 21, 20);

    auto* name = new QLabel(QStringLiteral("Tarvi Version %1").arg(QString::fromLatin1(tarviVersion)), this);
    name->setObjectName(QStringLiteral("aboutVersion"));
    du.place(name, 40, 10, 150, 10);

    auto* date = new QLabel(QStringLiteral("Released %1").arg(QString::fromLatin1(tarviReleaseDate)), this);
    date->setObjectName(QStringLiteral("aboutDate"));
    du.place(date, 40, 25, 150, 10);

    auto* what = new QLabel(QStringLiteral("ST-4 camera and LX200 telescope control,\nBMP and FITS images."), this);
    du.place(what, 40, 45, 180, 20);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    du.place(ok, 210, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    du.widenToShowTexts(this);
}

}  // namespace tarvi
