// The telescope shared over TCP: one client polls the position (or the time)
// as fast as it can while the control sheet makes its own exchanges five times a second,
// through the whole program against the simulated telescope, every byte
// taking its line time at 9600 baud. Measured: how late the sheet's
// exchanges start (the time they wait for a client's exchange to end), how
// many get through, and how much of the line the client holds.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/command_table.h"
#include "app/tarvi_shell.h"
#include "telescope/lx200_control.h"
#include "telescope/lx200_link.h"
#include "telescope/lx200_tcp_server.h"

namespace {

constexpr int sheetPeriodMs = 200;
constexpr int runMs = 10000;

// pollTimes: the client asks the sidereal time, which is never shared
// between reads, and so holds the line as much as any client can.
void run(benchmark::State& state, bool withClient, bool pollTimes = false)
{
    const std::string dir = std::filesystem::temp_directory_path() / "tarvi-server-bench";
    std::filesystem::create_directories(dir);
    for (auto _ : state) {
        tarvi::TarviShell shell(dir);
        shell.telescopeOptions.pace = true;
        shell.pageSettingsDirectory = dir;
        if (!shell.initInstance(tarvi::parseCommandLine({"--simulate"}))) {
            state.SkipWithError("no start");
            return;
        }
        shell.router().route(tarvi::cmd::lx200Controls);
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const int port = probe.serverPort();
        probe.close();
        shell.app().sharing = {.on = true, .port = port, .allowOthers = false};
        shell.startTelescopeServer();
        tarvi::LX200Server& core = shell.telescopeServer()->core();

        QTcpSocket client;
        long clientReplies = 0;
        std::string pending;
        bool north = false;
        const auto poll = [&] {
            north = !north;
            client.write(pollTimes ? ":GS#" : north ? ":GR#" : ":GD#");
        };
        QObject::connect(&client, &QTcpSocket::readyRead, [&] {
            pending += client.readAll().toStdString();
            if (!pending.ends_with('#'))
                return;
            ++clientReplies;
            pending.clear();
            poll();
        });
        if (withClient) {
            client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            client.waitForConnected(2000);
            poll();
        }

        tarvi::LX200Link sheetLink(shell.app().ui(), shell.app().telescopeLine());
        sheetLink.setHandle(shell.app().settings.telescopeHandle);
        std::vector<double> lateMs;
        long sheetReplies = 0;
        QElapsedTimer clock;
        clock.start();
        qint64 due = sheetPeriodMs;
        QTimer sheet;
        sheet.setTimerType(Qt::PreciseTimer);
        sheet.setSingleShot(true);
        QObject::connect(&sheet, &QTimer::timeout, [&] {
            lateMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6 - static_cast<double>(due));
            if (sheetLink.query(":GR#", 20).size() == 8)
                ++sheetReplies;
            due += sheetPeriodMs;
            sheet.start(static_cast<int>(std::max<qint64>(0, due - clock.elapsed())));
        });
        sheet.start(sheetPeriodMs);
        const std::int64_t lineBefore = core.lineTimeMs();
        QTest::qWait(runMs);
        sheet.stop();
        const double wallMs = static_cast<double>(clock.elapsed());

        std::sort(lateMs.begin(), lateMs.end());
        const auto at = [&](double q) { return lateMs[static_cast<std::size_t>(q * double(lateMs.size() - 1))]; };
        state.counters["sheet_exchanges"] = double(lateMs.size());
        state.counters["sheet_replies"] = double(sheetReplies);
        state.counters["sheet_late_median_ms"] = at(0.5);
        state.counters["sheet_late_p95_ms"] = at(0.95);
        state.counters["sheet_late_max_ms"] = lateMs.back();
        state.counters["client_replies_per_s"] = double(clientReplies) * 1000.0 / wallMs;
        state.counters["client_line_exchanges"] = double(core.exchangesMade());
        state.counters["client_line_occupancy_pct"] = 100.0 * double(core.lineTimeMs() - lineBefore) / wallMs;
        client.abort();
        shell.exitInstance();
    }
}

void BM_SheetAlone(benchmark::State& state)
{
    run(state, false);
}
void BM_SheetWithPollingClient(benchmark::State& state)
{
    run(state, true);
}
void BM_SheetWithClientPollingTheTime(benchmark::State& state)
{
    run(state, true, true);
}
BENCHMARK(BM_SheetAlone)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SheetWithPollingClient)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SheetWithClientPollingTheTime)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
