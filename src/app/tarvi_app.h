#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/settings.h"
#include "image/bmp.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/port_map.h"
#include "platform/port_owner.h"
#include "platform/serial_port.h"
#include "platform/ui.h"

namespace tarvi {

class CTarviView;

// Where a capture's picture goes: the image windows, as the Qt side keeps them.
class CaptureWindows {
public:
    virtual ~CaptureWindows() = default;
    // File New: a window showing the temporary image; an empty title leaves
    // the new document its own.
    virtual void newCaptureWindow(const std::string& title) = 0;
    // The current view's window, if there is one.
    virtual bool hasCurrentWindow() = 0;
    virtual std::string currentWindowTitle() = 0;
    // Gives the current window's document a new title and reads the
    // temporary image into its view again.
    virtual void retitleAndReloadCurrent(const std::string& title) = 0;
};

// The application object: the program-wide state that the camera, telescope
// and image code share, and the command handlers that need no window of their
// own. It exists once, from start to exit, and reaches the desktop only
// through Ui. The Qt side (the main frame, the command routing, start-up and
// exit) lives in TarviShell.
class CTarviApp {
public:
    static constexpr int frameWidth = 192;
    static constexpr int frameHeight = 165;
    // One byte a pixel, rows one after another with no padding, bottom row first.
    using Frame = std::array<std::uint8_t, frameWidth * frameHeight>;

    // Reads the settings from startDirectory + "/tarvi.ini", writing the
    // default line on first start; both port handles end up -1.
    CTarviApp(Ui& ui, Clock& clock, std::string startDirectory);
    // Without a settings file (a driver that keeps its settings elsewhere):
    // the default settings, nothing read or written, COM1 as the camera's port.
    struct WithoutSettingsFile {};
    CTarviApp(Ui& ui, Clock& clock, WithoutSettingsFile);
    CTarviApp(const CTarviApp&) = delete;
    CTarviApp& operator=(const CTarviApp&) = delete;

    // The process's current directory, the start directory of a normal run.
    static std::string currentDirectory();

    int loadSettings();
    int saveSettings();
    // The [TelescopeServer] and [FITS] sections; a failed write is said,
    // naming the file.
    int saveSharing();
    int saveObservationKeywords();

    Ui& ui() { return ui_; }
    Clock& clock() { return clock_; }

    // Serial ports. A port selector names the port a routine works on; any
    // other value makes the routines do nothing.
    static constexpr int telescopePortSelector = 0;
    static constexpr int cameraPortSelector = 1;

    // Who turns a device name of the port map into an open port.
    void setPortOpener(PortOpener* opener) { opener_ = opener; }
    int setPortTimeouts(int port, std::uint32_t readMs, std::uint32_t writeMs);
    int configurePort(int port, int speedIndex);
    void closePort(int port);
    int openTelescopePort();
    // whole: the reply's length, when known: the read ends once it has come.
    int readCamera(std::uint8_t* buffer, int count, int whole = 0);
    int readTelescope(int handle, std::uint8_t* buffer, int count);
    int writeCameraRaw(const std::uint8_t* buffer, int count);
    int writeCamera(const std::uint8_t* buffer, int count);
    int writeTelescope(int handle, const std::uint8_t* buffer, int count);

    // Exit while a device works: every running operation is asked to end.
    void requestStop();
    // Runs when Exit asks the devices to stop: every question a job waits
    // on is answered with its box's safe button.
    std::function<void()> answerOpenQuestions;
    // Camera work, as a job of the camera's line.
    void cameraJob(std::function<void()> job) { cameraLine_.run(std::move(job)); }
    // A camera job waits or runs.
    bool cameraBusy() const { return cameraLine_.working(); }

    // What CONNECT in Setup > Communications does with the ports chosen: the
    // telescope moves off the camera's port, both ports are closed and opened
    // again (the camera at its new speed), and the settings are saved.
    void connectDevices(int cameraPort, int cameraSpeed, int telescopePort);

    // Capture commands.
    void setCaptureWindows(CaptureWindows* windows) { windows_ = windows; }
    int captureImage();
    void autoShoot();
    void captureDarkFrame();

    // A picture for a caller without windows: no files, sounds, windows or
    // questions. The camera's rows firstRow .. firstRow + rowCount - 1 are
    // fetched (row 0 is the top of the picture), in the dark-frame mode when
    // dark. The exposure is settings.exposureTime; stopRequested ends it at
    // the next wait or row. Runs as camera work.
    struct FrameRequest {
        bool dark = false;
        int firstRow = 0;
        int rowCount = frameHeight;
    };
    enum class FrameOutcome { taken, stopped, failed };
    struct FrameResult {
        FrameOutcome outcome = FrameOutcome::failed;
        // Why it failed, naming the device.
        std::string message;
        // rowCount rows of frameWidth pixels, top row first.
        std::vector<std::uint8_t> rows;
    };
    FrameResult takeFrame(const FrameRequest& request);
    void showDarkFrame();
    void loadDarkFrame(const std::string& path);
    void playSound(const std::string& name);
    std::string temporaryImagePath() const { return startDirectory + "/tarvitemp.bmp"; }
    std::string fitsCopyPath() const { return startDirectory + "/zfits.fit"; }

    // The camera link.
    int openCameraPort();
    int sendCameraSettings();
    int readRAM(std::uint16_t address, int count, std::uint8_t* out);
    int downloadRow(int row, std::uint8_t* destination);

    // The camera and telescope ports as every user of them shares them.
    PortOwner& cameraLine() { return cameraLine_; }
    PortOwner& telescopeLine() { return telescopeLine_; }
    // Runs when either device becomes busy or idle.
    std::function<void()> busyChanged;

    // Runs when the telescope port has been opened afresh and answered: a
    // telescope control sheet is built again on the new port (afterLoss
    // false) or handed the port again (afterLoss: the port had been lost).
    std::function<void(bool afterLoss)> telescopeReopened;
    // Where the system's reasons go that the messages do not show.
    std::function<void(const std::string&)> log;

    // Shell state.
    std::string startDirectory;
    std::string iniPath;  // empty: the settings are kept in memory only
    int colorsSaved = 0;
    std::array<std::uint32_t, 256> sysColorValues{};  // 0x00BBGGRR
    double displaySize = 1.0;        // for image windows made from now on
    double captureDisplaySize = 1.0; // in force when the last capture window was made
    int nextWindowX = 0;
    int nextWindowY = 0;
    int nextWindowWidth = 0;
    int nextWindowHeight = 0;
    CTarviView* currentView = nullptr;  // not owned
    int skipNextNewDocument = 0;
    // Set by Escape in an image window and by Exit, read by the camera's work.
    std::atomic<int> stopRequested = 0;
    int averagedFrameCount = 0;

    // Camera and ports.
    st4Settings settings;
    Frame cameraImage{};
    Frame darkFrame{};
    Frame averageImage{};
    // The camera's write failures end quietly, without a box (the speed search).
    int quietComm = 0;
    // The camera's answers of known length (an acknowledgement, camera RAM)
    // are taken as soon as they are whole. Off, each read waits out its
    // deadline, which also swallows whatever stray bytes follow an answer.
    bool quickReplies = false;
    PortMap portMap;
    TelescopeSharing sharing;
    bool observationKeywords = false;
    // The name the telescope's objects page holds; empty when none. Set by
    // the window side, which owns the page.
    std::function<std::string()> objectName;
    PortTable ports;

    // Autoshoot.
    std::string autosaveName = "F-0001.bmp";
    int autoCenter = 0;
    int newWindowPerImage = 1;
    int autosaveFits = 0;
    int autosaveBmp = 0;
    std::string fitsDirectory;
    std::string bmpDirectory;

    // The image a capture turns into files; only while the command runs.
    std::unique_ptr<bmp> captureImageObject;

    // File conversion: the gammas that take 16-bit FITS data to 8 bits, and
    // the image a conversion run works on (only while it runs).
    double gamma1 = 1.0;
    double gamma2 = 1.0;
    std::unique_ptr<bmp> conversionImage;

private:
    struct KeptPortState {
        bool valid = false;
        LineSettings line;
        PortTimeouts timeouts;
    };
    void connectLines();
    int* handleFor(int port);
    KeptPortState* keptFor(int port);
    SerialPort* portFor(int port);
    PortOwner* lineFor(int port);
    int openPort(int port);
    std::string openFailureText(int port) const;
    std::string describePort(int port) const;
    int writeCameraSettings();
    bool waitForExposure(bool escapeStops, std::int64_t padMs);
    bool delayWait(std::int64_t ms, bool escapeStops);
    int pollUntilIdle(std::uint8_t busyMask, bool escapeStops);
    bool fetchRow(int row, std::uint8_t* destination, int attempts);
    // Reads until the line has been quiet a while: a late reply is dropped.
    void waitForQuietLine();
    // A row request went out whose reply was not taken.
    bool rowReplyMayBeLate_ = false;
    int writeRowLength();
    std::uint8_t exposureMode(bool dark) const;
    int sendDarkFrameSettings();
    // Rows first .. first + count - 1 into destination(row); again(row) says
    // whether a row that failed its attempts is tried once more. 1 when all
    // came, 0 when a row did not, -1 when stopped.
    int downloadRows(int first, int count, int attempts, bool escapeStops,
                     const std::function<std::uint8_t*(int row)>& destination,
                     const std::function<bool(int row)>& again);
    void placeNextWindow();

    int sectionSaved(const FileError& error);
    // Runs fn on the GUI thread, the camera's job waiting for its end: the
    // image windows and the telescope are reached so from the camera's thread.
    void guiCall(const std::function<void()>& fn) { cameraLine_.gui(fn); }
    // The settings line is formatted and tarvi.ini written under it, and the
    // camera's thread changes the values in the line under it.
    std::mutex settingsMutex_;
    void store(int& setting, int value);
    // The observation keywords of the capture under way: its start, and the
    // telescope's reading then.
    std::vector<std::string> observingCards(std::time_t start);
    std::vector<std::string> observation_;

    CaptureWindows* windows_ = nullptr;

    IniFile ini_;
    PortOpener* opener_ = nullptr;
    KeptPortState keptCamera_;
    KeptPortState keptTelescope_;
    Ui& ui_;
    Clock& clock_;
    PortOwner cameraLine_;
    PortOwner telescopeLine_;
    // Why the last open of each port failed, for the second line of its
    // message: the device and the system's reason, with a hint where the
    // user may not use the device.
    std::string lastOpenError_[2];
};

}  // namespace tarvi
