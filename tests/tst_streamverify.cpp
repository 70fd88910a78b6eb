// Verify as a stream: each record of the scan compared with the stored
// index as it comes, the missing ones after, moves paired at the end. Every
// row runs with one file after another and with the jobs the machine suits.

#include "enginerun.h"
#include "filereader.h"

#include <QTemporaryDir>

#include <atomic>
#include <cstring>

#include <unistd.h>

namespace {

const QList<int> jobSettings{1, 0};

// The sample tree of six files in two levels, names with spaces.
void makeSampleTree(const QString &root)
{
    writeFile(root + "/b.txt", "bee\n");
    writeFile(root + "/A.txt", "ay\n");
    writeFile(root + "/z/f", "zed");
    writeFile(root + "/Y/f", "why");
    writeFile(root + "/sub dir/my file.txt", "spaced out");
    writeFile(root + "/docs/fox.txt", "The quick brown fox jumps over the lazy dog");
}

// Writes the last byte of one file on the first piece read of it and puts
// its modification time back at once: only its status can tell.
namespace rewriter {
ino_t target = 0;
std::atomic<int> writes{0};
char path[4096] = {};

void write(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_ino != target || writes++ > 0)
        return;
    const int out = ::open(path, O_WRONLY | O_CLOEXEC);
    if (out < 0)
        return;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {longAgo / second, 0}};
    (void)!::pwrite(out, "x", 1, info.st_size - 1);
    ::futimens(out, times);
    ::close(out);
}
} // namespace rewriter

} // namespace

class TestStreamVerify : public QObject
{
    Q_OBJECT

private slots:
    void damageOrEdit_data();
    void damageOrEdit();
    void moves_data();
    void moves();
    void ignoreRules_data();
    void ignoreRules();
    void checksumsFileListingItself_data();
    void checksumsFileListingItself();
    void changedWhileRead();
};

void TestStreamVerify::damageOrEdit_data()
{
    // The modification time a.txt gets after its content changed: "now"
    // leaves the edit's own, "old" restores the one it had, otherwise
    // milliseconds from the checksums file's time.
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("edited") << "now" << false;
    QTest::newRow("damaged, old time restored") << "old" << true;
    QTest::newRow("edited within the tolerance") << "-1000" << false;
    QTest::newRow("damaged just past the tolerance") << "-2500" << true;
}

void TestStreamVerify::damageOrEdit()
{
    QFETCH(QString, time);
    QFETCH(bool, damaged);
    for (const int jobs : jobSettings) {
        QTemporaryDir root;
        const QString tree = root.filePath("tree");
        writeFile(tree + "/a.txt", "alpha");
        writeFile(tree + "/b.txt", "beta");
        QVERIFY(setModified(tree + "/a.txt", longAgo) && setModified(tree + "/b.txt", longAgo));
        const QString sums = root.filePath("sums.sha256");
        QVERIFY(createSums(tree, sums, jobs));
        const long long reference = modifiedAt(sums);
        QVERIFY(reference > longAgo);

        writeFile(tree + "/a.txt", "alpha, changed");
        writeFile(tree + "/new.txt", "new");
        if (time == "old")
            QVERIFY(setModified(tree + "/a.txt", longAgo));
        else if (time != "now")
            QVERIFY(setModified(tree + "/a.txt", reference + time.toLongLong() * 1000000));
        QCOMPARE(verifyLines(tree, sums, jobs),
                 QStringList({damaged ? "damaged a.txt" : "modified a.txt", "new new.txt"}));
    }
}

void TestStreamVerify::moves_data()
{
    QTest::addColumn<QStringList>("moves");   // "from>to"
    QTest::addColumn<QStringList>("damaged"); // content changed, old time kept
    QTest::addColumn<QStringList>("report");

    QTest::newRow("one file moved") << QStringList{"sub/c.txt>d/c.txt"} << QStringList()
                                    << QStringList{"moved d/c.txt from sub/c.txt"};
    QTest::newRow("two moved with the same digest: one pair")
        << QStringList{"x1.txt>y/x1.txt", "x2.txt>y/x2.txt"} << QStringList()
        << QStringList{"moved y/x1.txt from x1.txt", "new y/x2.txt", "missing x2.txt"};
    QTest::newRow("a move plus damage") << QStringList{"sub/c.txt>d/c.txt"} << QStringList{"a.txt"}
                                        << QStringList{"damaged a.txt", "moved d/c.txt from sub/c.txt"};
    QTest::newRow("names with a tab and a backslash")
        << QStringList{"in\tside.txt>out\\.txt"} << QStringList() << QStringList{"moved out\\.txt from in\tside.txt"};
}

void TestStreamVerify::moves()
{
    QFETCH(QStringList, moves);
    QFETCH(QStringList, damaged);
    QFETCH(QStringList, report);
    for (const int jobs : jobSettings) {
        QTemporaryDir root;
        const QString tree = root.filePath("tree");
        const QList<QPair<QString, QByteArray>> files{{"a.txt", "one"},       {"b.txt", "two"},
                                                      {"sub/c.txt", "three"}, {"x1.txt", "same"},
                                                      {"x2.txt", "same"},     {"in\tside.txt", "tab"}};
        for (const auto &file : files) {
            writeFile(tree + '/' + file.first, file.second);
            QVERIFY(setModified(tree + '/' + file.first, longAgo));
        }
        const QString sums = root.filePath("sums.sha256");
        QVERIFY(createSums(tree, sums, jobs));
        for (const QString &move : moves) {
            const QStringList ends = move.split('>');
            QVERIFY(QDir().mkpath(QFileInfo(tree + '/' + ends.at(1)).absolutePath()));
            QVERIFY(QFile::rename(tree + '/' + ends.at(0), tree + '/' + ends.at(1)));
        }
        for (const QString &name : damaged) {
            writeFile(tree + '/' + name, "bit flip");
            QVERIFY(setModified(tree + '/' + name, longAgo));
        }
        QCOMPARE(verifyLines(tree, sums, jobs), report);
    }
}

void TestStreamVerify::ignoreRules_data()
{
    QTest::addColumn<QByteArray>("rules"); // written after the checksums file
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("report");

    QTest::newRow("records below an excluded directory")
        << QByteArray("docs/\n") << QStringList{"docs/fox.txt"} << QStringList() << QStringList();
    QTest::newRow("records of a name excluded at any depth")
        << QByteArray("f\n") << QStringList{"z/f"} << QStringList{"Y/f"} << QStringList();
    QTest::newRow("re-included file still checked") << QByteArray("*.txt\n!b.txt\n") << QStringList{"A.txt", "b.txt"}
                                                    << QStringList{"docs/fox.txt"} << QStringList{"modified b.txt"};
    QTest::newRow("files the rules keep still reported") << QByteArray("docs/\n") << QStringList{"docs/fox.txt"}
                                                         << QStringList{"z/f"} << QStringList{"missing z/f"};
}

void TestStreamVerify::ignoreRules()
{
    QFETCH(QByteArray, rules);
    QFETCH(QStringList, changed);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, report);
    for (const int jobs : jobSettings) {
        QTemporaryDir root;
        const QString tree = root.filePath("tree");
        makeSampleTree(tree);
        const QString sums = root.filePath("sums.sha256");
        QVERIFY(createSums(tree, sums, jobs));
        writeFile(tree + "/.orvalenignore", rules);
        for (const QString &name : changed)
            writeFile(tree + '/' + name, "changed");
        for (const QString &name : removed)
            QVERIFY(QFile::remove(tree + '/' + name));
        QCOMPARE(verifyLines(tree, sums, jobs), report);
    }
}

void TestStreamVerify::checksumsFileListingItself_data()
{
    QTest::addColumn<QString>("sumsName");       // below the tree
    QTest::addColumn<QByteArray>("otherRecord"); // one more stored record, or none
    QTest::addColumn<QStringList>("report");

    QTest::newRow("at the top of the tree") << "sums.sha256" << QByteArray() << QStringList();
    QTest::newRow("in a subdirectory") << "docs/sums.sha256" << QByteArray() << QStringList();
    QTest::newRow("another missing file is still reported")
        << "sums.sha256" << QByteArray("gone.txt") << QStringList{"missing gone.txt"};
    QTest::newRow("a missing file of the same name elsewhere is still reported")
        << "docs/sums.sha256" << QByteArray("sums.sha256") << QStringList{"missing sums.sha256"};
}

void TestStreamVerify::checksumsFileListingItself()
{
    QFETCH(QString, sumsName);
    QFETCH(QByteArray, otherRecord);
    QFETCH(QStringList, report);
    QTemporaryDir root;
    const QString tree = root.filePath("tree");
    // As written by a program that hashed the tree with the checksums file
    // already in it: a record for the file itself, whose digest cannot match.
    QByteArray sums;
    for (const QByteArray &file : {QByteArray("a.txt"), QByteArray("docs/b.txt"), QByteArray("z/c.txt")}) {
        writeFile(tree + '/' + file, file);
        sums += sha256Hex(file) + ' ' + file + "\r\n";
    }
    sums += QByteArray(64, '0') + ' ' + sumsName.toUtf8() + "\r\n";
    if (!otherRecord.isEmpty())
        sums += sha256Hex(otherRecord) + ' ' + otherRecord + "\r\n";
    writeFile(tree + '/' + sumsName, sums);
    for (const int jobs : jobSettings)
        QCOMPARE(verifyLines(tree, tree + '/' + sumsName, jobs), report);
}

// A file written while it is read, its old time put back at once, must not
// pass for damage: its status changed between the open and the last byte.
void TestStreamVerify::changedWhileRead()
{
    for (const int jobs : jobSettings) {
        QTemporaryDir root;
        const QString tree = root.filePath("tree");
        const QString big = tree + "/big.bin";
        writeFile(big, QByteArray(3 << 20, '\0'));
        QVERIFY(setModified(big, longAgo));
        const QString sums = root.filePath("sums.sha256");
        QVERIFY(createSums(tree, sums, jobs));

        const QByteArray name = QFile::encodeName(big);
        std::memcpy(rewriter::path, name.constData(), size_t(name.size()) + 1);
        struct stat info;
        QCOMPARE(::stat(rewriter::path, &info), 0);
        rewriter::target = info.st_ino;
        rewriter::writes = 0;
        filereader::setPieceHook(&rewriter::write);
        const QStringList lines = verifyLines(tree, sums, jobs);
        filereader::setPieceHook(nullptr);
        QVERIFY(rewriter::writes > 0);
        QCOMPARE(modifiedAt(big), longAgo);
        QCOMPARE(lines, QStringList{"modified big.bin"});
    }
}

QTEST_GUILESS_MAIN(TestStreamVerify)
#include "tst_streamverify.moc"
