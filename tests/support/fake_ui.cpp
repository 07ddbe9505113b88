#include "support/fake_ui.h"

#include "support/fake_clock.h"

namespace tarvi::test {

Answer FakeUi::messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style)
{
    boxes.push_back({std::string(text), std::string(captionOrTitle(caption)), buttons, style});
    if (onBox)
        onBox(boxes.back());
    if (answers.empty())
        return safeAnswer(buttons);
    const Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

void FakeUi::setStatusText(int pane, std::string_view text)
{
    statusTexts.emplace_back(pane, std::string(text));
    if (desktop != nullptr)
        desktop->setStatusText(pane, text);
    if (onStatus)
        onStatus(pane, std::string(text));
}

void FakeUi::beginWaitCursor()
{
    if (waitDepth++ == 0)
        ++waitCursorShown;
    if (desktop != nullptr)
        desktop->beginWaitCursor();
}

void FakeUi::endWaitCursor()
{
    if (waitDepth == 0)
        return;
    --waitDepth;
    if (desktop != nullptr)
        desktop->endWaitCursor();
}

void FakeUi::setProgress(int done, int total)
{
    progress.emplace_back(done, total);
    if (desktop != nullptr)
        desktop->setProgress(done, total);
}

InputSeen FakeUi::lookForInput()
{
    ++looks;
    if (clock != nullptr)
        clock->looked();
    InputSeen seen = desktop != nullptr ? desktop->lookForInput() : InputSeen{};
    if (onLook)
        seen |= onLook();
    return seen;
}

void FakeUi::betweenSteps()
{
    ++steps;
    if (clock != nullptr)
        clock->looked();
    if (desktop != nullptr)
        desktop->betweenSteps();
}

std::vector<std::string> FakeUi::boxTexts() const
{
    std::vector<std::string> texts;
    for (const Box& box : boxes)
        texts.push_back(box.text);
    return texts;
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
