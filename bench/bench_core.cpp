// Times the engine's operations at scale and prints one line per measure.
//   bench_core scan <dir> [jobs]       hash a tree with no reporter
//   bench_core db <lines> <file>       write, then read, a checksums file
//   bench_core compare <records>       compare two lists of that size
#include "compareerr.h"
#include "hashtools.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#if defined(ORVALEN_POSIX)
#include <sys/resource.h>
#endif

namespace {

long peakKiB()
{
#if defined(ORVALEN_POSIX)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#else
    return 0;
#endif
}

// Paths and digests shaped like those of a real tree: d0042/f017.bin and
// 64 hexadecimal characters, different for every index.
std::vector<HashRecord> makeRecords(std::size_t count, unsigned salt)
{
    std::vector<HashRecord> records;
    records.reserve(count);
    char path[64];
    char hash[65];
    unsigned long long state = 0x9e3779b97f4a7c15ULL ^ salt;
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(path, sizeof path, "d%05zu/f%03zu.bin", i / 100, i % 100);
        for (int j = 0; j < 64; ++j) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            hash[j] = "0123456789abcdef"[(state >> 60) & 15];
        }
        hash[64] = '\0';
        records.push_back({path, hash});
    }
    return records;
}

double processorSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Clock time, and processor time of this process beside it: on a machine
// shared with other work the latter varies far less from run to run.
class Stopwatch
{
public:
    Stopwatch() { restart(); }
    void restart()
    {
        clock.start();
        processorStart = processorSeconds();
    }
    QByteArray text() const
    {
        return QByteArray::number(static_cast<double>(clock.nsecsElapsed()) / 1e9, 'f', 3) + " s (processor "
               + QByteArray::number(processorSeconds() - processorStart, 'f', 3) + " s)";
    }
    double elapsed() const { return static_cast<double>(clock.nsecsElapsed()) / 1e9; }

private:
    QElapsedTimer clock;
    double processorStart = 0;
};

int scan(const QString &dir, int jobs)
{
    HashTools tools("sha256");
    tools.setJobs(jobs);
    std::vector<HashRecord> records;
    const long before = peakKiB();
    Stopwatch timer;
    tools.calculateHashes(dir, records, nullptr);
    const double perFile = timer.elapsed() * 1e6 / static_cast<double>(records.size() ? records.size() : 1);
    const long grown = peakKiB() - before;
    std::printf("scan: %zu files in %s, %.2f us per file; peak memory grew by %ld KiB, %.0f bytes per file\n",
                records.size(), timer.text().constData(), perFile, grown,
                grown * 1024.0 / static_cast<double>(records.size() ? records.size() : 1));
    return records.empty() ? 1 : 0;
}

int database(std::size_t lines, const std::string &file)
{
    HashTools tools("sha256");
    const std::vector<HashRecord> records = makeRecords(lines, 1);
    Stopwatch timer;
    const std::string saved = tools.saveDB(file, records);
    std::printf("saveDB: %zu lines in %s\n", lines, timer.text().constData());
    std::vector<HashRecord> read;
    timer.restart();
    const std::string loaded = tools.loadDB(file, read);
    std::printf("loadDB: %zu lines in %s\n", read.size(), timer.text().constData());

    // What the reader cannot go below: making as many records, each digest
    // a string of its own, in fresh memory.
    timer.restart();
    std::vector<HashRecord> made;
    made.reserve(lines);
    for (std::size_t i = 0; i < lines; ++i)
        made.push_back({"d00000/f000.bin", std::string(64, 'a')});
    std::printf("floor: making %zu records alone takes %s\n", made.size(), timer.text().constData());
    return saved.empty() || saved != loaded || read.size() != lines ? 1 : 0;
}

int comparison(std::size_t count)
{
    HashTools tools("sha256");
    // One percent of the files changed, one percent new, one percent gone.
    std::vector<HashRecord> stored = makeRecords(count, 1);
    std::vector<HashRecord> current = stored;
    for (std::size_t i = 0; i < count; i += 100) {
        current[i].hash[0] = current[i].hash[0] == '0' ? '1' : '0';
        if (i + 1 < count)
            current[i + 1].path += ".new";
        if (i + 2 < count)
            stored[i + 2].path += ".old";
    }
    std::vector<std::unique_ptr<CompareErr>> errors;
    Stopwatch timer;
    tools.compare(current, stored, errors);
    std::printf("compare: %zu against %zu records, 3%% changed: %zu results in %s\n", count, count, errors.size(),
                timer.text().constData());

    // Nothing in common: every record of both lists becomes a result.
    const std::vector<HashRecord> other = makeRecords(count, 2);
    for (HashRecord &record : stored)
        record.path.insert(0, "x/");
    timer.restart();
    tools.compare(other, stored, errors);
    std::printf("compare: %zu against %zu records, all different: %zu results in %s\n", count, count,
                errors.size(), timer.text().constData());

    // What it cannot go below: making as many discrepancy records.
    const std::size_t results = errors.size();
    errors.clear();
    errors.shrink_to_fit();
    timer.restart();
    std::vector<std::unique_ptr<CompareErr>> made;
    for (std::size_t i = 0; i < results; ++i)
        made.push_back(std::make_unique<CE_NewFile>(other[i % count].path));
    std::printf("floor: making %zu discrepancy records alone takes %s\n", made.size(), timer.text().constData());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "scan") == 0)
        return scan(QString::fromLocal8Bit(argv[2]), argc >= 4 ? std::atoi(argv[3]) : 0);
    if (argc >= 4 && std::strcmp(argv[1], "db") == 0)
        return database(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (argc >= 3 && std::strcmp(argv[1], "compare") == 0)
        return comparison(std::strtoull(argv[2], nullptr, 10));
    std::fprintf(stderr, "usage: bench_core scan <dir> [jobs] | db <lines> <file> | compare <records>\n");
    return 2;
}
