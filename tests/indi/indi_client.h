#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvi::test {

// One XML element as an INDI server sends it, entities already replaced.
struct XmlElement {
    std::string tag;
    std::map<std::string, std::string> attributes;
    std::string text;
    std::vector<XmlElement> children;

    std::string attribute(const std::string& name) const;
};

// Cuts a stream of top-level elements, with no root around them, into whole
// elements as their bytes arrive.
class XmlStream {
public:
    void feed(std::string_view bytes) { buffer_.append(bytes); }
    // The next whole element; nothing while its end has not arrived.
    std::optional<XmlElement> next();

private:
    std::string buffer_;
};

std::vector<std::uint8_t> decodeBase64(std::string_view text);

using namespace std::chrono_literals;
// How long a test waits for what it expects before it fails: far beyond any
// healthy run, even on a loaded machine.
inline constexpr std::chrono::milliseconds patience = 60s;

// True once the condition holds, polled; false after the deadline.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience);

// An INDI client of one device over TCP. It reads only inside waitFor() and
// nextBlob(), on the caller's thread, and keeps the latest state, message
// and element values of every property of its device.
class IndiClient {
public:
    struct Blob {
        std::string name, format;
        std::vector<std::uint8_t> bytes;
    };

    explicit IndiClient(std::string device) : device_(std::move(device)) {}
    ~IndiClient();
    IndiClient(const IndiClient&) = delete;
    IndiClient& operator=(const IndiClient&) = delete;

    // One attempt; false when nobody accepts on the port.
    bool connect(int port);
    void send(const std::string& xml);
    void setText(const std::string& property, const std::string& element, const std::string& value);
    void setNumbers(const std::string& property, const std::vector<std::pair<std::string, double>>& values);
    void setSwitch(const std::string& property, const std::string& element);

    // Reads until the condition holds; false when the deadline or the end of
    // the connection comes first. The condition is tried at least every 10 ms.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience);
    // The oldest BLOB received and not yet taken, waiting for one.
    std::optional<Blob> nextBlob(std::chrono::milliseconds limit = patience);

    bool defined(const std::string& property) const { return properties_.contains(property); }
    std::string state(const std::string& property) const;
    std::string value(const std::string& property, const std::string& element) const;
    // Every message of the device: <message> elements and those of its properties.
    const std::vector<std::string>& messages() const { return messages_; }

private:
    struct Property {
        std::string state;
        std::map<std::string, std::string> values;
    };
    void handle(const XmlElement& element);

    std::string device_;
    int fd_ = -1;
    bool closed_ = false;
    XmlStream stream_;
    std::map<std::string, Property> properties_;
    std::deque<Blob> blobs_;
    std::vector<std::string> messages_;
};

// indiserver on a free TCP port with one driver, HOME (where drivers keep
// their configuration) in the given directory, its output in home/server.log.
class IndiServer {
public:
    IndiServer(const std::string& driver, const std::string& home);
    ~IndiServer();
    IndiServer(const IndiServer&) = delete;
    IndiServer& operator=(const IndiServer&) = delete;

    int port() const { return port_; }
    std::string log() const;

private:
    bool start(const std::string& driver);
    void stop();

    std::string home_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace tarvi::test
