#include "app/help_window.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tarvi {

QString HelpWindow::userGuide(const QString& readme)
{
    const qsizetype start = readme.indexOf(QStringLiteral("\n## User guide"));
    return start < 0 ? readme : readme.mid(start + 1);
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Tarvi Help"));
    setModal(false);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    QFile readme(QStringLiteral(":/help/README.md"));
    if (readme.open(QIODevice::ReadOnly))
        browser_->setMarkdown(userGuide(QString::fromUtf8(readme.readAll())));
    else
        browser_->setPlainText(QStringLiteral("The user guide could not be found."));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_);
    layout->addWidget(buttons);
    resize(640, 560);
}

}  // namespace tarvi
