// One whole 165-row frame from the paced simulated camera at 57600 baud,
// through the program's own camera link and serial port, against the time
// the bytes need on the line (11 bits a byte: start, 8 data, parity, stop).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"
#include "platform/console_ui.h"
#include "platform/device_opener.h"
#include "sim/camera_sim.h"

namespace {


void downloadFrame(benchmark::State& state, bool compress)
{
    char pattern[] = "/tmp/tarvi-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    {
        FILE* ini = std::fopen((dir + "/tarvi.ini").c_str(), "w");
        std::fputs("[Ports]\nCOM1=sim:camera\n", ini);
        std::fclose(ini);
    }
    tarvi::sim::CameraOptions options;
    options.startSpeedIndex = 0;
    options.timeScale = 0;
    options.pace = true;
    tarvi::sim::CameraSimulator camera(options);
    camera.start();
    tarvi::DeviceOpener opener([&](const std::string& name) { return name == "camera" ? camera.slavePath() : ""; });
    tarvi::ConsoleUi ui(std::cerr);
    tarvi::SystemClock clock;
    tarvi::CTarviApp app(ui, clock, dir);
    app.setPortOpener(&opener);
    if (app.openCameraPort() != 1) {
        state.SkipWithError("no camera");
        return;
    }

    double lineSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::uint8_t mode[] = {std::uint8_t(compress ? 0xF2 : 0xF0)};
        const auto start = tarvi::writeRamFrame(tarvi::st4::ram::mode, mode);
        app.writeCamera(start.data(), int(start.size()));
        std::uint8_t busy = 0xFF;
        while ((busy & tarvi::st4::busyBits) != 0 && app.readRAM(tarvi::st4::ram::mode, 1, &busy) == 1) {
        }
        camera.clearTraffic();
        state.ResumeTiming();

        tarvi::CTarviApp::Frame frame{};
        for (int row = 0; row < tarvi::st4::rowCount; ++row) {
            if (app.downloadRow(row, frame.data() + (164 - row) * 192) != 1)
                state.SkipWithError("row failed");
        }

        state.PauseTiming();
        std::size_t bytes = 0;
        for (const auto& request : camera.receivedFrames())
            bytes += request.bytes.size();
        for (const auto& reply : camera.sentReplies())
            bytes += reply.onWire.size();
        lineSeconds += double(bytes) * 11.0 / 57600.0;
        state.ResumeTiming();
    }
    state.counters["line_bound_s"] = benchmark::Counter(lineSeconds, benchmark::Counter::kAvgIterations);
}

void FrameRaw57600(benchmark::State& state)
{
    downloadFrame(state, false);
}

void FrameCompressed57600(benchmark::State& state)
{
    downloadFrame(state, true);
}

BENCHMARK(FrameRaw57600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(FrameCompressed57600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Time to image as an INDI client sees it, without the upload: the driver's
// capture entry from the settings it sends to the last row, the camera
// exposing in real time. The bound is the exposure and the line time of
// every byte both ways.
void timeToImage(benchmark::State& state, int speedIndex, int firstRow, int rows)
{
    constexpr float exposure = 2.0f;
    tarvi::sim::CameraOptions options;
    options.startSpeedIndex = speedIndex;
    options.pace = true;
    tarvi::sim::CameraSimulator camera(options);
    camera.start();
    tarvi::DeviceOpener opener;
    tarvi::ConsoleUi ui(std::cerr);
    tarvi::SystemClock clock;
    tarvi::CTarviApp app(ui, clock, tarvi::CTarviApp::WithoutSettingsFile{});
    app.portMap.setDevice(0, camera.slavePath());
    app.settings.cameraSpeed = app.settings.cameraSpeedInUse = speedIndex;
    app.settings.exposureTime = exposure;
    app.setPortOpener(&opener);
    app.quickReplies = true;
    if (app.openCameraPort() != 1) {
        state.SkipWithError("no camera");
        return;
    }
    const double baud = tarvi::st4::baudRates[std::size_t(speedIndex)];
    double boundSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const tarvi::sim::CameraStats before = camera.stats();
        state.ResumeTiming();
        const auto result = app.takeFrame({.dark = false, .firstRow = firstRow, .rowCount = rows});
        state.PauseTiming();
        if (result.outcome != tarvi::CTarviApp::FrameOutcome::taken)
            state.SkipWithError(result.message.c_str());
        const tarvi::sim::CameraStats after = camera.stats();
        const double bytes = double(after.bytesHeard - before.bytesHeard + after.bytesDelivered - before.bytesDelivered);
        boundSeconds += exposure + bytes * 11.0 / baud;
        state.ResumeTiming();
    }
    state.counters["line_bound_s"] = benchmark::Counter(boundSeconds, benchmark::Counter::kAvgIterations);
}

void TimeToImageFull57600(benchmark::State& state)
{
    timeToImage(state, 0, 0, tarvi::st4::rowCount);
}

void TimeToImage20Rows57600(benchmark::State& state)
{
    timeToImage(state, 0, 40, 20);
}

void TimeToImageFull9600(benchmark::State& state)
{
    timeToImage(state, tarvi::st4::speedIndex9600, 0, tarvi::st4::rowCount);
}

void TimeToImage20Rows9600(benchmark::State& state)
{
    timeToImage(state, tarvi::st4::speedIndex9600, 40, 20);
}

BENCHMARK(TimeToImageFull57600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(TimeToImage20Rows57600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(TimeToImageFull9600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(TimeToImage20Rows9600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

class BoundReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0)
                continue;
            const double seconds = run.GetAdjustedRealTime() / 1000.0;
            const auto bound = run.counters.find("line_bound_s");
            if (bound == run.counters.end() || bound->second.value <= 0)
                continue;
            std::printf("%-28s %.3f s a frame, line bound %.3f s: %.3fx (goal <= 1.05x)\n",
                        run.benchmark_name().c_str(), seconds, double(bound->second.value),
                        seconds / bound->second.value);
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    BoundReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
