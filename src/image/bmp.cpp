#include "image/bmp.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <sys/mman.h>

#include "image/fits.h"
#include "platform/safe_file.h"

namespace tarvi {

namespace {

constexpr std::size_t fileHeaderSize = 14;
constexpr std::size_t infoHeaderSize = 40;
constexpr std::size_t headersSize = fileHeaderSize + infoHeaderSize;

std::uint16_t get16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t get32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The headers as writeBmp puts them in front of the pixels: whatever file the
// image came from, a 40-byte info header, the pixels at byte 54 and sizes
// that match them. Only the resolution is taken over from the record.
std::array<std::uint8_t, headersSize> consistentHeaders(const bmpData& record)
{
    std::array<std::uint8_t, headersSize> out{};
    out[0] = 'B';
    out[1] = 'M';
    put32(&out[2], static_cast<std::uint32_t>(headersSize + record.imageSize));
    put32(&out[10], headersSize);
    std::uint8_t* info = &out[fileHeaderSize];
    std::memcpy(info, record.info.data(), infoHeaderSize);
    put32(info, infoHeaderSize);
    put32(info + 4, static_cast<std::uint32_t>(record.width));
    put32(info + 8, static_cast<std::uint32_t>(record.height));  // positive: rows are bottom-up
    put16(info + 12, 1);
    put16(info + 14, 24);
    put32(info + 16, 0);
    put32(info + 20, record.imageSize);
    put32(info + 32, 0);  // no colour table follows
    put32(info + 36, 0);
    return out;
}

constexpr std::size_t hugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t value, std::size_t step)
{
    return (value + step - 1) / step * step;
}

// The sanitizers see only what comes from malloc; under them every picture
// does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool mapLargePictures = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool mapLargePictures = false;
#else
constexpr bool mapLargePictures = true;
#endif
#else
constexpr bool mapLargePictures = true;
#endif

bool isMapped(std::size_t bytes)
{
    return mapLargePictures && bytes >= 2 * hugePage;
}

[[gnu::always_inline]] inline void widenLoop(const std::uint8_t* __restrict gray, std::uint8_t* __restrict bgr,
                                             std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) {
        const std::uint8_t g = gray[i];
        bgr[3 * i] = g;
        bgr[3 * i + 1] = g;
        bgr[3 * i + 2] = g;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// With byte shuffles the compiler turns the loop into a few instructions per
// sixteen pixels; plain x86-64 has none.
[[gnu::target("ssse3")]] void widenShuffled(const std::uint8_t* gray, std::uint8_t* bgr, std::size_t width)
{
    widenLoop(gray, bgr, width);
}

const bool hasByteShuffles = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}();
#endif

}  // namespace

void* allocatePixels(std::size_t bytes)
{
    if (!isMapped(bytes))
        return std::calloc(bytes == 0 ? 1 : bytes, 1);
    // Whole, aligned huge pages: map one more and give back the ends.
    const std::size_t length = roundUp(bytes, hugePage);
    void* mapped = ::mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = roundUp(start, hugePage);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    const std::uintptr_t end = start + length + hugePage;
    if (end > aligned + length)
        ::munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void freePixels(void* memory, std::size_t bytes) noexcept
{
    if (memory == nullptr)
        return;
    if (isMapped(bytes))
        ::munmap(memory, roundUp(bytes, hugePage));
    else
        std::free(memory);
}

void PixelBuffer::resize(std::size_t size)
{
    if (size == size_)
        return;
    auto* bytes = static_cast<std::uint8_t*>(allocatePixels(size));
    if (bytes == nullptr)
        throw std::bad_alloc();
    if (size_ > 0)
        std::memcpy(bytes, bytes_, std::min(size, size_));
    freePixels(bytes_, size_);
    bytes_ = bytes;
    size_ = size;
}

CentroidPoint findCentroid(const std::uint8_t* plane, int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    const CentroidPoint middle{width / 2, height / 2};
    if (plane == nullptr)
        return middle;
    const auto w = static_cast<std::size_t>(width);
    std::vector<std::uint64_t> columnSums(w, 0);
    double weightedRows = 0.0;
    double total = 0.0;
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* row = plane + static_cast<std::size_t>(r) * w;
        std::uint64_t rowSum = 0;
        for (std::size_t c = 0; c < w; ++c) {
            rowSum += row[c];
            columnSums[c] += row[c];
        }
        weightedRows += static_cast<double>(r) * static_cast<double>(rowSum);
        total += static_cast<double>(rowSum);
    }
    // Without any light there is no centroid; the middle keeps center() from
    // shifting a black picture.
    if (total == 0.0)
        return middle;
    double weightedColumns = 0.0;
    for (std::size_t c = 0; c < w; ++c)
        weightedColumns += static_cast<double>(c) * static_cast<double>(columnSums[c]);
    return {static_cast<int>(weightedColumns / total), static_cast<int>(weightedRows / total)};
}

bmp::bmp(Ui& ui) : ui_(ui) {}

bmp::~bmp() = default;

int bmp::rowStrideFor(int width)
{
    return (width * 3 + 3) / 4 * 4;
}

int bmp::getRowStride() const
{
    return data ? rowStrideFor(data->width) : 0;
}

std::uint8_t* bmp::getPixels()
{
    return data ? data->pixels.data() : nullptr;
}

const std::uint8_t* bmp::getPixels() const
{
    return data ? data->pixels.data() : nullptr;
}

void bmp::showBox(const std::string& text, std::string_view caption)
{
    ui_.messageBox(text, caption, Buttons::ok, BoxStyle{.noOwner = true});
}

void bmp::freeImage()
{
    data.reset();
    width_ = 0;
    height_ = 0;
}

void bmp::adopt(std::unique_ptr<bmpData> record)
{
    data = std::move(record);
    width_ = data->width;
    height_ = data->height;
}

std::unique_ptr<bmpData> bmp::makeGrayRecord(int width, int height)
{
    auto record = std::make_unique<bmpData>();
    record->width = width;
    record->height = height;
    record->colorCount = 0;
    record->imageSize = static_cast<std::uint32_t>(rowStrideFor(width)) * static_cast<std::uint32_t>(height);
    record->pixels.resize(record->imageSize);
    const std::array<std::uint8_t, headersSize> headers = consistentHeaders(*record);
    std::copy_n(headers.begin(), fileHeaderSize, record->fileHeader.begin());
    std::copy_n(headers.begin() + fileHeaderSize, infoHeaderSize, record->info.begin());
    return record;
}

void bmp::widenGrayRow(const std::uint8_t* gray, std::uint8_t* bgr, std::size_t width)
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasByteShuffles) {
        widenShuffled(gray, bgr, width);
        return;
    }
#endif
    widenLoop(gray, bgr, width);
}

int bmp::createFromGray(const std::uint8_t* gray, int width, int height)
{
    freeImage();
    if (gray == nullptr || width <= 0 || height <= 0 || imagefile::pixelArrayBytes(width, height) > imagefile::largestImageBytes)
        return 0;
    std::unique_ptr<bmpData> record = makeGrayRecord(width, height);
    const auto w = static_cast<std::size_t>(width);
    const auto stride = static_cast<std::size_t>(rowStrideFor(width));
    std::uint8_t* pixels = record->pixels.data();
    for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row)
        widenGrayRow(gray + row * w, pixels + row * stride, w);
    adopt(std::move(record));
    return 1;
}

int bmp::readBmp(const std::string& path)
{
    freeImage();
    FileHandle file;
    if (const FileError error = openRegularFile(path, file); error.failed()) {
        showBox(openFailureText(path, error), "File Open Error");
        return 0;
    }

    std::array<std::uint8_t, headersSize> head{};
    const std::size_t got = imagefile::readFully(file.get(), head.data(), head.size());
    if (got == 0) {
        showBox(imagefile::noImageText(path, "has zero length.  "));
        return 0;
    }
    if (got < 18 || head[0] != 'B' || head[1] != 'M') {
        showBox("Not a Bitmap File!");
        return 0;
    }
    // The old 12-byte header keeps its fields elsewhere; reading it as a
    // 40-byte one would take pixels for the bit count.
    const std::uint32_t infoSize = get32(&head[14]);
    if (infoSize < infoHeaderSize) {
        showBox("Sorry, we handle bmp images with a header of 40 bytes or more only.", "Wrong bmp type");
        return 0;
    }
    if (got < headersSize) {
        showBox("Not a Bitmap File!");
        return 0;
    }
    const std::uint8_t* info = &head[fileHeaderSize];
    if (get16(info + 14) != 24) {
        showBox("Sorry, we handle 24-bit bmp images only.", "Wrong bmp type");
        return 0;
    }
    if (get32(info + 16) != 0) {
        showBox("Sorry, we handle uncompressed bmp images only.", "Wrong bmp type");
        return 0;
    }
    const auto width = static_cast<std::int32_t>(get32(info + 4));
    const auto fileHeight = static_cast<std::int32_t>(get32(info + 8));
    if (width <= 0 || fileHeight == 0 || fileHeight == std::numeric_limits<std::int32_t>::min()) {
        showBox("Sorry, we handle bmp images with a width and height of 1 or more only.", "Wrong bmp type");
        return 0;
    }
    const bool topDown = fileHeight < 0;
    const std::int32_t height = topDown ? -fileHeight : fileHeight;
    if (imagefile::pixelArrayBytes(width, height) > imagefile::largestImageBytes) {
        showBox("Sorry, we handle bmp images of up to 1 GB only.", "Wrong bmp type");
        return 0;
    }

    auto record = std::make_unique<bmpData>();
    record->width = width;
    record->height = height;
    record->colorCount = get32(info + 32);
    record->imageSize = static_cast<std::uint32_t>(imagefile::pixelArrayBytes(width, height));
    std::copy_n(head.begin(), fileHeaderSize, record->fileHeader.begin());
    std::copy_n(info, infoHeaderSize, record->info.begin());
    // The memory comes zeroed, so whatever a short file does not supply stays black.
    record->pixels.resize(record->imageSize);
    // Pixels never start inside the headers; after them may come a colour
    // table, masks, a profile or a gap, which the pixel offset steps over.
    const std::uint64_t offset = std::max<std::uint64_t>(get32(&head[10]), fileHeaderSize + infoSize);
    const std::size_t pixelBytesRead =
        imagefile::preadFully(file.get(), record->pixels.data(), record->imageSize, offset);
    // The last row's padding is left out by some writers and is no loss.
    const std::size_t pixelBytesNeeded =
        record->imageSize - (static_cast<std::size_t>(rowStrideFor(width)) - 3 * static_cast<std::size_t>(width));
    if (topDown) {
        // Turned over in place; pairs of rows that the file did not reach
        // are both black and stay as they are.
        const auto stride = static_cast<std::size_t>(rowStrideFor(width));
        const auto rows = static_cast<std::size_t>(height);
        const std::size_t rowsRead = (pixelBytesRead + stride - 1) / stride;
        std::uint8_t* pixels = record->pixels.data();
        for (std::size_t row = 0; row < rows / 2 && row < rowsRead; ++row)
            std::swap_ranges(pixels + row * stride, pixels + (row + 1) * stride, pixels + (rows - 1 - row) * stride);
    }
    const std::uint32_t promised = record->imageSize;
    adopt(std::move(record));
    if (pixelBytesRead < pixelBytesNeeded)
        showBox(imagefile::truncatedText(path, pixelBytesRead, promised));
    return 1;
}

int bmp::writeBmp(const std::string& path)
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
    const std::array<std::uint8_t, headersSize> headers = consistentHeaders(*data);
    FileError error = writeAll(file.fd(), {headers, data->pixels});
    if (!error.failed())
        error = file.commit();
    if (error.failed()) {
        showBox(writeFailureText(path, error), "File Write Error");
        return 0;
    }
    return 1;
}

int bmp::draw(DrawTarget& target, double requestedScale)
{
    if (!data)
        return 1;
    const std::unique_ptr<Palette> palette = makePalette(target);
    // Written so that a NaN takes the smallest scale too.
    if (!(requestedScale >= smallestScale))
        requestedScale = smallestScale;
    else if (requestedScale > largestScale)
        requestedScale = largestScale;
    scale = requestedScale;
    const auto destWidth = static_cast<int>(width_ * scale);
    const auto destHeight = static_cast<int>(height_ * scale);
    if (!target.stretchDib(data->pixels.data(), data->width, data->height, getRowStride(), destWidth, destHeight))
        showBox("StretchDIBits failed...", "Error");
    return 1;
}

int bmp::center()
{
    if (!data)
        return 1;
    const auto w = static_cast<std::size_t>(data->width);
    const auto h = static_cast<std::size_t>(data->height);
    const auto stride = static_cast<std::size_t>(getRowStride());
    std::vector<std::uint8_t> red(w * h);
    for (std::size_t r = 0; r < h; ++r) {
        const std::uint8_t* row = data->pixels.data() + r * stride;
        for (std::size_t c = 0; c < w; ++c)
            red[r * w + c] = row[3 * c + 2];
    }
    const CentroidPoint centroid = findCentroid(red.data(), data->width, data->height);
    const int dx = centroid.x - data->width / 2;
    const int dy = centroid.y - data->height / 2;

    const std::vector<std::uint8_t> source(data->pixels.begin(), data->pixels.end());
    for (int r = 0; r < data->height; ++r) {
        const int sourceRow = std::clamp(r + dy, 0, data->height - 1);
        const std::uint8_t* from = source.data() + static_cast<std::size_t>(sourceRow) * stride;
        std::uint8_t* to = data->pixels.data() + static_cast<std::size_t>(r) * stride;
        for (int c = 0; c < data->width; ++c) {
            const int sourceColumn = std::clamp(c + dx, 0, data->width - 1);
            std::memcpy(to + 3 * c, from + 3 * sourceColumn, 3);
        }
    }
    return 1;
}

std::unique_ptr<Palette> bmp::makePalette(DrawTarget& target)
{
    return makeSystemPalette(target);
}

std::unique_ptr<Palette> bmp::makeSystemPalette(DrawTarget&)
{
    // No display of today works through a palette.
    return nullptr;
}

}  // namespace tarvi
