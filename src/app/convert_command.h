#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvi {

// tarvi convert --to fits|bmp --out DIR [--gamma1 G] [--gamma2 G] FILE...
struct ConvertArguments {
    bool help = false;
    int outputType = -1;  // fitsOutput or bmpOutput once --to is given
    std::string outputDir;
    double gamma1 = 1.0;
    double gamma2 = 1.0;
    std::vector<std::string> files;
    std::string error;  // set when the line cannot be used
};

inline constexpr int convertAllConverted = 0;
inline constexpr int convertSomeNotConverted = 1;
inline constexpr int convertUsageError = 2;

// The arguments after "convert". Options take their value as the next
// argument or after "="; "--" makes everything after it a file name.
ConvertArguments parseConvertArguments(const std::vector<std::string>& arguments);

std::string convertUsageText(const std::string& programName);

// Runs the command without a window: help goes to out; message boxes and
// usage errors go to err, one line each. Returns the exit status.
int runConvertCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace tarvi
