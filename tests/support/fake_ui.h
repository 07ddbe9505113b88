#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace tarvi::test {

// Records every box, status text, cursor change and sound; answers boxes from
// a script, and with the box's safe way out (OK, Cancel, No) once the script
// is used up.
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
    int pumps = 0;
    // Decides what each pump reports; nothing went by when unset.
    std::function<PumpReport(PumpMode)> onPump;

    Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons,
                      BoxStyle style) override;
    void setStatusText(int pane, std::string_view text) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    PumpReport pumpMessages(PumpMode mode) override;
    void setProgress(int done, int total) override { progress.emplace_back(done, total); }
    void playSound(const std::string& wavPath) override;
    void beep() override { ++beeps; }

    // The text pane shows now; empty when nothing was set.
    std::string paneText(int pane) const;
};

}  // namespace tarvi::test
