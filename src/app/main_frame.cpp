#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "app/command_router.h"
#include "app/command_table.h"
#include "app/tarvi_app.h"

namespace tarvi {

namespace {

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

const char* toolbarIcon(int id)
{
    switch (id) {
    case cmd::fileNew: return ":/icons/new.xpm";
    case cmd::fileOpen: return ":/icons/open.xpm";
    case cmd::fileSave: return ":/icons/save.xpm";
    case cmd::filePrint: return ":/icons/print.xpm";
    case cmd::appAbout: return ":/icons/about.xpm";
    case cmd::contextHelp: return ":/icons/contexthelp.xpm";
    default: return nullptr;
    }
}

}  // namespace

CMainFrame::CMainFrame(CTarviApp& app, const CommandRouter& router) : app_(app), router_(router)
{
    // The File New that an empty command line asks for is turned away.
    app_.skipNextNewDocument = 1;
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::create()
{
    setWindowTitle(QStringLiteral("Tarvi"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarvi48.xpm")));
    setAcceptDrops(true);

    mdiArea_ = new QMdiArea(this);
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdiArea_);
    connect(mdiArea_, &QMdiArea::subWindowActivated, this, [this] { updateCommandUi(); });

    createActions();

    toolBar_ = new QToolBar(QStringLiteral("Standard"), this);
    toolBar_->setObjectName(QStringLiteral("standardToolBar"));
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setMovable(true);
    toolBar_->setFloatable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    for (int id : toolbarLayout()) {
        if (id == cmd::separator)
            toolBar_->addSeparator();
        else
            toolBar_->addAction(commandAction(id));
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);

    QStatusBar* bar = statusBar();
    for (int i = 0; i < paneCount; ++i) {
        panes_[i] = new QLabel(bar);
        panes_[i]->setObjectName(QStringLiteral("statusPane%1").arg(i));
        panes_[i]->setTextFormat(Qt::PlainText);
    }
    panes_[0]->setMinimumWidth(0);
    bar->addWidget(panes_[0], 1);
    // At least as wide as it was made; wider where the font needs it to show the whole text.
    panes_[1]->setMinimumWidth(baudPaneWidth);
    panes_[2]->setFixedWidth(0);
    panes_[3]->setFixedWidth(0);
    // The telescope's messages do not cover the camera's countdown; the pane
    // shows only while it has something to say.
    bar->addWidget(panes_[Ui::telescopePane]);
    panes_[Ui::telescopePane]->hide();
    for (int i = 1; i < 4; ++i)
        bar->addPermanentWidget(panes_[i]);
    serverPane_ = new QLabel(bar);
    serverPane_->setObjectName(QStringLiteral("serverPane"));
    serverPane_->setTextFormat(Qt::PlainText);
    serverPane_->hide();
    bar->addPermanentWidget(serverPane_);
    setPaneText(0, QStringLiteral("Ready"));
    progress_ = new QProgressBar(bar);
    progress_->setObjectName(QStringLiteral("downloadProgress"));
    progress_->setMaximumWidth(160);
    progress_->setTextVisible(false);
    progress_->hide();
    bar->addWidget(progress_);

    commandAction(cmd::viewToolbar)->setChecked(true);
    commandAction(cmd::viewStatusBar)->setChecked(true);

    buildMenuBar(menuNoDocument);
    updateCommandUi();
    resize(900, 650);
    return true;
}

void CMainFrame::createActions()
{
    for (const Command& command : commandTable()) {
        auto* action = new QAction(this);
        const auto menuText = menuItemText(command);
        action->setText(text(menuText.empty() ? command.tip : menuText));
        action->setData(command.id);
        action->setStatusTip(text(command.prompt));
        // Shift+F1 and a click on the item show the same words.
        action->setWhatsThis(text(command.prompt));
        if (!command.tip.empty())
            action->setToolTip(text(command.tip));
        if (!command.shortcut.empty())
            action->setShortcut(QKeySequence(text(command.shortcut), QKeySequence::PortableText));
        if (const char* icon = toolbarIcon(command.id))
            action->setIcon(QIcon(QString::fromLatin1(icon)));
        if (command.id == cmd::viewToolbar || command.id == cmd::viewStatusBar)
            action->setCheckable(true);
        const int id = command.id;
        connect(action, &QAction::triggered, this, [this, id] { router_.route(id); });
        // Shortcuts work whichever menu bar is showing.
        addAction(action);
        actions_.emplace(command.id, action);
    }
}

QAction* CMainFrame::commandAction(int id) const
{
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::setServerStatus(const QString& text)
{
    serverPane_->setText(text);
    serverPane_->setVisible(!text.isEmpty());
}

QLabel* CMainFrame::pane(int index) const
{
    return index >= 0 && index < paneCount ? panes_[index] : nullptr;
}

void CMainFrame::buildMenuBar(int menuResource)
{
    if (currentMenu_ == menuResource)
        return;
    currentMenu_ = menuResource;
    QMenuBar* bar = menuBar();
    const auto oldMenus = bar->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    bar->clear();
    for (QMenu* menu : oldMenus)
        menu->deleteLater();
    for (const MenuDef& def : menuLayout(menuResource)) {
        QMenu* menu = bar->addMenu(text(def.title));
        for (int id : def.items) {
            if (id == cmd::separator)
                menu->addSeparator();
            else if (id == cmd::fileMru1 && !recentActions_.empty())
                menu->addActions(QList<QAction*>(recentActions_.begin(), recentActions_.end()));
            else
                menu->addAction(commandAction(id));
        }
    }
}

void CMainFrame::setRecentFiles(const QStringList& paths)
{
    recentFiles_ = paths;
    for (QAction* action : recentActions_)
        action->deleteLater();
    recentActions_.clear();
    for (int i = 0; i < paths.size(); ++i) {
        auto* action = new QAction(this);
        // Long paths keep their start and their file name.
        QString shown = paths[i];
        if (shown.size() > 60)
            shown = shown.left(20) + QStringLiteral("...") + shown.right(37);
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        action->setData(cmd::fileMru1 + i);
        action->setStatusTip(QStringLiteral("Open this document"));
        const QString path = paths[i];
        connect(action, &QAction::triggered, this, [this, path] { emit recentFileChosen(path); });
        recentActions_.push_back(action);
    }
    if (actions_.empty())
        return;
    const int menu = currentMenu_;
    currentMenu_ = 0;
    buildMenuBar(menu == 0 ? menuNoDocument : menu);
}

bool CMainFrame::hasActiveChild() const
{
    return mdiArea_ != nullptr && mdiArea_->currentSubWindow() != nullptr;
}

void CMainFrame::updateCommandUi()
{
    const bool anyWindow = mdiArea_ != nullptr && !mdiArea_->subWindowList().isEmpty();
    buildMenuBar(anyWindow ? menuDocument : menuNoDocument);
    const bool child = hasActiveChild();
    for (const Command& command : commandTable()) {
        const bool ownerHere = command.owner == CommandOwner::app || command.owner == CommandOwner::mainFrame
                               || child;
        commandAction(command.id)->setEnabled(ownerHere && router_.hasHandler(command.handler)
                                              && router_.allowed(command.id));
    }
    if (toolBar_ != nullptr)
        commandAction(cmd::viewToolbar)->setChecked(!toolBar_->isHidden());
    commandAction(cmd::viewStatusBar)->setChecked(!statusBar()->isHidden());
}

QMdiSubWindow* CMainFrame::addImageWindow(QWidget* content)
{
    QMdiSubWindow* window = mdiArea_->addSubWindow(content);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // Queued: while "destroyed" is emitted the window is still in the list.
    connect(window, &QObject::destroyed, this, [this] { updateCommandUi(); }, Qt::QueuedConnection);
    updateCommandUi();
    return window;
}

void CMainFrame::setPaneText(int index, const QString& paneText)
{
    if (index < 0 || index >= paneCount || panes_[index] == nullptr)
        return;
    if (index == 0)
        paneZeroText_ = paneText;
    panes_[index]->setText(paneText);
    if (index == Ui::telescopePane)
        panes_[index]->setVisible(!paneText.isEmpty());
}

void CMainFrame::setProgress(int done, int total)
{
    if (progress_ == nullptr)
        return;
    if (total <= 0) {
        progress_->hide();
        return;
    }
    progress_->setRange(0, total);
    progress_->setValue(done);
    progress_->show();
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        // A menu prompt covers pane 0 while its item is highlighted; the
        // program's own text comes back when the prompt goes.
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (panes_[0] != nullptr)
            panes_[0]->setText(tip.isEmpty() ? paneZeroText_ : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::devicesBusyChanged()
{
    updateCommandUi();
    if (!closeWhenIdle_ || app_.cameraBusy() || app_.telescopeLine().working())
        return;
    closeWhenIdle_ = false;
    QTimer::singleShot(0, this, [this] { close(); });
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Exit while a device works: the work stops first, and the program ends
    // once it has, asking about unsaved pictures as ever.
    if (app_.cameraBusy() || app_.telescopeLine().working()) {
        app_.requestStop();
        closeWhenIdle_ = true;
        event->ignore();
        return;
    }
    // Each image window asks about unsaved changes as it closes; one that is
    // kept open keeps the program running.
    if (mdiArea_ != nullptr) {
        mdiArea_->closeAllSubWindows();
        if (!mdiArea_->subWindowList().isEmpty()) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    activateWindow();
    emit filesDropped(paths);
}

}  // namespace tarvi
