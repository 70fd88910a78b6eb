// The tree scan under a tree's own ignore rules: which files it lists, and
// that it never opens a directory the rules leave out.

#include "enginerun.h"
#include "unprivileged.h"

#include <QScopeGuard>
#include <QTemporaryDir>

class TestTreeScan : public QObject
{
    Q_OBJECT

private slots:
    void ignoreFile_data();
    void ignoreFile();
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
    writeFile(tree + "/b.txt", "bee\n");
    writeFile(tree + "/A.txt", "ay\n");
    writeFile(tree + "/z/f", "zed");
    writeFile(tree + "/Y/f", "why");
    writeFile(tree + "/sub dir/my file.txt", "spaced out");
    writeFile(tree + "/docs/fox.txt", "The quick brown fox jumps over the lazy dog");
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
        QCOMPARE(scanned, expected);
    }
}

QTEST_GUILESS_MAIN(TestTreeScan)
#include "tst_treescan.moc"
