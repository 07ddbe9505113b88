#include "platform/qt_ui.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstddef>
#include <utility>

namespace tarvi {

namespace {

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct ButtonSet {
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
};

ButtonSet buttonSet(Buttons buttons)
{
    switch (buttons) {
    case Buttons::ok:
        return {QMessageBox::Ok, QMessageBox::Ok};
    case Buttons::okCancel:
        return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok};
    case Buttons::retryCancel:
        return {QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry};
    case Buttons::yesNo:
        return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes};
    case Buttons::yesNoCancel:
        return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes};
    }
    return {QMessageBox::Ok, QMessageBox::Ok};
}

Answer answerFor(int button, Buttons buttons)
{
    switch (button) {
    case QMessageBox::Ok:
        return Answer::ok;
    case QMessageBox::Retry:
        return Answer::retry;
    case QMessageBox::Yes:
        return Answer::yes;
    case QMessageBox::No:
        return Answer::no;
    case QMessageBox::Cancel:
        return Answer::cancel;
    default:
        // Closed with the title bar or Escape: the box's way out.
        return safeAnswer(buttons);
    }
}

// The first sound player the desktop has, or nothing.
QString soundPlayer()
{
    for (const char* name : {"pw-play", "paplay", "aplay"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

bool isInputMessage(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return true;
    default:
        return false;
    }
}

int keyOrButton(const QInputEvent& event)
{
    if (event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease)
        return static_cast<const QKeyEvent&>(event).key();
    return static_cast<int>(static_cast<const QMouseEvent&>(event).button());
}

bool isLeftButton(const QInputEvent& event)
{
    return static_cast<const QMouseEvent&>(event).button() == Qt::LeftButton;
}

}  // namespace

QtUi::QtUi()
{
    qApp->installEventFilter(this);
}

QtUi::~QtUi()
{
    if (qApp != nullptr)
        qApp->removeEventFilter(this);
    while (waitDepth_ > 0)
        endWaitCursor();
    // The players are children of this object and go with it; a sound still
    // playing is cut off first.
    for (QProcess* player : players_) {
        player->disconnect();
        player->kill();
        player->waitForFinished(1000);
    }
}

void QtUi::setMainWindow(QWidget* window, StatusPanes* panes)
{
    mainWindow_ = window;
    panes_ = panes;
    if (panes_ != nullptr) {
        for (const auto& [pane, text] : pendingTexts_)
            panes_->setPaneText(pane, text);
        pendingTexts_.clear();
    }
}

QMessageBox* QtUi::makeBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style) const
{
    auto* box = new QMessageBox(style.noOwner ? nullptr : mainWindow_.data());
    box->setWindowTitle(toQString(captionOrTitle(caption)));
    box->setText(toQString(text));
    box->setTextFormat(Qt::PlainText);
    const ButtonSet set = buttonSet(buttons);
    box->setStandardButtons(set.buttons);
    box->setDefaultButton(set.defaultButton);
    if (style.setForeground) {
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        QTimer::singleShot(0, box, [box] {
            box->raise();
            box->activateWindow();
        });
    }
    return box;
}

Answer QtUi::messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style)
{
    const std::unique_ptr<QMessageBox> box(makeBox(text, caption, buttons, style));
    return answerFor(box->exec(), buttons);
}

void QtUi::openMessageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style,
                          std::function<void(Answer)> answered)
{
    QMessageBox* box = makeBox(text, caption, buttons, style);
    box->setAttribute(Qt::WA_DeleteOnClose);
    openBoxes_.emplace_back(box);
    connect(box, &QMessageBox::finished, this, [this, box, answered = std::move(answered), buttons](int result) {
        std::erase(openBoxes_, box);
        answered(answerFor(result, buttons));
    });
    box->open();
}

void QtUi::closeOpenBoxes()
{
    for (const QPointer<QMessageBox>& box : std::exchange(openBoxes_, {})) {
        if (!box.isNull())
            box->reject();
    }
}

void QtUi::setStatusText(int pane, std::string_view text)
{
    if (panes_ == nullptr) {
        pendingTexts_.emplace_back(pane, toQString(text));
        return;
    }
    panes_->setPaneText(pane, toQString(text));
}

void QtUi::setProgress(int done, int total)
{
    if (panes_ != nullptr)
        panes_->setProgress(done, total);
}

void QtUi::beginWaitCursor()
{
    ++waitDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUi::endWaitCursor()
{
    if (waitDepth_ == 0)
        return;
    --waitDepth_;
    QApplication::restoreOverrideCursor();
}

void QtUi::tally(const QInputEvent& event)
{
    const Tallied seen{event.type(), event.timestamp(), keyOrButton(event)};
    if (seen.type == lastTallied_.type && seen.timestamp == lastTallied_.timestamp && seen.code == lastTallied_.code)
        return;
    lastTallied_ = seen;
    if (seen.type == QEvent::KeyPress && seen.code == Qt::Key_Escape)
        ++input_.escapes;
    else if (seen.type == QEvent::MouseButtonPress && isLeftButton(event))
        ++input_.leftPresses;
    else if (seen.type == QEvent::MouseButtonRelease && isLeftButton(event))
        ++input_.leftReleases;
}

bool QtUi::eventFilter(QObject* watched, QEvent* event)
{
    if (isInputMessage(event->type()))
        tally(static_cast<const QInputEvent&>(*event));
    return QObject::eventFilter(watched, event);
}

void QtUi::playSound(const std::string& wavPath)
{
    const QString path = QString::fromStdString(wavPath);
    const QString player = soundPlayer();
    if (!QFileInfo(path).isFile() || player.isEmpty()) {
        beep();
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(player);
    process->setArguments({path});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    players_.push_back(process);
    const auto finish = [this, process](bool failed) {
        if (failed)
            beep();
        std::erase(players_, process);
        process->deleteLater();
    };
    connect(process, &QProcess::finished, this,
            [finish](int exitCode, QProcess::ExitStatus status) {
                finish(status != QProcess::NormalExit || exitCode != 0);
            });
    connect(process, &QProcess::errorOccurred, this, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(true);
    });
    process->start();
}

void QtUi::beep()
{
    QApplication::beep();
}

}  // namespace tarvi
