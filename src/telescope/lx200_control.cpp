#include "telescope/lx200_control.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include "telescope/lx200_p0.h"
#include "telescope/lx200_p1.h"
#include "telescope/lx200_p2.h"
#include "telescope/lx200_p3.h"

namespace tarvi {

LX200Control::LX200Control(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent)
    : QDialog(parent), ui_(ui), line_(line), tabs_(new QTabWidget(this))
{
    setWindowTitle(QStringLiteral("LX-200 Telescope Controls"));
    setModal(false);
    page0_ = new LX200P0(ui, clock, line);
    page1_ = new LX200P1(ui, clock, line);
    page2_ = new LX200P2(ui, clock, line);
    page3_ = new LX200P3(ui, clock, line);
    tabs_->addTab(page0_, QStringLiteral("LX200 Controls"));
    tabs_->addTab(page1_, QStringLiteral("Location, Time, Backlash, Tracking Rate"));
    tabs_->addTab(page2_, QStringLiteral("Objects"));
    tabs_->addTab(page3_, QStringLiteral("Sky Flats"));
    tabs_->setCurrentIndex(0);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (auto* left = qobject_cast<LX200Page*>(tabs_->widget(activeIndex_)))
            left->onKillActive();
        activeIndex_ = index;
        if (auto* page = qobject_cast<LX200Page*>(tabs_->widget(index)))
            page->onSetActive();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void LX200Control::recreateWindow()
{
    closed_ = false;
    show();
    if (auto* page = qobject_cast<LX200Page*>(tabs_->currentWidget()))
        page->onSetActive();
}

void LX200Control::done(int result)
{
    // The pages of a running loop would go from under it.
    if (line_.working()) {
        ui_.messageBox(sheetBusyMessage, {}, Buttons::ok, {});
        return;
    }
    // The pages' timers end with the window, as the page windows go with it.
    for (int i = 0; i < tabs_->count(); ++i) {
        if (auto* page = qobject_cast<LX200Page*>(tabs_->widget(i)))
            page->windowClosed();
    }
    closed_ = true;
    QDialog::done(result);
}

bool LX200Control::movesTelescope() const
{
    return page0_->movesTelescope() || page3_->running();
}

}  // namespace tarvi
