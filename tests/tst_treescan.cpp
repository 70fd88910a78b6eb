// The tree scan under a tree's own ignore rules (which files it lists, and
// that it never opens a directory the rules leave out) and below paths
// longer than the system takes in one call.

#include "enginerun.h"
#include "unprivileged.h"

#include <QScopeGuard>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// A tree deeper than the longest path the system takes in one call: on each
// level a file f.txt and the next level in a directory of 200 letters, with
// sides also ~side/g.txt, which sorts after it. Each file holds its path
// below dir; returns the paths in listing order.
QByteArrayList makeDeepTree(const QByteArray &dir, int levels, bool sides)
{
    QByteArrayList files;
    QByteArrayList sideFiles;
    const auto write = [](int at, const char *name, const QByteArray &content) {
        const int fd = ::openat(at, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size());
        ::close(fd);
    };
    ::mkdir(dir.constData(), 0755);
    int at = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QByteArray below;
    for (int level = 0; level < levels; ++level) {
        files << below + "f.txt";
        write(at, "f.txt", files.last());
        if (sides) {
            sideFiles.prepend(below + "~side/g.txt");
            ::mkdirat(at, "~side", 0755);
            const int side = ::openat(at, "~side", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            write(side, "g.txt", sideFiles.first());
            ::close(side);
        }
        const QByteArray name(200, char('a' + level % 26));
        ::mkdirat(at, name.constData(), 0755);
        const int next = ::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(at);
        at = next;
        below += name + '/';
    }
    ::close(at);
    return files + sideFiles;
}

} // namespace

class TestTreeScan : public QObject
{
    Q_OBJECT

private slots:
    void ignoreFile_data();
    void ignoreFile();
    void deepTree_data();
    void deepTree();
};

void TestTreeScan::ignoreFile_data()
{
    QTest::addColumn<QByteArray>("rules");   // the tree's .orvalenignore
    QTest::addColumn<QStringList>("listed"); // the files scanned

    const QStringList all{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt", "Y/f", "z/f"};
    QTest::newRow("name at any depth") << QByteArray("cache/\nf\n")
                                       << QStringList{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt"};
    QTest::newRow("anchored path") << QByteArray("# only the top one\n/cache\n\nz/f\n")
                                   << QStringList{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt", "Y/f"};
    QTest::newRow("double star across directories")
        << QByteArray("**/c?che\n**/f\n") << QStringList{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt"};
    QTest::newRow("set and negation") << QByteArray("[abc]ache/\n*.txt\n!docs/*.txt\n")
                                      << QStringList{"docs/fox.txt", "Y/f", "z/f"};
    QTest::newRow("no negation below an excluded directory")
        << QByteArray("cache/\nsub dir/\n!sub dir/my file.txt\n")
        << QStringList{"A.txt", "b.txt", "docs/fox.txt", "Y/f", "z/f"};
    QTest::newRow("closing slash spares files") << QByteArray("cache/\nf/\nb.txt/\n") << all;
}

void TestTreeScan::ignoreFile()
{
    QFETCH(QByteArray, rules);
    QFETCH(QStringList, listed);
    QTemporaryDir root;
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777)));
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    writeFile(tree + "/.orvalenignore", rules);
    // A directory the scanning user cannot read: a scan that opened it
    // would tell it.
    writeFile(tree + "/cache/blob", "cached");
    const QByteArray cache = QFile::encodeName(tree + "/cache");
    QVERIFY(::chmod(cache.constData(), 0) == 0);
    const auto unlock = qScopeGuard([&] { ::chmod(cache.constData(), 0755); });

    QByteArray expected;
    for (const QString &name : listed)
        expected += sha256Hex(readFile(tree + '/' + name)) + ' ' + name.toUtf8() + '\n';
    for (const int jobs : {1, 0}) {
        const QByteArray scanned = asUnprivileged([&] {
            HashTools tools("sha256");
            tools.setJobs(jobs);
            QByteArray records;
            tools.setUnreadableSink([&](const ReadFailure &failure) {
                records += "unreadable " + QByteArray::fromStdString(failure.path) + '\n';
                return true;
            });
            const HashTools::RecordSink keep = [&](std::string &path, std::string &digest, const FileStamp &, bool) {
                records += QByteArray::fromStdString(digest) + ' ' + QByteArray::fromStdString(path) + '\n';
                return true;
            };
            return tools.streamHashes(nativePath(tree), keep, nullptr, std::string()) ? records
                                                                                     : QByteArray("failed\n");
        });
        if (scanned.isNull())
            QSKIP("cannot run as an unprivileged user here");
        QCOMPARE(scanned, expected);
    }
}

void TestTreeScan::deepTree_data()
{
    QTest::addColumn<int>("levels");
    QTest::addColumn<bool>("sides");
    QTest::newRow("24 levels of 200-byte names") << 24 << false;
    QTest::newRow("70 levels, a side directory on each") << 70 << true;
}

void TestTreeScan::deepTree()
{
    QFETCH(int, levels);
    QFETCH(bool, sides);
    QTemporaryDir root;
    // QTemporaryDir cannot remove a tree this deep; rm(1) can.
    const auto removeAll = qScopeGuard([&] { QProcess::execute("rm", {"-rf", root.path()}); });
    const QByteArrayList files = makeDeepTree(QFile::encodeName(root.filePath("deep")), levels, sides);
    for (const int jobs : {2, 1}) {
        const QString sums = root.filePath(QStringLiteral("sums%1").arg(jobs));
        QVERIFY(writeSums(root.filePath("deep"), sums, jobs));
        QCOMPARE(readFile(sums), recordsOfSelfNamedFiles(files));
        QCOMPARE(verifyLines(root.filePath("deep"), sums, jobs), QStringList());
    }
}

QTEST_GUILESS_MAIN(TestTreeScan)
#include "tst_treescan.moc"
