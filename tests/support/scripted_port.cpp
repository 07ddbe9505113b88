#include "support/scripted_port.h"

#include <algorithm>

namespace tarvi::test {

SysError ScriptedPort::setLineSettings(const LineSettings& settings)
{
    s_->lineSettingsSet.push_back(settings);
    if (s_->failLineSettings)
        return SysError(EINVAL);
    s_->current = settings;
    return {};
}

IoResult ScriptedPort::read(std::span<std::uint8_t> buffer)
{
    return readReply(buffer, {});
}

// A whole reply ends the read; the rest of its burst waits for the next one.
IoResult ScriptedPort::readReply(std::span<std::uint8_t> buffer, const ReplyComplete& complete)
{
    s_->readSizes.push_back(buffer.size());
    if (s_->deviceError != 0)
        return {0, SysError(s_->deviceError)};
    if (s_->arrivals.empty())
        return {};
    Bytes& burst = s_->arrivals.front();
    std::size_t n = 0;
    while (n < buffer.size() && n < burst.size()) {
        buffer[n] = burst[n];
        ++n;
        if (complete && complete(buffer.first(n)))
            break;
    }
    burst.erase(burst.begin(), burst.begin() + static_cast<std::ptrdiff_t>(n));
    if (burst.empty())
        s_->arrivals.pop_front();
    return {n, {}};
}

IoResult ScriptedPort::write(std::span<const std::uint8_t> bytes)
{
    if (s_->deviceError != 0)
        return {0, SysError(s_->deviceError)};
    const Bytes written(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), s_->writeLimit)));
    s_->writes.push_back(written);
    if (s_->device)
        s_->device(written);
    return {written.size(), {}};
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
