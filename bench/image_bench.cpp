// Reading and writing a 4096 x 4096 picture: our BMP and FITS code against
// cfitsio and Qt's QImage, each pair in the same run, with the ratio printed.
#include <QImage>

#include <benchmark/benchmark.h>
#include <fitsio.h>

#include <cstdio>
#include <iostream>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "platform/console_ui.h"

namespace {

constexpr int side = 4096;


tarvi::ConsoleUi ui(std::cerr);

struct Files {
    std::string dir;
    std::string fits16;
    std::string fits8;
    std::string bmp24;
    std::vector<std::uint8_t> gray;
};

// A sky-like picture: a smooth background, a bright disc and some noise.
std::vector<std::uint16_t> skyValues()
{
    std::vector<std::uint16_t> values(std::size_t(side) * side);
    std::uint32_t seed = 12345;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int dx = x - side / 2;
            const int dy = y - side / 3;
            const bool disc = dx * dx + dy * dy < 300 * 300;
            values[std::size_t(y) * side + x] =
                std::uint16_t(2000 + x / 4 + y / 8 + (seed >> 24) + (disc ? 40000 : 0));
        }
    }
    return values;
}

const Files& files()
{
    static const Files made = [] {
        Files f;
        char pattern[] = "/tmp/tarvi-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            std::abort();
        f.dir = pattern;
        f.fits16 = f.dir + "/sky16.fit";
        f.fits8 = f.dir + "/sky8.fit";
        f.bmp24 = f.dir + "/sky.bmp";

        // The 16-bit file comes from cfitsio, so neither side reads its own output.
        const auto values = skyValues();
        std::vector<short> raw(values.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            raw[i] = short(int(values[i]) - 32768);
        fitsfile* file = nullptr;
        int status = 0;
        long axes[2] = {side, side};
        fits_create_file(&file, ("!" + f.fits16).c_str(), &status);
        fits_create_img(file, SHORT_IMG, 2, axes, &status);
        fits_write_key_dbl(file, "BZERO", 32768.0, -15, nullptr, &status);
        fits_write_key_dbl(file, "BSCALE", 1.0, -15, nullptr, &status);
        fits_set_bscale(file, 1.0, 0.0, &status);
        fits_write_img(file, TSHORT, 1, long(raw.size()), raw.data(), &status);
        fits_close_file(file, &status);
        if (status != 0) {
            fits_report_error(stderr, status);
            std::abort();
        }

        f.gray.resize(values.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            f.gray[i] = std::uint8_t(values[i] >> 8);
        tarvi::bmp image(ui);
        image.createFromGray(f.gray.data(), side, side);
        if (image.writeBmp(f.bmp24) != 1)
            std::abort();
        return f;
    }();
    return made;
}

void ReadFits16_Tarvi(benchmark::State& state)
{
    const auto& f = files();
    for (auto _ : state) {
        tarvi::bmp image(ui);
        if (image.readFits(f.fits16, 1.0, 1.0) != 1 || image.getWidth() != side)
            state.SkipWithError("readFits failed");
        benchmark::DoNotOptimize(image.getPixels());
    }
}

// The physical values run 0..65535, as a reader of such a file asks for them.
void readWithCfitsio(benchmark::State& state, std::vector<unsigned short>& pixels)
{
    fitsfile* file = nullptr;
    int status = 0;
    int anyNull = 0;
    fits_open_file(&file, files().fits16.c_str(), READONLY, &status);
    fits_read_img(file, TUSHORT, 1, long(pixels.size()), nullptr, pixels.data(), &anyNull, &status);
    fits_close_file(file, &status);
    if (status != 0)
        state.SkipWithError("cfitsio read failed");
    benchmark::DoNotOptimize(pixels.data());
}

// Into one buffer made before the timing starts: the library's best case.
void ReadFits16_Cfitsio(benchmark::State& state)
{
    std::vector<unsigned short> pixels(std::size_t(side) * side);
    for (auto _ : state)
        readWithCfitsio(state, pixels);
}

// Into a picture of its own each time, as opening a file in a window needs.
void ReadFits16_CfitsioFreshBuffer(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<unsigned short> pixels(std::size_t(side) * side);
        readWithCfitsio(state, pixels);
    }
}

void WriteFits8_Tarvi(benchmark::State& state)
{
    const auto& f = files();
    tarvi::bmp image(ui);
    image.createFromGray(f.gray.data(), side, side);
    for (auto _ : state) {
        if (image.writeFits(f.fits8) != 1)
            state.SkipWithError("writeFits failed");
    }
}

void WriteFits8_Cfitsio(benchmark::State& state)
{
    const auto& f = files();
    long axes[2] = {side, side};
    for (auto _ : state) {
        fitsfile* file = nullptr;
        int status = 0;
        fits_create_file(&file, ("!" + f.fits8).c_str(), &status);
        fits_create_img(file, BYTE_IMG, 2, axes, &status);
        fits_write_img(file, TBYTE, 1, long(f.gray.size()), const_cast<std::uint8_t*>(f.gray.data()), &status);
        fits_close_file(file, &status);
        if (status != 0)
            state.SkipWithError("cfitsio write failed");
    }
}

void ReadBmp_Tarvi(benchmark::State& state)
{
    const auto& f = files();
    for (auto _ : state) {
        tarvi::bmp image(ui);
        if (image.readBmp(f.bmp24) != 1)
            state.SkipWithError("readBmp failed");
        benchmark::DoNotOptimize(image.getPixels());
    }
}

void ReadBmp_QImage(benchmark::State& state)
{
    const auto& f = files();
    const QString path = QString::fromStdString(f.bmp24);
    for (auto _ : state) {
        QImage image;
        if (!image.load(path, "BMP"))
            state.SkipWithError("QImage load failed");
        benchmark::DoNotOptimize(image.constBits());
    }
}

void WriteBmp_Tarvi(benchmark::State& state)
{
    const auto& f = files();
    tarvi::bmp image(ui);
    image.createFromGray(f.gray.data(), side, side);
    const std::string path = f.dir + "/out.bmp";
    for (auto _ : state) {
        if (image.writeBmp(path) != 1)
            state.SkipWithError("writeBmp failed");
    }
}

void WriteBmp_QImage(benchmark::State& state)
{
    const auto& f = files();
    QImage image(QString::fromStdString(f.bmp24), "BMP");
    image = image.convertToFormat(QImage::Format_RGB888);
    const QString path = QString::fromStdString(f.dir + "/out-qt.bmp");
    for (auto _ : state) {
        if (!image.save(path, "BMP"))
            state.SkipWithError("QImage save failed");
    }
}

// What every capture writes: the camera frame as tarvitemp.bmp and zfits.fit.
void WriteCaptureFiles_Tarvi(benchmark::State& state)
{
    const auto& f = files();
    tarvi::bmp image(ui);
    image.createFromGray(f.gray.data(), 192, 165);
    const std::string bmpPath = f.dir + "/tarvitemp.bmp";
    const std::string fitsPath = f.dir + "/zfits.fit";
    for (auto _ : state) {
        if (image.writeBmp(bmpPath) != 1 || image.writeFits(fitsPath) != 1)
            state.SkipWithError("capture files not written");
    }
}

BENCHMARK(ReadFits16_Tarvi)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadFits16_Cfitsio)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadFits16_CfitsioFreshBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteFits8_Tarvi)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteFits8_Cfitsio)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadBmp_Tarvi)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadBmp_QImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteBmp_Tarvi)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteBmp_QImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteCaptureFiles_Tarvi)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's time per iteration for the ratios at the end.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!run.error_occurred && run.iterations > 0)
                seconds[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    files();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    struct Pair {
        const char* ours;
        const char* theirs;
        const char* what;
        double goal;
    };
    const Pair pairs[] = {
        {"ReadFits16_Tarvi/real_time", "ReadFits16_Cfitsio/real_time", "16-bit readFits / cfitsio read", 1.5},
        {"ReadFits16_Tarvi/real_time", "ReadFits16_CfitsioFreshBuffer/real_time",
         "16-bit readFits / cfitsio, fresh buffer", 1.5},
        {"WriteFits8_Tarvi/real_time", "WriteFits8_Cfitsio/real_time", "8-bit writeFits / cfitsio write", 1.0},
        {"ReadBmp_Tarvi/real_time", "ReadBmp_QImage/real_time", "readBmp / QImage load", 1.0},
        {"WriteBmp_Tarvi/real_time", "WriteBmp_QImage/real_time", "writeBmp / QImage save", 1.0},
    };
    std::printf("\n%-40s %8s %6s\n", "ratio (4096 x 4096)", "ours/lib", "goal");
    for (const Pair& pair : pairs) {
        const auto ours = reporter.seconds.find(pair.ours);
        const auto theirs = reporter.seconds.find(pair.theirs);
        if (ours == reporter.seconds.end() || theirs == reporter.seconds.end())
            continue;
        const double ratio = ours->second / theirs->second;
        std::printf("%-40s %7.2fx %5.1fx %s\n", pair.what, ratio, pair.goal, ratio <= pair.goal ? "met" : "MISSED");
    }
    std::filesystem::remove_all(files().dir);
    benchmark::Shutdown();
    return 0;
}
