#include "platform/port_map.h"

#include <gtest/gtest.h>

#include "platform/ini_file.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

TEST(PortMap, PortsSectionNamesTheDevicesAndTheRestAreTheSerialDevices)
{
    test::TempDir dir;
    const std::string path = dir.file("tarvi.ini");
    const PortMap none = PortMap::read(IniFile(path));
    EXPECT_EQ(none.device(0), "/dev/ttyS0");
    EXPECT_EQ(none.device(3), "/dev/ttyS3");
    EXPECT_EQ(none.device(4), "");
    EXPECT_EQ(none.device(-1), "");
    const std::string text = "[Ports]\nCOM1=/dev/serial/by-id/usb-0403_6001-if00\ncom2 = sim:telescope\nCOM3=\n"
                             "COM4=tcp:127.0.0.1:4030\n";
    test::writeFile(path, text);
    const PortMap map = PortMap::read(IniFile(path));
    EXPECT_EQ(map.device(0), "/dev/serial/by-id/usb-0403_6001-if00");
    EXPECT_EQ(map.device(1), "sim:telescope");
    EXPECT_EQ(map.device(2), "/dev/ttyS2");  // an empty entry keeps the default
    EXPECT_EQ(map.device(3), "tcp:127.0.0.1:4030");
    EXPECT_EQ(test::readFile(path), text);
    EXPECT_EQ(PortMap::portName(3), "com4");
}

TEST(PortTable, HandlesNameOpenPortsUntilClosedAndAreNeverReused)
{
    PortTable table;
    const auto script = std::make_shared<test::PortScript>();
    const int first = table.add(std::make_unique<test::ScriptedPort>(script));
    const int second = table.add(std::make_unique<test::ScriptedPort>(std::make_shared<test::PortScript>()));
    EXPECT_NE(first, PortTable::closed);
    EXPECT_NE(first, second);
    EXPECT_NE(table.find(first), nullptr);
    EXPECT_TRUE(table.close(first));
    EXPECT_TRUE(script->closed);
    EXPECT_EQ(table.find(first), nullptr);
    EXPECT_FALSE(table.close(first));
    EXPECT_FALSE(table.close(PortTable::closed));
    const int third = table.add(std::make_unique<test::ScriptedPort>(std::make_shared<test::PortScript>()));
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.add(nullptr), PortTable::closed);
}

}  // namespace
}  // namespace tarvi
