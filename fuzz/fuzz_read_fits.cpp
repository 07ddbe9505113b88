// Any file content: readFits touches no memory it should not, shows one box
// exactly when it refuses and then keeps the previous picture, and a picture
// it reads is grey and comes back the same through writeFits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "counting_ui.h"
#include "image/bmp.h"

namespace {

using tarvi::fuzz::CountingUi;

const std::string& directory()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/tarvi-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return dir;
}

// Pictures up to this size are also written back.
constexpr std::uint32_t roundTripBytes = 1 << 20;

// The gammas come from the input's length, so the file content stays free.
constexpr double gammas[][2] = {{1.0, 1.0}, {2.2, 0.45}, {0.0, 1.0}, {100.0, 0.0}, {0.5, 3.0}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string in = directory() + "/in.fit";
    const std::string out = directory() + "/out.fit";
    {
        std::ofstream file(in, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    CountingUi ui;
    tarvi::bmp image(ui);
    const std::uint8_t before[] = {1, 2, 3, 4};
    image.createFromGray(before, 2, 2);
    const tarvi::bmpData* previous = image.record();
    const auto& [gamma1, gamma2] = gammas[size % std::size(gammas)];
    if (image.readFits(in, gamma1, gamma2) != 1) {
        if (image.record() != previous || image.getWidth() != 2 || ui.boxes != 1)
            std::abort();
        return 0;
    }
    const tarvi::bmpData* record = image.record();
    // A file shorter than its header promises is read as far as it goes and
    // says so, once.
    if (record == nullptr || ui.boxes > 1 || record->width <= 0 || record->height <= 0 ||
        record->pixels.size() != static_cast<std::size_t>(image.getRowStride()) * static_cast<std::size_t>(record->height))
        std::abort();
    if (record->imageSize > roundTripBytes)
        return 0;

    const std::uint8_t* pixels = image.getPixels();
    for (int row = 0; row < record->height; ++row) {
        const std::uint8_t* pixel = pixels + static_cast<std::size_t>(row) * image.getRowStride();
        for (int column = 0; column < record->width; ++column, pixel += 3) {
            if (pixel[0] != pixel[2] || pixel[1] != pixel[2])
                std::abort();
        }
    }
    if (image.writeFits(out) != 1)
        std::abort();
    tarvi::bmp again(ui);
    if (again.readFits(out, gamma1, gamma2) != 1 || again.getWidth() != image.getWidth() ||
        again.getHeight() != image.getHeight() || std::memcmp(again.getPixels(), pixels, record->imageSize) != 0)
        std::abort();
    return 0;
}
