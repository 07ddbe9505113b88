#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <libindi/indiccd.h>

#include "app/tarvi_app.h"
#include "platform/clock.h"
#include "platform/console_ui.h"
#include "platform/device_opener.h"
#include "platform/device_session.h"
#include "platform/wake_queue.h"

namespace tarvi::indi {

// Work from the camera's thread, run on the driver's event loop, where
// every INDI call is made.
class LoopQueue {
public:
    LoopQueue();
    ~LoopQueue();
    LoopQueue(const LoopQueue&) = delete;
    LoopQueue& operator=(const LoopQueue&) = delete;

    void post(std::function<void()> fn) { queue_.post(std::move(fn)); }

private:
    WakeQueue queue_;
    int callback_ = -1;
};

// The ST-4 camera as an INDI CCD: the program's own camera link, its port
// opener and its speed search, run on a camera thread of the driver's own.
class St4Ccd final : public INDI::CCD {
public:
    St4Ccd();
    ~St4Ccd() override;

    const char* getDefaultName() override { return "Tarvi ST-4"; }
    bool initProperties() override;
    bool updateProperties() override;
    void ISGetProperties(const char* dev) override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

protected:
    bool Connect() override;
    bool Disconnect() override;
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type) override;
    void addFITSKeywords(INDI::CCDChip* chip) override;
    bool saveConfigItems(FILE* fp) override;
    void TimerHit() override;

private:
    // What an exposure sends the camera, read on the event loop and used on
    // the camera's thread.
    struct Choices {
        int gainIndex = 0;
        bool antiBloom = false;
        bool compressed = true;
        int baseline = 0;
        int wantedSpeed = 0;
        std::string port;
    };
    Choices choices() const;
    void apply(const Choices& choices);
    // Runs job on the camera's thread and waits for it (connecting only).
    void runAndWait(const std::function<void()>& job);
    void finishExposure(std::uint64_t number, CTarviApp::FrameResult result, int width, int x);
    void showSpeed(int speedIndex, int version);
    void countDown();
    void stopCountdown();
    double secondsSinceStart() const;

    LoopQueue loop_;
    // What the program's camera routines would show in a box goes to the
    // clients' log; the box gets its safe answer.
    ConsoleUi ui_;
    SystemClock clock_;
    DeviceOpener opener_;
    CTarviApp app_;

    IText portT_[1]{};
    ITextVectorProperty portTP_{};
    ISwitch speedS_[4]{};
    ISwitchVectorProperty speedSP_{};
    INumber gainN_[1]{};
    INumberVectorProperty gainNP_{};
    INumber offsetN_[1]{};
    INumberVectorProperty offsetNP_{};
    ISwitch antiBloomS_[2]{};
    ISwitchVectorProperty antiBloomSP_{};
    ISwitch compressionS_[2]{};
    ISwitchVectorProperty compressionSP_{};
    INumber versionN_[1]{};
    INumberVectorProperty versionNP_{};

    // The exposure under way: its number (a stop applies to it alone), its
    // length and start for the countdown.
    std::uint64_t exposureNumber_ = 0;
    std::mutex stopMutex_;
    std::uint64_t current_ = 0;  // under stopMutex_
    double duration_ = 0;
    std::chrono::steady_clock::time_point started_;
    int countdownTimer_ = -1;
    bool configLoaded_ = false;

    // Last: its thread ends, with its jobs, before anything above goes.
    std::unique_ptr<DeviceSession> session_;
};

}  // namespace tarvi::indi
