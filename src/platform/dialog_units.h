#pragma once

#include <QRect>

class QFont;
class QWidget;

namespace tarvi {

// Dialog templates are laid out in dialog units: a quarter of the dialog
// font's average character width across, an eighth of its height down.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

    // Places a control at a template rectangle.
    void place(QWidget* widget, int left, int top, int width, int height) const;

    // Widens every check box, radio button and one-line label whose text
    // does not fit its template rectangle in this font, and the group boxes
    // and the dialog around it, so that no text is cut off. Templates were
    // measured in another font; ours may run wider.
    void widenToShowTexts(QWidget* dialog) const;

private:
    int baseX_;
    int baseY_;
};

}  // namespace tarvi
