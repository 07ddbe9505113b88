#include "telescope/lx200_p0.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimerEvent>

#include "app/night_vision.h"
#include "platform/data_exchange.h"
#include "platform/dialog_units.h"
#include "platform/ini_file.h"
#include "platform/safe_file.h"
#include "platform/waits.h"
#include "telescope/coordinates.h"
#include "telescope/motion_rules.h"

namespace tarvi {

const QColor LX200P0::blackText{0, 0, 0};
const QColor LX200P0::normalFill{191, 191, 191};
const QColor LX200P0::pressedFill{255, 0, 0};
const QColor LX200P0::lastFocusFill{150, 150, 150};

namespace {

const BoxStyle infoStyle{.setForeground = true};

struct ButtonTemplate {
    int x, y, width, height;
    const char* label;
};

// In the order of LX200P0::DrawnButton.
constexpr std::array<ButtonTemplate, LX200P0::drawnButtonCount> buttonTemplates{{
    {74, 17, 27, 13, "GET"},
    {74, 33, 27, 13, "GO"},
    {74, 49, 27, 13, "HALT"},
    {169, 15, 36, 14, "NORTH"},
    {169, 47, 36, 14, "SOUTH"},
    {195, 31, 32, 14, "EAST"},
    {148, 31, 32, 14, "WEST"},
    {328, 32, 34, 14, "IN"},
    {283, 32, 34, 14, "OUT"},
}};

}  // namespace

// One drawn button: it shows the colours the page last drew it in, and lets
// the mouse through to the page, which hit-tests the buttons itself.
class LX200P0::ButtonFace final : public QWidget {
public:
    ButtonFace(LX200P0& page, std::size_t button) : QWidget(&page), page_(page), button_(button)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(page.rects_[button]);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const Look& look = page_.looks_[button_];
        if (!look.shown) {
            painter.fillRect(rect(), palette().window());
            return;
        }
        const auto [text, fill] = shownColours(look);
        painter.setPen(QPen(text, 1));
        painter.setBrush(fill);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        painter.setPen(text);
        painter.drawText(rect().adjusted(0, 3, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                         QString::fromLatin1(buttonTemplates[button_].label));
    }

private:
    // Under a night scheme the light grey buttons would glare: they take the
    // scheme's button colours, pressed ones its highlight.
    std::pair<QColor, QColor> shownColours(const Look& look) const
    {
        if (!qApp->property(nightSchemeProperty).toBool())
            return {look.text, look.fill};
        const QPalette& colours = palette();
        if (look.fill == pressedFill)
            return {colours.color(QPalette::HighlightedText), colours.color(QPalette::Highlight)};
        if (look.fill == lastFocusFill)
            return {colours.color(QPalette::ButtonText), colours.color(QPalette::Dark)};
        return {colours.color(QPalette::ButtonText), colours.color(QPalette::Button)};
    }

    LX200P0& page_;
    std::size_t button_;
};

LX200P0::LX200P0(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent) : LX200Page(ui, clock, line, parent)
{
    // The group boxes let the mouse through to the page, which hit-tests its
    // buttons itself.
    const Layout layout(*this);
    for (std::size_t i = 0; i < buttonTemplates.size(); ++i) {
        const auto& t = buttonTemplates[i];
        rects_[i] = layout.units().rect(t.x, t.y, t.width, t.height);
    }
    layout.group(QStringLiteral("Coordinates"), 4, 2, 102, 70);
    layout.group(QStringLiteral("Motion"), 108, 2, 124, 70);
    layout.group(QStringLiteral("Park"), 234, 2, 44, 70);
    layout.group(QStringLiteral("Focus"), 280, 2, 100, 70);
    layout.group(QStringLiteral("Dynamic Focus"), 382, 2, 84, 70);

    layout.label(QStringLiteral("RA"), 8, 19, 12);
    raEdit_ = layout.edit("edit5000", 26, 17, 44);
    layout.label(QStringLiteral("HH:MM:SS"), 28, 30, 42);
    layout.label(QStringLiteral("DEC"), 8, 45, 14);
    decEdit_ = layout.edit("edit5001", 26, 43, 44);
    layout.label(QStringLiteral("sDD:MM:SS"), 28, 56, 42);

    int rateY = 14;
    for (const char* text : {"Slew", "Find", "Center", "Guide"}) {
        auto* radio = new QRadioButton(QString::fromLatin1(text), this);
        radio->setAutoExclusive(true);
        layout.units().place(radio, 112, rateY, 34, 10);
        rates_.append(radio);
        rateY += 12;
    }

    parkBox_ = new QCheckBox(QStringLiteral("Park"), this);
    parkBox_->setObjectName(QStringLiteral("check5016"));
    layout.units().place(parkBox_, 238, 14, 36, 10);
    layout.label(QStringLiteral("Park in"), 238, 30, 36);
    parkSecondsEdit_ = layout.edit("edit5018", 238, 40, 28);
    layout.label(QStringLiteral("Seconds"), 238, 55, 36);

    speedBox_ = new QComboBox(this);
    speedBox_->setObjectName(QStringLiteral("combo5066"));
    speedBox_->setEditable(true);
    for (const auto item : motion::focusSpeedItems)
        speedBox_->addItem(QString::fromLatin1(item.data(), static_cast<int>(item.size())));
    layout.units().place(speedBox_, 284, 13, 92, 14);
    layout.label(QStringLiteral("Counter"), 284, 54, 28);
    counterEdit_ = layout.edit("edit5011", 314, 52, 62);
    counterEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));

    layout.label(QStringLiteral("Out-steps per hour:"), 386, 14, 76);
    stepsEdit_ = layout.edit("edit5062", 386, 26, 40);
    stepsEdit_->installEventFilter(this);
    onBox_ = new QCheckBox(QStringLiteral("On"), this);
    onBox_->setObjectName(QStringLiteral("check5063"));
    layout.units().place(onBox_, 386, 46, 30, 10);

    // Made last, the buttons lie above the group boxes, whose frames would
    // otherwise tint them.
    for (std::size_t i = 0; i < faces_.size(); ++i)
        faces_[i] = new ButtonFace(*this, i);

    connect(parkBox_, &QCheckBox::clicked, this, [this] { onPark(); });
    connect(onBox_, &QCheckBox::clicked, this, [this] { onDynamicFocus(); });
    connect(speedBox_, &QComboBox::activated, this, [this] { onFocusSpeedChanged(); });

    link_.portNotOpen = [this] { gui([this] { drawAllButtons(); }); };
    layout.finish();
    updateFields(false);
}

std::uint32_t LX200P0::nowMs() const
{
    return static_cast<std::uint32_t>(clock_.nowMs());
}

QRect LX200P0::buttonRect(DrawnButton button) const
{
    return rects_[index(button)];
}

bool LX200P0::updateFields(bool saveAndValidate)
{
    const auto exchange = [this](DataExchange& ex) {
        ex.text(raEdit_, ra);
        ex.text(decEdit_, dec);
        ex.radio(rates_, slewRate);
        ex.text(counterEdit_, focusCounter);
        ex.check(parkBox_, parked);
        ex.text(parkSecondsEdit_, parkSeconds);
        ex.text(stepsEdit_, outStepsPerHour);
        ex.check(onBox_, dynamicFocusOn);
        if (ex.failed())
            return;
        if (ex.saveAndValidate())
            focusSpeed = speedBox_->currentIndex();
        else
            speedBox_->setCurrentIndex(focusSpeed >= 0 && focusSpeed < speedBox_->count() ? focusSpeed : -1);
    };
    DataExchange ex(ui_, saveAndValidate);
    exchange(ex);
    const int kept = motion::clampOutStepsPerHour(outStepsPerHour);
    if (kept != outStepsPerHour) {
        outStepsPerHour = kept;
        DataExchange back(ui_, false);
        exchange(back);
    }
    return !ex.failed();
}

void LX200P0::drawButton(DrawnButton button, const QColor& text, const QColor& fill)
{
    looks_[index(button)] = {text, fill, true};
    // Painted at once, as the page draws straight onto its window; a later
    // repaint of the whole page follows the paint rules instead.
    // The page beneath is repainted with the button; that repaint must not
    // apply the paint rules over what was just drawn.
    drawingOneButton_ = true;
    faces_[index(button)]->repaint();
    drawingOneButton_ = false;
}

void LX200P0::drawAllButtons()
{
    for (const DrawnButton button : {DrawnButton::get, DrawnButton::go, DrawnButton::north, DrawnButton::south,
                                     DrawnButton::east, DrawnButton::west, DrawnButton::in, DrawnButton::out})
        drawButton(button, blackText, normalFill);
}

void LX200P0::paintEvent(QPaintEvent* event)
{
    // A repaint of the page follows the paint rules, for the buttons in the
    // part repainted; a button the page drew since keeps its colours until
    // then.
    const auto rule = [this](DrawnButton button) -> Look {
        if (button == DrawnButton::east && parked == 1)
            return {blackText, pressedFill, parkTimer == 0};
        if ((button == DrawnButton::out && lastFocusDirection == 2)
            || (button == DrawnButton::in && lastFocusDirection == 1))
            return {blackText, lastFocusFill, true};
        return {blackText, normalFill, true};
    };
    if (drawingOneButton_)
        return;
    for (std::size_t i = 0; i < looks_.size(); ++i) {
        if (event->region().intersects(rects_[i]))
            looks_[i] = rule(static_cast<DrawnButton>(i));
    }
    // Only a repaint of the whole page drops the selection of the coordinate
    // boxes; the edits' own repaints (a blinking cursor) reach the page too.
    if (event->rect().contains(rect())) {
        raEdit_->deselect();
        decEdit_->deselect();
    }
}

void LX200P0::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        press(event->position().toPoint());
    QWidget::mousePressEvent(event);
}

void LX200P0::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        release(event->position().toPoint());
    QWidget::mouseReleaseEvent(event);
}

// A click's work is urgent: it goes at the next boundary of whatever the
// telescope does, GET following a slew included, in the order of the clicks.
void LX200P0::press(QPoint point)
{
    const auto hit = [&](DrawnButton button) { return buttonRect(button).contains(point); };
    if (hit(DrawnButton::get)) {
        drawButton(DrawnButton::get, blackText, pressedFill);
        urgentJob([this] { followPosition(); });
    }
    if (hit(DrawnButton::go) && motionAllowed()) {
        drawButton(DrawnButton::go, blackText, pressedFill);
        goTo();
    }
    if (hit(DrawnButton::halt)) {
        drawButton(DrawnButton::halt, blackText, pressedFill);
        halt();
    }
    const std::array<std::pair<DrawnButton, const char*>, 4> directions{{{DrawnButton::north, ":Mn#"},
                                                                         {DrawnButton::south, ":Ms#"},
                                                                         {DrawnButton::east, ":Me#"},
                                                                         {DrawnButton::west, ":Mw#"}}};
    for (const auto& [button, command] : directions) {
        if (hit(button) && motionAllowed()) {
            drawButton(button, blackText, pressedFill);
            directionHeld_ = true;
            urgentJob([this, motion = command] {
                const auto operation = LX200Page::operation();
                sendSlewRate();
                link_.send(motion);
            });
        }
    }
    for (const DrawnButton button : {DrawnButton::in, DrawnButton::out}) {
        if (hit(button)) {
            focusReleaseSeen = 0;
            drawButton(button, blackText, pressedFill);
            button == DrawnButton::in ? focusIn() : focusOut();
        }
    }
}

void LX200P0::release(QPoint point)
{
    // The press is over wherever the button comes up.
    directionHeld_ = false;
    focusHeld_ = false;
    const auto hit = [&](DrawnButton button) { return buttonRect(button).contains(point); };
    if (hit(DrawnButton::get))
        drawButton(DrawnButton::get, blackText, normalFill);
    if (hit(DrawnButton::go) && motionAllowed())
        drawButton(DrawnButton::go, blackText, normalFill);
    const std::array<std::pair<DrawnButton, const char*>, 4> directions{{{DrawnButton::north, ":Qn#"},
                                                                         {DrawnButton::south, ":Qs#"},
                                                                         {DrawnButton::east, ":Qe#"},
                                                                         {DrawnButton::west, ":Qw#"}}};
    for (const auto& [button, command] : directions) {
        if (hit(button) && motionAllowed()) {
            drawButton(button, blackText, normalFill);
            urgentJob([this, stop = command] {
                const auto operation = LX200Page::operation();
                link_.send(stop);
                followPosition();
            });
        }
    }
    if (hit(DrawnButton::in)) {
        if (focusReleaseSeen == 0) {
            drawButton(DrawnButton::out, blackText, normalFill);
            drawButton(DrawnButton::in, blackText, lastFocusFill);
            stopFocusIn();
            lastFocusDirection = 1;
        }
        focusReleaseSeen = 1;
    }
    if (hit(DrawnButton::out)) {
        if (focusReleaseSeen == 0) {
            drawButton(DrawnButton::in, blackText, normalFill);
            drawButton(DrawnButton::out, blackText, lastFocusFill);
            stopFocusOut();
            lastFocusDirection = 2;
        }
        focusReleaseSeen = 1;
    }
}

void LX200P0::sendSlewRate()
{
    std::string_view command;
    gui([&] {
        updateFields(true);
        command = motion::slewRateCommand(slewRate);
    });
    if (!command.empty())
        link_.send(command);
}

void LX200P0::getPosition()
{
    job([this] { followPosition(); });
}

void LX200P0::followPosition()
{
    const auto operation = LX200Page::operation();
    if (!link_.ready()) {
        portNotOpenMessage();
        gui([this] { drawAllButtons(); });
        return;
    }
    gui([this] { drawButton(DrawnButton::get, blackText, pressedFill); });
    bool settled = false;
    while (!settled) {
        // Clicks go while it waits: HALT stops a slew that GET follows.
        deviceWait(ui_, clock_, positionWaitMs);
        if (commandEnds())
            break;
        const std::string raReply = link_.query(":GR#", 20);
        const std::string decReply = link_.query(":GD#", 20);
        // A telescope that went away keeps its last position in the boxes.
        if (commandEnds())
            break;
        gui([&] {
            settled = raReply == ra && decReply == dec;
            ra = raReply;
            dec = decReply;
        });
        if (raReply.empty() && decReply.empty())
            ui_.messageBox("Telescope not responding", "ERROR", Buttons::ok, infoStyle);
        gui([this] { updateFields(false); });
    }
    gui([this] { drawButton(DrawnButton::get, blackText, normalFill); });
}

int LX200P0::validateCoordinates()
{
    const MotionPageCoordinates checked = validateMotionPageCoordinates(ra, dec);
    if (checked.missing)
        ui_.messageBox(coordinatesMissingMessage, "info", Buttons::ok, infoStyle);
    if (!checked.raUsable) {
        raEdit_->selectAll();
        ui_.messageBox(reenterRaMessage, "info", Buttons::ok, infoStyle);
    }
    if (!checked.decUsable) {
        decEdit_->selectAll();
        ui_.messageBox(reenterDecMessage, "info", Buttons::ok, infoStyle);
    }
    return checked.usable() ? 1 : 0;
}

void LX200P0::goTo()
{
    urgentJob([this] { slewTo(); });
}

void LX200P0::slewTo()
{
    const auto operation = LX200Page::operation();
    int usable = 0;
    std::string targetRa, targetDec;
    gui([&] {
        updateFields(true);
        usable = validateCoordinates();
        if (usable == 0)
            drawButton(DrawnButton::go, blackText, normalFill);
        targetRa = ra;
        targetDec = dec;
    });
    if (usable == 0)
        return;
    if (const auto command = targetRaCommand(targetRa))
        link_.query(*command, 50);
    link_.query(targetDecCommand(targetDec), 50);
    const std::string reply = link_.query(":MS#", 50);
    if (const auto refusal = slewRefusalMessage(reply))
        ui_.messageBox(*refusal, "info", Buttons::ok, infoStyle);
    gui([this] { drawButton(DrawnButton::go, blackText, normalFill); });
    followPosition();
}

void LX200P0::halt()
{
    urgentJob([this] { haltAll(); });
}

void LX200P0::haltAll()
{
    const auto operation = LX200Page::operation();
    gui([this] { drawButton(DrawnButton::halt, blackText, pressedFill); });
    for (const std::string_view stop : {":Qn#", ":Qs#", ":Qe#", ":Qw#"})
        link_.send(stop);
    gui([this] { directionHeld_ = false; });
    deviceWait(ui_, clock_, 500);
    gui([this] {
        drawButton(DrawnButton::halt, blackText, normalFill);
        // Every motion has stopped, so the pad is painted whole by its rules:
        // a direction button released outside itself would otherwise stay red.
        repaint();
    });
}

void LX200P0::setPort(int handle)
{
    const auto operation = LX200Page::operation();
    LX200Page::setPort(handle);
    if (link_.portOpen != 0)
        motion::precisionSetup(link_);
    gui([this] {
        loadPageSettings();
        updateFields(false);
    });
    if (link_.portOpen != 0 && !commandEnds()) {
        park();
        followPosition();
    }
}

void LX200P0::onSetActive()
{
    job([this] {
        if (link_.portHandle != PortTable::closed)
            followPosition();
    });
}

void LX200P0::windowClosed()
{
    // What was typed is kept for the window's return.
    updateFields(true);
    stopTimer(parkTimer);
    stopTimer(dynamicFocusTimer);
}

void LX200P0::stopTimer(int& id)
{
    if (id != 0)
        killTimer(id);
    id = 0;
}

void LX200P0::setFocusFlags()
{
    const motion::FocusFlags flags = motion::focusFlags(focusSpeed);
    fastFocus = flags.fastFocus;
    steppedFocus = flags.steppedFocus;
    slowStepper = flags.slowStepper;
    fastStepper = flags.fastStepper;
}

void LX200P0::focusIn()
{
    startFocusing(true);
}

void LX200P0::focusOut()
{
    startFocusing(false);
}

void LX200P0::startFocusing(bool in)
{
    // The continuous modes run while the button is held; the release ends it.
    focusHeld_ = slowStepper == 0 && fastStepper == 0 && steppedFocus == 0;
    urgentJob([this, in] { focusStart(in); });
}

void LX200P0::focusStart(bool in)
{
    const auto operation = LX200Page::operation();
    bool stepper = false, stepped = false, fast = false;
    gui([&] {
        updateFields(true);
        stepper = slowStepper != 0 || fastStepper != 0;
        stepped = steppedFocus != 0;
        fast = fastFocus != 0;
        if (stepper || stepped)
            focusLoopRunning = 1;
        else
            focusStartMs = nowMs();
    });
    if (stepper) {
        stepperFocusLoop(in);
        return;
    }
    sendFocusSpeed();
    if (stepped) {
        steppedFocusLoop(in);
        return;
    }
    link_.send(fast ? ":FF#" : ":FS#");
    link_.send(in ? ":F-#" : ":F+#");
}

void LX200P0::sendFocusSpeed()
{
    int speed = 0;
    gui([&] { speed = focusSpeed; });
    if (speed == 0 || speed == 1)
        link_.send(":FS#");
    else if (speed == 2 || speed == 3)
        link_.send(":FF#");
}

void LX200P0::focusPulse(bool in)
{
    link_.send(motion::focusPulse(in));
}

bool LX200P0::focusLoopGoesOn()
{
    // The release's own stop has gone already when the loop hears of it: it
    // is urgent, and ran at this look's boundary.
    const InputSeen seen = ui_.lookForInput();
    if (!seen.leftButtonReleased && !commandEnds())
        return true;
    link_.send(":FQ#");
    gui([this] { focusLoopRunning = 0; });
    return false;
}

bool LX200P0::focusLoopOn()
{
    bool running = false;
    gui([&] { running = focusLoopRunning != 0; });
    return running;
}

void LX200P0::steppedFocusLoop(bool in)
{
    while (focusLoopOn()) {
        gui([this] { focusStartMs = nowMs(); });
        focusPulse(in);
        gui([this] { focusStopMs = nowMs(); });
        updateFocusCounter(in ? 32 : -32);
        // A release is taken at the loop's message step.
        deviceWait(ui_, clock_, 1000, Looking::stepsOnly);
        if (!focusLoopGoesOn())
            return;
    }
}

void LX200P0::stepperFocusLoop(bool in)
{
    while (focusLoopOn()) {
        bool slow = false;
        gui([&] { slow = slowStepper != 0; });
        if (slow)
            deviceWait(ui_, clock_, 200, Looking::stepsOnly);
        focusPulse(in);
        gui([this, in] {
            focusCounter += in ? 1 : -1;
            updateFields(false);
        });
        if (!focusLoopGoesOn())
            return;
    }
}

void LX200P0::stopFocusIn()
{
    urgentJob([this] { stopFocus(true); });
}

void LX200P0::stopFocusOut()
{
    urgentJob([this] { stopFocus(false); });
}

void LX200P0::stopFocus(bool in)
{
    const auto operation = LX200Page::operation();
    link_.send(":FQ#");
    bool counted = false;
    gui([&] {
        focusHeld_ = false;
        if (focusLoopRunning != 0 || slowStepper != 0 || fastStepper != 0)
            return;
        focusStopMs = nowMs();
        // The millisecond clock wraps; only the difference counts.
        const auto held = static_cast<std::int32_t>(focusStopMs - focusStartMs);
        counted = true;
        updateFields(true);
        focusCounter += motion::focusCounterChange(in ? held : -static_cast<std::int64_t>(held), steppedFocus != 0,
                                                   fastFocus != 0);
        updateFields(false);
    });
    if (counted)
        deviceWait(ui_, clock_, 500);
}

void LX200P0::updateFocusCounter(std::int64_t d)
{
    gui([this, d] {
        updateFields(true);
        focusCounter += motion::focusCounterChange(d, steppedFocus != 0, fastFocus != 0);
        updateFields(false);
    });
}

void LX200P0::loadPageSettings()
{
    const IniFile file(iniDirectory + "/LX200P0.ini");
    // A file that is there but refused (a fifo, a device, a runaway size) is
    // said and left alone; the page runs on its values.
    if (const FileError problem = file.problem(); problem.failed()) {
        ui_.messageBox(openFailureText(file.path(), problem), {}, Buttons::ok, {});
        return applyFocusSpeed();
    }
    const std::string line = file.readString("Settings", "Values", "ERROR", 256);
    if (line == "ERROR") {
        savePageSettings();
    } else {
        const auto read = motion::parsePageSettings(line, {parked, focusSpeed});
        parked = read.parked;
        focusSpeed = read.focusSpeed;
    }
    applyFocusSpeed();
}

void LX200P0::applyFocusSpeed()
{
    speedBox_->setCurrentIndex(focusSpeed >= 0 && focusSpeed < speedBox_->count() ? focusSpeed : -1);
    setFocusFlags();
}

void LX200P0::savePageSettings()
{
    IniFile file(iniDirectory + "/LX200P0.ini");
    // The page goes on with its values when the file cannot be written; they
    // are written again at the next change.
    (void)file.writeString("Settings", "Values", motion::formatPageSettings({parked, focusSpeed}));
}

void LX200P0::onFocusSpeedChanged()
{
    focusSpeed = speedBox_->currentIndex();
    setFocusFlags();
    savePageSettings();
}

void LX200P0::startDynamicFocusTimer()
{
    stopTimer(dynamicFocusTimer);
    dynamicFocusTimer = startTimer(motion::dynamicFocusPeriodMs(outStepsPerHour));
}

void LX200P0::onDynamicFocus()
{
    updateFields(true);
    if (dynamicFocusOn == 0)
        stopTimer(dynamicFocusTimer);
    else
        startDynamicFocusTimer();
}

void LX200P0::onStepsPerHourChanged()
{
    stopTimer(dynamicFocusTimer);
    updateFields(true);
    if (dynamicFocusOn != 0)
        startDynamicFocusTimer();
}

void LX200P0::onPark()
{
    job([this] { park(); });
}

void LX200P0::park()
{
    const auto operation = LX200Page::operation();
    bool countdown = false, parkedNow = false;
    gui([&] {
        if (parkTimer == 0) {
            updateFields(true);
            if (parkSeconds > 0) {
                parkStartTime = clock_.nowSeconds();
                parkStartSeconds = parkSeconds;
                parkTimer = startTimer(1000);
                parked = 1;
                updateFields(false);
            }
        } else {
            stopTimer(parkTimer);
            parkSeconds = 0;
            parked = 0;
            updateFields(false);
        }
        updateFields(true);
        countdown = parkSeconds > 0;
        parkedNow = parked != 0;
        if (countdown)
            return;
        if (parkedNow) {
            slewRate = 3;
            for (int i = 0; i < rates_.size(); ++i) {
                rates_[i]->setChecked(i == 3);
                rates_[i]->setEnabled(false);
            }
            drawButton(DrawnButton::east, blackText, pressedFill);
        } else {
            drawButton(DrawnButton::east, blackText, normalFill);
        }
    });
    if (countdown)
        return;
    if (parkedNow) {
        sendSlewRate();
        link_.send(":Me#");
    } else {
        link_.send(":Qe#");
        followPosition();
        gui([this] {
            for (QAbstractButton* rate : rates_)
                rate->setEnabled(true);
        });
    }
    gui([this] {
        updateFields(false);
        savePageSettings();
        update();
    });
}

void LX200P0::onTimer(int id)
{
    if (id == 1) {
        stopTimer(parkTimer);
        parkSeconds -= 1;
        if (parkSeconds <= 0) {
            parked = 1;
            updateFields(false);
            tickJob([this] { park(); });
        } else {
            parkSeconds = motion::parkSecondsLeft(parkStartSeconds, parkStartTime, clock_.nowSeconds());
            parkTimer = startTimer(1000);
            updateFields(false);
        }
    } else if (id == 2) {
        startDynamicFocusTimer();
        tickJob([this] {
            link_.send(":FS#");
            focusPulse(false);
            updateFocusCounter(-32);
        });
    }
}

void LX200P0::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == parkTimer)
        onTimer(1);
    else if (event->timerId() == dynamicFocusTimer)
        onTimer(2);
    else
        LX200Page::timerEvent(event);
}

bool LX200P0::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == stepsEdit_ && event->type() == QEvent::FocusOut)
        onStepsPerHourChanged();
    return LX200Page::eventFilter(watched, event);
}

}  // namespace tarvi
