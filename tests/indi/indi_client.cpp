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
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace tarvi::test {

// One element as the server sent it, entities replaced.
struct XmlElement {
    std::string tag, text;
    std::map<std::string, std::string> attributes;
    std::vector<XmlElement> children;

    std::string attribute(const std::string& name) const
    {
        const auto found = attributes.find(name);
        return found == attributes.end() ? "" : found->second;
    }
};

namespace {

constexpr auto npos = std::string_view::npos;
constexpr std::string_view blanks = " \t\r\n";
constexpr std::pair<std::string_view, char> entities[]{
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};

std::string unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto* entity = std::ranges::find_if(entities, [&](const auto& e) { return text.substr(i).starts_with(e.first); });
        out += entity == std::end(entities) ? text[i] : entity->second;
        i += entity == std::end(entities) ? 1 : entity->first.size();
    }
    return out;
}

std::string trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(blanks);
    return first == npos ? "" : std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

// Past the '>' of the tag that opens at text[at], quoted ones skipped; npos
// while the tag is not whole.
std::size_t tagEnd(std::string_view text, std::size_t at)
{
    for (char quote = 0; at < text.size(); ++at) {
        if (quote == 0 && text[at] == '>')
            return at + 1;
        if (text[at] == '"' || text[at] == '\'')
            quote = quote == 0 ? text[at] : quote == text[at] ? 0 : quote;
    }
    return npos;
}

// The element whose start tag opens at text[at], all of which text holds;
// `at` ends past it.
XmlElement parse(std::string_view text, std::size_t& at)
{
    XmlElement element;
    const std::size_t end = tagEnd(text, at);
    std::string_view tag = text.substr(at + 1, end - at - 2);
    const bool empty = tag.ends_with('/');
    tag = tag.substr(0, tag.size() - (empty ? 1 : 0));
    std::size_t i = std::min(tag.find_first_of(blanks), tag.size());
    element.tag = tag.substr(0, i);
    while ((i = tag.find_first_not_of(blanks, i)) != npos) {
        const std::size_t nameEnd = tag.find_first_of("= \t\r\n", i), open = tag.find_first_of("\"'", nameEnd);
        const std::size_t close = open == npos ? npos : tag.find(tag[open], open + 1);
        if (close == npos)
            break;
        element.attributes[std::string(tag.substr(i, nameEnd - i))] = unescape(tag.substr(open + 1, close - open - 1));
        i = close + 1;
    }
    for (at = end; !empty && at < text.size();) {
        const std::size_t next = text.find('<', at);
        element.text += unescape(text.substr(at, next - at));
        if (next == npos || text.substr(next).starts_with("</")) {
            at = next == npos ? text.size() : tagEnd(text, next);
            break;
        }
        element.children.push_back(parse(text, at = next));
    }
    return element;
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// One the system has just given out; the server may still lose it to another program.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
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

std::vector<std::uint8_t> decodeBase64(std::string_view text)
{
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const std::size_t value = alphabet.find(c);
        if (value == npos)  // line breaks and the padding
            continue;
        bits = (bits << 6 | std::uint32_t(value)) & 0xFFFFFF;
        if ((count += 6) >= 8)
            out.push_back(std::uint8_t(bits >> (count -= 8)));
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
    const sockaddr_in address = loopback(port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    ::close(fd_);
    fd_ = -1;
    return false;
}

void IndiClient::send(const std::string& xml)
{
    for (std::size_t sent = 0; sent < xml.size() && !closed_;) {
        const ssize_t n = ::send(fd_, xml.data() + sent, xml.size() - sent, MSG_NOSIGNAL);
        sent += std::size_t(std::max<ssize_t>(n, 0));
        closed_ = n < 0 && errno != EINTR;
    }
}

void IndiClient::set(const std::string& kind, const std::string& property, const Elements& elements)
{
    std::string xml = "<new" + kind + "Vector device=\"" + device_ + "\" name=\"" + property + "\">";
    for (const auto& [name, value] : elements)
        xml += "<one" + kind + " name=\"" + name + "\">" + value + "</one" + kind + ">";
    send(xml + "</new" + kind + "Vector>\n");
}

bool IndiClient::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        while (const auto element = nextElement())
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
        input_.append(buffer.data(), std::size_t(std::max<ssize_t>(n, 0)));
        closed_ = n == 0 || (n < 0 && errno != EINTR);
    }
}

std::optional<IndiClient::Blob> IndiClient::nextBlob(const std::function<bool()>& unless)
{
    if (!waitFor([&] { return !blobs_.empty() || unless(); }) || blobs_.empty())
        return std::nullopt;
    Blob blob = std::move(blobs_.front());
    blobs_.pop_front();
    return blob;
}

const IndiClient::Property& IndiClient::find(const std::string& property) const
{
    static const Property none;
    const auto found = properties_.find(property);
    return found == properties_.end() ? none : found->second;
}

std::string IndiClient::value(const std::string& property, const std::string& element) const
{
    const auto& values = find(property).values;
    const auto found = values.find(element);
    return found == values.end() ? "" : found->second;
}

// Elements follow each other with no root around them; each is whole once
// its end tag has come (those of INDI never nest one of their own kind).
std::optional<XmlElement> IndiClient::nextElement()
{
    for (;;) {
        input_.erase(0, std::min(input_.find('<'), input_.size()));
        const std::string_view text = input_;
        std::size_t end = tagEnd(text, 0);
        if (end == npos)
            return std::nullopt;
        if (text.starts_with("<?") || text.starts_with("<!")) {
            input_.erase(0, end);
            continue;
        }
        if (text[end - 2] != '/') {
            const std::string close = "</" + std::string(text.substr(1, text.find_first_of(" \t\r\n/>", 1) - 1)) + ">";
            if ((end = text.find(close, end)) == npos)
                return std::nullopt;
            end += close.size();
        }
        std::size_t at = 0;
        XmlElement element = parse(text.substr(0, end), at);
        input_.erase(0, end);
        return element;
    }
}

void IndiClient::handle(const XmlElement& element)
{
    if (element.attribute("device") != device_)
        return;
    const std::string name = element.attribute("name");
    if (!element.attribute("message").empty())
        messages_.push_back(element.attribute("message"));
    if (element.tag == "delProperty")
        properties_.erase(name);
    if (!element.tag.ends_with("Vector") || !(element.tag.starts_with("def") || element.tag.starts_with("set")))
        return;
    Property& property = properties_[name];
    ++property.updates;
    if (element.attributes.contains("state"))
        property.state = element.attribute("state");
    for (const XmlElement& child : element.children) {
        if (child.tag == "oneBLOB")
            blobs_.push_back({child.attribute("name"), child.attribute("format"), decodeBase64(child.text)});
        property.values[child.attribute("name")] = trim(child.text);
        property.history[child.attribute("name")].push_back(trim(child.text));
    }
}

std::vector<std::string> IndiClient::history(const std::string& property, const std::string& element) const
{
    const auto& all = find(property).history;
    const auto found = all.find(element);
    return found == all.end() ? std::vector<std::string>{} : found->second;
}

IndiServer::IndiServer(const std::string& driver, const std::string& home) : home_(home)
{
    for (int attempt = 0; attempt < 10 && !start(driver); ++attempt)
        stop();
}

std::string IndiServer::log() const { return readFile(home_ + "/server.log"); }

bool IndiServer::start(const std::string& driver)
{
    port_ = freePort();
    // Its local socket too is one of its own.
    std::vector<std::string> arguments{"indiserver", "-v", "-r", "0", "-p", std::to_string(port_),
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
    // It listens on its TCP port first, then on its local socket, or leaves.
    bool ended = error != 0;
    eventually([&] {
        ended = ended || ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        return ended || log().find("listening on local domain") != std::string::npos;
    });
    pid_ = ended ? -1 : pid_;
    return !ended;
}

void IndiServer::stop()
{
    // The driver leaves by itself once its input from the server ends.
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

}  // namespace tarvi::test
