#include "telescope/lx200_server.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace tarvi {

namespace {

bool printable(std::uint8_t byte)
{
    return byte >= 0x20 && byte <= 0x7E;
}

bool positionRead(const std::string& command)
{
    return command == ":GR#" || command == ":GD#" || command == ":GA#" || command == ":GZ#";
}

}  // namespace

bool LX200ClientInput::take(std::span<const std::uint8_t> bytes, std::deque<std::string>& out)
{
    for (const std::uint8_t byte : bytes) {
        if (partial_.empty()) {
            if (byte == static_cast<std::uint8_t>(lx200::ack)) {
                out.emplace_back(1, lx200::ack);
                junk_ = 0;
            } else if (byte == ':') {
                partial_ = ":";
            } else if (!printable(byte) || ++junk_ > longestJunk) {
                return false;
            }
            continue;
        }
        if (!printable(byte))
            return false;
        partial_.push_back(static_cast<char>(byte));
        if (partial_.size() > longestCommand)
            return false;
        if (byte == '#') {
            out.push_back(std::move(partial_));
            partial_.clear();
            junk_ = 0;
        }
    }
    return true;
}

int LX200Server::connect()
{
    const std::lock_guard lock(mutex_);
    if (clients_.size() >= maxClients)
        return 0;
    const int id = nextId_++;
    clients_[id];
    return id;
}

void LX200Server::disconnect(int id)
{
    const std::lock_guard lock(mutex_);
    clients_.erase(id);
}

std::size_t LX200Server::clientCount() const
{
    const std::lock_guard lock(mutex_);
    return clients_.size();
}

bool LX200Server::receive(int id, std::span<const std::uint8_t> bytes)
{
    const std::lock_guard lock(mutex_);
    const auto client = clients_.find(id);
    if (client == clients_.end())
        return false;
    return client->second.input.take(bytes, client->second.queue);
}

bool LX200Server::wantsInput(int id) const
{
    const std::lock_guard lock(mutex_);
    const auto client = clients_.find(id);
    return client != clients_.end() && client->second.queue.size() < queueLimit;
}

bool LX200Server::pending() const
{
    const std::lock_guard lock(mutex_);
    for (const auto& [id, client] : clients_) {
        if (!client.queue.empty())
            return true;
    }
    return false;
}

std::size_t LX200Server::queued() const
{
    const std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [id, client] : clients_)
        count += client.queue.size();
    return count;
}

bool LX200Server::mayGoNow(const lx200::CommandInfo& info, bool sheetMovesNow) const
{
    if (info.effect == lx200::Effect::stop)
        return true;
    const bool moves = info.effect == lx200::Effect::motion || info.effect == lx200::Effect::focus;
    return !(moves && sheetMovesNow);
}

bool LX200Server::stopOvertakes(std::deque<std::string>& queue)
{
    const auto stop = std::find_if(queue.begin(), queue.end(), [](const std::string& command) {
        return lx200::commandInfo(command).effect == lx200::Effect::stop;
    });
    if (stop == queue.end())
        return false;
    // What the stop undoes goes with it: ":FQ#" the focuser's commands, the
    // others the mount's. The rest keeps its order behind the stop.
    const lx200::Effect undone = *stop == ":FQ#" ? lx200::Effect::focus : lx200::Effect::motion;
    std::deque<std::string> reordered{std::move(*stop)};
    for (auto it = queue.begin(); it != stop; ++it) {
        if (lx200::commandInfo(*it).effect != undone)
            reordered.push_back(std::move(*it));
    }
    std::move(std::next(stop), queue.end(), std::back_inserter(reordered));
    queue = std::move(reordered);
    return true;
}

int LX200Server::takeNext(bool sheetMovesNow, std::string& command)
{
    const std::lock_guard lock(mutex_);
    // The clients in turn, starting after the one served last.
    std::vector<int> order;
    for (auto it = clients_.upper_bound(lastServed_); it != clients_.end(); ++it)
        order.push_back(it->first);
    for (auto it = clients_.begin(); it != clients_.end() && it->first <= lastServed_; ++it)
        order.push_back(it->first);
    for (const int id : order) {
        Client& client = clients_.at(id);
        if (client.queue.empty())
            continue;
        if (!mayGoNow(lx200::commandInfo(client.queue.front()), sheetMovesNow) && !stopOvertakes(client.queue))
            continue;
        command = std::move(client.queue.front());
        client.queue.pop_front();
        lastServed_ = id;
        return id;
    }
    return 0;
}

bool LX200Server::serveOne()
{
    if (serving_ || line_.exchanging() || !pending())
        return false;
    const bool sheetMovesNow = sheetMoves && sheetMoves();
    std::string command;
    const int id = takeNext(sheetMovesNow, command);
    if (id == 0)
        return false;
    const lx200::CommandInfo info = lx200::commandInfo(command);
    serving_ = true;
    std::optional<std::string> reply;
    {
        const auto exchange = line_.exchange();
        reply = perform(id, command, info);
    }
    serving_ = false;
    bool stillThere = false;
    {
        const std::lock_guard lock(mutex_);
        stillThere = clients_.contains(id);
    }
    // The client may have gone while the line was busy.
    if (reply && !reply->empty() && stillThere && sendReply)
        sendReply(id, *reply);
    return true;
}

void LX200Server::serveAll()
{
    while (serveOne()) {
    }
}

std::optional<std::string> LX200Server::perform(int id, const std::string& command, const lx200::CommandInfo& info)
{
    if (command == ":U#")
        return std::nullopt;
    if (!line_.open()) {
        if (line_.lost() || !openPort)
            return std::nullopt;
        bool tried = true;
        {
            const std::lock_guard lock(mutex_);
            if (const auto client = clients_.find(id); client != clients_.end())
                tried = std::exchange(client->second.openTried, true);
        }
        if (tried || !openPort())
            return std::nullopt;
    }
    const std::int64_t now = clock_.nowMs();
    const bool position = positionRead(command);
    if (position) {
        const auto kept = keptReads_.find(command);
        if (kept != keptReads_.end() && now - kept->second.atMs < positionReadMs) {
            ++readsShared_;
            return kept->second.reply;
        }
    } else if (info.effect != lx200::Effect::read) {
        keptReads_.clear();
    }
    if (!line_.open())
        return std::nullopt;
    ++exchanges_;
    std::optional<std::string> reply = wholeExchange(line_, clock_, command, info.reply);
    lineTimeMs_ += clock_.nowMs() - now;
    if (reply && position)
        keptReads_[command] = {*reply, now};
    return reply;
}

}  // namespace tarvi
