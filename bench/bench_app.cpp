// A create of a tree of 100,000 small files driven through the real main
// window (parameter dialog, progress window, result dialog), against the
// engine alone doing the same work (scan and hash with no reporter, then
// write the checksums file), alternately on the same warm tree.
//
//   xvfb-run -a ./bench_app [--dir DIR] [--runs N]
//
// The tree is made once under DIR (default /tmp/orvalen-app-bench) and kept.

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
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int dirCount = 1000;
const int filesPerDir = 100;

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

// With withProgress, the engine reports to a progress window of its own,
// which tells the window's share of the cost from the rest of the flow's.
double engineRun(const QString &tree, const QString &sums, bool withProgress = false)
{
    QElapsedTimer clock;
    clock.start();
    HashTools engine("sha256");
    std::vector<HashRecord> records;
    if (withProgress) {
        CreateHashWindow progress;
        engine.calculateHashes(tree, records, &progress, sums);
    } else {
        engine.calculateHashes(tree, records, nullptr, sums);
    }
    const std::string digest = engine.saveDB(sums.toLocal8Bit().toStdString(), records);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (digest.empty() || records.size() != size_t(dirCount * filesPerDir)) {
        std::fprintf(stderr, "engine run failed (%zu records)\n", records.size());
        return -1;
    }
    return seconds;
}

double windowRun(MainWindow &window, const QString &tree, const QString &sums)
{
    QAbstractButton *createButton = nullptr;
    for (QAbstractButton *b : window.findChildren<QAbstractButton *>()) {
        if (b->text() == QLatin1String("Create checksums.."))
            createButton = b;
    }
    if (!createButton)
        return -1;

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

    QElapsedTimer clock;
    clock.start();
    driver.start();
    createButton->click();
    const double seconds = clock.nsecsElapsed() / 1e9;
    driver.stop();
    if (!driver.failures.isEmpty()) {
        std::fprintf(stderr, "window run failed: %s\n", qPrintable(driver.failures.join(QStringLiteral("; "))));
        return -1;
    }
    return seconds;
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
    int runs = 5;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--dir"))
            base = args[i + 1];
        else if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
    }

    const QString tree = base + QStringLiteral("/tree");
    if (!makeTree(tree)) {
        std::fprintf(stderr, "cannot make the tree under %s\n", qPrintable(tree));
        return 2;
    }
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsDir.path());
    const QString engineSums = base + QStringLiteral("/engine.sha256");
    const QString windowSums = base + QStringLiteral("/window.sha256");

    // Warm the page cache and the allocator.
    if (engineRun(tree, engineSums) < 0)
        return 2;

    MainWindow window;
    window.show();
    application.processEvents();

    std::vector<double> engineTimes;
    std::vector<double> progressTimes;
    std::vector<double> windowTimes;
    for (int run = 0; run < runs; ++run) {
        const double e = engineRun(tree, engineSums);
        const double p = engineRun(tree, engineSums, true);
        const double w = windowRun(window, tree, windowSums);
        if (e < 0 || p < 0 || w < 0)
            return 2;
        engineTimes.push_back(e);
        progressTimes.push_back(p);
        windowTimes.push_back(w);
        std::printf("run %d: engine %.3f s, engine with progress window %.3f s, main window %.3f s\n",
                    run + 1, e, p, w);
        std::fflush(stdout);
    }

    QFile a(engineSums), b(windowSums);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll()) {
        std::fprintf(stderr, "the window wrote a different checksums file than the engine\n");
        return 2;
    }

    const double e = median(engineTimes);
    const double p = median(progressTimes);
    const double w = median(windowTimes);
    const double ratio = w / e;
    std::printf("median of %d: engine alone %.3f s, with progress window %.3f s (%.3fx), "
                "through the main window %.3f s\n",
                runs, e, p, p / e, w);
    std::printf("ratio main window / engine alone: %.3f (target <= 1.15): %s\n", ratio,
                ratio <= 1.15 ? "met" : "MISSED");
    return 0;
}
