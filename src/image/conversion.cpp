#include "image/conversion.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>

namespace tarvi {

namespace {

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

// Two names may reach one file ("a.fit" and "./a.fit", links), so files are
// compared by what they are, not by how they are named.
std::optional<FileIdentity> identityOf(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}

bool endsWith(const std::string& text, std::string_view ending)
{
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::string notConvertedUnknown(const std::string& path)
{
    return "Cannot convert " + path + ": its name ends in none of .bmp, .fit and .fts.";
}

std::string notConvertedOwnInput(const std::string& path, const std::string& outputPath)
{
    return path + " not converted: its output " + outputPath +
           " would replace one of the files being converted.";
}

}  // namespace

std::string lowerCased(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

ConversionInput conversionInputOf(const std::string& path)
{
    const std::string lower = lowerCased(path);
    if (endsWith(lower, ".bmp"))
        return ConversionInput::bmp;
    if (endsWith(lower, ".fit") || endsWith(lower, ".fts"))
        return ConversionInput::fits;
    return ConversionInput::unknown;
}

std::string conversionOutputName(const std::string& path, int outputType)
{
    const std::string lower = lowerCased(path);
    const std::size_t slash = lower.rfind('/');
    std::string name = slash == std::string::npos ? lower : lower.substr(slash + 1);
    name.resize(name.size() >= 4 ? name.size() - 4 : 0);
    return name + (outputType == fitsOutput ? ".fit" : ".bmp");
}

std::string conversionOutputPath(const std::string& outputDir, const std::string& path, int outputType)
{
    return outputDir + "/" + conversionOutputName(path, outputType);
}

ConversionResult runConversion(const ConversionJob& job, std::unique_ptr<bmp>& conversionImage, Ui& ui,
                               ConversionProgress* progress)
{
    ConversionResult result;
    result.total = static_cast<int>(job.fileList.size());

    std::vector<FileIdentity> inputs;
    for (const std::string& path : job.fileList) {
        if (const auto identity = identityOf(path))
            inputs.push_back(*identity);
    }

    conversionImage.reset();
    conversionImage = std::make_unique<bmp>(ui);
    bmp& image = *conversionImage;

    int done = 0;
    for (const std::string& path : job.fileList) {
        if (progress != nullptr && progress->cancelled(done, result.total)) {
            result.cancelled = true;
            break;
        }
        ++done;

        const ConversionInput input = conversionInputOf(path);
        if (input == ConversionInput::unknown) {
            if (job.reportUnknownTypes)
                ui.messageBox(notConvertedUnknown(path));
            continue;
        }
        const std::string outputPath = conversionOutputPath(job.outputDir, path, job.outputType);
        const auto output = identityOf(outputPath);
        if (output && std::find(inputs.begin(), inputs.end(), *output) != inputs.end()) {
            ui.messageBox(notConvertedOwnInput(path, outputPath));
            continue;
        }

        const int wasRead = input == ConversionInput::bmp ? image.readBmp(path)
                                                       : image.readFits(path, job.gamma1, job.gamma2);
        if (wasRead == 0)
            continue;
        const int written = job.outputType == fitsOutput ? image.writeFits(outputPath) : image.writeBmp(outputPath);
        if (written != 0)
            ++result.converted;
    }
    if (progress != nullptr && !result.cancelled)
        progress->cancelled(result.total, result.total);

    result.notConverted = done - result.converted;
    conversionImage.reset();
    return result;
}

}  // namespace tarvi
