#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace tarvi::test {

class FakeClock;

// Records every box, status text, cursor change and sound; answers boxes from
// a script, and with the box's safe way out (OK, Cancel, No) once the script
// is used up. Given the desktop's own Ui, it passes everything but the boxes
// and sounds on to it, so that the windows paint and the event loop runs.
class FakeUi final : public Ui {
public:
    struct Box {
        std::string text;
        std::string caption;  // the title the box showed
        Buttons buttons;
        BoxStyle style;
    };

    std::vector<Box> boxes;
    std::vector<std::pair<int, std::string>> statusTexts;
    std::deque<Answer> answers;
    std::vector<std::string> sounds;
    std::vector<std::pair<int, int>> progress;
    int beeps = 0;
    int waitDepth = 0;
    int waitCursorShown = 0;  // how many times the cursor became the wait cursor
    // Looks for input, and steps that took none.
    int looks = 0;
    int steps = 0;
    // Decides what each look reports; nothing went by when unset.
    std::function<InputSeen()> onLook;
    // Told of every look and step, so that it can tell waits apart.
    FakeClock* clock = nullptr;
    Ui* desktop = nullptr;
    // Called with every box before it is answered.
    std::function<void(const Box&)> onBox;
    // Called with every status text as it is set.
    std::function<void(int pane, const std::string& text)> onStatus;

    Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons,
                      BoxStyle style) override;
    void setStatusText(int pane, std::string_view text) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    InputSeen lookForInput() override;
    void betweenSteps() override;
    void setProgress(int done, int total) override;
    void playSound(const std::string& wavPath) override { sounds.push_back(wavPath); }
    void beep() override { ++beeps; }

    // The texts of the boxes shown so far, oldest first.
    std::vector<std::string> boxTexts() const;
    // The text pane shows now; empty when nothing was set.
    std::string paneText(int pane) const;
};

}  // namespace tarvi::test
