#include "platform/dialog_units.h"

#include <QFontMetrics>
#include <QWidget>

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

}  // namespace tarvi
