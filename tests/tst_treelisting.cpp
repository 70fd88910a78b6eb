// The listing of a tree as a scan takes it: the order of the records, the
// files it leaves out, links, names as the bytes the directories gave, the
// forms of the source path, and the directories and names it cannot take.

#include "compareerr.h"
#include "hashtools.h"
#include "scantestsupport.h"
#include "treelisting.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestTreeListing : public QObject
{
    Q_OBJECT
private slots:
    void listingOrder_data();
    void listingOrder();
    void listingMatchesQDir();
    void caseOnlyNames();
    void recordsHoldRelativePathsAndDigests();
    void links_data();
    void links();
    void sourcePathForms_data();
    void sourcePathForms();
    void namesAsBytes_data();
    void namesAsBytes();
    void checksumFileLeftOut_data();
    void checksumFileLeftOut();
    void unreadableDirectory_data();
    void unreadableDirectory();
    void lineFeedInName_data();
    void lineFeedInName();
};

void TestTreeListing::listingOrder_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("files first, then subtrees, names ignoring case")
        << QStringList{"b.txt", "A.txt", "z/f", "Y/f"}
        << QStringList{"A.txt", "b.txt", "Y/f", "z/f"};
    // Lowered, '_' (0x5f) comes before the letters; raised it would follow them.
    QTest::newRow("names compared lower-cased")
        << QStringList{"Bx", "ax", "_x", "[x"}
        << QStringList{"[x", "_x", "ax", "Bx"};
    QTest::newRow("names alike in their first 16 bytes, lowered after them too")
        << QStringList{"holiday-2024-augBx1", "holiday-2024-aug_x2", "holiday-2024-aug", "holiday-2024-auga3"}
        << QStringList{"holiday-2024-aug", "holiday-2024-aug_x2", "holiday-2024-auga3", "holiday-2024-augBx1"};
    QTest::newRow("a name before its extensions")
        << QStringList{"ab", "a.b", "a", "a-b"}
        << QStringList{"a", "a-b", "a.b", "ab"};
    QTest::newRow("each subtree whole before the next")
        << QStringList{"c", "B/f", "a/f", "a/b/c/f", "a/b/e", "a/B2/g"}
        << QStringList{"c", "a/f", "a/b/e", "a/b/c/f", "a/B2/g", "B/f"};
    // U+017F lowers to itself, so it follows 't' (case folding would give 's').
    QTest::newRow("names beyond ASCII by UTF-16 code unit")
        << QStringList{QString::fromUtf8("\xc3\x89" "a"), "f", "Z", QString::fromUtf8("\xc5\xbf" "a"), "t",
                       QString::fromUtf8("\xc3\xab" "b")}
        << QStringList{"f", "t", "Z", QString::fromUtf8("\xc3\x89" "a"), QString::fromUtf8("\xc3\xab" "b"),
                       QString::fromUtf8("\xc5\xbf" "a")};
    QTest::newRow("hidden files and directories left out")
        << QStringList{".hidden", ".dir/f", "sub/.h", "sub/v", "v"}
        << QStringList{"v", "sub/v"};
    QTest::newRow("directories without files give nothing")
        << QStringList{"x/y/z/f"}
        << QStringList{"x/y/z/f"};
}

void TestTreeListing::listingOrder()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);
    QTemporaryDir root;
    makeTree(root.path(), files);
    QVERIFY(QDir(root.path()).mkpath("empty/deeper"));

    HashTools tools("sha256");
    std::vector<HashRecord> records;
    Recorder recorder;
    tools.calculateHashes(root.path(), records, &recorder);
    QCOMPARE(pathsOf(records), expected);
    QCOMPARE(recorder.calls.last(), QStringLiteral("finish"));
}

// The listing as QDir gives it, kept as the reference for the order.
static void listWithQDir(const QDir &dir, const QDir &source, QStringList &paths)
{
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::NoSort);
    for (const QFileInfo &file : files)
        paths << source.relativeFilePath(file.filePath());
    const QFileInfoList subs = dir.entryInfoList(QDir::AllDirs | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &sub : subs)
        listWithQDir(QDir(sub.filePath()), source, paths);
}

void TestTreeListing::listingMatchesQDir()
{
    QTemporaryDir root;
    const QStringList names{"a", "B", "c1", "C2", "_u", "[b", "~t", "0", "9z", "a.b", "a-b", "a b", "Ab",
                            QString::fromUtf8("\xc3\xa4"), QString::fromUtf8("\xc3\x84x"),
                            QString::fromUtf8("\xc3\x9f"), QString::fromUtf8("\xe2\x84\xaa"),
                            QString::fromUtf8("\xc4\xb0i"), QString::fromUtf8("\xf0\x9f\x98\x80"),
                            QString::fromUtf8("\xef\xbd\x81")};
    QStringList files;
    for (int i = 0; i < names.size(); ++i) {
        files << names[i];
        files << names[(i * 7) % names.size()] + "_d/" + names[(i * 3) % names.size()];
    }
    makeTree(root.path(), files);
    QStringList reference;
    listWithQDir(QDir(root.path()), QDir(root.path()), reference);

    HashTools tools("sha256");
    std::vector<HashRecord> records;
    tools.calculateHashes(root.path(), records, nullptr);
    QCOMPARE(pathsOf(records), reference);
}

void TestTreeListing::caseOnlyNames()
{
    QTemporaryDir root;
    makeTree(root.path(), {"readme", "README", "Readme.txt", "a"});
    HashTools tools("sha256");
    std::vector<HashRecord> records;
    tools.calculateHashes(root.path(), records, nullptr);
    // The two names that differ only in case are equal to the sort: both
    // listed, between their neighbours, in either order.
    const QStringList paths = pathsOf(records);
    QCOMPARE(paths.size(), 4);
    QCOMPARE(paths.first(), QStringLiteral("a"));
    QVERIFY(paths.mid(1, 2).contains("readme") && paths.mid(1, 2).contains("README"));
    QCOMPARE(paths.last(), QStringLiteral("Readme.txt"));
}

void TestTreeListing::recordsHoldRelativePathsAndDigests()
{
    QTemporaryDir root;
    const QByteArray big(5000, 'x');
    makeTree(root.path(), {"empty=", "sub/deeper/x.bin=" + QString(big), "a.txt=The quick brown fox jumps over the lazy dog",
                           QString::fromUtf8("\xc3\xbc" "ber/\xc3\xa9t\xc3\xa9.txt=u")});
    HashTools tools("sha256");
    std::vector<HashRecord> records{{"stale", "0"}};
    tools.calculateHashes(root.path() + "/", records, nullptr);
    QCOMPARE(records.size(), size_t(4));
    QCOMPARE(records[0].path, std::string("a.txt"));
    QCOMPARE(records[0].hash, std::string("d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"));
    QCOMPARE(records[1].path, std::string("empty"));
    QCOMPARE(records[1].hash, std::string("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    QCOMPARE(records[2].path, std::string("sub/deeper/x.bin"));
    QCOMPARE(records[2].hash, sha256Of(big));
    QCOMPARE(records[3].path, std::string("\xc3\xbc" "ber/\xc3\xa9t\xc3\xa9.txt"));
    QCOMPARE(records[3].hash, sha256Of("u"));
}

void TestTreeListing::links_data()
{
    QTest::addColumn<QStringList>("links");  // "name>target"
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("link to a file is hashed") << QStringList{"b>a"} << QStringList{"a", "b", "sub/s"};
    QTest::newRow("link to a directory is descended") << QStringList{"link>sub"}
                                                      << QStringList{"a", "link/s", "sub/s"};
    QTest::newRow("broken link left out") << QStringList{"b>missing"} << QStringList{"a", "sub/s"};
    QTest::newRow("link back to an ancestor is not followed") << QStringList{"sub/up>.."}
                                                             << QStringList{"a", "sub/s"};
    QTest::newRow("link to the source itself is not followed") << QStringList{"self>."}
                                                              << QStringList{"a", "sub/s"};
    QTest::newRow("two links into each other stop at the loop")
        << QStringList{"sub/x>../other", "other>sub"}
        << QStringList{"a", "other/s", "sub/s"};
    QTest::newRow("FIFO and a link to it left out") << QStringList{"fifo>|", "pipe>fifo"}
                                                   << QStringList{"a", "sub/s"};
}

void TestTreeListing::links()
{
    QFETCH(QStringList, links);
    QFETCH(QStringList, expected);
    QTemporaryDir root;
    makeTree(root.path(), {"a", "sub/s"});
    for (const QString &link : links) {
        const QString name = root.path() + "/" + link.section('>', 0, 0);
        const QString target = link.section('>', 1);
        if (target == "|")
            QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0644), 0);
        else
            QCOMPARE(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(name).constData()), 0);
    }
    HashTools tools("sha256");
    std::vector<HashRecord> records;
    Recorder recorder;
    tools.calculateHashes(root.path(), records, &recorder);
    QCOMPARE(pathsOf(records), expected);
    QCOMPARE(recorder.calls.last(), QStringLiteral("finish"));
    for (const HashRecord &record : records) {
        QFile file(root.path() + "/" + QString::fromStdString(record.path));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(record.hash, sha256Of(file.readAll()));
    }
}

void TestTreeListing::sourcePathForms_data()
{
    // The source path is given relative to the temporary directory, which
    // the test makes the working directory.
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty path: the working directory") << "" << QStringList{"top", "data/a.txt", "data/sub/b.txt"};
    QTest::newRow("relative path: records start with it") << "data" << QStringList{"data/a.txt", "data/sub/b.txt"};
    QTest::newRow("relative path with trailing slash") << "data/" << QStringList{"data/a.txt", "data/sub/b.txt"};
    QTest::newRow("relative path with dot") << "./data" << QStringList{"data/a.txt", "data/sub/b.txt"};
    QTest::newRow("unclean relative path") << "data//sub" << QStringList{"data/sub/b.txt"};
    QTest::newRow("absolute path") << "@/data" << QStringList{"a.txt", "sub/b.txt"};
    QTest::newRow("unclean absolute path") << "@//data/./sub/../" << QStringList{"a.txt", "sub/b.txt"};
    QTest::newRow("missing directory") << "@/nothing" << QStringList{};
}

void TestTreeListing::sourcePathForms()
{
    QFETCH(QString, source);
    QFETCH(QStringList, expected);
    QTemporaryDir root;
    makeTree(root.path(), {"top=top", "data/a.txt=a.txt", "data/sub/b.txt=b.txt"});
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root.path()));
    source.replace("@", root.path());

    HashTools tools("sha256");
    std::vector<HashRecord> records;
    Recorder recorder;
    tools.calculateHashes(source, records, &recorder);
    QDir::setCurrent(previous);
    QCOMPARE(pathsOf(records), expected);
    QCOMPARE(recorder.calls.first(), QStringLiteral("start %1").arg(expected.size()));
    QCOMPARE(recorder.calls.last(), QStringLiteral("finish"));
    for (const HashRecord &record : records)
        QCOMPARE(record.hash, sha256Of(QFileInfo(QString::fromStdString(record.path)).fileName().toUtf8()));
}

void TestTreeListing::namesAsBytes_data()
{
    QTest::addColumn<QByteArrayList>("names");
    QTest::addColumn<QByteArray>("changed");

    QTest::newRow("invalid UTF-8 beside U+FFFD")
        << QByteArrayList{"\xff.txt", "\xef\xbf\xbd.txt"} << QByteArray("\xff.txt");
    QTest::newRow("directories that decode alike")
        << QByteArrayList{"d\xff/f", "d\xef\xbf\xbd/f"} << QByteArray("d\xff/f");
    QTest::newRow("leading U+FEFF beside the plain name")
        << QByteArrayList{"\xef\xbb\xbfreport.txt", "report.txt"} << QByteArray("\xef\xbb\xbfreport.txt");
    QTest::newRow("invalid UTF-8 alone") << QByteArrayList{"b\xfe\xff"} << QByteArray("b\xfe\xff");
}

void TestTreeListing::namesAsBytes()
{
    QFETCH(QByteArrayList, names);
    QFETCH(QByteArray, changed);
    if (!TreeListing::keepsNameBytes)
        QSKIP("this listing sees names only as they decode");
    QTemporaryDir tree;
    const std::string root = QFile::encodeName(tree.path()).toStdString();
    // Each file holds its own name, so every digest tells which file was read.
    auto write = [&](const QByteArray &name, const QByteArray &content) {
        const std::string path = root + "/" + name.toStdString();
        const std::size_t slash = path.rfind('/');
        ::mkdir(path.substr(0, slash).c_str(), 0755);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, content.constData(), content.size()), ssize_t(content.size()));
        ::close(fd);
    };
    for (const QByteArray &name : names)
        write(name, name);

    for (const int jobs : {1, 0}) {
        HashTools tools("sha256");
        tools.setJobs(jobs);
        std::vector<HashRecord> created;
        Recorder recorder;
        tools.calculateHashes(root, created, &recorder, std::string());
        QCOMPARE(recorder.calls.last(), QStringLiteral("finish"));
        QCOMPARE(int(created.size()), names.size());
        QByteArrayList listed;
        for (const HashRecord &record : created) {
            listed << QByteArray::fromStdString(record.path);
            QCOMPARE(record.hash, sha256Of(listed.last()));
        }
        std::sort(listed.begin(), listed.end());
        QByteArrayList sortedNames = names;
        std::sort(sortedNames.begin(), sortedNames.end());
        QCOMPARE(listed, sortedNames);

        // Guarded: a change and a removal of that very file are seen.
        write(changed, "changed");
        std::vector<HashRecord> now;
        tools.calculateHashes(root, now, &recorder, std::string());
        std::vector<std::unique_ptr<CompareErr>> errors;
        tools.compare(now, created, errors);
        QCOMPARE(errors.size(), std::size_t(1));
        QCOMPARE(errors[0]->type, CompareErr::HashDiff);
        QCOMPARE(QByteArray::fromStdString(errors[0]->path), changed);

        QCOMPARE(::unlink((root + "/" + changed.toStdString()).c_str()), 0);
        tools.calculateHashes(root, now, &recorder, std::string());
        tools.compare(now, created, errors);
        QCOMPARE(errors.size(), std::size_t(1));
        QCOMPARE(errors[0]->type, CompareErr::AbsentFile);
        QCOMPARE(QByteArray::fromStdString(errors[0]->path), changed);
        write(changed, changed);
    }
}

void TestTreeListing::checksumFileLeftOut_data()
{
    QTest::addColumn<QString>("checksumFile");  // '@' stands for the tree's root
    QTest::addColumn<QStringList>("expected");

    const QStringList all{"a", "link", "sums.sha256", "sub/sums.sha256"};
    QTest::newRow("none given") << "" << all;
    QTest::newRow("absolute path") << "@/sums.sha256" << QStringList{"a", "sub/sums.sha256"};
    QTest::newRow("unclean path") << "@/sub/../sums.sha256" << QStringList{"a", "sub/sums.sha256"};
    QTest::newRow("the one in the subdirectory") << "@/sub/sums.sha256" << QStringList{"a", "link", "sums.sha256"};
    QTest::newRow("outside the tree") << "@/../elsewhere.sha256" << all;
    QTest::newRow("not yet written") << "@/new.sha256" << all;
}

void TestTreeListing::checksumFileLeftOut()
{
    QFETCH(QString, checksumFile);
    QFETCH(QStringList, expected);
    QTemporaryDir root;
    makeTree(root.path(), {"a", "sums.sha256", "sub/sums.sha256"});
    // A link to the checksums file resolves to it and is left out with it.
    QVERIFY(QFile::link("sums.sha256", root.path() + "/link"));
    HashTools tools("sha256");
    std::vector<HashRecord> records;
    tools.calculateHashes(root.path(), records, nullptr, checksumFile.replace("@", root.path()));
    QCOMPARE(pathsOf(records), expected);
}

void TestTreeListing::unreadableDirectory_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("link");  // made in "locked", leading to "a"
    QTest::addColumn<int>("mode");      // of "locked"

    QTest::newRow("cannot be listed") << QStringList{"a", "locked/x", "z"} << QString() << 0;
    // Listed, but no entry in it can be looked at: the link must not pass
    // for a dangling one.
    QTest::newRow("listed but not searchable, holding a link")
        << QStringList{"a", "z"} << "locked/link" << 0444;
}

void TestTreeListing::unreadableDirectory()
{
    QFETCH(QStringList, files);
    QFETCH(QString, link);
    QFETCH(int, mode);
    QTemporaryDir root;
    makeTree(root.path(), files);
    QVERIFY(QDir(root.path()).mkpath("locked"));
    if (!link.isEmpty())
        QVERIFY(QFile::link(root.path() + "/a", root.path() + "/" + link));
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                   | QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QByteArray locked = QFile::encodeName(root.path() + "/locked");
    QCOMPARE(::chmod(locked.constData(), mode_t(mode)), 0);

    const QByteArray result = asUnprivileged([&]() {
        HashTools tools("sha256");
        std::vector<HashRecord> records;
        Recorder recorder;
        tools.calculateHashes(root.path(), records, &recorder);
        QStringList lines = recorder.calls;
        lines << QString::number(records.size());
        tools.calculateHashes(root.path(), records, nullptr);
        lines << pathsOf(records).join(',');
        return lines.join('\n').toUtf8();
    });
    ::chmod(locked.constData(), 0700);
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QCOMPARE(QString::fromUtf8(result).split('\n'),
             (QStringList{"error Cannot read directory \"" + root.path() + "/locked\".", "0", "a,z"}));
}

void TestTreeListing::lineFeedInName_data()
{
    QTest::addColumn<bool>("toBeWritten");
    QTest::addColumn<int>("jobs");
    QTest::newRow("to be written, one thread") << true << 1;
    QTest::newRow("to be written, workers") << true << 0;
    QTest::newRow("only compared, one thread") << false << 1;
    QTest::newRow("only compared, workers") << false << 0;
}

void TestTreeListing::lineFeedInName()
{
    QFETCH(bool, toBeWritten);
    QFETCH(int, jobs);
    QTemporaryDir root;
    makeTree(root.path(), {"a", "sub/line\nfeed", "z"});

    HashTools tools("sha256");
    tools.setJobs(jobs);
    tools.setRecordsToBeWritten(toBeWritten);
    std::vector<HashRecord> records;
    Recorder recorder;
    tools.calculateHashes(root.path(), records, &recorder);
    // Refused as it is listed: no file is announced, the name shown as it is.
    if (toBeWritten)
        QCOMPARE(recorder.calls, QStringList{"error File name \"" + root.path()
                                             + "/sub/line\nfeed\" contains a line feed and cannot be stored in a "
                                               "checksums file."});
    else
        QCOMPARE(pathsOf(records), (QStringList{"a", "z", "sub/line\nfeed"}));
}

QTEST_GUILESS_MAIN(TestTreeListing)
#include "tst_treelisting.moc"
