#pragma once

#include <QString>
#include <QWidget>

#include <functional>
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
    // The page's device work is a job of the telescope's line: on the
    // telescope's own thread in the program. The page's fields and controls
    // belong to the GUI thread; a job reaches them only through gui(), which
    // runs there while the job waits.
    void job(std::function<void()> work) { link_.line().run(std::move(work)); }
    // A stop: before the jobs that wait, and at the next exchange boundary of
    // the job under way.
    void urgentJob(std::function<void()> work) { link_.line().runUrgent(std::move(work)); }
    void gui(const std::function<void()>& fn) { link_.line().gui(fn); }
    // A timer's tick: a job, unless the page's last tick still waits or runs.
    void tickJob(std::function<void()> work);
    // Every handler of the page is an operation on the telescope.
    PortOwner::Operation operation() { return link_.line().operation(); }
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

private:
    bool tickWaiting_ = false;
};

}  // namespace tarvi
