#include "app/tarvi_shell.h"

#include <QAction>
#include <QCoreApplication>
#include <QMdiArea>
#include <QStatusBar>
#include <QToolBar>
#include <QWhatsThis>

#include "app/about_dialog.h"
#include "app/command_table.h"
#include "app/help_window.h"
#include "app/main_frame.h"

namespace tarvi {

TarviShell::TarviShell(std::string startDirectory) : app_(ui_, clock_, std::move(startDirectory))
{
    registerHandlers();
}

TarviShell::~TarviShell()
{
    ui_.setMainWindow(nullptr, nullptr);
}

HelpWindow* TarviShell::helpWindow() const
{
    return help_.data();
}

void TarviShell::registerHandlers()
{
    router_.setHandler(Handler::appExit, [this] { mainFrame_->close(); });
    router_.setHandler(Handler::viewToolbar, [this] { onViewToolbar(); });
    router_.setHandler(Handler::viewStatusBar, [this] { onViewStatusBar(); });
    router_.setHandler(Handler::windowCascade, [this] { mainFrame_->mdiArea()->cascadeSubWindows(); });
    router_.setHandler(Handler::windowTile, [this] { mainFrame_->mdiArea()->tileSubWindows(); });
    router_.setHandler(Handler::helpTopics, [this] { onHelpTopics(); });
    router_.setHandler(Handler::help, [this] { onHelpTopics(); });
    router_.setHandler(Handler::contextHelp, [this] { onContextHelp(); });
    router_.setHandler(Handler::appAbout, [this] { onAppAbout(); });
}

bool TarviShell::initInstance(const CommandLine& commandLine)
{
    // The recent-file list is kept under this name.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarvi"));

    mainFrame_ = std::make_unique<CMainFrame>(app_, router_);
    if (!mainFrame_->create())
        return false;
    ui_.setMainWindow(mainFrame_.get(), mainFrame_.get());
    connect(mainFrame_.get(), &CMainFrame::filesDropped, this, [this](const QStringList& paths) {
        for (const QString& path : paths)
            openDocumentFile(path);
    });

    if (commandLine.files.empty()) {
        newDocument();
    } else {
        for (const auto& file : commandLine.files)
            openDocumentFile(QString::fromStdString(file));
    }

    mainFrame_->show();
    return true;
}

void TarviShell::exitInstance()
{
    // Restores the user's screen colours where a night scheme changed them.
    router_.route(cmd::normalVision);
    if (help_)
        help_->close();
}

void TarviShell::newDocument()
{
    if (app_.skipNextNewDocument) {
        app_.skipNextNewDocument = 0;
        return;
    }
    router_.route(cmd::fileNew);
}

void TarviShell::openDocumentFile(const QString& path)
{
    // Image windows come with the document and view; until then a file to
    // open is accepted and left alone.
    Q_UNUSED(path);
}

void TarviShell::onAppAbout()
{
    CAboutDlg about(mainFrame_.get());
    about.exec();
}

void TarviShell::onHelpTopics()
{
    if (!help_)
        help_ = new HelpWindow(mainFrame_.get());
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void TarviShell::onContextHelp()
{
    QWhatsThis::enterWhatsThisMode();
}

void TarviShell::onViewToolbar()
{
    QToolBar* bar = mainFrame_->toolBar();
    bar->setVisible(bar->isHidden());
    mainFrame_->updateCommandUi();
}

void TarviShell::onViewStatusBar()
{
    QStatusBar* bar = mainFrame_->statusBar();
    bar->setVisible(bar->isHidden());
    mainFrame_->updateCommandUi();
}

}  // namespace tarvi
