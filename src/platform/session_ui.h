#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ui.h"
#include "platform/wake_queue.h"

namespace tarvi {

// Carries a device session's calls to the desktop over to the GUI thread:
// queued calls run there in the order they were posted, and a call or a
// question whose caller waits for it. Only the caller waits; the GUI thread
// never does. Made on the GUI thread. The calls wait in a queue of the
// bridge's own, and an event file descriptor wakes the GUI thread for them:
// nothing of a caller's passes through the toolkit's event queue.
class GuiBridge final : public QObject {
    Q_OBJECT
public:
    GuiBridge();
    ~GuiBridge() override;

    bool onGuiThread() const;
    // Runs fn on the GUI thread after everything posted before it.
    void post(std::function<void()> fn);
    // Runs fn on the GUI thread and waits for its end; on the GUI thread it
    // runs at once. False when the bridge was closed and fn did not run.
    bool call(std::function<void()> fn);
    // Starts a question on the GUI thread and waits for its answer, which
    // `start` hands to the function it is given once the user has chosen.
    // `fallback` is the answer when the bridge closes first.
    Answer ask(std::function<void(std::function<void(Answer)>)> start, Answer fallback);
    // At exit: calls and questions that wait return at once (questions with
    // their fallback), and later ones do not wait.
    void close();

private:
    struct Pending;
    void finish(const std::shared_ptr<Pending>& pending, Answer answer);

    std::mutex mutex_;
    bool closed_ = false;
    std::vector<std::shared_ptr<Pending>> waiting_;
    WakeQueue posted_;
    std::unique_ptr<QSocketNotifier> woken_;
};

// The desktop as device code sees it on whichever thread it runs. On the GUI
// thread every call goes straight to the desktop. On a device session's
// thread status texts, progress and sounds are posted to the GUI thread in
// order; a box is opened there without a loop of its own and only the asking
// job waits for the answer; and a look for input runs the session's boundary
// and reports the Escape typed and the left-button presses and releases since
// the session last looked.
class SessionUi final : public Ui {
public:
    SessionUi(Ui& desktop, GuiBridge& bridge, InputTally& input) : desktop_(desktop), bridge_(bridge), input_(input) {}

    // Called on a session's thread as a job starts: input that went by
    // before it is not the job's. Where the job's routines look up, the
    // session's boundary runs: its urgent work and whatever else may go
    // between two exchanges.
    void startLooking(const std::function<void()>& boundary);

    Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style) override;
    void setStatusText(int pane, std::string_view text) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    InputSeen lookForInput() override;
    void betweenSteps() override;
    void setProgress(int done, int total) override;
    void playSound(const std::string& wavPath) override;
    void beep() override;

private:
    // Runs at once on the GUI thread, else is posted there.
    void onGui(std::function<void()> fn);

    Ui& desktop_;
    GuiBridge& bridge_;
    InputTally& input_;
};

}  // namespace tarvi
