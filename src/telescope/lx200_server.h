#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/clock.h"
#include "platform/port_owner.h"
#include "telescope/lx200_commands.h"
#include "telescope/lx200_link.h"

namespace tarvi {

// One client's bytes cut into commands of the classic set: ":" to "#", or the
// ACK byte alone. Only the grammar's bytes are let through: a command longer
// than longestCommand, a byte outside printable ASCII other than the ACK, or
// more than longestJunk bytes with no ":" to start a command break it, and the
// client is closed.
class LX200ClientInput {
public:
    static constexpr std::size_t longestCommand = 40;
    static constexpr std::size_t longestJunk = 64;

    // Appends the whole commands in bytes to out; false when the bytes break
    // the grammar.
    bool take(std::span<const std::uint8_t> bytes, std::deque<std::string>& out);

private:
    std::string partial_;  // from its ":", while a command is incomplete
    std::size_t junk_ = 0;
};

// The telescope shared with planetarium programs: their commands go, one
// exchange at a time, on the line that the program and its control sheet
// use, between the sheet's own exchanges. The network side (sockets) lives
// elsewhere; this holds the clients' queues and performs their commands.
//
// The rules of sharing:
// - Nothing goes on the line inside an exchange of the sheet's, nor inside a
//   wait that the line's owner marks as one.
// - While the sheet moves the telescope (a held direction or focus button,
//   a focus loop, sky flats, the park countdown), clients' motion and focus
//   commands wait until it ends; their reads, stops and settings go on.
// - Stops are never held back by the sheet's motion: a stop overtakes the
//   client's commands that wait, and the motion it would undo is dropped.
// - ":U#" is not passed on: the program keeps the telescope in the long
//   format that its pages and every client's polls read alike.
// - Position reads (":GR#", ":GD#", ":GA#", ":GZ#") from any number of
//   clients are served from one telescope read at most every
//   positionReadMs, so that polling clients leave the line to the sheet.
// - A command that finds the port closed gets no reply. A port that was
//   never opened is opened once for each client, by its first such command;
//   a port lost with its device waits for the user's next command.
//
// The clients' side (connect, receive, disconnect) is called on the GUI
// thread, serveOne on the telescope's; the queues are guarded between them,
// and no lock is held while the line is used or the hooks run.
class LX200Server {
public:
    static constexpr std::size_t maxClients = 4;
    static constexpr std::size_t queueLimit = 8;
    static constexpr std::int64_t positionReadMs = 250;

    LX200Server(Clock& clock, PortOwner& line) : clock_(clock), line_(line) {}
    LX200Server(const LX200Server&) = delete;
    LX200Server& operator=(const LX200Server&) = delete;

    // A new client's id; 0 when maxClients are connected.
    int connect();
    // The client's queued commands go with it; a reply under way to it is
    // dropped, nobody else's.
    void disconnect(int id);
    std::size_t clientCount() const;

    // Bytes from the client; false when they broke the grammar, and the
    // client is to be closed.
    bool receive(int id, std::span<const std::uint8_t> bytes);
    // Whether the client's socket may be read: its queue is not full.
    bool wantsInput(int id) const;
    bool pending() const;
    // Commands waiting in all queues.
    std::size_t queued() const;

    // Performs the next command that may go now, taking the clients in turn;
    // false when none may.
    bool serveOne();
    // Every command that may go now.
    void serveAll();

    // Sends a reply to a client; called on the thread that serves.
    std::function<void(int id, const std::string& reply)> sendReply;
    // Opens the telescope port with the precision set-up; true when it is open.
    std::function<bool()> openPort;
    // Whether the control sheet is moving the telescope.
    std::function<bool()> sheetMoves;

    // Telescope exchanges made for clients, and position reads served from
    // the last one instead.
    std::size_t exchangesMade() const { return exchanges_; }
    std::size_t readsShared() const { return readsShared_; }
    // How long the line was held for clients' exchanges, by the clock.
    std::int64_t lineTimeMs() const { return lineTimeMs_; }

private:
    struct Client {
        LX200ClientInput input;
        std::deque<std::string> queue;
        bool openTried = false;
    };
    struct KeptRead {
        std::string reply;
        std::int64_t atMs = 0;
    };

    bool mayGoNow(const lx200::CommandInfo& info, bool sheetMovesNow) const;
    // A stop queued behind commands that must wait goes to the front, and the
    // motion it undoes leaves the queue; false when the queue holds no stop.
    static bool stopOvertakes(std::deque<std::string>& queue);
    // The reply as it came from the telescope; empty when none is due or
    // none came whole.
    std::optional<std::string> perform(int id, const std::string& command, const lx200::CommandInfo& info);
    // The next command that may go, taken from its client's queue; its
    // client's id, 0 when none may.
    int takeNext(bool sheetMovesNow, std::string& command);

    Clock& clock_;
    PortOwner& line_;
    mutable std::mutex mutex_;
    std::map<int, Client> clients_;
    int nextId_ = 1;
    int lastServed_ = 0;
    bool serving_ = false;
    std::map<std::string, KeptRead> keptReads_;
    std::size_t exchanges_ = 0;
    std::size_t readsShared_ = 0;
    std::int64_t lineTimeMs_ = 0;
};

}  // namespace tarvi
