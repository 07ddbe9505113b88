#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

namespace tarvi {

// The desktop as the program's logic sees it: message boxes, the status bar,
// the wait cursor, the input that device work looks for, and sound. The Qt
// main window implements it; tests use a fake that records everything and
// answers from a script.

enum class Buttons { ok, okCancel, retryCancel, yesNo, yesNoCancel };

enum class Answer { ok, cancel, retry, yes, no };

struct BoxStyle {
    // The box comes to the front even when another program has the focus.
    bool setForeground = false;
    // The box has no owner window (used before the main window exists).
    bool noOwner = false;
};

// What input went by since device work last looked for it.
struct InputSeen {
    bool escapeTyped = false;
    bool leftButtonPressed = false;
    bool leftButtonReleased = false;

    InputSeen& operator|=(const InputSeen& other)
    {
        escapeTyped = escapeTyped || other.escapeTyped;
        leftButtonPressed = leftButtonPressed || other.leftButtonPressed;
        leftButtonReleased = leftButtonReleased || other.leftButtonReleased;
        return *this;
    }
};

// Escape typed, left button presses and releases, counted as they reach the
// program's windows, from the GUI thread. A device session compares them
// with what it saw last where its routines look for input.
struct InputTally {
    std::atomic<unsigned> escapes{0};
    std::atomic<unsigned> leftPresses{0};
    std::atomic<unsigned> leftReleases{0};
};

// The answer of a box closed without a choice, and at exit: OK, Cancel or No.
inline Answer safeAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::ok:
        return Answer::ok;
    case Buttons::yesNo:
        return Answer::no;
    default:
        return Answer::cancel;
    }
}

class Ui {
public:
    // The caption every box carries when the caller names none.
    static constexpr std::string_view applicationTitle = "Tarvi";

    virtual ~Ui() = default;

    // An empty caption means the application title.
    virtual Answer messageBox(std::string_view text, std::string_view caption = {},
                              Buttons buttons = Buttons::ok, BoxStyle style = {}) = 0;
    // The same box, shown without waiting: `answered` is called with the
    // answer once there is one. Where boxes are not shown on their own (a
    // console, a test's script) it is answered at once.
    virtual void openMessageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style,
                                std::function<void(Answer)> answered)
    {
        answered(messageBox(text, caption, buttons, style));
    }

    // Pane 0 carries messages and read-outs (the camera's countdown among
    // them), pane 1 the camera's speed and version, telescopePane the
    // telescope's messages.
    static constexpr int telescopePane = 4;
    virtual void setStatusText(int pane, std::string_view text) = 0;

    // Nested calls count: the cursor comes back after the last end.
    virtual void beginWaitCursor() = 0;
    virtual void endWaitCursor() = 0;

    // Device work looks for input here, between its steps: the Escape typed
    // and the left-button presses and releases since it last looked. On a
    // device's own thread the session's boundary runs first: its urgent work
    // and whatever else may go between two exchanges.
    virtual InputSeen lookForInput() = 0;
    // Device work between two steps that takes no input: the boundary alone.
    virtual void betweenSteps() {}

    // A progress bar beside the message pane: done of total; a total of 0
    // takes it away. Places without one ignore it.
    virtual void setProgress(int done, int total)
    {
        (void)done;
        (void)total;
    }

    // Starts the wave file and returns at once; a missing or unplayable file
    // gives the desktop beep instead.
    virtual void playSound(const std::string& wavPath) = 0;
    virtual void beep() = 0;
};

class WaitCursor {
public:
    explicit WaitCursor(Ui& ui) : ui_(ui) { ui_.beginWaitCursor(); }
    ~WaitCursor() { ui_.endWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    Ui& ui_;
};


inline std::string_view captionOrTitle(std::string_view caption)
{
    return caption.empty() ? Ui::applicationTitle : caption;
}

}  // namespace tarvi
