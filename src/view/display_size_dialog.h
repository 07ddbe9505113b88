#pragma once

#include <QDialog>

class QLineEdit;
class QScrollBar;

namespace tarvi {

// Image > Set Image Display Size...: a scroll bar from 0.10 to 5.00 in steps
// of 0.05 and a box beside it showing the value. What is typed into the box
// is never read.
class SetImageDisplaySize final : public QDialog {
    Q_OBJECT
public:
    explicit SetImageDisplaySize(QWidget* parent = nullptr);

    double factor = 1.0;

    // OnInitDialog: runs when the dialog is shown, after factor is set.
    void OnInitDialog();
    QScrollBar* scrollBar() const { return scrollBar_; }
    QLineEdit* valueEdit() const { return edit_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnHScroll(int action);

    QScrollBar* scrollBar_;
    QLineEdit* edit_;
    bool initialised_ = false;
};

}  // namespace tarvi
