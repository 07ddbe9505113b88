#pragma once

#include <atomic>
#include <cassert>
#include <functional>
#include <mutex>
#include <thread>
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
// The device's work runs as jobs, on the device's own thread in the program.
// An operation is one command on the device inside a job, from its start to
// its end, nested operations included; while jobs wait or run the device is
// working: commands that would pull the device from under it are refused.
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
    // Runs on the GUI thread when the device starts or ends its work.
    std::function<void()> busyChanged;

    // Where the device's work runs. The program's runner runs a job on the
    // device's own thread and then `ended` on the GUI thread; unset, both run
    // at once in the caller (the routines' tests).
    using JobRunner = std::function<void(std::function<void()> job, std::function<void()> ended)>;
    JobRunner runner;
    // The same for urgent work (a stop): it goes before every job that
    // waits, and a running job takes it at its next exchange boundary.
    JobRunner urgentRunner;
    // Runs fn on the GUI thread, the caller waiting for its end; unset, at once.
    std::function<void(const std::function<void()>& fn)> onGui;
    // Called by a running job between two of its exchanges.
    std::function<void()> betweenExchanges;

    // Device work, posted from the GUI thread: the device is working from
    // now until the job has ended.
    void run(std::function<void()> job) { start(std::move(job), runner); }
    void runUrgent(std::function<void()> job) { start(std::move(job), urgentRunner ? urgentRunner : runner); }
    // A job waits or runs; read on the GUI thread.
    bool working() const { return jobs_ > 0; }
    // The thread whose jobs own the port, set before any runs; unset, any.
    void setDeviceThread(std::thread::id id) { deviceThread_ = id; }
    // Every read and write of the port happens on its device's thread.
    void assertOnDeviceThread() const
    {
        assert(deviceThread_ == std::thread::id() || deviceThread_ == std::this_thread::get_id());
    }
    void gui(const std::function<void()>& fn)
    {
        if (onGui)
            onGui(fn);
        else
            fn();
    }
    // From a job, at the end of an exchange: the device's urgent work and the
    // network clients' commands that wait go now.
    void exchangeBoundary()
    {
        if (!betweenExchanges || exchanges_ > 0 || atBoundary_)
            return;
        atBoundary_ = true;
        betweenExchanges();
        atBoundary_ = false;
    }
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
    // Jobs still waiting then do not run. Called on the GUI thread.
    void requestStop() { stopRequested_ = busy() || jobs_ > 0; }
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
    void start(std::function<void()> job, const JobRunner& how);

    Ui& ui_;
    PortTable& ports_;
    int jobs_ = 0;
    bool atBoundary_ = false;
    std::thread::id deviceThread_;
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
