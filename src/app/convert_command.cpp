#include "app/convert_command.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <ostream>

#include "image/conversion.h"
#include "platform/console_ui.h"

namespace tarvi {

namespace {

constexpr double smallestGamma = 0.0;
constexpr double largestGamma = 100.0;

// from_chars ignores the desktop's locale, which would read "0.5" as 0 where
// the decimal point is a comma.
std::optional<double> parseGamma(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    if (value < smallestGamma || value > largestGamma)
        return std::nullopt;
    return value;
}

struct OptionValue {
    std::string name;
    std::optional<std::string> value;  // given after "="
};

OptionValue splitOption(const std::string& argument)
{
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos)
        return {argument, std::nullopt};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

bool takesValue(const std::string& name)
{
    return name == "--to" || name == "--out" || name == "--gamma1" || name == "--gamma2";
}

void setOnce(std::string& error, const std::string& text)
{
    if (error.empty())
        error = text;
}

}  // namespace

ConvertArguments parseConvertArguments(const std::vector<std::string>& arguments)
{
    ConvertArguments line;
    bool optionsEnded = false;
    bool outputDirGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            line.files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            line.help = true;
            continue;
        }
        OptionValue option = splitOption(argument);
        if (!takesValue(option.name)) {
            setOnce(line.error, "unknown option '" + argument + "'");
            continue;
        }
        if (!option.value) {
            if (i + 1 == arguments.size()) {
                setOnce(line.error, "option '" + option.name + "' needs a value");
                continue;
            }
            option.value = arguments[++i];
        }
        const std::string& value = *option.value;
        if (option.name == "--to") {
            if (value == "fits")
                line.outputType = fitsOutput;
            else if (value == "bmp")
                line.outputType = bmpOutput;
            else
                setOnce(line.error, "--to must be fits or bmp, not '" + value + "'");
        } else if (option.name == "--out") {
            if (value.empty())
                setOnce(line.error, "--out needs a directory");
            line.outputDir = value;
            outputDirGiven = true;
        } else {
            double& gamma = option.name == "--gamma1" ? line.gamma1 : line.gamma2;
            if (const auto parsed = parseGamma(value))
                gamma = *parsed;
            else
                setOnce(line.error, option.name + " must be a number between 0 and 100, not '" + value + "'");
        }
    }
    if (line.outputType < 0)
        setOnce(line.error, "--to fits or --to bmp is missing");
    if (!outputDirGiven)
        setOnce(line.error, "--out DIR is missing");
    if (line.files.empty())
        setOnce(line.error, "no files to convert");
    return line;
}

std::string convertUsageText(const std::string& programName)
{
    return "Usage: " + programName + " convert --to fits|bmp --out DIR [--gamma1 G] [--gamma2 G] FILE...\n"
           "Converts BMP and FITS files into FITS or BMP files in DIR, without a window,\n"
           "as Image > Conversion... does.\n"
           "\n"
           "Each FILE must end in .bmp, .fit or .fts, in any case. The new file is named\n"
           "after it in lower case with the new ending: M42.BMP becomes DIR/m42.fit.\n"
           "A file already in DIR is replaced, except one of the FILEs themselves: those\n"
           "are never written over. A BMP converted to FITS keeps its red channel; FITS\n"
           "data of more than 8 bits is brought to 8 bits through the two gammas.\n"
           "\n"
           "  --to fits|bmp  the kind of file to write\n"
           "  --out DIR      the directory the new files go to\n"
           "  --gamma1 G     first conversion gamma, 0 to 100 (default 1)\n"
           "  --gamma2 G     second conversion gamma, 0 to 100 (default 1)\n"
           "  -h, --help     show this help and exit\n"
           "\n"
           "Messages go to standard error, one line each, as \"caption: text\".\n"
           "Exit status: 0 when every FILE was converted, 1 when one or more were not,\n"
           "2 when the command line cannot be used.\n";
}

int runConvertCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    const ConvertArguments line = parseConvertArguments(arguments);
    if (line.help) {
        out << convertUsageText("tarvi");
        return convertAllConverted;
    }
    if (!line.error.empty()) {
        err << "tarvi convert: " << line.error << "\nTry 'tarvi convert --help' for more information.\n";
        return convertUsageError;
    }

    ConsoleUi ui(err);
    ConversionJob job;
    job.outputDir = line.outputDir;
    job.outputType = line.outputType;
    job.fileList = line.files;
    job.gamma1 = line.gamma1;
    job.gamma2 = line.gamma2;
    job.reportUnknownTypes = true;
    std::unique_ptr<bmp> conversionImage;
    const ConversionResult result = runConversion(job, conversionImage, ui);
    if (result.allConverted())
        return convertAllConverted;
    err << "tarvi convert: " << result.converted << " of " << result.total << " files converted\n";
    return convertSomeNotConverted;
}

}  // namespace tarvi
