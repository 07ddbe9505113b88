#pragma once

#include <QMdiSubWindow>

namespace tarvi {

class CTarviDoc;
class CTarviView;

// An image window: a sub-window of the main window around one view. It
// starts 40 x 40; the view fits it to the picture on its first paint.
class CChildFrame final : public QMdiSubWindow {
    Q_OBJECT
public:
    static constexpr int initialSide = 40;

    explicit CChildFrame(CTarviView* view, QWidget* parent = nullptr);
    ~CChildFrame() override;

    CTarviView* view() const { return view_; }
    CTarviDoc& document() const;
    void updateTitle();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CTarviView* view_;
};

}  // namespace tarvi
