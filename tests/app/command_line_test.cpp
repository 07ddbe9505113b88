#include "app/command_line.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

TEST(CommandLine, ArgumentsTable)
{
    const struct {
        std::vector<std::string> arguments;
        bool help, version, simulate, desktop;
        int port;
        std::vector<std::string> files;
        std::string error;
    } cases[] = {
        {{}, false, false, false, false, 0, {}, ""},
        {{"a.fit", "b.bmp"}, false, false, false, false, 0, {"a.fit", "b.bmp"}, ""},
        {{"--help"}, true, false, false, false, 0, {}, ""},
        {{"-h", "-v"}, true, true, false, false, 0, {}, ""},
        {{"--version"}, false, true, false, false, 0, {}, ""},
        {{"--", "--help", "--simulate"}, false, false, false, false, 0, {"--help", "--simulate"}, ""},
        {{"-", ""}, false, false, false, false, 0, {"-", ""}, ""},
        {{"--frobnicate", "x.bmp", "-y"}, false, false, false, false, 0, {"x.bmp"}, "unknown option '--frobnicate'"},
        {{"--simulate", "m42.bmp"}, false, false, true, false, 0, {"m42.bmp"}, ""},
        {{"--desktop"}, false, false, false, true, 0, {}, ""},
        {{"--share-telescope"}, false, false, false, false, 4030, {}, ""},
        {{"--share-telescope=1"}, false, false, false, false, 1, {}, ""},
        {{"--share-telescope=65535"}, false, false, false, false, 65535, {}, ""},
        {{"--share-telescope=0"}, false, false, false, false, 0, {}, "'0' is not a TCP port (1 to 65535)"},
        {{"--share-telescope=65536", "-x"}, false, false, false, false, 0, {}, "'65536' is not a TCP port (1 to 65535)"},
        {{"--share-telescope=40x"}, false, false, false, false, 0, {}, "'40x' is not a TCP port (1 to 65535)"},
        {{"--share-telescope="}, false, false, false, false, 0, {}, "'' is not a TCP port (1 to 65535)"},
    };
    for (const auto& c : cases) {
        const CommandLine line = parseCommandLine(c.arguments);
        const std::string at = c.arguments.empty() ? "" : c.arguments[0];
        EXPECT_EQ(line.help, c.help) << at;
        EXPECT_EQ(line.version, c.version) << at;
        EXPECT_EQ(line.simulate, c.simulate) << at;
        EXPECT_EQ(line.desktop, c.desktop) << at;
        EXPECT_EQ(line.shareTelescopePort, c.port) << at;
        EXPECT_EQ(line.files, c.files) << at;
        EXPECT_EQ(line.error, c.error) << at;
    }
}

}  // namespace
}  // namespace tarvi
