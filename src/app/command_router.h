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
    // Runs the routine of the command; false when there is none, or when
    // the gate refuses it.
    bool route(int commandId) const;

    // Decides whether a command may run now; with tell set it says why not.
    using Gate = std::function<bool(Handler handler, bool tell)>;
    void setGate(Gate gate) { gate_ = std::move(gate); }
    // Whether the gate lets the command run now, without a word.
    bool allowed(int commandId) const;

private:
    std::array<std::function<void()>, handlerCount> routines_;
    Gate gate_;
};

}  // namespace tarvi
