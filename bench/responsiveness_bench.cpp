// How long the window goes without a turn of the event loop, where it paints,
// while device work runs on the devices' own threads: the whole program
// against the simulated camera and telescope on pseudo-terminals, each case
// run once, from the command until both devices are idle again. The cases of
// both devices at once also give the sky-flat legs' lengths and the time per
// frame, and the stops case how soon Escape, a press and Exit take effect. A posted event that
// posts itself again is delivered at every turn that delivers posted events,
// as the windows' paint requests are (every pass of a pump included); the
// figure is the longest time between two deliveries. A timer would be the
// wrong probe: inside a handler that a timer started, Qt runs no other timers. Gaps longer than the goal are explained
// by the stacks a watchdog thread takes of the GUI thread while it is stuck.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/command_table.h"
#include "app/doc_manager.h"
#include "app/main_frame.h"
#include "app/tarvi_doc.h"
#include "app/tarvi_shell.h"
#include "sim/camera_sim.h"
#include "sim/telescope_sim.h"
#include "telescope/lx200_control.h"
#include "telescope/lx200_p0.h"
#include "telescope/lx200_p1.h"
#include "telescope/lx200_p3.h"
#include "telescope/lx200_tcp_server.h"

namespace {

constexpr double goalMs = 20;

// Runs the event loop until done holds or ms have passed; the case's own
// checks say whether it came.
template <class Done>
void waitUntil(Done done, int ms)
{
    static_cast<void>(QTest::qWaitFor(done, ms));
}
// A gap gets its stacks taken once it is this old, and again this often.
constexpr std::int64_t sampleAfterNs = 25'000'000;
constexpr std::int64_t samplePeriodNs = 10'000'000;

std::int64_t nowNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Turns of the event loop, as seen by the GUI thread; read by the watchdog,
// which looks only while a case runs.
std::atomic<bool> watching{false};
std::atomic<std::int64_t> lastTurnNs{0};
std::atomic<std::uint64_t> turnCount{0};

struct Sample {
    std::uint64_t turn = 0;  // the gap after turn - 1
    int depth = 0;
    std::array<void*, 64> frames{};
};

std::vector<Sample> samples(8192);
std::atomic<std::size_t> samplesTaken{0};
std::atomic<int> pendingSample{-1};
std::atomic<bool> sampleDone{false};

void takeSample(int)
{
    const int index = pendingSample.load();
    if (index >= 0) {
        Sample& sample = samples[static_cast<std::size_t>(index)];
        sample.turn = turnCount.load();
        sample.depth = ::backtrace(sample.frames.data(), static_cast<int>(sample.frames.size()));
    }
    sampleDone.store(true);
}

// Signals the GUI thread for its stack whenever it has gone long without a
// turn. The handler only fills a slot made ready for it.
class Watchdog {
public:
    explicit Watchdog(pthread_t gui) : gui_(gui)
    {
        samplesTaken = 0;
        thread_ = std::thread([this] { run(); });
    }
    ~Watchdog()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void run()
    {
        std::int64_t lastSample = 0;
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::int64_t now = nowNs();
            if (!watching || now - lastTurnNs.load() < sampleAfterNs || now - lastSample < samplePeriodNs)
                continue;
            const std::size_t index = samplesTaken.load();
            if (index >= samples.size())
                continue;
            lastSample = now;
            sampleDone = false;
            pendingSample = static_cast<int>(index);
            ::pthread_kill(gui_, SIGUSR2);
            const std::int64_t giveUp = now + 50'000'000;
            while (!sampleDone && nowNs() < giveUp)
                std::this_thread::yield();
            pendingSample = -1;
            if (sampleDone)
                samplesTaken = index + 1;
        }
    }

    pthread_t gui_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Function names of this program from its own symbol table, which keeps the
// local functions an exported-symbol lookup would name wrongly; other
// libraries by what they export.
class Symbols {
public:
    Symbols()
    {
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* self) {
                static_cast<Symbols*>(self)->bias_ = info->dlpi_addr;
                return 1;  // the program itself comes first
            },
            this);
        std::ifstream file("/proc/self/exe", std::ios::binary);
        const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (image.size() < sizeof(Elf64_Ehdr))
            return;
        const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
        const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
        for (int i = 0; i < header->e_shnum; ++i) {
            if (sections[i].sh_type != SHT_SYMTAB)
                continue;
            const Elf64_Shdr& names = sections[sections[i].sh_link];
            const auto* symbols = reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
            const std::size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
            for (std::size_t s = 0; s < count; ++s) {
                if (ELF64_ST_TYPE(symbols[s].st_info) != STT_FUNC || symbols[s].st_value == 0)
                    continue;
                functions_.push_back({symbols[s].st_value, symbols[s].st_value + std::max<Elf64_Xword>(symbols[s].st_size, 1),
                                      image.data() + names.sh_offset + symbols[s].st_name});
            }
        }
        std::sort(functions_.begin(), functions_.end(),
                  [](const Function& a, const Function& b) { return a.start < b.start; });
    }

    // Without its argument list.
    std::string name(void* frame) const
    {
        // A return address: the call lies just before it.
        const std::uintptr_t pc = reinterpret_cast<std::uintptr_t>(frame) - 1;
        const std::uintptr_t address = pc - bias_;
        auto it = std::upper_bound(functions_.begin(), functions_.end(), address,
                                   [](std::uintptr_t a, const Function& f) { return a < f.start; });
        if (it != functions_.begin() && address < std::prev(it)->end)
            return shortName(std::prev(it)->name);
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(pc), &info) != 0 && info.dli_sname != nullptr)
            return shortName(info.dli_sname);
        return "?";
    }

private:
    struct Function {
        std::uintptr_t start;
        std::uintptr_t end;
        std::string name;
    };

    static std::string shortName(const std::string& mangled)
    {
        int status = 0;
        char* plain = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
        std::string text = status == 0 && plain != nullptr ? plain : mangled;
        std::free(plain);
        for (std::size_t at; (at = text.find("(anonymous namespace)")) != std::string::npos;)
            text.replace(at, 21, "{anon}");
        if (const std::size_t open = text.find('('); open != std::string::npos && open > 0)
            text.resize(open);
        for (std::size_t at; (at = text.find("[abi:cxx11]")) != std::string::npos;)
            text.erase(at, 11);
        return text;
    }

    std::uintptr_t bias_ = 0;
    std::vector<Function> functions_;
};

// A stack as "blocking call < program frames, innermost first".
std::string describe(const Sample& sample, const Symbols& symbols, bool whole)
{
    // The handler and the signal trampoline come first.
    constexpr int skipped = 2;
    std::string text;
    int shown = 0;
    for (int i = skipped; i < sample.depth; ++i) {
        const std::string name = symbols.name(sample.frames[static_cast<std::size_t>(i)]);
        const bool ours = name.rfind("tarvi::", 0) == 0;
        if (i > skipped && !ours && !whole)
            continue;
        if (name.find("Rig::measure") != std::string::npos)
            break;
        if (name.rfind("std::", 0) == 0)
            continue;
        if (!text.empty())
            text += whole ? "\n        " : " < ";
        text += name;
        if (ours && ++shown == 7 && !whole)
            break;
    }
    return text;
}

struct Gap {
    std::uint64_t turn;  // the turn that ended it
    std::int64_t startNs;
    std::int64_t lengthNs;
};

// The probe and what it saw.
class TurnMeter : public QObject {
public:

    // The start counts as a turn, and so does the end: the handler's return
    // to the event loop.
    void start()
    {
        startNs_ = nowNs();
        lastTurnNs = startNs_;
        previousNs_ = startNs_;
        turnCount = 1;
        watching = true;
        probing_ = true;
        QCoreApplication::postEvent(this, new QEvent(probeType), Qt::LowEventPriority);
    }
    void stop()
    {
        probing_ = false;
        turn();
        watching = false;
        stopNs_ = nowNs();
    }

    std::uint64_t turns() const { return turnCount.load(); }
    double maxGapMs() const { return double(maxNs_) / 1e6; }
    double percentileGapMs(double fraction) const
    {
        const std::uint64_t total = histogramCount_;
        if (total == 0)
            return 0;
        const auto wanted = static_cast<std::uint64_t>(std::ceil(fraction * double(total)));
        std::uint64_t seen = 0;
        for (std::size_t bucket = 0; bucket < histogram_.size(); ++bucket) {
            seen += histogram_[bucket];
            if (seen >= wanted)
                return double(bucket + 1) * bucketNs / 1e6;
        }
        return maxGapMs();
    }
    const std::vector<Gap>& longGaps() const { return longGaps_; }
    double secondsRun() const { return double(stopNs_ - startNs_) / 1e9; }
    std::int64_t startNs() const { return startNs_; }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != probeType)
            return QObject::event(event);
        if (probing_) {
            turn();
            QCoreApplication::postEvent(this, new QEvent(probeType), Qt::LowEventPriority);
        }
        return true;
    }

private:
    static constexpr std::int64_t bucketNs = 100'000;
    static constexpr QEvent::Type probeType = QEvent::User;

    void turn()
    {
        const std::int64_t now = nowNs();
        const std::int64_t gap = now - previousNs_;
        previousNs_ = now;
        lastTurnNs = now;
        const std::uint64_t ended = turnCount.fetch_add(1);
        maxNs_ = std::max(maxNs_, gap);
        ++histogram_[std::min<std::size_t>(static_cast<std::size_t>(gap / bucketNs), histogram_.size() - 1)];
        ++histogramCount_;
        if (gap >= sampleAfterNs)
            longGaps_.push_back({ended, now - gap, gap});
    }

    bool probing_ = false;
    std::int64_t startNs_ = 0;
    std::int64_t stopNs_ = 0;
    std::int64_t previousNs_ = 0;
    std::int64_t maxNs_ = 0;
    std::vector<std::uint64_t> histogram_ = std::vector<std::uint64_t>(100'000);  // to 10 s
    std::uint64_t histogramCount_ = 0;
    std::vector<Gap> longGaps_;
};

std::map<std::string, std::string> explanations;

// The whole program on a fresh start directory whose tarvi.ini maps COM1 to
// the paced camera and COM2 to the telescope, with 5 s exposures; the camera
// is looked for first at 9600 baud, where a camera just switched on is, and
// then set to 57600.
class Rig {
public:
    Rig() : camera_(pacedCamera()), telescope_(pacedTelescope())
    {
        char pattern[] = "/tmp/tarvi-responsiveness-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        camera_.start();
        telescope_.start();
        {
            std::ofstream ini(dir_ + "/tarvi.ini");
            ini << "[Ports]\nCOM1=" << camera_.slavePath() << "\nCOM2=" << telescope_.slavePath() << "\n"
                << "[st4Settings150]\nValues=0 0 0 1 1 0 5 0 0 0 0 0 2 1 -1 -1 0\n";
        }
        shell_ = std::make_unique<tarvi::TarviShell>(dir_);
        shell_->pageSettingsDirectory = dir_;
        started_ = shell_->initInstance(tarvi::parseCommandLine({}));
        if (!started_)
            return;
        shell_->app().log = [](const std::string&) {};
        unmodify();
        started_ = QTest::qWaitForWindowExposed(shell_->mainFrame());

        // A box would wait for an answer nobody gives: it is closed, and the
        // case fails, unless the case expects it; then it stays on screen a
        // while first, as a person would take to read it.
        boxGuard_.setInterval(50);
        QObject::connect(&boxGuard_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                boxSeenNs_ = 0;
                return;
            }
            if (boxHoldMs_ > 0) {
                if (boxSeenNs_ == 0)
                    boxSeenNs_ = nowNs();
                if (nowNs() - boxSeenNs_ < std::int64_t(boxHoldMs_) * 1'000'000)
                    return;
                ++boxesExpected_;
            } else {
                const auto* box = qobject_cast<QMessageBox*>(dialog);
                boxes_.push_back(box != nullptr ? box->text().toStdString() : dialog->windowTitle().toStdString());
            }
            boxSeenNs_ = 0;
            dialog->done(QDialog::Rejected);
        });
        boxGuard_.start();
    }
    ~Rig()
    {
        boxGuard_.stop();
        if (shell_) {
            unmodify();
            shell_.reset();
        }
        QApplication::processEvents();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    bool started() const { return started_; }
    // Boxes are expected: each stays holdMs on screen, then is cancelled.
    void expectBoxes(int holdMs) { boxHoldMs_ = holdMs; }
    int boxesExpected() const { return boxesExpected_; }
    tarvi::sim::CameraSimulator& camera() { return camera_; }
    tarvi::TarviShell& shell() { return *shell_; }
    tarvi::sim::TelescopeSimulator& telescope() { return telescope_; }

    tarvi::LX200Control* openSheet()
    {
        shell_->router().route(tarvi::cmd::lx200Controls);
        if (!QTest::qWaitFor([this] { return idle(); }, 60'000))
            return nullptr;
        tarvi::LX200Control* sheet = shell_->telescopeSheet();
        return sheet != nullptr && QTest::qWaitForWindowExposed(sheet) ? sheet : nullptr;
    }

    bool idle()
    {
        return !shell_->app().cameraBusy() && !shell_->app().telescopeLine().working();
    }

    // Runs what and waits until the devices are idle, with the turns counted
    // and the GUI thread watched, into the state's counters.
    void measure(benchmark::State& state, const char* name, const std::function<void()>& what)
    {
        TurnMeter meter;
        {
            Watchdog watchdog(pthread_self());
            for (auto _ : state) {
                meter.start();
                what();
                waitUntil([this] { return idle(); }, 600'000);
                meter.stop();
            }
        }
        std::size_t over = 0;
        for (const Gap& gap : meter.longGaps())
            over += double(gap.lengthNs) / 1e6 > goalMs ? 1 : 0;
        state.counters["max_gap_ms"] = meter.maxGapMs();
        state.counters["p99_gap_ms"] = meter.percentileGapMs(0.99);
        state.counters["turns"] = double(meter.turns());
        state.counters["gaps_over_100ms"] = double(over);
        explain(name, meter);
        if (!boxes_.empty())
            state.SkipWithError(("a box came up: " + boxes_.front()).c_str());
    }

private:
    // Every byte takes its line time, as on a cable; exposures, the slew and
    // the planetary update take theirs in real time.
    static tarvi::sim::CameraOptions pacedCamera()
    {
        tarvi::sim::CameraOptions options;
        options.pace = true;
        return options;
    }
    static tarvi::sim::TelescopeOptions pacedTelescope()
    {
        tarvi::sim::TelescopeOptions options;
        options.pace = true;
        return options;
    }

    void unmodify()
    {
        for (const auto& doc : shell_->docManager().documents())
            doc->setModifiedFlag(false);
    }

    // Each gap over the goal (or else the longest) with the stacks taken
    // during it, in the order seen; the longest with its whole first stack.
    static void explain(const std::string& name, const TurnMeter& meter)
    {
        static const Symbols symbols;
        std::string text;
        char line[160];
        std::snprintf(line, sizeof line, "%s: longest gap %.1f ms, %llu turns in %.1f s, 99%% of gaps <= %.1f ms\n",
                      name.c_str(), meter.maxGapMs(), static_cast<unsigned long long>(meter.turns()),
                      meter.secondsRun(), meter.percentileGapMs(0.99));
        text += line;
        std::vector<std::int64_t> lengths;
        for (const Gap& gap : meter.longGaps())
            lengths.push_back(gap.lengthNs);
        std::sort(lengths.begin(), lengths.end(), std::greater<>());
        if (!lengths.empty()) {
            text += "  longest gaps (ms):";
            for (std::size_t i = 0; i < std::min<std::size_t>(lengths.size(), 8); ++i) {
                std::snprintf(line, sizeof line, " %.1f", double(lengths[i]) / 1e6);
                text += line;
            }
            text += "\n";
        }
        const Gap* longest = nullptr;
        for (const Gap& gap : meter.longGaps()) {
            if (longest == nullptr || gap.lengthNs > longest->lengthNs)
                longest = &gap;
        }
        // Within the goal, the longest gap still shows how close it came.
        const bool met = meter.maxGapMs() <= goalMs;
        int listed = 0;
        int unlisted = 0;
        for (const Gap& gap : meter.longGaps()) {
            if (met ? &gap != longest : double(gap.lengthNs) / 1e6 <= goalMs)
                continue;
            if (++listed > 15) {
                ++unlisted;
                continue;
            }
            std::snprintf(line, sizeof line, "  gap of %.1f ms at %.3f s:\n", double(gap.lengthNs) / 1e6,
                          double(gap.startNs - meter.startNs()) / 1e9);
            text += line;
            // Consecutive samples with the same stack make one line.
            std::string previous;
            int repeats = 0;
            const auto flush = [&] {
                if (repeats > 0)
                    text += "    " + std::to_string(repeats) + "x " + previous + "\n";
            };
            for (std::size_t i = 0; i < samplesTaken.load(); ++i) {
                if (samples[i].turn != gap.turn)
                    continue;
                const std::string stack = describe(samples[i], symbols, false);
                if (stack == previous) {
                    ++repeats;
                    continue;
                }
                flush();
                previous = stack;
                repeats = 1;
            }
            flush();
        }
        if (unlisted > 0)
            text += "  ... and " + std::to_string(unlisted) + " more gaps over the goal\n";
        if (longest != nullptr) {
            for (std::size_t i = 0; i < samplesTaken.load(); ++i) {
                if (samples[i].turn == longest->turn) {
                    text += "  a whole stack of the longest gap:\n        " + describe(samples[i], symbols, true) + "\n";
                    break;
                }
            }
        }
        explanations[name] = text;
    }

    tarvi::sim::CameraSimulator camera_;
    tarvi::sim::TelescopeSimulator telescope_;
    std::string dir_;
    std::unique_ptr<tarvi::TarviShell> shell_;
    bool started_ = false;
    QTimer boxGuard_;
    std::vector<std::string> boxes_;
    int boxHoldMs_ = 0;
    std::int64_t boxSeenNs_ = 0;
    int boxesExpected_ = 0;
};

bool heard(tarvi::sim::TelescopeSimulator& telescope, const std::string& prefix)
{
    const auto commands = telescope.receivedCommands();
    return std::any_of(commands.begin(), commands.end(),
                       [&](const std::string& command) { return command.rfind(prefix, 0) == 0; });
}

void clickDrawn(tarvi::LX200P0& motion, tarvi::LX200P0::DrawnButton button)
{
    QTest::mouseClick(&motion, Qt::LeftButton, {}, motion.buttonRect(button).center());
}

// Capture > Image with the port not yet open: the speed search, the
// exposure, the polls at its end and the download of 165 rows.
void Capture5s(benchmark::State& state)
{
    Rig rig;
    if (!rig.started()) {
        state.SkipWithError("the program did not start");
        return;
    }
    rig.measure(state, __func__, [&] { rig.shell().router().route(tarvi::cmd::captureImage); });
    const QString shown = rig.shell().mainFrame()->pane(0)->text();
    if (shown != QStringLiteral("Image created"))
        state.SkipWithError(("the capture ended with: " + shown.toStdString()).c_str());
}

// The same with the camera found by an earlier capture: the exposure, the
// polls and the download alone.
void Capture5sPortOpen(benchmark::State& state)
{
    Rig rig;
    if (!rig.started()) {
        state.SkipWithError("the program did not start");
        return;
    }
    rig.shell().router().route(tarvi::cmd::captureImage);
    waitUntil([&] { return rig.idle(); }, 60'000);
    rig.measure(state, __func__, [&] { rig.shell().router().route(tarvi::cmd::captureImage); });
    const QString shown = rig.shell().mainFrame()->pane(0)->text();
    if (shown != QStringLiteral("Image created"))
        state.SkipWithError(("the capture ended with: " + shown.toStdString()).c_str());
}

// The telescope sheet of a program that started; nothing, and the case
// marked failed, when there is none.
tarvi::LX200Control* sheetOrSkip(Rig& rig, benchmark::State& state)
{
    tarvi::LX200Control* sheet = rig.started() ? rig.openSheet() : nullptr;
    if (sheet == nullptr)
        state.SkipWithError("no telescope sheet");
    return sheet;
}

// GET on the motion page: readings until two agree.
void TelescopeGet(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetOrSkip(rig, state);
    if (sheet == nullptr)
        return;
    tarvi::LX200P0& motion = sheet->page0();
    motion.raEdit()->clear();
    rig.telescope().clearTraffic();
    rig.measure(state, __func__, [&] { clickDrawn(motion, tarvi::LX200P0::DrawnButton::get); });
    if (motion.raEdit()->text().size() != 8 || !heard(rig.telescope(), ":GR#"))
        state.SkipWithError("GET read no position");
}

// GO to an hour east of where the telescope points, at +40: the slew in real
// time and GET following it until it has arrived.
void TelescopeGoOneHourEast(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetOrSkip(rig, state);
    if (sheet == nullptr)
        return;
    tarvi::LX200P0& motion = sheet->page0();
    const std::string here = motion.raEdit()->text().toStdString();
    if (here.size() != 8) {
        state.SkipWithError(("no position to start from: " + here).c_str());
        return;
    }
    const int hours = std::stoi(here.substr(0, 2));
    char target[16];
    std::snprintf(target, sizeof target, "%02d%s", (hours + 1) % 24, here.substr(2).c_str());
    motion.raEdit()->setText(QString::fromLatin1(target));
    motion.decEdit()->setText(QStringLiteral("+40:00:00"));
    rig.telescope().clearTraffic();
    rig.measure(state, __func__, [&] { clickDrawn(motion, tarvi::LX200P0::DrawnButton::go); });
    if (!heard(rig.telescope(), ":MS#") || rig.telescope().slewing() || motion.decEdit()->text() != "+40:00:00")
        state.SkipWithError("the telescope did not arrive");
}

// A new date on the location and time page: the telescope answers a second
// time once its planetary data are done, and the page waits 10 s for that.
void TelescopeSetDate(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetOrSkip(rig, state);
    if (sheet == nullptr)
        return;
    sheet->tabs()->setCurrentIndex(1);
    waitUntil([&] { return rig.idle(); }, 60'000);  // the page has read the telescope
    tarvi::LX200P1& site = sheet->page1();
    site.dateEdit()->setText(QStringLiteral("03/16/06"));
    rig.telescope().clearTraffic();
    rig.measure(state, __func__, [&] { QTest::mouseClick(site.setDateButton(), Qt::LeftButton); });
    if (!heard(rig.telescope(), ":SC") || site.dateEdit()->text() != QStringLiteral("03/16/06"))
        state.SkipWithError("the date was not set");
}

// Telescope > LX200 Controls the first time: the port opens and the sheet is
// built and handed it.
void TelescopeSheetOpens(benchmark::State& state)
{
    Rig rig;
    if (!rig.started()) {
        state.SkipWithError("the program did not start");
        return;
    }
    rig.measure(state, __func__, [&] { rig.shell().router().route(tarvi::cmd::lx200Controls); });
    if (rig.shell().telescopeSheet() == nullptr)
        state.SkipWithError("no telescope sheet");
}

// The location and time page in front and nothing else happening: its clock
// reads the telescope's times once a second.
void TimePageIdle3s(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetOrSkip(rig, state);
    if (sheet == nullptr)
        return;
    sheet->tabs()->setCurrentIndex(1);
    rig.measure(state, __func__, [&] {
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
    });
}

// The sheet of a program whose camera an earlier capture has found at its
// speed; nothing, and the case marked failed, when there is none.
tarvi::LX200Control* sheetWithCameraFound(Rig& rig, benchmark::State& state)
{
    tarvi::LX200Control* sheet = sheetOrSkip(rig, state);
    if (sheet == nullptr)
        return nullptr;
    rig.shell().router().route(tarvi::cmd::captureImage);
    waitUntil([&] { return rig.idle(); }, 60'000);
    return sheet;
}

// Frame times: when each "Image created" reached the window.
struct FrameClock {
    std::vector<std::int64_t> atNs;
    double msPerFrame() const
    {
        return atNs.size() < 2 ? 0 : double(atNs.back() - atNs.front()) / 1e6 / double(atNs.size() - 1);
    }
};

void watchFrames(Rig& rig, FrameClock& frames, QTimer& watch)
{
    QObject::connect(&watch, &QTimer::timeout, [&rig, &frames, last = QString()]() mutable {
        const QString shown = rig.shell().mainFrame()->pane(0)->text();
        if (shown == QStringLiteral("Image created") && last != shown)
            frames.atNs.push_back(nowNs());
        last = shown;
    });
    watch.start(1);
}

// AutoShoot of 5 s exposures at 57600 alone, for four frames: the time per
// frame the case of both devices is held against.
void AutoshootAlone(benchmark::State& state)
{
    Rig rig;
    if (!rig.started()) {
        state.SkipWithError("the program did not start");
        return;
    }
    rig.shell().router().route(tarvi::cmd::captureImage);  // the camera found, at its speed
    waitUntil([&] { return rig.idle(); }, 60'000);
    FrameClock frames;
    QTimer watch;
    watchFrames(rig, frames, watch);
    rig.measure(state, __func__, [&] {
        rig.shell().router().route(tarvi::cmd::autoShoot);
        waitUntil([&] { return frames.atNs.size() >= 4; }, 120'000);
        QTest::keyClick(rig.shell().mainFrame(), Qt::Key_Escape);
    });
    state.counters["ms_per_frame"] = frames.msPerFrame();
}

// AutoShoot of 5 s exposures while the sky flats drift in legs of 1000 ms,
// for at least 20 legs: the legs' lengths, from one leg's motion to the
// next's at the telescope, and the time per frame.
void AutoshootWhileSkyFlatsDrift(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetWithCameraFound(rig, state);
    if (sheet == nullptr)
        return;
    sheet->tabs()->setCurrentIndex(3);
    tarvi::LX200P3& flats = sheet->page3();
    flats.millisecondsEdit()->setText(QStringLiteral("1000"));
    FrameClock frames;
    QTimer watch;
    watchFrames(rig, frames, watch);
    const auto legStarts = [&] {
        std::vector<std::chrono::steady_clock::time_point> starts;
        for (const auto& [command, at] : rig.telescope().timedCommands()) {
            if (command.size() == 4 && command.rfind(":M", 0) == 0)
                starts.push_back(at);
        }
        return starts;
    };
    rig.measure(state, __func__, [&] {
        rig.shell().router().route(tarvi::cmd::autoShoot);
        rig.telescope().clearTraffic();
        flats.onStart();
        waitUntil([&] { return legStarts().size() >= 21; }, 120'000);
        QTest::mousePress(&flats, Qt::LeftButton);
        QTest::keyClick(rig.shell().mainFrame(), Qt::Key_Escape);
    });
    const auto starts = legStarts();
    double shortest = 1e9, longest = 0;
    for (std::size_t i = 1; i < starts.size(); ++i) {
        const double ms = std::chrono::duration<double, std::milli>(starts[i] - starts[i - 1]).count();
        shortest = std::min(shortest, ms);
        longest = std::max(longest, ms);
    }
    state.counters["legs"] = double(starts.size());
    state.counters["leg_min_ms"] = shortest;
    state.counters["leg_max_ms"] = longest;
    state.counters["ms_per_frame"] = frames.msPerFrame();
}

// Capture > Image with the sky flats started a second into its 5 s exposure:
// how soon after the exposure's end the rows are asked for while the legs go
// on, from "End exposure" to the first row's line in the status bar.
void CaptureWithADriftStartedDuringIt(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetWithCameraFound(rig, state);
    if (sheet == nullptr)
        return;
    tarvi::LX200P3& flats = sheet->page3();
    flats.millisecondsEdit()->setText(QStringLiteral("1000"));
    const QLabel& pane = *rig.shell().mainFrame()->pane(0);
    std::int64_t ended = 0, firstRow = 0;
    bool driftingThen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (ended == 0 && pane.text() == QStringLiteral("End exposure"))
            ended = nowNs();
        if (firstRow == 0 && pane.text().startsWith(QStringLiteral("Uploading image line"))) {
            firstRow = nowNs();
            driftingThen = flats.running();
        }
    });
    watch.start(1);
    rig.measure(state, __func__, [&] {
        rig.shell().router().route(tarvi::cmd::captureImage);
        QTest::qWait(1000);
        flats.onStart();
        waitUntil([&] { return !rig.shell().app().cameraBusy(); }, 60'000);
        QTest::mousePress(&flats, Qt::LeftButton);
    });
    state.counters["end_to_first_row_ms"] = ended != 0 && firstRow != 0 ? double(firstRow - ended) / 1e6 : -1;
    if (!driftingThen)
        state.SkipWithError("the drift was not going on when the rows came");
}

// Capture > Image while a planetarium program on the telescope server polls
// the position ten times a second: the window's gaps, and the replies.
void CaptureWhileAClientPolls(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetWithCameraFound(rig, state);
    if (sheet == nullptr)
        return;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    rig.shell().app().sharing = {.on = true, .port = port, .allowOthers = false};
    rig.shell().startTelescopeServer();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    std::string replies;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        replies += client.readAll().toStdString();
        client.write(":GR#");
    });
    poll.start(100);
    rig.measure(state, __func__, [&] { rig.shell().router().route(tarvi::cmd::captureImage); });
    poll.stop();
    state.counters["replies"] = double(std::count(replies.begin(), replies.end(), '#'));
    if (rig.shell().mainFrame()->pane(0)->text() != QStringLiteral("Image created"))
        state.SkipWithError("the capture did not end with its picture");
}

// A capture whose camera goes away at row 60: the failed-row box stays on
// screen for two seconds while the telescope follows GET, then is cancelled.
void FailedRowBoxWhileGetRuns(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetWithCameraFound(rig, state);
    if (sheet == nullptr)
        return;
    tarvi::sim::CameraFaults faults;
    faults.hangUpAtRow = 60;
    rig.camera().setFaults(faults);
    rig.expectBoxes(2000);
    tarvi::LX200P0& motion = sheet->page0();
    rig.measure(state, __func__, [&] {
        rig.shell().router().route(tarvi::cmd::captureImage);
        waitUntil([&] { return QApplication::activeModalWidget() != nullptr; }, 60'000);
        clickDrawn(motion, tarvi::LX200P0::DrawnButton::get);
    });
    if (rig.boxesExpected() != 1)
        state.SkipWithError("no failed-row box");
}

// How soon the stops take effect: Escape during an exposure until "Image
// capture TERMINATED" shows, a press during the drift until the run's first
// stop reaches the telescope, and Exit with both devices at work until the
// window has gone.
void Stops(benchmark::State& state)
{
    Rig rig;
    tarvi::LX200Control* sheet = sheetOrSkip(rig, state);
    if (sheet == nullptr)
        return;
    tarvi::LX200P3& flats = sheet->page3();
    flats.millisecondsEdit()->setText(QStringLiteral("1000"));
    tarvi::CMainFrame& frame = *rig.shell().mainFrame();
    double escapeMs = 0, pressMs = 0, exitMs = 0;
    rig.measure(state, __func__, [&] {
        rig.shell().router().route(tarvi::cmd::captureImage);
        waitUntil([&] { return frame.pane(0)->text().startsWith(QStringLiteral("Exposure underway")); }, 60'000);
        std::int64_t from = nowNs();
        QTest::keyClick(&frame, Qt::Key_Escape);
        waitUntil([&] { return frame.pane(0)->text() == QStringLiteral("Image capture TERMINATED"); }, 5'000);
        escapeMs = double(nowNs() - from) / 1e6;
        waitUntil([&] { return rig.idle(); }, 60'000);

        flats.onStart();
        waitUntil([&] { return heard(rig.telescope(), ":RC#"); }, 60'000);
        QTest::qWait(1500);
        rig.telescope().clearTraffic();
        from = nowNs();
        QTest::mousePress(&flats, Qt::LeftButton);
        waitUntil([&] { return heard(rig.telescope(), ":Q"); }, 5'000);
        pressMs = double(nowNs() - from) / 1e6;
        waitUntil([&] { return rig.idle(); }, 60'000);

        rig.shell().router().route(tarvi::cmd::autoShoot);
        flats.onStart();
        waitUntil([&] { return heard(rig.telescope(), ":RC#"); }, 60'000);
        from = nowNs();
        frame.close();
        waitUntil([&] { return !frame.isVisible(); }, 10'000);
        exitMs = double(nowNs() - from) / 1e6;
    });
    state.counters["escape_ms"] = escapeMs;
    state.counters["press_to_stop_ms"] = pressMs;
    state.counters["exit_ms"] = exitMs;
}

BENCHMARK(Capture5s)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Capture5sPortOpen)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TelescopeGet)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TelescopeGoOneHourEast)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TelescopeSetDate)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TelescopeSheetOpens)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TimePageIdle3s)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AutoshootAlone)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AutoshootWhileSkyFlatsDrift)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CaptureWhileAClientPolls)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CaptureWithADriftStartedDuringIt)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FailedRowBoxWhileGetRuns)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Stops)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

class GapReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto found = explanations.find(run.run_name.function_name);
            if (found == explanations.end())
                continue;
            const auto max = run.counters.find("max_gap_ms");
            const bool met = max != run.counters.end() && max->second.value <= goalMs;
            std::printf("%s  goal <= %.0f ms: %s\n", found->second.c_str(), goalMs, met ? "met" : "NOT MET");
            explanations.erase(found);
        }
        std::fflush(stdout);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    // Without a desktop of its own the program draws into memory; set
    // QT_QPA_PLATFORM to watch it on a real one.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);

    struct sigaction action {};
    action.sa_handler = takeSample;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR2, &action, nullptr);
    // The first backtrace loads the unwinder, which a signal handler must not do.
    void* warmUp[4];
    ::backtrace(warmUp, 4);

    GapReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
