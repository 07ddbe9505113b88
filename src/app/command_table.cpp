#include "app/command_table.h"

#include <array>

namespace tarvi {

namespace {

using O = CommandOwner;
using H = Handler;

constexpr std::array commands{
    Command{cmd::fileNew, "", "Create a new document", "New", "Ctrl+N", H::fileNew, O::app},
    Command{cmd::fileOpen, "&Open...\tCtrl+O", "Open an existing document", "Open", "Ctrl+O", H::fileOpen, O::app},
    Command{cmd::fileClose, "&Close", "Close the active document", "", "", H::fileClose, O::document},
    Command{cmd::fileSave, "&Save\tCtrl+S", "Save the active document", "Save", "Ctrl+S", H::fileSave, O::document},
    Command{cmd::fileSaveAs, "Save &As...", "Save the active document with a new name", "", "", H::fileSaveAs, O::document},
    Command{cmd::filePrint, "&Print...\tCtrl+P", "Print the active document", "Print", "Ctrl+P", H::filePrint, O::view},
    Command{cmd::filePrintPreview, "Print Pre&view", "Display full pages", "", "", H::filePrintPreview, O::view},
    Command{cmd::filePrintSetup, "P&rint Setup...", "Change the printer and printing options", "", "", H::filePrintSetup, O::app},
    Command{cmd::fileMru1, "Recent File", "Open this document", "", "", H::fileMru, O::app},
    Command{cmd::appExit, "E&xit", "Quit the application; prompts to save documents", "", "", H::appExit, O::app},
    Command{cmd::viewToolbar, "&Toolbar", "Show or hide the toolbar", "", "", H::viewToolbar, O::mainFrame},
    Command{cmd::viewStatusBar, "&Status Bar", "Show or hide the status bar", "", "", H::viewStatusBar, O::mainFrame},
    Command{cmd::viewDarkFrame, "Dark Frame", "", "", "", H::showDarkFrame, O::app},
    Command{cmd::nightVisionLight, "Night Vision Light", "", "", "", H::nightVisionLight, O::app},
    Command{cmd::nightVisionDark, "Night Vision Dark", "", "", "", H::nightVisionDark, O::app},
    Command{cmd::normalVision, "Normal Vision", "", "", "", H::normalVision, O::app},
    Command{cmd::captureImage, "Image", "Capture a single image", "", "", H::captureImage, O::app},
    Command{cmd::captureDarkFrame, "DarkFrame", "Capture a single Dark Frame", "", "", H::captureDarkFrame, O::app},
    Command{cmd::autoshootSetup, "Autoshoot Setup...", "Setup autosave features used with autoshoot", "", "", H::autoshootSetup, O::app},
    Command{cmd::autoShoot, "AutoShoot", "Begin automatically taking images", "", "", H::autoShoot, O::app},
    Command{cmd::setupCamera, "Camera", "Setup Camera Parameters", "", "", H::setupCamera, O::app},
    Command{cmd::loadDarkFrame, "Load Dark Frame from File", "Load a dark frame from a file", "", "", H::loadDarkFrame, O::app},
    Command{cmd::setupComm, "Communications", "Setup communications parameters for the ST-4 and LX-200", "", "", H::setupComm, O::app},
    Command{cmd::lx200Controls, "LX200 Controls", "Telescope controls", "", "", H::lx200Controls, O::app},
    Command{cmd::center, "Center", "Center a planetary image", "", "", H::center, O::view},
    Command{cmd::setConversionGammasNoDoc, "Set Conversion Gammas...", "", "", "", H::setConversionGammas, O::app},
    Command{cmd::setConversionGammas, "Set Conversion Gammas...", "", "", "", H::setConversionGammas, O::app},
    Command{cmd::conversion, "Conversion...", "Convert images - fits/bmp", "", "", H::conversion, O::app},
    Command{cmd::setImageDisplaySize, "Set Image Display Size...", "", "", "", H::setImageDisplaySize, O::app},
    Command{cmd::windowNew, "&New Window", "Open another window for the active document", "", "", H::windowNew, O::activeChild},
    Command{cmd::windowCascade, "&Cascade", "Arrange windows so they overlap", "", "", H::windowCascade, O::activeChild},
    Command{cmd::windowTile, "&Tile", "Arrange windows as non-overlapping tiles", "", "", H::windowTile, O::activeChild},
    Command{cmd::windowArrange, "&Arrange Icons", "Arrange icons at the bottom of the window", "", "", H::windowArrange, O::activeChild},
    Command{cmd::helpTopics, "&Help Topics", "List Help topics", "", "", H::helpTopics, O::mainFrame},
    Command{cmd::appAbout, "&About Tarvi...", "Display program information, version number and copyright", "About", "", H::appAbout, O::app},
    Command{cmd::help, "", "Display help for current task or command", "", "F1", H::help, O::mainFrame},
    Command{cmd::contextHelp, "", "Display help for clicked on buttons, menus and windows", "Help", "Shift+F1", H::contextHelp, O::mainFrame},
};

constexpr int sep = cmd::separator;

constexpr std::array fileNoDocument{cmd::fileOpen, sep, cmd::filePrintSetup, sep, cmd::fileMru1, sep, cmd::appExit};
constexpr std::array fileDocument{cmd::fileOpen, cmd::fileClose, cmd::fileSave, cmd::fileSaveAs, sep,
                                  cmd::filePrint, cmd::filePrintPreview, cmd::filePrintSetup, sep,
                                  cmd::fileMru1, sep, cmd::appExit};
constexpr std::array viewMenu{cmd::viewToolbar, cmd::viewStatusBar, cmd::viewDarkFrame, sep,
                              cmd::nightVisionLight, cmd::nightVisionDark, cmd::normalVision};
constexpr std::array captureMenu{cmd::captureImage, cmd::captureDarkFrame, sep, cmd::autoshootSetup, cmd::autoShoot};
constexpr std::array setupMenu{cmd::setupCamera, cmd::loadDarkFrame, sep, cmd::setupComm};
constexpr std::array telescopeMenu{cmd::lx200Controls};
constexpr std::array imageNoDocument{cmd::center, sep, cmd::setConversionGammasNoDoc, cmd::conversion, sep,
                                     cmd::setImageDisplaySize};
constexpr std::array imageDocument{cmd::center, sep, cmd::setConversionGammas, cmd::conversion, sep,
                                   cmd::setImageDisplaySize};
constexpr std::array windowMenu{cmd::windowNew, cmd::windowCascade, cmd::windowTile, cmd::windowArrange};
constexpr std::array helpMenu{cmd::helpTopics, sep, cmd::appAbout};

constexpr std::array menusNoDocument{
    MenuDef{"&File", fileNoDocument}, MenuDef{"&View", viewMenu}, MenuDef{"Capture", captureMenu},
    MenuDef{"Setup", setupMenu},     MenuDef{"Telescope", telescopeMenu}, MenuDef{"Image", imageNoDocument},
    MenuDef{"&Window", windowMenu},  MenuDef{"&Help", helpMenu},
};
constexpr std::array menusDocument{
    MenuDef{"&File", fileDocument}, MenuDef{"&View", viewMenu}, MenuDef{"Capture", captureMenu},
    MenuDef{"Setup", setupMenu},   MenuDef{"Telescope", telescopeMenu}, MenuDef{"Image", imageDocument},
    MenuDef{"&Window", windowMenu}, MenuDef{"&Help", helpMenu},
};

constexpr std::array toolbar{cmd::fileNew, cmd::fileOpen, cmd::fileSave, sep, cmd::filePrint, sep,
                             cmd::appAbout, cmd::contextHelp};

}  // namespace

std::span<const Command> commandTable()
{
    return commands;
}

const Command* findCommand(int id)
{
    for (const auto& command : commands) {
        if (command.id == id)
            return &command;
    }
    return nullptr;
}

std::span<const MenuDef> menuLayout(int menuResource)
{
    if (menuResource == menuDocument)
        return menusDocument;
    if (menuResource == menuNoDocument)
        return menusNoDocument;
    return {};
}

std::span<const int> toolbarLayout()
{
    return toolbar;
}

std::string_view menuItemText(const Command& command)
{
    return command.text.substr(0, command.text.find('\t'));
}

std::string_view menuItemAccelerator(const Command& command)
{
    const auto tab = command.text.find('\t');
    return tab == std::string_view::npos ? std::string_view{} : command.text.substr(tab + 1);
}

std::string_view busyRefusal(Handler handler, BusyDevices busy)
{
    switch (handler) {
    case Handler::setupComm:
        if (busy.camera)
            return cameraBusyMessage;
        return busy.telescope ? telescopeBusyMessage : std::string_view();
    case Handler::setupCamera:
    case Handler::loadDarkFrame:
    case Handler::captureImage:
    case Handler::captureDarkFrame:
    case Handler::autoShoot:
    case Handler::showDarkFrame:
        return busy.camera ? cameraBusyMessage : std::string_view();
    case Handler::lx200Controls:
        return busy.telescope ? telescopeBusyMessage : std::string_view();
    default:
        return {};
    }
}

}  // namespace tarvi
