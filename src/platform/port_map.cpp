#include "platform/port_map.h"

#include "platform/ini_file.h"

namespace tarvi {

namespace {
const std::string noDevice;
}

PortMap::PortMap()
{
    for (int i = 0; i < portCount; ++i)
        devices_[static_cast<std::size_t>(i)] = "/dev/ttyS" + std::to_string(i);
}

PortMap PortMap::read(const IniFile& ini)
{
    PortMap map;
    for (int i = 0; i < portCount; ++i) {
        const auto key = "COM" + std::to_string(i + 1);
        auto device = ini.readString("Ports", key, "", 4096);
        if (!device.empty())
            map.setDevice(i, std::move(device));
    }
    return map;
}

std::string PortMap::portName(int index)
{
    return "com" + std::to_string(index + 1);
}

const std::string& PortMap::device(int index) const
{
    if (index < 0 || index >= portCount)
        return noDevice;
    return devices_[static_cast<std::size_t>(index)];
}

void PortMap::setDevice(int index, std::string device)
{
    if (index >= 0 && index < portCount)
        devices_[static_cast<std::size_t>(index)] = std::move(device);
}

}  // namespace tarvi
