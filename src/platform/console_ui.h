#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "platform/ui.h"

namespace tarvi {

// Ui for runs without a window: each message box becomes one line
// "caption: text", on a stream or handed to a function, and is answered
// with its safe way out (OK, Cancel, No). Status texts, cursors and sounds
// have nowhere to go.
class ConsoleUi final : public Ui {
public:
    explicit ConsoleUi(std::ostream& out);
    explicit ConsoleUi(std::function<void(const std::string& line)> said) : said_(std::move(said)) {}

    // The text on one line: line breaks, with the blanks around them, become
    // one space; those at either end go.
    static std::string oneLine(std::string_view text);

    Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons,
                      BoxStyle style) override;
    void setStatusText(int, std::string_view) override {}
    void beginWaitCursor() override {}
    void endWaitCursor() override {}
    InputSeen lookForInput() override { return {}; }
    void playSound(const std::string&) override {}
    void beep() override {}

private:
    std::function<void(const std::string& line)> said_;
};

}  // namespace tarvi
