#include "compareerr.h"
#include "hashtools.h"
#include "icreatehashreport.h"
#include "unprivileged.h"
#include "verifysession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

class Quiet : public ICreateHashReport
{
public:
    void reportStart(int) override {}
    void reportFinish() override { finished = true; }
    void reportFile(const QString &) override {}
    void reportError(const QString &) override {}
    bool isCanceled() override { return false; }
    void reportFileCount(int) override {}
    bool finished = false;
};

// "path=content", or the path as its own content.
void makeTree(const QString &root, const QStringList &files)
{
    for (const QString &entry : files) {
        const QString path = entry.section(QLatin1Char('='), 0, 0);
        const QByteArray content = entry.contains(QLatin1Char('=')) ? entry.section(QLatin1Char('='), 1).toUtf8()
                                                                    : path.toUtf8();
        QVERIFY(QDir(root).mkpath(QFileInfo(path).path()));
        QFile file(root + QLatin1Char('/') + path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), qint64(content.size()));
    }
}

// "path=content" holds the SHA-256 of content, "path:digest" the digest as
// written.
std::vector<HashRecord> recordsOf(const QStringList &lines)
{
    std::vector<HashRecord> records;
    for (const QString &line : lines) {
        if (line.contains(QLatin1Char('=')))
            records.push_back({line.section(QLatin1Char('='), 0, 0).toStdString(),
                               QCryptographicHash::hash(line.section(QLatin1Char('='), 1).toUtf8(),
                                                        QCryptographicHash::Sha256)
                                   .toHex()
                                   .toStdString()});
        else
            records.push_back({line.section(QLatin1Char(':'), 0, 0).toStdString(),
                               line.section(QLatin1Char(':'), 1).toStdString()});
    }
    return records;
}

// The differences as orvalen-cli tells them: a move on the new file's line.
QStringList findingsOf(const VerifySession::Errors &errors)
{
    std::vector<std::size_t> movedFrom(errors.size(), errors.size());
    std::vector<bool> movedAway(errors.size(), false);
    for (const auto &move : VerifySession::findMoves(errors)) {
        movedFrom[move.first] = move.second;
        movedAway[move.second] = true;
    }
    QStringList findings;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const QString path = QString::fromStdString(errors[i]->path);
        switch (errors[i]->type) {
        case CompareErr::HashDiff:
            findings << (static_cast<const CE_HashDiff &>(*errors[i]).damaged ? "damaged " : "modified ") + path;
            break;
        case CompareErr::NewFile:
            findings << (movedFrom[i] == errors.size()
                             ? "new " + path
                             : "moved " + QString::fromStdString(errors[movedFrom[i]]->path) + " -> " + path);
            break;
        case CompareErr::AbsentFile:
            if (!movedAway[i])
                findings << "missing " + path;
            break;
        case CompareErr::IOError:
            findings << (static_cast<const CE_IOError &>(*errors[i]).kind == ReadFailure::Kind::File
                             ? "unreadable file "
                             : "unreadable directory ")
                            + path;
            break;
        }
    }
    return findings;
}

// A time long before any checksums file of these tests.
void writtenLongAgo(const QString &file)
{
    const timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), longAgo, 0), 0);
}

} // namespace

class TestVerifySession : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { VerifySession::delayTableForTesting(0); }
    void sameFindingsBothWays_data();
    void sameFindingsBothWays();
    void unreadableEntries_data();
    void unreadableEntries();
    void digestOnlyOfRecordsRead_data();
    void digestOnlyOfRecordsRead();
};

void TestVerifySession::sameFindingsBothWays_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("stored");
    // Files of the tree whose modification time lies long before the
    // checksums file's.
    QTest::addColumn<QStringList>("old");
    // The checksums file lies in the tree, as sums.sha256.
    QTest::addColumn<bool>("inside");
    QTest::addColumn<QStringList>("findings");

    QTest::newRow("unchanged") << QStringList{"a=one", "d/b=two"} << QStringList{"a=one", "d/b=two"}
                               << QStringList() << false << QStringList();
    QTest::newRow("edited after the checksums file")
        << QStringList{"a=two", "b"} << QStringList{"a=one", "b=b"} << QStringList{"b"} << false
        << QStringList{"modified a"};
    QTest::newRow("changed, not written since: damaged")
        << QStringList{"a=two", "b"} << QStringList{"a=one", "b=b"} << QStringList{"a", "b"} << false
        << QStringList{"damaged a"};
    QTest::newRow("stored in capitals: the same content, never damage")
        << QStringList{"a=one"}
        << QStringList{"a:" + QCryptographicHash::hash("one", QCryptographicHash::Sha256).toHex().toUpper()}
        << QStringList{"a"} << false << QStringList{"modified a"};
    QTest::newRow("new and missing, missing after the tree's files")
        << QStringList{"a=one", "n=new"} << QStringList{"gone=old", "a=one"} << QStringList() << false
        << QStringList{"new n", "missing gone"};
    QTest::newRow("moved") << QStringList{"a=one", "d/moved=x"} << QStringList{"a=one", "old=x"}
                           << QStringList() << false << QStringList{"moved old -> d/moved"};
    QTest::newRow("one content moved twice pairs once")
        << QStringList{"p=x", "q=x"} << QStringList{"r=x", "s=x"} << QStringList() << false
        << QStringList{"moved r -> p", "new q", "missing s"};
    QTest::newRow("path stored twice: the first counts")
        << QStringList{"a=one"} << QStringList{"a=one", "a=two"} << QStringList() << false << QStringList();
    QTest::newRow("path stored again after the next: the first counts")
        << QStringList{"a=one", "b=two"} << QStringList{"a=one", "b=two", "a=three"} << QStringList() << false
        << QStringList();
    QTest::newRow("path stored twice, both after another")
        << QStringList{"a=one", "b=two"} << QStringList{"b=two", "a=old", "a=one"} << QStringList() << false
        << QStringList{"modified a"};
    QTest::newRow("path stored twice, the later one next in line: the first counts")
        << QStringList{"a=one", "c=three"} << QStringList{"c=three", "a=one", "c=four"} << QStringList() << false
        << QStringList();
    QTest::newRow("path stored twice, file gone: missing twice")
        << QStringList{"b=zzz"} << QStringList{"a=one", "a=two"} << QStringList() << false
        << QStringList{"new b", "missing a", "missing a"};
    QTest::newRow("checksums file in the tree is not missing")
        << QStringList{"a=one"} << QStringList{"a=one", "sums.sha256=earlier"} << QStringList() << true
        << QStringList();
    QTest::newRow("ignored paths are not missing")
        << QStringList{"a=one", ".orvalenignore=*.tmp\n"}
        << QStringList{"a=one", "x.tmp=old", "d/y.tmp=old", "z=gone"}
        << QStringList() << false << QStringList{"missing z"};
}

// What orvalen-cli finds streaming the tree against the checksums file, the
// desktop finds comparing two lists.
void TestVerifySession::sameFindingsBothWays()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, old);
    QFETCH(bool, inside);
    QFETCH(QStringList, findings);
    QTemporaryDir root;
    QTemporaryDir elsewhere;
    makeTree(root.path(), tree);
    for (const QString &file : old)
        writtenLongAgo(root.path() + '/' + file);
    const QString sums = (inside ? root.path() : elsewhere.path()) + "/sums.sha256";
    HashTools writer("sha256");
    QVERIFY(!writer.saveDB(QFile::encodeName(sums).toStdString(), recordsOf(stored)).empty());
    const std::string source = QFile::encodeName(root.path()).toStdString();
    const std::string checksumFile = QFile::encodeName(sums).toStdString();

    // With the table built late, the first files are looked up in the
    // file's order alone.
    std::string streamedDigest;
    qint64 checked = 0;
    for (const int tableDelay : {250, 0}) {
        VerifySession::delayTableForTesting(tableDelay);
        VerifySession session;
        QVERIFY(session.load(checksumFile, "sha256"));
        HashTools streaming("sha256");
        Quiet report;
        QVERIFY(streaming.verifyHashes(source, session, &report, checksumFile));
        QVERIFY(report.finished);
        streamedDigest = session.digest();
        QVERIFY(!streamedDigest.empty());
        session.finish();
        QCOMPARE(findingsOf(session.errors()), findings);
        checked = session.checked();
    }

    HashTools desktop("sha256");
    std::vector<HashRecord> storedRecords;
    QCOMPARE(desktop.loadDB(checksumFile, storedRecords), streamedDigest);
    desktop.setStampsWanted(true);
    std::vector<HashRecord> current;
    desktop.calculateHashes(root.path(), current, nullptr, sums);
    QCOMPARE(checked, qint64(current.size()));
    std::vector<std::unique_ptr<CompareErr>> errors;
    desktop.compare(current, storedRecords, errors);
    QCOMPARE(findingsOf(errors), findings);
}

void TestVerifySession::unreadableEntries_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("locked");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("findings");
    QTest::addColumn<int>("notChecked");

    QTest::newRow("file: neither compared nor missing")
        << QStringList{"a=one", "b=now"} << QStringList{"b"} << QStringList{"a=one", "b=then"}
        << QStringList{"unreadable file b"} << 0;
    QTest::newRow("file without a record")
        << QStringList{"a=one", "b=now"} << QStringList{"b"} << QStringList{"a=one"}
        << QStringList{"unreadable file b"} << 0;
    QTest::newRow("directory: its records not checked")
        << QStringList{"a=one", "d/x=1", "d/y=2", "dz=3"} << QStringList{"d"}
        << QStringList{"a=one", "d/x=old", "d/y=2", "dz=3", "d/y=again", "gone=4"}
        << QStringList{"unreadable directory d", "missing gone"} << 2;
}

// A file or directory that cannot be read takes its place in the findings,
// and hides its stored records: the scan cannot tell them changed or gone.
void TestVerifySession::unreadableEntries()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, locked);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, findings);
    QFETCH(int, notChecked);
    QTemporaryDir root;
    QTemporaryDir elsewhere;
    makeTree(root.path(), tree);
    const mode_t open = S_IRWXU | S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH;
    for (const QString &dir : {root.path(), root.path() + "/d", elsewhere.path()})
        ::chmod(QFile::encodeName(dir).constData(), open);
    for (const QString &entry : locked)
        QCOMPARE(::chmod(QFile::encodeName(root.path() + '/' + entry).constData(), 0), 0);
    const std::string sums = QFile::encodeName(elsewhere.path() + "/sums.sha256").toStdString();
    QVERIFY(!HashTools("sha256").saveDB(sums, recordsOf(stored)).empty());
    QCOMPARE(::chmod(sums.c_str(), 0644), 0);
    const std::string source = QFile::encodeName(root.path()).toStdString();

    const QByteArray result = asUnprivileged([&]() {
        VerifySession session;
        if (!session.load(sums, "sha256"))
            return QByteArray("load failed");
        HashTools tools("sha256");
        Quiet report;
        tools.verifyHashes(source, session, &report, sums);
        session.finish();
        return (QStringList{report.finished ? "finished" : "unfinished"} + findingsOf(session.errors())
                << QString::number(session.notChecked()))
            .join(',')
            .toUtf8();
    });
    for (const QString &entry : locked)
        ::chmod(QFile::encodeName(root.path() + '/' + entry).constData(), S_IRWXU);
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QCOMPARE(QString::fromUtf8(result),
             (QStringList{"finished"} + findings << QString::number(notChecked)).join(','));
}

void TestVerifySession::digestOnlyOfRecordsRead_data()
{
    QTest::addColumn<QByteArray>("content");  // "-" for no file at all
    QTest::addColumn<bool>("read");

    QTest::newRow("checksums file")
        << QByteArray("d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592  a\r\n") << true;
    QTest::newRow("empty checksums file") << QByteArray() << true;
    QTest::newRow("no checksums file, yet readable") << QByteArray("hello\nworld\n") << false;
    QTest::newRow("no file") << QByteArray("-") << false;
}

// The records and the digest are read apart: a file whose records cannot be
// had gives no digest either, so that a verify against it cannot pass as
// one that found nothing changed.
void TestVerifySession::digestOnlyOfRecordsRead()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, read);
    QTemporaryDir root;
    const QString sums = root.path() + "/sums.sha256";
    if (content != "-") {
        QFile file(sums);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), qint64(content.size()));
    }
    VerifySession session;
    QVERIFY(session.load(QFile::encodeName(sums).toStdString(), "sha256"));
    const std::string expected
        = read ? QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toStdString() : std::string();
    QCOMPARE(session.digest(), expected);
    QCOMPARE(session.stored().recordCount(), std::size_t(content.count('\n') > 0 && read ? 1 : 0));
}

QTEST_GUILESS_MAIN(TestVerifySession)
#include "tst_verifysession.moc"
