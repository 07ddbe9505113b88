#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "camera/st4_protocol.h"
#include "sim/line_device.h"
#include "sim/pseudo_terminal.h"
#include "sim/sky.h"

namespace tarvi::sim {

// What goes wrong on the line between the camera and the program. Drops and
// corruption hit the bytes the camera sends, each byte on its own chance.
struct CameraFaults {
    double dropFraction = 0;     // lost on the way
    double corruptFraction = 0;  // arrive with other bits
    bool silent = false;         // the camera hears nothing and says nothing
    // Counted in replies since the start, so that a test can stop the camera
    // at a chosen point of a download: after that many replies it hears
    // nothing more, or the next bytes the program sends find the line dead.
    // The line goes when the program writes rather than after the last
    // reply, so that the program has had the chance to read that reply.
    std::optional<std::uint64_t> silentAfterReplies;
    std::optional<std::uint64_t> hangUpAfterReplies;
    // The request for this row finds the line dead, once.
    std::optional<int> hangUpAtRow;
};

struct CameraOptions {
    int startSpeedIndex = st4::speedIndex9600;  // into st4::baudRates: the camera's speed at power-on
    // Real seconds per exposure second: 1 waits out the exposure, 0 finishes
    // it at once.
    double timeScale = 1.0;
    // Every byte, both ways, takes its line time at the camera's speed: 11
    // bits for 8 data bits, parity and one start and one stop bit.
    bool pace = false;
    CameraFaults faults;
    std::uint32_t seed = 1;  // of the faults; the sky has its own
    std::uint8_t version = 3;
    SkyOptions sky;
    // Frames and replies kept for inspection, the oldest going first.
    std::size_t recordLimit = 4096;
};

// A frame the camera took in whole, whether or not its checksum held.
struct ReceivedFrame {
    std::vector<std::uint8_t> bytes;
    bool checksumOk = false;
};

struct SentReply {
    std::vector<std::uint8_t> bytes;   // as the camera sent them
    std::vector<std::uint8_t> onWire;  // what the line delivered: empty when the program's side was at another speed
};

struct CameraStats {
    std::uint64_t bytesHeard = 0;    // received at the camera's speed
    std::uint64_t garbageBytes = 0;  // received while the program's side was at another speed
    std::uint64_t strayBytes = 0;    // heard but part of no frame, or heard while silent
    std::uint64_t framesAccepted = 0;
    std::uint64_t framesRejected = 0;  // bad checksum or a request the camera does not know
    std::uint64_t replies = 0;
    std::uint64_t bytesSent = 0;       // before the line's faults
    std::uint64_t bytesDelivered = 0;  // written to the program's side
    std::uint64_t exposuresStarted = 0;
    std::uint64_t exposuresFinished = 0;
};

// An ST-4 camera on the far side of a pseudo-terminal, run on a thread of its
// own: camera RAM, exposures with their busy bits, a dark frame it keeps, raw
// and compressed rows, and a line speed set by a divisor. It hears and
// answers only while the program's side of the line is set to the camera's
// speed, as a UART at another rate sees only framing errors.
//
// All public members may be called from any thread.
class CameraSimulator final : public LineDevice {
public:
    // Throws std::system_error when no pseudo-terminal can be had and
    // std::invalid_argument for a start speed outside 0..3.
    explicit CameraSimulator(const CameraOptions& options = {});
    ~CameraSimulator();
    CameraSimulator(const CameraSimulator&) = delete;
    CameraSimulator& operator=(const CameraSimulator&) = delete;

    // The camera loses power and comes back: 9600 baud, RAM as at power-on,
    // no dark frame, any exposure lost.
    void powerCut();
    void setFaults(const CameraFaults& faults);
    void setSilent(bool silent);
    // Applies to the exposure under way too.
    void setTimeScale(double timeScale);

    std::uint32_t baud() const;
    std::array<std::uint8_t, 256> ram() const;
    // The frame that the row requests return now, camera row 0 first: the
    // last exposure's, after the camera's own dark subtraction, subtraction
    // constant and smoothing.
    std::vector<std::uint8_t> lastFrame() const;
    // The dark frame the camera keeps for subtraction, as digitized.
    std::vector<std::uint8_t> darkFrame() const;
    // Every whole frame heard, oldest first.
    std::vector<ReceivedFrame> receivedFrames() const;
    // Every reply, entered as its first byte goes out.
    std::vector<SentReply> sentReplies() const;
    CameraStats stats() const;
    void clearTraffic();

private:
    using Clock = std::chrono::steady_clock;

    struct Exposure {
        bool active = false;
        Clock::time_point start;
        double seconds = 0;
        std::uint8_t mode = 0;
        std::uint8_t gain = 255;
        std::uint8_t baseline = 0;
        std::uint8_t subtraction = 0;
    };
    // What a frame leaves to do once its reply is on the line.
    struct Reply {
        std::vector<std::uint8_t> bytes;
        std::uint32_t newBaud = 0;  // the divisor was written
    };

    void run() override;
    void powerOn(int speedIndex);
    void hear(const std::uint8_t* bytes, std::size_t count, Clock::time_point readAt);
    // The length of the frame that starts rx_, 0 while unknown, -1 when rx_[0]
    // begins no frame the camera knows.
    int frameLength() const;
    Reply handleFrame(const std::vector<std::uint8_t>& frame);
    void startExposure();
    void finishExposure();
    void send(const Reply& reply, Clock::time_point notBefore);
    bool pause(Clock::time_point until);
    Clock::duration byteTime(std::uint32_t baud) const;
    Clock::time_point exposureEnd() const;

    CameraOptions options_;
    Sky sky_;
    const Clock::time_point skyStart_;

    mutable std::mutex mutex_;
    std::array<std::uint8_t, 256> ram_{};
    std::uint32_t baud_ = 9600;
    Exposure exposure_;
    bool lastCompressed_ = false;
    std::uint64_t exposureNumber_ = 0;
    std::vector<std::uint8_t> lastFrame_;
    std::vector<std::uint8_t> darkFrame_;
    CameraFaults faults_;
    double timeScale_ = 1.0;
    std::deque<ReceivedFrame> received_;
    std::deque<SentReply> sent_;
    CameraStats stats_;

    // The rest belongs to the camera's thread.
    std::vector<std::uint8_t> rx_;
    Clock::time_point lastHeard_;
    Clock::time_point rxLineFree_;
    Clock::time_point txLineFree_;
    std::mt19937_64 lineNoise_;

    std::atomic<std::uint64_t> powerCycles_{0};
};

}  // namespace tarvi::sim
