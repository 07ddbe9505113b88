#include "platform/waits.h"

#include <algorithm>

namespace tarvi {

PumpReport pumpedWait(Ui& ui, Clock& clock, std::int64_t ms, PumpMode mode,
                      const std::function<bool(const PumpReport&)>& until)
{
    PumpReport seen = ui.pumpMessages(mode);
    const std::int64_t end = clock.nowMs() + std::max<std::int64_t>(ms, 0);
    for (;;) {
        if (until && until(seen))
            return seen;
        const std::int64_t left = end - clock.nowMs();
        if (left <= 0)
            return seen;
        clock.sleepMs(std::min(left, pumpSliceMs));
        seen |= ui.pumpMessages(mode);
    }
}

}  // namespace tarvi
