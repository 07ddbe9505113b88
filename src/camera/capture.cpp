// The capture commands of the application object: an image, a dark frame,
// showing and loading the dark frame.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <optional>
#include <utility>

#include "app/tarvi_app.h"
#include "camera/autosave_name.h"
#include "camera/running_average.h"
#include "camera/st4_protocol.h"
#include "image/bmp.h"
#include "image/fits.h"
#include "platform/waits.h"
#include "telescope/lx200_link.h"
#include "telescope/lx200_reply.h"

namespace tarvi {

namespace {

constexpr std::uint8_t imageModeBase = 0xF0;
constexpr std::uint8_t darkModeBase = 0xB0;
constexpr std::uint8_t subtractDarkBit = 0x04;
constexpr std::uint8_t compressBit = 0x02;
constexpr std::uint8_t smoothBit = 0x01;
// How long past its end an exposure may keep the camera busy, and how many
// reads of its state may fail in a row, before the capture gives up.
constexpr std::int64_t pollGraceMs = 30000;
constexpr int pollFailuresAllowed = 10;
constexpr std::int64_t pollPauseMs = 100;
// How long a capture waits past the exposure before asking the camera.
constexpr std::int64_t exposurePadMs = 500;
// Tries at a row of a picture for a caller that cannot be asked to retry:
// a line that corrupts a row now and then still gives the whole picture.
constexpr int rowAttempts = 10;
// The telescope's pointing for the observation keywords: one exchange it may
// be in the middle of, and the two reads.
constexpr std::chrono::milliseconds pointingWait{2500};

// The failed-row box; Retry opens a port that was lost again first.
Answer askRowRetry(Ui& ui, PortOwner& line, int row)
{
    std::string text = "Attempt to retrieve row " + std::to_string(row) + " failed";
    if (const std::string loss = line.takeLossMessage(); !loss.empty())
        text += "\n\n" + loss;
    const Answer answer = ui.messageBox(text, "ERROR", Buttons::retryCancel, {});
    if (answer == Answer::retry)
        line.retryOpen();
    return answer;
}

}  // namespace

void CTarviApp::playSound(const std::string& name)
{
    ui_.playSound(startDirectory + "/" + name);
}

// A wait of a capture: false when it was stopped, by Exit, or by Escape when
// escapeStops (an image, not a dark frame).
bool CTarviApp::delayWait(std::int64_t ms, bool escapeStops)
{
    const auto stopped = [this, escapeStops](const InputSeen& report) {
        return cameraLine_.stopRequested() || (escapeStops && (report.escapeTyped || stopRequested != 0));
    };
    const InputSeen seen = deviceWait(ui_, clock_, ms, Looking::forInput, stopped);
    if (!stopped(seen))
        return true;
    if (escapeStops)
        stopRequested = 1;
    return false;
}

// The exposure's own time and padMs more; the countdown says whole seconds.
bool CTarviApp::waitForExposure(bool escapeStops, std::int64_t padMs)
{
    const auto wait = [&](std::int64_t ms) { return delayWait(ms, escapeStops); };
    const std::int64_t t = static_cast<std::int64_t>(settings.exposureTime * 1000 + 0.5) + padMs;
    if (t <= 1000)
        return wait(t);
    const std::int64_t steps = (t + 999) / 1000;
    std::int64_t remaining = t - padMs;
    for (std::int64_t i = 0; i < steps; ++i, remaining -= 1000) {
        ui_.setStatusText(0, "Exposure underway.  Seconds remaining:  " + std::to_string(remaining / 1000));
        if (!wait(1000))
            return false;
    }
    return true;
}

// 1 when the camera has finished, 0 when it did not, -1 when the capture was
// stopped or the camera went away (both said already).
int CTarviApp::pollUntilIdle(std::uint8_t busyMask, bool escapeStops)
{
    const std::int64_t giveUpAt = clock_.nowMs() + pollGraceMs;
    int failures = 0;
    for (;;) {
        std::uint8_t state = 0;
        if (readRAM(st4::ram::mode, 1, &state) == 1) {
            failures = 0;
            if ((state & busyMask) == 0)
                return 1;
        } else if (cameraLine_.dropping()) {
            return -1;
        } else if (++failures >= pollFailuresAllowed) {
            break;
        }
        if (clock_.nowMs() >= giveUpAt)
            break;
        if (!delayWait(pollPauseMs, escapeStops))
            return -1;
    }
    ui_.messageBox("The camera did not finish the exposure.", {}, Buttons::ok, {});
    return 0;
}

// Up to `attempts` tries at the row. A device that goes away meanwhile is
// told in the failed-row box, which offers Retry.
bool CTarviApp::fetchRow(int row, std::uint8_t* destination, int attempts)
{
    const bool deferred = std::exchange(cameraLine_.deferLossMessage, true);
    bool fetched = false;
    for (int attempt = 0; attempt < attempts && !fetched; ++attempt)
        fetched = downloadRow(row, destination) == 1;
    cameraLine_.deferLossMessage = deferred;
    return fetched;
}

int CTarviApp::writeRowLength()
{
    const std::uint8_t length[] = {0x00, 0xC0};
    const auto frame = writeRamFrame(st4::ram::rowLength, length);
    return writeCamera(frame.data(), static_cast<int>(frame.size()));
}

// The mode byte that starts an exposure. Dark subtraction and smoothing
// are the camera's only when the PC does not do the work; a dark frame asks
// for them as they are set.
std::uint8_t CTarviApp::exposureMode(bool dark) const
{
    const bool inCamera = dark || !settings.operationsInPC;
    std::uint8_t mode = dark ? darkModeBase : imageModeBase;
    if (settings.subtractDarkFrame && inCamera)
        mode |= subtractDarkBit;
    if (settings.useCompression)
        mode |= compressBit;
    if (settings.smoothImage && inCamera)
        mode |= smoothBit;
    return mode;
}

// A dark frame sets the anti-blooming first, then the exposure settings.
int CTarviApp::sendDarkFrameSettings()
{
    const std::uint8_t antiBloomByte[] = {static_cast<std::uint8_t>(settings.antiBloom ? 0x60 : 0x20)};
    const auto antiBloomFrame = writeRamFrame(st4::ram::antiBloom, antiBloomByte);
    if (writeCamera(antiBloomFrame.data(), static_cast<int>(antiBloomFrame.size())) != 1)
        return 0;
    return sendCameraSettings();
}

int CTarviApp::downloadRows(int first, int count, int attempts, bool escapeStops,
                            const std::function<std::uint8_t*(int row)>& destination,
                            const std::function<bool(int row)>& again)
{
    const auto stopped = [&] { return cameraLine_.stopRequested() || (escapeStops && stopRequested != 0); };
    // The bar goes away however the download ends.
    struct ProgressBar {
        Ui& ui;
        ~ProgressBar() { ui.setProgress(0, 0); }
    } bar{ui_};
    for (int r = first; r < first + count; ++r) {
        if (stopped())
            return -1;
        ui_.setProgress(r - first, count);
        char line[64];
        std::snprintf(line, sizeof line, "Uploading image line %4d", r);
        ui_.setStatusText(0, line);
        while (!fetchRow(r, destination(r), attempts)) {
            if (!again(r))
                return 0;
        }
    }
    return stopped() ? -1 : 1;
}

void CTarviApp::placeNextWindow()
{
    nextWindowX += 20;
    nextWindowY += 20;
    nextWindowWidth = frameWidth;
    nextWindowHeight = frameHeight;
}

int CTarviApp::captureImage()
{
    WaitCursor wait(ui_);
    const auto operation = cameraLine_.operation();
    if (openCameraPort() == 0)
        return 0;
    stopRequested = 0;
    if (sendCameraSettings() == 0)
        return 0;

    const std::uint8_t modeByte[] = {exposureMode(false)};
    const auto start = writeRamFrame(st4::ram::mode, modeByte);

    // Escape during the delay or the exposure ends the capture at once.
    const auto terminated = [this] {
        ui_.setStatusText(0, "Image capture TERMINATED");
        return 0;
    };
    if (settings.exposureDelay >= 1) {
        for (int n = settings.exposureDelay; n >= 2; --n) {
            ui_.setStatusText(0, "Exposure Delay - Seconds remaining:  " + std::to_string(n));
            playSound("place.wav");
            if (!delayWait(1000, true))
                return terminated();
        }
        for (int i = 0; i < 5; ++i) {
            ui_.setStatusText(0, "Exposure Delay - Seconds remaining:  1");
            playSound("place.wav");
            if (!delayWait(200, true))
                return terminated();
        }
    }

    ui_.setStatusText(0, "Begin exposure");
    observation_ = observationKeywords ? observingCards(clock_.nowSeconds()) : std::vector<std::string>{};
    if (writeCamera(start.data(), static_cast<int>(start.size())) != 1)
        return 0;
    if (!waitForExposure(true, exposurePadMs) || pollUntilIdle(st4::busyBits, true) != 1)
        return terminated();
    ui_.setStatusText(0, "End exposure");
    if (writeRowLength() != 1)
        return 0;
    playSound("place.wav");

    const auto intoImage = [this](int r) {
        return cameraImage.data() + static_cast<std::size_t>(frameHeight - 1 - r) * frameWidth;
    };
    const auto retry = [this](int r) { return askRowRetry(ui_, cameraLine_, r) == Answer::retry; };
    if (downloadRows(0, st4::rowCount, 3, true, intoImage, retry) != 1) {
        stopRequested = 1;
        return terminated();
    }
    ui_.setStatusText(0, "Image upload finished");

    if (settings.operationsInPC) {
        for (std::size_t i = 0; i < cameraImage.size(); ++i) {
            const int v = cameraImage[i] - (settings.subtractDarkFrame ? darkFrame[i] : 0) - settings.subtractionConstant;
            cameraImage[i] = static_cast<std::uint8_t>(v >= 0 ? v : 0);
        }
    }
    ui_.setStatusText(0, "Dark Frame subtraction completed.");

    captureImageObject = std::make_unique<bmp>(ui_);
    captureImageObject->createFromGray(cameraImage.data(), frameWidth, frameHeight);
    // The writer has said why; a window would show an older picture or
    // none, so the capture ends here without one (and an autoshoot run
    // with it). A FITS copy that fails is only said: the picture is safe in
    // the temporary file and its window.
    if (captureImageObject->writeBmp(temporaryImagePath()) != 1) {
        captureImageObject.reset();
        return 0;
    }
    captureImageObject->writeFits(fitsCopyPath(), observation_);

    ui_.setStatusText(0, "Image created");
    playSound("place.wav");
    deviceWait(ui_, clock_, 100, Looking::stepsOnly);
    playSound("place.wav");

    // The window reads the temporary file before the next capture writes it.
    guiCall([this] {
        placeNextWindow();
        if (windows_ == nullptr)
            return;
        const bool reuse = !newWindowPerImage && windows_->hasCurrentWindow() && displaySize == captureDisplaySize;
        if (reuse) {
            autosaveName = windows_->currentWindowTitle();
            windows_->retitleAndReloadCurrent(nextAutosaveName(autosaveName));
        } else {
            captureDisplaySize = displaySize;
            windows_->newCaptureWindow(newWindowPerImage ? std::string() : autosaveName);
        }
    });
    captureImageObject.reset();
    return 1;
}

void CTarviApp::captureDarkFrame()
{
    WaitCursor wait(ui_);
    const auto operation = cameraLine_.operation();
    if (openCameraPort() == 0)
        return;
    stopRequested = 0;
    if (sendDarkFrameSettings() == 0)
        return;

    const std::uint8_t modeByte[] = {exposureMode(true)};
    const auto start = writeRamFrame(st4::ram::mode, modeByte);
    ui_.setStatusText(0, "Begin exposure");
    if (writeCamera(start.data(), static_cast<int>(start.size())) != 1)
        return;
    // Escape ends only an image capture; Exit ends this too.
    if (!waitForExposure(false, exposurePadMs) || pollUntilIdle(st4::busyBits | st4::darkBusyBit, false) != 1)
        return;
    ui_.setStatusText(0, "Dark-frame exposure completed");
    // Without the PC doing the work the camera keeps the dark frame itself.
    if (!settings.operationsInPC)
        return;
    if (writeRowLength() != 1)
        return;
    const auto intoDark = [this](int r) {
        return darkFrame.data() + static_cast<std::size_t>(frameHeight - 1 - r) * frameWidth;
    };
    const auto retry = [this](int r) { return askRowRetry(ui_, cameraLine_, r) == Answer::retry; };
    if (downloadRows(0, st4::rowCount, 2, false, intoDark, retry) == 1)
        ui_.setStatusText(0, "Dark image upload finished");
}

CTarviApp::FrameResult CTarviApp::takeFrame(const FrameRequest& request)
{
    FrameResult result;
    const std::string device = portMap.device(settings.cameraPort);
    // A device that goes away is told in the result, not in a box.
    const bool deferred = std::exchange(cameraLine_.deferLossMessage, true);
    struct Restore {
        PortOwner& line;
        bool deferred;
        ~Restore() { line.deferLossMessage = deferred; }
    } restore{cameraLine_, deferred};
    const auto failed = [&](const std::string& what) {
        const std::string loss = cameraLine_.takeLossMessage();
        result.outcome = FrameOutcome::failed;
        result.message = loss.empty() ? device + ": " + what : loss;
        return result;
    };
    const auto stopped = [&] {
        result.outcome = FrameOutcome::stopped;
        return result;
    };
    if (request.firstRow < 0 || request.rowCount < 1 || request.firstRow + request.rowCount > frameHeight)
        return failed("rows " + std::to_string(request.firstRow) + " to "
                      + std::to_string(request.firstRow + request.rowCount - 1) + " are not on the chip");

    const auto operation = cameraLine_.operation();
    if (openCameraPort() == 0)
        return failed("the camera does not answer");
    const int sent = request.dark ? sendDarkFrameSettings() : writeCameraSettings();
    if (sent != 1)
        return failed("the camera did not take its settings");
    const std::uint8_t modeByte[] = {exposureMode(request.dark)};
    const auto start = writeRamFrame(st4::ram::mode, modeByte);
    if (writeCamera(start.data(), static_cast<int>(start.size())) != 1)
        return failed("the camera did not start the exposure");
    // The camera is asked from the exposure's end on, so the picture comes
    // as soon as it is there.
    if (!waitForExposure(true, 0))
        return stopped();
    const std::uint8_t busy = request.dark ? st4::busyBits | st4::darkBusyBit : st4::busyBits;
    const int finished = pollUntilIdle(busy, true);
    if (finished < 0 && stopRequested)
        return stopped();
    if (finished != 1)
        return failed("the camera did not finish the exposure");
    if (writeRowLength() != 1)
        return failed("the camera did not take the row length");

    result.rows.assign(static_cast<std::size_t>(request.rowCount) * frameWidth, 0);
    const auto intoRows = [&](int r) {
        return result.rows.data() + static_cast<std::size_t>(r - request.firstRow) * frameWidth;
    };
    int failedRow = -1;
    const auto giveUp = [&](int r) {
        failedRow = r;
        return false;
    };
    const int fetched = downloadRows(request.firstRow, request.rowCount, rowAttempts, true, intoRows, giveUp);
    if (fetched < 0)
        return stopped();
    if (fetched == 0) {
        result.rows.clear();
        return failed("row " + std::to_string(failedRow) + " could not be read");
    }
    result.outcome = FrameOutcome::taken;
    return result;
}

void CTarviApp::showDarkFrame()
{
    captureImageObject = std::make_unique<bmp>(ui_);
    captureImageObject->createFromGray(darkFrame.data(), frameWidth, frameHeight);
    const bool written = captureImageObject->writeBmp(temporaryImagePath()) == 1;
    captureImageObject.reset();
    if (!written)
        return;
    ui_.setStatusText(0, "Image created");
    placeNextWindow();
    if (windows_ != nullptr)
        windows_->newCaptureWindow({});
}

void CTarviApp::loadDarkFrame(const std::string& path)
{
    captureImageObject = std::make_unique<bmp>(ui_);
    if (captureImageObject->readBmp(path) == 1) {
        const int width = captureImageObject->getWidth();
        const int height = captureImageObject->getHeight();
        if (width != frameWidth || height != frameHeight) {
            // Part of an older dark frame left in place would be subtracted
            // as if it belonged to this one.
            ui_.messageBox(path + "\nA dark frame must be " + std::to_string(frameWidth) + " x "
                               + std::to_string(frameHeight) + " pixels; this picture is " + std::to_string(width)
                               + " x " + std::to_string(height) + ". The dark frame was not changed.",
                           {}, Buttons::ok, {});
        } else {
            const std::uint8_t* pixels = captureImageObject->getPixels();
            const int stride = captureImageObject->getRowStride();
            for (int row = 0; row < frameHeight; ++row) {
                for (int col = 0; col < frameWidth; ++col)
                    darkFrame[static_cast<std::size_t>(row) * frameWidth + col] = pixels[row * stride + 3 * col];
            }
        }
    }
    captureImageObject.reset();
}

void CTarviApp::autoShoot()
{
    const auto operation = cameraLine_.operation();
    if (openCameraPort() == 0)
        return;
    stopRequested = 0;
    RunningAverage average;
    while (!stopRequested) {
        const int made = captureImage();
        // A capture that fails before its picture ends the run like Escape:
        // a camera that stopped answering would otherwise be asked for ever.
        if (made != 1)
            stopRequested = 1;
        if (made == 1 && (autosaveFits || autosaveBmp)) {
            bmp saved(ui_);
            saved.createFromGray(cameraImage.data(), frameWidth, frameHeight);
            std::string name = autosaveName;
            if (windows_ != nullptr)
                guiCall([&] { name = windows_->currentWindowTitle(); });
            // Saved pictures are always centred.
            saved.center();
            if (autosaveFits)
                saved.writeFits(fitsDirectory + "/" + name + ".fit", observation_);
            if (autosaveBmp)
                saved.writeBmp(bmpDirectory + "/" + name + ".bmp");
        }
        if (!stopRequested)
            average.add(cameraImage, autoCenter != 0);
    }
    if (average.frames() == 0)
        return;
    averageImage = average.average();
    bmp shown(ui_);
    shown.createFromGray(averageImage.data(), frameWidth, frameHeight);
    if (shown.writeBmp(temporaryImagePath()) != 1)
        return;
    averagedFrameCount = average.frames();
    guiCall([this] {
        placeNextWindow();
        if (windows_ != nullptr)
            windows_->newCaptureWindow({});
    });
}

std::vector<std::string> CTarviApp::observingCards(std::time_t start)
{
    fits::Observation observation;
    observation.start = start;
    observation.exposureSeconds = settings.exposureTime;
    // Asked of the telescope's own work, which reads it between two of its
    // exchanges; never opened for this: a telescope that is not connected,
    // or that does not answer in time, leaves the pointing out.
    struct Pointing {
        std::optional<std::string> ra, dec;
    };
    auto asked = std::make_shared<std::promise<Pointing>>();
    std::future<Pointing> pointing = asked->get_future();
    guiCall([this, &observation, asked = std::move(asked)] {
        if (objectName)
            observation.object = objectName();
        telescopeLine_.runUrgent([this, asked] {
            Pointing read;
            if (telescopeLine_.open() && !telescopeLine_.exchanging()) {
                read.ra = wholeExchange(telescopeLine_, clock_, ":GR#", lx200::Reply::text);
                read.dec = wholeExchange(telescopeLine_, clock_, ":GD#", lx200::Reply::text);
            }
            asked->set_value(read);
        });
    });
    // A promise that was never kept (the program is ending) answers at once.
    if (pointing.wait_for(pointingWait) == std::future_status::ready) {
        try {
            const Pointing read = pointing.get();
            const auto text = [](const std::string& reply) {
                return normalisedReply(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size());
            };
            if (read.ra && read.dec) {
                observation.ra = text(*read.ra);
                observation.dec = text(*read.dec);
            }
        } catch (const std::future_error&) {
        }
    }
    return fits::observationCards(observation);
}

}  // namespace tarvi
