#pragma once

#include <functional>
#include <string>

#include "platform/serial_port.h"

namespace tarvi {

// Opens the devices the port map names: "tcp:HOST:PORT" as a TcpSerialPort,
// "sim:NAME" as the pseudo-terminal of the running simulator of that name,
// anything else as a device path. Failures keep the system's errno, so the
// caller can log the reason behind its own message.
class DeviceOpener final : public PortOpener {
public:
    // Given a simulator's name ("camera", "telescope"), the path of the slave
    // side of its pseudo-terminal; empty when no such simulator runs.
    using SimulatorHook = std::function<std::string(const std::string& name)>;

    DeviceOpener() = default;
    explicit DeviceOpener(SimulatorHook simulators) : simulators_(std::move(simulators)) {}

    void setSimulatorHook(SimulatorHook simulators) { simulators_ = std::move(simulators); }

    // "sim:NAME" with no hook, or with no simulator of that name, fails with
    // ENODEV.
    Result open(const std::string& device) override;

private:
    SimulatorHook simulators_;
};

// What to tell a user who may not open the device: the group that owns it,
// and how to join it.
std::string permissionAdvice(const std::string& device);

}  // namespace tarvi
