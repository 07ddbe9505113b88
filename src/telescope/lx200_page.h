#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "platform/clock.h"
#include "platform/port_owner.h"
#include "platform/serial_port.h"
#include "platform/ui.h"
#include "telescope/lx200_link.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvi {

class DialogUnits;

// What the four pages of the telescope control sheet share: a template of
// 456 by 74 dialog units and a link of their own to the telescope.
class LX200Page : public QWidget {
    Q_OBJECT
public:
    LX200Page(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent = nullptr);

    // The hand-over of the telescope port by the sheet.
    virtual void setPort(int handle);
    // The page has come to the front of the sheet.
    virtual void onSetActive() {}
    // The page is about to leave the front of the sheet.
    virtual void onKillActive() {}
    // The sheet's window has closed: timers of the page end with it.
    virtual void windowClosed() {}

    LX200Link& link() { return link_; }
    int portHandle() const { return link_.portHandle; }
    int portOpen() const { return link_.portOpen; }

    static constexpr int templateWidth = 456;
    static constexpr int templateHeight = 74;
    // The motion page's focus group needs a little more than the template's
    // width for its longest speed in today's fonts; every page takes it, so
    // that their group boxes line up.
    static constexpr int pageWidth = 470;

protected:
    // Every handler of the page is an operation on the telescope: while it
    // runs the telescope is busy.
    PortOwner::Operation operation() { return link_.line().operation(); }
    // A timer's tick waits while the telescope is busy: false, and the tick
    // is to be tried again later.
    bool tickMayRun() const { return !link_.line().busy() && !link_.line().exchanging(); }
    // "Telescope port is not open.", unless this command lost the port and
    // has said so already.
    void portNotOpenMessage();
    // The command lost the telescope, or Exit asks it to end: loops stop and
    // no more is said.
    bool commandEnds() const { return link_.line().dropping() || link_.line().stopRequested(); }

    // Places the page's controls at their template rectangles, in dialog
    // units of the page's font. Group boxes go first, so that the controls
    // lie above them.
    class Layout {
    public:
        explicit Layout(LX200Page& page);
        ~Layout();
        const DialogUnits& units() const { return *units_; }
        // A group box that lets the mouse through to what lies beneath.
        QGroupBox* group(const QString& title, int x, int y, int width, int height) const;
        QLabel* label(const QString& text, int x, int y, int width, int height = 8) const;
        QLineEdit* edit(const char* name, int x, int y, int width) const;
        QLineEdit* readOnlyEdit(const char* name, int x, int y, int width) const;
        QPushButton* button(const QString& text, int x, int y, int width) const;
        // Last: no text is cut off in the desktop's font.
        void finish() const;

    private:
        LX200Page& page_;
        std::unique_ptr<DialogUnits> units_;
    };

    Ui& ui_;
    Clock& clock_;
    LX200Link link_;
};

}  // namespace tarvi
