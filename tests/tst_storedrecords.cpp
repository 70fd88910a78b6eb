// How verify and update judge the stored records against the tree: a file
// that differs is damaged or edited by one rule, and a record the tree's
// ignore rules now leave out is not missing.

#include "compareerr.h"
#include "hashtools.h"
#include "scantestsupport.h"
#include "storedindex.h"
#include "verifysession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

class TestStoredRecords : public QObject
{
    Q_OBJECT
private slots:
    void ignoredStoredRecords_data();
    void ignoredStoredRecords();
    void damageOrEdit_data();
    void damageOrEdit();

private:
    std::unique_ptr<QTemporaryDir> stampedTrees;
};

void TestStoredRecords::ignoredStoredRecords_data()
{
    // The source path is given relative to the temporary directory, which
    // the test makes the working directory; "@" stands for that directory.
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("rules");     // written after the stored records were taken
    QTest::addColumn<QStringList>("missing");  // records reported as missing

    QTest::newRow("relative source, excluded directory") << "data" << QByteArray("sub/\n") << QStringList();
    QTest::newRow("relative source, anchored at the source") << "./data" << QByteArray("/sub/b.txt\n")
                                                             << QStringList();
    QTest::newRow("relative source, other records kept") << "data" << QByteArray("a.txt\n")
                                                         << QStringList{"data/sub/b.txt"};
    QTest::newRow("absolute source, name at any depth") << "@/data" << QByteArray("b.*\n") << QStringList();
    QTest::newRow("absolute source, re-included") << "@/data" << QByteArray("*.txt\n!b.txt\n")
                                                  << QStringList{"sub/b.txt"};
}

void TestStoredRecords::ignoredStoredRecords()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, rules);
    QFETCH(QStringList, missing);
    QTemporaryDir root;
    makeTree(root.path(), {"data/a.txt=a", "data/sub/b.txt=b"});
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root.path()));
    source.replace("@", root.path());

    HashTools tools("sha256");
    std::vector<HashRecord> stored;
    tools.calculateHashes(source, stored, nullptr);
    QCOMPARE(stored.size(), std::size_t(2));
    makeTree(root.path(), {"data/.orvalenignore=" + QString::fromUtf8(rules)});
    QVERIFY(QFile::remove(root.path() + "/data/sub/b.txt"));
    std::vector<HashRecord> current;
    tools.calculateHashes(source, current, nullptr);
    QDir::setCurrent(previous);

    std::vector<std::unique_ptr<CompareErr>> errors;
    tools.compare(current, stored, errors);
    QStringList reported;
    for (const std::unique_ptr<CompareErr> &error : errors) {
        QCOMPARE(error->type, CompareErr::AbsentFile);
        reported << QString::fromStdString(error->path);
    }
    QCOMPARE(reported, missing);
}

namespace {

const long long second = 1000000000LL;
// 2020-01-01 and 2031-01-01.
const long long longAgo = 1577836800LL * second;
const long long future = 1924992000LL * second;
// SHA-256 of "abc" and of nothing (FIPS 180-2 test vectors).
const char digestOfAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char digestOfNothing[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

long long nowOnTheClock()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

void TestStoredRecords::damageOrEdit_data()
{
    // The tree holds a.txt, "abc", whose modification time is set after it
    // was written: "future", "past" or as the write left it ("now"); that
    // sets its inode time, and the reference is taken from that: more
    // than the tolerance later ("inode older"), or the same moment.
    QTest::addColumn<QString>("tree");
    QTest::addColumn<long long>("reference");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("damaged");    // verify's verdict
    QTest::addColumn<QString>("update");  // "held back", "rehashed" or "kept"
    QTest::addColumn<QByteArray>("written");

    stampedTrees = std::make_unique<QTemporaryDir>();
    QVERIFY(stampedTrees->isValid());
    long long latest = 0;
    int trees = 0;
    bool made = true;
    const auto row = [&](const char *tag, const QString &modified, bool inodeOlder,
                         const std::string &stored) -> QTestData & {
        const QString tree = stampedTrees->filePath(QString::number(++trees));
        makeTree(tree, {"a.txt=abc"});
        const QByteArray file = QFile::encodeName(tree + "/a.txt");
        if (modified != QLatin1String("now")) {
            const long long at = modified == QLatin1String("future") ? future : longAgo;
            const struct timespec times[2] = {{0, UTIME_OMIT}, {at / second, at % second}};
            made = made && ::utimensat(AT_FDCWD, file.constData(), times, 0) == 0;
        }
        struct stat info;
        made = made && ::stat(file.constData(), &info) == 0;
        const long long changed = info.st_ctim.tv_sec * second + info.st_ctim.tv_nsec;
        const long long reference = inodeOlder ? changed + HashTools::timeTolerance : changed;
        latest = std::max(latest, reference);
        return QTest::newRow(tag) << tree << reference << QByteArray::fromStdString(stored);
    };
    row("future time, inode older than the reference", "future", true, digestOfNothing)
        << true << "held back" << QByteArray(digestOfNothing);
    row("future time, inode changed after the reference", "future", false, digestOfNothing)
        << false << "rehashed" << QByteArray(digestOfAbc);
    row("past time restored after a write", "past", false, digestOfNothing)
        << true << "held back" << QByteArray(digestOfNothing);
    row("written after the reference", "now", false, digestOfNothing)
        << false << "rehashed" << QByteArray(digestOfAbc);
    row("stored in capitals, file read", "past", false, upper(digestOfAbc))
        << false << "rehashed" << QByteArray(digestOfAbc);
    row("stored in capitals, file left unread", "past", true, upper(digestOfAbc))
        << false << "kept" << QByteArray(digestOfAbc);
    row("another digest in capitals", "past", false, upper(digestOfNothing))
        << true << "held back" << QByteArray(digestOfNothing);

    // A reference is the start of an earlier scan: the scans of the rows
    // start after the latest.
    QVERIFY(made);
    while (nowOnTheClock() <= latest)
        std::this_thread::sleep_for(std::chrono::nanoseconds(latest - nowOnTheClock() + 10000000));
}

// Verify and update judge by one rule: the tree's file differs from its
// stored digest in every row.
void TestStoredRecords::damageOrEdit()
{
    QFETCH(QString, tree);
    QFETCH(long long, reference);
    QFETCH(QByteArray, stored);
    QFETCH(bool, damaged);
    QFETCH(QString, update);
    QFETCH(QByteArray, written);
    const std::string source = QFile::encodeName(tree).toStdString();
    const std::vector<HashRecord> records{HashRecord{"a.txt", stored.toStdString()}};

    HashTools tools("sha256");
    VerifySession session;
    session.assign(records, reference);
    QVERIFY(tools.verifyHashes(source, session, nullptr, std::string()));
    session.finish();
    const VerifySession::Errors &errors = session.errors();
    QCOMPARE(errors.size(), std::size_t(1));
    QCOMPARE(errors[0]->type, CompareErr::HashDiff);
    QCOMPARE(static_cast<const CE_HashDiff &>(*errors[0]).damaged, damaged);

    HashTools updater("sha256");
    StoredIndex kept;
    kept.assign(records);
    std::vector<HashRecord> updated;
    const HashTools::RecordSink write = [&](std::string &path, std::string &digest, const FileStamp &, bool) {
        updated.push_back(HashRecord{std::move(path), std::move(digest)});
        return true;
    };
    HashTools::UpdateCounts counts;
    QVERIFY(updater.updateHashes(source, kept, reference, write, counts, nullptr, std::string()));
    QCOMPARE(updated.size(), std::size_t(1));
    QCOMPARE(QByteArray::fromStdString(updated[0].hash), written);
    const QString outcome = !counts.heldBack.empty() ? QStringLiteral("held back")
                            : counts.rehashed == 1   ? QStringLiteral("rehashed")
                            : counts.kept == 1       ? QStringLiteral("kept")
                                                     : QString();
    QCOMPARE(outcome, update);
    if (damaged) {
        QCOMPARE(counts.heldBack.size(), std::size_t(1));
        QCOMPARE(QByteArray::fromStdString(counts.heldBack[0].current), QByteArray(digestOfAbc));
        QCOMPARE(QByteArray::fromStdString(counts.heldBack[0].stored), stored);
    }
}

QTEST_GUILESS_MAIN(TestStoredRecords)
#include "tst_storedrecords.moc"
