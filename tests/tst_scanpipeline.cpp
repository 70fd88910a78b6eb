// The pipeline that opens, reads and hashes a scan's files on worker
// threads: its windows filling and draining, the same records for any
// number of jobs, a shortage of descriptors, a cancel inside a long read,
// and a file written while it is read.

#include "compareerr.h"
#include "descriptor.h"
#include "filereader.h"
#include "hashfactory.h"
#include "hashtools.h"
#include "scanpipeline.h"
#include "scantestsupport.h"
#include "treelisting.h"
#include "verifysession.h"
#if defined(ORVALEN_URING)
#include "uringreader.h"
#endif

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// While it lives, the process can open spare more descriptors and no more.
// In this process, not a child: a child of a process with threads cannot
// start threads under ThreadSanitizer.
class SpareDescriptors
{
public:
    explicit SpareDescriptors(int spare)
    {
        valid = ::getrlimit(RLIMIT_NOFILE, &saved) == 0;
        // The limit bounds the numbers of new descriptors, and the lowest
        // free one is always taken: below it exactly spare are free.
        rlim_t limit = 0;
        for (int free = 0;; ++limit)
            if (::fcntl(static_cast<int>(limit), F_GETFD) == -1 && free++ == spare)
                break;
        const rlimit files{limit, saved.rlim_max};
        valid = valid && ::setrlimit(RLIMIT_NOFILE, &files) == 0;
    }
    ~SpareDescriptors() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    SpareDescriptors(const SpareDescriptors &) = delete;
    SpareDescriptors &operator=(const SpareDescriptors &) = delete;

    bool valid = false;

private:
    rlimit saved{};
};

// Writes to one file while the engine reads it, from the reader's own hook,
// so that the change falls inside a read whatever the timing: after each
// piece of the file, during its first read or during every read, one byte
// is appended or the first byte overwritten, behind the read position.
namespace writer {
std::atomic<int> pieces{0};
ino_t target = 0;
// The file's name, set before the engine runs.
char path[4096] = {};
bool everyRead = false;
bool append = true;

void write(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_ino != target)
        return;
    if (++pieces > 1 && !everyRead)
        return;
    const int out = ::open(path, O_WRONLY | (append ? O_APPEND : 0));
    if (out < 0)
        return;
    if (append)
        (void)!::write(out, "x", 1);
    else
        (void)!::pwrite(out, "X", 1, 0);
    ::close(out);
}
} // namespace writer

} // namespace

class TestScanPipeline : public QObject
{
    Q_OBJECT
private slots:
    void pipelineWindows_data();
    void pipelineWindows();
    void sameResultForAnyJobCount();
    void sameResultsInBatches_data();
    void sameResultsInBatches();
    void descriptorShortage_data();
    void descriptorShortage();
    void cancelDuringLongFile();
    void fileChangedWhileRead_data();
    void fileChangedWhileRead();
};

void TestScanPipeline::pipelineWindows_data()
{
    QTest::addColumn<int>("hashers");
    QTest::addColumn<int>("openers");
    QTest::addColumn<int>("window");     // results waiting for the caller
    QTest::addColumn<int>("openAhead");  // files open ahead of the hashers
    QTest::addColumn<bool>("hashersOpen");  // while the files are in memory
    QTest::addColumn<int>("outFrom");    // files [outFrom, outTo) are dropped from memory
    QTest::addColumn<int>("outTo");
    // Files handed in, and not yet taken, before the listing waits; 0 hands
    // every file in before the first is taken.
    QTest::addColumn<int>("listAhead");
    QTest::addColumn<int>("count");
    // Of the hashers, those that join only once lateAfter files are handed in.
    QTest::addColumn<int>("late");
    QTest::addColumn<int>("lateAfter");

    // Windows far smaller than the tree, so that every one of them fills
    // and drains many times: a wake-up lost there hangs the run.
    QTest::newRow("one of each, windows of one") << 1 << 1 << 1 << 1 << false << 0 << 0 << 0 << 400 << 0 << 0;
    QTest::newRow("results window binds") << 2 << 4 << 3 << 64 << false << 0 << 0 << 0 << 400 << 0 << 0;
    QTest::newRow("open-ahead window binds") << 2 << 16 << 64 << 2 << false << 0 << 0 << 0 << 400 << 0 << 0;
    QTest::newRow("results window fills, open-ahead window small") << 2 << 4 << 64 << 8 << false << 0 << 0 << 0 << 400 << 0 << 0;
    QTest::newRow("more hashers than files in a window") << 8 << 3 << 4 << 4 << false << 0 << 0 << 0 << 400 << 0 << 0;
    QTest::newRow("hashers open, windows of one") << 1 << 1 << 1 << 1 << true << 0 << 0 << 0 << 400 << 0 << 0;
    QTest::newRow("hashers open, results window binds") << 2 << 4 << 3 << 64 << true << 0 << 0 << 0 << 400 << 0 << 0;
    // Where the page cache can drop files, the opening passes to the
    // openers at file 100 and may come back for the last files.
    QTest::newRow("files leave memory, openers take over") << 2 << 4 << 16 << 8 << true << 100 << 250 << 0 << 400 << 0 << 0;
    QTest::newRow("no file in memory, windows of one") << 1 << 1 << 1 << 1 << true << 0 << 400 << 0 << 400 << 0 << 0;
    // The listing on a thread of its own, held back by the caller's taking.
    QTest::newRow("listing waits, windows of one") << 1 << 1 << 1 << 1 << true << 0 << 0 << 1 << 400 << 0 << 0;
    QTest::newRow("listing waits beyond the results window") << 2 << 4 << 3 << 8 << true << 0 << 0 << 20 << 400 << 0 << 0;
    QTest::newRow("listing waits, openers open") << 2 << 4 << 16 << 8 << false << 0 << 0 << 5 << 400 << 0 << 0;
    // Enough files that the paths taken are dropped several times.
    QTest::newRow("listing waits, taken paths dropped") << 2 << 4 << 64 << 16 << true << 0 << 0 << 300 << 9000 << 0 << 0;
    // A late hasher is woken by the handing in that makes the scan long,
    // or, in a scan too short for it, by the pipeline's stop: one left
    // waiting would hang the pipeline's end.
    QTest::newRow("late hasher joins a long scan") << 2 << 4 << 16 << 8 << true << 0 << 0 << 0 << 400 << 1 << 50;
    QTest::newRow("late hasher joins while the listing waits") << 2 << 4 << 3 << 8 << true << 0 << 0 << 20 << 400 << 1 << 50;
    QTest::newRow("late hasher, openers open") << 3 << 4 << 16 << 8 << false << 0 << 0 << 5 << 400 << 2 << 100;
    QTest::newRow("late hasher, scan too short") << 2 << 4 << 16 << 8 << true << 0 << 0 << 20 << 400 << 1 << 401;
}

void TestScanPipeline::pipelineWindows()
{
    QFETCH(int, hashers);
    QFETCH(int, openers);
    QFETCH(int, window);
    QFETCH(int, openAhead);
    QFETCH(bool, hashersOpen);
    QFETCH(int, outFrom);
    QFETCH(int, outTo);
    QFETCH(int, listAhead);
    QFETCH(int, count);
    QFETCH(int, late);
    QFETCH(int, lateAfter);
    QTemporaryDir root;
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << QString("f%1").arg(i, 4, 10, QLatin1Char('0'));
    makeTree(root.path(), files);
    for (int i = outFrom; i < outTo; ++i) {
        const int fd = ::open(QFile::encodeName(root.filePath(files.at(i))).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        // Written pages must reach the disk before they can be dropped.
        QCOMPARE(::fdatasync(fd), 0);
        QCOMPARE(::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
        ::close(fd);
    }

    ScanPipeline::Settings settings;
    settings.hashers = hashers;
    settings.openers = openers;
    settings.window = std::size_t(window);
    settings.openAhead = std::size_t(openAhead);
    settings.hashersOpenFromMemory = hashersOpen;
    settings.lateHashers = late;
    settings.lateAfter = std::size_t(lateAfter);
    ScanPipeline pipeline(QFile::encodeName(root.path() + "/").toStdString(),
                          [] { return hashfactory().makeWrapper("sha256"); }, settings);
    // Handed in a few at a time, as a listing does, while the workers run.
    const auto handIn = [&] {
        for (int i = 0; i < files.size(); ++i) {
            const QByteArray name = files.at(i).toUtf8();
            pipeline.add(name.constData(), std::size_t(name.size()));
            if (i % 7 == 6)
                pipeline.publish();
        }
        pipeline.finish();
    };
    std::thread lister;
    if (listAhead > 0) {
        pipeline.setListAhead(std::size_t(listAhead));
        lister = std::thread(handIn);
    } else {
        handIn();
    }
    // The workers fill the windows before the caller takes anything; the
    // caller's taking is then all that makes room for them again.
    QTest::qSleep(100);
    std::string below;
    bool allTaken = true;
    for (const QString &file : qAsConst(files)) {
        ScanPipeline::Result result;
        if (!pipeline.nextPath(below, [] { return true; }) || !pipeline.take(result, [] { return true; })
            || below != file.toStdString() || result.error != 0
            || result.digest != sha256Of(file.toUtf8())) {
            allTaken = false;
            break;
        }
    }
    const bool moreThanHandedIn = allTaken && pipeline.nextPath(below, [] { return true; });
    if (!allTaken)
        pipeline.stop();
    if (lister.joinable())
        lister.join();
    QVERIFY(allTaken);
    QVERIFY(!moreThanHandedIn);
}

void TestScanPipeline::sameResultForAnyJobCount()
{
    QTemporaryDir root;
    QStringList files{"B", "a", "sub/c", "sub/deeper/d", "Sub2/e", "big=" + QString(300000, QLatin1Char('x')),
                      "sums.sha256=old", QString::fromUtf8("\xc3\xa9t\xc3\xa9 & caf\xc3\xa9.txt")};
    for (int i = 0; i < 300; ++i)
        files << QString("many/%1").arg(i);
    makeTree(root.path(), files);
    QVERIFY(QFile::link(root.path() + "/a", root.path() + "/link-to-a"));
    QVERIFY(QFile::link(root.path() + "/sub", root.path() + "/link-to-sub"));
    if (TreeListing::keepsNameBytes)
        QCOMPARE(::close(::creat(QFile::encodeName(root.path() + "/odd\xff").constData(), 0644)), 0);
    else
        makeTree(root.path(), {"odd"});
    const QString sums = root.path() + "/sums.sha256";

    QByteArray first;
    for (const int jobs : {1, 2, 8}) {
        HashTools tools("sha256");
        tools.setJobs(jobs);
        std::vector<HashRecord> records;
        Recorder recorder;
        tools.calculateHashes(root.path(), records, &recorder, sums);
        QCOMPARE(recorder.calls.last(), QStringLiteral("finish"));
        // All but the checksums file, plus the link to a, the two files
        // through the link to sub, and the name that is not UTF-8.
        QCOMPARE(records.size(), std::size_t(files.size() - 1 + 1 + 2 + 1));
        const QString out = root.path() + QString("/../out%1").arg(jobs);
        QVERIFY(!tools.saveDB(QFile::encodeName(out).toStdString(), records).empty());
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        written.remove();
        if (jobs == 1)
            first = bytes;
        QCOMPARE(bytes, first);
    }
}

void TestScanPipeline::sameResultsInBatches_data()
{
    // Files name=size; a size of -1 is a folder, -2 a FIFO, -3 a path
    // handed in for which nothing exists.
    QTest::addColumn<QStringList>("files");
    QStringList oneFolder;
    QStringList crossing;
    QStringList sizes;
    QStringList odd;
    const int piece = 64 * 1024;
    for (int i = 0; i < 300; ++i) {
        oneFolder << QString("f%1=%2").arg(i, 3, 10, QLatin1Char('0')).arg(i % 200);
        // Runs of files begin and end in the middle of folders.
        crossing << QString("d%1/f%2=%3").arg(i / 5, 2, 10, QLatin1Char('0')).arg(i).arg(i % 50);
        // Files at either side of what a batch reads at once, and enough
        // of them in a row to fill its buffer.
        const int around[] = {0, 1, piece - 1, piece, piece + 1, 100, 50000, 60000};
        sizes << QString("s/f%1=%2").arg(i, 3, 10, QLatin1Char('0')).arg(around[i % 8]);
        const int kind = i % 37 == 20 ? -1 : i % 41 == 30 ? -2 : i % 43 == 40 ? -3 : 10 + i;
        odd << QString("o/f%1=%2").arg(i, 3, 10, QLatin1Char('0')).arg(kind);
    }
    QTest::newRow("small files in one folder") << oneFolder;
    QTest::newRow("runs of files cross folders") << crossing;
    QTest::newRow("sizes around a batch's piece") << sizes;
    QTest::newRow("folders, FIFOs and missing files among small files") << odd;
}

// Small files are opened and read a batch at a time where io_uring serves;
// every file must come out as each file's own calls give it, with the
// digest sha256 gives and the errno the open gives.
void TestScanPipeline::sameResultsInBatches()
{
    QFETCH(QStringList, files);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    std::vector<std::string> names;
    std::vector<std::string> digests;
    std::vector<int> errors;
    for (const QString &entry : qAsConst(files)) {
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        const int size = entry.section(QLatin1Char('='), 1).toInt();
        const QString path = root.filePath(name);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        names.push_back(name.toStdString());
        digests.emplace_back();
        errors.push_back(size == -1 ? EISDIR : size == -2 ? EINVAL : size == -3 ? ENOENT : 0);
        if (size == -1) {
            QVERIFY(QDir().mkpath(path));
        } else if (size == -2) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        } else if (size >= 0) {
            // Each file's content its own, so that one file's bytes
            // hashed for another's cannot pass.
            QByteArray content = name.toUtf8().repeated(size / name.size() + 1).left(size);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), qint64(size));
            digests.back() = sha256Of(content);
        }
    }
    const std::string prefix = QFile::encodeName(root.path() + "/").toStdString();
    const Descriptor rootFd(::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    QVERIFY(rootFd.get() >= 0);

    for (const bool batched : {false, true}) {
#if defined(ORVALEN_URING)
        UringReader::refuseSetupForTesting(batched ? 0 : EPERM);
        const unsigned long long batchesBefore = UringReader::batchesForTesting();
#else
        if (batched)
            break;
#endif
        {
            ScanPipeline::Settings settings;
            settings.hashers = 2;
            settings.openers = 2;
            settings.hashersOpenFromMemory = true;
            ScanPipeline pipeline(prefix, [] { return hashfactory().makeWrapper("sha256"); }, settings,
                                  rootFd.get());
            for (const std::string &name : names)
                pipeline.add(name.data(), name.size());
            pipeline.publish();
            pipeline.finish();
            for (std::size_t i = 0; i < names.size(); ++i) {
                ScanPipeline::Result result;
                QVERIFY(pipeline.take(result, [] { return true; }));
                QCOMPARE(result.error, errors[i]);
                QCOMPARE(result.digest, digests[i]);
                if (errors[i] == 0)
                    QVERIFY(!result.after.differsFrom(result.before));
            }
        }
#if defined(ORVALEN_URING)
        UringReader::refuseSetupForTesting(0);
        // A scan of small files where io_uring serves goes through batches;
        // refused, through none.
        UringReader probe(rootFd.get());
        if (probe.batched() && ScanPipeline::batchesSmallFiles())
            QCOMPARE(UringReader::batchesForTesting() > batchesBefore, batched);
#endif
    }
}

void TestScanPipeline::descriptorShortage_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("spare");
    QTest::addColumn<bool>("fails");

    QTest::newRow("none to spare, one file after another") << 1 << 0 << true;
    QTest::newRow("none to spare, 4 jobs") << 4 << 0 << true;
    // The listing that reads directories itself holds the source directory,
    // the one it reads and the subdirectory it is in: one spare descriptor
    // is not enough to begin. Qt's listing opens one directory at a time.
    QTest::newRow("one to spare, 16 jobs") << 16 << 1 << TreeListing::keepsNameBytes;
    QTest::newRow("three to spare, 16 jobs") << 16 << 3 << false;
    QTest::newRow("four to spare, 16 jobs") << 16 << 4 << false;
}

void TestScanPipeline::descriptorShortage()
{
    QFETCH(int, jobs);
    QFETCH(int, spare);
    QFETCH(bool, fails);

    QTemporaryDir root;
    QStringList files;
    for (int i = 0; i < 600; ++i)
        files << QString("d%1/f%2").arg(i % 12).arg(i);
    makeTree(root.path(), files);
    const auto scan = [&](int jobCount) {
        HashTools tools("sha256");
        tools.setJobs(jobCount);
        std::vector<HashRecord> records;
        Recorder recorder;
        tools.calculateHashes(root.path(), records, &recorder);
        QStringList outcome{recorder.calls.last()};
        for (const HashRecord &record : records)
            outcome << QString::fromStdString(record.path + ' ' + record.hash);
        return outcome.join(QLatin1Char('\n')).toUtf8();
    };
    const QByteArray unlimited = scan(1);
    QVERIFY(unlimited.startsWith("finish\n"));

    // A few runs, since which worker meets the shortage depends on timing;
    // none may blame a file or a directory for it.
    for (int run = 0; run < 3; ++run) {
        QByteArray limited;
        {
            const SpareDescriptors limit(spare);
            QVERIFY(limit.valid);
            limited = scan(jobs);
        }
        if (fails)
            QCOMPARE(limited, "error Not enough system resources to hash the tree: "
                                  + QByteArray(std::strerror(EMFILE)) + '.');
        else
            QCOMPARE(limited, unlimited);
    }
}

void TestScanPipeline::cancelDuringLongFile()
{
    // Hashing this file whole would take many minutes: the run ends soon
    // only if the cancel is taken in while the file is still being read.
    QTemporaryDir root;
    makeTree(root.path(), {"a", "b"});
    QFile huge(root.path() + "/huge");
    QVERIFY(huge.open(QIODevice::WriteOnly));
    if (!huge.resize(qint64(1) << 40))
        QSKIP("no sparse files of 1 TiB here");
    huge.close();

    for (const int jobs : {1, 0}) {
        Recorder recorder;
        recorder.cancelAt = 3;
        HashTools tools("sha256");
        tools.setJobs(jobs);
        std::vector<HashRecord> records;
        tools.calculateHashes(root.path(), records, &recorder);
        QCOMPARE(recorder.calls, (QStringList{"start 3", "file a", "canceled?", "file b", "canceled?",
                                              "file huge", "canceled?"}));
        QVERIFY(records.empty());
    }
}

void TestScanPipeline::fileChangedWhileRead_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("everyRead");
    QTest::addColumn<bool>("append");
    QTest::addColumn<QByteArray>("lastRead"); // the content the kept digest is of
    QTest::addColumn<int>("reads");

    for (const int jobs : {1, 2}) {
        const QByteArray how = jobs == 1 ? ", one job" : ", two jobs";
        QTest::newRow("appended during the first read" + how) << jobs << false << true
                                                                << QByteArray("0123456789x") << 2;
        QTest::newRow("written behind the read position during the first read" + how)
            << jobs << false << false << QByteArray("X123456789") << 2;
        QTest::newRow("appended during every read" + how) << jobs << true << true
                                                          << QByteArray("0123456789xxx") << 4;
    }
}

void TestScanPipeline::fileChangedWhileRead()
{
    QFETCH(int, jobs);
    QFETCH(bool, everyRead);
    QFETCH(bool, append);
    QFETCH(QByteArray, lastRead);
    QFETCH(int, reads);
    QTemporaryDir root;
    const QByteArray name = QFile::encodeName(root.filePath("f"));
    QVERIFY(size_t(name.size()) < sizeof writer::path);
    std::memcpy(writer::path, name.constData(), size_t(name.size()) + 1);
    writer::everyRead = everyRead;
    writer::append = append;
    // The file as it was, written long ago: a write of the same size then
    // moves its modification time.
    const auto makeFiles = [&] {
        makeTree(root.path(), {"a=still", "f=0123456789"});
        const timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, writer::path, longAgo, 0), 0);
        struct stat info;
        QCOMPARE(::stat(writer::path, &info), 0);
        writer::target = info.st_ino;
        writer::pieces = 0;
    };
    const std::vector<std::string> changing = everyRead ? std::vector<std::string>{"f"} : std::vector<std::string>();
    const std::vector<HashRecord> stored{{"a", sha256Of("still")}, {"f", sha256Of(lastRead)}};

    HashTools tools("sha256");
    tools.setJobs(jobs);
    tools.setStampsWanted(true);
    tools.setReferenceTime(QDateTime::currentMSecsSinceEpoch() * 1000000LL);
    const auto checkDifference = [](const std::vector<std::unique_ptr<CompareErr>> &errors) {
        // Written while it was read: modified now, never damaged, even where
        // the content of its last read is the stored one.
        QCOMPARE(errors.size(), std::size_t(1));
        QCOMPARE(errors[0]->type, CompareErr::HashDiff);
        QCOMPARE(errors[0]->path, std::string("f"));
        QVERIFY(!static_cast<const CE_HashDiff &>(*errors[0]).damaged);
    };

    // As the desktop creates and verifies.
    makeFiles();
    std::vector<HashRecord> records;
    Recorder recorder;
    filereader::setPieceHook(&writer::write);
    tools.calculateHashes(root.path(), records, &recorder);
    filereader::setPieceHook(nullptr);
    QCOMPARE(recorder.calls.last(), QStringLiteral("finish"));
    QCOMPARE(writer::pieces.load(), reads);
    QCOMPARE(records.size(), std::size_t(2));
    QCOMPARE(records[0].hash, sha256Of("still"));
    QCOMPARE(records[1].hash, sha256Of(lastRead));
    QCOMPARE(tools.changingFiles(), changing);
    std::vector<std::unique_ptr<CompareErr>> errors;
    tools.compare(records, stored, errors);
    checkDifference(errors);
    if (QTest::currentTestFailed())
        return;

    // As orvalen-cli verifies, each record as it comes.
    makeFiles();
    VerifySession session;
    session.assign(stored, tools.referenceTime());
    filereader::setPieceHook(&writer::write);
    const bool finished
        = tools.verifyHashes(QFile::encodeName(root.path()).toStdString(), session, &recorder, std::string());
    filereader::setPieceHook(nullptr);
    QVERIFY(finished);
    QCOMPARE(writer::pieces.load(), reads);
    QCOMPARE(tools.changingFiles(), changing);
    session.finish();
    checkDifference(session.errors());
}

QTEST_GUILESS_MAIN(TestScanPipeline)
#include "tst_scanpipeline.moc"
