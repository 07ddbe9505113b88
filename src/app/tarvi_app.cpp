#include "app/tarvi_app.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "platform/safe_file.h"

namespace tarvi {

namespace {
// The profile reader's answer when the key cannot be read.
constexpr std::string_view missingValue = "ERROR";
constexpr std::size_t settingsBufferSize = 256;
}

std::string CTarviApp::currentDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr)
            return buffer.data();
        if (errno != ERANGE)
            return ".";  // the directory was removed under us
        buffer.resize(buffer.size() * 2);
    }
}

CTarviApp::CTarviApp(Ui& ui, Clock& clock, std::string startDir)
    : startDirectory(std::move(startDir)), iniPath(startDirectory + "/tarvi.ini"), ini_(iniPath),
      ui_(ui), clock_(clock), cameraLine_(ui, ports, settings.cameraHandle),
      telescopeLine_(ui, ports, settings.telescopeHandle)
{
    // What a writer killed in an earlier run left in the start directory.
    removeWriteLeftovers(startDirectory);
    const std::string text = ini_.readString(settingsSection, settingsKey, missingValue, settingsBufferSize);
    if (text == missingValue) {
        settings = st4Settings::defaults();
        ini_.writeString(settingsSection, settingsKey, defaultSettingsLine);
    } else {
        parseSettingsLine(text, settings);
    }
    // Says "Cannot get settings" when the default line could not be written;
    // the values above stay in force.
    loadSettings();

    portMap = PortMap::read(ini_);
    sharing = readTelescopeSharing(ini_);
    observationKeywords = readObservationKeywords(ini_);
    nextWindowX = nextWindowY = nextWindowWidth = nextWindowHeight = 0;
    darkFrame.fill(0);
    // A handle stored by an earlier run means nothing in this one.
    settings.cameraHandle = PortTable::closed;
    settings.telescopeHandle = PortTable::closed;
    fitsDirectory = bmpDirectory = startDirectory;
    connectLines();
}

CTarviApp::CTarviApp(Ui& ui, Clock& clock, WithoutSettingsFile)
    : ini_(std::string()), ui_(ui), clock_(clock),
      cameraLine_(ui, ports, settings.cameraHandle), telescopeLine_(ui, ports, settings.telescopeHandle)
{
    settings = st4Settings::defaults();
    settings.cameraHandle = PortTable::closed;
    settings.telescopeHandle = PortTable::closed;
    connectLines();
}

void CTarviApp::connectLines()
{
    log = [](const std::string& line) { std::fprintf(stderr, "tarvi: %s\n", line.c_str()); };
    for (const int port : {cameraPortSelector, telescopePortSelector}) {
        PortOwner& line = *lineFor(port);
        line.describe = [this, port] { return describePort(port); };
        line.closedByLoss = [this, port] {
            keptFor(port)->valid = false;
            if (port == cameraPortSelector)
                ui_.setStatusText(1, "");
            saveSettings();
        };
        line.handleGuard = &settingsMutex_;
    }
    for (PortOwner* line : {&cameraLine_, &telescopeLine_}) {
        line->busyChanged = [this] {
            if (busyChanged)
                busyChanged();
        };
    }
    cameraLine_.reopen = [this] { return openCameraPort() == 1; };
    telescopeLine_.reopen = [this] { return openTelescopePort() == 1; };
}

void CTarviApp::store(int& setting, int value)
{
    const std::lock_guard lock(settingsMutex_);
    setting = value;
}

void CTarviApp::requestStop()
{
    if (cameraBusy() || cameraLine_.busy())
        stopRequested = 1;
    cameraLine_.requestStop();
    telescopeLine_.requestStop();
    if (answerOpenQuestions)
        answerOpenQuestions();
}

int CTarviApp::loadSettings()
{
    if (iniPath.empty())
        return 1;
    const std::string text = ini_.readString(settingsSection, settingsKey, missingValue, settingsBufferSize);
    if (text == missingValue) {
        // A file refused for what it is (a fifo, a device, a huge file) is
        // named, with why; a directory in its place is one more file that
        // cannot be written.
        const FileError problem = ini_.problem();
        const std::string box = problem.failed() && problem.code() != EISDIR
                                    ? "Cannot get settings from " + iniPath + ":\n" + problem.text()
                                    : "Cannot get settings";
        ui_.messageBox(box, "Information", Buttons::ok, BoxStyle{.noOwner = true});
        return 0;
    }
    parseSettingsLine(text, settings);
    return 1;
}

int CTarviApp::saveSettings()
{
    if (iniPath.empty())
        return 1;
    // Said once for a run of failures, which "Cannot get settings" at the
    // start already begins; the settings stay in force meanwhile.
    bool failingAlready = false;
    FileError error;
    {
        const std::lock_guard lock(settingsMutex_);
        failingAlready = ini_.lastWriteError().failed();
        error = ini_.writeString(settingsSection, settingsKey, formatSettingsLine(settings));
    }
    if (!error.failed())
        return 1;
    if (!failingAlready)
        ui_.messageBox(writeFailureText(iniPath, error), "File Write Error", Buttons::ok, BoxStyle{.noOwner = true});
    return 0;
}

int CTarviApp::saveSharing()
{
    std::unique_lock lock(settingsMutex_);
    const FileError error = writeTelescopeSharing(ini_, sharing);
    lock.unlock();
    return sectionSaved(error);
}

int CTarviApp::saveObservationKeywords()
{
    std::unique_lock lock(settingsMutex_);
    const FileError error = writeObservationKeywords(ini_, observationKeywords);
    lock.unlock();
    return sectionSaved(error);
}

int CTarviApp::sectionSaved(const FileError& error)
{
    if (!error.failed())
        return 1;
    ui_.messageBox(writeFailureText(iniPath, error), "File Write Error", Buttons::ok, BoxStyle{.noOwner = true});
    return 0;
}

}  // namespace tarvi
