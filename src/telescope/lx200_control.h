#pragma once

#include <QDialog>

#include "platform/clock.h"
#include "platform/port_owner.h"
#include "platform/ui.h"

class QTabWidget;

namespace tarvi {

class LX200P0;
class LX200P1;
class LX200P2;
class LX200P3;

// The telescope control sheet: a modeless window with the four pages, which
// stays open beside the image windows. Closing it only hides it; the pages
// keep their fields until it is shown again.
class LX200Control final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* sheetBusyMessage =
        "The telescope is busy.  Let it finish, or end the run with a click, before closing the controls.";

    LX200Control(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent = nullptr);

    LX200P0& page0() { return *page0_; }
    LX200P1& page1() { return *page1_; }
    LX200P2& page2() { return *page2_; }
    LX200P3& page3() { return *page3_; }
    QTabWidget* tabs() const { return tabs_; }

    // Some page is moving the telescope: a held button, a loop, a countdown.
    bool movesTelescope() const;

    // The window was closed and is not yet shown again.
    bool windowClosed() const { return closed_; }
    // Shows the window again after it was closed.
    void recreateWindow();

protected:
    // Close, Escape and the window's close button all end here.
    void done(int result) override;

private:
    Ui& ui_;
    PortOwner& line_;
    QTabWidget* tabs_;
    LX200P0* page0_;
    LX200P1* page1_;
    LX200P2* page2_;
    LX200P3* page3_;
    bool closed_ = false;
    int activeIndex_ = 0;
};

}  // namespace tarvi
