#pragma once

#include <QDialog>

class QTextBrowser;

namespace tarvi {

// Help > Help Topics and F1: the user guide from the README, in a window of
// its own that stays open beside the main window.
class HelpWindow final : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    QTextBrowser* browser() const { return browser_; }

    // The part of the README from its "User guide" heading on.
    static QString userGuide(const QString& readme);

private:
    QTextBrowser* browser_;
};

}  // namespace tarvi
