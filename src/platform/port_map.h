#pragma once

#include <array>
#include <string>

namespace tarvi {

class IniFile;

// What "COM1".."COM4" stand for on this machine. The program keeps showing the
// names com1..com4; section [Ports] of tarvi.ini says which device each one
// is: a device path, "sim:camera", "sim:telescope" or "tcp:HOST:PORT".
// The program reads the section and never writes it.
class PortMap {
public:
    static constexpr int portCount = 4;

    PortMap();  // /dev/ttyS0 .. /dev/ttyS3
    static PortMap read(const IniFile& ini);

    // "com1".."com4" for the indexes 0..3.
    static std::string portName(int index);

    // The device of port index 0..3; empty for any other index.
    const std::string& device(int index) const;
    void setDevice(int index, std::string device);

private:
    std::array<std::string, portCount> devices_;
};

}  // namespace tarvi
