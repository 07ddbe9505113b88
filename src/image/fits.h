#pragma once

// Internals of the BMP and FITS readers and writers, kept apart so that they
// can be tested on their own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvi {

namespace imagefile {

// Pictures whose pixel array, or whose data in the file, would pass this size
// are refused, so that a damaged header cannot make us ask for gigabytes.
inline constexpr std::uint64_t largestImageBytes = std::uint64_t{1} << 30;

// Byte count of a pixel array, wide enough for any header's numbers.
std::uint64_t pixelArrayBytes(std::int64_t width, std::int64_t rows);

// Reads until count bytes are in, the file ends or a read fails; the number
// of bytes read.
std::size_t readFully(int fd, void* buffer, std::size_t count);
std::size_t preadFully(int fd, void* buffer, std::size_t count, std::uint64_t offset);

// "<path> <reason> \nNo image will be displayed.", the wording of the
// zero-length file.
std::string noImageText(const std::string& path, std::string_view reason);

// Says that a file holds only `got` of the `promised` bytes of pixel data
// that its header announces.
std::string truncatedText(const std::string& path, std::uint64_t got, std::uint64_t promised);

}  // namespace imagefile

namespace fits {

inline constexpr std::size_t blockSize = 2880;
inline constexpr std::size_t cardSize = 80;

// What the reader takes from the header. A keyword counts only in the
// keyword field, columns 1 to 8, so a COMMENT or HISTORY card that mentions
// one cannot change the picture; a later card overrides an earlier one.
struct Header {
    std::optional<std::int64_t> bitpix;
    std::optional<std::int64_t> naxis1;
    std::optional<std::int64_t> naxis2;
    double bzero = 0.0;   // the standard's default
    double bscale = 1.0;  // the standard's default
    bool operator==(const Header&) const = default;
};

bool isEndCard(std::string_view card);
void readCard(std::string_view card, Header& header);
// Every card of a run of 80-character cards, in order (a short last card is
// read as far as it goes).
Header parseHeader(std::string_view cards);

// The value part of a card: blanks skipped, then as much of a number as the
// text holds; 0 when it holds none. Integers saturate instead of overflowing;
// the decimal point is always ".", whatever the user's locale.
std::int64_t parseInteger(std::string_view text);
double parseReal(std::string_view text);

// A 30-character card text: the keyword padded to 8 columns, "=" in column 9
// and the value right-aligned to end in column 30.
std::string integerCard(std::string_view keyword, std::int64_t value);
// The whole header block writeFits puts in front of a width x height picture:
// its nine cards, with `more` (80-column cards, at most 27 so that the header
// stays one block) between the HISTORY card and END.
std::string headerBlock(int width, int height, const std::vector<std::string>& more = {});

// What a capture records of its exposure when the user asks for observation
// keywords.
struct Observation {
    std::time_t start = 0;  // universal time at the start of the exposure
    double exposureSeconds = 0;
    bool dark = false;
    // As the telescope reported them at the start, when its port was open.
    std::optional<std::string> ra;
    std::optional<std::string> dec;
    std::string object;  // empty when the objects page holds no name
};

// DATE-OBS, EXPTIME, IMAGETYP, INSTRUME, and OBJCTRA, OBJCTDEC and OBJECT
// where known: fixed-format cards of 80 columns.
std::vector<std::string> observationCards(const Observation& observation);

// Bytes a pixel takes in the file for a BITPIX we read; 0 for any other.
int bytesPerPixel(std::int64_t bitpix);

// The grey level of a pixel of physical value p in a picture whose largest
// physical value is max: the first gamma stretches p / max onto 0..255 and
// is truncated; the second reshapes that level through a logarithm and an
// exponential and is truncated again. Any step without a finite result, and
// any p at or below 0, gives 0.
std::uint8_t grayLevel(double p, double max, double gamma1, double gamma2);

// grayLevel for many pixels of one picture: the second step depends only on
// the first step's level, so it is looked up, and a first gamma of 1.0 needs
// no power.
class GrayScale {
public:
    GrayScale(double max, double gamma1, double gamma2);
    std::uint8_t operator()(double p) const;

private:
    double max_;
    double inverseGamma1_;
    bool linear_;
    std::array<std::uint8_t, 256> secondStep_{};
};

// The grey level of every 16-bit raw value, indexed by the value's two bytes
// as they stand in the file read as one big-endian unsigned number.
using Raw16Table = std::array<std::uint8_t, 65536>;
void fillRaw16Table(Raw16Table& table, double bzero, double bscale, double max, double gamma1,
                    double gamma2);

}  // namespace fits
}  // namespace tarvi
