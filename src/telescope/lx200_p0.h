#pragma once

#include <QColor>
#include <QList>
#include <QRect>

#include <array>
#include <cstdint>
#include <string>

#include "telescope/lx200_page.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace tarvi {

// The motion page of the telescope control sheet: coordinates with GET, GO
// and HALT, the four directions at a chosen rate, the focuser, park and
// dynamic focus. Its nine big buttons are drawn and hit-tested by the page
// itself; they change colour only when the page draws them.
class LX200P0 final : public LX200Page {
    Q_OBJECT
public:
    LX200P0(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent = nullptr);

    enum class DrawnButton { get, go, halt, north, south, east, west, in, out };
    static constexpr int drawnButtonCount = 9;
    static const QColor blackText;
    static const QColor normalFill;
    static const QColor pressedFill;
    static const QColor lastFocusFill;
    // GET reads the position this often until two readings agree.
    static constexpr std::int64_t positionWaitMs = 250;

    // Fields exchanged with the controls.
    std::string ra;
    std::string dec;
    int slewRate = -1;
    int focusCounter = 0;
    int parked = 0;
    int parkSeconds = 0;
    int outStepsPerHour = 1;
    int dynamicFocusOn = 0;
    int focusSpeed = 4;
    // The focus mode's flags, set from focusSpeed.
    int fastFocus = 0;
    int steppedFocus = 0;
    int slowStepper = 0;
    int fastStepper = 0;
    // Timer ids; 0 when the timer is not running.
    int parkTimer = 0;
    int dynamicFocusTimer = 0;
    std::int64_t parkStartTime = 0;
    int parkStartSeconds = 0;
    int focusReleaseSeen = 0;
    int focusLoopRunning = 0;
    int lastFocusDirection = 0;  // 1 in, 2 out
    std::uint32_t focusStartMs = 0;
    std::uint32_t focusStopMs = 0;
    // Where "LX200P0.ini" is kept; the sheet's owner sets it.
    std::string iniDirectory = ".";

    // A held direction or focus button, a focus loop or the park countdown
    // is moving the telescope.
    bool movesTelescope() const
    {
        return directionHeld_ || focusHeld_ || focusLoopRunning != 0 || parkTimer != 0;
    }

    // The hand-over, in a job of the telescope's.
    void setPort(int handle) override;
    void onSetActive() override;
    void windowClosed() override;

    // Into the fields (saveAndValidate) or into the controls; false when a
    // field was refused.
    bool updateFields(bool saveAndValidate);

    void drawButton(DrawnButton button, const QColor& text, const QColor& fill);
    void drawAllButtons();
    // GET, GO and HALT as their buttons start them: device work in a job.
    void getPosition();
    void goTo();
    void halt();
    int validateCoordinates();

    // The mouse on the page, in its own coordinates.
    void press(QPoint point);
    void release(QPoint point);

    void focusIn();
    void focusOut();
    void stopFocusIn();
    void stopFocusOut();

    void loadPageSettings();
    void savePageSettings();

    void onPark();
    // Timer 1 is the park countdown, timer 2 dynamic focus.
    void onTimer(int id);
    void onDynamicFocus();
    void onStepsPerHourChanged();
    void onFocusSpeedChanged();

    // Where a drawn button is, and how it was drawn last.
    QRect buttonRect(DrawnButton button) const;
    QColor buttonFill(DrawnButton button) const { return looks_[index(button)].fill; }
    bool buttonShown(DrawnButton button) const { return looks_[index(button)].shown; }

    QLineEdit* raEdit() const { return raEdit_; }
    QLineEdit* decEdit() const { return decEdit_; }
    QLineEdit* counterEdit() const { return counterEdit_; }
    QLineEdit* parkSecondsEdit() const { return parkSecondsEdit_; }
    QLineEdit* stepsPerHourEdit() const { return stepsEdit_; }
    QCheckBox* parkBox() const { return parkBox_; }
    QCheckBox* dynamicFocusBox() const { return onBox_; }
    QComboBox* focusSpeedBox() const { return speedBox_; }
    const QList<QAbstractButton*>& rateButtons() const { return rates_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Look {
        QColor text{0, 0, 0};
        QColor fill{191, 191, 191};
        bool shown = true;
    };
    static std::size_t index(DrawnButton button) { return static_cast<std::size_t>(button); }
    bool motionAllowed() const { return parked == 0 || parkTimer != 0; }
    void startFocusing(bool in);

    // The device work, in the telescope's jobs; the fields and controls
    // through gui().
    void sendSlewRate();
    void followPosition();
    void slewTo();
    void haltAll();
    void park();
    void focusStart(bool in);
    void stopFocus(bool in);
    void sendFocusSpeed();
    void focusPulse(bool in);
    void steppedFocusLoop(bool in);
    void stepperFocusLoop(bool in);
    void updateFocusCounter(std::int64_t d);
    // One pass of the focus loops' message step; false when a left button
    // came up and the loop is to end.
    bool focusLoopGoesOn();
    bool focusLoopOn();
    void setFocusFlags();
    // The combo box and the flags from focusSpeed.
    void applyFocusSpeed();
    void startDynamicFocusTimer();
    void stopTimer(int& id);
    std::uint32_t nowMs() const;

    class ButtonFace;

    std::array<QRect, drawnButtonCount> rects_;
    std::array<Look, drawnButtonCount> looks_;
    std::array<ButtonFace*, drawnButtonCount> faces_{};
    bool drawingOneButton_ = false;
    bool directionHeld_ = false;
    bool focusHeld_ = false;

    QLineEdit* raEdit_ = nullptr;
    QLineEdit* decEdit_ = nullptr;
    QList<QAbstractButton*> rates_;
    QLineEdit* counterEdit_ = nullptr;
    QCheckBox* parkBox_ = nullptr;
    QLineEdit* parkSecondsEdit_ = nullptr;
    QLineEdit* stepsEdit_ = nullptr;
    QCheckBox* onBox_ = nullptr;
    QComboBox* speedBox_ = nullptr;
};

}  // namespace tarvi
