// The camera link of the application object: connecting at the right speed,
// sending the exposure settings, reading camera RAM and fetching rows.
#include <algorithm>
#include <cstring>
#include <utility>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"
#include "platform/waits.h"

namespace tarvi {

namespace {

constexpr int replyCapacity = 1000;
// The camera port at 57600 baud waits no longer than this for a read or a write.
constexpr std::uint32_t fastTimeoutMs = 15;
// How long the camera has to change its speed.
constexpr std::int64_t speedChangeMs = 100;
// After a row that went wrong, how long the line must be quiet before the
// next request, and how many reads a line that keeps talking is given.
constexpr std::int64_t lateReplyMs = 100;
constexpr int drainReadsAllowed = 50;
// A row's read passes; the last one may complete the frame too.
constexpr int rowPasses = 4;

// A speed index of the settings as an index into the speed tables: one out
// of range counts as 57600.
std::size_t speedTableIndex(int speedIndex)
{
    return speedIndex >= 0 && speedIndex < static_cast<int>(st4::baudRates.size())
               ? static_cast<std::size_t>(speedIndex)
               : 0;
}

}  // namespace

int CTarviApp::sendCameraSettings()
{
    const auto operation = cameraLine_.operation();
    if (openCameraPort() == 0)
        return 1;  // the user has been told why
    return writeCameraSettings();
}

// The exposure settings into camera RAM; also the probe of the speed search,
// which must not open the port itself.
int CTarviApp::writeCameraSettings()
{
    const std::uint8_t antiBloomByte[] = {static_cast<std::uint8_t>(settings.antiBloom ? 0x60 : 0x20)};
    const std::uint8_t gain[] = {gainValue(settings.cameraGain)};
    const std::uint16_t exposure = exposureValue(settings.exposureTime);
    const std::uint8_t exposureBytes[] = {static_cast<std::uint8_t>(exposure & 0xFF),
                                          static_cast<std::uint8_t>(exposure >> 8)};
    const std::uint8_t baseline[] = {static_cast<std::uint8_t>(settings.baselineLevel & 0xFF)};
    const std::uint8_t subtraction[] = {
        static_cast<std::uint8_t>(settings.operationsInPC ? 0 : settings.subtractionConstant & 0xFF)};
    const std::vector<std::uint8_t> frames[] = {
        writeRamFrame(st4::ram::antiBloom, antiBloomByte), writeRamFrame(st4::ram::gain, gain),
        writeRamFrame(st4::ram::exposure, exposureBytes), writeRamFrame(st4::ram::baseline, baseline),
        writeRamFrame(st4::ram::subtraction, subtraction)};
    for (const auto& frame : frames) {
        if (writeCamera(frame.data(), static_cast<int>(frame.size())) != 1)
            return 0;
    }
    return 1;
}

int CTarviApp::openCameraPort()
{
    if (settings.cameraHandle != PortTable::closed)
        return 1;
    const auto operation = cameraLine_.operation();
    const std::string name = PortMap::portName(settings.cameraPort);
    ui_.setStatusText(0, "Please Wait.  Establishing camera communications");
    // A device that goes away during the search has been reported; nothing
    // more is said of it.
    const auto lostOnTheWay = [this] {
        if (!cameraLine_.dropping())
            return false;
        ui_.setStatusText(0, "");
        return true;
    };

    if (openPort(cameraPortSelector) == 0) {
        ui_.setStatusText(0, "");
        ui_.messageBox("Cannot open/setup camera port " + name + openFailureText(cameraPortSelector), {},
                       Buttons::ok, {});
        saveSettings();
        return 0;
    }
    setPortTimeouts(cameraPortSelector, 100, 300);
    configurePort(cameraPortSelector, settings.cameraSpeedInUse);
    quietComm = 1;

    // The camera is looked for at the speed it was last set to, then at the
    // wanted speed, then at the 9600 baud it falls back to after a power cut.
    const int speeds[] = {settings.cameraSpeedInUse, settings.cameraSpeed, st4::speedIndex9600};
    bool answered = false;
    for (std::size_t i = 0; i < std::size(speeds) && !answered; ++i) {
        if (i > 0) {
            store(settings.cameraSpeedInUse, speeds[i]);
            configurePort(cameraPortSelector, settings.cameraSpeedInUse);
        }
        answered = writeCameraSettings() == 1;
        if (lostOnTheWay())
            return 0;
    }
    if (!answered) {
        quietComm = 0;
        ui_.messageBox("Cannot open camera port " + name + "\n" + portMap.device(settings.cameraPort)
                           + ": no answer at any speed",
                       {}, Buttons::ok, {});
        ui_.setStatusText(0, "");
        closePort(cameraPortSelector);
        return 0;
    }

    const std::uint8_t divisor[] = {st4::divisors[speedTableIndex(settings.cameraSpeed)]};
    const auto speedFrame = writeRamFrame(st4::ram::divisor, divisor);
    if (writeCamera(speedFrame.data(), static_cast<int>(speedFrame.size())) != 1) {
        ui_.setStatusText(0, "");
        return 0;
    }
    // The camera takes the new speed after its answer: nothing goes out at
    // the new speed until it has had the time (a read that waits out its
    // deadline gives it that time anyway).
    if (quickReplies)
        deviceWait(ui_, clock_, speedChangeMs, Looking::stepsOnly);
    configurePort(cameraPortSelector, settings.cameraSpeed);

    std::uint8_t version = 0;
    if (readRAM(st4::ram::version, 1, &version) == 1) {
        store(settings.cameraSpeedInUse, settings.cameraSpeed);
        if (settings.cameraSpeedInUse == 0)
            setPortTimeouts(cameraPortSelector, fastTimeoutMs, fastTimeoutMs);
    } else if (lostOnTheWay()) {
        return 0;
    } else {
        ui_.messageBox("Can not change baud rate...\nNOTE if the ST-4 power was interrupted, it reverted to 9600 Baud.  "
                       "You should changeto 9600 Baud, then change to other speeds.",
                       {}, Buttons::ok, {});
        store(settings.cameraSpeed, settings.cameraSpeedInUse);
    }

    ui_.setStatusText(1, "Baud rate: " + std::string(st4::speedLabels[speedTableIndex(settings.cameraSpeedInUse)])
                             + ".  ST-4 Version:  " + std::to_string(version));
    ui_.setStatusText(0, "");
    cameraLine_.forgetLoss();
    saveSettings();
    return 1;
}

int CTarviApp::readRAM(std::uint16_t address, int count, std::uint8_t* out)
{
    cameraLine_.assertOnDeviceThread();
    WaitCursor wait(ui_);
    const auto frame = readRamFrame(address, static_cast<std::uint8_t>(count));
    std::uint8_t reply[replyCapacity] = {};
    bool accepted = false;

    SerialPort* serial = portFor(cameraPortSelector);
    const IoResult written = serial != nullptr ? serial->write(frame) : IoResult{0, SysError(EBADF)};
    if (serial != nullptr && deviceGone(written.error))
        cameraLine_.deviceLost(settings.cameraHandle, written.error);
    const bool writeCallFailed = serial == nullptr || (written.error.failed() && written.count == 0
                                                       && written.error.code() != ETIMEDOUT);
    if (!writeCallFailed && !cameraLine_.dropping()) {
        if (written.count < frame.size())
            ui_.messageBox("readRAM:  Write to camera operation failed...", {}, Buttons::ok, {});
        int received = 0;
        for (int read = 0; read < 2 && !accepted && !cameraLine_.dropping(); ++read) {
            received += readCamera(reply + received, replyCapacity - received, quickReplies ? count + 3 - received : 0);
            if (received > 0)
                accepted = checksumOk(reply, received) && received == count + 3 && reply[0] == st4::readRamCommand;
        }
        std::memcpy(out, reply + 2, static_cast<std::size_t>(count));
    }
    if (accepted)
        return 1;
    if (!cameraLine_.dropping())
        ui_.messageBox("readRAM:  Failed to read RAM", {}, Buttons::ok, {});
    return 0;
}

void CTarviApp::waitForQuietLine()
{
    SerialPort* serial = portFor(cameraPortSelector);
    PortTimeouts timeouts;
    if (serial == nullptr || serial->getTimeouts(timeouts).failed())
        return;
    const std::int64_t readMs = std::max<std::uint32_t>(1, timeouts.readTotalConstant);
    const std::int64_t quietReads = (lateReplyMs + readMs - 1) / readMs;
    std::uint8_t sink[st4::largestRowFrame];
    std::int64_t quiet = 0;
    for (int reads = 0; quiet < quietReads && reads < drainReadsAllowed && !cameraLine_.dropping(); ++reads)
        quiet = readCamera(sink, sizeof sink) > 0 ? 0 : quiet + 1;
}

int CTarviApp::downloadRow(int row, std::uint8_t* destination)
{
    cameraLine_.assertOnDeviceThread();
    if (ui_.lookForInput().escapeTyped)
        stopRequested = 1;

    // Bytes left from an earlier reply that went wrong are no answer to this
    // request; read as its start they would spoil this row and the next ones.
    // A reply that failed may still be on its way: rows carry no number, so
    // it would be taken for this row's, and each row after it for the one
    // before. The line must be quiet first.
    if (std::exchange(rowReplyMayBeLate_, false))
        waitForQuietLine();
    if (SerialPort* serial = portFor(cameraPortSelector))
        serial->discardInput();
    const auto request = rowRequestFrame(row);
    rowReplyMayBeLate_ = true;
    if (writeCameraRaw(request.data(), static_cast<int>(request.size())) == 0) {
        if (!cameraLine_.dropping())
            ui_.messageBox("Image download failed - Row " + std::to_string(row), {}, Buttons::ok, {});
        return 0;
    }

    std::uint8_t reply[st4::largestRowFrame + 2] = {};
    int expected = st4::rawPayload + st4::rowFrameOverhead;
    int received = 0;
    const auto stopAsked = [this] {
        if (!settings.downloadStop)
            return false;
        settings.downloadStop = 0;
        return true;
    };

    // Below 9600 baud a row takes longer on the line than the passes'
    // reads wait for it: they get as many more as the speed is slower.
    const int passes = rowPasses
                       * std::max<int>(1, st4::baudRates[st4::speedIndex9600]
                                              / st4::baudRates[speedTableIndex(settings.cameraSpeedInUse)]);
    for (int pass = 0; pass < passes; ++pass) {
        // Two bytes tell the frame's length; then exactly the rest is asked
        // for, so that a healthy line never waits out a read's deadline.
        for (int read = 0; read < 2 && received < expected; ++read) {
            if (stopAsked())
                return 0;
            const int wanted = received < 2 ? 2 - received : expected - received;
            received += readCamera(reply + received, wanted);
            if (received >= 2)
                expected = reply[1] + st4::rowFrameOverhead;
        }
        if (stopAsked())
            return 0;
        const bool bad = received < expected || !checksumOk(reply + received - expected, expected);
        if (!bad) {
            if (stopAsked())
                return 0;
            decodeRow(reply + 2, destination, reply[1]);
            rowReplyMayBeLate_ = false;
            return 1;
        }
    }
    return 0;
}

}  // namespace tarvi
