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

using namespace std::chrono_literals;
// How long a test waits for what it expects before it fails: far beyond any
// healthy run, even on a loaded machine.
inline constexpr std::chrono::milliseconds patience = 60s;

// True once the condition holds, polled; false after the deadline.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience);

std::vector<std::uint8_t> decodeBase64(std::string_view text);

struct XmlElement;

// An INDI client of one device over TCP. It reads only inside waitFor(), on
// the caller's thread, and keeps the latest state and element values of
// every property of its device, the BLOBs not yet taken and every message.
class IndiClient {
public:
    struct Blob {
        std::string name, format;
        std::vector<std::uint8_t> bytes;
    };
    using Elements = std::vector<std::pair<std::string, std::string>>;

    explicit IndiClient(std::string device) : device_(std::move(device)) {}
    ~IndiClient();
    IndiClient(const IndiClient&) = delete;
    IndiClient& operator=(const IndiClient&) = delete;

    // One attempt; false when nobody accepts on the port.
    bool connect(int port);
    void send(const std::string& xml);
    // A new<Kind>Vector of the device, kind "Text", "Number" or "Switch";
    // names and values go as they are, with nothing that XML would escape.
    void set(const std::string& kind, const std::string& property, const Elements& elements);

    // Reads until the condition holds; false when the deadline or the end of
    // the connection comes first. The condition is tried at least every 10 ms.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience);
    // The oldest BLOB not yet taken, waited for unless the condition comes first.
    std::optional<Blob> nextBlob(const std::function<bool()>& unless);

    bool defined(const std::string& property) const { return properties_.contains(property); }
    std::string state(const std::string& property) const { return find(property).state; }
    std::string value(const std::string& property, const std::string& element) const;
    // Every value the element has had, oldest first.
    std::vector<std::string> history(const std::string& property, const std::string& element) const;
    // How often the property was defined or set so far.
    int updates(const std::string& property) const { return find(property).updates; }
    // Those of <message> elements and of properties, oldest first.
    const std::vector<std::string>& messages() const { return messages_; }

private:
    struct Property {
        std::string state;
        int updates = 0;
        std::map<std::string, std::string> values;
        std::map<std::string, std::vector<std::string>> history;
    };
    const Property& find(const std::string& property) const;
    // The next whole element that has arrived, its bytes taken from input_.
    std::optional<XmlElement> nextElement();
    void handle(const XmlElement& element);

    std::string device_;
    int fd_ = -1;
    bool closed_ = false;
    std::string input_;
    std::map<std::string, Property> properties_;
    std::deque<Blob> blobs_;
    std::vector<std::string> messages_;
};

// indiserver on a free TCP port with one driver, HOME (where drivers keep
// their configuration) in the given directory, its output in home/server.log.
class IndiServer {
public:
    IndiServer(const std::string& driver, const std::string& home);
    ~IndiServer() { stop(); }
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
