#include "createhashwindow.h"

#include "screenfit.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QMessageBox>
#include <QProgressBar>
#include <QShowEvent>
#include <QStyle>

namespace {
// A repaint costs a few hundred microseconds, far more than hashing a small
// file, so the label and the bar change at most about thirty times a second.
const qint64 refreshIntervalMs = 30;

int titleRoom(const QWidget &window)
{
    QFont titleFont = window.font();
    titleFont.setBold(true);
    const int decorations = 5 * window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    return QFontMetrics(titleFont).horizontalAdvance(window.windowTitle()) + decorations;
}

bool isUserInput(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    case QEvent::Close:
        // The window system's close button; a close the program asks for
        // itself is no input.
        return event->spontaneous();
    default:
        return false;
    }
}
}

constexpr qint64 CreateHashWindow::fileEventIntervalMs;
constexpr qint64 CreateHashWindow::idleEventIntervalMs;

CreateHashWindow::CreateHashWindow(QWidget *parent)
    : QProgressDialog(parent, Qt::WindowFlags())
    , state(Running)
    , processedCount(0)
{
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(tr("Hash calculation"));
    auto *bar = new QProgressBar;
    bar->setFormat(QStringLiteral("%v / %m"));
    setBar(bar);
    // The window system cuts a title wider than the window; it draws it in
    // a bold face beside the icon and the three buttons.
    setMinimumWidth(qMax(minimumWidth(), titleRoom(*this)));
    connect(this, &QProgressDialog::canceled, this, &CreateHashWindow::cancel);
    clock.start();
    // Being modal blocks the other windows only once this one is shown,
    // which a short run never does; until then the events taken in during
    // the run would reach them, and a click could start a second job inside
    // this one.
    QCoreApplication::instance()->installEventFilter(this);
}

bool CreateHashWindow::isFinished() const
{
    return state == Finished;
}

CreateHashWindow::HashState CreateHashWindow::hashState() const
{
    return state;
}

int CreateHashWindow::announcedFiles() const
{
    return processedCount;
}

void CreateHashWindow::reportStart(int fileCount)
{
    processedCount = 0;
    state = Running;
    lastShownAt = -1;
    lastEventsAt = -1;
    pendingPath.clear();
    pendingValue = -1;
    setValue(0);
    setMaximum(fileCount);
}

void CreateHashWindow::reportFinish()
{
    state = Finished;
    reset();
}

void CreateHashWindow::reportFile(const QString &relativePath)
{
    const qint64 now = clock.elapsed();
    if (lastShownAt < 0 || now - lastShownAt >= refreshIntervalMs) {
        showFile(relativePath, processedCount);
    } else {
        pendingPath = relativePath;
        pendingValue = processedCount;
    }
    ++processedCount;
    // One of the two places where a click on Cancel can come in during a
    // run; isCanceled is the other.
    if (lastEventsAt < 0 || now - lastEventsAt >= fileEventIntervalMs)
        takeInEvents();
}

void CreateHashWindow::reportError(const QString &message)
{
    // Failed before the box: the window must not show itself over the box
    // once its minimum duration has passed, nor take the key meant for the
    // box as a cancel.
    state = Failed;
    QMessageBox::critical(this, tr("Error"), message, QMessageBox::Ok, QMessageBox::NoButton);
    reset();
}

bool CreateHashWindow::isCanceled()
{
    // While one long file is hashed this is the only call the window gets;
    // the file may have been announced too soon after the one before to be
    // named then. Only once the window is up: on a hidden window setValue
    // also judges whether to show it, which is left to the announcements.
    if (pendingValue >= 0 && isVisible() && clock.elapsed() - lastShownAt >= refreshIntervalMs)
        showFile(pendingPath, pendingValue);
    if (lastEventsAt < 0 || clock.elapsed() - lastEventsAt >= idleEventIntervalMs)
        takeInEvents();
    return wasCanceled();
}

void CreateHashWindow::interrupt()
{
    if (state != Running)
        return;
    state = Interrupted;
    QProgressDialog::cancel();
}

void CreateHashWindow::setVisible(bool visible)
{
    // QProgressDialog shows itself from a timer and from setValue once its
    // minimum duration has passed; after the run that would be a window
    // nobody is waiting for.
    if (visible && state != Running)
        return;
    QProgressDialog::setVisible(visible);
}

void CreateHashWindow::reject()
{
    // Escape reaches QDialog as a reject, not as a press of Cancel, while
    // the window is not yet active. Merely hidden, the window would let the
    // run go on to its end with no way left to stop it.
    if (state == Running) {
        cancel();
        return;
    }
    QProgressDialog::reject();
}

void CreateHashWindow::showEvent(QShowEvent *event)
{
    // The window widens itself to the path it names, which can be longer
    // than the screen is wide; Cancel must stay within reach.
    if (!event->spontaneous())
        ScreenFit::fitOnScreen(*this, ScreenFit::KeepWithin);
    QProgressDialog::showEvent(event);
}

void CreateHashWindow::resizeEvent(QResizeEvent *event)
{
    QProgressDialog::resizeEvent(event);
    // Grown to a longer path while shown, it keeps its left edge.
    if (isVisible())
        ScreenFit::moveOnScreen(*this);
}

void CreateHashWindow::cancel()
{
    // A click still queued when the run has already ended must not turn a
    // finished or failed run into an interrupted one.
    if (state != Running)
        return;
    state = Interrupted;
    QMessageBox::warning(this, tr("Abort"), tr("Interrupted by user"), QMessageBox::Ok,
                         QMessageBox::NoButton);
    QProgressDialog::cancel();
}

bool CreateHashWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (!isUserInput(event) || mayTakeInput(watched))
        return false;
    // An accepted close event closes the window even when filtered out.
    event->ignore();
    return true;
}

void CreateHashWindow::showFile(const QString &relativePath, int value)
{
    setLabelText(tr("Processing ") + relativePath);
    setValue(value);
    lastShownAt = clock.elapsed();
    pendingPath.clear();
    pendingValue = -1;
}

void CreateHashWindow::takeInEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Measured after: a box raised in there may have stood for minutes.
    lastEventsAt = clock.elapsed();
}

// Input may reach this window, the widgets in it and the boxes it raises.
// An object that belongs to no widget (a window system's window) is let
// through: what it gets goes on to a widget, and is judged there.
bool CreateHashWindow::mayTakeInput(QObject *object) const
{
    while (object && !object->isWidgetType())
        object = object->parent();
    if (!object)
        return true;
    for (const QWidget *window = static_cast<QWidget *>(object)->window(); window;
         window = window->parentWidget() ? window->parentWidget()->window() : nullptr) {
        if (window == this)
            return true;
    }
    return false;
}
