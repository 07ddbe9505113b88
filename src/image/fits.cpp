#include "image/fits.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cstdio>
#include <limits>
#include <locale.h>
#include <memory>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "image/bmp.h"
#include "platform/safe_file.h"

namespace tarvi {

namespace imagefile {

std::size_t readFully(int fd, void* buffer, std::size_t count)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t preadFully(int fd, void* buffer, std::size_t count, std::uint64_t offset)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
            break;
        const ssize_t n = ::pread(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::uint64_t pixelArrayBytes(std::int64_t width, std::int64_t rows)
{
    return static_cast<std::uint64_t>((width * 3 + 3) / 4 * 4) * static_cast<std::uint64_t>(rows);
}

std::string noImageText(const std::string& path, std::string_view reason)
{
    return path + " " + std::string(reason) + " \nNo image will be displayed.";
}

std::string truncatedText(const std::string& path, std::uint64_t got, std::uint64_t promised)
{
    return path + " is truncated: it holds " + std::to_string(got) + " of the " + std::to_string(promised) +
           " bytes of pixel data its header promises.\nThe rest of the picture is shown black.";
}

}  // namespace imagefile

namespace fits {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view valueField(std::string_view card)
{
    return card.size() > 10 ? card.substr(10, cardSize - 10) : std::string_view{};
}

bool keywordIs(std::string_view card, std::string_view keyword)
{
    for (std::size_t i = 0; i < 8; ++i) {
        const char want = i < keyword.size() ? keyword[i] : ' ';
        const char have = i < card.size() ? card[i] : ' ';
        if (have != want)
            return false;
    }
    return true;
}

std::uint8_t secondStep(int level, double gamma2)
{
    const double b = 255.0 * std::exp(gamma2 * std::log(level / 255.0));
    if (!std::isfinite(b))
        return 0;
    return b >= 255.0 ? 255 : static_cast<std::uint8_t>(b);
}

}  // namespace

bool isEndCard(std::string_view card)
{
    if (card.substr(0, 3) != "END")
        return false;
    // The rest of the keyword field is blank; "ENDTIME" is a keyword of its own.
    for (std::size_t i = 3; i < 8 && i < card.size(); ++i) {
        if (card[i] != ' ' && card[i] != '\0')
            return false;
    }
    return true;
}

void readCard(std::string_view card, Header& header)
{
    if (keywordIs(card, "BITPIX"))
        header.bitpix = parseInteger(valueField(card));
    else if (keywordIs(card, "NAXIS1"))
        header.naxis1 = parseInteger(valueField(card));
    else if (keywordIs(card, "NAXIS2"))
        header.naxis2 = parseInteger(valueField(card));
    else if (keywordIs(card, "BZERO"))
        header.bzero = parseReal(valueField(card));
    else if (keywordIs(card, "BSCALE"))
        header.bscale = parseReal(valueField(card));
}

Header parseHeader(std::string_view cards)
{
    Header header;
    for (std::size_t at = 0; at < cards.size(); at += cardSize)
        readCard(cards.substr(at, cardSize), header);
    return header;
}

std::int64_t parseInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return negative ? -value : value;
}

double parseReal(std::string_view text)
{
    // Qt puts the user's locale in force, and a German one reads "1.5" as 1.
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    char buffer[cardSize + 1];
    const std::size_t length = std::min(text.size(), cardSize);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return cLocale != locale_t{} ? ::strtod_l(buffer, nullptr, cLocale) : std::strtod(buffer, nullptr);
}

std::string integerCard(std::string_view keyword, std::int64_t value)
{
    std::string card(30, ' ');
    card.replace(0, keyword.size(), keyword);
    card[8] = '=';
    const std::string digits = std::to_string(value);
    card.replace(card.size() - digits.size(), digits.size(), digits);
    return card;
}

namespace {

std::string card(std::string text)
{
    text.resize(cardSize, ' ');
    return text;
}

std::string keywordField(std::string_view keyword)
{
    std::string field(keyword);
    field.resize(8, ' ');
    return field + "= ";
}

// A character string: quoted, a quote inside doubled, at least eight
// characters between the quotes; only printable ASCII may stand in a header.
std::string stringCard(std::string_view keyword, std::string_view value, std::string_view comment = {})
{
    // A value too long for one card is cut, never split inside a doubled quote.
    std::string quoted = "'";
    for (const char c : value) {
        const std::size_t width = c == '\'' ? 2 : 1;
        if (quoted.size() + width > 68)
            break;
        const bool printable = c >= ' ' && c <= '~';
        quoted.append(width, printable ? c : '?');
    }
    while (quoted.size() < 9)
        quoted += ' ';
    quoted += '\'';
    std::string text = keywordField(keyword) + quoted;
    if (!comment.empty() && text.size() + 3 + comment.size() <= cardSize) {
        text.resize(std::max<std::size_t>(text.size(), 30), ' ');
        text += " / " + std::string(comment);
    }
    return card(std::move(text));
}

// A real number right-aligned to column 30, with a decimal point whatever
// the process's locale.
std::string realCard(std::string_view keyword, double value, std::string_view comment)
{
    char digits[32];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 3);
    std::string number = error == std::errc() ? std::string(digits, end) : std::string("0.0");
    while (number.ends_with('0') && !number.ends_with(".0"))
        number.pop_back();
    std::string text = keywordField(keyword) + std::string(20 - std::min<std::size_t>(20, number.size()), ' ') + number;
    return card(text + " / " + std::string(comment));
}

}  // namespace

std::vector<std::string> observationCards(const Observation& observation)
{
    std::tm utc{};
    ::gmtime_r(&observation.start, &utc);
    char date[80];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &utc);
    std::vector<std::string> cards = {
        stringCard("DATE-OBS", date, "UTC at the start of the exposure"),
        realCard("EXPTIME", observation.exposureSeconds, "[s] exposure time"),
        stringCard("IMAGETYP", observation.dark ? "Dark Frame" : "Light Frame"),
        stringCard("INSTRUME", "ST-4"),
    };
    if (observation.ra)
        cards.push_back(stringCard("OBJCTRA", *observation.ra, "as the telescope reported it"));
    if (observation.dec)
        cards.push_back(stringCard("OBJCTDEC", *observation.dec, "as the telescope reported it"));
    if (!observation.object.empty())
        cards.push_back(stringCard("OBJECT", observation.object));
    return cards;
}

std::string headerBlock(int width, int height, const std::vector<std::string>& more)
{
    const std::string cards[] = {
        "SIMPLE  =                    T",
        integerCard("BITPIX", 8),
        integerCard("NAXIS", 2),
        integerCard("NAXIS1", width),
        integerCard("NAXIS2", height),
        integerCard("DATAMIN", 0),
        integerCard("DATAMAX", 255),
        "HISTORY Created by Tarvi.     ",
    };
    std::string block(blockSize, ' ');
    std::size_t at = 0;
    const auto put = [&](std::string_view card) {
        if (at + cardSize > blockSize - cardSize)
            return;  // END keeps the last place
        block.replace(at, card.size(), card);
        at += cardSize;
    };
    for (const std::string& card : cards)
        put(card);
    for (const std::string& card : more)
        put(std::string_view(card).substr(0, cardSize));
    block.replace(at, 3, "END");
    return block;
}

int bytesPerPixel(std::int64_t bitpix)
{
    switch (bitpix) {
    case 8: return 1;
    case 16: return 2;
    case 32:
    case -32: return 4;
    case 64:
    case -64: return 8;
    default: return 0;
    }
}

std::uint8_t grayLevel(double p, double max, double gamma1, double gamma2)
{
    // Below the zero point is black: as a power, a negative ratio would come
    // out bright for a gamma of 0.5.
    if (!(p > 0.0))
        return 0;
    const double r = p / max;
    if (!std::isfinite(r))
        return 0;
    const double a = 255.0 * std::pow(r, 1.0 / gamma1);
    if (!std::isfinite(a))
        return 0;
    const int level = a >= 255.0 ? 255 : static_cast<int>(a);
    const double b = 255.0 * std::exp(gamma2 * std::log(level / 255.0));
    if (!std::isfinite(b))
        return 0;
    return b >= 255.0 ? 255 : static_cast<std::uint8_t>(b);
}

GrayScale::GrayScale(double max, double gamma1, double gamma2)
    : max_(max), inverseGamma1_(1.0 / gamma1), linear_(gamma1 == 1.0)
{
    for (int level = 0; level < 256; ++level)
        secondStep_[static_cast<std::size_t>(level)] = secondStep(level, gamma2);
}

std::uint8_t GrayScale::operator()(double p) const
{
    if (!(p > 0.0))
        return 0;
    const double r = p / max_;
    if (!std::isfinite(r))
        return 0;
    const double a = 255.0 * (linear_ ? r : std::pow(r, inverseGamma1_));
    if (!std::isfinite(a))
        return 0;
    return secondStep_[a >= 255.0 ? 255 : static_cast<std::size_t>(a)];
}

void fillRaw16Table(Raw16Table& table, double bzero, double bscale, double max, double gamma1, double gamma2)
{
    const GrayScale scale(max, gamma1, gamma2);
    for (std::size_t raw = 0; raw < table.size(); ++raw) {
        const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(raw));
        table[raw] = scale(value * bscale + bzero);
    }
}

}  // namespace fits

namespace {

// The data part of the file as far as the file holds it. It arrives in
// pieces, and each piece can be looked at while it is still in the cache;
// pixels that a short file lacks are never visited and stay black.
class DataPart {
public:
    DataPart(int fd, std::uint64_t offset, std::uint64_t bytes, int bytesPerPixel)
        : fd_(fd), offset_(offset), pixelBytes_(static_cast<std::size_t>(bytesPerPixel))
    {
        bytes_.resize(static_cast<std::size_t>(bytes));
    }

    // Reads the data, calling visit(bytes, firstPixel, count) for each run
    // of whole pixels as it comes in.
    template <typename Visit>
    void read(Visit visit)
    {
        std::size_t done = 0;
        while (done < bytes_.size()) {
            const std::size_t wanted = std::min(pieceBytes, bytes_.size() - done);
            const std::size_t got = imagefile::preadFully(fd_, bytes_.data() + done, wanted, offset_ + done);
            const std::size_t first = done / pixelBytes_;
            done += got;
            const std::size_t end = done / pixelBytes_;
            if (end > first)
                visit(static_cast<const std::uint8_t*>(bytes_.data() + first * pixelBytes_), first, end - first);
            if (got < wanted)
                break;
        }
        count_ = done / pixelBytes_;
        done_ = done;
    }

    std::uint64_t bytesRead() const { return done_; }

    // The pixels read, once more.
    template <typename Visit>
    void revisit(Visit visit) const
    {
        if (count_ > 0)
            visit(static_cast<const std::uint8_t*>(bytes_.data()), std::size_t{0}, count_);
    }

private:
    // A multiple of every pixel size.
    static constexpr std::size_t pieceBytes = std::size_t{1} << 20;

    int fd_;
    std::uint64_t offset_;
    std::size_t pixelBytes_;
    PixelBuffer bytes_;
    std::size_t count_ = 0;
    std::size_t done_ = 0;
};

// Hands convert(from, to, count) the part of a piece that falls in each
// picture row. The first row of the file is the top of the picture, the last
// row of the bottom-up pixel array.
template <typename Convert>
void intoRows(const std::uint8_t* bytes, std::size_t firstPixel, std::size_t count, std::size_t pixelBytes,
              bmpData& record, Convert convert)
{
    const auto width = static_cast<std::size_t>(record.width);
    const auto height = static_cast<std::size_t>(record.height);
    const auto stride = static_cast<std::size_t>(bmp::rowStrideFor(record.width));
    while (count > 0) {
        const std::size_t row = firstPixel / width;
        const std::size_t column = firstPixel % width;
        const std::size_t n = std::min(count, width - column);
        convert(bytes, record.pixels.data() + (height - 1 - row) * stride + 3 * column, n);
        bytes += n * pixelBytes;
        firstPixel += n;
        count -= n;
    }
}

void putGray(std::uint8_t* bgr, std::uint8_t gray)
{
    bgr[0] = gray;
    bgr[1] = gray;
    bgr[2] = gray;
}

std::uint16_t byteSwapped(std::uint16_t bits)
{
    return static_cast<std::uint16_t>(bits << 8 | bits >> 8);
}

std::int16_t raw16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] << 8 | p[1]));
}

void convert16(DataPart& data, const fits::Header& header, double gamma1, double gamma2, bmpData& record)
{
    // Kept in 16 bits so that the compiler can compare eight values at a time.
    std::int16_t lowest = std::numeric_limits<std::int16_t>::max();
    std::int16_t highest = std::numeric_limits<std::int16_t>::min();
    bool anyPixel = false;
    data.read([&](const std::uint8_t* bytes, std::size_t, std::size_t count) {
        anyPixel = true;
        std::int16_t low = lowest;
        std::int16_t high = highest;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int16_t value = raw16(bytes + 2 * i);
            low = value < low ? value : low;
            high = value > high ? value : high;
        }
        lowest = low;
        highest = high;
    });
    if (!anyPixel)
        return;
    const double scale = header.bscale;
    const double zero = header.bzero;
    const double pLowest = lowest * scale + zero;
    const double pHighest = highest * scale + zero;
    double max = 0.0;
    if (std::isfinite(pLowest) && std::isfinite(pHighest)) {
        // value * BSCALE + BZERO rises or falls with the value, rounding
        // included, so the largest physical value sits at one end.
        max = std::max({0.0, pLowest, pHighest});
    } else {
        std::vector<bool> seen(65536, false);
        data.revisit([&](const std::uint8_t* bytes, std::size_t, std::size_t count) {
            for (std::size_t i = 0; i < count; ++i)
                seen[static_cast<std::uint16_t>(raw16(bytes + 2 * i))] = true;
        });
        for (std::size_t bits = 0; bits < seen.size(); ++bits) {
            const double p = static_cast<std::int16_t>(static_cast<std::uint16_t>(bits)) * scale + zero;
            if (seen[bits] && std::isfinite(p) && p > max)
                max = p;
        }
    }
    auto levels = std::make_unique<fits::Raw16Table>();
    fits::fillRaw16Table(*levels, zero, scale, max, gamma1, gamma2);
    // Each entry holds the grey byte three times, so that one four-byte store
    // writes a pixel (the fourth byte is overwritten by the next pixel), and
    // is found under the two bytes as a plain load of this machine sees them.
    auto triples = std::make_unique_for_overwrite<std::uint32_t[]>(levels->size());
    for (std::size_t bits = 0; bits < levels->size(); ++bits) {
        const auto fileOrder = static_cast<std::uint16_t>(bits);
        const std::uint16_t inMemory = std::endian::native == std::endian::big ? fileOrder : byteSwapped(fileOrder);
        triples[inMemory] = std::uint32_t{(*levels)[bits]} * 0x010101u;
    }
    const std::uint32_t* table = triples.get();
    data.revisit([&](const std::uint8_t* bytes, std::size_t firstPixel, std::size_t count) {
        intoRows(bytes, firstPixel, count, 2, record, [table](const std::uint8_t* from, std::uint8_t* to, std::size_t n) {
            std::size_t i = 0;
            for (; i + 1 < n; ++i) {
                std::uint16_t bits;
                std::memcpy(&bits, from + 2 * i, 2);
                std::memcpy(to + 3 * i, &table[bits], 4);
            }
            std::uint16_t bits;
            std::memcpy(&bits, from + 2 * i, 2);
            putGray(to + 3 * i, static_cast<std::uint8_t>(table[bits]));
        });
    });
}

template <typename Word>
Word bigEndian(const std::uint8_t* p)
{
    Word word = 0;
    for (std::size_t i = 0; i < sizeof(Word); ++i)
        word = static_cast<Word>(word << 8 | p[i]);
    return word;
}

double storedValue(const std::uint8_t* p, std::int64_t bitpix)
{
    switch (bitpix) {
    case 32: return static_cast<std::int32_t>(bigEndian<std::uint32_t>(p));
    case 64: return static_cast<double>(static_cast<std::int64_t>(bigEndian<std::uint64_t>(p)));
    case -32: return std::bit_cast<float>(bigEndian<std::uint32_t>(p));
    default: return std::bit_cast<double>(bigEndian<std::uint64_t>(p));
    }
}

// 32- and 64-bit integers and floats go the way of 16-bit data, a value at a
// time; NaN and infinite pixels are black and do not count for the maximum.
void convertWide(DataPart& data, const fits::Header& header, int bytesPerPixel, double gamma1, double gamma2,
                 bmpData& record)
{
    const std::int64_t bitpix = *header.bitpix;
    const double scale = header.bscale;
    const double zero = header.bzero;
    const auto step = static_cast<std::size_t>(bytesPerPixel);
    double max = 0.0;
    data.read([&](const std::uint8_t* bytes, std::size_t, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const double p = storedValue(bytes + i * step, bitpix) * scale + zero;
            if (std::isfinite(p) && p > max)
                max = p;
        }
    });
    const fits::GrayScale gray(max, gamma1, gamma2);
    data.revisit([&](const std::uint8_t* bytes, std::size_t firstPixel, std::size_t count) {
        intoRows(bytes, firstPixel, count, step, record, [&](const std::uint8_t* from, std::uint8_t* to, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                const double p = storedValue(from + i * step, bitpix) * scale + zero;
                putGray(to + 3 * i, std::isfinite(p) ? gray(p) : 0);
            }
        });
    });
}

[[gnu::always_inline]] inline void pickEveryThird(const std::uint8_t* __restrict from, std::uint8_t* __restrict to,
                                                  std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        to[i] = from[3 * i];
}

#if defined(__x86_64__) || defined(__i386__)
// With byte shuffles the compiler gathers sixteen bytes in a few
// instructions; plain x86-64 has none.
[[gnu::target("ssse3")]] void pickEveryThirdShuffled(const std::uint8_t* from, std::uint8_t* to, std::size_t count)
{
    pickEveryThird(from, to, count);
}

const bool hasByteShuffles = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}();
#endif

void pickRed(const std::uint8_t* firstRed, std::uint8_t* to, std::size_t count)
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasByteShuffles) {
        pickEveryThirdShuffled(firstRed, to, count);
        return;
    }
#endif
    pickEveryThird(firstRed, to, count);
}

// Collects the file in a buffer small enough to stay in the cache and writes
// it out in large pieces.
class StagedWriter {
public:
    StagedWriter(int fd, std::size_t capacity)
        : fd_(fd), capacity_(capacity), buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity))
    {
    }

    std::size_t room() const { return capacity_ - used_; }
    std::uint8_t* end() { return buffer_.get() + used_; }

    void commit(std::size_t count)
    {
        used_ += count;
        if (used_ == capacity_)
            flush();
    }

    void put(const std::uint8_t* bytes, std::size_t count)
    {
        while (count > 0) {
            const std::size_t n = std::min(count, room());
            std::memcpy(end(), bytes, n);
            bytes += n;
            count -= n;
            commit(n);
        }
    }

    void putZeros(std::size_t count)
    {
        while (count > 0) {
            const std::size_t n = std::min(count, room());
            std::memset(end(), 0, n);
            count -= n;
            commit(n);
        }
    }

    void flush()
    {
        if (used_ > 0 && !error_.failed())
            error_ = writeAll(fd_, {std::span<const std::uint8_t>(buffer_.get(), used_)});
        used_ = 0;
    }

    // The first write that failed; the rest is not tried.
    const FileError& error() const { return error_; }

private:
    int fd_;
    std::size_t capacity_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t used_ = 0;
    FileError error_;
};

}  // namespace

int bmp::writeFits(const std::string& path, const std::vector<std::string>& moreCards)
{
    if (!data) {
        showBox("No PIC file exists!");
        return 0;
    }
    FileReplacement file(path);
    if (const FileError error = file.begin(); error.failed()) {
        showBox(createFailureText(path, error), "File Open Error");
        return 0;
    }
    const auto width = static_cast<std::size_t>(data->width);
    const auto height = static_cast<std::size_t>(data->height);
    const auto stride = static_cast<std::size_t>(getRowStride());
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(width) * height;
    const std::uint64_t padding = (fits::blockSize - dataBytes % fits::blockSize) % fits::blockSize;
    const std::uint64_t total = fits::blockSize + dataBytes + padding;

    // Small enough to come from the heap that the last call left warm.
    StagedWriter out(file.fd(), static_cast<std::size_t>(std::min<std::uint64_t>(total, 64 * 1024)));
    const std::string header = fits::headerBlock(data->width, data->height, moreCards);
    out.put(reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
    // Top row first, and only the red byte of each pixel.
    for (std::size_t row = height; row-- > 0 && !out.error().failed();) {
        const std::uint8_t* from = data->pixels.data() + row * stride + 2;
        std::size_t done = 0;
        while (done < width) {
            const std::size_t n = std::min(width - done, out.room());
            pickRed(from + 3 * done, out.end(), n);
            done += n;
            out.commit(n);
        }
    }
    out.putZeros(static_cast<std::size_t>(padding));
    out.flush();
    const FileError error = out.error().failed() ? out.error() : file.commit();
    if (error.failed()) {
        showBox(writeFailureText(path, error), "File Write Error");
        return 0;
    }
    return 1;
}

int bmp::readFits(const std::string& path, double gamma1, double gamma2)
{
    FileHandle file;
    if (const FileError error = openRegularFile(path, file); error.failed()) {
        showBox(openFailureText(path, error), "File Open Error");
        return 0;
    }

    fits::Header header;
    std::uint64_t dataOffset = 0;
    bool ended = false;
    std::array<char, fits::blockSize> block;
    while (!ended) {
        const std::size_t got = imagefile::readFully(file.get(), block.data(), block.size());
        if (got == 0)
            break;
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(got), block.end(), ' ');
        dataOffset += fits::blockSize;
        // Cards after END in its block still count, as they always have.
        for (std::size_t at = 0; at < fits::blockSize; at += fits::cardSize) {
            const std::string_view card(block.data() + at, fits::cardSize);
            fits::readCard(card, header);
            ended = ended || fits::isEndCard(card);
        }
        if (got < block.size())
            break;
    }
    if (!ended) {
        showBox(imagefile::noImageText(path, dataOffset == 0 ? "has zero length.  " : "has no END card.  "));
        return 0;
    }

    const int pixelBytes = fits::bytesPerPixel(header.bitpix.value_or(0));
    if (pixelBytes == 0) {
        showBox("Sorry, we handle fits images with BITPIX 8, 16, 32, 64, -32 or -64 only.", "Wrong fits type");
        return 0;
    }
    if (!header.naxis1 || !header.naxis2 || *header.naxis1 < 1 || *header.naxis2 < 1) {
        showBox("Sorry, we handle fits images with NAXIS1 and NAXIS2 of 1 or more only.", "Wrong fits type");
        return 0;
    }
    constexpr auto largest = static_cast<std::int64_t>(imagefile::largestImageBytes);
    const std::int64_t width = *header.naxis1;
    const std::int64_t height = *header.naxis2;
    if (width > largest || height > largest ||
        imagefile::pixelArrayBytes(width, height) > imagefile::largestImageBytes ||
        static_cast<std::uint64_t>(width * height * pixelBytes) > imagefile::largestImageBytes) {
        showBox("Sorry, we handle fits images of up to 1 GB only.", "Wrong fits type");
        return 0;
    }

    // Only what the file holds is read: a short data part is shown as far as
    // it goes, the rest stays black, and the user is told.
    struct stat status {};
    const std::uint64_t fileSize = ::fstat(file.get(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
    const std::uint64_t available = fileSize > dataOffset ? fileSize - dataOffset : 0;
    const auto dataBytes = static_cast<std::uint64_t>(width * height * pixelBytes);
    DataPart dataPart(file.get(), dataOffset, std::min(dataBytes, available), pixelBytes);

    std::unique_ptr<bmpData> record = makeGrayRecord(static_cast<int>(width), static_cast<int>(height));
    switch (pixelBytes) {
    case 1:
        // Eight-bit data is shown as it stands; BZERO and BSCALE are not used.
        dataPart.read([&](const std::uint8_t* bytes, std::size_t firstPixel, std::size_t count) {
            intoRows(bytes, firstPixel, count, 1, *record, [](const std::uint8_t* from, std::uint8_t* to, std::size_t n) {
                widenGrayRow(from, to, n);
            });
        });
        break;
    case 2:
        convert16(dataPart, header, gamma1, gamma2, *record);
        break;
    default:
        convertWide(dataPart, header, pixelBytes, gamma1, gamma2, *record);
        break;
    }
    adopt(std::move(record));
    if (dataPart.bytesRead() < dataBytes)
        showBox(imagefile::truncatedText(path, dataPart.bytesRead(), dataBytes));
    return 1;
}

}  // namespace tarvi
