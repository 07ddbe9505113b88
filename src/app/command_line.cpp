#include "app/command_line.h"

#include <charconv>
#include <system_error>
#include <string_view>

#include "app/settings.h"

namespace tarvi {

CommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine line;
    bool optionsEnded = false;
    for (const auto& argument : arguments) {
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            line.files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version" || argument == "-v") {
            line.version = true;
        } else if (argument == "--simulate") {
            line.simulate = true;
        } else if (argument == "--desktop") {
            line.desktop = true;
        } else if (argument == "--share-telescope") {
            line.shareTelescopePort = TelescopeSharing::defaultPort;
        } else if (argument.starts_with("--share-telescope=")) {
            const std::string_view value = std::string_view(argument).substr(18);
            int port = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
            if (error == std::errc() && end == value.data() + value.size() && port >= 1 && port <= 65535)
                line.shareTelescopePort = port;
            else if (line.error.empty())
                line.error = "'" + std::string(value) + "' is not a TCP port (1 to 65535)";
        } else if (line.error.empty()) {
            line.error = "unknown option '" + argument + "'";
        }
    }
    return line;
}

std::string usageText(const std::string& programName)
{
    return "Usage: " + programName + " [OPTION]... [FILE]...\n"
           "  or:  " + programName + " convert --to fits|bmp --out DIR [--gamma1 G] [--gamma2 G] FILE...\n"
           "Camera, telescope and image program for the observing night.\n"
           "\n"
           "Opens each FILE (a 24-bit BMP or a FITS file) in an image window.\n"
           "Settings are kept in tarvi.ini in the directory Tarvi starts in.\n"
           "\n"
           "      --desktop   keep tarvi.ini, objects.txt and the last capture in\n"
           "                  ~/.config/tarvi, as the desktop menu starts Tarvi\n"
           "      --simulate  use the built-in simulated camera on COM1 and the\n"
           "                  simulated telescope on COM2 for this run\n"
           "      --share-telescope[=PORT]\n"
           "                  serve the telescope to planetarium programs on this\n"
           "                  computer over TCP port PORT (default 4030) for this run\n"
           "  -h, --help      show this help and exit\n"
           "  -v, --version   show the version and exit\n"
           "\n"
           "'" + programName + " convert' converts BMP and FITS files without a window;\n"
           "'" + programName + " convert --help' tells how. To open a file named convert,\n"
           "write ./convert.\n";
}

}  // namespace tarvi
