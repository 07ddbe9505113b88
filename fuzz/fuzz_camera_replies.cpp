// Any bytes from the camera, as the replies to an acknowledged write, a RAM
// read and row requests, through the program's own camera link: nothing is
// read or written out of bounds, a row fills at most its 192 pixels, and a
// RAM read is accepted only with the checksum and length the frame allows.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/tarvi_app.h"
#include "camera/st4_protocol.h"
#include "counting_ui.h"
#include "check.h"

using tarvi::fuzz::check;

namespace {


class NoWaitClock final : public tarvi::Clock {
public:
    std::int64_t nowMs() override { return now_; }
    std::time_t nowSeconds() override { return 0; }
    void sleepMs(std::int64_t ms) override { now_ += std::max<std::int64_t>(ms, 0); }

private:
    std::int64_t now_ = 0;
};

// Hands out the input a read at a time; the first byte of each read says how
// many bytes that read gets at most, so that replies come in bursts.
class ReplyPort final : public tarvi::SerialPort {
public:
    explicit ReplyPort(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    tarvi::SysError setQueueSizes(std::size_t, std::size_t) override { return {}; }
    tarvi::SysError getLineSettings(tarvi::LineSettings&) override { return {}; }
    tarvi::SysError setLineSettings(const tarvi::LineSettings&) override { return {}; }
    tarvi::SysError getTimeouts(tarvi::PortTimeouts&) override { return {}; }
    tarvi::SysError setTimeouts(const tarvi::PortTimeouts&) override { return {}; }
    tarvi::SysError clearErrors(tarvi::PortStatus&) override { return {}; }
    tarvi::SysError discardInput() override { return {}; }
    tarvi::IoResult read(std::span<std::uint8_t> buffer) override
    {
        if (bytes_.empty())
            return {};
        const std::size_t burst = bytes_[0];
        bytes_ = bytes_.subspan(1);
        const std::size_t n = std::min({buffer.size(), burst, bytes_.size()});
        std::copy_n(bytes_.begin(), n, buffer.begin());
        bytes_ = bytes_.subspan(n);
        return {n, {}};
    }
    tarvi::IoResult write(std::span<const std::uint8_t> bytes) override { return {bytes.size(), {}}; }

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tarvi::fuzz::CountingUi ui;
    static NoWaitClock clock;
    static tarvi::CTarviApp& app = *[] {
        char pattern[] = "/tmp/tarvi-fuzz-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        auto* made = new tarvi::CTarviApp(ui, clock, dir != nullptr ? dir : "/tmp");
        made->log = [](const std::string&) {};
        made->quietComm = 1;
        return made;
    }();

    app.ports.close(app.settings.cameraHandle);
    app.settings.cameraHandle = app.ports.add(std::make_unique<ReplyPort>(std::span(data, size)));
    app.settings.downloadStop = 0;

    const std::uint8_t anything[] = {0x20};
    const auto frame = tarvi::writeRamFrame(tarvi::st4::ram::antiBloom, anything);
    (void)app.writeCamera(frame.data(), static_cast<int>(frame.size()));

    std::uint8_t version = 0;
    (void)app.readRAM(tarvi::st4::ram::version, 1, &version);

    for (int row = 0; row < 3; ++row) {
        // Exactly a row: a pixel past its end is a heap overflow.
        std::vector<std::uint8_t> pixels(tarvi::st4::rowWidth, 0xEE);
        (void)app.downloadRow(row, pixels.data());
    }

    // A payload straight into the decoder, with any length byte.
    if (size >= 1) {
        std::vector<std::uint8_t> payload(data + 1, data + size);
        payload.resize(std::max<std::size_t>(payload.size(), 255));
        std::vector<std::uint8_t> pixels(tarvi::st4::rowWidth);
        tarvi::decodeRow(payload.data(), pixels.data(), data[0]);
    }
    check(app.ports.size() <= 1);
    return 0;
}
