#pragma once

#include <array>
#include <functional>

#include "app/command_table.h"

namespace tarvi {

// Sends a command identifier to the routine the command table names for it.
// A routine nobody has provided yet leaves its commands inert (and greyed, as
// the menus show them).
class CommandRouter {
public:
    void setHandler(Handler handler, std::function<void()> routine);
    bool hasHandler(Handler handler) const;
    // Runs the routine of the command; false when there is none.
    bool route(int commandId) const;

private:
    std::array<std::function<void()>, handlerCount> routines_;
};

}  // namespace tarvi
