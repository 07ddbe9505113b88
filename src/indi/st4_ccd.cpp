// The ST-4 camera as an INDI CCD device. The event loop of the INDI driver
// library owns the properties; the camera's exposures and downloads run as
// jobs on the driver's camera thread, through the program's own camera link,
// and come back to the loop through a queue.
#include "indi/st4_ccd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>

#include <libindi/eventloop.h>
#include <libindi/indilogger.h>

#include "app/version.h"
#include "camera/st4_protocol.h"
#include "platform/tcp_serial_port.h"

namespace tarvi::indi {

namespace {

constexpr int chipWidth = CTarviApp::frameWidth;
constexpr int chipHeight = CTarviApp::frameHeight;
// The sensor's pixels are not square.
constexpr double pixelWidthMicrons = 13.75;
constexpr double pixelHeightMicrons = 16.0;
constexpr const char* speedNames[] = {"57600", "19200", "9600", "1200"};
constexpr int camera = CTarviApp::cameraPortSelector;

// A port the program's opener takes: a device path or tcp:HOST:PORT.
std::string portProblem(const std::string& port)
{
    if (port.rfind("tcp:", 0) == 0)
        return parseTcpDevice(port) ? std::string() : port + " is not of the form tcp:HOST:PORT";
    if (port.empty() || port.front() != '/')
        return "\"" + port + "\" is no port: give a device path such as /dev/ttyUSB0, or tcp:HOST:PORT";
    return {};
}

}  // namespace

LoopQueue::LoopQueue()
{
    callback_ = addCallback(
        queue_.fd(), [](int, void* queue) { static_cast<WakeQueue*>(queue)->runAll(); }, &queue_);
}

LoopQueue::~LoopQueue()
{
    rmCallback(callback_);
}

St4Ccd::St4Ccd()
    : ui_([this](const std::string& line) { loop_.post([this, line] { LOG_WARN(line.c_str()); }); }),
      app_(ui_, clock_, CTarviApp::WithoutSettingsFile{})
{
    int major = 0, minor = 0;
    std::sscanf(tarviVersion, "%d.%d", &major, &minor);
    setVersion(static_cast<std::uint16_t>(major), static_cast<std::uint16_t>(minor));

    // Nothing but the INDI protocol goes to standard output.
    app_.log = [](const std::string& line) { std::fprintf(stderr, "indi_tarvi_st4: %s\n", line.c_str()); };
    app_.setPortOpener(&opener_);
    // A guiding client waits for every exposure's picture.
    app_.quickReplies = true;

    session_ = std::make_unique<DeviceSession>("tarvi camera");
    PortOwner& line = app_.cameraLine();
    // Messages name the port as the user gave it.
    line.describe = [this] { return app_.portMap.device(app_.settings.cameraPort); };
    line.setDeviceThread(session_->threadId());
    line.runner = sessionRunner(*session_, false, [this](JobEnd ended) { loop_.post(std::move(ended)); });
}

St4Ccd::~St4Ccd()
{
    // An exposure under way ends at its next wait or row.
    app_.stopRequested = 1;
    app_.cameraLine().requestStop();
    session_->finish();
}

bool St4Ccd::initProperties()
{
    INDI::CCD::initProperties();
    SetCCDCapability(CCD_CAN_ABORT | CCD_CAN_SUBFRAME);

    const char* dev = getDeviceName();
    IUFillText(&portT_[0], "PORT", "Port", "/dev/ttyUSB0");
    IUFillTextVector(&portTP_, portT_, 1, dev, "DEVICE_PORT", "Ports", CONNECTION_TAB, IP_RW, 60, IPS_IDLE);
    for (int i = 0; i < 4; ++i)
        IUFillSwitch(&speedS_[i], speedNames[i], speedNames[i], i == 0 ? ISS_ON : ISS_OFF);
    IUFillSwitchVector(&speedSP_, speedS_, 4, dev, "DEVICE_BAUD_RATE", "Baud Rate", CONNECTION_TAB, IP_RW,
                       ISR_1OFMANY, 60, IPS_IDLE);

    IUFillNumber(&gainN_[0], "GAIN", "Gain (x)", "%.0f", 1, 4, 1, 1);
    IUFillNumberVector(&gainNP_, gainN_, 1, dev, "CCD_GAIN", "Gain", MAIN_CONTROL_TAB, IP_RW, 60, IPS_IDLE);
    IUFillNumber(&offsetN_[0], "OFFSET", "Baseline", "%.0f", 0, 255, 1, 0);
    IUFillNumberVector(&offsetNP_, offsetN_, 1, dev, "CCD_OFFSET", "Baseline", MAIN_CONTROL_TAB, IP_RW, 60,
                       IPS_IDLE);
    IUFillSwitch(&antiBloomS_[0], "ANTI_BLOOMING_ON", "On", ISS_OFF);
    IUFillSwitch(&antiBloomS_[1], "ANTI_BLOOMING_OFF", "Off", ISS_ON);
    IUFillSwitchVector(&antiBloomSP_, antiBloomS_, 2, dev, "ANTI_BLOOMING", "Anti-blooming", MAIN_CONTROL_TAB,
                       IP_RW, ISR_1OFMANY, 60, IPS_IDLE);
    IUFillSwitch(&compressionS_[0], "ROW_COMPRESSION_ON", "On", ISS_ON);
    IUFillSwitch(&compressionS_[1], "ROW_COMPRESSION_OFF", "Off", ISS_OFF);
    IUFillSwitchVector(&compressionSP_, compressionS_, 2, dev, "ROW_COMPRESSION", "Compressed rows",
                       OPTIONS_TAB, IP_RW, ISR_1OFMANY, 60, IPS_IDLE);
    IUFillNumber(&versionN_[0], "VERSION", "Version", "%.0f", 0, 255, 0, 0);
    IUFillNumberVector(&versionNP_, versionN_, 1, dev, "ST4_VERSION", "Camera", INFO_TAB, IP_RO, 60, IPS_IDLE);

    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0.01, 600, 0.01, false);
    SetCCDParams(chipWidth, chipHeight, 8, pixelWidthMicrons, pixelHeightMicrons);
    PrimaryCCD.setFrameBufferSize(chipWidth * chipHeight);

    // No mount, rotator, focuser, filter wheel or sky meter is watched
    // unless the user names one.
    for (IText& device : ActiveDeviceT)
        IUSaveText(&device, "");

    addDebugControl();
    addConfigurationControl();
    setDriverInterface(CCD_INTERFACE);
    return true;
}

void St4Ccd::ISGetProperties(const char* dev)
{
    INDI::CCD::ISGetProperties(dev);
    defineProperty(&portTP_);
    defineProperty(&speedSP_);
    // The saved port and speed, once: a client that comes later does not
    // undo what an earlier one chose.
    if (!configLoaded_) {
        configLoaded_ = true;
        loadConfig(true, "DEVICE_PORT");
        loadConfig(true, "DEVICE_BAUD_RATE");
    }
}

bool St4Ccd::updateProperties()
{
    INDI::CCD::updateProperties();
    INumberVectorProperty* numbers[] = {&gainNP_, &offsetNP_, &versionNP_};
    ISwitchVectorProperty* switches[] = {&antiBloomSP_, &compressionSP_};
    if (isConnected()) {
        for (auto* property : numbers)
            defineProperty(property);
        for (auto* property : switches)
            defineProperty(property);
        for (const char* name : {"CCD_GAIN", "CCD_OFFSET", "ANTI_BLOOMING", "ROW_COMPRESSION"})
            loadConfig(true, name);
    } else {
        for (auto* property : numbers)
            deleteProperty(property->name);
        for (auto* property : switches)
            deleteProperty(property->name);
    }
    return true;
}

bool St4Ccd::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n)
{
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0 && std::strcmp(name, portTP_.name) == 0) {
        const std::string wanted = n > 0 ? texts[0] : "";
        std::string problem = portProblem(wanted);
        if (problem.empty() && isConnected() && wanted != portT_[0].text)
            problem = "Disconnect before choosing another port";
        if (!problem.empty()) {
            portTP_.s = IPS_ALERT;
            IDSetText(&portTP_, "%s", problem.c_str());
            return false;
        }
        IUUpdateText(&portTP_, texts, names, n);
        portTP_.s = IPS_OK;
        IDSetText(&portTP_, nullptr);
        return true;
    }
    return INDI::CCD::ISNewText(dev, name, texts, names, n);
}

bool St4Ccd::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n)
{
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        for (INumberVectorProperty* property : {&gainNP_, &offsetNP_}) {
            if (std::strcmp(name, property->name) != 0)
                continue;
            IUUpdateNumber(property, values, names, n);
            property->s = IPS_OK;
            IDSetNumber(property, nullptr);
            return true;
        }
    }
    return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

bool St4Ccd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n)
{
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        for (ISwitchVectorProperty* property : {&antiBloomSP_, &compressionSP_, &speedSP_}) {
            if (std::strcmp(name, property->name) != 0)
                continue;
            if (property == &speedSP_ && PrimaryCCD.isExposing()) {
                property->s = IPS_ALERT;
                IDSetSwitch(property, "The speed changes between exposures, not during one");
                return false;
            }
            IUUpdateSwitch(property, states, names, n);
            property->s = IPS_OK;
            // A connected camera moves to the new speed at once.
            if (property == &speedSP_ && isConnected() && !Connect())
                property->s = IPS_ALERT;
            IDSetSwitch(property, nullptr);
            return true;
        }
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

St4Ccd::Choices St4Ccd::choices() const
{
    Choices c;
    c.gainIndex = std::clamp(static_cast<int>(std::lround(gainN_[0].value)) - 1, 0, 3);
    c.baseline = std::clamp(static_cast<int>(std::lround(offsetN_[0].value)), 0, 255);
    c.antiBloom = antiBloomS_[0].s == ISS_ON;
    c.compressed = compressionS_[0].s == ISS_ON;
    c.wantedSpeed = std::max(0, IUFindOnSwitchIndex(&speedSP_));
    c.port = portT_[0].text;
    return c;
}

// On the camera's thread.
void St4Ccd::apply(const Choices& c)
{
    st4Settings& s = app_.settings;
    s.cameraGain = c.gainIndex;
    s.baselineLevel = c.baseline;
    s.antiBloom = c.antiBloom;
    s.useCompression = c.compressed;
    s.cameraSpeed = c.wantedSpeed;
    app_.portMap.setDevice(s.cameraPort, c.port);
}

void St4Ccd::runAndWait(const std::function<void()>& job)
{
    std::promise<void> done;
    app_.cameraJob([&] {
        job();
        done.set_value();
    });
    done.get_future().wait();
}

bool St4Ccd::Connect()
{
    const Choices c = choices();
    if (const std::string problem = portProblem(c.port); !problem.empty()) {
        LOG_ERROR(problem.c_str());
        return false;
    }
    bool opened = false;
    int speed = 0;
    std::uint8_t version = 0;
    runAndWait([&] {
        apply(c);
        // The camera is looked for at the speed it was last set to, the
        // wanted one, then 9600; a port already open is opened afresh.
        app_.closePort(camera);
        opened = app_.openCameraPort() == 1 && app_.readRAM(st4::ram::version, 1, &version) == 1;
        speed = app_.settings.cameraSpeedInUse;
        if (!opened)
            app_.closePort(camera);
    });
    if (!opened) {
        LOGF_ERROR("No ST-4 camera answers on %s.", c.port.c_str());
        return false;
    }
    showSpeed(speed, version);
    LOGF_INFO("The ST-4 camera (version %d) answers on %s at %s baud.", version, c.port.c_str(), speedNames[speed]);
    return true;
}

bool St4Ccd::Disconnect()
{
    AbortExposure();
    runAndWait([this] { app_.closePort(camera); });
    return true;
}

void St4Ccd::showSpeed(int speedIndex, int version)
{
    IUResetSwitch(&speedSP_);
    speedS_[std::clamp(speedIndex, 0, 3)].s = ISS_ON;
    speedSP_.s = IPS_OK;
    IDSetSwitch(&speedSP_, nullptr);
    versionN_[0].value = version;
    versionNP_.s = IPS_OK;
    IDSetNumber(&versionNP_, nullptr);
}

bool St4Ccd::UpdateCCDFrame(int x, int y, int w, int h)
{
    if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > chipWidth || y + h > chipHeight) {
        LOGF_ERROR("The frame %d,%d %dx%d does not lie on the %dx%d chip.", x, y, w, h, chipWidth, chipHeight);
        return false;
    }
    const std::lock_guard guard(ccdBufferLock);
    PrimaryCCD.setFrame(x, y, w, h);
    PrimaryCCD.setFrameBufferSize(static_cast<std::uint32_t>(w * h));
    return true;
}

// Flats are light frames and bias frames dark ones: the client chooses
// their exposures.
bool St4Ccd::UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type)
{
    PrimaryCCD.setFrameType(type);
    return true;
}

bool St4Ccd::StartExposure(float duration)
{
    const std::uint64_t number = ++exposureNumber_;
    {
        // One that is still under way ends at its next wait or row.
        const std::lock_guard lock(stopMutex_);
        if (current_ != 0)
            app_.stopRequested = 1;
        current_ = number;
    }
    const INDI::CCDChip::CCD_FRAME type = PrimaryCCD.getFrameType();
    duration_ = duration;
    started_ = std::chrono::steady_clock::now();
    PrimaryCCD.setExposureDuration(duration);

    CTarviApp::FrameRequest request;
    request.dark = type == INDI::CCDChip::DARK_FRAME || type == INDI::CCDChip::BIAS_FRAME;
    request.firstRow = PrimaryCCD.getSubY();
    request.rowCount = PrimaryCCD.getSubH();
    const int x = PrimaryCCD.getSubX();
    const int width = PrimaryCCD.getSubW();
    const Choices c = choices();
    app_.cameraJob([this, number, request, x, width, c, duration] {
        {
            // A stop is meant for the exposure it stopped; this one, if it
            // is still wanted, starts afresh.
            const std::lock_guard lock(stopMutex_);
            if (current_ != number)
                return;
            app_.stopRequested = 0;
        }
        apply(c);
        app_.settings.exposureTime = duration;
        CTarviApp::FrameResult result = app_.takeFrame(request);
        // A camera that failed is looked for afresh by the next exposure.
        if (result.outcome == CTarviApp::FrameOutcome::failed)
            app_.closePort(camera);
        loop_.post([this, number, result = std::move(result), x, width]() mutable {
            finishExposure(number, std::move(result), width, x);
        });
    });
    countDown();
    return true;
}

// Whole seconds as they pass: one update a second, and one for a short
// exposure's end.
void St4Ccd::countDown()
{
    stopCountdown();
    const double remaining = duration_ - secondsSinceStart();
    // Until the next whole second of what remains.
    const double next = std::max(0.0, std::ceil(remaining - 1e-3) - 1);
    countdownTimer_ = SetTimer(static_cast<std::uint32_t>(std::max(1L, std::lround(1000 * (remaining - next)))));
}

void St4Ccd::stopCountdown()
{
    if (countdownTimer_ >= 0)
        RemoveTimer(countdownTimer_);
    countdownTimer_ = -1;
}

double St4Ccd::secondsSinceStart() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void St4Ccd::TimerHit()
{
    countdownTimer_ = -1;
    if (!PrimaryCCD.isExposing())
        return;
    const double remaining = std::max(0.0, duration_ - secondsSinceStart());
    PrimaryCCD.setExposureLeft(std::round(remaining));
    if (remaining > 1e-3)
        countDown();
}

void St4Ccd::finishExposure(std::uint64_t number, CTarviApp::FrameResult result, int width, int x)
{
    {
        const std::lock_guard lock(stopMutex_);
        if (current_ != number)
            return;  // stopped, or another exposure has begun
        current_ = 0;
    }
    stopCountdown();
    switch (result.outcome) {
    case CTarviApp::FrameOutcome::taken: {
        {
            const std::lock_guard guard(ccdBufferLock);
            const int height = static_cast<int>(result.rows.size()) / chipWidth;
            PrimaryCCD.setFrameBufferSize(static_cast<std::uint32_t>(width * height));
            std::uint8_t* out = PrimaryCCD.getFrameBuffer();
            for (int row = 0; row < height; ++row)
                std::memcpy(out + row * width, result.rows.data() + row * chipWidth + x,
                            static_cast<std::size_t>(width));
        }
        PrimaryCCD.setExposureLeft(0);
        ExposureComplete(&PrimaryCCD);
        break;
    }
    case CTarviApp::FrameOutcome::stopped:
        PrimaryCCD.setExposureFailed();
        break;
    case CTarviApp::FrameOutcome::failed:
        LOGF_ERROR("The exposure failed: %s", result.message.c_str());
        PrimaryCCD.setExposureFailed();
        break;
    }
}

bool St4Ccd::AbortExposure()
{
    {
        const std::lock_guard lock(stopMutex_);
        current_ = 0;
        app_.stopRequested = 1;
    }
    stopCountdown();
    return true;
}

void St4Ccd::addFITSKeywords(INDI::CCDChip* chip)
{
    INDI::CCD::addFITSKeywords(chip);
    int status = 0;
    fits_update_key_str(*chip->fitsFilePointer(), "INSTRUME", "ST-4", "CCD Name", &status);
}

bool St4Ccd::saveConfigItems(FILE* fp)
{
    INDI::CCD::saveConfigItems(fp);
    IUSaveConfigText(fp, &portTP_);
    IUSaveConfigSwitch(fp, &speedSP_);
    IUSaveConfigNumber(fp, &gainNP_);
    IUSaveConfigNumber(fp, &offsetNP_);
    IUSaveConfigSwitch(fp, &antiBloomSP_);
    IUSaveConfigSwitch(fp, &compressionSP_);
    return true;
}

}  // namespace tarvi::indi

// The driver library's entry points reach the device through this instance.
static tarvi::indi::St4Ccd st4Ccd;
