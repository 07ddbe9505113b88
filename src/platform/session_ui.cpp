#include "platform/session_ui.h"

#include <QThread>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarvi {

struct GuiBridge::Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    Answer answer = Answer::ok;
};

GuiBridge::GuiBridge()
{
    woken_ = std::make_unique<QSocketNotifier>(posted_.fd(), QSocketNotifier::Read);
    connect(woken_.get(), &QSocketNotifier::activated, this, [this] { posted_.runAll(); });
}

GuiBridge::~GuiBridge()
{
    close();
    woken_.reset();
}

bool GuiBridge::onGuiThread() const
{
    return QThread::currentThread() == thread();
}

void GuiBridge::post(std::function<void()> fn)
{
    posted_.post(std::move(fn));
}

void GuiBridge::finish(const std::shared_ptr<Pending>& pending, Answer answer)
{
    {
        const std::lock_guard lock(pending->mutex);
        if (pending->finished)
            return;
        pending->finished = true;
        pending->answer = answer;
    }
    pending->done.notify_all();
    const std::lock_guard lock(mutex_);
    std::erase(waiting_, pending);
}

Answer GuiBridge::ask(std::function<void(std::function<void(Answer)>)> start, Answer fallback)
{
    auto pending = std::make_shared<Pending>();
    {
        const std::lock_guard lock(mutex_);
        if (closed_)
            return fallback;
        waiting_.push_back(pending);
    }
    // A question that closing answered already is not shown.
    post([this, pending, start = std::move(start)] {
        {
            const std::lock_guard lock(pending->mutex);
            if (pending->finished)
                return;
        }
        start([this, pending](Answer answer) { finish(pending, answer); });
    });
    std::unique_lock lock(pending->mutex);
    pending->done.wait(lock, [&] { return pending->finished; });
    return pending->answer;
}

bool GuiBridge::call(std::function<void()> fn)
{
    if (onGuiThread()) {
        fn();
        return true;
    }
    bool ran = false;
    // fn may hold references into the waiting caller: it runs only while
    // the caller still waits, which closing ends on this same GUI thread.
    ask(
        [&ran, &fn](const std::function<void(Answer)>& done) {
            fn();
            ran = true;
            done(Answer::ok);
        },
        Answer::cancel);
    return ran;
}

void GuiBridge::close()
{
    std::vector<std::shared_ptr<Pending>> waiting;
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        waiting = waiting_;
    }
    for (const auto& pending : waiting)
        finish(pending, Answer::cancel);
}

namespace {

// What the session's thread saw of the input last.
struct Seen {
    unsigned escapes = 0;
    unsigned leftPresses = 0;
    unsigned leftReleases = 0;
};
thread_local Seen seen;
thread_local std::function<void()> boundary;

}  // namespace

void SessionUi::startLooking(const std::function<void()>& sessionBoundary)
{
    seen = {input_.escapes.load(), input_.leftPresses.load(), input_.leftReleases.load()};
    boundary = sessionBoundary;
}

void SessionUi::onGui(std::function<void()> fn)
{
    if (bridge_.onGuiThread())
        fn();
    else
        bridge_.post(std::move(fn));
}

Answer SessionUi::messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style)
{
    if (bridge_.onGuiThread())
        return desktop_.messageBox(text, caption, buttons, style);
    return bridge_.ask(
        [this, text = std::string(text), caption = std::string(caption), buttons, style](
            std::function<void(Answer)> answered) {
            desktop_.openMessageBox(text, caption, buttons, style, std::move(answered));
        },
        safeAnswer(buttons));
}

void SessionUi::setStatusText(int pane, std::string_view text)
{
    onGui([this, pane, text = std::string(text)] { desktop_.setStatusText(pane, text); });
}

// A job's many short waits would make the pointer flicker over every window,
// while the other device and the windows stay usable: the cursor changes only
// for work on the GUI thread.
void SessionUi::beginWaitCursor()
{
    if (bridge_.onGuiThread())
        desktop_.beginWaitCursor();
}

void SessionUi::endWaitCursor()
{
    if (bridge_.onGuiThread())
        desktop_.endWaitCursor();
}

InputSeen SessionUi::lookForInput()
{
    if (bridge_.onGuiThread())
        return desktop_.lookForInput();
    betweenSteps();
    const Seen now{input_.escapes.load(), input_.leftPresses.load(), input_.leftReleases.load()};
    InputSeen report;
    report.escapeTyped = now.escapes != seen.escapes;
    report.leftButtonPressed = now.leftPresses != seen.leftPresses;
    report.leftButtonReleased = now.leftReleases != seen.leftReleases;
    seen = now;
    return report;
}

void SessionUi::betweenSteps()
{
    if (bridge_.onGuiThread())
        desktop_.betweenSteps();
    else if (boundary)
        boundary();
}

void SessionUi::setProgress(int done, int total)
{
    onGui([this, done, total] { desktop_.setProgress(done, total); });
}

void SessionUi::playSound(const std::string& wavPath)
{
    onGui([this, wavPath] { desktop_.playSound(wavPath); });
}

void SessionUi::beep()
{
    onGui([this] { desktop_.beep(); });
}

}  // namespace tarvi
