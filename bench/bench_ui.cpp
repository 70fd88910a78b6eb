// Cost of CreateHashWindow::reportFile per file with the window on screen,
// against the same window refreshing its label and bar on every file (what
// a naive progress dialog does) and against the bare processEvents call that
// every file pays anyway. Needs a display: run under xvfb-run -a.
//
//   bench_ui [files]        (default 100000)

#include "createhashwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStringList>
#include <QTest>

#include <cstdio>

namespace {

QStringList makePaths(int count)
{
    QStringList paths;
    paths.reserve(count);
    for (int i = 0; i < count; ++i)
        paths << QStringLiteral("photos/%1/summer trip/IMG_%2.jpg").arg(2000 + i % 25).arg(i, 6, 10, QLatin1Char('0'));
    return paths;
}

void showAndWait(QWidget *window)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        std::fprintf(stderr, "warning: the window was not exposed; the numbers do not include painting\n");
}

double microsPerFile(qint64 nanos, int files)
{
    return files > 0 ? double(nanos) / 1000.0 / files : 0.0;
}

double throttled(const QStringList &paths)
{
    CreateHashWindow window;
    showAndWait(&window);
    window.reportStart(paths.size());
    QElapsedTimer timer;
    timer.start();
    for (const QString &path : paths)
        window.reportFile(path);
    const qint64 nanos = timer.nsecsElapsed();
    window.reportFinish();
    return microsPerFile(nanos, paths.size());
}

// The same dialog set-up, but the label and the bar change on every file.
double everyFile(const QStringList &paths)
{
    QProgressDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    auto *bar = new QProgressBar;
    bar->setFormat(QStringLiteral("%v / %m"));
    dialog.setBar(bar);
    showAndWait(&dialog);
    dialog.setValue(0);
    dialog.setMaximum(paths.size());
    QElapsedTimer timer;
    timer.start();
    int done = 0;
    for (const QString &path : paths) {
        dialog.setLabelText(QStringLiteral("Processing ") + path);
        dialog.setValue(done++);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    const qint64 nanos = timer.nsecsElapsed();
    dialog.reset();
    return microsPerFile(nanos, paths.size());
}

double eventsOnly(int files)
{
    QProgressDialog dialog;
    showAndWait(&dialog);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < files; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return microsPerFile(timer.nsecsElapsed(), files);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int files = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    // The per-file refresh costs hundreds of microseconds; a few thousand
    // files show its average without a half-minute wait.
    const int referenceFiles = qMin(files, 3000);

    const QStringList paths = makePaths(files);
    const double reportFile = throttled(paths);
    const double reference = everyFile(paths.mid(0, referenceFiles));
    const double floor = eventsOnly(files);

    std::printf("platform                        : %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("reportFile, throttled           : %8.3f us/file over %d files\n", reportFile, files);
    std::printf("refresh on every file (reference): %8.3f us/file over %d files\n", reference, referenceFiles);
    std::printf("processEvents alone             : %8.3f us/file over %d calls\n", floor, files);
    std::printf("reference / throttled           : %8.1f x\n", reportFile > 0 ? reference / reportFile : 0.0);
    std::printf("target < 5 us/file              : %s\n", reportFile < 5.0 ? "met" : "MISSED");
    return 0;
}
