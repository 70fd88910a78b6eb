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
#include <ctime>

namespace {

// Wall time suffers when other processes share the cores; the process's own
// CPU time shows what the work itself costs.
struct Cost
{
    double wall = 0;
    double cpu = 0;
};

// std::clock is process CPU time on POSIX systems (it is wall time with MSVC).
qint64 cpuNanos()
{
    return qint64(double(std::clock()) * 1e9 / CLOCKS_PER_SEC);
}

class Stopwatch
{
public:
    Stopwatch() : cpuStart(cpuNanos()) { wall.start(); }
    Cost perFile(int files) const
    {
        if (files <= 0)
            return {};
        return {double(wall.nsecsElapsed()) / 1000.0 / files, double(cpuNanos() - cpuStart) / 1000.0 / files};
    }

private:
    QElapsedTimer wall;
    qint64 cpuStart;
};

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

Cost throttled(const QStringList &paths)
{
    CreateHashWindow window;
    showAndWait(&window);
    window.reportStart(paths.size());
    const Stopwatch watch;
    for (const QString &path : paths)
        window.reportFile(path);
    const Cost cost = watch.perFile(paths.size());
    window.reportFinish();
    return cost;
}

// The same dialog set-up, but the label and the bar change on every file.
Cost everyFile(const QStringList &paths)
{
    QProgressDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    auto *bar = new QProgressBar;
    bar->setFormat(QStringLiteral("%v / %m"));
    dialog.setBar(bar);
    showAndWait(&dialog);
    dialog.setValue(0);
    dialog.setMaximum(paths.size());
    const Stopwatch watch;
    int done = 0;
    for (const QString &path : paths) {
        dialog.setLabelText(QStringLiteral("Processing ") + path);
        dialog.setValue(done++);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    const Cost cost = watch.perFile(paths.size());
    dialog.reset();
    return cost;
}

Cost eventsOnly(int files)
{
    QProgressDialog dialog;
    showAndWait(&dialog);
    const Stopwatch watch;
    for (int i = 0; i < files; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return watch.perFile(files);
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
    const Cost reportFile = throttled(paths);
    const Cost reference = everyFile(paths.mid(0, referenceFiles));
    const Cost floor = eventsOnly(files);

    std::printf("platform: %s; microseconds per file, wall and process CPU\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("reportFile, throttled            : wall %8.3f  cpu %8.3f  (%d files)\n", reportFile.wall,
                reportFile.cpu, files);
    std::printf("refresh on every file (reference): wall %8.3f  cpu %8.3f  (%d files)\n", reference.wall,
                reference.cpu, referenceFiles);
    std::printf("processEvents alone              : wall %8.3f  cpu %8.3f  (%d calls)\n", floor.wall, floor.cpu,
                files);
    std::printf("reference / throttled            : wall %8.1f x cpu %8.1f x\n",
                reportFile.wall > 0 ? reference.wall / reportFile.wall : 0.0,
                reportFile.cpu > 0 ? reference.cpu / reportFile.cpu : 0.0);
    std::printf("target < 5 us/file (wall)        : %s\n", reportFile.wall < 5.0 ? "met" : "MISSED");
    return 0;
}
