#include "platform/serial_port.h"

namespace tarvi {

int PortTable::add(std::unique_ptr<SerialPort> port)
{
    if (!port)
        return closed;
    const std::lock_guard lock(mutex_);
    const int handle = nextHandle_++;
    ports_.emplace(handle, std::move(port));
    return handle;
}

SerialPort* PortTable::find(int handle) const
{
    const std::lock_guard lock(mutex_);
    const auto it = ports_.find(handle);
    return it == ports_.end() ? nullptr : it->second.get();
}

bool PortTable::close(int handle)
{
    // The port closes outside the lock: its device may take a moment.
    std::unique_ptr<SerialPort> port;
    {
        const std::lock_guard lock(mutex_);
        const auto it = ports_.find(handle);
        if (it == ports_.end())
            return false;
        port = std::move(it->second);
        ports_.erase(it);
    }
    return true;
}

std::size_t PortTable::size() const
{
    const std::lock_guard lock(mutex_);
    return ports_.size();
}

}  // namespace tarvi
