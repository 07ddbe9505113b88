#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/command_router.h"
#include "app/tarvi_app.h"
#include "platform/clock.h"
#include "platform/device_opener.h"
#include "platform/device_session.h"
#include "platform/qt_ui.h"
#include "platform/session_ui.h"
#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"

namespace tarvi {

class CMainFrame;
class DocManager;
class LX200Control;
class LX200TcpServer;
class HelpWindow;
class NightVision;

namespace sim {
class CameraSimulator;
class TelescopeSimulator;
}

// The Qt side of the application object: it builds the main frame, routes
// the commands of the menus, toolbar and keys to their routines, opens the
// files named on the command line or dropped on the window, and runs the
// start-up and exit steps around the event loop.
class TarviShell final : public QObject {
    Q_OBJECT
public:
    // Constructing reads the settings from startDirectory/tarvi.ini. The
    // program's logic talks through ui where one is given (tests), else
    // through the desktop.
    explicit TarviShell(std::string startDirectory, Ui* ui = nullptr);
    ~TarviShell() override;

    // Builds and shows the main window and processes the command line; false
    // ends the program.
    bool initInstance(const CommandLine& commandLine);
    void exitInstance();

    CTarviApp& app() { return app_; }
    QtUi& ui() { return ui_; }
    // The devices' own threads, where their jobs run.
    DeviceSession& cameraSession() { return *cameraSession_; }
    DeviceSession& telescopeSession() { return *telescopeSession_; }
    CommandRouter& router() { return router_; }
    CMainFrame* mainFrame() const { return mainFrame_.get(); }
    HelpWindow* helpWindow() const;
    DocManager& docManager() { return *docManager_; }
    NightVision& nightVision() { return *nightVision_; }
    // The telescope control sheet, once Telescope > LX200 Controls has built it.
    LX200Control* telescopeSheet() const { return telescopeSheet_.get(); }
    sim::CameraSimulator* cameraSimulator() const { return cameraSimulator_.get(); }
    sim::TelescopeSimulator* telescopeSimulator() const { return telescopeSimulator_.get(); }
    // The telescope shared over TCP; nullptr until sharing was first turned on.
    LX200TcpServer* telescopeServer() const { return telescopeServer_.get(); }
    // Listens, or stops, as the command line or tarvi.ini say; a port that
    // cannot be had is said and the program runs on without the server.
    void startTelescopeServer();

    // Asks for the dark frame's file in Setup > Load Dark Frame from File; an
    // empty name is Cancel. Tests put their own answer here.
    std::function<QString()> chooseDarkFrameFile;
    // How the simulated devices behave once --simulate has them made.
    sim::CameraOptions cameraOptions;
    sim::TelescopeOptions telescopeOptions;
    // Where the motion page keeps "LX200P0.ini": the start directory, unless
    // a test says otherwise before the sheet is first built.
    std::string pageSettingsDirectory;

    // File New as the shell command of an empty command line runs it.
    void newDocument();
    // A file from the command line or dropped on the window.
    void openDocumentFile(const QString& path);

private:
    void registerHandlers();
    void onAppAbout();
    void onHelpTopics();
    void onContextHelp();
    void onViewToolbar();
    void onViewStatusBar();
    void onSetImageDisplaySize();
    void onLoadDarkFrame();
    void onLX200Controls();
    // In a job of the telescope's: builds the sheet on the port there is
    // and gives the port to every page.
    void setUpSheet();
    void handOver(int handle);
    // The sheet of a port that was closed and opened afresh goes.
    void retireSheet();
    void useSimulators();
    std::string simulatorPath(const std::string& name);

    // Ends the device threads: asked to stop, their questions answered, joined.
    void endSessions();

    QtUi ui_;
    GuiBridge bridge_;
    // What the program's logic talks to, on the GUI thread or a device's.
    SessionUi sessionUi_;
    SystemClock clock_;
    CTarviApp app_;
    CommandRouter router_;
    DeviceOpener opener_;
    std::unique_ptr<sim::CameraSimulator> cameraSimulator_;
    std::unique_ptr<sim::TelescopeSimulator> telescopeSimulator_;
    std::unique_ptr<CMainFrame> mainFrame_;
    // Documents and the colour schemes go before the main frame they work on.
    std::unique_ptr<DocManager> docManager_;
    std::unique_ptr<NightVision> nightVision_;
    QPointer<HelpWindow> help_;
    std::unique_ptr<LX200Control> telescopeSheet_;
    std::unique_ptr<LX200TcpServer> telescopeServer_;
    // --share-telescope=PORT for this run, until Setup > Communications changes the sharing.
    int shareTelescopePort_ = 0;
    // Last: it goes first, while everything its jobs use is still there.
    std::unique_ptr<DeviceSession> cameraSession_;
    std::unique_ptr<DeviceSession> telescopeSession_;
    // Telescope > LX200 Controls waits for the port to open.
    bool sheetComing_ = false;
};

}  // namespace tarvi
