#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock.h"
#include "platform/ui.h"

namespace tarvi {

// While device work waits it looks up at least this often: for Escape and
// the left button, and for its session's urgent work.
inline constexpr std::int64_t lookSliceMs = 50;

// What a device's wait does at each look.
enum class Looking {
    forInput,  // takes the input that went by, and the boundary runs
    stepsOnly  // leaves the input for a later look; the boundary runs
};

// Waits ms by the clock in slices of at most lookSliceMs, looking at the
// start and after every slice. The input seen is reported; the wait ends
// early once `until` holds for what went by so far.
InputSeen deviceWait(Ui& ui, Clock& clock, std::int64_t ms, Looking looking = Looking::forInput,
                     const std::function<bool(const InputSeen&)>& until = {});

}  // namespace tarvi
