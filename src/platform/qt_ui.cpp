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
        return buttons == Buttons::ok ? Answer::ok
                                      : (buttons == Buttons::yesNo ? Answer::no : Answer::cancel);
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

Answer QtUi::messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle style)
{
    QWidget* owner = style.noOwner ? nullptr : mainWindow_.data();
    QMessageBox box(owner);
    box.setWindowTitle(toQString(captionOrTitle(caption)));
    box.setText(toQString(text));
    box.setTextFormat(Qt::PlainText);
    const ButtonSet set = buttonSet(buttons);
    box.setStandardButtons(set.buttons);
    box.setDefaultButton(set.defaultButton);
    if (style.setForeground) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        QTimer::singleShot(0, &box, [&box] {
            box.raise();
            box.activateWindow();
        });
    }
    return answerFor(box.exec(), buttons);
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

PumpReport QtUi::pumpMessages(PumpMode mode)
{
    seen_ = {};
    QCoreApplication::sendPostedEvents();
    if (mode == PumpMode::one) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        // Events may post further events; go on until a pass finds the queue
        // quiet, but never for ever.
        for (int pass = 0; pass < 16; ++pass) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QCoreApplication::sendPostedEvents();
        }
    }
    return seen_;
}

bool QtUi::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            seen_.escapeTyped = true;
        break;
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            seen_.leftButtonPressed = true;
        break;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            seen_.leftButtonReleased = true;
        break;
    default:
        break;
    }
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
