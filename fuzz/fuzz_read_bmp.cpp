// Any file content: readBmp touches no memory it should not, shows one box
// exactly when it refuses, and a picture it reads is written back whole and
// reads back the same.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "counting_ui.h"
#include "image/bmp.h"
#include "image/fits.h"

namespace {

using tarvi::fuzz::CountingUi;

class NullTarget final : public tarvi::DrawTarget {
public:
    bool stretchDib(const std::uint8_t* pixels, int width, int height, int rowStride, int, int) override
    {
        // Touch the first and the last byte the view would read.
        last = pixels[0] ^ pixels[static_cast<std::size_t>(rowStride) * (height - 1) + 3 * width - 1];
        return true;
    }
    std::uint8_t last = 0;
};

const std::string& directory()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/tarvi-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return dir;
}

// Pictures up to this size are also written back and centred.
constexpr std::uint32_t roundTripBytes = 1 << 20;

// Headers that ask for a pixel array between 64 MiB and the 1 GiB limit make
// AddressSanitizer fill that much shadow memory on every run and slow the
// search to a crawl; they take the same paths as smaller ones and the sizes
// near the limit have tests of their own. Larger ones are refused before
// anything is allocated, so they stay in.
bool asksForAHugeArray(const std::uint8_t* data, std::size_t size)
{
    if (size < 26)
        return false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::memcpy(&width, data + 18, 4);
    std::memcpy(&height, data + 22, 4);
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return false;
    const std::uint64_t bytes = tarvi::imagefile::pixelArrayBytes(width, height < 0 ? -std::int64_t{height} : height);
    return bytes > (std::uint64_t{64} << 20) && bytes <= tarvi::imagefile::largestImageBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (asksForAHugeArray(data, size))
        return 0;
    const std::string in = directory() + "/in.bmp";
    const std::string out = directory() + "/out.bmp";
    {
        std::ofstream file(in, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    CountingUi ui;
    tarvi::bmp image(ui);
    if (image.readBmp(in) != 1) {
        if (image.record() != nullptr || image.getWidth() != 0 || ui.boxes != 1)
            std::abort();
        return 0;
    }
    const tarvi::bmpData* record = image.record();
    // A file shorter than its header promises is read as far as it goes and
    // says so, once.
    if (record == nullptr || ui.boxes > 1 || record->width <= 0 || record->height <= 0 ||
        record->width != image.getWidth() || record->height != image.getHeight() ||
        record->imageSize != static_cast<std::uint32_t>(image.getRowStride()) * static_cast<std::uint32_t>(record->height) ||
        record->pixels.size() != record->imageSize)
        std::abort();

    NullTarget target;
    image.draw(target, 1.0);
    if (record->imageSize > roundTripBytes)
        return 0;

    if (image.writeBmp(out) != 1)
        std::abort();
    tarvi::bmp again(ui);
    if (again.readBmp(out) != 1 || again.getWidth() != image.getWidth() || again.getHeight() != image.getHeight() ||
        std::memcmp(again.getPixels(), image.getPixels(), record->imageSize) != 0)
        std::abort();
    image.center();
    return 0;
}
