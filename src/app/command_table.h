#pragma once

#include <span>
#include <string_view>

namespace tarvi {

// Command identifiers, as the menus, the toolbar and the accelerators send them.
namespace cmd {
inline constexpr int fileNew = 57600;
inline constexpr int fileOpen = 57601;
inline constexpr int fileClose = 57602;
inline constexpr int fileSave = 57603;
inline constexpr int fileSaveAs = 57604;
inline constexpr int filePrintSetup = 57606;
inline constexpr int filePrint = 57607;
inline constexpr int filePrintPreview = 57609;
inline constexpr int fileMru1 = 57616;
inline constexpr int appExit = 57665;
inline constexpr int viewToolbar = 59392;
inline constexpr int viewStatusBar = 59393;
inline constexpr int viewDarkFrame = 32776;
inline constexpr int nightVisionLight = 32785;
inline constexpr int nightVisionDark = 32786;
inline constexpr int normalVision = 32787;
inline constexpr int captureImage = 32772;
inline constexpr int captureDarkFrame = 32771;
inline constexpr int autoshootSetup = 32782;
inline constexpr int autoShoot = 32775;
inline constexpr int setupCamera = 32773;
inline constexpr int loadDarkFrame = 32777;
inline constexpr int setupComm = 32774;
inline constexpr int lx200Controls = 32784;
inline constexpr int center = 32780;
inline constexpr int setConversionGammasNoDoc = 145;
inline constexpr int setConversionGammas = 147;
inline constexpr int conversion = 32783;
inline constexpr int setImageDisplaySize = 32788;
inline constexpr int windowNew = 57648;
inline constexpr int windowArrange = 57649;
inline constexpr int windowCascade = 57650;
inline constexpr int windowTile = 57651;
inline constexpr int appAbout = 57664;
inline constexpr int helpTopics = 57667;
inline constexpr int contextHelp = 57669;
inline constexpr int help = 57670;
inline constexpr int separator = 0;
}  // namespace cmd

// Who answers a command. Commands of the document, the view or the window
// list are there only while an image window is active.
enum class CommandOwner { app, mainFrame, document, view, activeChild };

// The routine a command ends in. Several identifiers may share one.
enum class Handler {
    fileNew, fileOpen, fileClose, fileSave, fileSaveAs, filePrint, filePrintPreview,
    filePrintSetup, fileMru, appExit, viewToolbar, viewStatusBar, showDarkFrame,
    nightVisionLight, nightVisionDark, normalVision, captureImage, captureDarkFrame,
    autoshootSetup, autoShoot, setupCamera, loadDarkFrame, setupComm, lx200Controls,
    center, setConversionGammas, conversion, setImageDisplaySize, windowNew, windowCascade,
    windowTile, windowArrange, helpTopics, appAbout, help, contextHelp,
};
inline constexpr int handlerCount = static_cast<int>(Handler::contextHelp) + 1;

struct Command {
    int id;
    std::string_view text;      // menu text, "\t" then the accelerator; empty when in no menu
    std::string_view prompt;    // status-bar prompt; empty for none
    std::string_view tip;       // toolbar tooltip; empty when not on the toolbar
    std::string_view shortcut;  // key sequence in portable text, e.g. "Ctrl+O"
    Handler handler;
    CommandOwner owner;
};

std::span<const Command> commandTable();
const Command* findCommand(int id);

// The two menu bars: 128 while no image window is open, 129 while one is.
inline constexpr int menuNoDocument = 128;
inline constexpr int menuDocument = 129;

struct MenuDef {
    std::string_view title;
    std::span<const int> items;  // command ids; cmd::separator for a bar
};

std::span<const MenuDef> menuLayout(int menuResource);

// The toolbar, left to right; cmd::separator for a gap.
std::span<const int> toolbarLayout();

// Which devices are in the middle of an operation.
struct BusyDevices {
    bool camera = false;
    bool telescope = false;
};
// A running operation keeps the commands that would pull its device, or the
// window it writes into, from under it: the message that refuses such a
// command now, empty when the command may run.
std::string_view busyRefusal(Handler handler, BusyDevices busy);
inline constexpr std::string_view cameraBusyMessage =
    "The camera is busy.  Wait until it has finished, or press Escape to stop the capture.";
inline constexpr std::string_view telescopeBusyMessage = "The telescope is busy.  Wait until it has finished.";

// The text before "\t", and the accelerator after it.
std::string_view menuItemText(const Command& command);
std::string_view menuItemAccelerator(const Command& command);

}  // namespace tarvi
