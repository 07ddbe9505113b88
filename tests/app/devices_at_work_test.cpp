// The whole program while its devices work, in the real event loop, against
// the simulated camera and telescope on pseudo-terminals: what shows during a
// wait, what is refused meanwhile, and a device that goes away and comes back.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <regex>
#include <set>

#include "app/command_line.h"
#include "app/command_table.h"
#include "app/doc_manager.h"
#include "app/main_frame.h"
#include "app/tarvi_doc.h"
#include "app/tarvi_shell.h"
#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "telescope/lx200_control.h"
#include "telescope/lx200_p0.h"
#include "telescope/lx200_p3.h"
#include "telescope/lx200_tcp_server.h"
#include "telescope/sky_flats.h"

namespace tarvi {
namespace {

using Button = LX200P0::DrawnButton;

class DevicesAtWorkTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    std::unique_ptr<TarviShell> shell;

    void SetUp() override
    {
        // Exposures of 3 s; the camera is looked for at 9600 baud first, where
        // the simulated one starts, and then set to 57600.
        test::writeFile(dir.file("tarvi.ini"), "[st4Settings150]\nValues=0 0 0 1 1 0 3 0 0 0 0 0 2 1 -1 -1 0\n");
        shell = std::make_unique<TarviShell>(dir.path(), &ui);
        // Boxes are recorded and answered here; everything else reaches the
        // real windows and event loop.
        ui.desktop = &shell->ui();
        shell->pageSettingsDirectory = dir.path();
        // A fixed sky: a November night in Montreal with 02:43 of sidereal
        // time on the meridian, so that the go-tos below are above the
        // telescope's limit whatever the hour the tests run.
        shell->telescopeOptions.localTime = sim::CivilTime{2026, 11, 14, 23, 0, 0};
        shell->telescopeOptions.utcOffsetHours = 5;
        ASSERT_TRUE(shell->initInstance(parseCommandLine({"--simulate"})));
        TearDown();
        app().log = [](const std::string&) {};
    }
    // Whatever a test left open goes without asking.
    void TearDown() override
    {
        for (const auto& doc : shell->docManager().documents())
            doc->setModifiedFlag(false);
    }

    CTarviApp& app() { return shell->app(); }
    CMainFrame& frame() { return *shell->mainFrame(); }
    QString paneZero() { return frame().pane(0)->text(); }
    sim::TelescopeSimulator& telescope() { return *shell->telescopeSimulator(); }
    void expectNoBox() const { EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text; }
    // Until both devices have ended their work, what it shows included.
    void idle()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !app().cameraBusy() && !app().telescopeLine().working(); }, 60000));
    }
    void reconnect()
    {
        app().connectDevices(app().settings.cameraPort, app().settings.cameraSpeed, app().settings.telescopePort);
        idle();
    }
    LX200Control& openSheet()
    {
        shell->router().route(cmd::lx200Controls);
        idle();
        return *shell->telescopeSheet();
    }

    // Runs `look` every 50 ms of the real event loop while `work` runs and
    // until the camera's jobs it started have ended.
    void watching(const std::function<void()>& look, const std::function<void()>& work)
    {
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, look);
        watch.start(50);
        work();
        idle();
    }

    // The frame the camera sent, in the program's buffer order.
    CTarviApp::Frame sentFrame()
    {
        const auto sent = shell->cameraSimulator()->lastFrame();
        CTarviApp::Frame frame{};
        for (int row = 0; row < CTarviApp::frameHeight; ++row)
            std::copy_n(sent.begin() + row * CTarviApp::frameWidth, CTarviApp::frameWidth,
                        frame.begin() + (CTarviApp::frameHeight - 1 - row) * CTarviApp::frameWidth);
        return frame;
    }
    // A click on a drawn button of the motion page, through its window.
    void click(Button button)
    {
        LX200P0& motion = shell->telescopeSheet()->page0();
        QTest::mouseClick(&motion, Qt::LeftButton, {}, motion.buttonRect(button).center());
        idle();
    }
};

// Chosen from its menu as a person does: the menu closes before the exposure,
// the countdown is painted, and Setup Communications is greyed and refused
// while the camera works, the telescope's sheet not.
TEST_F(DevicesAtWorkTest, ACaptureCountsDownOnScreenItsMenuIsGoneAndTheCameraIsNotPulledFromUnderIt)
{
    QAction* item = frame().commandAction(cmd::captureImage);
    QMenu* menu = frame().menuBar()->actions().value(2)->menu();
    ASSERT_TRUE(menu->actions().contains(item));
    std::set<QString> shown;
    bool menuOpenDuringTheCapture = false, tried = false, greyed = false, routed = true;
    watching(
        [&] {
            shown.insert(paneZero());
            menuOpenDuringTheCapture |= app().cameraBusy() && menu->isVisible();
            if (tried || paneZero() != "Exposure underway.  Seconds remaining:  1")
                return;
            tried = true;
            greyed = !frame().commandAction(cmd::setupComm)->isEnabled() && !item->isEnabled()
                     && frame().commandAction(cmd::lx200Controls)->isEnabled();
            routed = shell->router().route(cmd::setupComm);
        },
        [&] {
            menu->popup(frame().mapToGlobal(QPoint(10, 10)));
            ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        });
    EXPECT_TRUE(shown.count("Exposure underway.  Seconds remaining:  2")) << "the countdown was painted";
    // Every row's line reaches the pane; which of them are painted is the machine's business.
    EXPECT_TRUE(std::ranges::any_of(ui.statusTexts, [](const auto& text) { return text.second == "Uploading image line  164"; }));
    EXPECT_FALSE(menuOpenDuringTheCapture);
    ASSERT_TRUE(tried);
    EXPECT_TRUE(greyed);
    EXPECT_FALSE(routed);
    EXPECT_EQ(ui.boxTexts(), std::vector<std::string>{std::string(cameraBusyMessage)});
    EXPECT_EQ(paneZero(), "Image created");
    EXPECT_EQ(app().cameraImage, sentFrame());
    EXPECT_TRUE(frame().commandAction(cmd::setupComm)->isEnabled()) << "free again";
}

TEST_F(DevicesAtWorkTest, ExitDuringACaptureStopsItAndThenEnds)
{
    bool asked = false, closedWhileBusy = false;
    watching(
        [&] {
            closedWhileBusy |= app().cameraBusy() && !frame().isVisible();
            if (!asked && paneZero().startsWith("Exposure underway")) {
                asked = true;
                frame().close();
            }
        },
        [&] { shell->router().route(cmd::captureImage); });
    ASSERT_TRUE(asked);
    EXPECT_EQ(paneZero(), "Image capture TERMINATED");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame().isVisible(); }, 5000));
    EXPECT_FALSE(closedWhileBusy) << "not while the capture ran";
}

TEST_F(DevicesAtWorkTest, ACameraLostMidDownloadIsOneMessageAndRetryFinishesTheFrame)
{
    shell->cameraOptions.faults.hangUpAtRow = 60;  // the camera is made at the first capture
    // Plugged in again before Retry is pressed.
    ui.onBox = [&](const test::FakeUi::Box&) { shell->cameraSimulator()->plugIn(); };
    ui.answers = {Answer::retry};
    int made = 0;
    app().cameraJob([&] { made = app().captureImage(); });
    idle();
    ASSERT_EQ(made, 1);
    ASSERT_EQ(ui.boxes.size(), 1u) << ui.boxTexts()[1];
    EXPECT_EQ(ui.boxes[0].text.rfind("Attempt to retrieve row 60 failed\n\ncom1 (sim:camera) is no longer there: ", 0), 0u)
        << ui.boxes[0].text;
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::retryCancel);
    EXPECT_EQ(app().cameraImage, sentFrame());
    EXPECT_EQ(frame().pane(1)->text(), "Baud rate: 56.6K.  ST-4 Version:  3");
}

// Both devices at once, on lines paced as the real ones are: AutoShoot
// downloads whole frames while the sky flats drift, the drift's legs go on
// during every exposure and download, and each device's traffic is what it
// would be alone. A press ends the drift and Escape the frames.
TEST_F(DevicesAtWorkTest, AutoshootGoesOnWhileTheSkyFlatsDriftAndNeitherDeviceWaitsForTheOther)
{
    shell.reset();
    shell = std::make_unique<TarviShell>(dir.path(), &ui);
    ui.desktop = &shell->ui();
    shell->pageSettingsDirectory = dir.path();
    shell->cameraOptions.pace = true;
    shell->telescopeOptions.pace = true;
    ASSERT_TRUE(shell->initInstance(parseCommandLine({"--simulate"})));
    TearDown();
    LX200P3& flats = openSheet().page3();
    EXPECT_TRUE(std::ranges::any_of(ui.statusTexts, [](const auto& text) {
        return text == std::pair<int, std::string>{Ui::telescopePane, "Please Wait.  Establishing telescope communications"};
    })) << "in a pane of its own, beside the camera's";
    flats.millisecondsEdit()->setText("300");
    telescope().clearTraffic();
    int frames = 0, exact = 0;
    long legsAtFirstFrame = -1;
    const auto legs = [&] {
        const auto heard = telescope().receivedCommands();
        return std::ranges::count_if(heard, [](const std::string& c) { return c.size() == 4 && c.starts_with(":M"); });
    };
    ui.onStatus = [&](int pane, const std::string& text) {
        if (pane != 0 || text != "Image created")
            return;
        // The camera thread waits for its window now: the picture is still
        // the one the camera sent.
        ++frames;
        exact += app().cameraImage == sentFrame() ? 1 : 0;
        if (legsAtFirstFrame < 0)
            legsAtFirstFrame = legs();
    };
    flats.onStart();
    shell->router().route(cmd::autoShoot);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frames >= 2; }, 60000));
    EXPECT_TRUE(app().telescopeLine().working()) << "the drift goes on";
    EXPECT_GT(legs(), legsAtFirstFrame + 3) << "legs went on between the frames";
    QTest::mousePress(&flats, Qt::LeftButton);
    QTest::keyClick(shell->mainFrame(), Qt::Key_Escape);
    idle();
    EXPECT_EQ(exact, frames);
    // The drift's traffic is what it is alone: its stops and rates, a
    // position read before every leg, and the legs in their order.
    const std::vector<std::string> stopAll{":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#", ":GR#", ":GD#"};
    std::vector<std::string> expected = stopAll;
    expected.push_back(":RC#");
    SkyFlatPattern pattern("", "", 300);
    for (long leg = 0; leg < legs(); ++leg) {
        expected.insert(expected.end(), {":GR#", ":GD#"});
        for (const SkyFlatStep& step : pattern.nextLeg()) {
            if (step.kind != SkyFlatStep::Kind::wait)
                expected.push_back(step.command);
        }
    }
    expected.insert(expected.end(), {":GR#", ":GD#"});
    expected.insert(expected.end(), stopAll.begin(), stopAll.end());
    expected.insert(expected.end(), {":GR#", ":GD#", ":RG#"});
    // The last bytes are written; on a paced line the telescope hears them later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return telescope().receivedCommands().size() >= expected.size(); }, 10000));
    EXPECT_EQ(telescope().receivedCommands(), expected);
}

// Sky flats started during an exposure: the rows are asked for as soon as
// the exposure ends, while the drift goes on, and the frame is the camera's.
TEST_F(DevicesAtWorkTest, ADriftStartedDuringAnExposureLetsTheRowsComeWhileItGoesOn)
{
    LX200P3& flats = openSheet().page3();
    flats.millisecondsEdit()->setText("300");
    bool driftingAtTheFirstRow = false, exact = false;
    ui.onStatus = [&](int pane, const std::string& text) {
        if (pane != 0)
            return;
        if (text.starts_with("Exposure underway") && !app().telescopeLine().working())
            flats.onStart();
        if (text == "Uploading image line    0")
            driftingAtTheFirstRow = flats.running();
        if (text == "Image created")
            exact = app().cameraImage == sentFrame();
    };
    shell->router().route(cmd::captureImage);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app().cameraBusy(); }, 60000));
    EXPECT_TRUE(app().telescopeLine().working()) << "the drift outlives the capture";
    QTest::mousePress(&flats, Qt::LeftButton);
    idle();
    EXPECT_TRUE(driftingAtTheFirstRow);
    EXPECT_TRUE(exact);
    expectNoBox();
}

// Lost with the sheet open, then back; then a connect to a telescope that
// answers nothing, after which the pages find the port closed.
TEST_F(DevicesAtWorkTest, ATelescopeLostOrSilentIsOneMessageAndTheNextGetFindsItAgain)
{
    LX200Control& sheet = openSheet();
    LX200P0& motion = sheet.page0();
    ASSERT_TRUE(ui.boxes.empty());
    telescope().hangUp();
    QTest::qWait(100);  // the line is gone
    click(Button::get);
    ASSERT_EQ(ui.boxes.size(), 1u) << ui.boxTexts()[1];
    EXPECT_NE(ui.boxes[0].text.find("com2 (sim:telescope) is no longer there: "), std::string::npos) << ui.boxes[0].text;
    EXPECT_EQ(app().settings.telescopeHandle, -1);

    telescope().plugIn();
    motion.raEdit()->clear();
    click(Button::get);
    EXPECT_EQ(ui.boxes.size(), 1u) << ui.boxTexts().back();
    EXPECT_EQ(shell->telescopeSheet(), &sheet) << "the same sheet, handed the port again";
    EXPECT_EQ(motion.raEdit()->text().size(), 8) << motion.raEdit()->text().toStdString();
    EXPECT_NE(motion.portHandle(), -1);
    EXPECT_EQ(motion.portHandle(), app().settings.telescopeHandle);

    telescope().setSilent(true);
    ui.boxes.clear();
    reconnect();
    QTest::qWait(10);
    click(Button::get);
    EXPECT_EQ(ui.boxTexts(), (std::vector<std::string>{"Cannot open telescope port com2\nsim:telescope: no answer",
                                                    "Telescope port is not open."}));
}

// Planetarium programs on the telescope server, over loopback, with the sheet
// and without it.
class TelescopeServerTest : public DevicesAtWorkTest {
protected:
    int port = 0;
    std::vector<std::unique_ptr<QTcpSocket>> clients;

    void SetUp() override
    {
        DevicesAtWorkTest::SetUp();
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
        probe.close();
        app().sharing = {.on = true, .port = port, .allowOthers = false};
        shell->startTelescopeServer();
        ASSERT_TRUE(server().listening()) << ui.boxTexts()[0];
    }
    void TearDown() override
    {
        clients.clear();
        DevicesAtWorkTest::TearDown();
    }

    LX200TcpServer& server() { return *shell->telescopeServer(); }
    QTcpSocket& connectClient()
    {
        QTcpSocket& socket = *clients.emplace_back(std::make_unique<QTcpSocket>());
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        EXPECT_TRUE(QTest::qWaitFor([&] { return server().clientCount() == clients.size(); }, 2000));
        return socket;
    }
    // Sends the command and runs the event loop until its reply is whole, or
    // for a while when none is due; an unfinished reply is the test's to judge.
    static std::string ask(QTcpSocket& socket, const std::string& command)
    {
        const lx200::Reply kind = lx200::commandInfo(command).reply;
        socket.write(QByteArray::fromStdString(command));
        std::string got;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                got += socket.readAll().toStdString();
                return kind != lx200::Reply::none && !got.empty()
                       && (kind == lx200::Reply::digit || got.back() == '#' || (kind == lx200::Reply::goTo && got == "0"));
            },
            kind == lx200::Reply::none ? 200 : 3000));
        return got;
    }
    long heardCount(const std::string& command)
    {
        const auto heard = telescope().receivedCommands();
        return std::count(heard.begin(), heard.end(), command);
    }
};

// The handshake opens the port and each reply has the right shape; the
// server listens on loopback only unless allowed, and a port in use is said once.
TEST_F(TelescopeServerTest, TheConnectHandshakeGetsRepliesOfTheRightShapeAndTheServerListensWhereAllowed)
{
    EXPECT_EQ(frame().serverPane()->text().toStdString(), "LX200 server :" + std::to_string(port) + ", 0 clients");
    for (const QHostAddress& address : server().addresses())
        EXPECT_TRUE(address.isLoopback()) << address.toString().toStdString();
    QTcpSocket& client = connectClient();
    EXPECT_EQ(frame().serverPane()->text().toStdString(), "LX200 server :" + std::to_string(port) + ", 1 client");
    EXPECT_EQ(app().settings.telescopeHandle, -1) << "opened by the first command, not before";
    const std::string degree = "[\xDF*]", hms = "[0-9]{2}:[0-9]{2}:[0-9]{2}#";
    const std::pair<std::string, std::string> handshake[] = {
        {"\x06", "P"}, {":GVP#", "[ -~]{1,40}#"}, {":GVN#", "[ -~]{1,12}#"}, {":Gc#", "24#"},
        {":GM#", "[ -~]{1,15}#"}, {":GT#", "[0-9]{2}\\.[0-9]#"}, {":Gt#", "[+-][0-9]{2}" + degree + "[0-9]{2}#"},
        {":Gg#", "[0-9]{3}" + degree + "[0-9]{2}#"}, {":GG#", "[+-][0-9]{2}(\\.[0-9])?#"}, {":GL#", hms},
        {":GC#", "[0-9]{2}/[0-9]{2}/[0-9]{2}#"}, {":GR#", hms}, {":GD#", "[+-][0-9]{2}" + degree + "[0-9]{2}:[0-9]{2}#"},
    };
    for (const auto& [command, shape] : handshake) {
        const std::string reply = ask(client, command);
        EXPECT_TRUE(std::regex_match(reply, std::regex(shape))) << command << " -> " << reply;
    }
    // Opened with the precision set-up: long positions, as the shapes want.
    EXPECT_TRUE(telescope().longFormat());
    expectNoBox();

    app().sharing.allowOthers = true;
    shell->startTelescopeServer();
    EXPECT_EQ(server().addresses(), std::vector<QHostAddress>{QHostAddress(QHostAddress::Any)});
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    app().sharing = {.on = true, .port = squatter.serverPort(), .allowOthers = false};
    shell->startTelescopeServer();
    EXPECT_FALSE(server().listening());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text.rfind("Cannot share the telescope on TCP port " + std::to_string(squatter.serverPort()) + ": ", 0), 0u)
        << ui.boxes[0].text;
    EXPECT_TRUE(frame().serverPane()->isHidden());
}

TEST_F(TelescopeServerTest, ThePortLostUnderTheServerKeepsItUpAndItServesAgainAfterConnect)
{
    QTcpSocket& client = connectClient();
    ASSERT_EQ(ask(client, "\x06"), "P");
    telescope().hangUp();
    QTest::qWait(100);
    EXPECT_EQ(ask(client, ":GR#"), "");
    EXPECT_EQ(ask(client, ":GR#"), "");
    EXPECT_EQ(ui.boxes.size(), 1u) << "the loss, once";
    EXPECT_TRUE(server().listening());
    telescope().plugIn();
    reconnect();
    EXPECT_TRUE(std::regex_match(ask(client, ":GR#"), std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}#")));
    EXPECT_EQ(ui.boxes.size(), 1u) << ui.boxTexts().back();

}

TEST_F(TelescopeServerTest, TwoPollingClientsShareOneReadAndASlewOfTheirsShowsInTheSheet)
{
    LX200P0& motion = openSheet().page0();
    telescope().setTimeScale(0.05);
    telescope().setPosition({2.0, 30.0});
    QTcpSocket& first = connectClient();
    QTcpSocket& second = connectClient();
    const long before = heardCount(":GR#");
    first.write(":GR#");
    second.write(":GR#");
    std::string a, b;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        a += first.readAll().toStdString();
        b += second.readAll().toStdString();
        return a.ends_with('#') && b.ends_with('#');
    }, 3000));
    EXPECT_EQ(a, "02:00:00#");
    EXPECT_EQ(b, a);
    EXPECT_EQ(heardCount(":GR#"), before + 1);

    EXPECT_EQ(ask(first, ":Sr 02:20:00#"), "1");
    EXPECT_EQ(ask(first, ":Sd +31*00:00#"), "1");
    EXPECT_EQ(ask(first, ":MS#"), "0");
    click(Button::get);
    EXPECT_EQ(motion.raEdit()->text(), "02:20:00");
    EXPECT_EQ(motion.decEdit()->text(), "+31:00:00");
}

// A click on Stop during a leg: the run reads the position, sends its stops,
// and only then does the button do its own. A client's stop during a run goes
// at once; its motion waits for the run to end.
TEST_F(TelescopeServerTest, SkyFlatsEndedByStopOrByAClientsStopAndMotionWaitsForTheRunToEnd)
{
    LX200Control& sheet = openSheet();
    sheet.tabs()->setCurrentIndex(3);
    LX200P3& flats = sheet.page3();
    flats.millisecondsEdit()->setText("200");
    telescope().clearTraffic();
    QTimer::singleShot(700, flats.stopButton(), [&] { QTest::mouseClick(flats.stopButton(), Qt::LeftButton); });
    QTest::mouseClick(flats.startButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return heardCount(":RG#") == 1; }, 5000));
    idle();  // Stop's own click, which waits for the run to end
    std::string heard;
    for (const std::string& command : telescope().receivedCommands())
        heard += command;
    const std::string stopAll = ":Q#:Qn#:Qs#:Qe#:Qw#:GR#:GD#", tail = ":GR#:GD#" + stopAll + ":GR#:GD#:RG#" + stopAll;
    EXPECT_TRUE(heard.size() > tail.size() && heard.ends_with(tail)) << heard;
    expectNoBox();

    flats.millisecondsEdit()->setText("300");
    QTcpSocket& client = connectClient();
    telescope().clearTraffic();
    std::vector<std::string> heardInRun;
    // Rates the run itself never sends: the first is undone by the stop.
    QTimer::singleShot(300, [&] { client.write(":RS#:Q#:RM#"); });
    QTimer::singleShot(900, [&] {
        heardInRun = telescope().receivedCommands();
        app().telescopeLine().requestStop();
    });
    flats.onStart();
    idle();
    EXPECT_EQ(std::ranges::count(heardInRun, ":Q#"), 2) << "the run's own stop, then the client's";
    EXPECT_EQ(std::ranges::count(heardInRun, ":RM#"), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return heardCount(":RM#") == 1; }, 2000)) << "after the run";
    EXPECT_EQ(heardCount(":RS#"), 0) << "undone by the stop that overtook it";
}

// A capture while the telescope follows a slew and a planetarium program
// polls: the frame is the camera's, GET arrives where GO went, and every
// reply the program gets is a whole position.
TEST_F(TelescopeServerTest, ACaptureWhileGetFollowsASlewAndAClientPolls)
{
    LX200P0& motion = openSheet().page0();
    telescope().setTimeScale(0.05);
    telescope().setPosition({2.0, 30.0});
    motion.raEdit()->setText("02:30:00");
    motion.decEdit()->setText("+31:00:00");
    QTcpSocket& client = connectClient();
    std::string replies;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        replies += client.readAll().toStdString();
        client.write(":GR#");
    });
    bool exact = false;
    ui.onStatus = [&](int pane, const std::string& text) {
        if (pane == 0 && text == "Image created")
            exact = app().cameraImage == sentFrame();
    };
    shell->router().route(cmd::captureImage);
    poll.start(100);
    click(Button::go);  // and until both devices are idle
    poll.stop();
    EXPECT_TRUE(exact);
    EXPECT_EQ(motion.raEdit()->text() + motion.decEdit()->text(), "02:29:59+31:00:00");
    EXPECT_GT(std::ranges::count(replies, '#'), 4);
    EXPECT_TRUE(std::regex_match(replies, std::regex("([0-9]{2}:[0-9]{2}:[0-9]{2}#)*"))) << replies;
    expectNoBox();
}

TEST_F(TelescopeServerTest, ClientsPollingDuringTheSheetsGetLoopNeverSplitItsExchanges)
{
    LX200P0& motion = openSheet().page0();
    telescope().setTimeScale(0.2);
    telescope().setPosition({2.0, 30.0});
    QTcpSocket& client = connectClient();
    ASSERT_EQ(ask(client, ":Sr 03:00:00#"), "1");
    ASSERT_EQ(ask(client, ":MS#"), "0");
    // Replies that no box of the sheet could take for its own.
    QByteArray flood;
    for (int i = 0; i < 200; ++i)
        flood += ":Gc#:GVP#";
    std::set<QString> boxes;
    std::string replies;
    watching(
        [&] {
            boxes.insert(motion.raEdit()->text());
            replies += client.readAll().toStdString();
        },
        [&] {
            client.write(flood);
            click(Button::get);
        });
    for (const QString& box : boxes)
        EXPECT_TRUE(std::regex_match(box.toStdString(), std::regex("([0-9]{2}:[0-9]{2}:[0-9]{2})?"))) << box.toStdString();
    EXPECT_EQ(motion.raEdit()->text(), "03:00:00");
    EXPECT_GT(std::ranges::count(replies, '#'), 4) << "clients were served during the loop";
    EXPECT_TRUE(std::regex_match(replies, std::regex("(24#|[ -~]+#)*"))) << replies;
    expectNoBox();
}

TEST_F(TelescopeServerTest, BadClientsAreClosedAndAFloodIsHeldBackWhileTheSheetAnswers)
{
    LX200P0& motion = openSheet().page0();
    const std::string longRa = ":Sr " + std::string(40, '1') + "#";
    for (const std::string& bytes : {longRa, std::string(":GR\x01#"), std::string(100, 'x')}) {
        QTcpSocket& socket = connectClient();
        socket.write(QByteArray::fromStdString(bytes));
        EXPECT_TRUE(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 2000)) << bytes;
        EXPECT_TRUE(QTest::qWaitFor([&] { return server().clientCount() == 0; }, 2000));
        clients.clear();
    }
    EXPECT_EQ(heardCount(longRa), 0);

    QByteArray flood;
    for (int i = 0; i < 10000; ++i)
        flood += ":GR#";
    connectClient().write(flood);
    QTcpSocket& leaver = connectClient();
    leaver.write(":GD#:GD#:GD#");
    leaver.abort();
    std::size_t mostQueued = 0;
    watching([&] { mostQueued = std::max(mostQueued, server().core().queued()); },
             [&] {
                 QTest::qWait(300);
                 motion.raEdit()->clear();
                 click(Button::get);
             });
    EXPECT_EQ(motion.raEdit()->text().size(), 8) << "the sheet is answered through the flood";
    EXPECT_LE(mostQueued, 2 * (LX200Server::queueLimit + 64 / 4));
    EXPECT_EQ(server().clientCount(), 1u);
    expectNoBox();
}

}  // namespace
}  // namespace tarvi
