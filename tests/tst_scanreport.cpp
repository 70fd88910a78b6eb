// What a scan tells its reporter and its sinks, and in which order: the
// reporter's calls, failures in listing order whatever the workers met
// first, a cancel while the tree is still listed, a streamed scan alike to
// one that lists first, and errors that come alone before any file.

#include "hashtools.h"
#include "scantestsupport.h"
#include "storedindex.h"
#include "treelisting.h"
#include "unprivileged.h"
#include "verifysession.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestScanReport : public QObject
{
    Q_OBJECT
private slots:
    void reporterSequence_data();
    void reporterSequence();
    void firstFailureInListingOrder();
    void unreadableInListingOrder_data();
    void unreadableInListingOrder();
    void cancelWhileListing_data();
    void cancelWhileListing();
    void unknownAlgorithm();
    void streamingEqualsList_data();
    void streamingEqualsList();
    void malformedIgnoreFileStopsBeforeHashing_data();
    void malformedIgnoreFileStopsBeforeHashing();
};

void TestScanReport::reporterSequence_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<int>("failAt");  // the file that cannot be read
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("expectedPaths");

    const QStringList three{"a.txt", "b.txt", "sub/c.txt"};
    QTest::newRow("complete run")
        << three << 0 << 0
        << QStringList{"start 3", "file a.txt", "canceled?", "file b.txt", "canceled?",
                       "file sub/c.txt", "canceled?", "finish"}
        << three;
    QTest::newRow("empty tree") << QStringList{} << 0 << 0 << QStringList{"start 0", "finish"} << QStringList{};
    QTest::newRow("cancel at the first file")
        << three << 1 << 0 << QStringList{"start 3", "file a.txt", "canceled?"} << QStringList{};
    QTest::newRow("cancel at a middle file")
        << three << 2 << 0 << QStringList{"start 3", "file a.txt", "canceled?", "file b.txt", "canceled?"}
        << QStringList{};
    QTest::newRow("cancel at the last file")
        << three << 3 << 0
        << QStringList{"start 3", "file a.txt", "canceled?", "file b.txt", "canceled?", "file sub/c.txt",
                       "canceled?"}
        << QStringList{};
    QTest::newRow("failure at the second file")
        << three << 0 << 2
        << QStringList{"start 3", "file a.txt", "canceled?", "file b.txt", "canceled?",
                       "error Cannot read file \"@/b.txt\"."}
        << QStringList{};
    QTest::newRow("failure at the last file")
        << three << 0 << 3
        << QStringList{"start 3", "file a.txt", "canceled?", "file b.txt", "canceled?", "file sub/c.txt",
                       "canceled?", "error Cannot read file \"@/sub/c.txt\"."}
        << QStringList{};
}

void TestScanReport::reporterSequence()
{
    QFETCH(QStringList, files);
    QFETCH(int, cancelAt);
    QFETCH(int, failAt);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, expectedPaths);
    QTemporaryDir root;
    makeTree(root.path(), files);
    if (failAt > 0) {
        // A regular file whose every read fails, whoever reads it.
        const QString failing = root.path() + "/" + files.at(failAt - 1);
        QVERIFY(QFile::remove(failing));
        QVERIFY(QFile::link("/proc/self/mem", failing));
    }
    expected.replaceInStrings("@", root.path());

    // The calls are the same whether the files are hashed one after another
    // or by workers ahead of the reporter.
    for (const int jobs : {1, 0, 8}) {
        Recorder recorder;
        recorder.cancelAt = cancelAt;
        HashTools tools("sha256");
        tools.setJobs(jobs);
        std::vector<HashRecord> records{{"stale", "0"}};
        tools.calculateHashes(root.path(), records, &recorder);
        QVERIFY2(recorder.calls == expected, qPrintable(QString("jobs %1: %2").arg(jobs).arg(recorder.calls.join(", "))));
        QCOMPARE(pathsOf(records), expectedPaths);
    }
}

void TestScanReport::firstFailureInListingOrder()
{
    // Workers may meet the later unreadable file first; the run must still
    // name the earlier one, every time and with any number of workers.
    QTemporaryDir root;
    QStringList files;
    for (int i = 0; i < 60; ++i)
        files << QString("f%1").arg(i, 2, 10, QLatin1Char('0'));
    makeTree(root.path(), files);
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                   | QFileDevice::ReadOther | QFileDevice::ExeOther));
    for (const char *name : {"/f07", "/f03"})
        QCOMPARE(::chmod(QFile::encodeName(root.path() + name).constData(), 0), 0);

    const QByteArray result = asUnprivileged([&]() {
        QStringList errors;
        for (const int jobs : {1, 2, 8}) {
            for (int run = 0; run < 5; ++run) {
                HashTools tools("sha256");
                tools.setJobs(jobs);
                std::vector<HashRecord> records{{"stale", "0"}};
                Recorder recorder;
                tools.calculateHashes(root.path(), records, &recorder);
                errors << recorder.calls.last() + (records.empty() ? "" : " (records kept)");
            }
        }
        errors.removeDuplicates();
        return errors.join('\n').toUtf8();
    });
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QCOMPARE(QString::fromUtf8(result), "error Cannot read file \"" + root.path() + "/f03\".");
}

void TestScanReport::unreadableInListingOrder_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("streaming");
    QTest::newRow("one thread, listed first") << 1 << false;
    QTest::newRow("workers, listed first") << 8 << false;
    QTest::newRow("one thread, listed while hashed") << 1 << true;
    QTest::newRow("workers, listed while hashed") << 8 << true;
}

void TestScanReport::unreadableInListingOrder()
{
    // With a sink for them, an unreadable file and an unreadable directory
    // take their places among the records, whatever the workers met first,
    // and the run finishes.
    QFETCH(int, jobs);
    QFETCH(bool, streaming);
    QTemporaryDir root;
    QStringList files{"d", "b/y", "c/w", "c/z"};
    for (int i = 0; i < 40; ++i)
        files << QString("a/f%1").arg(i, 2, 10, QLatin1Char('0'));
    makeTree(root.path(), files);
    const mode_t open = S_IRWXU | S_IROTH | S_IXOTH;
    for (const char *dir : {"", "/a", "/c"})
        QCOMPARE(::chmod(QFile::encodeName(root.path() + dir).constData(), open), 0);
    for (const char *locked : {"/b", "/c/w"})
        QCOMPARE(::chmod(QFile::encodeName(root.path() + locked).constData(), 0), 0);

    const QByteArray result = asUnprivileged([&]() {
        QStringList runs;
        for (int run = 0; run < 3; ++run) {
            HashTools tools("sha256");
            tools.setJobs(jobs);
            std::vector<HashRecord> records;
            // Each failure after the records that came before it.
            std::vector<std::pair<std::size_t, QString>> failures;
            tools.setUnreadableSink([&](const ReadFailure &failure) {
                failures.emplace_back(records.size(),
                                      QString("%1 %2: %3")
                                          .arg(failure.kind == ReadFailure::Kind::File ? "file" : "directory",
                                               QString::fromStdString(failure.path),
                                               QString::fromLocal8Bit(std::strerror(failure.error))));
                return true;
            });
            Recorder recorder;
            if (streaming) {
                const HashTools::RecordSink keep = [&records](std::string &path, std::string &digest,
                                                              const FileStamp &, bool) {
                    records.push_back(HashRecord{path, digest});
                    return true;
                };
                tools.streamHashes(QFile::encodeName(root.path()).toStdString(), keep, &recorder, std::string());
            } else {
                tools.calculateHashes(root.path(), records, &recorder);
            }
            QStringList seen;
            std::size_t next = 0;
            for (std::size_t i = 0; i <= records.size(); ++i) {
                for (; next < failures.size() && failures[next].first == i; ++next)
                    seen << failures[next].second;
                if (i < records.size())
                    seen << QString::fromStdString(records[i].path);
            }
            const bool finished = recorder.calls.last() == "finish" && next == failures.size();
            runs << (finished ? "" : "unfinished ") + seen.join(',');
        }
        runs.removeDuplicates();
        return runs.join('\n').toUtf8();
    });
    for (const char *locked : {"/b", "/c/w"})
        ::chmod(QFile::encodeName(root.path() + locked).constData(), S_IRWXU);
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QStringList expected{"d"};
    for (int i = 0; i < 40; ++i)
        expected << QString("a/f%1").arg(i, 2, 10, QLatin1Char('0'));
    expected << "directory b: Permission denied" << "file c/w: Permission denied" << "c/z";
    QCOMPARE(QString::fromUtf8(result), expected.join(','));
}

void TestScanReport::cancelWhileListing_data()
{
    QTest::addColumn<bool>("update");
    QTest::addColumn<int>("cancelAt");
    for (const int at : {1, 200, 700, 2500}) {
        QTest::newRow(qPrintable(QString("update, canceled at file %1").arg(at))) << true << at;
        QTest::newRow(qPrintable(QString("slice, canceled at file %1").arg(at))) << false << at;
    }
}

// Files kept unread are reported about as fast as the tree is listed, and
// the listing may run only one directory ahead, so the cancel comes while
// the listing thread is looking files up in the stored records. Under
// AddressSanitizer a listing thread that outlived the scan's own state
// would be caught here.
void TestScanReport::cancelWhileListing()
{
    QFETCH(bool, update);
    QFETCH(int, cancelAt);
    const int perDirectory = 300;
    const int files = 3000;
    static QTemporaryDir root;
    static std::vector<HashRecord> stored;
    const QByteArray source = QFile::encodeName(root.path());
    // Names long enough that a path is never kept inside its string object.
    for (int i = int(stored.size()); i < files; ++i) {
        const QString dir = QString("a directory with a long name %1").arg(i / perDirectory);
        const QString path = QString("%1/a file with a long name %2").arg(dir).arg(i % perDirectory);
        if (i % perDirectory == 0)
            QCOMPARE(::mkdir(QFile::encodeName(root.filePath(dir)).constData(), 0755), 0);
        QCOMPARE(::close(::creat(QFile::encodeName(root.filePath(path)).constData(), 0644)), 0);
        stored.push_back(HashRecord{path.toStdString(), sha256Of(QByteArray())});
    }

    // Which part of the listing meets the cancel depends on timing.
    for (int run = 0; run < 5; ++run) {
        StoredIndex index;
        index.assign(stored);
        VerifySession session(1, 1000);
        session.assign(stored, 0);
        HashTools tools("sha256");
        tools.setListAhead(perDirectory);
        Recorder recorder;
        recorder.cancelAt = cancelAt;
        std::size_t delivered = 0;
        const HashTools::RecordSink count = [&delivered](std::string &, std::string &, const FileStamp &, bool) {
            ++delivered;
            return true;
        };
        bool finished = true;
        if (update) {
            HashTools::UpdateCounts counts;
            finished = tools.updateHashes(source.toStdString(), index, std::numeric_limits<long long>::max() / 2,
                                          count, counts, &recorder, std::string());
        } else {
            finished = tools.verifyHashes(source.toStdString(), session, &recorder, std::string());
            delivered = std::size_t(session.checked());
        }
        QVERIFY(!finished);
        QCOMPARE(delivered, std::size_t(cancelAt - 1));
        QCOMPARE(recorder.calls.last(), QStringLiteral("canceled?"));
        QVERIFY(!recorder.calls.contains(QStringLiteral("finish")));
    }
}

void TestScanReport::unknownAlgorithm()
{
    QTemporaryDir root;
    makeTree(root.path(), {"a"});
    HashTools tools("sha-256");
    std::vector<HashRecord> records{{"stale", "0"}};
    Recorder recorder;
    tools.calculateHashes(root.path(), records, &recorder);
    QVERIFY(records.empty());
    QCOMPARE(recorder.calls, QStringList{"error Unsupported hash algorithm \"sha-256\"."});
    tools.calculateHashes(root.path(), records, nullptr);
    QVERIFY(records.empty());
    QCOMPARE(tools.saveDB((root.path() + "/sums").toStdString(), records), std::string());
    QVERIFY(!QFile::exists(root.path() + "/sums"));
    QCOMPARE(tools.loadDB((root.path() + "/a").toStdString(), records), std::string());
    QVERIFY(records.empty());
}

void TestScanReport::streamingEqualsList_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("listAhead");
    // An unreadable file listed before a name that cannot be stored.
    QTest::addColumn<bool>("failing");

    QTest::newRow("one job") << 1 << 1 << false;
    QTest::newRow("two jobs, listing one file ahead") << 2 << 1 << false;
    QTest::newRow("automatic, listing three files ahead") << 0 << 3 << false;
    QTest::newRow("automatic, the whole tree ahead") << 0 << 65536 << false;
    QTest::newRow("one job, failing") << 1 << 1 << true;
    QTest::newRow("two jobs, listing one file ahead, failing") << 2 << 1 << true;
    QTest::newRow("automatic, the whole tree ahead, failing") << 0 << 65536 << true;
}

void TestScanReport::streamingEqualsList()
{
    QFETCH(int, jobs);
    QFETCH(int, listAhead);
    QFETCH(bool, failing);
    QTemporaryDir root;
    makeTree(root.path(), {"b", "A", " lead", "x/Y z", "x/y", "x/deep/er/f", "W/back\\slash", "w2/e=",
                           QString::fromUtf8("\xc3\x9c" "ber/f")});
    if (failing) {
        QCOMPARE(::symlink("nowhere", QFile::encodeName(root.filePath("0 dangling")).constData()), 0);
        makeTree(root.path(), {"zz/line\nfeed"});
    }
    const std::string source = QFile::encodeName(root.path()).toStdString();
    HashTools tools("sha256");
    tools.setJobs(jobs);
    tools.setRecordsToBeWritten(true);
    tools.setListAhead(std::size_t(listAhead));

    Recorder listed;
    std::vector<HashRecord> records;
    tools.calculateHashes(source, records, &listed, std::string(), true);
    Recorder streamed;
    std::vector<HashRecord> got;
    const bool finished = tools.streamHashes(
        source,
        [&got](std::string &path, std::string &digest, const FileStamp &, bool) {
            got.push_back(HashRecord{path, digest});
            return true;
        },
        &streamed, std::string());

    // Where and how often the engine asks for a cancel depends on timing.
    listed.calls.removeAll(QStringLiteral("canceled?"));
    streamed.calls.removeAll(QStringLiteral("canceled?"));
    QCOMPARE(finished, !failing);
    QCOMPARE(listed.calls.last(), streamed.calls.last());
    if (failing) {
        QVERIFY(streamed.calls.last().contains(QLatin1String("line feed")));
        return;
    }
    QCOMPARE(pathsOf(got), pathsOf(records));
    for (std::size_t i = 0; i < got.size(); ++i)
        QCOMPARE(got[i].hash, records[i].hash);
    // A listing that may run only a few files ahead cannot count the tree
    // before the first file; Qt's listing lists the whole tree first.
    if (listAhead < int(records.size()) && jobs != 1 && TreeListing::keepsNameBytes)
        listed.calls.replace(0, QStringLiteral("start -1"));
    QCOMPARE(streamed.calls, listed.calls);
}

void TestScanReport::malformedIgnoreFileStopsBeforeHashing_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one job") << 1;
    QTest::newRow("automatic jobs") << 0;
}

// The desktop application shows the reporter's error in a box: it must come
// alone, before any file is reported.
void TestScanReport::malformedIgnoreFileStopsBeforeHashing()
{
    QFETCH(int, jobs);
    QTemporaryDir root;
    makeTree(root.path(), {"a.txt", "sub/b.txt", ".orvalenignore=*.tmp\n[ab].txt\nsub/[x\n"});

    HashTools tools("sha256");
    tools.setJobs(jobs);
    std::vector<HashRecord> records{HashRecord{"old", sha256Of("old")}};
    Recorder recorder;
    tools.calculateHashes(root.path(), records, &recorder);
    QCOMPARE(recorder.calls, QStringList{"error Malformed pattern in \"" + root.path()
                                         + "/.orvalenignore\", line 3: \"[\" is not closed."});
    QVERIFY(records.empty());
}

QTEST_GUILESS_MAIN(TestScanReport)
#include "tst_scanreport.moc"
