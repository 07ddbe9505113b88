#pragma once

#include <QAbstractScrollArea>

#include <memory>

#include "image/bmp.h"

class QPainter;
class QPrinter;

namespace tarvi {

class CTarviApp;
class CTarviDoc;
class ViewUi;

// One image window's picture: it owns the document's image, loads it on the
// first paint, draws it at the display size in force when the view was made,
// keeps its window fitted to the drawn size, and reads out the pixel under
// the pointer.
class CTarviView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    CTarviView(CTarviApp& app, CTarviDoc& document, QWidget* parent = nullptr);
    // A capture under way will show its picture in this window.
    bool captureWritesHere() const;
    CTarviApp& app() const { return app_; }
    ~CTarviView() override;

    CTarviDoc& document() const { return document_; }
    bmp* image() const { return image_.get(); }
    float displayScale() const { return displayScale_; }
    int imageLoaded() const { return imageLoaded_; }
    double meanLevel() const { return meanLevel_; }
    QSize scrollSize() const { return scrollSize_; }

    void OnInitialUpdate();
    void OnUpdate();
    void OnCenter();
    int saveAsBmp(const QString& path);
    int saveAsFits(const QString& path);
    void reloadImage();

    // Paints the picture as the view draws it, for printing and preview: at
    // the same size on paper as on the screen.
    void print(QPrinter* printer);

    // The child frame's size that shows the whole scroll size; where
    // ResizeParentToFit puts the window.
    QSize fittedFrameSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void OnDraw(QPainter& painter);
    bool loadImage();
    void setScrollSizes(QSize total);
    void fitParentFrame();
    // Moves the window to where it was placed when it was made.
    void placeParentFrame();
    void updateScrollBars();

    CTarviApp& app_;
    CTarviDoc& document_;
    std::unique_ptr<ViewUi> ui_;
    std::unique_ptr<bmp> image_;
    float displayScale_;
    int imageLoaded_ = 0;
    double meanLevel_ = 0.0;
    bool loadFailed_ = false;
    QRect placement_;
    QSize scrollSize_{20, 20};
    bool fitPending_ = false;
};

}  // namespace tarvi
