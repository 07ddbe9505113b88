// The serial-port routines of the application object: opening, configuring,
// reading and writing the camera and telescope ports.
#include <cerrno>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"

namespace tarvi {

namespace {

constexpr std::size_t queueBytes = 1200;
constexpr std::uint32_t readTimeoutMs = 100;
constexpr std::uint32_t writeTimeoutMs = 300;
const BoxStyle infoStyle{.setForeground = true};

// A deadline that passed is not an error of the device; anything else means
// the port can no longer be used.
bool deviceGone(const SysError& error)
{
    return error.failed() && error.code() != ETIMEDOUT && error.code() != EAGAIN && error.code() != EINTR;
}

std::string readErrorText(const char* routine, const SysError& error)
{
    return std::string("\n\nReadFile errors:  \n") + routine + error.text() + "\n";
}

}  // namespace

int* CTarviApp::handleFor(int port)
{
    if (port == cameraPortSelector)
        return &settings.cameraHandle;
    if (port == telescopePortSelector)
        return &settings.telescopeHandle;
    return nullptr;
}

CTarviApp::KeptPortState* CTarviApp::keptFor(int port)
{
    if (port == cameraPortSelector)
        return &keptCamera_;
    if (port == telescopePortSelector)
        return &keptTelescope_;
    return nullptr;
}

SerialPort* CTarviApp::portFor(int port)
{
    const int* handle = handleFor(port);
    return handle == nullptr ? nullptr : ports.find(*handle);
}

int CTarviApp::openPort(int port)
{
    int* handle = handleFor(port);
    const int index = port == cameraPortSelector ? settings.cameraPort : settings.telescopePort;
    const std::string& device = portMap.device(index);
    if (opener_ == nullptr) {
        log("no way to open " + PortMap::portName(index) + " (" + device + ")");
        *handle = PortTable::closed;
        return 0;
    }
    PortOpener::Result opened = opener_->open(device);
    if (!opened.port) {
        log("cannot open " + PortMap::portName(index) + " (" + device + "): " + opened.error.text());
        *handle = PortTable::closed;
        return 0;
    }
    *handle = ports.add(std::move(opened.port));
    return 1;
}

void CTarviApp::portLost(int port)
{
    // The device has gone (unplugged, hung up): said once by the caller; the
    // next command opens the port afresh.
    int* handle = handleFor(port);
    if (handle == nullptr || *handle == PortTable::closed)
        return;
    ports.close(*handle);
    *handle = PortTable::closed;
    keptFor(port)->valid = false;
    saveSettings();
}

int CTarviApp::setPortTimeouts(int port, std::uint32_t readMs, std::uint32_t writeMs)
{
    SerialPort* serial = portFor(port);
    if (serial == nullptr)
        return 0;
    PortTimeouts working;
    if (serial->getTimeouts(working).failed())
        return 0;
    working.readTotalConstant = readMs;
    working.writeTotalConstant = writeMs;
    return serial->setTimeouts(working).failed() ? 0 : 1;
}

int CTarviApp::configurePort(int port, int speedIndex)
{
    SerialPort* serial = portFor(port);
    if (serial == nullptr)
        return 0;
    KeptPortState& kept = *keptFor(port);
    bool failed = false;

    if (serial->setQueueSizes(queueBytes, queueBytes).failed()) {
        ui_.messageBox("Serial Port SetupComm function call failed.", "info", Buttons::ok, infoStyle);
        failed = true;
    }

    LineSettings working;
    const bool readKept = !serial->getLineSettings(kept.line).failed();
    serial->getLineSettings(working);
    if (speedIndex >= 0 && speedIndex < 4)
        working.baud = st4::baudRates[static_cast<std::size_t>(speedIndex)];
    working.binary = true;
    working.dataBits = 8;
    working.parity = port == cameraPortSelector ? Parity::even : Parity::none;
    working.stopBits = 1;
    working.parityCheck = true;
    working.hardwareFlow = false;
    working.softwareFlow = false;
    working.dtrOn = false;
    working.rtsOn = false;
    if (serial->setLineSettings(working).failed()) {
        ui_.messageBox("Serial Port SetupComm function call failed.", "info", Buttons::ok, infoStyle);
        failed = true;
    }

    kept.valid = readKept && !serial->getTimeouts(kept.timeouts).failed();
    setPortTimeouts(port, readTimeoutMs, writeTimeoutMs);

    PortStatus status;
    serial->clearErrors(status);
    if (status.ctsHold) {
        ui_.messageBox("Serial Port waiting for CTS.  Download cancelled.  Check connection.", "info", Buttons::ok,
                       infoStyle);
        return 0;
    }
    return failed ? 0 : 1;
}

void CTarviApp::closePort(int port)
{
    int* handle = handleFor(port);
    if (handle == nullptr || *handle == PortTable::closed)
        return;
    if (SerialPort* serial = ports.find(*handle)) {
        const KeptPortState& kept = *keptFor(port);
        if (kept.valid) {
            serial->setLineSettings(kept.line);
            serial->setTimeouts(kept.timeouts);
        }
    }
    ports.close(*handle);
    *handle = PortTable::closed;
    saveSettings();
}

int CTarviApp::openTelescopePort()
{
    if (settings.telescopeHandle != PortTable::closed)
        return 1;
    ui_.setStatusText(0, "Please Wait.  Establishing telescope communications");

    bool ok = openPort(telescopePortSelector) == 1;
    if (ok) {
        setPortTimeouts(telescopePortSelector, readTimeoutMs, writeTimeoutMs);
        configurePort(telescopePortSelector, st4::speedIndex9600);
        quietComm = 1;
        const std::uint8_t probe[] = {':', 'G', 'S', '#'};
        ok = writeTelescope(settings.telescopeHandle, probe, 4) == 1;
        if (ok) {
            std::uint8_t reply[1000];
            ok = readTelescope(settings.telescopeHandle, reply, sizeof reply) > 0;
        }
    }

    ui_.setStatusText(0, "");
    if (telescopeReopened)
        telescopeReopened();
    if (!ok) {
        ui_.messageBox("Cannot open telescope port " + PortMap::portName(settings.telescopePort), {}, Buttons::ok, {});
        closePort(telescopePortSelector);
        return 0;
    }
    return 1;
}

void CTarviApp::connectDevices(int cameraPort, int cameraSpeed, int telescopePort)
{
    settings.cameraPort = cameraPort;
    settings.cameraSpeed = cameraSpeed;
    settings.telescopePort = telescopePort;
    if (settings.telescopePort == settings.cameraPort)
        settings.telescopePort = (settings.telescopePort + 1) % 4;
    closePort(cameraPortSelector);
    closePort(telescopePortSelector);
    openCameraPort();
    openTelescopePort();
    saveSettings();
}

int CTarviApp::readCamera(std::uint8_t* buffer, int count)
{
    SerialPort* serial = portFor(cameraPortSelector);
    if (serial == nullptr || count <= 0)
        return 0;
    const IoResult result = serial->read({buffer, static_cast<std::size_t>(count)});
    if (deviceGone(result.error)) {
        ui_.messageBox(readErrorText("readCamera:  ", result.error), "info", Buttons::ok, infoStyle);
        portLost(cameraPortSelector);
    }
    return static_cast<int>(result.count);
}

int CTarviApp::readTelescope(int handle, std::uint8_t* buffer, int count)
{
    if (count <= 0)
        return 0;
    SerialPort* serial = ports.find(handle);
    IoResult result;
    if (serial != nullptr) {
        result = serial->read({buffer, static_cast<std::size_t>(count)});
        if (deviceGone(result.error)) {
            ui_.messageBox(readErrorText("readTelescope:  ", result.error), "info", Buttons::ok, infoStyle);
            if (handle == settings.telescopeHandle)
                portLost(telescopePortSelector);
        }
    }
    // The reply's last byte, normally "#", becomes the end of the text.
    const int received = static_cast<int>(result.count);
    buffer[received > 0 ? received - 1 : 0] = 0;
    return received;
}

int CTarviApp::writeCameraRaw(const std::uint8_t* buffer, int count)
{
    WaitCursor wait(ui_);
    SerialPort* serial = portFor(cameraPortSelector);
    if (serial == nullptr)
        return 0;
    const IoResult result = serial->write({buffer, static_cast<std::size_t>(count)});
    if (deviceGone(result.error)) {
        ui_.messageBox("writeCamera:  Write to camera operation failed...\n" + result.error.text(), {}, Buttons::ok,
                       {});
        portLost(cameraPortSelector);
        return 0;
    }
    if (static_cast<int>(result.count) < count) {
        ui_.messageBox("writeCamera:  Write to camera operation failed...", {}, Buttons::ok, {});
        return 0;
    }
    return 1;
}

int CTarviApp::writeTelescope(int handle, const std::uint8_t* buffer, int count)
{
    WaitCursor wait(ui_);
    for (;;) {
        SerialPort* serial = ports.find(handle);
        const IoResult result =
            serial != nullptr ? serial->write({buffer, static_cast<std::size_t>(count)}) : IoResult{0, SysError(EBADF)};
        if (!result.error.failed() && static_cast<int>(result.count) == count)
            return 1;
        if (ui_.messageBox("writeCamera:  Retrying failed write to telescope...", "ERROR", Buttons::retryCancel, {})
            != Answer::retry)
            return 0;
    }
}

int CTarviApp::writeCamera(const std::uint8_t* buffer, int count)
{
    WaitCursor wait(ui_);
    int attempts = 0;
    for (;;) {
        SerialPort* serial = portFor(cameraPortSelector);
        if (serial == nullptr)
            return 0;
        const IoResult written = serial->write({buffer, static_cast<std::size_t>(count)});
        if (deviceGone(written.error)) {
            ui_.messageBox("writeCamera:  Write to camera operation failed...\n" + written.error.text(), {},
                           Buttons::ok, {});
            portLost(cameraPortSelector);
            return 0;
        }
        if (static_cast<int>(written.count) < count) {
            if (quietComm)
                return 0;
            if (ui_.messageBox("writeCamera:  Retrying failed write to camera...", "ERROR", Buttons::retryCancel, {})
                != Answer::retry)
                return 0;
        }
        std::uint8_t reply[1000];
        const int received = readCamera(reply, sizeof reply);
        if (received >= 1 && reply[0] == st4::acknowledgement)
            return 1;
        if (attempts > 20) {
            attempts = 0;
            if (quietComm)
                return 0;
            if (ui_.messageBox("writeCamera:  Camera not responding.", "ERROR", Buttons::retryCancel, {})
                != Answer::retry)
                return 0;
        }
        ++attempts;
    }
}

}  // namespace tarvi
