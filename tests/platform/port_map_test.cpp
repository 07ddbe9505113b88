#include "platform/port_map.h"

#include <gtest/gtest.h>

#include "platform/ini_file.h"
#include "platform/serial_port.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

TEST(PortMap, WithoutAPortsSectionTheNamesAreTheFirstFourSerialDevices)
{
    test::TempDir dir;
    const PortMap map = PortMap::read(IniFile(dir.file("tarvi.ini")));
    EXPECT_EQ(map.device(0), "/dev/ttyS0");
    EXPECT_EQ(map.device(1), "/dev/ttyS1");
    EXPECT_EQ(map.device(2), "/dev/ttyS2");
    EXPECT_EQ(map.device(3), "/dev/ttyS3");
    EXPECT_EQ(map.device(4), "");
    EXPECT_EQ(map.device(-1), "");
}

TEST(PortMap, PortsSectionNamesTheDevices)
{
    test::TempDir dir;
    test::writeFile(dir.file("tarvi.ini"),
                    "[st4Settings150]\nValues=0 0 0 1 1 0 .5 0 0 0 0 0 0 1 -1 -1 0\n\n"
                    "[Ports]\n"
                    "COM1=/dev/serial/by-id/usb-0403_6001_A1B2C3-if00-port0\n"
                    "com2 = sim:telescope\n"
                    "COM3=\n"
                    "COM4=tcp:127.0.0.1:4030\n");
    const std::string before = test::readFile(dir.file("tarvi.ini"));
    const PortMap map = PortMap::read(IniFile(dir.file("tarvi.ini")));
    EXPECT_EQ(map.device(0), "/dev/serial/by-id/usb-0403_6001_A1B2C3-if00-port0");
    EXPECT_EQ(map.device(1), "sim:telescope");
    EXPECT_EQ(map.device(2), "/dev/ttyS2");  // an empty entry keeps the default
    EXPECT_EQ(map.device(3), "tcp:127.0.0.1:4030");
    EXPECT_EQ(test::readFile(dir.file("tarvi.ini")), before);
}

TEST(PortMap, PortNamesAreComOneToFour)
{
    EXPECT_EQ(PortMap::portName(0), "com1");
    EXPECT_EQ(PortMap::portName(3), "com4");
}

class NullPort final : public SerialPort {
public:
    explicit NullPort(int* closed) : closed_(closed) {}
    ~NullPort() override { ++*closed_; }
    SysError setQueueSizes(std::size_t, std::size_t) override { return {}; }
    SysError getLineSettings(LineSettings&) override { return {}; }
    SysError setLineSettings(const LineSettings&) override { return {}; }
    SysError getTimeouts(PortTimeouts&) override { return {}; }
    SysError setTimeouts(const PortTimeouts&) override { return {}; }
    SysError clearErrors(PortStatus&) override { return {}; }
    SysError discardInput() override { return {}; }
    IoResult read(std::span<std::uint8_t>) override { return {}; }
    IoResult write(std::span<const std::uint8_t> bytes) override { return {bytes.size(), {}}; }

private:
    int* closed_;
};

TEST(PortTable, HandlesNameOpenPortsUntilClosedAndAreNeverReused)
{
    PortTable table;
    int closed = 0;
    const int first = table.add(std::make_unique<NullPort>(&closed));
    const int second = table.add(std::make_unique<NullPort>(&closed));
    EXPECT_NE(first, PortTable::closed);
    EXPECT_NE(second, PortTable::closed);
    EXPECT_NE(first, second);
    EXPECT_NE(table.find(first), nullptr);

    EXPECT_TRUE(table.close(first));
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(table.find(first), nullptr);
    EXPECT_FALSE(table.close(first));
    EXPECT_FALSE(table.close(PortTable::closed));
    EXPECT_EQ(table.find(PortTable::closed), nullptr);

    const int third = table.add(std::make_unique<NullPort>(&closed));
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.add(nullptr), PortTable::closed);
}

}  // namespace
}  // namespace tarvi
