#pragma once

#include <atomic>
#include <string>

#include "platform/waits.h"
#include "telescope/lx200_page.h"

class QLineEdit;
class QPushButton;

namespace tarvi {

// The sky-flats page: while the camera takes flat frames, Start keeps the
// telescope drifting in a small square at the centering rate and brings it
// home every 201 legs, until the left button is pressed anywhere in the
// program. Stop, and leaving the page, halt every motion.
class LX200P3 final : public LX200Page {
    Q_OBJECT
public:
    LX200P3(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent = nullptr);

    std::string ra;
    std::string dec;
    int milliseconds = 0;

    void onSetActive() override;
    void onKillActive() override;

    // Into the fields (saveAndValidate) or into the controls; false when the
    // leg length was refused.
    bool updateFields(bool saveAndValidate);
    void onStart();
    void onStop();
    // A sky-flat run is moving the telescope.
    bool running() const { return running_; }

    QLineEdit* raEdit() const { return raEdit_; }
    QLineEdit* decEdit() const { return decEdit_; }
    QLineEdit* millisecondsEdit() const { return millisecondsEdit_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }

private:
    QLineEdit* raEdit_;
    QLineEdit* decEdit_;
    QLineEdit* millisecondsEdit_;
    QPushButton* start_;
    QPushButton* stop_;
    // Set on the telescope's thread, read by the network clients' rules.
    std::atomic<bool> running_ = false;

    // The device work, in jobs.
    void refreshPosition();
    void stopAllMotion(Looking looking = Looking::forInput);
    void run(int legMs);
};

}  // namespace tarvi
