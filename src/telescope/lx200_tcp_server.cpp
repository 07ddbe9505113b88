#include "telescope/lx200_tcp_server.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <array>

namespace tarvi {

namespace {

// Qt reads no more from the system than this for a client whose queue is
// full, so a client that floods the line is held back by TCP itself.
constexpr qint64 socketBufferBytes = 256;
constexpr qint64 readChunkBytes = 64;
// How soon a command that may not go yet (the sheet is inside an exchange,
// or moving the telescope) is looked at again.
constexpr int retryMs = 10;

}  // namespace

LX200TcpServer::LX200TcpServer(Clock& clock, PortOwner& line, QObject* parent)
    : QObject(parent), core_(clock, line)
{
    serveTimer_.setSingleShot(true);
    connect(&serveTimer_, &QTimer::timeout, this, &LX200TcpServer::serve);
    core_.sendReply = [this](int id, const std::string& reply) {
        onGui([this, id, reply] {
            const auto socket = sockets_.find(id);
            if (socket != sockets_.end() && socket->second)
                socket->second->write(reply.data(), static_cast<qint64>(reply.size()));
        });
    };
}

LX200TcpServer::~LX200TcpServer()
{
    changed = nullptr;
    close();
}

std::string LX200TcpServer::listen(int port, bool allowOthers)
{
    close();
    std::vector<QHostAddress> wanted;
    if (allowOthers)
        wanted.emplace_back(QHostAddress::Any);
    else
        wanted = {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    std::string failure;
    for (const QHostAddress& address : wanted) {
        auto server = std::make_unique<QTcpServer>();
        server->setMaxPendingConnections(static_cast<int>(LX200Server::maxClients));
        if (!server->listen(address, static_cast<quint16>(port))) {
            // A machine without IPv6 still has the IPv4 loopback.
            if (failure.empty())
                failure = server->errorString().toStdString();
            continue;
        }
        QTcpServer* raw = server.get();
        connect(raw, &QTcpServer::newConnection, this, [this, raw] { accept(raw); });
        servers_.push_back(std::move(server));
    }
    // The IPv4 loopback, or every address, is the one that must be had.
    const bool usable = !servers_.empty()
                        && (allowOthers || servers_.front()->serverAddress() == QHostAddress(QHostAddress::LocalHost));
    if (!usable) {
        close();
        return failure.empty() ? std::string("cannot listen") : failure;
    }
    port_ = port;
    tellChanged();
    return {};
}

void LX200TcpServer::close()
{
    const bool was = listening() || !sockets_.empty();
    serveTimer_.stop();
    // The clients first, quietly: the listeners own their sockets.
    for (auto& [id, socket] : sockets_) {
        core_.disconnect(id);
        if (socket) {
            socket->disconnect(this);
            socket->abort();
        }
    }
    sockets_.clear();
    servers_.clear();
    port_ = 0;
    if (was)
        tellChanged();
}

std::vector<QHostAddress> LX200TcpServer::addresses() const
{
    std::vector<QHostAddress> out;
    for (const auto& server : servers_)
        out.push_back(server->serverAddress());
    return out;
}

QString LX200TcpServer::statusText() const
{
    if (!listening())
        return {};
    const std::size_t count = core_.clientCount();
    return QStringLiteral("LX200 server :%1, %2 %3")
        .arg(port_)
        .arg(count)
        .arg(count == 1 ? QStringLiteral("client") : QStringLiteral("clients"));
}

void LX200TcpServer::accept(QTcpServer* server)
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        const int id = core_.connect();
        if (id == 0) {
            // Full: the newcomer is turned away, the others go on.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(socketBufferBytes);
        sockets_[id] = socket;
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { readFrom(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { drop(id); });
        tellChanged();
        readFrom(id);
    }
}

void LX200TcpServer::readFrom(int id)
{
    const auto found = sockets_.find(id);
    if (found == sockets_.end() || !found->second)
        return;
    QTcpSocket* socket = found->second;
    std::array<char, readChunkBytes> chunk{};
    while (core_.wantsInput(id) && socket->bytesAvailable() > 0) {
        const qint64 count = socket->read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (count <= 0)
            break;
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                                                  static_cast<std::size_t>(count));
        if (!core_.receive(id, bytes)) {
            // Outside the command grammar: nothing of it reaches the telescope.
            socket->abort();
            drop(id);
            return;
        }
    }
    if (core_.pending() && !serveTimer_.isActive())
        schedule(0);
}

void LX200TcpServer::drop(int id)
{
    const auto found = sockets_.find(id);
    if (found == sockets_.end())
        return;
    if (QTcpSocket* socket = found->second) {
        socket->disconnect(this);
        socket->deleteLater();
    }
    sockets_.erase(found);
    core_.disconnect(id);
    tellChanged();
}

void LX200TcpServer::serve()
{
    if (servePosted_)
        return;
    servePosted_ = true;
    auto work = [this] {
        core_.serveAll();
        onGui([this] {
            servePosted_ = false;
            afterServing();
            // What still waits, waits for the sheet to stop moving the telescope.
            if (core_.pending())
                schedule(retryMs);
        });
    };
    if (runOnTelescope)
        runOnTelescope(std::move(work));
    else
        work();
}

void LX200TcpServer::serveWaiting()
{
    if (core_.serveOne())
        onGui([this] { afterServing(); });
}

void LX200TcpServer::onGui(std::function<void()> work)
{
    if (runOnGui)
        runOnGui(std::move(work));
    else
        QMetaObject::invokeMethod(this, std::move(work));
}

void LX200TcpServer::afterServing()
{
    std::vector<int> ids;
    for (const auto& [id, socket] : sockets_)
        ids.push_back(id);
    for (const int id : ids)
        readFrom(id);
}

void LX200TcpServer::schedule(int ms)
{
    serveTimer_.start(ms);
}

void LX200TcpServer::tellChanged()
{
    if (changed)
        changed();
}

}  // namespace tarvi
