#include "app/child_frame.h"

#include <QCloseEvent>

#include <algorithm>

#include "app/tarvi_app.h"
#include "app/tarvi_doc.h"
#include "view/tarvi_view.h"

namespace tarvi {

CChildFrame::CChildFrame(CTarviView* view, QWidget* parent) : QMdiSubWindow(parent), view_(view)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(view);
    resize(initialSide, initialSide);
    connect(&view->document(), &CTarviDoc::changed, this, &CChildFrame::updateTitle);
    updateTitle();
}

CChildFrame::~CChildFrame()
{
    // The view goes after this frame has stopped being one, and tells its
    // document, which must not call back into what is left of the frame.
    disconnect(&view_->document(), nullptr, this, nullptr);
}

CTarviDoc& CChildFrame::document() const
{
    return view_->document();
}

void CChildFrame::updateTitle()
{
    const CTarviDoc& doc = document();
    QString title = doc.title();
    const auto& views = doc.views();
    if (views.size() > 1) {
        const auto at = std::find(views.begin(), views.end(), view_);
        title += QStringLiteral(":%1").arg(at - views.begin() + 1);
    }
    setWindowTitle(title + QStringLiteral("[*]"));
    setWindowModified(doc.isModified());
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    if (view_->captureWritesHere()) {
        view_->app().ui().messageBox(captureWindowBusyMessage, {}, Buttons::ok, {});
        event->ignore();
        return;
    }
    // Only the last window of a document asks about its changes.
    CTarviDoc& doc = document();
    if (doc.views().size() == 1 && !doc.SaveModified()) {
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

}  // namespace tarvi
