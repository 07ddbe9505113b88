#include "app/command_line.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tarvi {
namespace {

struct LineCase {
    std::vector<std::string> arguments;
    bool help;
    bool version;
    std::vector<std::string> files;
    std::string error;
};

void PrintTo(const LineCase& c, std::ostream* out)
{
    for (const auto& argument : c.arguments)
        *out << argument << ' ';
}

class CommandLineCases : public ::testing::TestWithParam<LineCase> {};

TEST_P(CommandLineCases, Parses)
{
    const auto& c = GetParam();
    const CommandLine line = parseCommandLine(c.arguments);
    EXPECT_EQ(line.help, c.help);
    EXPECT_EQ(line.version, c.version);
    EXPECT_EQ(line.files, c.files);
    EXPECT_EQ(line.error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineCases,
    ::testing::Values(LineCase{{}, false, false, {}, ""},
                      LineCase{{"m42.bmp"}, false, false, {"m42.bmp"}, ""},
                      LineCase{{"a.fit", "b.bmp"}, false, false, {"a.fit", "b.bmp"}, ""},
                      LineCase{{"--help"}, true, false, {}, ""},
                      LineCase{{"-h"}, true, false, {}, ""},
                      LineCase{{"--version"}, false, true, {}, ""},
                      LineCase{{"--", "--help"}, false, false, {"--help"}, ""},
                      LineCase{{"-"}, false, false, {"-"}, ""},
                      LineCase{{"--frobnicate", "x.bmp"}, false, false, {"x.bmp"}, "unknown option '--frobnicate'"},
                      LineCase{{"-x", "-y"}, false, false, {}, "unknown option '-x'"},
                      LineCase{{"--simulate", "m42.bmp"}, false, false, {"m42.bmp"}, ""}));

TEST(CommandLine, SimulateIsAnOptionOfItsOwn)
{
    EXPECT_TRUE(parseCommandLine({"--simulate"}).simulate);
    EXPECT_TRUE(parseCommandLine({"--desktop", "m42.bmp"}).desktop);
    EXPECT_FALSE(parseCommandLine({"m42.bmp"}).simulate);
    EXPECT_FALSE(parseCommandLine({"--", "--simulate"}).simulate);
}

TEST(CommandLine, ShareTelescopeTakesAPortOrTheUsualOne)
{
    const struct {
        std::vector<std::string> arguments;
        int port;
        std::string error;
    } cases[] = {
        {{"m42.bmp"}, 0, ""},
        {{"--share-telescope"}, 4030, ""},
        {{"--share-telescope=10001"}, 10001, ""},
        {{"--share-telescope=65535"}, 65535, ""},
        {{"--share-telescope=0"}, 0, "'0' is not a TCP port (1 to 65535)"},
        {{"--share-telescope=65536"}, 0, "'65536' is not a TCP port (1 to 65535)"},
        {{"--share-telescope=40x"}, 0, "'40x' is not a TCP port (1 to 65535)"},
        {{"--share-telescope="}, 0, "'' is not a TCP port (1 to 65535)"},
    };
    for (const auto& c : cases) {
        const CommandLine line = parseCommandLine(c.arguments);
        EXPECT_EQ(line.shareTelescopePort, c.port) << c.arguments[0];
        EXPECT_EQ(line.error, c.error) << c.arguments[0];
    }
}

TEST(CommandLine, UsageNamesTheOptions)
{
    const std::string usage = usageText("tarvi");
    EXPECT_EQ(usage.rfind("Usage: tarvi [OPTION]... [FILE]...\n", 0), 0u);
    EXPECT_NE(usage.find("--help"), std::string::npos);
    EXPECT_NE(usage.find("--version"), std::string::npos);
    EXPECT_NE(usage.find("simulated camera on COM1"), std::string::npos);
    EXPECT_NE(usage.find("simulated telescope on COM2"), std::string::npos);
}

TEST(CommandLine, UsageNamesTheConvertCommand)
{
    const std::string usage = usageText("tarvi");
    EXPECT_NE(usage.find("tarvi convert --to fits|bmp --out DIR [--gamma1 G] [--gamma2 G] FILE...\n"),
              std::string::npos);
    EXPECT_NE(usage.find("tarvi convert --help"), std::string::npos);
}

}  // namespace
}  // namespace tarvi
