#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/settings.h"
#include "image/bmp.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/port_map.h"
#include "platform/serial_port.h"
#include "platform/ui.h"

namespace tarvi {

class CTarviView;

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
    CTarviApp(const CTarviApp&) = delete;
    CTarviApp& operator=(const CTarviApp&) = delete;

    // The process's current directory, the start directory of a normal run.
    static std::string currentDirectory();

    int loadSettings();
    int saveSettings();

    Ui& ui() { return ui_; }
    Clock& clock() { return clock_; }

    // Shell state.
    std::string startDirectory;
    std::string iniPath;
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
    int stopRequested = 0;
    int averagedFrameCount = 0;

    // Camera and ports.
    st4Settings settings;
    Frame cameraImage{};
    Frame darkFrame{};
    Frame averageImage{};
    int quietComm = 0;
    PortMap portMap;
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
    IniFile ini_;
    Ui& ui_;
    Clock& clock_;
};

}  // namespace tarvi
