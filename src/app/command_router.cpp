#include "app/command_router.h"

namespace tarvi {

void CommandRouter::setHandler(Handler handler, std::function<void()> routine)
{
    routines_[static_cast<std::size_t>(handler)] = std::move(routine);
}

bool CommandRouter::hasHandler(Handler handler) const
{
    return static_cast<bool>(routines_[static_cast<std::size_t>(handler)]);
}

bool CommandRouter::route(int commandId) const
{
    const Command* command = findCommand(commandId);
    if (command == nullptr || !hasHandler(command->handler))
        return false;
    if (gate_ && !gate_(command->handler, true))
        return false;
    // A copy, so that a routine may replace its own entry while it runs.
    const auto routine = routines_[static_cast<std::size_t>(command->handler)];
    routine();
    return true;
}

bool CommandRouter::allowed(int commandId) const
{
    const Command* command = findCommand(commandId);
    return command != nullptr && (!gate_ || gate_(command->handler, false));
}

}  // namespace tarvi
