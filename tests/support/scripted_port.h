#pragma once

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace tarvi::test {

using Bytes = std::vector<std::uint8_t>;

// What a scripted port saw and what it will answer. It outlives the port, so
// a test can look at it after the program has closed the port.
struct PortScript {
    // Bytes that arrive, in bursts: one read never takes bytes from two
    // bursts (its deadline passes between them), and an empty burst is a read
    // that gets nothing.
    std::deque<Bytes> arrivals;
    // Called with every write; may add arrivals (the device answering).
    std::function<void(const Bytes& written)> device;
    std::vector<Bytes> writes;
    std::vector<std::size_t> readSizes;  // what each read asked for
    std::vector<LineSettings> lineSettingsSet;
    LineSettings current;
    PortTimeouts timeouts;
    bool failQueueSizes = false;
    bool failLineSettings = false;
    bool ctsHold = false;
    // A write sends at most this many bytes (short writes).
    std::size_t writeLimit = SIZE_MAX;
    // Every read and write fails with this error (a port that has gone).
    int deviceError = 0;
    bool closed = false;
    int discards = 0;

    void arrive(Bytes bytes) { arrivals.push_back(std::move(bytes)); }
};

class ScriptedPort final : public SerialPort {
public:
    explicit ScriptedPort(std::shared_ptr<PortScript> script) : s_(std::move(script)) {}
    ~ScriptedPort() override { s_->closed = true; }

    SysError setQueueSizes(std::size_t, std::size_t) override { return s_->failQueueSizes ? SysError(EINVAL) : SysError(); }
    SysError getLineSettings(LineSettings& settings) override { settings = s_->current; return {}; }
    SysError setLineSettings(const LineSettings& settings) override;
    SysError getTimeouts(PortTimeouts& timeouts) override { timeouts = s_->timeouts; return {}; }
    SysError setTimeouts(const PortTimeouts& timeouts) override { s_->timeouts = timeouts; return {}; }
    SysError clearErrors(PortStatus& status) override { status.ctsHold = s_->ctsHold; return {}; }
    SysError discardInput() override { ++s_->discards; s_->arrivals.clear(); return {}; }
    IoResult read(std::span<std::uint8_t> buffer) override;
    IoResult readReply(std::span<std::uint8_t> buffer, const ReplyComplete& complete) override;
    IoResult write(std::span<const std::uint8_t> bytes) override;

private:
    std::shared_ptr<PortScript> s_;
};

// Opens scripted ports by device name; a name with no script fails to open.
class ScriptedOpener final : public PortOpener {
public:
    std::shared_ptr<PortScript> add(const std::string& device) { return scripts_[device] = std::make_shared<PortScript>(); }
    Result open(const std::string& device) override;
    std::vector<std::string> opened;
    // Devices that exist but may not be opened, with the system's reason.
    std::map<std::string, int> refusals;

private:
    std::map<std::string, std::shared_ptr<PortScript>> scripts_;
};

}  // namespace tarvi::test
