#pragma once

#include <string>
#include <vector>

namespace tarvi {

struct CommandLine {
    bool help = false;
    bool version = false;
    bool simulate = false;  // COM1 and COM2 are the simulated camera and telescope for this run
    // Started from the desktop menu: settings in the user's configuration
    // directory instead of the directory Tarvi starts in.
    bool desktop = false;
    // The telescope served on this TCP port (loopback only) for this run; 0: as tarvi.ini says.
    int shareTelescopePort = 0;
    std::vector<std::string> files;
    std::string error;  // set when the line cannot be used
};

// Reads the arguments after the program name. Options start with "-"; "--"
// makes everything after it a file name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText(const std::string& programName);

}  // namespace tarvi
