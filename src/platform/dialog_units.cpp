#include "platform/dialog_units.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace tarvi {

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    // The average width is taken over the 52 letters, as the original
    // dialog manager does, and rounded.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = std::max(1, static_cast<int>(std::lround(metrics.horizontalAdvance(letters) / 52.0)));
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::x(int units) const
{
    return static_cast<int>(std::lround(units * baseX_ / 4.0));
}

int DialogUnits::y(int units) const
{
    return static_cast<int>(std::lround(units * baseY_ / 8.0));
}

QRect DialogUnits::rect(int left, int top, int width, int height) const
{
    return {x(left), y(top), x(width), y(height)};
}

QSize DialogUnits::size(int width, int height) const
{
    return {x(width), y(height)};
}

void DialogUnits::place(QWidget* widget, int left, int top, int width, int height) const
{
    widget->setGeometry(rect(left, top, width, height));
}

void DialogUnits::widenToShowTexts(QWidget* dialog) const
{
    const int margin = x(7);
    const auto needs = [](QWidget* widget) {
        if (qobject_cast<QCheckBox*>(widget) != nullptr || qobject_cast<QRadioButton*>(widget) != nullptr)
            return widget->sizeHint().width();
        if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !label->wordWrap())
            return label->sizeHint().width();
        return 0;
    };
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        const int wanted = needs(widget);
        if (wanted <= widget->width())
            continue;
        widget->resize(wanted, widget->height());
        // Each enclosing box grows to hold its grown child, up to the dialog.
        for (QWidget* child = widget; child != dialog && child->parentWidget() != nullptr;
             child = child->parentWidget()) {
            QWidget* parent = child->parentWidget();
            const int right = child->x() + child->width() + (parent == dialog ? margin : x(4));
            if (right <= parent->width())
                break;
            if (parent == dialog) {
                if (parent->minimumWidth() == parent->maximumWidth())
                    parent->setFixedWidth(right);
                else
                    parent->resize(right, parent->height());
            } else {
                parent->resize(right, parent->height());
            }
        }
    }
}

}  // namespace tarvi
