#include "sim/camera_sim.h"

#include <algorithm>
#include <stdexcept>
#include <sys/prctl.h>

#include "camera/st4_protocol.h"
#include "sim/row_encoder.h"

namespace tarvi::sim {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t shutterOpenBit = 0x40;  // set in an image's mode byte, clear in a dark frame's
constexpr std::uint8_t subtractDarkBit = 0x04;
constexpr std::uint8_t compressBit = 0x02;
constexpr std::uint8_t smoothBit = 0x01;
constexpr std::uint8_t ramSpace = 0x01;  // the third byte of a RAM frame: the only memory the camera has
constexpr int bitsPerByte = 11;

// The divisor sets the UART clock to 57600 / (256 - divisor); the listed
// divisors are taken as their nominal rates (0xD2 gives 1252 baud, within a
// UART's tolerance of 1200). Any other rate matches nothing the program can
// set, and the camera is lost until its power is cut.
std::uint32_t baudForDivisor(std::uint8_t divisor)
{
    for (std::size_t i = 0; i < st4::divisors.size(); ++i) {
        if (st4::divisors[i] == divisor)
            return st4::baudRates[i];
    }
    return 57600 / (256 - divisor);
}

template<typename T>
void keepLast(std::deque<T>& records, T record, std::size_t limit)
{
    if (limit == 0)
        return;
    records.push_back(std::move(record));
    while (records.size() > limit)
        records.pop_front();
}

}  // namespace

CameraSimulator::CameraSimulator(const CameraOptions& options)
    : options_(options), sky_(options.sky), skyStart_(Clock::now()), lineNoise_(options.seed)
{
    if (options.startSpeedIndex < 0 || options.startSpeedIndex >= static_cast<int>(st4::baudRates.size()))
        throw std::invalid_argument("camera start speed index outside 0..3");
    faults_ = options.faults;
    timeScale_ = std::max(options.timeScale, 0.0);
    std::lock_guard lock(mutex_);
    powerOn(options.startSpeedIndex);
}

CameraSimulator::~CameraSimulator()
{
    stop();
}



void CameraSimulator::powerOn(int speedIndex)
{
    ram_.fill(0);
    ram_[st4::ram::version] = options_.version;
    ram_[st4::ram::divisor] = st4::divisors[static_cast<std::size_t>(speedIndex)];
    ram_[st4::ram::gain] = 255;
    ram_[st4::ram::antiBloom] = 0x20;
    ram_[st4::ram::exposure] = 100;
    ram_[st4::ram::rowLength + 1] = st4::rowWidth;
    baud_ = st4::baudRates[static_cast<std::size_t>(speedIndex)];
    exposure_ = Exposure{};
    lastCompressed_ = false;
    lastFrame_.assign(skyPixels, 0);
    darkFrame_.assign(skyPixels, 0);
}

void CameraSimulator::powerCut()
{
    {
        std::lock_guard lock(mutex_);
        powerOn(st4::speedIndex9600);
    }
    ++powerCycles_;
    pty_.interrupt();
}



void CameraSimulator::setFaults(const CameraFaults& faults)
{
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

void CameraSimulator::setSilent(bool silent)
{
    std::lock_guard lock(mutex_);
    faults_.silent = silent;
}

void CameraSimulator::setTimeScale(double timeScale)
{
    {
        std::lock_guard lock(mutex_);
        timeScale_ = std::max(timeScale, 0.0);
    }
    pty_.interrupt();
}

std::uint32_t CameraSimulator::baud() const
{
    std::lock_guard lock(mutex_);
    return baud_;
}

std::array<std::uint8_t, 256> CameraSimulator::ram() const
{
    std::lock_guard lock(mutex_);
    return ram_;
}

std::vector<std::uint8_t> CameraSimulator::lastFrame() const
{
    std::lock_guard lock(mutex_);
    return lastFrame_;
}

std::vector<std::uint8_t> CameraSimulator::darkFrame() const
{
    std::lock_guard lock(mutex_);
    return darkFrame_;
}

std::vector<ReceivedFrame> CameraSimulator::receivedFrames() const
{
    std::lock_guard lock(mutex_);
    return {received_.begin(), received_.end()};
}

std::vector<SentReply> CameraSimulator::sentReplies() const
{
    std::lock_guard lock(mutex_);
    return {sent_.begin(), sent_.end()};
}

CameraStats CameraSimulator::stats() const
{
    std::lock_guard lock(mutex_);
    return stats_;
}

void CameraSimulator::clearTraffic()
{
    std::lock_guard lock(mutex_);
    received_.clear();
    sent_.clear();
}

CameraSimulator::Clock::duration CameraSimulator::byteTime(std::uint32_t baud) const
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(bitsPerByte) / baud));
}

CameraSimulator::Clock::time_point CameraSimulator::exposureEnd() const
{
    return exposure_.start
           + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(exposure_.seconds * timeScale_));
}

void CameraSimulator::run()
{
    // Line pacing sleeps for a fifth of a millisecond at a time; the default
    // timer slack would add a quarter to that.
    if (options_.pace)
        ::prctl(PR_SET_TIMERSLACK, 1UL);

    std::uint64_t seenPowerCycles = powerCycles_;
    std::array<std::uint8_t, 512> buffer{};
    while (!stopping_) {
        if (hangUpNow()) {
            rx_.clear();
        }
        if (powerCycles_ != seenPowerCycles) {
            seenPowerCycles = powerCycles_;
            rx_.clear();
        }

        auto wakeAt = Clock::now() + 200ms;
        {
            std::lock_guard lock(mutex_);
            if (exposure_.active)
                wakeAt = std::min(wakeAt, exposureEnd());
        }
        const auto timeout = std::max(std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now()), 0ms);
        const auto result = pty_.read(buffer, timeout);
        {
            std::lock_guard lock(mutex_);
            if (exposure_.active && Clock::now() >= exposureEnd())
                finishExposure();
        }
        if (result.status == PseudoTerminal::Status::ok)
            hear(buffer.data(), result.count, Clock::now());
    }
}

void CameraSimulator::hear(const std::uint8_t* bytes, std::size_t count, Clock::time_point readAt)
{
    std::uint32_t baud = 0;
    {
        std::lock_guard lock(mutex_);
        if (faults_.hangUpAfterReplies && stats_.replies >= *faults_.hangUpAfterReplies) {
            hangUpRequested_ = true;
            return;
        }
        if (faults_.silent || (faults_.silentAfterReplies && stats_.replies >= *faults_.silentAfterReplies)) {
            stats_.strayBytes += count;
            rx_.clear();
            return;
        }
        baud = baud_;
    }
    const auto line = pty_.lineSpeed();
    if (!line || line->baud != baud) {
        std::lock_guard lock(mutex_);
        stats_.garbageBytes += count;
        rx_.clear();
        return;
    }

    const auto perByte = byteTime(baud);
    // A frame comes in one burst; a pause inside one means a byte went
    // missing, and what was gathered so far would swallow the next frame.
    if (!rx_.empty() && readAt - lastHeard_ > std::max<Clock::duration>(20ms, 3 * perByte)) {
        std::lock_guard lock(mutex_);
        stats_.strayBytes += rx_.size();
        rx_.clear();
    }
    lastHeard_ = readAt;
    {
        std::lock_guard lock(mutex_);
        stats_.bytesHeard += count;
    }

    rxLineFree_ = std::max(rxLineFree_, readAt);
    for (std::size_t i = 0; i < count; ++i) {
        if (options_.pace)
            rxLineFree_ += perByte;
        rx_.push_back(bytes[i]);
        for (;;) {
            const int length = frameLength();
            if (length < 0) {
                rx_.erase(rx_.begin());
                std::lock_guard lock(mutex_);
                ++stats_.strayBytes;
                continue;
            }
            if (length == 0 || rx_.size() < static_cast<std::size_t>(length))
                break;
            const std::vector<std::uint8_t> frame(rx_.begin(), rx_.begin() + length);
            rx_.erase(rx_.begin(), rx_.begin() + length);
            const Reply reply = handleFrame(frame);
            if (!reply.bytes.empty())
                send(reply, rxLineFree_);
        }
    }
}

int CameraSimulator::frameLength() const
{
    if (rx_.empty())
        return 0;
    const std::uint8_t first = rx_[0];
    if (first == st4::writeRamCommand) {
        if (rx_.size() < 2)
            return 0;
        // Byte 1 counts the three bytes after it that precede the data.
        return rx_[1] >= 3 ? rx_[1] + 3 : -1;
    }
    if (first == st4::readRamCommand)
        return 6;
    if (first >= st4::rowRequestBase)
        return 2;
    return -1;
}

CameraSimulator::Reply CameraSimulator::handleFrame(const std::vector<std::uint8_t>& frame)
{
    std::lock_guard lock(mutex_);
    const int length = static_cast<int>(frame.size());
    const bool good = checksumOk(frame.data(), length);
    keepLast(received_, ReceivedFrame{frame, good}, options_.recordLimit);
    Reply reply;
    const auto reject = [&] {
        ++stats_.framesRejected;
        return Reply{};
    };
    if (!good)
        return reject();

    const std::uint8_t command = frame[0];
    if (command == st4::writeRamCommand || command == st4::readRamCommand) {
        if (frame[2] != ramSpace)
            return reject();
        const int address = frame[3] | (frame[4] << 8);
        if (command == st4::writeRamCommand) {
            const int n = length - 6;
            bool startsExposure = false;
            for (int k = 0; k < n; ++k) {
                const int at = address + k;
                if (at >= static_cast<int>(ram_.size()))
                    break;
                ram_[static_cast<std::size_t>(at)] = frame[static_cast<std::size_t>(5 + k)];
                startsExposure = startsExposure || at == st4::ram::mode;
                if (at == st4::ram::divisor)
                    reply.newBaud = baudForDivisor(ram_[st4::ram::divisor]);
            }
            if (startsExposure)
                startExposure();
            reply.bytes = {st4::acknowledgement};
        } else {
            const int n = frame[1];
            reply.bytes.reserve(static_cast<std::size_t>(n + 3));
            reply.bytes.push_back(st4::readRamCommand);
            reply.bytes.push_back(static_cast<std::uint8_t>(n));
            for (int k = 0; k < n; ++k) {
                const int at = address + k;
                reply.bytes.push_back(at < static_cast<int>(ram_.size()) ? ram_[static_cast<std::size_t>(at)] : 0);
            }
            reply.bytes.push_back(0);
            setChecksum(reply.bytes.data(), static_cast<int>(reply.bytes.size()));
        }
    } else {
        const int row = command - st4::rowRequestBase;
        if (row >= st4::rowCount)
            return reject();
        if (faults_.hangUpAtRow == row) {
            faults_.hangUpAtRow.reset();
            hangUpRequested_ = true;
            return Reply{};
        }
        const auto payload = encodeRow(lastFrame_.data() + row * st4::rowWidth, lastCompressed_);
        reply.bytes.reserve(payload.size() + st4::rowFrameOverhead);
        reply.bytes.push_back(command);
        reply.bytes.push_back(static_cast<std::uint8_t>(payload.size()));
        reply.bytes.insert(reply.bytes.end(), payload.begin(), payload.end());
        reply.bytes.push_back(0);
        setChecksum(reply.bytes.data(), static_cast<int>(reply.bytes.size()));
    }
    ++stats_.framesAccepted;
    return reply;
}

void CameraSimulator::startExposure()
{
    // The program writes the busy bits itself; a camera that started without
    // them would still be busy.
    const auto mode = static_cast<std::uint8_t>(ram_[st4::ram::mode] | st4::busyBits);
    ram_[st4::ram::mode] = mode;
    exposure_.active = true;
    exposure_.start = Clock::now();
    exposure_.seconds = (ram_[st4::ram::exposure] | (ram_[st4::ram::exposure + 1] << 8)) / 100.0;
    exposure_.mode = mode;
    exposure_.gain = ram_[st4::ram::gain];
    exposure_.baseline = ram_[st4::ram::baseline];
    exposure_.subtraction = ram_[st4::ram::subtraction];
    ++stats_.exposuresStarted;
}

void CameraSimulator::finishExposure()
{
    const std::uint8_t mode = exposure_.mode;
    const bool shutterOpen = (mode & shutterOpenBit) != 0;
    const double skyTime = std::chrono::duration<double>(Clock::now() - skyStart_).count();
    const auto charge = sky_.expose(skyTime, exposure_.seconds, shutterOpen, exposureNumber_++);
    const auto digitized = digitize(charge, exposure_.gain, exposure_.baseline);

    // The kept dark frame is the plain readout, so that subtracting it in
    // the camera gives what the program gets subtracting a downloaded one.
    if (!shutterOpen)
        darkFrame_ = digitized;
    std::vector<std::uint8_t> frame(digitized.size());
    const bool subtractDark = shutterOpen && (mode & subtractDarkBit);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        int v = digitized[i];
        if (subtractDark)
            v -= darkFrame_[i];
        v -= exposure_.subtraction;
        frame[i] = static_cast<std::uint8_t>(std::max(v, 0));
    }
    if (mode & smoothBit)
        frame = smooth(frame);
    lastFrame_ = std::move(frame);
    lastCompressed_ = (mode & compressBit) != 0;

    // In a dark frame's mode byte 0x04 is busy too: the frame is being kept.
    const std::uint8_t busy = shutterOpen ? st4::busyBits : static_cast<std::uint8_t>(st4::busyBits | st4::darkBusyBit);
    ram_[st4::ram::mode] = static_cast<std::uint8_t>(ram_[st4::ram::mode] & ~busy);
    exposure_.active = false;
    ++stats_.exposuresFinished;
}

bool CameraSimulator::pause(Clock::time_point until)
{
    for (;;) {
        if (stopping_ || hangUpRequested_)
            return false;
        if (Clock::now() >= until)
            return true;
        pty_.waitUntil(until);
    }
}

void CameraSimulator::send(const Reply& reply, Clock::time_point notBefore)
{
    if (hangUpRequested_)
        return;
    const std::uint64_t powerCycles = powerCycles_;
    std::uint32_t baud = 0;
    CameraFaults faults;
    {
        std::lock_guard lock(mutex_);
        baud = baud_;
        faults = faults_;
    }
    SentReply record{reply.bytes, {}};
    const auto line = pty_.lineSpeed();
    const bool heard = line && line->baud == baud;

    // Which bytes arrive, and as what; positions keep the line time of the
    // bytes that are lost.
    std::vector<std::size_t> positions;
    if (heard) {
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        std::uniform_int_distribution<int> flip(1, 255);
        for (std::size_t k = 0; k < reply.bytes.size(); ++k) {
            if (chance(lineNoise_) < faults.dropFraction)
                continue;
            std::uint8_t b = reply.bytes[k];
            if (chance(lineNoise_) < faults.corruptFraction)
                b = static_cast<std::uint8_t>(b ^ flip(lineNoise_));
            record.onWire.push_back(b);
            positions.push_back(k);
        }
    }

    // Kept before the first byte goes: whoever has read the reply can count
    // on finding it here.
    {
        std::lock_guard lock(mutex_);
        ++stats_.replies;
        stats_.bytesSent += reply.bytes.size();
        keepLast(sent_, record, options_.recordLimit);
    }

    std::size_t delivered = 0;
    if (!options_.pace) {
        if (!record.onWire.empty())
            delivered = pty_.write(record.onWire, 1s).count;
    } else {
        // Byte k is in the program's hands when its stop bit ends.
        const auto perByte = byteTime(baud);
        const auto start = std::max({notBefore, txLineFree_, Clock::now()});
        txLineFree_ = start + static_cast<Clock::rep>(reply.bytes.size()) * perByte;
        std::size_t next = 0;
        while (next < positions.size()) {
            if (!pause(start + static_cast<Clock::rep>(positions[next] + 1) * perByte) || powerCycles_ != powerCycles)
                break;
            const auto now = Clock::now();
            std::size_t end = next;
            while (end < positions.size() && start + static_cast<Clock::rep>(positions[end] + 1) * perByte <= now)
                ++end;
            const auto result = pty_.write(std::span(record.onWire).subspan(next, end - next), 1s);
            delivered += result.count;
            if (result.status != PseudoTerminal::Status::ok)
                break;
            next = end;
        }
        pause(txLineFree_);
    }

    std::lock_guard lock(mutex_);
    stats_.bytesDelivered += delivered;
    // The acknowledgement of a new divisor still goes out at the old rate.
    if (reply.newBaud != 0 && powerCycles_ == powerCycles)
        baud_ = reply.newBaud;
}

}  // namespace tarvi::sim
