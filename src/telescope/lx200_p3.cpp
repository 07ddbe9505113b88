#include "telescope/lx200_p3.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "platform/data_exchange.h"
#include "platform/waits.h"
#include "telescope/coordinates.h"
#include "telescope/sky_flats.h"

namespace tarvi {

namespace {

const BoxStyle infoStyle{.setForeground = true};

}  // namespace

LX200P3::LX200P3(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent) : LX200Page(ui, clock, line, parent)
{
    const Layout layout(*this);
    layout.group(QStringLiteral("Telescope Motion"), 176, 2, 150, 66);
    layout.label(QStringLiteral("HH:MM:SS"), 26, 12, 48);
    layout.label(QStringLiteral("RA"), 8, 26, 16);
    raEdit_ = layout.readOnlyEdit("edit5052", 24, 24, 50);
    layout.label(QStringLiteral("sDD:MM:SS"), 102, 12, 48);
    layout.label(QStringLiteral("DEC"), 82, 26, 18);
    decEdit_ = layout.readOnlyEdit("edit5055", 100, 24, 50);
    start_ = layout.button(QStringLiteral("Start"), 184, 16, 60);
    stop_ = layout.button(QStringLiteral("Stop"), 256, 16, 60);
    layout.label(QStringLiteral("Milliseconds"), 184, 44, 50);
    millisecondsEdit_ = layout.edit("edit5060", 238, 42, 50);
    millisecondsEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));

    connect(start_, &QPushButton::clicked, this, [this] { onStart(); });
    connect(stop_, &QPushButton::clicked, this, [this] { onStop(); });
    layout.finish();
    updateFields(false);
}

bool LX200P3::updateFields(bool saveAndValidate)
{
    DataExchange exchange(ui_, saveAndValidate);
    exchange.text(raEdit_, ra);
    exchange.text(decEdit_, dec);
    exchange.text(millisecondsEdit_, milliseconds, smallestLegMs, largestLegMs);
    return !exchange.failed();
}

void LX200P3::refreshPosition()
{
    // Only the position is taken from the boxes here: the leg length is read
    // once, when a run starts, so a half-typed length does not bring up a
    // message at every leg.
    gui([this] {
        ra = raEdit_->text().toStdString();
        dec = decEdit_->text().toStdString();
    });
    if (!link_.ready()) {
        portNotOpenMessage();
        return;
    }
    const std::string raReply = link_.query(":GR#", 20);
    const std::string decReply = link_.query(":GD#", 20);
    // A telescope that went away keeps its last position in the boxes.
    if (link_.line().dropping())
        return;
    if (raReply.empty() && decReply.empty())
        ui_.messageBox("Telescope not responding", "ERROR", Buttons::ok, infoStyle);
    gui([&] {
        ra = raReply;
        dec = decReply;
        raEdit_->setText(QString::fromStdString(ra));
        decEdit_->setText(QString::fromStdString(dec));
    });
}

void LX200P3::stopAllMotion(Looking looking)
{
    for (const std::string_view stop : stopAllMotionCommands)
        link_.send(stop);
    deviceWait(ui_, clock_, afterStopWaitMs, looking);
    refreshPosition();
}

void LX200P3::onSetActive()
{
    job([this] {
        if (link_.portHandle == PortTable::closed)
            return;
        const auto operation = LX200Page::operation();
        refreshPosition();
    });
}

void LX200P3::onKillActive()
{
    job([this] {
        const auto operation = LX200Page::operation();
        stopAllMotion();
    });
}

// Not urgent: a click on Stop during a run ends the run with its press, and
// Stop's own stops follow the run's.
void LX200P3::onStop()
{
    onKillActive();
}

void LX200P3::onStart()
{
    // A leg length out of range is refused with the field focused, and no
    // run starts on the old value.
    if (!updateFields(true))
        return;
    job([this, legMs = milliseconds] { run(legMs); });
}

void LX200P3::run(int legMs)
{
    const auto operation = LX200Page::operation();
    if (!link_.ready())
        return;
    // Input is looked at only at the legs' message steps and waits: the
    // press that ends the run is the first one there since it started.
    running_ = true;
    const struct Ended {
        std::atomic<bool>& running;
        ~Ended() { running = false; }
    } ended{running_};
    stopAllMotion(Looking::stepsOnly);
    link_.send(runRateCommand);
    std::string homeRa, homeDec;
    gui([&] {
        homeRa = ra;
        homeDec = dec;
    });
    SkyFlatPattern pattern(homeRa, homeDec, legMs);
    // A press during a wait ends the run at the next leg's message step, as
    // it would if it had waited in the queue until then.
    bool pressed = false;
    const auto wait = [&](int ms) {
        pressed = deviceWait(ui_, clock_, ms, Looking::forInput, [&](const InputSeen& seen) {
                      return pressed || seen.leftButtonPressed;
                  }).leftButtonPressed
                  || pressed;
    };
    for (;;) {
        refreshPosition();
        if (!pressed)
            pressed = ui_.lookForInput().leftButtonPressed;
        if (pressed || commandEnds())
            break;
        for (const SkyFlatStep& step : pattern.nextLeg()) {
            switch (step.kind) {
            case SkyFlatStep::Kind::send:
                link_.send(step.command);
                break;
            case SkyFlatStep::Kind::sendAndRead:
                link_.query(step.command, skyFlatReplyCapacity);
                break;
            case SkyFlatStep::Kind::slew:
                if (const auto refusal = slewRefusalMessage(link_.query(step.command, skyFlatReplyCapacity)))
                    ui_.messageBox(*refusal, "info", Buttons::ok, infoStyle);
                break;
            case SkyFlatStep::Kind::wait:
                if (step.milliseconds > 0 && !pressed)
                    wait(step.milliseconds);
                break;
            }
        }
    }
    if (!link_.ready())
        return;
    stopAllMotion(Looking::stepsOnly);
    refreshPosition();
    link_.send(endRateCommand);
}

}  // namespace tarvi
