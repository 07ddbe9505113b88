#include "telescope/lx200_page.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/dialog_units.h"

namespace tarvi {

LX200Page::LX200Page(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent)
    : QWidget(parent), ui_(ui), clock_(clock), link_(ui, line)
{
    const DialogUnits du(font());
    setMinimumSize(du.size(pageWidth, templateHeight));
}

void LX200Page::setPort(int handle)
{
    link_.setHandle(handle);
}

void LX200Page::tickJob(std::function<void()> work)
{
    if (tickWaiting_)
        return;
    tickWaiting_ = true;
    job([this, work = std::move(work)] {
        const auto tick = link_.line().operation(PortOwner::Kind::tick);
        work();
        gui([this] { tickWaiting_ = false; });
    });
}

void LX200Page::portNotOpenMessage()
{
    if (!link_.line().dropping())
        ui_.messageBox("Telescope port is not open.", "ERROR", Buttons::ok, {});
}

LX200Page::Layout::Layout(LX200Page& page) : page_(page), units_(std::make_unique<DialogUnits>(page.font())) {}

LX200Page::Layout::~Layout() = default;

QGroupBox* LX200Page::Layout::group(const QString& title, int x, int y, int width, int height) const
{
    auto* box = new QGroupBox(title, &page_);
    units_->place(box, x, y, width, height);
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    return box;
}

QLabel* LX200Page::Layout::label(const QString& text, int x, int y, int width, int height) const
{
    auto* item = new QLabel(text, &page_);
    units_->place(item, x, y, width, height);
    return item;
}

QLineEdit* LX200Page::Layout::edit(const char* name, int x, int y, int width) const
{
    auto* field = new QLineEdit(&page_);
    field->setObjectName(QString::fromLatin1(name));
    units_->place(field, x, y, width, 12);
    return field;
}

QLineEdit* LX200Page::Layout::readOnlyEdit(const char* name, int x, int y, int width) const
{
    QLineEdit* field = edit(name, x, y, width);
    field->setReadOnly(true);
    return field;
}

QPushButton* LX200Page::Layout::button(const QString& text, int x, int y, int width) const
{
    auto* item = new QPushButton(text, &page_);
    units_->place(item, x, y, width, 14);
    return item;
}

void LX200Page::Layout::finish() const
{
    units_->widenToShowTexts(&page_);
}

}  // namespace tarvi
