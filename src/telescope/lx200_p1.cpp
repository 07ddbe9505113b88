#include "telescope/lx200_p1.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimerEvent>

#include "platform/data_exchange.h"
#include "platform/waits.h"
#include "telescope/site_time_checks.h"

namespace tarvi {

namespace {

const BoxStyle infoStyle{.setForeground = true};

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

LX200P1::LX200P1(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent) : LX200Page(ui, clock, line, parent)
{
    const Layout layout(*this);
    layout.group(QStringLiteral("Telescope Location"), 4, 2, 92, 70);
    layout.group(QStringLiteral("Date"), 98, 2, 96, 70);
    layout.group(QStringLiteral("Time"), 196, 2, 104, 70);
    layout.group(QStringLiteral("Dec Backlash"), 302, 2, 52, 50);
    layout.group(QStringLiteral("Tracking Rate"), 356, 2, 110, 50);
    const auto label = [&](QStringView text, int x, int y, int width, int height = 8) {
        return layout.label(text.toString(), x, y, width, height);
    };
    const auto edit = [&](const char* name, int x, int y, int width) { return layout.edit(name, x, y, width); };
    const auto readOnly = [&](const char* name, int x, int y, int width) {
        return layout.readOnlyEdit(name, x, y, width);
    };
    const auto button = [&](const char* text, int x, int y, int width) {
        return layout.button(QString::fromLatin1(text), x, y, width);
    };

    label(u"Latitude", 8, 16, 36);
    latitudeEdit_ = edit("edit5046", 46, 14, 44);
    label(u"Longitude", 8, 32, 36);
    longitudeEdit_ = edit("edit5049", 46, 30, 44);
    setLocation_ = button("Set", 62, 50, 28);

    label(u"Local", 102, 16, 20);
    dateEdit_ = edit("edit5040", 124, 14, 40);
    setDate_ = button("Set", 166, 13, 24);
    // The telescope's answer to a date change, under the date.
    dateAnswerEdit_ = readOnly("edit5022", 102, 32, 88);

    label(u"Local", 200, 16, 28);
    localTimeEdit_ = readOnly("edit5044", 230, 14, 42);
    label(u"Sidereal", 200, 32, 28);
    siderealEdit_ = readOnly("edit5021", 230, 30, 42);
    newTimeEdit_ = edit("edit5019", 230, 50, 42);
    setTime_ = button("Set", 274, 49, 24);

    backlashEdit_ = edit("edit5054", 306, 15, 18);
    backlashEdit_->setMaxLength(2);
    setBacklash_ = button("Set", 326, 14, 24);

    trackingRateEdit_ = edit("edit5061", 360, 15, 28);
    trackingRateEdit_->setMaxLength(5);
    getTrackingRate_ = button("Get", 390, 14, 26);
    setTrackingRate_ = button("Set", 418, 14, 26);
    label(toQString(trackingRateGuideText), 360, 32, 84, 16);

    QLabel* note = label(u"(Backlash, Tracking - Not available on some scopes)", 304, 56, 148, 16);
    note->setWordWrap(true);

    connect(setLocation_, &QPushButton::clicked, this, [this] { onSetLocation(); });
    connect(setDate_, &QPushButton::clicked, this, [this] { onSetDate(); });
    connect(setTime_, &QPushButton::clicked, this, [this] { onSetTime(); });
    connect(setBacklash_, &QPushButton::clicked, this, [this] { onSetBacklash(); });
    connect(getTrackingRate_, &QPushButton::clicked, this, [this] { onGetTrackingRate(); });
    connect(setTrackingRate_, &QPushButton::clicked, this, [this] { onSetTrackingRate(); });

    layout.finish();
    updateFields(false);
}

bool LX200P1::updateFields(bool saveAndValidate)
{
    DataExchange ex(ui_, saveAndValidate);
    ex.text(latitudeEdit_, latitude);
    ex.text(longitudeEdit_, longitude);
    ex.text(dateEdit_, date);
    ex.text(localTimeEdit_, localTime);
    ex.text(backlashEdit_, backlash);
    ex.text(trackingRateEdit_, trackingRate);
    return !ex.failed();
}

void LX200P1::startClockTimer()
{
    stopClockTimer();
    clockTimer = startTimer(1000);
}

void LX200P1::stopClockTimer()
{
    if (clockTimer != 0)
        killTimer(clockTimer);
    clockTimer = 0;
}

void LX200P1::getLocation()
{
    if (!link_.ready()) {
        portNotOpenMessage();
        return;
    }
    // The texts reach the boxes at the next exchange into the controls.
    const std::string latitudeReply = link_.query(":Gt#", 20);
    const std::string longitudeReply = link_.query(":Gg#", 20);
    gui([&] {
        latitude = latitudeReply;
        longitude = longitudeReply;
    });
    getLocalTime();
    getSiderealTime();
}

void LX200P1::getDate()
{
    if (!link_.ready())
        return;
    const std::string reply = link_.query(":GC#", 20);
    gui([&] {
        date = reply;
        updateFields(false);
    });
}

void LX200P1::getLocalTime()
{
    if (link_.ready()) {
        const std::string reply = link_.query(":GL#", 20);
        gui([&] {
            localTime = reply;
            localTimeEdit_->setText(toQString(localTime));
        });
    }
    // Also with the port closed: the buttons that read the time keep the
    // clock going.
    gui([this] { startClockTimer(); });
}

void LX200P1::getSiderealTime()
{
    if (!link_.ready())
        return;
    const std::string reply = link_.query(":GS#", 20);
    gui([&] { siderealEdit_->setText(toQString(reply)); });
}

int LX200P1::getUtcOffset()
{
    if (!link_.ready())
        return 0;
    // An answer that holds no offset counts as none, as a silent telescope's does.
    return readUtcOffset(link_.query(":GG#", 50)).value_or(0);
}

void LX200P1::takeUtcOffset()
{
    const int offset = getUtcOffset();
    gui([&] { utcOffset = offset; });
}

void LX200P1::refresh()
{
    getLocation();
    getDate();
    getLocalTime();
    getSiderealTime();
    takeUtcOffset();
}

void LX200P1::onSetActive()
{
    job([this] {
        const auto operation = LX200Page::operation();
        if (link_.portHandle != PortTable::closed) {
            getLocation();
            getDate();
            getLocalTime();
            getSiderealTime();
            takeUtcOffset();
        }
        gui([this] { startClockTimer(); });
    });
}

void LX200P1::onKillActive()
{
    stopClockTimer();
}

void LX200P1::windowClosed()
{
    stopClockTimer();
}

void LX200P1::onTimer(int id)
{
    if (id != 1)
        return;
    startClockTimer();
    // A tick that finds the telescope at work waits behind it, once.
    tickJob([this] {
        getLocalTime();
        getSiderealTime();
    });
}

void LX200P1::timerEvent(QTimerEvent* event)
{
    if (clockTimer != 0 && event->timerId() == clockTimer)
        onTimer(1);
    else
        LX200Page::timerEvent(event);
}

void LX200P1::onSetLocation()
{
    job([this] {
        const auto operation = LX200Page::operation();
        bool usable = false;
        std::string latitudeText, longitudeText;
        gui([&] {
            updateFields(true);
            usable = siteUsable(latitude, longitude);
            latitudeText = latitude;
            longitudeText = longitude;
        });
        if (!usable) {
            ui_.messageBox(siteRefusedMessage, {}, Buttons::ok, {});
            return;
        }
        if (!link_.ready()) {
            portNotOpenMessage();
            return;
        }
        link_.query(setLatitudeCommand(latitudeText), 20);
        link_.query(setLongitudeCommand(longitudeText), 20);
        getLocation();
    });
}

void LX200P1::onSetDate()
{
    job([this] {
        const auto operation = LX200Page::operation();
        bool usable = false;
        std::string typed;
        gui([&] {
            updateFields(true);
            usable = dateUsable(date);
            typed = date;
        });
        if (!usable) {
            ui_.messageBox(dateRefusedMessage, {}, Buttons::ok, {});
            return;
        }
        setDate(typed);
        getDate();
    });
}

void LX200P1::setDate(const std::string& dateText)
{
    if (!link_.ready()) {
        portNotOpenMessage();
        return;
    }
    // The two replies are one exchange: nothing else goes on the line between them.
    const auto exchange = link_.line().exchange();
    link_.query(setDateCommand(dateText), 256);
    const auto show = [this](const std::string& text) {
        gui([&] {
            dateAnswerEdit_->setText(toQString(text));
            dateAnswerEdit_->repaint();
        });
    };
    show(std::string(updatingPlanetaryDataText));
    // The telescope answers again once it has worked out its planetary data.
    deviceWait(ui_, clock_, dateSettleMs, Looking::stepsOnly);
    show(link_.readReply(256, lx200::Reply::text));
}

void LX200P1::onSetTime()
{
    job([this] {
        const auto operation = LX200Page::operation();
        setTime();
        refresh();
    });
}

void LX200P1::setTime()
{
    std::string typed;
    int offset = 0;
    gui([&] {
        updateFields(true);
        typed = newTimeEdit_->text().toStdString();
        offset = utcOffset;
    });
    const std::optional<ClockTime> time = readTypedTime(typed);
    if (!time) {
        ui_.messageBox(timeRefusedMessage, "info", Buttons::ok, infoStyle);
        return;
    }
    const std::string dateReply = link_.query(":GC#", 20);
    const std::string longitudeReply = link_.query(":Gg#", 20);
    const std::optional<std::string> sidereal = siderealTimeToSet(*time, dateReply, offset, longitudeReply);
    if (!link_.ready()) {
        portNotOpenMessage();
        return;
    }
    link_.query(setLocalTimeCommand(typed), 10);
    if (sidereal)
        link_.query(setSiderealTimeCommand(*sidereal), 10);
    else
        ui_.messageBox(siderealTimeNotSetMessage, "info", Buttons::ok, infoStyle);
    refresh();
}

void LX200P1::onSetBacklash()
{
    job([this] {
        const auto operation = LX200Page::operation();
        const std::string product = link_.query(":GVP#", 256);
        std::optional<std::string> command;
        gui([&] {
            const std::string previous = backlash;
            updateFields(true);
            command = backlashCommand(backlash, product);
            if (command)
                return;
            backlash = previous;
            updateFields(false);
        });
        if (command)
            link_.send(*command);
    });
}

void LX200P1::onGetTrackingRate()
{
    job([this] {
        const auto operation = LX200Page::operation();
        std::string previous;
        gui([&] {
            previous = trackingRate;
            updateFields(true);
        });
        const std::string reply = link_.query(":Gs#", 50);
        gui([&] {
            trackingRate = trackingRateAfterGet(previous, reply);
            updateFields(false);
        });
    });
}

void LX200P1::onSetTrackingRate()
{
    job([this] {
        const auto operation = LX200Page::operation();
        std::string previous, typed;
        gui([&] {
            previous = trackingRate;
            updateFields(true);
            typed = trackingRate;
        });
        if (trackingRateUsable(typed) && trackingRateAccepted(link_.query(setTrackingRateCommand(typed), 50)))
            return;
        gui([&] {
            trackingRate = previous;
            updateFields(false);
        });
    });
}

}  // namespace tarvi
