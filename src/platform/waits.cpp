#include "platform/waits.h"

#include <algorithm>

namespace tarvi {

namespace {

InputSeen look(Ui& ui, Looking looking)
{
    if (looking == Looking::forInput)
        return ui.lookForInput();
    ui.betweenSteps();
    return {};
}

}  // namespace

InputSeen deviceWait(Ui& ui, Clock& clock, std::int64_t ms, Looking looking,
                     const std::function<bool(const InputSeen&)>& until)
{
    InputSeen seen = look(ui, looking);
    const std::int64_t end = clock.nowMs() + std::max<std::int64_t>(ms, 0);
    for (;;) {
        if (until && until(seen))
            return seen;
        const std::int64_t left = end - clock.nowMs();
        if (left <= 0)
            return seen;
        clock.sleepMs(std::min(left, lookSliceMs));
        seen |= look(ui, looking);
    }
}

}  // namespace tarvi
