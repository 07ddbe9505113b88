#include "platform/serial_port.h"

namespace tarvi {

int PortTable::add(std::unique_ptr<SerialPort> port)
{
    if (!port)
        return closed;
    const int handle = nextHandle_++;
    ports_.emplace(handle, std::move(port));
    return handle;
}

SerialPort* PortTable::find(int handle) const
{
    const auto it = ports_.find(handle);
    return it == ports_.end() ? nullptr : it->second.get();
}

bool PortTable::close(int handle)
{
    return ports_.erase(handle) != 0;
}

}  // namespace tarvi
