#include "view/display_size_dialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include "platform/dialog_units.h"
#include "view/display_size.h"

namespace tarvi {

SetImageDisplaySize::SetImageDisplaySize(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Set Image Display Size"));
    const DialogUnits du(font());
    setFixedSize(du.size(201, 105));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setDefault(true);
    du.place(ok, 144, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("button2"));
    du.place(cancel, 144, 24, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("edit1044"));
    du.place(edit_, 151, 60, 35, 13);

    scrollBar_ = new QScrollBar(Qt::Horizontal, this);
    scrollBar_->setObjectName(QStringLiteral("scrollBar1043"));
    du.place(scrollBar_, 16, 63, 128, 10);
    scrollBar_->setSingleStep(1);
    scrollBar_->setPageStep(displaySizeScroll::pageStep);
    // Every move comes through the scroll handler, which sets the position itself.
    connect(scrollBar_, &QScrollBar::actionTriggered, this, &SetImageDisplaySize::OnHScroll);

    setTabOrder(scrollBar_, edit_);
    du.widenToShowTexts(this);
}

void SetImageDisplaySize::showEvent(QShowEvent* event)
{
    if (!initialised_)
        OnInitDialog();
    QDialog::showEvent(event);
}

void SetImageDisplaySize::OnInitDialog()
{
    initialised_ = true;
    scrollBar_->setRange(displaySizeScroll::minimum, displaySizeScroll::maximum);
    edit_->setText(QString::fromStdString(formatDisplaySize(factor)));
    scrollBar_->setValue(positionForDisplaySize(factor));
    scrollBar_->setFocus();
}

void SetImageDisplaySize::OnHScroll(int action)
{
    ScrollAction scroll = ScrollAction::endScroll;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: scroll = ScrollAction::lineLeft; break;
    case QAbstractSlider::SliderSingleStepAdd: scroll = ScrollAction::lineRight; break;
    case QAbstractSlider::SliderPageStepSub: scroll = ScrollAction::pageLeft; break;
    case QAbstractSlider::SliderPageStepAdd: scroll = ScrollAction::pageRight; break;
    case QAbstractSlider::SliderMove: scroll = ScrollAction::thumb; break;
    case QAbstractSlider::SliderToMinimum: scroll = ScrollAction::leftEnd; break;
    case QAbstractSlider::SliderToMaximum: scroll = ScrollAction::rightEnd; break;
    default: break;
    }
    // When an action is reported the slider has moved but its value is still
    // the old position; the new position is computed from that, and set.
    const int p = scrollPosition(scroll, scrollBar_->value(), scrollBar_->sliderPosition());
    scrollBar_->setSliderPosition(p);
    factor = displaySizeForPosition(p);
    edit_->setText(QString::fromStdString(formatDisplaySize(factor)));
}

}  // namespace tarvi
