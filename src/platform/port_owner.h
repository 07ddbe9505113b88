#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "platform/serial_port.h"
#include "platform/ui.h"

namespace tarvi {

// One serial port as the whole program shares it. The application keeps the
// handle; its own routines and every page of the telescope sheet reach the
// device through here, so that a device that goes away (an adapter pulled
// out, a bridge that closed) is closed once, reported once, and opened afresh
// by the next command.
//
// An operation is one command on the device, from its start to its end,
// nested operations included (a click handled inside a running loop). While
// one runs the device is busy: commands that would pull the device from
// under it are refused, and timers skip their ticks.
class PortOwner {
public:
    // handle is where the program keeps the port's handle; -1 when closed.
    PortOwner(Ui& ui, PortTable& ports, int& handle) : ui_(ui), ports_(ports), handle_(handle) {}
    PortOwner(const PortOwner&) = delete;
    PortOwner& operator=(const PortOwner&) = delete;

    int handle() const { return handle_; }
    SerialPort* port() const { return ports_.find(handle_); }
    bool open() const { return port() != nullptr; }
    PortTable& ports() { return ports_; }

    // "com2 (/dev/ttyUSB0)": how messages name the port.
    std::function<std::string()> describe;
    // Opens the port again after it was lost; true when it opened and the
    // device answered. It says itself why not.
    std::function<bool()> reopen;
    // Runs once the port of a device that went away has been closed.
    std::function<void()> closedByLoss;
    // Runs when the device becomes busy or idle.
    std::function<void()> busyChanged;
    // Held while the handle changes, where others read it from another
    // thread (the settings line is written from either device's thread).
    std::mutex* handleGuard = nullptr;

    enum class Kind {
        command,  // something the user asked for: it may open a lost port
        tick      // a timer's: it never opens a port, and waits while the device is busy
    };

    class Operation {
    public:
        Operation(PortOwner& owner, Kind kind);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        PortOwner& owner_;
        Kind saved_;
    };
    Operation operation(Kind kind = Kind::command) { return Operation(*this, kind); }
    bool busy() const { return depth_ > 0; }

    // One exchange with the device, from its first byte out to the last byte
    // of its reply, waits included: nothing else may go on the line meanwhile
    // (a client of the network server, a timer's tick).
    class Exchange {
    public:
        explicit Exchange(PortOwner& owner) : owner_(owner) { ++owner_.exchanges_; }
        ~Exchange() { --owner_.exchanges_; }
        Exchange(const Exchange&) = delete;
        Exchange& operator=(const Exchange&) = delete;

    private:
        PortOwner& owner_;
    };
    Exchange exchange() { return Exchange(*this); }
    bool exchanging() const { return exchanges_ > 0; }

    // Exit while the device works: the running operation ends at its next
    // look, and the operations after it start afresh.
    void requestStop() { stopRequested_ = busy(); }
    bool stopRequested() const { return stopRequested_; }

    // An exchange on `handle` found the device gone. The port is closed (the
    // program's handle becomes -1), the user is told once, naming the port
    // and the system's reason, and the rest of the operation is dropped.
    // A port closed before has been dealt with already.
    void deviceLost(int handle, const SysError& error);
    // The operation under way lost the device: its exchanges, and its own
    // messages about the device, are dropped. Outside any operation each
    // exchange stands for itself.
    bool dropping() const { return dropping_ && busy(); }
    // Before an exchange that finds the port closed: a port lost earlier is
    // opened again, once per operation, by commands only. True when the port
    // is open now.
    bool openIfLost();
    // Retry in a box that offers it: the port is opened again whatever
    // happened before in this operation. True when it is open now.
    bool retryOpen();
    // Whether the port was closed because its device went away, and not
    // opened since.
    bool lost() const { return lost_; }
    // The port was closed or opened on purpose (Setup > Communications).
    void forgetLoss() { lost_ = false; }

    // While set, deviceLost keeps its message for the caller, which shows it
    // in a box of its own that offers Retry (the failed-row box).
    bool deferLossMessage = false;
    // The message of a loss that was kept back; empty when none.
    std::string takeLossMessage();

    // The text of the one message: "com2 (/dev/ttyUSB0) is no longer there: ...".
    std::string lossText(const SysError& error) const;

private:
    Ui& ui_;
    PortTable& ports_;
    int& handle_;
    // Read by the GUI thread (Exit) while a device's thread works.
    std::atomic<int> depth_ = 0;
    int exchanges_ = 0;
    Kind kind_ = Kind::command;
    bool dropping_ = false;
    bool lost_ = false;
    bool reopenTried_ = false;
    std::atomic<bool> stopRequested_ = false;
    std::string keptMessage_;
};

// A device gone for good, as opposed to a deadline that passed or a call
// that was interrupted.
bool deviceGone(const SysError& error);

}  // namespace tarvi
