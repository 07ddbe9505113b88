#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "telescope/lx200_server.h"

class QTcpServer;
class QTcpSocket;

namespace tarvi {

// The network side of the telescope server: it listens on a TCP port, on the
// loopback addresses or on every address, and reads each client's socket
// only while its queue has room, on the GUI thread. The queued commands are
// performed on the telescope's thread: by a serving run posted there, and one
// at a time between the exchanges of the sheet's own work.
class LX200TcpServer final : public QObject {
    Q_OBJECT
public:
    LX200TcpServer(Clock& clock, PortOwner& line, QObject* parent = nullptr);
    ~LX200TcpServer() override;

    // Listens on port; the reason when it cannot, empty when it listens.
    std::string listen(int port, bool allowOthers);
    void close();
    bool listening() const { return !servers_.empty(); }
    int port() const { return port_; }
    std::vector<QHostAddress> addresses() const;
    std::size_t clientCount() const { return core_.clientCount(); }

    LX200Server& core() { return core_; }

    // "LX200 server :4030, 2 clients"; empty when not listening.
    QString statusText() const;
    // Runs when the server starts or stops listening or a client comes or goes.
    std::function<void()> changed;
    // Runs work on the telescope's thread, without making the telescope
    // busy for the program's commands; unset, at once.
    std::function<void(std::function<void()>)> runOnTelescope;
    // Runs work from the telescope's thread on the GUI thread, in order;
    // unset, through the toolkit's event queue.
    std::function<void(std::function<void()>)> runOnGui;
    // On the telescope's thread, between two exchanges of the sheet's work:
    // one waiting command goes.
    void serveWaiting();

private:
    void accept(QTcpServer* server);
    void readFrom(int id);
    void drop(int id);
    void serve();
    // On the GUI thread after serving: queues with room take more.
    void afterServing();
    void onGui(std::function<void()> work);
    void schedule(int ms);
    void tellChanged();

    LX200Server core_;
    std::vector<std::unique_ptr<QTcpServer>> servers_;
    std::map<int, QPointer<QTcpSocket>> sockets_;
    QTimer serveTimer_;
    bool servePosted_ = false;
    int port_ = 0;
};

}  // namespace tarvi
