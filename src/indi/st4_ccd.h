#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <libindi/indiccd.h>

#include "app/tarvi_app.h"
#include "platform/clock.h"
#include "platform/device_opener.h"
#include "platform/device_session.h"

namespace tarvi::indi {

// Hands work from other threads to the driver's event loop, where every
// INDI call is made: a queue under a mutex and an eventfd the loop watches.
class LoopQueue {
public:
    LoopQueue();
    ~LoopQueue();
    LoopQueue(const LoopQueue&) = delete;
    LoopQueue& operator=(const LoopQueue&) = delete;

    void post(std::function<void()> fn);

private:
    static void ready(int fd, void* self);
    void runAll();

    int fd_ = -1;
    int callback_ = -1;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

// What the program's camera routines would show in a box: a line for the
// clients' log, and the box's safe answer. Status texts, cursors and sounds
// have nowhere to go.
class DriverUi final : public Ui {
public:
    std::function<void(const std::string&)> said;

    Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style) override;
    void setStatusText(int, std::string_view) override {}
    void beginWaitCursor() override {}
    void endWaitCursor() override {}
    InputSeen lookForInput() override { return {}; }
    void playSound(const std::string&) override {}
    void beep() override {}
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
    double secondsSinceStart() const;

    LoopQueue loop_;
    DriverUi ui_;
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
    // length and start for the countdown, and whether it is a dark frame.
    std::uint64_t exposureNumber_ = 0;
    std::mutex stopMutex_;
    std::uint64_t current_ = 0;  // under stopMutex_
    bool dark_ = false;
    double duration_ = 0;
    std::chrono::steady_clock::time_point started_;
    int countdownTimer_ = -1;
    bool configLoaded_ = false;

    // Last: its thread ends, with its jobs, before anything above goes.
    std::unique_ptr<DeviceSession> session_;
};

}  // namespace tarvi::indi
