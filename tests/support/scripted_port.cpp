#include "support/scripted_port.h"

#include <algorithm>
#include <cerrno>

namespace tarvi::test {

SysError ScriptedPort::setQueueSizes(std::size_t, std::size_t)
{
    return script_->failQueueSizes ? SysError(EINVAL) : SysError();
}

SysError ScriptedPort::getLineSettings(LineSettings& settings)
{
    settings = script_->current;
    return {};
}

SysError ScriptedPort::setLineSettings(const LineSettings& settings)
{
    script_->lineSettingsSet.push_back(settings);
    if (script_->failLineSettings)
        return SysError(EINVAL);
    script_->current = settings;
    return {};
}

SysError ScriptedPort::getTimeouts(PortTimeouts& timeouts)
{
    timeouts = script_->timeouts;
    return {};
}

SysError ScriptedPort::setTimeouts(const PortTimeouts& timeouts)
{
    script_->timeoutsSet.push_back(timeouts);
    script_->timeouts = timeouts;
    return {};
}

SysError ScriptedPort::clearErrors(PortStatus& status)
{
    status.ctsHold = script_->ctsHold;
    return {};
}

SysError ScriptedPort::discardInput()
{
    ++script_->discards;
    script_->arrivals.clear();
    return {};
}

IoResult ScriptedPort::read(std::span<std::uint8_t> buffer)
{
    script_->readSizes.push_back(buffer.size());
    if (script_->deviceError != 0)
        return {0, SysError(script_->deviceError)};
    if (script_->arrivals.empty())
        return {};
    Bytes& burst = script_->arrivals.front();
    const std::size_t n = std::min(buffer.size(), burst.size());
    std::copy_n(burst.begin(), n, buffer.begin());
    burst.erase(burst.begin(), burst.begin() + static_cast<std::ptrdiff_t>(n));
    if (burst.empty())
        script_->arrivals.pop_front();
    return {n, {}};
}

IoResult ScriptedPort::write(std::span<const std::uint8_t> bytes)
{
    if (script_->deviceError != 0)
        return {0, SysError(script_->deviceError)};
    const std::size_t n = std::min(bytes.size(), script_->writeLimit);
    Bytes written(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    script_->writes.push_back(written);
    if (script_->device)
        script_->device(written);
    return {n, {}};
}

std::shared_ptr<PortScript> ScriptedOpener::add(const std::string& device)
{
    auto script = std::make_shared<PortScript>();
    scripts_[device] = script;
    return script;
}

PortOpener::Result ScriptedOpener::open(const std::string& device)
{
    opened.push_back(device);
    if (const auto refused = refusals.find(device); refused != refusals.end())
        return {nullptr, SysError(refused->second)};
    const auto it = scripts_.find(device);
    if (it == scripts_.end())
        return {nullptr, SysError(ENOENT)};
    return {std::make_unique<ScriptedPort>(it->second), {}};
}

}  // namespace tarvi::test
