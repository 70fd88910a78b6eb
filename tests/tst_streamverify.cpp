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

constexpr int jobSettings[] = {1, 0};

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
    void finds_data();
    void finds();
    void changedWhileRead();
};

void TestStreamVerify::finds_data()
{
    // What happens to the tree after its checksums file was written, step
    // by step: "edit P" (a write), "flip P" (a write, the old time put
    // back), "at P MS" (a write dated MS milliseconds from the checksums
    // file's time), "move P>Q", "remove P", "add P", "rules TEXT" (the
    // tree's .orvalenignore), "record P" (a stored record of a file that
    // is not there); "self P" keeps the checksums file at P in the tree
    // with a record of itself, as a program that hashed the tree with the
    // file in it would have written.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("report");

    QTest::newRow("edited") << QStringList{"edit a.txt", "add new.txt"} << QStringList{"modified a.txt", "new new.txt"};
    QTest::newRow("damaged, old time restored") << QStringList{"flip a.txt"} << QStringList{"damaged a.txt"};
    QTest::newRow("edited within the tolerance") << QStringList{"at a.txt -1000"} << QStringList{"modified a.txt"};
    QTest::newRow("damaged just past the tolerance") << QStringList{"at a.txt -2500"} << QStringList{"damaged a.txt"};
    QTest::newRow("one file moved") << QStringList{"move sub/c.txt>d/c.txt"}
                                    << QStringList{"moved d/c.txt from sub/c.txt"};
    QTest::newRow("two moved with the same digest: one pair")
        << QStringList{"move x1.txt>y/x1.txt", "move x2.txt>y/x2.txt"}
        << QStringList{"moved y/x1.txt from x1.txt", "new y/x2.txt", "missing x2.txt"};
    QTest::newRow("a move plus damage") << QStringList{"move sub/c.txt>d/c.txt", "flip a.txt"}
                                        << QStringList{"damaged a.txt", "moved d/c.txt from sub/c.txt"};
    QTest::newRow("names with a tab and a backslash") << QStringList{"move in\tside.txt>out\\.txt"}
                                                      << QStringList{"moved out\\.txt from in\tside.txt"};
    // Rules younger than the checksums file leave out its records too.
    QTest::newRow("records below an excluded directory") << QStringList{"rules docs/", "edit docs/fox.txt"}
                                                         << QStringList();
    QTest::newRow("records of a name excluded at any depth") << QStringList{"rules f", "edit z/f", "remove Y/f"}
                                                             << QStringList();
    QTest::newRow("re-included file still checked")
        << QStringList{"rules *.txt\n!b.txt", "edit a.txt", "edit b.txt", "remove docs/fox.txt"}
        << QStringList{"modified b.txt"};
    QTest::newRow("files the rules keep still reported")
        << QStringList{"rules docs/", "edit docs/fox.txt", "remove z/f"} << QStringList{"missing z/f"};
    QTest::newRow("checksums file at the top of the tree") << QStringList{"self sums.sha256"} << QStringList();
    QTest::newRow("checksums file in a subdirectory") << QStringList{"self docs/sums.sha256"} << QStringList();
    QTest::newRow("beside it another missing file is still reported")
        << QStringList{"self sums.sha256", "record gone.txt"} << QStringList{"missing gone.txt"};
    QTest::newRow("a missing file of its name elsewhere is still reported")
        << QStringList{"self docs/sums.sha256", "record sums.sha256"} << QStringList{"missing sums.sha256"};
}

void TestStreamVerify::finds()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, report);
    for (const int jobs : jobSettings) {
        QTemporaryDir root;
        const QString tree = root.filePath("tree");
        const QList<QPair<QString, QByteArray>> files{
            {"a.txt", "one"},  {"b.txt", "two"},       {"sub/c.txt", "three"},      {"x1.txt", "same"},
            {"x2.txt", "same"}, {"in\tside.txt", "tab"}, {"docs/fox.txt", "the fox"}, {"Y/f", "why"}, {"z/f", "zed"}};
        for (const auto &file : files) {
            writeFile(tree + '/' + file.first, file.second);
            QVERIFY(setModified(tree + '/' + file.first, longAgo));
        }
        QString sums = root.filePath("sums.sha256");
        for (const QString &step : steps)
            sums = step.startsWith("self ") ? tree + '/' + step.mid(5) : sums;
        QVERIFY(writeSums(tree, sums, jobs));
        const long long reference = modifiedAt(sums);
        QVERIFY(reference > longAgo);
        for (const QString &step : steps) {
            const QString verb = step.section(' ', 0, 0);
            const QString path = tree + '/' + step.section(' ', 1, 1);
            if (verb == "self" || verb == "record") {
                const QByteArray name = step.mid(verb.size() + 1).toUtf8();
                QFile file(sums);
                QVERIFY(file.open(QIODevice::Append));
                file.write((verb == "self" ? QByteArray(64, '0') : sha256Hex(name)) + ' ' + name + "\r\n");
            } else if (verb == "rules") {
                writeFile(tree + "/.orvalenignore", step.section(' ', 1).toUtf8() + '\n');
            } else if (verb == "move") {
                const QString to = tree + '/' + step.section(' ', 1).section('>', 1);
                QVERIFY(QDir().mkpath(QFileInfo(to).absolutePath()));
                QVERIFY(QFile::rename(path.section('>', 0, 0), to));
            } else if (verb == "remove") {
                QVERIFY(QFile::remove(path));
            } else {
                writeFile(path, verb.toUtf8() + "ed");
                if (verb == "flip")
                    QVERIFY(setModified(path, longAgo));
                if (verb == "at")
                    QVERIFY(setModified(path, reference + step.section(' ', 2).toLongLong() * 1000000));
            }
        }
        QCOMPARE(verifyLines(tree, sums, jobs), report);
    }
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
        QVERIFY(writeSums(tree, sums, jobs));

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
