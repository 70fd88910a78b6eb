// A create of a tree of 100,000 small files driven through the real main
// window (parameter dialog, progress window, result dialog), against the
// engine alone doing the same work (scan and hash with no reporter, then
// write the checksums file), alternately on the same warm tree.
//
//   xvfb-run -a ./bench_app [--dir DIR] [--runs N] [--tree TREE] [--cli PATH]
//
// The tree is made once under DIR (default /tmp/orvalen-app-bench) and kept.
// --tree takes an existing tree instead (bench/bench-data.sh's, so that every
// benchmark hashes the same files). --cli PATH measures the main window
// against that orvalen-cli's create alone, the comparison a user sees, and
// ends with a line that bench/scan_bench.sh reads.

#include "createhashwindow.h"
#include "guidriver.h"
#include "hashrecord.h"
#include "hashtools.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// Wall time and this process's CPU time of one run. On a shared machine
// the CPU time is the steadier of the two.
struct Cost
{
    double wall = -1;
    double cpu = -1;
};

class CostClock
{
public:
    CostClock()
    {
        wall.start();
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
    }
    Cost elapsed() const
    {
        timespec cpuNow;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuNow);
        Cost cost;
        cost.wall = wall.nsecsElapsed() / 1e9;
        cost.cpu = double(cpuNow.tv_sec - cpuStart.tv_sec) + (cpuNow.tv_nsec - cpuStart.tv_nsec) / 1e9;
        return cost;
    }

private:
    QElapsedTimer wall;
    timespec cpuStart;
};

const int dirCount = 1000;
const int filesPerDir = 100;
// Files in the tree being measured; a run that keeps another count failed.
size_t expectedFiles = size_t(dirCount) * filesPerDir;

bool makeTree(const QString &tree)
{
    const QString doneMark = tree + QStringLiteral("/.complete");
    if (QFile::exists(doneMark))
        return true;
    std::printf("making %d files under %s ...\n", dirCount * filesPerDir, qPrintable(tree));
    std::fflush(stdout);
    QByteArray bytes(8192, '\0');
    quint32 state = 12345u;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int d = 0; d < dirCount; ++d) {
        const QString dir = QStringLiteral("%1/dir%2").arg(tree).arg(d, 4, 10, QLatin1Char('0'));
        if (!QDir().mkpath(dir))
            return false;
        for (int f = 0; f < filesPerDir; ++f) {
            const int size = int(next() % 8193u);
            for (int i = 0; i < size; ++i)
                bytes[i] = char(next());
            QFile file(QStringLiteral("%1/file%2.dat").arg(dir).arg(f, 3, 10, QLatin1Char('0')));
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes.constData(), size) != size)
                return false;
        }
    }
    QFile mark(doneMark);
    return mark.open(QIODevice::WriteOnly);
}

// With a progress window, the engine reports to one of its own, which tells the window's share of the cost from the rest of the flow's.
enum class Reporter { None, ProgressWindow };

Cost engineRun(const QString &tree, const QString &sums, Reporter reporter = Reporter::None)
{
    CostClock clock;
    HashTools engine("sha256");
    std::vector<HashRecord> records;
    if (reporter == Reporter::ProgressWindow) {
        CreateHashWindow progress;
        engine.calculateHashes(tree, records, &progress, sums);
    } else {
        engine.calculateHashes(tree, records, nullptr, sums);
    }
    const std::string digest = engine.saveDB(sums.toLocal8Bit().toStdString(), records);
    const Cost cost = clock.elapsed();
    if (digest.empty() || records.size() != expectedFiles) {
        std::fprintf(stderr, "engine run failed (%zu records)\n", records.size());
        return Cost();
    }
    return cost;
}

Cost windowRun(MainWindow &window, const QString &tree, const QString &sums)
{
    QAbstractButton *createButton = nullptr;
    const auto buttons = window.findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (b->text() == QLatin1String("Create checksums.."))
            createButton = b;
    }
    if (!createButton)
        return Cost();

    GuiDriver driver;
    driver.setPollInterval(20);
    driver.expectModal("CreateDBWindow", [&](QWidget *dialog) {
        const auto edits = dialog->findChildren<QLineEdit *>();
        if (edits.size() == 2) {
            edits[0]->setText(tree);
            edits[1]->setText(sums);
        }
        GuiDriver::clickButton(dialog, QStringLiteral("Ok"));
    });
    driver.expectModal("CreationDBResult", [](QWidget *dialog) {
        GuiDriver::clickButton(dialog, QStringLiteral("Close"));
    });

    CostClock clock;
    driver.start();
    createButton->click();
    const Cost cost = clock.elapsed();
    driver.stop();
    if (!driver.failures.isEmpty()) {
        std::fprintf(stderr, "window run failed: %s\n", qPrintable(driver.failures.join(QStringLiteral("; "))));
        return Cost();
    }
    return cost;
}

// Only the wall time: the work is done in another process.
Cost cliRun(const QString &cli, const QString &tree, const QString &sums)
{
    CostClock clock;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(cli, {QStringLiteral("-q"), QStringLiteral("create"), tree, sums});
    const bool finished = process.waitForFinished(-1);
    Cost cost = clock.elapsed();
    cost.cpu = -1;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s create failed: %s\n", qPrintable(cli),
                     process.readAllStandardError().constData());
        cost.wall = -1;
    }
    return cost;
}

bool sameBytes(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    return fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly) && fa.readAll() == fb.readAll();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(orvalen);

    QString base = QStringLiteral("/tmp/orvalen-app-bench");
    QString tree;
    QString cli;
    int runs = 5;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--dir"))
            base = args[i + 1];
        else if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--tree"))
            tree = QDir(args[i + 1]).absolutePath();
        else if (args[i] == QLatin1String("--cli"))
            cli = args[i + 1];
    }

    QTemporaryDir sumsDir;
    QString engineSums = base + QStringLiteral("/engine.sha256");
    QString windowSums = base + QStringLiteral("/window.sha256");
    if (tree.isEmpty()) {
        tree = base + QStringLiteral("/tree");
        if (!makeTree(tree)) {
            std::fprintf(stderr, "cannot make the tree under %s\n", qPrintable(tree));
            return 2;
        }
    } else {
        // A tree someone else made may hold any number of files, and its
        // folder is not ours to write in.
        HashTools counter("sha256");
        std::vector<HashRecord> records;
        counter.calculateHashes(tree, records, nullptr);
        expectedFiles = records.size();
        if (expectedFiles == 0) {
            std::fprintf(stderr, "no files under %s\n", qPrintable(tree));
            return 2;
        }
        engineSums = sumsDir.filePath(QStringLiteral("engine.sha256"));
        windowSums = sumsDir.filePath(QStringLiteral("window.sha256"));
    }
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsDir.path());

    // Warm the page cache and the allocator.
    if (engineRun(tree, engineSums).wall < 0)
        return 2;

    MainWindow window;
    window.show();
    application.processEvents();

    if (!cli.isEmpty()) {
        const QString cliSums = sumsDir.filePath(QStringLiteral("cli.sha256"));
        if (cliRun(cli, tree, cliSums).wall < 0)
            return 2;
        std::vector<double> windowWall, cliWall;
        for (int run = 0; run < runs; ++run) {
            const Cost w = windowRun(window, tree, windowSums);
            const Cost c = cliRun(cli, tree, cliSums);
            if (w.wall < 0 || c.wall < 0)
                return 2;
            windowWall.push_back(w.wall);
            cliWall.push_back(c.wall);
            std::printf("run %d (wall s): main window %.3f, orvalen-cli create %.3f\n", run + 1, w.wall, c.wall);
            std::fflush(stdout);
        }
        if (!sameBytes(windowSums, cliSums)) {
            std::fprintf(stderr, "the window wrote a different checksums file than orvalen-cli\n");
            return 2;
        }
        std::printf("window-vs-cli median-of-%d %.3f %.3f\n", runs, median(windowWall), median(cliWall));
        return 0;
    }

    std::vector<Cost> engineCosts;
    std::vector<Cost> progressCosts;
    std::vector<Cost> windowCosts;
    for (int run = 0; run < runs; ++run) {
        const Cost e = engineRun(tree, engineSums);
        const Cost p = engineRun(tree, engineSums, Reporter::ProgressWindow);
        const Cost w = windowRun(window, tree, windowSums);
        if (e.wall < 0 || p.wall < 0 || w.wall < 0)
            return 2;
        engineCosts.push_back(e);
        progressCosts.push_back(p);
        windowCosts.push_back(w);
        std::printf("run %d (wall/cpu s): engine %.3f/%.3f, engine with progress window %.3f/%.3f, "
                    "main window %.3f/%.3f\n",
                    run + 1, e.wall, e.cpu, p.wall, p.cpu, w.wall, w.cpu);
        std::fflush(stdout);
    }

    if (!sameBytes(engineSums, windowSums)) {
        std::fprintf(stderr, "the window wrote a different checksums file than the engine\n");
        return 2;
    }

    auto report = [&](const char *what, double Cost::*field) {
        std::vector<double> e, p, w;
        for (int i = 0; i < runs; ++i) {
            e.push_back(engineCosts[i].*field);
            p.push_back(progressCosts[i].*field);
            w.push_back(windowCosts[i].*field);
        }
        const double me = median(e), mp = median(p), mw = median(w);
        const double be = *std::min_element(e.begin(), e.end());
        const double bw = *std::min_element(w.begin(), w.end());
        std::printf("%s, median of %d: engine alone %.3f s, with progress window %.3f s (%.3fx), "
                    "through the main window %.3f s (%.3fx); best: %.3f s vs %.3f s (%.3fx)\n",
                    what, runs, me, mp, mp / me, mw, mw / me, be, bw, bw / be);
        return mw / me;
    };
    report("wall time", &Cost::wall);
    const double ratio = report("cpu time", &Cost::cpu);
    std::printf("main window / engine alone (median cpu time): %.3f (target <= 1.15): %s\n", ratio,
                ratio <= 1.15 ? "met" : "MISSED");
    return 0;
}
