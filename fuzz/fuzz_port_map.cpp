// Any [Ports] section and any "tcp:" device: the map keeps to its four ports,
// and a network device reads as a host and a port of 1 to 65535 or not at all.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/ini_file.h"
#include "platform/port_map.h"
#include "platform/tcp_serial_port.h"
#include "check.h"

using tarvi::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = [] {
        char pattern[] = "/tmp/tarvi-fuzz-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        return std::string(dir != nullptr ? dir : "/tmp") + "/tarvi.ini";
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "[Ports]\n" << text;
    }
    const tarvi::PortMap map = tarvi::PortMap::read(tarvi::IniFile(path));
    for (int index = 0; index < tarvi::PortMap::portCount; ++index)
        check(map.device(index).size() < 4096);  // the longest value the map reads
    check(map.device(tarvi::PortMap::portCount).empty());

    for (const std::string& device : {text, "tcp:" + text}) {
        const auto address = tarvi::parseTcpDevice(device);
        if (!address)
            continue;
        check(!address->host.empty());
        check(!address->port.empty() && address->port.size() <= 5);
        check(address->port.find_first_not_of("0123456789") == std::string::npos);
        const long port = std::strtol(address->port.c_str(), nullptr, 10);
        check(port >= 1 && port <= 65535);
    }
    return 0;
}
