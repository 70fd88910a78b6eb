#include "compareerr.h"
#include "hashtools.h"
#include "unprivileged.h"
#include "storedindex.h"
#include "icreatehashreport.h"
#include "scanpipeline.h"
#include "storedindex.h"
#include "hashfactory.h"
#include "filereader.h"
#include "storedindex.h"
#include "treelisting.h"
#include "verifysession.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes each file of the list below root; a file's content is its own path
// unless given after '='. Directories are made as needed.
void makeTree(const QString &root, const QStringList &files)
{
    for (const QString &entry : files) {
        const QString path = entry.section(QLatin1Char('='), 0, 0);
        const QByteArray content = entry.contains(QLatin1Char('='))
            ? entry.section(QLatin1Char('='), 1).toUtf8() : path.toUtf8();
        QVERIFY(QDir(root).mkpath(QFileInfo(path).path()));
        QFile file(root + QLatin1Char('/') + path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), qint64(content.size()));
    }
}

QStringList pathsOf(const std::vector<HashRecord> &records)
{
    QStringList paths;
    for (const HashRecord &record : records)
        paths << QString::fromStdString(record.path);
    return paths;
}

std::string sha256Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toStdString();
}

class Recorder : public ICreateHashReport
{
public:
    QStringList calls;
    int cancelAt = 0;  // 1-based file number whose isCanceled answers true
    std::function<void(const QString &)> onFile;

    void reportStart(int fileCount) override { calls << QStringLiteral("start %1").arg(fileCount); }
    void reportFinish() override { calls << QStringLiteral("finish"); }
    void reportFile(const QString &relativePath) override
    {
        calls << QStringLiteral("file ") + relativePath;
        ++files;
        if (onFile)
            onFile(relativePath);
    }
    void reportError(const QString &message) override { calls << QStringLiteral("error ") + message; }
    bool isCanceled() override
    {
        // Asked while the tree is still listed, which takes long on a busy
        // machine, there is no file to stop at yet.
        if (files == 0)
            return false;
        // The engine may also ask while a file is still being hashed; the
        // sequence is the same however often it asks.
        if (calls.isEmpty() || calls.last() != QLatin1String("canceled?"))
            calls << QStringLiteral("canceled?");
        return cancelAt > 0 && files == cancelAt;
    }

private:
    int files = 0;
};

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

class TestHashTools : public QObject
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
    void reporterSequence_data();
    void reporterSequence();
    void namesAsBytes_data();
    void namesAsBytes();
    void checksumFileLeftOut_data();
    void checksumFileLeftOut();
    void unreadableDirectory_data();
    void unreadableDirectory();
    void lineFeedInName_data();
    void lineFeedInName();
    void firstFailureInListingOrder();
    void unreadableInListingOrder_data();
    void unreadableInListingOrder();
    void cancelDuringLongFile();
    void cancelWhileListing_data();
    void cancelWhileListing();
    void sameResultForAnyJobCount();
    void pipelineWindows_data();
    void pipelineWindows();
    void streamingEqualsList_data();
    void streamingEqualsList();
    void unknownAlgorithm();
    void descriptorShortage_data();
    void descriptorShortage();
    void ignoredStoredRecords_data();
    void ignoredStoredRecords();
    void malformedIgnoreFileStopsBeforeHashing_data();
    void malformedIgnoreFileStopsBeforeHashing();
    void fileChangedWhileRead_data();
    void fileChangedWhileRead();
    void damageOrEdit_data();
    void damageOrEdit();

private:
    std::unique_ptr<QTemporaryDir> stampedTrees;
};

void TestHashTools::listingOrder_data()
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

void TestHashTools::listingOrder()
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

void TestHashTools::listingMatchesQDir()
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

void TestHashTools::caseOnlyNames()
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

void TestHashTools::recordsHoldRelativePathsAndDigests()
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

void TestHashTools::links_data()
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

void TestHashTools::links()
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

void TestHashTools::sourcePathForms_data()
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

void TestHashTools::sourcePathForms()
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

void TestHashTools::reporterSequence_data()
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

void TestHashTools::reporterSequence()
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

void TestHashTools::namesAsBytes_data()
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

void TestHashTools::namesAsBytes()
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

void TestHashTools::checksumFileLeftOut_data()
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

void TestHashTools::checksumFileLeftOut()
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

void TestHashTools::unreadableDirectory_data()
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

void TestHashTools::unreadableDirectory()
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

void TestHashTools::lineFeedInName_data()
{
    QTest::addColumn<bool>("toBeWritten");
    QTest::addColumn<int>("jobs");
    QTest::newRow("to be written, one thread") << true << 1;
    QTest::newRow("to be written, workers") << true << 0;
    QTest::newRow("only compared, one thread") << false << 1;
    QTest::newRow("only compared, workers") << false << 0;
}

void TestHashTools::lineFeedInName()
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

void TestHashTools::firstFailureInListingOrder()
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

void TestHashTools::unreadableInListingOrder_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("streaming");
    QTest::newRow("one thread, listed first") << 1 << false;
    QTest::newRow("workers, listed first") << 8 << false;
    QTest::newRow("one thread, listed while hashed") << 1 << true;
    QTest::newRow("workers, listed while hashed") << 8 << true;
}

void TestHashTools::unreadableInListingOrder()
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

void TestHashTools::cancelDuringLongFile()
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

void TestHashTools::cancelWhileListing_data()
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
void TestHashTools::cancelWhileListing()
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

void TestHashTools::sameResultForAnyJobCount()
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


void TestHashTools::unknownAlgorithm()
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

void TestHashTools::pipelineWindows_data()
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

    // Windows far smaller than the tree, so that every one of them fills
    // and drains many times: a wake-up lost there hangs the run.
    QTest::newRow("one of each, windows of one") << 1 << 1 << 1 << 1 << false << 0 << 0 << 0 << 400;
    QTest::newRow("results window binds") << 2 << 4 << 3 << 64 << false << 0 << 0 << 0 << 400;
    QTest::newRow("open-ahead window binds") << 2 << 16 << 64 << 2 << false << 0 << 0 << 0 << 400;
    QTest::newRow("results window fills, open-ahead window small") << 2 << 4 << 64 << 8 << false << 0 << 0 << 0 << 400;
    QTest::newRow("more hashers than files in a window") << 8 << 3 << 4 << 4 << false << 0 << 0 << 0 << 400;
    QTest::newRow("hashers open, windows of one") << 1 << 1 << 1 << 1 << true << 0 << 0 << 0 << 400;
    QTest::newRow("hashers open, results window binds") << 2 << 4 << 3 << 64 << true << 0 << 0 << 0 << 400;
    // Where the page cache can drop files, the opening passes to the
    // openers at file 100 and may come back for the last files.
    QTest::newRow("files leave memory, openers take over") << 2 << 4 << 16 << 8 << true << 100 << 250 << 0 << 400;
    QTest::newRow("no file in memory, windows of one") << 1 << 1 << 1 << 1 << true << 0 << 400 << 0 << 400;
    // The listing on a thread of its own, held back by the caller's taking.
    QTest::newRow("listing waits, windows of one") << 1 << 1 << 1 << 1 << true << 0 << 0 << 1 << 400;
    QTest::newRow("listing waits beyond the results window") << 2 << 4 << 3 << 8 << true << 0 << 0 << 20 << 400;
    QTest::newRow("listing waits, openers open") << 2 << 4 << 16 << 8 << false << 0 << 0 << 5 << 400;
    // Enough files that the paths taken are dropped several times.
    QTest::newRow("listing waits, taken paths dropped") << 2 << 4 << 64 << 16 << true << 0 << 0 << 300 << 9000;
}

void TestHashTools::pipelineWindows()
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

void TestHashTools::streamingEqualsList_data()
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

void TestHashTools::streamingEqualsList()
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
    // before the first file.
    if (listAhead < int(records.size()) && jobs != 1)
        listed.calls.replace(0, QStringLiteral("start -1"));
    QCOMPARE(streamed.calls, listed.calls);
}

void TestHashTools::descriptorShortage_data()
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

void TestHashTools::descriptorShortage()
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

QTEST_GUILESS_MAIN(TestHashTools)
void TestHashTools::ignoredStoredRecords_data()
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

void TestHashTools::ignoredStoredRecords()
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

void TestHashTools::malformedIgnoreFileStopsBeforeHashing_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one job") << 1;
    QTest::newRow("automatic jobs") << 0;
}

// The desktop application shows the reporter's error in a box: it must come
// alone, before any file is reported.
void TestHashTools::malformedIgnoreFileStopsBeforeHashing()
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

void TestHashTools::fileChangedWhileRead_data()
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

void TestHashTools::fileChangedWhileRead()
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

void TestHashTools::damageOrEdit_data()
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
void TestHashTools::damageOrEdit()
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

#include "tst_hashtools.moc"
