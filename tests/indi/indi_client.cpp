#include "indi/indi_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace tarvi::test {
namespace {

constexpr auto npos = std::string_view::npos;
constexpr std::pair<std::string_view, char> entities[]{
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};

std::string unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto* entity = std::ranges::find_if(entities, [&](const auto& e) { return text.substr(i).starts_with(e.first); });
        if (entity != std::end(entities)) {
            out += entity->second;
            i += entity->first.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string escape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto* entity = std::ranges::find(entities, c, &std::pair<std::string_view, char>::second);
        out += entity != std::end(entities) ? std::string(entity->first) : std::string(1, c);
    }
    return out;
}

std::string trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    return first == npos ? "" : std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

// Past the '>' of the tag that opens at text[at], quoted '>' skipped; npos
// while the tag is not whole.
std::size_t tagEnd(std::string_view text, std::size_t at)
{
    char quote = 0;
    for (std::size_t i = at; i < text.size(); ++i) {
        if (quote != 0 && text[i] == quote)
            quote = 0;
        else if (quote == 0 && (text[i] == '"' || text[i] == '\''))
            quote = text[i];
        else if (quote == 0 && text[i] == '>')
            return i + 1;
    }
    return npos;
}

// The element whose start tag opens at text[at], which holds all of it;
// `at` ends past it.
XmlElement parse(std::string_view text, std::size_t& at)
{
    XmlElement element;
    const std::size_t end = tagEnd(text, at);
    std::string_view tag = text.substr(at + 1, end - at - 2);
    const bool empty = tag.ends_with('/');
    if (empty)
        tag.remove_suffix(1);
    std::size_t i = std::min(tag.find_first_of(" \t\r\n"), tag.size());
    element.tag = tag.substr(0, i);
    while ((i = tag.find_first_not_of(" \t\r\n", i)) != npos) {
        const std::size_t nameEnd = tag.find_first_of("= \t\r\n", i);
        const std::size_t open = tag.find_first_of("\"'", nameEnd);
        const std::size_t close = open == npos ? npos : tag.find(tag[open], open + 1);
        if (close == npos)
            break;
        element.attributes[std::string(tag.substr(i, nameEnd - i))] = unescape(tag.substr(open + 1, close - open - 1));
        i = close + 1;
    }
    at = end;
    while (!empty && at < text.size()) {
        const std::size_t next = text.find('<', at);
        element.text += unescape(text.substr(at, next - at));
        if (next == npos || text.substr(next).starts_with("</")) {
            at = next == npos ? text.size() : tagEnd(text, next);
            break;
        }
        at = next;
        element.children.push_back(parse(text, at));
    }
    return element;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

std::string XmlElement::attribute(const std::string& name) const
{
    const auto found = attributes.find(name);
    return found == attributes.end() ? "" : found->second;
}

std::optional<XmlElement> XmlStream::next()
{
    for (;;) {
        buffer_.erase(0, std::min(buffer_.find('<'), buffer_.size()));
        const std::string_view text = buffer_;
        std::size_t end = tagEnd(text, 0);
        if (end == npos)
            return std::nullopt;
        if (text.starts_with("<?") || text.starts_with("<!")) {
            buffer_.erase(0, end);
            continue;
        }
        if (text[end - 2] != '/') {
            const std::string close = "</" + std::string(text.substr(1, text.find_first_of(" \t\r\n/>", 1) - 1)) + ">";
            const std::size_t found = text.find(close, end);
            if (found == npos)
                return std::nullopt;
            end = found + close.size();
        }
        std::size_t at = 0;
        XmlElement element = parse(text.substr(0, end), at);
        buffer_.erase(0, end);
        return element;
    }
}

std::vector<std::uint8_t> decodeBase64(std::string_view text)
{
    std::vector<std::uint8_t> out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const int value = c >= 'A' && c <= 'Z' ? c - 'A'
                          : c >= 'a' && c <= 'z' ? c - 'a' + 26
                          : c >= '0' && c <= '9' ? c - '0' + 52
                          : c == '+' ? 62
                          : c == '/' ? 63 : -1;
        if (value < 0)  // line breaks and the padding
            continue;
        bits = (bits << 6 | std::uint32_t(value)) & 0xFFFFFF;
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(std::uint8_t(bits >> count));
        }
    }
    return out;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

IndiClient::~IndiClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool IndiClient::connect(int port)
{
    if (fd_ < 0)
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return true;
    ::close(fd_);
    fd_ = -1;
    return false;
}

void IndiClient::send(const std::string& xml)
{
    for (std::size_t sent = 0; sent < xml.size() && !closed_;) {
        const ssize_t n = ::send(fd_, xml.data() + sent, xml.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += std::size_t(n);
        else if (errno != EINTR)
            closed_ = true;
    }
}

void IndiClient::setText(const std::string& property, const std::string& element, const std::string& value)
{
    send("<newTextVector device=\"" + escape(device_) + "\" name=\"" + property + "\"><oneText name=\"" + element +
         "\">" + escape(value) + "</oneText></newTextVector>\n");
}

void IndiClient::setNumbers(const std::string& property, const std::vector<std::pair<std::string, double>>& values)
{
    std::ostringstream xml;
    xml << "<newNumberVector device=\"" << escape(device_) << "\" name=\"" << property << "\">";
    for (const auto& [element, value] : values)
        xml << "<oneNumber name=\"" << element << "\">" << value << "</oneNumber>";
    send(xml.str() + "</newNumberVector>\n");
}

void IndiClient::setSwitch(const std::string& property, const std::string& element)
{
    send("<newSwitchVector device=\"" + escape(device_) + "\" name=\"" + property + "\"><oneSwitch name=\"" +
         element + "\">On</oneSwitch></newSwitchVector>\n");
}

bool IndiClient::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        while (const auto element = stream_.next())
            handle(*element);
        if (condition())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (closed_ || fd_ < 0 || left <= 0ms)
            return false;
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, int(std::min<long>(left.count(), 10))) <= 0)
            continue;
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (n > 0)
            stream_.feed({buffer.data(), std::size_t(n)});
        else if (n == 0 || errno != EINTR)
            closed_ = true;
    }
}

std::optional<IndiClient::Blob> IndiClient::nextBlob(std::chrono::milliseconds limit)
{
    if (!waitFor([&] { return !blobs_.empty(); }, limit))
        return std::nullopt;
    Blob blob = std::move(blobs_.front());
    blobs_.pop_front();
    return blob;
}

std::string IndiClient::state(const std::string& property) const
{
    const auto found = properties_.find(property);
    return found == properties_.end() ? "" : found->second.state;
}

std::string IndiClient::value(const std::string& property, const std::string& element) const
{
    const auto found = properties_.find(property);
    if (found == properties_.end())
        return "";
    const auto value = found->second.values.find(element);
    return value == found->second.values.end() ? "" : value->second;
}

void IndiClient::handle(const XmlElement& element)
{
    if (element.attribute("device") != device_)
        return;
    const std::string name = element.attribute("name");
    if (!element.attribute("message").empty())
        messages_.push_back(element.attribute("message"));
    if (element.tag == "delProperty") {
        if (name.empty())
            properties_.clear();
        properties_.erase(name);
    }
    if (!element.tag.ends_with("Vector") || !(element.tag.starts_with("def") || element.tag.starts_with("set")))
        return;
    Property& property = properties_[name];
    if (element.attributes.contains("state"))
        property.state = element.attribute("state");
    for (const XmlElement& child : element.children) {
        if (child.tag == "oneBLOB")
            blobs_.push_back({child.attribute("name"), child.attribute("format"), decodeBase64(child.text)});
        property.values[child.attribute("name")] = trim(child.text);
    }
}

IndiServer::IndiServer(const std::string& driver, const std::string& home) : home_(home)
{
    // Another program may take the port between our look and the server's bind.
    for (int attempt = 0; attempt < 10 && !start(driver); ++attempt)
        stop();
}

IndiServer::~IndiServer() { stop(); }

std::string IndiServer::log() const { return readFile(home_ + "/server.log"); }

bool IndiServer::start(const std::string& driver)
{
    port_ = freePort();
    std::vector<std::string> arguments{"indiserver", "-v", "-r", "0", "-p", std::to_string(port_),
                                       // its local socket, one per server
                                       "-u", home_ + "/indiserver", driver};
    std::vector<std::string> environment{"HOME=" + home_};
    for (char** variable = environ; *variable != nullptr; ++variable)
        if (!std::string_view(*variable).starts_with("HOME="))
            environment.emplace_back(*variable);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (home_ + "/server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    auto argv = pointers(arguments), envp = pointers(environment);
    const int error = ::posix_spawnp(&pid_, "indiserver", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        return false;
    }
    // It listens on its TCP port first, then on its local socket.
    bool ended = false;
    eventually([&] {
        ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        return ended || log().find("listening on local domain") != std::string::npos;
    });
    if (ended)
        pid_ = -1;
    return !ended;
}

void IndiServer::stop()
{
    if (pid_ <= 0)
        return;
    // The driver leaves by itself when its input from the server ends.
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace tarvi::test
