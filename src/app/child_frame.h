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
    static constexpr const char* captureWindowBusyMessage =
        "A capture will show its picture in this window.  Close it once the capture has ended.";

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
