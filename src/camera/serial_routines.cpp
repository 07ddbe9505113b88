// The serial-port routines of the application object: opening, configuring,
// reading and writing the camera and telescope ports.
#include <cerrno>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"
#include "platform/device_opener.h"

namespace tarvi {

namespace {

constexpr std::size_t queueBytes = 1200;
constexpr std::uint32_t readTimeoutMs = 100;
constexpr std::uint32_t writeTimeoutMs = 300;
const BoxStyle infoStyle{.setForeground = true};

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

PortOwner* CTarviApp::lineFor(int port)
{
    if (port == cameraPortSelector)
        return &cameraLine_;
    if (port == telescopePortSelector)
        return &telescopeLine_;
    return nullptr;
}

SerialPort* CTarviApp::portFor(int port)
{
    const int* handle = handleFor(port);
    return handle == nullptr ? nullptr : ports.find(*handle);
}

std::string CTarviApp::describePort(int port) const
{
    const int index = port == cameraPortSelector ? settings.cameraPort : settings.telescopePort;
    return PortMap::portName(index) + " (" + portMap.device(index) + ")";
}

int CTarviApp::openPort(int port)
{
    int* handle = handleFor(port);
    const int index = port == cameraPortSelector ? settings.cameraPort : settings.telescopePort;
    const std::string& device = portMap.device(index);
    std::string& failure = lastOpenError_[port];
    failure.clear();
    if (opener_ == nullptr) {
        failure = device + ": no way to open it";
        log("no way to open " + PortMap::portName(index) + " (" + device + ")");
        store(*handle, PortTable::closed);
        return 0;
    }
    PortOpener::Result opened = opener_->open(device);
    if (!opened.port) {
        log("cannot open " + PortMap::portName(index) + " (" + device + "): " + opened.error.text());
        failure = device + ": " + opened.error.text();
        if (opened.error.code() == EACCES)
            failure += "\n\n" + permissionAdvice(device);
        store(*handle, PortTable::closed);
        return 0;
    }
    store(*handle, ports.add(std::move(opened.port)));
    return 1;
}

std::string CTarviApp::openFailureText(int port) const
{
    const std::string& failure = lastOpenError_[port];
    return failure.empty() ? std::string() : "\n" + failure;
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
    store(*handle, PortTable::closed);
    saveSettings();
}

int CTarviApp::openTelescopePort()
{
    if (settings.telescopeHandle != PortTable::closed)
        return 1;
    const auto operation = telescopeLine_.operation();
    const bool afterLoss = telescopeLine_.lost();
    ui_.setStatusText(Ui::telescopePane, "Please Wait.  Establishing telescope communications");

    bool ok = openPort(telescopePortSelector) == 1;
    if (ok) {
        setPortTimeouts(telescopePortSelector, readTimeoutMs, writeTimeoutMs);
        configurePort(telescopePortSelector, st4::speedIndex9600);
        const std::uint8_t probe[] = {':', 'G', 'S', '#'};
        ok = writeTelescope(settings.telescopeHandle, probe, 4) == 1;
        if (ok) {
            std::uint8_t reply[1000];
            ok = readTelescope(settings.telescopeHandle, reply, sizeof reply) > 0;
        }
        if (!ok)
            lastOpenError_[telescopePortSelector] = portMap.device(settings.telescopePort) + ": no answer";
    }
    ui_.setStatusText(Ui::telescopePane, "");

    if (!ok) {
        // The sheet stays as it is: its pages find the port closed and say so.
        ui_.messageBox("Cannot open telescope port " + PortMap::portName(settings.telescopePort)
                           + openFailureText(telescopePortSelector),
                       {}, Buttons::ok, {});
        closePort(telescopePortSelector);
        return 0;
    }
    telescopeLine_.forgetLoss();
    // Only a port that opened and answered gets a sheet built on it.
    if (telescopeReopened)
        telescopeReopened(afterLoss);
    return 1;
}

void CTarviApp::connectDevices(int cameraPort, int cameraSpeed, int telescopePort)
{
    settings.cameraPort = cameraPort;
    settings.cameraSpeed = cameraSpeed;
    settings.telescopePort = telescopePort;
    if (settings.telescopePort == settings.cameraPort)
        settings.telescopePort = (settings.telescopePort + 1) % 4;
    // Both old ports close before either device opens its new one, which
    // may be the other's old one. Both devices are idle, so their ports may
    // be closed from here.
    for (PortOwner* line : {&cameraLine_, &telescopeLine_}) {
        const auto operation = line->operation();
        closePort(line == &cameraLine_ ? cameraPortSelector : telescopePortSelector);
        line->forgetLoss();
    }
    cameraJob([this] { openCameraPort(); });
    telescopeLine_.run([this] {
        const auto operation = telescopeLine_.operation();
        openTelescopePort();
        saveSettings();
    });
}

int CTarviApp::readCamera(std::uint8_t* buffer, int count, int whole)
{
    cameraLine_.assertOnDeviceThread();
    SerialPort* serial = portFor(cameraPortSelector);
    if (serial == nullptr || count <= 0)
        return 0;
    const std::span<std::uint8_t> into{buffer, static_cast<std::size_t>(count)};
    // A reply of known length ends its read once it has come, with whatever
    // came with it, rather than at the read's deadline.
    const IoResult result
        = whole > 0 ? serial->readReply(into, [whole](std::span<const std::uint8_t> received) {
              return static_cast<int>(received.size()) >= whole;
          })
                    : serial->read(into);
    if (deviceGone(result.error))
        cameraLine_.deviceLost(settings.cameraHandle, result.error);
    return static_cast<int>(result.count);
}

// Only the probe of a telescope port being opened comes here: a device that
// fails it is reported by "Cannot open telescope port".
int CTarviApp::readTelescope(int handle, std::uint8_t* buffer, int count)
{
    telescopeLine_.assertOnDeviceThread();
    if (count <= 0)
        return 0;
    SerialPort* serial = ports.find(handle);
    IoResult result;
    if (serial != nullptr) {
        result = serial->read({buffer, static_cast<std::size_t>(count)});
        if (result.error.failed() && !deviceGone(result.error))
            result.error = SysError();
        if (result.error.failed())
            log("reading the telescope: " + result.error.text());
    }
    // The reply's last byte, normally "#", becomes the end of the text.
    const int received = static_cast<int>(result.count);
    buffer[received > 0 ? received - 1 : 0] = 0;
    return received;
}

int CTarviApp::writeCameraRaw(const std::uint8_t* buffer, int count)
{
    cameraLine_.assertOnDeviceThread();
    WaitCursor wait(ui_);
    SerialPort* serial = portFor(cameraPortSelector);
    if (serial == nullptr)
        return 0;
    const IoResult result = serial->write({buffer, static_cast<std::size_t>(count)});
    if (deviceGone(result.error)) {
        cameraLine_.deviceLost(settings.cameraHandle, result.error);
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
    telescopeLine_.assertOnDeviceThread();
    WaitCursor wait(ui_);
    for (;;) {
        SerialPort* serial = ports.find(handle);
        if (serial == nullptr)
            return 0;
        const IoResult result = serial->write({buffer, static_cast<std::size_t>(count)});
        if (!result.error.failed() && static_cast<int>(result.count) == count)
            return 1;
        if (deviceGone(result.error)) {
            log("writing to the telescope: " + result.error.text());
            return 0;
        }
        if (ui_.messageBox("writeCamera:  Retrying failed write to telescope...", "ERROR", Buttons::retryCancel, {})
            != Answer::retry)
            return 0;
    }
}

int CTarviApp::writeCamera(const std::uint8_t* buffer, int count)
{
    cameraLine_.assertOnDeviceThread();
    WaitCursor wait(ui_);
    int attempts = 0;
    for (;;) {
        SerialPort* serial = portFor(cameraPortSelector);
        if (serial == nullptr)
            return 0;
        const IoResult written = serial->write({buffer, static_cast<std::size_t>(count)});
        if (deviceGone(written.error)) {
            cameraLine_.deviceLost(settings.cameraHandle, written.error);
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
        const int received = readCamera(reply, sizeof reply, quickReplies ? 1 : 0);
        if (received >= 1 && reply[0] == st4::acknowledgement)
            return 1;
        if (cameraLine_.dropping())
            return 0;
        if (attempts > 20) {
            attempts = 0;
            if (quietComm)
                return 0;
            if (ui_.messageBox("writeCamera:  Camera not responding.", "ERROR", Buttons::retryCancel, {})
                != Answer::retry)
                return 0;
        }
        ++attempts;
        // A camera that does not answer costs a read deadline an attempt.
        ui_.betweenSteps();
    }
}

}  // namespace tarvi
