#include "app/tarvi_shell.h"

#include <QAction>
#include <QFileDialog>
#include <QCoreApplication>
#include <QMdiArea>
#include <QStatusBar>
#include <QToolBar>
#include <QWhatsThis>


#include "app/about_dialog.h"
#include "app/command_table.h"
#include "app/doc_manager.h"
#include "app/help_window.h"
#include "app/main_frame.h"
#include "app/night_vision.h"
#include "camera/autoshoot_dialog.h"
#include "camera/setup_camera_dialog.h"
#include "camera/setup_comm_dialog.h"
#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"
#include "telescope/lx200_control.h"
#include "telescope/lx200_link.h"
#include "telescope/lx200_tcp_server.h"
#include "telescope/lx200_p0.h"
#include "telescope/lx200_p1.h"
#include "telescope/lx200_p2.h"
#include "telescope/lx200_p3.h"
#include "telescope/motion_rules.h"
#include "view/display_size_dialog.h"
#include "image/conversion_dialog.h"
#include "image/gamma_dialog.h"

namespace tarvi {

TarviShell::TarviShell(std::string startDirectory, Ui* ui)
    : sessionUi_(ui != nullptr ? *ui : ui_, bridge_, ui_.input()),
      app_(sessionUi_, clock_, std::move(startDirectory)),
      cameraSession_(std::make_unique<DeviceSession>("tarvi camera")),
      telescopeSession_(std::make_unique<DeviceSession>("tarvi scope"))
{
    // Each device's jobs run on its session's thread, and their ends are
    // told on the GUI thread.
    const auto runOn = [this](DeviceSession& session, bool urgent) {
        return sessionRunner(session, urgent, [this](JobEnd ended) { bridge_.post(std::move(ended)); });
    };
    PortOwner& camera = app_.cameraLine();
    camera.setDeviceThread(cameraSession_->threadId());
    cameraSession_->beforeEachJob = [this] { sessionUi_.startLooking({}); };
    camera.runner = runOn(*cameraSession_, false);
    const auto onGui = [this](const std::function<void()>& fn) { bridge_.call(fn); };
    camera.onGui = onGui;
    PortOwner& telescope = app_.telescopeLine();
    telescope.setDeviceThread(telescopeSession_->threadId());
    telescopeSession_->beforeEachJob = [this, &telescope] {
        sessionUi_.startLooking([&telescope] { telescope.exchangeBoundary(); });
    };
    telescope.runner = runOn(*telescopeSession_, false);
    telescope.urgentRunner = runOn(*telescopeSession_, true);
    telescope.onGui = onGui;
    telescope.betweenExchanges = [this] {
        telescopeSession_->runUrgent();
        if (telescopeServer_)
            telescopeServer_->serveWaiting();
    };
    // Exit while a job waits for an answer: the answer is its box's safe one.
    app_.answerOpenQuestions = [this] { ui_.closeOpenBoxes(); };
    opener_.setSimulatorHook([this](const std::string& name) { return simulatorPath(name); });
    app_.setPortOpener(&opener_);
    chooseDarkFrameFile = [this] {
        QFileDialog dialog(mainFrame_.get(), QStringLiteral("Open"), QString(), QStringLiteral("*.bmp"));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setDefaultSuffix(QStringLiteral("bmp"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
    registerHandlers();
    app_.objectName = [this] {
        return telescopeSheet_ ? telescopeSheet_->page2().objectName() : std::string();
    };
}

TarviShell::~TarviShell()
{
    endSessions();
    app_.telescopeReopened = nullptr;
    telescopeServer_.reset();
    telescopeSheet_.reset();
    docManager_.reset();
    nightVision_.reset();
    ui_.setMainWindow(nullptr, nullptr);
}

void TarviShell::endSessions()
{
    app_.requestStop();
    bridge_.close();
    cameraSession_->finish();
    telescopeSession_->finish();
}

void TarviShell::useSimulators()
{
    // For this run only: the ini file keeps the user's own devices.
    app_.portMap.setDevice(0, "sim:camera");
    app_.portMap.setDevice(1, "sim:telescope");
}

std::string TarviShell::simulatorPath(const std::string& name)
{
    if (name == "camera") {
        if (!cameraSimulator_) {
            cameraSimulator_ = std::make_unique<sim::CameraSimulator>(cameraOptions);
            cameraSimulator_->start();
        }
        return cameraSimulator_->slavePath();
    }
    if (name == "telescope") {
        if (!telescopeSimulator_) {
            telescopeSimulator_ = std::make_unique<sim::TelescopeSimulator>(telescopeOptions);
            telescopeSimulator_->start();
        }
        return telescopeSimulator_->slavePath();
    }
    return {};
}

HelpWindow* TarviShell::helpWindow() const
{
    return help_.data();
}

void TarviShell::registerHandlers()
{
    router_.setGate([this](Handler handler, bool tell) {
        const std::string_view refusal =
            busyRefusal(handler, {app_.cameraBusy(), app_.telescopeLine().working()});
        if (refusal.empty())
            return true;
        if (tell)
            app_.ui().messageBox(refusal, {}, Buttons::ok, {});
        return false;
    });
    app_.busyChanged = [this] {
        if (mainFrame_)
            mainFrame_->devicesBusyChanged();
    };
    router_.setHandler(Handler::appExit, [this] { mainFrame_->close(); });
    router_.setHandler(Handler::viewToolbar, [this] { onViewToolbar(); });
    router_.setHandler(Handler::viewStatusBar, [this] { onViewStatusBar(); });
    router_.setHandler(Handler::windowCascade, [this] { mainFrame_->mdiArea()->cascadeSubWindows(); });
    router_.setHandler(Handler::windowTile, [this] { mainFrame_->mdiArea()->tileSubWindows(); });
    router_.setHandler(Handler::helpTopics, [this] { onHelpTopics(); });
    router_.setHandler(Handler::help, [this] { onHelpTopics(); });
    router_.setHandler(Handler::contextHelp, [this] { onContextHelp(); });
    router_.setHandler(Handler::appAbout, [this] { onAppAbout(); });
    router_.setHandler(Handler::setConversionGammas, [this] { setConversionGammas(app_, mainFrame_.get()); });
    router_.setHandler(Handler::conversion, [this] { convertFilesCommand(app_, mainFrame_.get()); });
    router_.setHandler(Handler::setImageDisplaySize, [this] { onSetImageDisplaySize(); });
    router_.setHandler(Handler::nightVisionDark, [this] { nightVision_->OnNightVisionDark(); });
    router_.setHandler(Handler::nightVisionLight, [this] { nightVision_->OnNightVisionLight(); });
    router_.setHandler(Handler::normalVision, [this] { nightVision_->OnNormalVision(); });
    router_.setHandler(Handler::captureImage, [this] { app_.cameraJob([this] { app_.captureImage(); }); });
    router_.setHandler(Handler::captureDarkFrame, [this] { app_.cameraJob([this] { app_.captureDarkFrame(); }); });
    router_.setHandler(Handler::showDarkFrame, [this] { app_.showDarkFrame(); });
    router_.setHandler(Handler::loadDarkFrame, [this] { onLoadDarkFrame(); });
    router_.setHandler(Handler::autoShoot, [this] { app_.cameraJob([this] { app_.autoShoot(); }); });
    router_.setHandler(Handler::autoshootSetup, [this] { OnAutoshootSetup(app_, mainFrame_.get()); });
    router_.setHandler(Handler::setupCamera, [this] { OnSetupCamera(app_, mainFrame_.get()); });
    router_.setHandler(Handler::setupComm, [this] {
        const TelescopeSharing before = app_.sharing;
        if (OnSetupComm(app_, mainFrame_.get()) && app_.sharing != before) {
            shareTelescopePort_ = 0;
            startTelescopeServer();
        }
    });
    router_.setHandler(Handler::lx200Controls, [this] { onLX200Controls(); });
    // A new connection to the telescope: the sheet is built again so that
    // every page holds the handle of the current port. A port opened again
    // after its device came back is handed to the pages of the sheet there
    // is, which may be running the command that opened it. Both happen in a
    // job of the telescope's.
    app_.telescopeReopened = [this](bool afterLoss) {
        bool sheet = false;
        app_.telescopeLine().gui([&] {
            sheet = telescopeSheet_ != nullptr;
            if (sheet && !afterLoss)
                retireSheet();
        });
        if (!sheet)
            return;
        if (afterLoss)
            handOver(app_.settings.telescopeHandle);
        else
            setUpSheet();
    };
}

void TarviShell::retireSheet()
{
    // Its timers end now; it goes once the jobs posted before have run.
    LX200Control* old = telescopeSheet_.release();
    old->hide();
    for (LX200Page* page : {static_cast<LX200Page*>(&old->page0()), static_cast<LX200Page*>(&old->page1()),
                            static_cast<LX200Page*>(&old->page2()), static_cast<LX200Page*>(&old->page3())})
        page->windowClosed();
    app_.telescopeLine().run([this, old] { app_.telescopeLine().gui([old] { delete old; }); });
}

void TarviShell::onLX200Controls()
{
    if (!telescopeSheet_) {
        if (sheetComing_)
            return;
        sheetComing_ = true;
        app_.telescopeLine().run([this] {
            app_.openTelescopePort();
            setUpSheet();
        });
    } else if (telescopeSheet_->windowClosed()) {
        telescopeSheet_->recreateWindow();
        LX200P0& motion = telescopeSheet_->page0();
        motion.dynamicFocusOn = 0;
        if (motion.parkSeconds != 0) {
            motion.parkSeconds = 0;
            motion.parked = 0;
            motion.parkTimer = 0;
            motion.dynamicFocusTimer = 0;
            motion.update();
            motion.getPosition();
        }
        motion.updateFields(false);
    } else {
        telescopeSheet_->raise();
        telescopeSheet_->activateWindow();
    }
}

void TarviShell::setUpSheet()
{
    PortOwner& line = app_.telescopeLine();
    line.gui([this, &line] {
        telescopeSheet_ = std::make_unique<LX200Control>(app_.ui(), app_.clock(), line, mainFrame_.get());
        telescopeSheet_->show();
        // Beside tarvi.ini: an installed program writes nothing beside itself.
        if (pageSettingsDirectory.empty())
            pageSettingsDirectory = app_.startDirectory;
        telescopeSheet_->page0().iniDirectory = pageSettingsDirectory;
        telescopeSheet_->page2().objectsDirectory = app_.startDirectory;
    });
    handOver(app_.settings.telescopeHandle);
    line.gui([this] {
        LX200P0& motion = telescopeSheet_->page0();
        motion.slewRate = 3;
        motion.updateFields(false);
        motion.dynamicFocusOn = 0;
        LX200P1& site = telescopeSheet_->page1();
        site.backlash = "??";
        site.trackingRate = "???.?";
        site.updateFields(false);
        sheetComing_ = false;
    });
}

// In a job of the telescope's: the pages' hand-overs do their exchanges.
void TarviShell::handOver(int handle)
{
    LX200Control* sheet = nullptr;
    app_.telescopeLine().gui([&] { sheet = telescopeSheet_.get(); });
    // None when the program is ending and the windows no longer answer.
    if (sheet == nullptr)
        return;
    sheet->page0().setPort(handle);
    sheet->page1().setPort(handle);
    sheet->page2().setPort(handle);
    sheet->page3().setPort(handle);
}

bool TarviShell::initInstance(const CommandLine& commandLine)
{
    // The recent-file list is kept under this name.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarvi"));
    // The desktop's own file dialogs would not take the night schemes' colours.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);

    if (commandLine.simulate)
        useSimulators();
    shareTelescopePort_ = commandLine.shareTelescopePort;

    mainFrame_ = std::make_unique<CMainFrame>(app_, router_);
    if (!mainFrame_->create())
        return false;
    ui_.setMainWindow(mainFrame_.get(), mainFrame_.get());
    docManager_ = std::make_unique<DocManager>(app_, *mainFrame_);
    docManager_->registerHandlers(router_);
    nightVision_ = std::make_unique<NightVision>(app_, *mainFrame_);
    app_.setCaptureWindows(docManager_.get());
    mainFrame_->updateCommandUi();
    connect(mainFrame_.get(), &CMainFrame::filesDropped, this, [this](const QStringList& paths) {
        for (const QString& path : paths)
            openDocumentFile(path);
    });

    if (commandLine.files.empty()) {
        newDocument();
    } else {
        for (const auto& file : commandLine.files)
            openDocumentFile(QString::fromStdString(file));
        // The refusal was there for the File New of an empty command line
        // only; left set, it would swallow the first capture's window.
        app_.skipNextNewDocument = 0;
    }

    mainFrame_->show();
    startTelescopeServer();
    return true;
}

void TarviShell::startTelescopeServer()
{
    TelescopeSharing wanted = app_.sharing;
    if (shareTelescopePort_ != 0)
        wanted = {.on = true, .port = shareTelescopePort_, .allowOthers = false};
    if (!wanted.on) {
        if (telescopeServer_)
            telescopeServer_->close();
        return;
    }
    if (!telescopeServer_) {
        PortOwner& line = app_.telescopeLine();
        telescopeServer_ = std::make_unique<LX200TcpServer>(app_.clock(), line);
        telescopeServer_->runOnTelescope = [this](std::function<void()> work) {
            telescopeSession_->post(std::move(work));
        };
        telescopeServer_->runOnGui = [this](std::function<void()> work) { bridge_.post(std::move(work)); };
        LX200Server& core = telescopeServer_->core();
        // On the telescope's thread. A client's first command opens the port
        // as the sheet would: with the precision set-up, which a sheet there
        // is does on its hand-over.
        core.openPort = [this, &line] {
            if (app_.openTelescopePort() != 1)
                return false;
            bool sheet = false;
            line.gui([&] { sheet = telescopeSheet_ != nullptr; });
            if (!sheet && line.open()) {
                LX200Link link(app_.ui(), line);
                link.setHandle(app_.settings.telescopeHandle);
                motion::precisionSetup(link);
            }
            return line.open();
        };
        core.sheetMoves = [this, &line] {
            bool moves = false;
            line.gui([&] { moves = telescopeSheet_ && telescopeSheet_->movesTelescope(); });
            return moves;
        };
        telescopeServer_->changed = [this] {
            if (mainFrame_)
                mainFrame_->setServerStatus(telescopeServer_->statusText());
        };
    }
    const std::string failure = telescopeServer_->listen(wanted.port, wanted.allowOthers);
    if (!failure.empty())
        app_.ui().messageBox("Cannot share the telescope on TCP port " + std::to_string(wanted.port) + ": " + failure
                                 + "\nTarvi runs on without sharing it.",
                             {}, Buttons::ok, {});
    if (mainFrame_)
        mainFrame_->setServerStatus(telescopeServer_->statusText());
}

void TarviShell::exitInstance()
{
    // Clients are let go before the devices and windows close.
    if (telescopeServer_)
        telescopeServer_->close();
    // Restores the user's screen colours where a night scheme changed them.
    router_.route(cmd::normalVision);
    if (help_)
        help_->close();
}

void TarviShell::newDocument()
{
    docManager_->newDocument();
}

void TarviShell::openDocumentFile(const QString& path)
{
    docManager_->openDocumentFile(path);
}

void TarviShell::onLoadDarkFrame()
{
    const QString path = chooseDarkFrameFile();
    if (!path.isEmpty())
        app_.loadDarkFrame(path.toStdString());
}

void TarviShell::onSetImageDisplaySize()
{
    SetImageDisplaySize dialog(mainFrame_.get());
    dialog.factor = app_.displaySize;
    if (dialog.exec() == QDialog::Accepted)
        app_.displaySize = dialog.factor;
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
