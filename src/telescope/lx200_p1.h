#pragma once

#include <string>

#include "telescope/lx200_page.h"

class QLineEdit;
class QPushButton;

namespace tarvi {

// The page of the telescope control sheet for location, time, backlash and
// tracking rate. While it is in front it reads the telescope's local and
// sidereal time once a second; setting the time also sets the telescope's
// sidereal time, which the page works out from the time typed.
class LX200P1 final : public LX200Page {
    Q_OBJECT
public:
    LX200P1(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent = nullptr);

    // Fields exchanged with the controls.
    std::string latitude;
    std::string longitude;
    std::string date;
    std::string localTime;
    std::string backlash = "??";
    std::string trackingRate = "???.?";
    // Hours added to the local time to get universal time, from ":GG#".
    int utcOffset = 0;
    // The running one-second timer; 0 when none runs.
    int clockTimer = 0;

    void onSetActive() override;
    void onKillActive() override;
    void windowClosed() override;

    // Into the fields (saveAndValidate) or into the controls.
    bool updateFields(bool saveAndValidate);

    void getLocation();
    void getDate();
    void getLocalTime();
    void getSiderealTime();
    int getUtcOffset();

    void setDate(const std::string& dateText);
    void setTime();

    // Timer 1 is the clock refresh.
    void onTimer(int id);
    void onSetLocation();
    void onSetDate();
    void onSetTime();
    void onSetBacklash();
    void onGetTrackingRate();
    void onSetTrackingRate();

    QLineEdit* latitudeEdit() const { return latitudeEdit_; }
    QLineEdit* longitudeEdit() const { return longitudeEdit_; }
    QLineEdit* dateEdit() const { return dateEdit_; }
    QLineEdit* dateAnswerEdit() const { return dateAnswerEdit_; }
    QLineEdit* localTimeEdit() const { return localTimeEdit_; }
    QLineEdit* siderealEdit() const { return siderealEdit_; }
    QLineEdit* newTimeEdit() const { return newTimeEdit_; }
    QLineEdit* backlashEdit() const { return backlashEdit_; }
    QLineEdit* trackingRateEdit() const { return trackingRateEdit_; }
    QPushButton* setLocationButton() const { return setLocation_; }
    QPushButton* setDateButton() const { return setDate_; }
    QPushButton* setTimeButton() const { return setTime_; }
    QPushButton* setBacklashButton() const { return setBacklash_; }
    QPushButton* getTrackingRateButton() const { return getTrackingRate_; }
    QPushButton* setTrackingRateButton() const { return setTrackingRate_; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    // A timer started again under the same id replaces the running one, so
    // there is never more than one clock timer.
    void startClockTimer();
    void stopClockTimer();
    // What setTime and the Set button of the time group read back afterwards.
    void refresh();
    // The offset into utcOffset.
    void takeUtcOffset();

    QLineEdit* latitudeEdit_ = nullptr;
    QLineEdit* longitudeEdit_ = nullptr;
    QLineEdit* dateEdit_ = nullptr;
    QLineEdit* dateAnswerEdit_ = nullptr;
    QLineEdit* localTimeEdit_ = nullptr;
    QLineEdit* siderealEdit_ = nullptr;
    QLineEdit* newTimeEdit_ = nullptr;
    QLineEdit* backlashEdit_ = nullptr;
    QLineEdit* trackingRateEdit_ = nullptr;
    QPushButton* setLocation_ = nullptr;
    QPushButton* setDate_ = nullptr;
    QPushButton* setTime_ = nullptr;
    QPushButton* setBacklash_ = nullptr;
    QPushButton* getTrackingRate_ = nullptr;
    QPushButton* setTrackingRate_ = nullptr;
};

}  // namespace tarvi
