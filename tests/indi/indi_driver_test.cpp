// The INDI driver run by a real indiserver, the simulated camera on a
// pseudo-terminal as its port, and a client of our own speaking the XML
// protocol over TCP: every exposure is checked pixel for pixel against the
// frame the camera holds, and byte for byte in what the camera was sent.
#include <fitsio.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <numeric>
#include <set>

#include "camera/st4_protocol.h"
#include "indi/indi_client.h"
#include "sim/camera_sim.h"
#include "support/temp_dir.h"

namespace tarvi {
namespace {

using test::IndiClient;

constexpr const char* deviceName = "Tarvi ST-4";

enum class Action { none, abortDuringExposure, abortDuringDownload, goSilent, unplugDuringDownload };

struct Frame {
    int x, y, width, height;
};
constexpr Frame fullFrame{0, 0, st4::rowWidth, st4::rowCount};

struct Case {
    const char* name;
    int startSpeedIndex;  // the camera's speed at power-on, into st4::baudRates
    const char* wantedBaud;
    bool pace;  // bytes take their line time
    double corruptFraction;
    Frame frame;
    bool dark;
    double seconds;
    Action action;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const Case cases[] = {
    {"FullFrameLight", 0, "57600", false, 0, fullFrame, false, 0.5, Action::none},
    {"Subframe", 0, "57600", false, 0, {10, 20, 50, 20}, false, 0.5, Action::none},
    {"DarkFrame", 0, "57600", false, 0, fullFrame, true, 0.5, Action::none},
    // One row reply in ten arrives corrupted and is asked for again. The
    // more, the likelier two errors in one reply that the checksum misses.
    {"CorruptedLine", 0, "57600", false, 0.001, fullFrame, false, 0.5, Action::none},
    // Long enough to be aborted while the camera exposes; the next one is short.
    {"AbortDuringExposure", 0, "57600", false, 0, fullFrame, false, 30, Action::abortDuringExposure},
    // Seconds of download at 19200 baud: time enough to abort in the middle.
    {"AbortDuringDownload", 0, "19200", true, 0, fullFrame, false, 0.5, Action::abortDuringDownload},
    {"SilentCamera", 0, "57600", false, 0, fullFrame, false, 0.5, Action::goSilent},
    // The adapter pulled out at row 60 and put back: the same name finds it.
    {"UnpluggedAndBack", 0, "57600", false, 0, fullFrame, false, 0.5, Action::unplugDuringDownload},
    {"FoundAt9600MovedTo57600", st4::speedIndex9600, "57600", true, 0, fullFrame, false, 0.5, Action::none},
    // The countdown: each whole second as it passes, and no more for a
    // hundredth of a second than for half a second.
    {"CountsDownWholeSeconds", 0, "57600", false, 0, fullFrame, false, 2.5, Action::none},
    {"ShortestExposure", 0, "57600", false, 0, {0, 0, 192, 1}, false, 0.01, Action::none},
    // A row takes most of a second on the line at 1200 baud.
    {"Slow1200", 0, "1200", true, 0, {0, 100, 192, 3}, false, 0.5, Action::none},
};

// The rows asked for, in turn, and the mode bytes written to RAM, each of
// which starts an exposure.
std::vector<int> rowRequests(const sim::CameraSimulator& camera)
{
    std::vector<int> rows;
    for (const sim::ReceivedFrame& frame : camera.receivedFrames())
        if (frame.checksumOk && frame.bytes.size() == 2 && frame.bytes[0] >= st4::rowRequestBase)
            rows.push_back(frame.bytes[0] - st4::rowRequestBase);
    return rows;
}

std::vector<int> modesWritten(const sim::CameraSimulator& camera)
{
    std::vector<int> modes;
    for (const sim::ReceivedFrame& frame : camera.receivedFrames())
        if (frame.checksumOk && frame.bytes.size() == 7 && frame.bytes[0] == st4::writeRamCommand &&
            frame.bytes[3] == st4::ram::mode && frame.bytes[4] == 0)
            modes.push_back(frame.bytes[5]);
    return modes;
}

// The BLOB as cfitsio reads it: 8-bit, the frame's size, the instrument
// named, and every row the camera's, top row first.
void expectFitsOfFrame(IndiClient::Blob blob, const std::vector<std::uint8_t>& camera, const Frame& frame)
{
    EXPECT_EQ(blob.name + blob.format, "CCD1.fits");
    fitsfile* file = nullptr;
    int status = 0, bitpix = 0, axes = 0;
    long size[2]{}, first[2]{1, 1};
    char instrument[FLEN_VALUE]{};
    void* memory = blob.bytes.data();
    std::size_t length = blob.bytes.size();
    ASSERT_EQ(fits_open_memfile(&file, "blob", READONLY, &memory, &length, 0, nullptr, &status), 0);
    fits_get_img_param(file, 2, &bitpix, &axes, size, &status);
    fits_read_key(file, TSTRING, "INSTRUME", instrument, nullptr, &status);
    std::vector<std::uint8_t> pixels(std::size_t(size[0] * size[1]));
    if (status == 0 && !pixels.empty())
        fits_read_pix(file, TBYTE, first, long(pixels.size()), nullptr, pixels.data(), nullptr, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(bitpix, BYTE_IMG);
    EXPECT_EQ(axes, 2);
    EXPECT_STREQ(instrument, "ST-4");
    ASSERT_EQ(size[0], frame.width);
    ASSERT_EQ(size[1], frame.height);
    std::set<int> wrongRows;
    for (int y = 0; y < frame.height; ++y)
        if (!std::equal(pixels.begin() + y * frame.width, pixels.begin() + (y + 1) * frame.width,
                        camera.begin() + (frame.y + y) * st4::rowWidth + frame.x))
            wrongRows.insert(frame.y + y);
    EXPECT_EQ(wrongRows, std::set<int>{});
}

class IndiDriverTest : public ::testing::TestWithParam<Case> {
protected:
    test::TempDir home;
    std::unique_ptr<sim::CameraSimulator> camera;
    std::unique_ptr<test::IndiServer> server;
    IndiClient client{deviceName};

    void SetUp() override
    {
        const Case& c = GetParam();
        sim::CameraOptions options;
        options.startSpeedIndex = c.startSpeedIndex;
        options.timeScale = c.action == Action::abortDuringExposure ? 1 : 0;
        options.pace = c.pace;
        options.faults.corruptFraction = c.corruptFraction;
        camera = std::make_unique<sim::CameraSimulator>(options);
        camera->start();
        server = std::make_unique<test::IndiServer>(TARVI_INDI_DRIVER, home.path());
        ASSERT_TRUE(test::eventually([&] { return client.connect(server->port()); }));
        client.send("<getProperties version=\"1.7\"/>\n");
        client.send(std::string("<enableBLOB device=\"") + deviceName + "\">Also</enableBLOB>\n");
        ASSERT_TRUE(client.waitFor([&] { return client.defined("DEVICE_PORT") && client.defined("DEVICE_BAUD_RATE"); }));
        // The camera by a name of its own, as under /dev/serial/by-id.
        ASSERT_EQ(::symlink(camera->slavePath().c_str(), port().c_str()), 0);
        client.set("Text", "DEVICE_PORT", {{"PORT", port()}});
        client.set("Switch", "DEVICE_BAUD_RATE", {{c.wantedBaud, "On"}});
        client.set("Switch", "CONNECTION", {{"CONNECT", "On"}});
        ASSERT_TRUE(client.waitFor([&] {
            return client.state("CONNECTION") == "Alert" ||
                   (client.state("CONNECTION") == "Ok" && client.value("CONNECTION", "CONNECT") == "On" &&
                    client.defined("CCD_EXPOSURE"));
        }));
        ASSERT_EQ(client.state("CONNECTION"), "Ok");
    }

    void TearDown() override
    {
        if (!HasFailure() || !server)
            return;
        std::cout << "indiserver and the driver wrote:\n" << server->log() << "The driver's messages:\n";
        for (const std::string& message : client.messages())
            std::cout << message << '\n';
    }

    std::string port() const { return home.path() + "/st4-camera"; }

    std::size_t countdownStart = 0;
    double exposedSeconds = 0;

    // Waits for the driver's first answer.
    void expose(double seconds)
    {
        camera->clearTraffic();
        countdownStart = client.history("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE").size();
        exposedSeconds = seconds;
        const int before = client.updates("CCD_EXPOSURE");
        client.set("Number", "CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", std::to_string(seconds)}});
        ASSERT_TRUE(client.waitFor([&] { return client.updates("CCD_EXPOSURE") > before; }));
    }

    // A BLOB arrives with the frame the camera holds; only its rows were
    // asked for, and the exposure started with the mode of its frame type.
    void expectExposure(const Case& c)
    {
        const auto blob = client.nextBlob([&] { return client.state("CCD_EXPOSURE") == "Alert"; });
        ASSERT_TRUE(blob) << "no image; CCD_EXPOSURE is " << client.state("CCD_EXPOSURE");
        expectFitsOfFrame(*blob, camera->lastFrame(), c.frame);
        // Each row in turn, asked for again after a bad or late reply.
        auto requests = rowRequests(*camera);
        const std::size_t asked = requests.size();
        requests.erase(std::unique(requests.begin(), requests.end()), requests.end());
        std::vector<int> rows(std::size_t(c.frame.height));
        std::iota(rows.begin(), rows.end(), c.frame.y);
        EXPECT_EQ(requests, rows);
        if (c.corruptFraction > 0) {
            EXPECT_GT(asked, rows.size()) << "no reply arrived corrupted";
        }
        const auto modes = modesWritten(*camera);
        ASSERT_FALSE(modes.empty());
        EXPECT_EQ(modes.front(), (c.dark ? 0xB0 : 0xF0) | 0x02);
        EXPECT_TRUE(client.waitFor([&] { return client.state("CCD_EXPOSURE") == "Ok"; }));
        // After the length asked for, the seconds that remain: whole, never
        // more, every one of them, and a last 0.
        auto shown = client.history("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE");
        shown.erase(shown.begin(), shown.begin() + long(countdownStart) + 1);
        std::vector<double> left;
        for (const std::string& value : shown)
            if (left.empty() || std::stod(value) != left.back())
                left.push_back(std::stod(value));
        std::vector<double> wholeSeconds;
        for (int s = int(std::ceil(exposedSeconds)) - 1; s >= 0; --s)
            wholeSeconds.push_back(s);
        EXPECT_EQ(left, wholeSeconds);
        EXPECT_LE(shown.size(), wholeSeconds.size() + 2) << "updates for nothing";
    }
};

TEST_P(IndiDriverTest, Exposure)
{
    const Case& c = GetParam();
    // Found at whatever speed, the camera runs at the one asked for, and the driver says so.
    EXPECT_EQ(camera->baud(), std::stoul(c.wantedBaud));
    EXPECT_EQ(client.value("DEVICE_BAUD_RATE", c.wantedBaud), "On");
    const auto [x, y, width, height] = c.frame;
    client.set("Number", "CCD_FRAME", {{"X", std::to_string(x)}, {"Y", std::to_string(y)},
                                       {"WIDTH", std::to_string(width)}, {"HEIGHT", std::to_string(height)}});
    client.set("Switch", "CCD_FRAME_TYPE", {{c.dark ? "FRAME_DARK" : "FRAME_LIGHT", "On"}});
    if (c.action == Action::goSilent)
        camera->setSilent(true);
    if (c.action == Action::unplugDuringDownload) {
        sim::CameraFaults faults;
        faults.hangUpAtRow = 60;
        camera->setFaults(faults);
    }
    ASSERT_NO_FATAL_FAILURE(expose(c.seconds));
    const auto busyAnd = [&](auto started) {
        return client.waitFor([&] { return client.state("CCD_EXPOSURE") == "Busy" && started(); });
    };
    switch (c.action) {
    case Action::none:
        return expectExposure(c);
    case Action::goSilent:
    case Action::unplugDuringDownload: {
        ASSERT_TRUE(client.waitFor([&] { return client.state("CCD_EXPOSURE") == "Alert"; }));
        EXPECT_TRUE(std::ranges::any_of(client.messages(), [&](const std::string& message) {
            return message.find(port()) != std::string::npos;
        })) << "no message names " << port();
        if (c.action == Action::goSilent)
            return;
        // The next exposure opens the port afresh.
        camera->plugIn();
        ASSERT_EQ(::unlink(port().c_str()), 0);
        ASSERT_EQ(::symlink(camera->slavePath().c_str(), port().c_str()), 0);
        ASSERT_NO_FATAL_FAILURE(expose(0.5));
        return expectExposure(c);
    }
    case Action::abortDuringExposure:
        ASSERT_TRUE(busyAnd([&] { return camera->stats().exposuresStarted == 1; }));
        break;
    case Action::abortDuringDownload:
        ASSERT_TRUE(busyAnd([&] { return !rowRequests(*camera).empty(); }));
        break;
    }
    client.set("Switch", "CCD_ABORT_EXPOSURE", {{"ABORT", "On"}});
    ASSERT_TRUE(client.waitFor([&] { return client.state("CCD_EXPOSURE") != "Busy"; }));
    EXPECT_LT(rowRequests(*camera).size(), std::size_t(c.frame.height)) << "the download went on";
    camera->setTimeScale(0);
    ASSERT_NO_FATAL_FAILURE(expose(0.5));
    expectExposure(c);
}

// A port the opener cannot take is refused when it is set; one that is not
// there fails the connection; each is said with its name.
TEST(IndiDriverPorts, BadPortsAreRefusedOrFailTheConnectionNamingThem)
{
    const struct {
        const char* port;
        const char* property;  // the one that goes to Alert
        const char* said;      // in a message
    } cases[] = {
        {"ttyUSB0", "DEVICE_PORT", "\"ttyUSB0\" is no port"},
        {"tcp:nohost", "DEVICE_PORT", "tcp:nohost is not of the form tcp:HOST:PORT"},
        {"/dev/no-such-camera", "CONNECTION", "/dev/no-such-camera: No such file or directory"},
    };
    test::TempDir home;
    test::IndiServer server(TARVI_INDI_DRIVER, home.path());
    IndiClient client{deviceName};
    ASSERT_TRUE(test::eventually([&] { return client.connect(server.port()); }));
    client.send("<getProperties version=\"1.7\"/>\n");
    ASSERT_TRUE(client.waitFor([&] { return client.defined("DEVICE_PORT"); }));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        client.set("Text", "DEVICE_PORT", {{"PORT", c.port}});
        client.set("Switch", "CONNECTION", {{"CONNECT", "On"}});
        EXPECT_TRUE(client.waitFor([&] {
            return client.state(c.property) == "Alert" && std::ranges::any_of(client.messages(), [&](const auto& m) {
                       return m.find(c.said) != std::string::npos;
                   });
        })) << client.state(c.property);
        EXPECT_EQ(client.value("CONNECTION", "CONNECT"), "Off");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, IndiDriverTest, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvi
