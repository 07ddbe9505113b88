#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock.h"
#include "platform/ui.h"

namespace tarvi {

// While device work waits, the event loop turns at least this often, so that
// the windows paint and input is seen.
inline constexpr std::int64_t pumpSliceMs = 50;

// Waits ms by the clock in slices of at most pumpSliceMs, pumping events at
// the start and after every slice. What went by is reported; the wait ends
// early once `until` holds for what went by so far.
PumpReport pumpedWait(Ui& ui, Clock& clock, std::int64_t ms, PumpMode mode = PumpMode::all,
                      const std::function<bool(const PumpReport&)>& until = {});

}  // namespace tarvi
