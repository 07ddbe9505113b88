#include "support/fake_ui.h"

namespace tarvi::test {

namespace {
Answer safeAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::ok: return Answer::ok;
    case Buttons::yesNo: return Answer::no;
    case Buttons::okCancel:
    case Buttons::retryCancel:
    case Buttons::yesNoCancel: return Answer::cancel;
    }
    return Answer::cancel;
}
}  // namespace

Answer FakeUi::messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style)
{
    boxes.push_back({std::string(text), std::string(captionOrTitle(caption)), buttons, style});
    if (answers.empty())
        return safeAnswer(buttons);
    const Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

void FakeUi::setStatusText(int pane, std::string_view text)
{
    statusTexts.emplace_back(pane, std::string(text));
}

void FakeUi::beginWaitCursor()
{
    if (waitDepth++ == 0)
        ++waitCursorShown;
}

void FakeUi::endWaitCursor()
{
    if (waitDepth > 0)
        --waitDepth;
}

PumpReport FakeUi::pumpMessages(PumpMode mode)
{
    ++pumps;
    return onPump ? onPump(mode) : PumpReport{};
}

void FakeUi::playSound(const std::string& wavPath)
{
    sounds.push_back(wavPath);
}

std::string FakeUi::paneText(int pane) const
{
    for (auto it = statusTexts.rbegin(); it != statusTexts.rend(); ++it) {
        if (it->first == pane)
            return it->second;
    }
    return {};
}

}  // namespace tarvi::test
