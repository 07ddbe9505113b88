#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "platform/ui.h"

namespace tarvi {

// The conversion dialog's outputType.
inline constexpr int fitsOutput = 0;
inline constexpr int bmpOutput = 1;

enum class ConversionInput { bmp, fits, unknown };

// ASCII letters only: the extension test and the output name need no more.
std::string lowerCased(std::string text);

// Decided on the last four characters of the lower-cased path: ".bmp", or
// ".fit" and ".fts".
ConversionInput conversionInputOf(const std::string& path);

// The lower-cased path's name after its last "/", less its last four
// characters, with ".fit" (fitsOutput) or ".bmp" (bmpOutput) appended.
std::string conversionOutputName(const std::string& path, int outputType);
std::string conversionOutputPath(const std::string& outputDir, const std::string& path, int outputType);

struct ConversionJob {
    std::string outputDir;
    int outputType = fitsOutput;
    std::vector<std::string> fileList;  // in the order they were chosen
    double gamma1 = 1.0;
    double gamma2 = 1.0;
    // The dialog passes over a file of another kind in silence (its file
    // chooser offers only the three kinds); the command line says so.
    bool reportUnknownTypes = false;
};

struct ConversionResult {
    int total = 0;
    int converted = 0;
    int notConverted = 0;    // refused, unknown, failed to read or to write
    bool cancelled = false;  // stopped early: the files after were not tried
    bool allConverted() const { return converted == total; }
};

// Lets a window show how far a run is and stop it.
class ConversionProgress {
public:
    virtual ~ConversionProgress() = default;
    // Called before each file with the number done so far, and once more at
    // the end with done == total. True asks the run to stop before the next
    // file; at the end the answer is not used.
    virtual bool cancelled(int done, int total) = 0;
};

// Converts every file of the list into outputDir on a new image object held
// in conversionImage (a left-over one is destroyed first; the slot is empty
// again at the end). Files are opened by the names the user gave. The
// readers and writers report their own failures through ui and the run goes
// on. A file whose output would replace one of the run's own input files is
// not converted: a 16-bit FITS file converted to FITS into its own directory
// would otherwise be replaced by an 8-bit copy.
ConversionResult runConversion(const ConversionJob& job, std::unique_ptr<bmp>& conversionImage, Ui& ui,
                               ConversionProgress* progress = nullptr);

}  // namespace tarvi
