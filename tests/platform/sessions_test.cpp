// Device work on threads of its own: a session's queue, the network clients
// served on the telescope's thread while the GUI thread takes their bytes, and
// the bridge that carries a job's calls to the GUI thread. scripts/tsan runs
// these under ThreadSanitizer too.
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_session.h"
#include "platform/qt_ui.h"
#include "platform/session_ui.h"
#include "telescope/lx200_server.h"
#include "telescope/scripted_telescope.h"

namespace tarvi {
namespace {

using test::Strings;

// What jobs and their helpers note down, from whichever thread.
struct Log {
    std::mutex mutex;
    Strings lines;
    void note(const std::string& line)
    {
        const std::lock_guard lock(mutex);
        lines.push_back(line);
    }
    Strings taken()
    {
        const std::lock_guard lock(mutex);
        return lines;
    }
};

// Jobs run one at a time on the session's thread, in their order; an urgent
// one overtakes the jobs that wait and runs inside the job under way at its
// next boundary; after finish nothing runs.
TEST(DeviceSession, JobsRunInOrderOnItsThreadAndAStopGoesAtTheNextBoundary)
{
    Log log;
    std::promise<void> go;
    std::shared_future<void> started = go.get_future().share();
    std::promise<void> running, done;
    {
        DeviceSession session("test");
        session.post([&] {
            running.set_value();
            started.wait();
            log.note(session.onThread() ? "drift on its thread" : "drift elsewhere");
            session.runUrgent();
            log.note("drift goes on");
        });
        session.post([&] {
            log.note("frame");
            done.set_value();
        });
        running.get_future().wait();
        session.postUrgent([&] { log.note("stop"); });
        EXPECT_FALSE(session.onThread());
        go.set_value();
        done.get_future().wait();
        session.finish();
        session.post([&] { log.note("after the end"); });
    }
    EXPECT_EQ(log.taken(), (Strings{"drift on its thread", "stop", "drift goes on", "frame"}));
}

// Clients' bytes come in on one thread while another serves them against the
// telescope, as the GUI and the telescope's threads do; every reply reaches
// its client whole and in order.
TEST(LX200ServerThreads, CommandsTakenOnOneThreadAreServedOnAnother)
{
    test::ScriptedTelescope scope;
    scope.lineHandle = scope.addPort();
    scope.replies = {{":GR#", {"02:00:00#"}}, {":GD#", {"+30\xDF" "00:00#"}}, {":Gc#", {"24#"}}};
    LX200Server server(scope.clock, scope.line);
    std::mutex mutex;
    std::map<int, std::string> heard;
    server.sendReply = [&](int id, const std::string& reply) {
        const std::lock_guard lock(mutex);
        heard[id] += reply;
    };
    const int first = server.connect(), second = server.connect();
    constexpr int rounds = 200;
    std::atomic<bool> fed = false;
    std::thread serving([&] {
        while (!fed || server.pending())
            server.serveAll();
    });
    for (int i = 0; i < rounds; ++i) {
        while (!server.wantsInput(first) || !server.wantsInput(second))
            std::this_thread::yield();
        ASSERT_TRUE(server.receive(first, test::bytesOf(":GR#:GD#")));
        ASSERT_TRUE(server.receive(second, test::bytesOf(":Gc#")));
    }
    fed = true;
    serving.join();
    std::string pair, many;
    for (int i = 0; i < rounds; ++i)
        pair += "02:00:00#+30\xDF" "00:00#", many += "24#";
    EXPECT_EQ(heard[first], pair);
    EXPECT_EQ(heard[second], many);
}

// The status panes as the main window shows them.
struct Panes final : StatusPanes {
    std::vector<QString> texts;
    void setPaneText(int, const QString& text) override { texts.push_back(text); }
    void setProgress(int, int) override {}
};

// A job's calls to the desktop: texts in order, a call that waits for the GUI
// thread, the input that went by since the job began and the session's
// boundary at each look, and a question that Exit answers with its safe button.
TEST(SessionUi, AJobsCallsReachTheGuiThreadInOrderAndExitAnswersItsQuestion)
{
    QtUi desktop;
    QWidget window;
    Panes panes;
    desktop.setMainWindow(&window, &panes);
    window.show();
    GuiBridge bridge;
    SessionUi ui(desktop, bridge, desktop.input());
    QTest::keyClick(&window, Qt::Key_Escape);  // before the job: not the job's
    int boundaries = 0;
    std::promise<void> looked;
    std::vector<QString> shownOnGui;
    InputSeen first, second;
    Answer answer = Answer::yes;
    std::thread job([&] {
        ui.startLooking([&] { ++boundaries; });
        for (const char* text : {"Exposure underway.  Seconds remaining:  2", "Uploading image line    0", "Image created"})
            ui.setStatusText(0, text);
        EXPECT_TRUE(bridge.call([&] { shownOnGui = panes.texts; }));
        first = ui.lookForInput();
        looked.set_value();
        // The GUI thread types Escape and presses now.
        while (desktop.input().leftPresses == 0)
            std::this_thread::yield();
        second = ui.lookForInput();
        answer = ui.messageBox("Attempt to retrieve row 7 failed", "ERROR", Buttons::retryCancel, {});
    });
    std::future<void> lookedOnce = looked.get_future();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lookedOnce.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::mousePress(&window, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.findChild<QMessageBox*>() != nullptr; }));
    desktop.closeOpenBoxes();
    job.join();
    EXPECT_EQ(shownOnGui, (std::vector<QString>{"Exposure underway.  Seconds remaining:  2", "Uploading image line    0",
                                                "Image created"}));
    EXPECT_FALSE(first.escapeTyped || first.leftButtonPressed);
    EXPECT_TRUE(second.escapeTyped && second.leftButtonPressed && !second.leftButtonReleased);
    EXPECT_EQ(boundaries, 2);
    EXPECT_EQ(answer, Answer::cancel);
    // Closed: a later question of a job is answered at once, unseen.
    bridge.close();
    Answer late = Answer::retry;
    std::thread([&] { late = ui.messageBox("Telescope not responding", {}, Buttons::retryCancel, {}); }).join();
    EXPECT_EQ(late, Answer::cancel);
    for (const QMessageBox* box : window.findChildren<QMessageBox*>())
        EXPECT_FALSE(box->isVisible()) << box->text().toStdString();
}

}  // namespace
}  // namespace tarvi
