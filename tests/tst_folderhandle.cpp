#include "folderhandle.h"
#include "hashwrapper.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A file opened through the folder kept from the file before is the file,
// or the failure, that opening its whole path from the root gives, in any
// order of folders.
class TestFolderHandle : public QObject
{
    Q_OBJECT
private slots:
    void sameAsWholePath_data();
    void sameAsWholePath();
};

namespace {

void makeFile(const QString &path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(path.toUtf8());
}

// A folder whose path from root is longer than one call of the system
// takes, made a step at a time; its path below root.
std::string makeDeepFolder(const QString &root)
{
    const std::string step(200, 'd');
    std::string below;
    int at = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY);
    while (below.size() <= PATH_MAX) {
        if (at < 0 || ::mkdirat(at, step.c_str(), 0755) != 0)
            break;
        const int next = ::openat(at, step.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(at);
        at = next;
        below += (below.empty() ? "" : "/") + step;
    }
    if (at >= 0) {
        const int fd = ::openat(at, "deep", O_WRONLY | O_CREAT, 0644);
        if (fd >= 0)
            ::close(fd);
        ::close(at);
    }
    return below;
}

// Removes what makeDeepFolder made, from the bottom up, a step at a time.
void removeDeepFolder(const QString &root, const std::string &below)
{
    std::vector<int> fds{::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY)};
    const std::string step(200, 'd');
    for (std::size_t done = 0; done < below.size() && fds.back() >= 0; done += step.size() + 1)
        fds.push_back(::openat(fds.back(), step.c_str(), O_RDONLY | O_DIRECTORY));
    if (fds.back() >= 0)
        ::unlinkat(fds.back(), "deep", 0);
    for (std::size_t i = fds.size(); i-- > 0;) {
        if (fds[i] < 0)
            continue;
        if (i + 1 < fds.size())
            ::unlinkat(fds[i], step.c_str(), AT_REMOVEDIR);
        ::close(fds[i]);
    }
}

struct Outcome
{
    bool opened = false;
    int error = 0;
    ino_t inode = 0;
    off_t size = -1;
};

Outcome outcome(int fd, const struct stat &status)
{
    Outcome result;
    result.opened = fd >= 0;
    result.error = fd >= 0 ? 0 : errno;
    if (fd >= 0) {
        result.inode = status.st_ino;
        result.size = status.st_size;
        ::close(fd);
    }
    return result;
}

} // namespace

void TestFolderHandle::sameAsWholePath_data()
{
    QTest::addColumn<QStringList>("paths");  // below the root, opened in this order

    QTest::newRow("files of one folder, then the next")
        << QStringList{"a/b/1", "a/b/2", "a/c/1", "a/c/2", "top"};
    QTest::newRow("a folder whose name begins another's")
        << QStringList{"a/b/1", "a/bc/1", "a/b/1", "a/b/c/1", "a/b/2"};
    QTest::newRow("back and forth across levels")
        << QStringList{"top", "a/b/c/1", "a/b/1", "top", "a/b/c/1"};
    QTest::newRow("missing file, missing folder, then found")
        << QStringList{"a/b/none", "a/none/1", "a/none/2", "a/b/1"};
    QTest::newRow("a file where a folder is asked for")
        << QStringList{"a/b/1", "top/1", "a/b/2"};
    QTest::newRow("a folder where a file is asked for") << QStringList{"a/b", "a/b/c", "a/b/1"};
    QTest::newRow("through a link to a folder") << QStringList{"link/1", "a/b/2", "link/2"};
    QTest::newRow("a folder longer than one call takes") << QStringList{"a/b/1", "DEEP/deep", "a/b/2"};
}

void TestFolderHandle::sameAsWholePath()
{
    QFETCH(QStringList, paths);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *file : {"a/b/1", "a/b/2", "a/bc/1", "a/c/1", "a/c/2", "a/b/c/1", "top"})
        makeFile(dir.filePath(file));
    QVERIFY(QFile::link(dir.filePath("a/b"), dir.filePath("link")));
    const std::string deep = makeDeepFolder(dir.path());
    // Even where a row fails: QTemporaryDir cannot remove so deep a folder.
    struct Remover
    {
        const QString &root;
        const std::string &below;
        ~Remover() { removeDeepFolder(root, below); }
    } remover{dir.path(), deep};
    QVERIFY(deep.size() > PATH_MAX);

    const std::string prefix = QFile::encodeName(dir.path()).toStdString() + '/';
    const int rootFd = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(rootFd >= 0);
    FolderHandle folder(rootFd);
    for (const QString &below : paths) {
        std::string path = prefix + QFile::encodeName(below).toStdString();
        if (below.startsWith("DEEP/"))
            path = prefix + deep + below.mid(4).toStdString();
        struct stat status{};
        const Outcome whole = outcome(hashwrapper::openRegularFileBelow(rootFd, path, prefix.size(), &status),
                                      status);
        const Outcome kept = outcome(folder.openRegularFile(path, prefix.size(), &status), status);
        QVERIFY2(kept.opened == whole.opened && kept.error == whole.error && kept.inode == whole.inode
                     && kept.size == whole.size,
                 qPrintable(QStringLiteral("%1: %2 (%3) against %4 (%5)")
                                .arg(below)
                                .arg(kept.opened)
                                .arg(kept.error)
                                .arg(whole.opened)
                                .arg(whole.error)));
        // Neither way may simply fail: what exists opens.
        const bool exists = !below.contains("none") && !below.startsWith("top/") && below != "a/b"
                            && below != "a/b/c";
        QCOMPARE(whole.opened, exists);
    }
    ::close(rootFd);
}

QTEST_GUILESS_MAIN(TestFolderHandle)
#include "tst_folderhandle.moc"
