#include "createhashwindow.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressBar>

namespace {
// A repaint costs a few hundred microseconds, far more than hashing a small
// file, so the label and the bar change at most about thirty times a second.
const qint64 refreshIntervalMs = 30;
}

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
    connect(this, &QProgressDialog::canceled, this, &CreateHashWindow::cancel);
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
    lastShown.invalidate();
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
    if (!lastShown.isValid() || lastShown.elapsed() >= refreshIntervalMs) {
        setLabelText(tr("Processing ") + relativePath);
        setValue(processedCount);
        lastShown.start();
    }
    ++processedCount;
    // The only place where a click on Cancel can come in during a run.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CreateHashWindow::reportError(const QString &message)
{
    QMessageBox::critical(this, tr("Error"), message, QMessageBox::Ok, QMessageBox::NoButton);
    state = Failed;
    reset();
}

bool CreateHashWindow::isCanceled()
{
    return wasCanceled();
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
