#pragma once

#include <string>
#include <string_view>

#include "platform/ui.h"

namespace tarvi::fuzz {

// Counts the message boxes a reader shows; says nothing.
class CountingUi final : public Ui {
public:
    Answer messageBox(std::string_view, std::string_view, Buttons, BoxStyle) override
    {
        ++boxes;
        return Answer::ok;
    }
    void setStatusText(int, std::string_view) override {}
    void beginWaitCursor() override {}
    void endWaitCursor() override {}
    InputSeen lookForInput() override { return {}; }
    void playSound(const std::string&) override {}
    void beep() override {}

    int boxes = 0;
};

}  // namespace tarvi::fuzz
