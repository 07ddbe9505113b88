#pragma once

#include <string>
#include <string_view>

namespace tarvi {

// The title a new document gets: "Tarvi1", "Tarvi2", ...
std::string untitledTitle(int number);

// After an averaging run the new window's title says how many frames it holds:
// "Tarvi3" becomes "Tarvi3AveOf10".
std::string averagedTitle(std::string_view title, int frameCount);

// Save As proposes the title with ".bmp" appended unless the title's first
// ".bmp" already ends it: "Tarvi2" -> "Tarvi2.bmp", "m42.bmp" stays,
// "a.bmp.x" -> "a.bmp.x.bmp".
std::string proposeSaveAsName(std::string_view title);

enum class ImageFormat { none, bmp, fits };

// What Save As writes: ".bmp" or ".fit" must be the first occurrence of that
// ending and end the path, in that case exactly ("shot.FIT" is neither).
ImageFormat saveAsFormat(std::string_view path);

// What a path is read as: its last four characters in lower case, ".bmp", or
// ".fit" / ".fts" for FITS.
ImageFormat readFormat(std::string_view path);

// What File > Save writes to a document's own path: FITS where the document
// came from a FITS file (BMP bytes under a FITS name could not be read back),
// BMP otherwise.
ImageFormat saveFormat(std::string_view path);

}  // namespace tarvi
