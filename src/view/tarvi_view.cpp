#include "view/tarvi_view.h"

#include <QImage>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QTimer>

#include <vector>

#include "app/document_names.h"
#include "app/tarvi_app.h"
#include "app/tarvi_doc.h"
#include "view/readout.h"

namespace tarvi {

// The Ui the view's image talks through. While a paint is under way a message
// box cannot be run (its event loop would paint the same window again), so
// boxes raised by a load inside a paint wait until the paint is over.
class ViewUi final : public Ui {
public:
    explicit ViewUi(Ui& target) : target_(target) {}

    void beginPaint() { painting_ = true; }
    void endPaint(QObject* context)
    {
        painting_ = false;
        if (pending_.empty())
            return;
        QTimer::singleShot(0, context, [this] {
            auto boxes = std::move(pending_);
            pending_.clear();
            for (const auto& box : boxes)
                target_.messageBox(box.text, box.caption, box.buttons, box.style);
        });
    }

    Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style) override
    {
        if (!painting_)
            return target_.messageBox(text, caption, buttons, style);
        pending_.push_back({std::string(text), std::string(caption), buttons, style});
        return Answer::ok;
    }
    void setStatusText(int pane, std::string_view text) override { target_.setStatusText(pane, text); }
    void beginWaitCursor() override { target_.beginWaitCursor(); }
    void endWaitCursor() override { target_.endWaitCursor(); }
    InputSeen lookForInput() override { return target_.lookForInput(); }
    void betweenSteps() override { target_.betweenSteps(); }
    void setProgress(int done, int total) override { target_.setProgress(done, total); }
    void playSound(const std::string& wavPath) override { target_.playSound(wavPath); }
    void beep() override { target_.beep(); }

private:
    struct Box {
        std::string text;
        std::string caption;
        Buttons buttons;
        BoxStyle style;
    };
    Ui& target_;
    bool painting_ = false;
    std::vector<Box> pending_;
};

namespace {

// Paints the bitmap as it lies in memory: rows bottom-up, blue-green-red, no
// copy of the pixels made here.
class PainterTarget final : public DrawTarget {
public:
    explicit PainterTarget(QPainter& painter) : painter_(painter) {}

    bool stretchDib(const std::uint8_t* pixels, int width, int height, int rowStride, int destWidth,
                    int destHeight) override
    {
        const QImage picture(pixels, width, height, rowStride, QImage::Format_BGR888);
        if (picture.isNull())
            return false;
        painter_.save();
        painter_.translate(0, destHeight);
        painter_.scale(1, -1);
        painter_.drawImage(QRect(0, 0, destWidth, destHeight), picture);
        painter_.restore();
        return true;
    }

private:
    QPainter& painter_;
};

QMdiSubWindow* parentFrame(const QWidget* view)
{
    for (QWidget* w = view->parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (auto* frame = qobject_cast<QMdiSubWindow*>(w))
            return frame;
    }
    return nullptr;
}

}  // namespace

CTarviView::CTarviView(CTarviApp& app, CTarviDoc& document, QWidget* parent)
    : QAbstractScrollArea(parent), app_(app), document_(document), ui_(std::make_unique<ViewUi>(app.ui())),
      displayScale_(static_cast<float>(app.displaySize))
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The place is taken now, not at the first paint: files named together
    // on the command line all move the placement on before any of them
    // paints, and would otherwise land on one spot.
    if (app_.nextWindowX > 200)
        app_.nextWindowX = 0;
    if (app_.nextWindowY > 200)
        app_.nextWindowY = 0;
    placement_ = QRect(app_.nextWindowX, app_.nextWindowY, app_.nextWindowWidth + 12, app_.nextWindowHeight + 31);
    document_.addView(this);
}

CTarviView::~CTarviView()
{
    // Whichever view closes, no view is current any more.
    app_.currentView = nullptr;
    document_.removeView(this);
}

bool CTarviView::captureWritesHere() const
{
    return (app_.cameraBusy() || app_.cameraLine().busy()) && app_.newWindowPerImage == 0 && app_.currentView == this;
}

void CTarviView::OnInitialUpdate()
{
    OnUpdate();
    fitParentFrame();
    app_.currentView = this;
}

void CTarviView::OnUpdate()
{
    if (imageLoaded_ && image_) {
        const double s = image_->getScale();
        setScrollSizes(QSize(static_cast<int>(image_->getWidth() * s), static_cast<int>(image_->getHeight() * s)));
    } else {
        setScrollSizes(QSize(20, 20));
    }
}

bool CTarviView::loadImage()
{
    image_ = std::make_unique<bmp>(*ui_);
    QString path = document_.pathName();
    if (path.isEmpty()) {
        path = QString::fromStdString(app_.startDirectory) + QStringLiteral("/tarvitemp.bmp");
        document_.setModifiedFlag(true);
    }
    // The ending is tested in lower case; the file is opened by its own name.
    const std::string name = path.toStdString();
    int loaded = 0;
    switch (readFormat(name)) {
    case ImageFormat::bmp:
        loaded = image_->readBmp(name);
        break;
    case ImageFormat::fits:
        loaded = image_->readFits(name, app_.gamma1, app_.gamma2);
        break;
    case ImageFormat::none:
        break;
    }
    if (loaded != 1) {
        image_.reset();
        // Said once; trying again on every paint would repeat the message for ever.
        loadFailed_ = true;
        return false;
    }
    placeParentFrame();
    imageLoaded_ = 1;
    meanLevel_ = computeMeanLevel(*image_);
    return true;
}

void CTarviView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    ui_->beginPaint();
    OnDraw(painter);
    ui_->endPaint(this);
}

void CTarviView::OnDraw(QPainter& painter)
{
    if (!image_ && !loadFailed_)
        loadImage();
    if (!image_)
        return;
    // The scale of the previous draw: the fitted size follows one paint behind.
    const double s = image_->getScale();
    setScrollSizes(QSize(static_cast<int>(image_->getWidth() * s), static_cast<int>(image_->getHeight() * s)));
    fitParentFrame();
    painter.translate(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    PainterTarget target(painter);
    image_->draw(target, displayScale_);
}

void CTarviView::setScrollSizes(QSize total)
{
    if (total == scrollSize_)
        return;
    scrollSize_ = total;
    updateScrollBars();
}

void CTarviView::updateScrollBars()
{
    // Where the whole picture fits without scroll bars, there are none; only
    // where it does not do the bars take their room from the page.
    const QSize room = maximumViewportSize();
    const bool fits = scrollSize_.width() <= room.width() && scrollSize_.height() <= room.height();
    const QSize page = fits ? room : viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, scrollSize_.width() - page.width()));
    verticalScrollBar()->setRange(0, std::max(0, scrollSize_.height() - page.height()));
    horizontalScrollBar()->setPageStep(std::max(1, page.width()));
    verticalScrollBar()->setPageStep(std::max(1, page.height()));
    horizontalScrollBar()->setSingleStep(std::max(1, scrollSize_.width() / 100));
    verticalScrollBar()->setSingleStep(std::max(1, scrollSize_.height() / 100));
}

QSize CTarviView::fittedFrameSize() const
{
    const QMdiSubWindow* frame = parentFrame(this);
    if (frame == nullptr)
        return scrollSize_;
    return scrollSize_ + (frame->size() - size());
}

void CTarviView::fitParentFrame()
{
    // Resizing the window from inside its own paint would paint it again
    // before this paint is over; it is done as soon as the paint ends.
    if (fitPending_)
        return;
    fitPending_ = true;
    QTimer::singleShot(0, this, [this] {
        fitPending_ = false;
        if (QMdiSubWindow* frame = parentFrame(this); frame != nullptr && !frame->isMaximized()
                                                      && !frame->isMinimized()) {
            const QSize wanted = fittedFrameSize();
            if (frame->size() != wanted)
                frame->resize(wanted);
        }
    });
}

void CTarviView::placeParentFrame()
{
    const QPoint at = placement_.topLeft();
    const QSize size = placement_.size();
    QTimer::singleShot(0, this, [this, at, size] {
        if (QMdiSubWindow* frame = parentFrame(this); frame != nullptr && !frame->isMaximized()) {
            frame->move(at);
            frame->resize(size);
        }
    });
}

void CTarviView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void CTarviView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void CTarviView::mouseMoveEvent(QMouseEvent* event)
{
    if (imageLoaded_ && image_) {
        const QPoint at = event->position().toPoint();
        const PixelColor pixel = pixelAt(*image_, at.x(), at.y(), horizontalScrollBar()->value(),
                                         verticalScrollBar()->value(), image_->getScale());
        app_.ui().setStatusText(0, formatReadout(pixel, meanLevel_));
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void CTarviView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        app_.stopRequested = 1;
    QAbstractScrollArea::keyPressEvent(event);
}

void CTarviView::closeEvent(QCloseEvent* event)
{
    app_.currentView = nullptr;
    QAbstractScrollArea::closeEvent(event);
}

void CTarviView::OnCenter()
{
    if (!image_)
        return;
    image_->center();
    document_.setModifiedFlag(true);
    viewport()->update();
}

int CTarviView::saveAsBmp(const QString& path)
{
    return image_ ? image_->writeBmp(path.toStdString()) : 0;
}

int CTarviView::saveAsFits(const QString& path)
{
    return image_ ? image_->writeFits(path.toStdString()) : 0;
}

void CTarviView::reloadImage()
{
    // Opened by its own name: Linux file names are case-sensitive.
    const std::string path = app_.startDirectory + "/tarvitemp.bmp";
    if (image_) {
        image_->readBmp(path);
        return;
    }
    // A window whose first load failed gets its first picture here: the
    // capture that reuses it has just written one.
    auto fresh = std::make_unique<bmp>(*ui_);
    if (fresh->readBmp(path) != 1)
        return;
    image_ = std::move(fresh);
    loadFailed_ = false;
    placeParentFrame();
    imageLoaded_ = 1;
    meanLevel_ = computeMeanLevel(*image_);
}

void CTarviView::print(QPrinter* printer)
{
    if (!image_)
        return;
    QPainter painter(printer);
    if (!painter.isActive())
        return;
    // As big on paper as on the screen.
    const double dots = double(printer->resolution()) / std::max(1, logicalDpiX());
    painter.scale(dots, dots);
    PainterTarget target(painter);
    image_->draw(target, displayScale_);
}

}  // namespace tarvi
