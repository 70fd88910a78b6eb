#include "clijobs.h"
#include "compareerr.h"
#include "consolereport.h"
#include "filereader.h"
#include "hashrecord.h"
#include "hashtools.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <functional>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Result
{
    int code = -1;
    bool normalExit = false;
    QByteArray out;
    QByteArray err;
};

// Unless a test asks for a language, no translation may apply: the expected
// texts are the built-in English ones.
QProcessEnvironment cliEnvironment(const QString &locale = QStringLiteral("C.UTF-8"))
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LANGUAGE"));
    env.remove(QStringLiteral("LANG"));
    env.remove(QStringLiteral("LC_MESSAGES"));
    env.insert(QStringLiteral("LC_ALL"), locale);
    return env;
}

void startCli(QProcess &process, const QStringList &args, const QString &workDir,
              const QStringList &prefix = QStringList(),
              const QString &locale = QStringLiteral("C.UTF-8"))
{
    process.setWorkingDirectory(workDir);
    process.setProcessEnvironment(cliEnvironment(locale));
    if (prefix.isEmpty())
        process.start(QStringLiteral(ORVALEN_CLI), args);
    else
        process.start(prefix.first(), prefix.mid(1) + QStringList{QStringLiteral(ORVALEN_CLI)} + args);
    process.closeWriteChannel();
}

Result finish(QProcess &process)
{
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
    }
    Result r;
    r.normalExit = process.exitStatus() == QProcess::NormalExit;
    r.code = process.exitCode();
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

Result runCli(const QStringList &args, const QString &workDir,
              const QStringList &prefix = QStringList())
{
    QProcess process;
    startCli(process, args, workDir, prefix);
    return finish(process);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// File names as bytes. QFile and QProcess take names as text, and a name
// that is not valid UTF-8 would reach the file system changed: these go
// straight to the system calls.
void writeBytesFile(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    const ssize_t written = ::write(fd, content.constData(), static_cast<size_t>(content.size()));
    ::close(fd);
    QCOMPARE(written, ssize_t(content.size()));
}

QByteArray readBytesFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray("<unreadable>");
    QByteArray content;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<int>(got));
    ::close(fd);
    return content;
}

// Makes every folder on the way to a file below root.
void makeParents(const QByteArray &root, const QByteArray &relativeFile)
{
    const QList<QByteArray> parts = relativeFile.split('/');
    QByteArray dir = root;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        dir += '/' + parts.at(i);
        QVERIFY2(::mkdir(dir.constData(), 0755) == 0 || errno == EEXIST, dir.constData());
    }
}

// A program (a full path) with its arguments given as bytes, run in workDir.
Result runProgramBytes(const QByteArray &program, const QList<QByteArray> &args, const QByteArray &workDir)
{
    QTemporaryDir capture;
    const QByteArray outPath = QFile::encodeName(capture.filePath("out"));
    const QByteArray errPath = QFile::encodeName(capture.filePath("err"));
    // Everything the child needs is made before fork: in the child only
    // async-signal-safe calls may follow.
    QList<QByteArray> argStore{program};
    argStore += args;
    std::vector<char *> argv;
    for (QByteArray &arg : argStore)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    QList<QByteArray> envStore;
    const QStringList environment = cliEnvironment().toStringList();
    for (const QString &entry : environment)
        envStore << entry.toLocal8Bit();
    std::vector<char *> envp;
    for (QByteArray &entry : envStore)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    Result r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0
            || ::dup2(err, 2) < 0 || ::chdir(workDir.constData()) != 0)
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (pid < 0)
        return r;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.normalExit = WIFEXITED(status);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readBytesFile(outPath);
    r.err = readBytesFile(errPath);
    return r;
}

Result runCliBytes(const QList<QByteArray> &args, const QByteArray &workDir)
{
    return runProgramBytes(QByteArray(ORVALEN_CLI), args, workDir);
}

// A run that went on past an unreadable file or directory: it ends with 1,
// and line (a report line on stdout or a message on stderr) names it once.
bool wentOnPast(const Result &r, const QByteArray &line)
{
    const QByteArray all = r.out + r.err;
    return r.code == 1 && all.count(line + '\n') == 1
           && (all.startsWith(line + '\n') || all.contains('\n' + line + '\n'));
}

// QTemporaryDir removes its tree through names as text, and cannot remove
// a name that is not valid UTF-8; this removes the tree as bytes, first.
class ByteTreeRemover
{
public:
    explicit ByteTreeRemover(const QByteArray &root) : root(root) {}
    ~ByteTreeRemover()
    {
        ::nftw(root.constData(), [](const char *path, const struct stat *, int, struct FTW *) {
            return ::remove(path);
        }, 16, FTW_DEPTH | FTW_PHYS);
    }

private:
    QByteArray root;
};

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The lines of a checksums file in byte order: the order the tree lists
// names that decode alike is the engine's to choose.
QList<QByteArray> sortedLines(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Digest of a file's content by a coreutils tool, read from stdin so that
// the file's name cannot change the output's form.
QByteArray toolDigest(const QString &tool, const QString &path)
{
    QProcess process;
    process.setStandardInputFile(path);
    process.start(tool, QStringList());
    process.waitForFinished();
    return process.readAllStandardOutput().split(' ').value(0);
}

QByteArray sha256(const QString &path)
{
    return toolDigest(QStringLiteral("sha256sum"), path);
}

// Six files in two levels and names with spaces; the order the listing must
// give is written out by hand below.
void makeSampleTree(const QString &root)
{
    writeFile(root + "/b.txt", "bee\n");
    writeFile(root + "/A.txt", "ay\n");
    writeFile(root + "/z/f", "zed");
    writeFile(root + "/Y/f", "why");
    writeFile(root + "/sub dir/my file.txt", "spaced out");
    writeFile(root + "/docs/fox.txt", "The quick brown fox jumps over the lazy dog");
}

const char *const sampleOrder[] = {"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt", "Y/f", "z/f"};

QStringList unprivilegedPrefix()
{
    if (geteuid() != 0)
        return QStringList();
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                       QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
}

// True once the process has a file of the tree open or mapped, that is,
// once hashing has begun.
bool touchesTree(qint64 pid, const QString &tree)
{
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    QDirIterator fds(proc + "/fd", QDir::Files | QDir::System);
    while (fds.hasNext()) {
        fds.next();
        if (fds.fileInfo().symLinkTarget().startsWith(tree + '/'))
            return true;
    }
    return readFile(proc + "/maps").contains(QFile::encodeName(tree + '/'));
}

// Stops the process once it hashes the tree: the checks made before the
// scan are behind it, the writing after it still ahead. True when it was
// caught running and is stopped.
bool stopDuringScan(QProcess &process, const QString &tree)
{
    QElapsedTimer waited;
    waited.start();
    // Waiting on the process, not sleeping: only then does its state follow.
    while (process.state() == QProcess::Running && !touchesTree(process.processId(), tree)
           && waited.elapsed() < 60000)
        process.waitForFinished(1);
    const pid_t pid = static_cast<pid_t>(process.processId());
    if (process.state() != QProcess::Running || ::kill(pid, SIGSTOP) != 0)
        return false;
    // The state field of /proc/PID/stat, after the name in parentheses: "T"
    // once stopped, "Z" had it ended meanwhile.
    const QString stat = QStringLiteral("/proc/%1/stat").arg(pid);
    for (;;) {
        const QByteArray line = readFile(stat);
        const int close = line.lastIndexOf(')');
        const QByteArray state = close < 0 ? QByteArray("Z") : line.mid(close + 2, 1);
        if (state == "T" || state == "Z" || state == "X")
            return state == "T";
        QThread::msleep(1);
    }
}

// A tree whose hashing takes a while: a sparse file of 256 MiB after a small
// one.
void makeSlowTree(const QString &tree)
{
    writeFile(tree + "/a.txt", "ay\n");
    QFile big(tree + "/big.bin");
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(qint64(256) << 20));
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

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

// The lines of a checksums file for files that hold their own paths.
QByteArray recordsOfSelfNamedFiles(const QByteArrayList &paths)
{
    QByteArray lines;
    for (const QByteArray &path : paths)
        lines += sha256Hex(path) + ' ' + path + "\r\n";
    return lines;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void createThenVerifyIsClean_data();
    void createThenVerifyIsClean();
    void checksumsFileBytes_data();
    void checksumsFileBytes();
    void verifyReport_data();
    void verifyReport();
    void verifyReportEscapesNames_data();
    void verifyReportEscapesNames();
    void namesAsBytes_data();
    void namesAsBytes();
    void failures_data();
    void failures();
    void unprivilegedFailures_data();
    void unprivilegedFailures();
    void unusableChecksumsFileStopsVerifyBeforeHashing_data();
    void unusableChecksumsFileStopsVerifyBeforeHashing();
    void argumentsQtWouldTakeArePaths_data();
    void argumentsQtWouldTakeArePaths();
    void createRefusedBeforeHashing_data();
    void createRefusedBeforeHashing();
    void createFailsAtTheEndOnFullDisk();
    void interrupt_data();
    void interrupt();
    void digestMatchesCoreutils_data();
    void digestMatchesCoreutils();
    void digestOfUnreadableFiles();
    void progressOnlyOnTerminal_data();
    void progressOnlyOnTerminal();
    void helpDocumentsExitCodes();
    void translatedMessages_data();
    void translatedMessages();
    void unwritableOutputIsAnError_data();
    void unwritableOutputIsAnError();
    void sourceDirectoryAsResolved_data();
    void sourceDirectoryAsResolved();
    void unprivilegedNamedFailures_data();
    void unprivilegedNamedFailures();
    void checksumsFileListingItself_data();
    void checksumsFileListingItself();
    void progressLineEscapesNames_data();
    void progressLineEscapesNames();
    void machineLimits_data();
    void machineLimits();
    void addressSpaceLimit();
    void ignoreFileOnCreate_data();
    void ignoreFileOnCreate();
    void ignoreFileOnVerify_data();
    void ignoreFileOnVerify();
    void damageOrEdit_data();
    void damageOrEdit();
    void changedWhileRead_data();
    void changedWhileRead();
    void moves_data();
    void moves();
    void updateEqualsCreate_data();
    void updateEqualsCreate();
    void updateAccepts_data();
    void updateAccepts();
    void jsonVerifyReport_data();
    void jsonVerifyReport();
    void jsonSummary_data();
    void jsonSummary();
    void changingFileNamed_data();
    void changingFileNamed();
    void sliceOfPath_data();
    void sliceOfPath();
    void subsetReadsEachFileOnce_data();
    void subsetReadsEachFileOnce();
    void subsetArgument_data();
    void subsetArgument();
    void subsetNextSlice_data();
    void subsetNextSlice();
    void verifyWithoutListsAsWithLists_data();
    void verifyWithoutListsAsWithLists();
    void folderMovedDuringCreate_data();
    void folderMovedDuringCreate();
    void rewrittenInPlaceWithoutItsTime();
    void failingDisk_data();
    void failingDisk();
    void brokenExt4Image_data();
    void brokenExt4Image();
};

void TestCli::createThenVerifyIsClean_data()
{
    QTest::addColumn<QString>("sumsName");     // relative to the temporary root
    QTest::addColumn<bool>("relativeSource");  // pass "tree" instead of the full path
    QTest::addColumn<bool>("emptyTree");
    QTest::addColumn<int>("fileCount");

    QTest::newRow("checksums file beside the tree") << "sums.sha256" << false << false << 6;
    QTest::newRow("checksums file inside the tree") << "tree/sums.sha256" << false << false << 6;
    QTest::newRow("source given relative to the working directory") << "sums.sha256" << true << false << 6;
    QTest::newRow("empty tree") << "sums.sha256" << false << true << 0;
}

void TestCli::createThenVerifyIsClean()
{
    QFETCH(QString, sumsName);
    QFETCH(bool, relativeSource);
    QFETCH(bool, emptyTree);
    QFETCH(int, fileCount);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    QVERIFY(QDir().mkpath(tree));
    if (!emptyTree)
        makeSampleTree(tree);
    const QString sums = root.filePath(sumsName);

    const Result created = runCli({"create", relativeSource ? QString("tree") : tree, sumsName}, root.path());
    QCOMPARE(created.err, QByteArray());
    QVERIFY(created.normalExit);
    QCOMPARE(created.code, 0);
    const QByteArray digest = sha256(sums);
    QCOMPARE(created.out, digest + '\n');
    if (emptyTree)
        QCOMPARE(readFile(sums), QByteArray());

    // Verified from elsewhere, with full paths: the records must not depend
    // on the working directory of the create run.
    const Result verified = runCli({"verify", tree, sums}, QDir::rootPath());
    QCOMPARE(verified.out, QByteArray());
    QCOMPARE(verified.err, digest + "\n" + QByteArray::number(fileCount)
                               + " files checked: 0 changed, 0 new, 0 missing\n");
    QCOMPARE(verified.code, 0);

    const Result quiet = runCli({"--quiet", "verify", tree, sums}, root.path());
    QCOMPARE(quiet.out, QByteArray());
    QCOMPARE(quiet.err, QByteArray());
    QCOMPARE(quiet.code, 0);
}

void TestCli::checksumsFileBytes_data()
{
    QTest::addColumn<QString>("sumsName");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("checksums file outside the tree") << "sums.sha256" << QStringList();
    QTest::newRow("checksums file inside the tree is left out") << "tree/sums.sha256" << QStringList();
    QTest::newRow("one file after another") << "tree/sums.sha256" << QStringList{"--jobs", "1"};
    QTest::newRow("eight files at once") << "tree/sums.sha256" << QStringList{"-j8"};
}

void TestCli::checksumsFileBytes()
{
    QFETCH(QString, sumsName);
    QFETCH(QStringList, options);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    const QString sums = root.filePath(sumsName);
    // An old, longer checksums file must leave no trace.
    writeFile(sums, QByteArray(5000, 'x'));

    QByteArray expected;
    for (const char *name : sampleOrder)
        expected += sha256(tree + '/' + name) + ' ' + name + "\r\n";
    QVERIFY(expected.contains("d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592 docs/fox.txt\r\n"));

    const Result created = runCli(options + QStringList{"create", tree, sums}, root.path());
    QCOMPARE(created.err, QByteArray());
    QCOMPARE(created.code, 0);
    QCOMPARE(readFile(sums), expected);

    // The engine as the desktop application drives it, on the same tree.
    HashTools engine("sha256");
    std::vector<HashRecord> records;
    engine.calculateHashes(tree, records, nullptr, sums);
    const QString engineSums = root.filePath("engine.sha256");
    QVERIFY(!engine.saveDB(engineSums.toLocal8Bit().toStdString(), records).empty());
    QCOMPARE(readFile(sums), readFile(engineSums));
}

void TestCli::verifyReport_data()
{
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QByteArray>("summary");

    QTest::newRow("one file changed")
        << QStringList{"b.txt"} << QStringList() << QStringList()
        << QByteArray("b.txt\tChecksums does not match\n")
        << QByteArray("5 files checked: 1 changed, 0 new, 0 missing");
    QTest::newRow("one file added")
        << QStringList() << QStringList{"sub/e.txt"} << QStringList()
        << QByteArray("sub/e.txt\tNew file\n")
        << QByteArray("6 files checked: 0 changed, 1 new, 0 missing");
    QTest::newRow("one file deleted")
        << QStringList() << QStringList() << QStringList{"c.txt"}
        << QByteArray("c.txt\tFile not found\n")
        << QByteArray("4 files checked: 0 changed, 0 new, 1 missing");
    // New and changed files in scan order, then missing ones in the order
    // of the checksums file.
    QTest::newRow("all three kinds")
        << QStringList{"b.txt", "sub/d.txt"} << QStringList{"0new.txt", "sub/e.txt"}
        << QStringList{"c.txt", "a.txt"}
        << QByteArray("0new.txt\tNew file\n"
                      "b.txt\tChecksums does not match\n"
                      "sub/d.txt\tChecksums does not match\n"
                      "sub/e.txt\tNew file\n"
                      "a.txt\tFile not found\n"
                      "c.txt\tFile not found\n")
        << QByteArray("5 files checked: 2 changed, 2 new, 2 missing");
    QTest::newRow("percent signs in a name are printed as they are")
        << QStringList{"100%1 off.txt"} << QStringList() << QStringList()
        << QByteArray("100%1 off.txt\tChecksums does not match\n")
        << QByteArray("5 files checked: 1 changed, 0 new, 0 missing");
}

void TestCli::verifyReport()
{
    QFETCH(QStringList, changed);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QFETCH(QByteArray, report);
    QFETCH(QByteArray, summary);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    for (const char *name : {"a.txt", "b.txt", "c.txt", "sub/d.txt", "100%1 off.txt"})
        writeFile(tree + '/' + name, QByteArray("original ") + name);
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);
    const QByteArray digest = sha256(sums);

    for (const QString &name : changed)
        writeFile(tree + '/' + name, "changed");
    for (const QString &name : added)
        writeFile(tree + '/' + name, "added");
    for (const QString &name : removed)
        QVERIFY(QFile::remove(tree + '/' + name));

    const Result verified = runCli({"verify", tree, sums}, root.path());
    QCOMPARE(verified.out, report);
    QCOMPARE(verified.err, digest + '\n' + summary + '\n');
    QCOMPARE(verified.code, 1);

    const Result quiet = runCli({"verify", "-q", tree, sums}, root.path());
    QCOMPARE(quiet.out, report);
    QCOMPARE(quiet.err, QByteArray());
    QCOMPARE(quiet.code, 1);
}

void TestCli::verifyReportEscapesNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("change");  // what happens to the file after create
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("line feed and tab cannot forge a second discrepancy")
        << QByteArray("x\nb.txt\tFile not found") << "added"
        << QByteArray("\\x\\nb.txt\\tFile not found\tNew file\n");
    QTest::newRow("carriage return")
        << QByteArray("cr\r.txt") << "added" << QByteArray("\\cr\\r.txt\tNew file\n");
    QTest::newRow("other control bytes and DEL in lowercase hex")
        << QByteArray("bell\x07\x1b\x1f\x7f.txt") << "added"
        << QByteArray("\\bell\\x07\\x1b\\x1f\\x7f.txt\tNew file\n");
    QTest::newRow("backslash in a changed file")
        << QByteArray("back\\slash.txt") << "changed"
        << QByteArray("\\back\\\\slash.txt\tChecksums does not match\n");
    QTest::newRow("tab in a missing file")
        << QByteArray("tab\there.txt") << "removed" << QByteArray("\\tab\\there.txt\tFile not found\n");
    QTest::newRow("space and non-ASCII need no escape")
        << QByteArray("caf\xc3\xa9 au lait.txt") << "added" << QByteArray("caf\xc3\xa9 au lait.txt\tNew file\n");
}

void TestCli::verifyReportEscapesNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, change);
    QFETCH(QByteArray, line);

    QTemporaryDir rootDir;
    QVERIFY(rootDir.isValid());
    const QByteArray root = QFile::encodeName(rootDir.path());
    const QByteArray tree = root + "/tree";
    QVERIFY(::mkdir(tree.constData(), 0755) == 0);
    writeBytesFile(tree + "/plain.txt", "plain");
    if (change != "added")
        writeBytesFile(tree + '/' + name, "before");
    const Result created = runCliBytes({"create", "tree", "sums.sha256"}, root);
    QCOMPARE(created.err, QByteArray());
    QCOMPARE(created.code, 0);

    if (change == "removed")
        QVERIFY(::unlink((tree + '/' + name).constData()) == 0);
    else
        writeBytesFile(tree + '/' + name, "after");

    const Result verified = runCliBytes({"-q", "verify", "tree", "sums.sha256"}, root);
    QCOMPARE(verified.out, line);
    QCOMPARE(verified.err, QByteArray());
    QCOMPARE(verified.code, 1);
}

void TestCli::namesAsBytes_data()
{
    QTest::addColumn<QList<QByteArray>>("files");  // below the tree
    QTest::addColumn<QByteArray>("target");        // changed, then deleted
    QTest::addColumn<QByteArray>("sumsName");      // below the temporary root

    // \xef\xbf\xbd is U+FFFD, what a lossy decoder makes of \xff; \xef\xbb\xbf
    // is U+FEFF, which a decoder may drop at the start of a name.
    QTest::newRow("invalid UTF-8 name beside the name it decodes to")
        << QList<QByteArray>{"\xff.txt", "\xef\xbf\xbd.txt"} << QByteArray("\xff.txt")
        << QByteArray("sums.sha256");
    QTest::newRow("directories whose names decode alike")
        << QList<QByteArray>{"d\xff/f.txt", "d\xef\xbf\xbd/f.txt"} << QByteArray("d\xff/f.txt")
        << QByteArray("sums.sha256");
    QTest::newRow("name starting with U+FEFF beside its twin, at the top")
        << QList<QByteArray>{"\xef\xbb\xbfreport.txt", "report.txt"}
        << QByteArray("\xef\xbb\xbfreport.txt") << QByteArray("sums.sha256");
    QTest::newRow("lone invalid UTF-8 name")
        << QList<QByteArray>{"caf\xe9.txt", "plain.txt"} << QByteArray("caf\xe9.txt")
        << QByteArray("sums.sha256");
    QTest::newRow("checksums file named in invalid UTF-8")
        << QList<QByteArray>{"a.txt"} << QByteArray("a.txt") << QByteArray("s\xff.sha256");
    QTest::newRow("checksums file named in invalid UTF-8 inside the tree is left out")
        << QList<QByteArray>{"a.txt"} << QByteArray("a.txt") << QByteArray("tree/s\xff.sha256");
}

void TestCli::namesAsBytes()
{
    QFETCH(QList<QByteArray>, files);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, sumsName);

    QTemporaryDir rootDir;
    QVERIFY(rootDir.isValid());
    const QByteArray root = QFile::encodeName(rootDir.path());
    const ByteTreeRemover remover(root);
    const QByteArray tree = root + "/tree";
    QVERIFY(::mkdir(tree.constData(), 0755) == 0);
    QByteArray expected;
    for (const QByteArray &file : files) {
        makeParents(tree, file);
        const QByteArray content = "content of " + file;
        writeBytesFile(tree + '/' + file, content);
        expected += sha256Hex(content) + ' ' + file + "\r\n";
    }

    const Result created = runCliBytes({"create", "tree", sumsName}, root);
    QCOMPARE(created.err, QByteArray());
    QCOMPARE(created.code, 0);
    const QByteArray sums = readBytesFile(root + '/' + sumsName);
    QCOMPARE(created.out, sha256Hex(sums) + '\n');
    QCOMPARE(sortedLines(sums), sortedLines(expected));

    const QList<QByteArray> verify{"-q", "verify", "tree", sumsName};
    const Result clean = runCliBytes(verify, root);
    QCOMPARE(clean.out, QByteArray());
    QCOMPARE(clean.err, QByteArray());
    QCOMPARE(clean.code, 0);

    writeBytesFile(tree + '/' + target, "changed");
    const Result changed = runCliBytes(verify, root);
    QCOMPARE(changed.out, target + "\tChecksums does not match\n");
    QCOMPARE(changed.code, 1);

    QVERIFY(::unlink((tree + '/' + target).constData()) == 0);
    const Result deleted = runCliBytes(verify, root);
    QCOMPARE(deleted.out, target + "\tFile not found\n");
    QCOMPARE(deleted.code, 1);
}

void TestCli::failures_data()
{
    // Paths: %T the tree, %S the checksums file, %R the temporary root.
    // sums: what %S is beforehand: nothing, a file holding "old\r\n", a FIFO.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("sums");
    QTest::addColumn<QByteArray>("message");  // whole stderr, or its first line

    QTest::newRow("create: missing directory")
        << QStringList{"create", "%R/none", "%S"} << "old" << QByteArray("Directory is not exists");
    QTest::newRow("create: missing directory is reported before an empty file name")
        << QStringList{"create", "%R/none", ""} << "" << QByteArray("Directory is not exists");
    QTest::newRow("create: a file given as directory")
        << QStringList{"create", "%T/a.txt", "%S"} << "" << QByteArray("Directory is not exists");
    QTest::newRow("create: empty file name")
        << QStringList{"create", "%T", ""} << "" << QByteArray("File name is not specified");
    QTest::newRow("create: checksums file in a missing folder")
        << QStringList{"create", "%T", "%R/none/sums.sha256"} << ""
        << QByteArray("Cannot write checksums file \"%R/none/sums.sha256\": No such file or directory.");
    QTest::newRow("create: checksums file name is a directory")
        << QStringList{"create", "%T", "%R"} << "" << QByteArray("Cannot write checksums file \"%R\": Is a directory.");
    QTest::newRow("verify: missing directory")
        << QStringList{"verify", "%R/none", "%S"} << "old" << QByteArray("Directory is not exists");
    QTest::newRow("verify: missing checksums file is named")
        << QStringList{"verify", "%T", "%S"} << "" << QByteArray("Checksums file \"%S\" does not exist.");
    QTest::newRow("verify: missing checksums file is named with its controls escaped")
        << QStringList{"verify", "%T", "%R/new\x1b[2J\tsums"} << ""
        << QByteArray("Checksums file \"%R/new\\x1b[2J\\tsums\" does not exist.");
    QTest::newRow("create: empty source directory is not the working directory")
        << QStringList{"create", "", "%S"} << "old" << QByteArray("Directory is not exists");
    QTest::newRow("verify: empty source directory is not the working directory")
        << QStringList{"verify", "", "%S"} << "old" << QByteArray("Directory is not exists");
    QTest::newRow("verify: empty file name")
        << QStringList{"verify", "%T", ""} << "" << QByteArray("File name is not specified");
    QTest::newRow("verify: checksums file name is a directory")
        << QStringList{"verify", "%T", "%R"} << ""
        << QByteArray("Cannot read checksums file \"%R\": Is a directory.");
    QTest::newRow("create: checksums file is a FIFO")
        << QStringList{"create", "%T", "%S"} << "fifo"
        << QByteArray("Cannot write checksums file \"%S\": Invalid argument.");
    QTest::newRow("verify: checksums file is a FIFO")
        << QStringList{"verify", "%T", "%S"} << "fifo"
        << QByteArray("Cannot read checksums file \"%S\": Not a regular file.");
    QTest::newRow("quiet still reports errors")
        << QStringList{"--quiet", "create", "%R/none", "%S"} << "old" << QByteArray("Directory is not exists");
    QTest::newRow("no arguments") << QStringList() << "" << QByteArray();
    QTest::newRow("unknown command") << QStringList{"check", "%T", "%S"} << "old" << QByteArray();
    QTest::newRow("create without checksums file") << QStringList{"create", "%T"} << "" << QByteArray();
    QTest::newRow("verify with an extra path") << QStringList{"verify", "%T", "%S", "%S"} << "old" << QByteArray();
    QTest::newRow("unknown option") << QStringList{"create", "--fast", "%T", "%S"} << "old" << QByteArray();
    QTest::newRow("algorithm option on create")
        << QStringList{"create", "--algorithm", "md5", "%T", "%S"} << "old" << QByteArray();
    QTest::newRow("digest: unknown algorithm")
        << QStringList{"digest", "--algorithm", "sha224", "%T/a.txt"} << "" << QByteArray();
    QTest::newRow("digest: algorithm written with a hyphen")
        << QStringList{"digest", "-a", "SHA-256", "%T/a.txt"} << "" << QByteArray();
    QTest::newRow("digest: no file") << QStringList{"digest"} << "" << QByteArray();
    QTest::newRow("jobs: zero") << QStringList{"create", "--jobs", "0", "%T", "%S"} << "old" << QByteArray();
    QTest::newRow("jobs: not a number") << QStringList{"verify", "-j", "two", "%T", "%S"} << "old" << QByteArray();
    QTest::newRow("jobs: a sign") << QStringList{"create", "--jobs=+2", "%T", "%S"} << "old" << QByteArray();
    QTest::newRow("jobs: no value") << QStringList{"create", "%T", "%S", "--jobs"} << "old" << QByteArray();
    QTest::newRow("jobs: on digest") << QStringList{"digest", "-j", "2", "%T/a.txt"} << "" << QByteArray();
}

void TestCli::failures()
{
    QFETCH(QStringList, args);
    QFETCH(QString, sums);
    QFETCH(QByteArray, message);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    writeFile(tree + "/a.txt", "a");
    const QString sumsPath = root.filePath("sums.sha256");
    if (sums == "old")
        writeFile(sumsPath, "old\r\n");
    if (sums == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(sumsPath).constData(), 0644) == 0);
    for (QString &arg : args)
        arg.replace("%T", tree).replace("%S", sumsPath).replace("%R", root.path());
    message.replace("%S", sumsPath.toUtf8()).replace("%R", root.path().toUtf8());
    const QStringList before = entries(root.path());

    const Result r = runCli(args, root.path());
    QVERIFY(r.normalExit);
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QByteArray());
    if (message.isEmpty()) {
        // Bad arguments: a reason and a pointer to --help.
        QVERIFY2(r.err.contains("--help") && r.err.count('\n') >= 2, r.err.constData());
    } else {
        QCOMPARE(r.err, message + '\n');
    }
    QCOMPARE(entries(root.path()), before);
    if (sums == "old")
        QCOMPARE(readFile(sumsPath), QByteArray("old\r\n"));
    if (sums == "fifo")
        QVERIFY(QFileInfo(sumsPath).isFile() == false && QFileInfo::exists(sumsPath));
}

void TestCli::unprivilegedFailures_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("locked");  // made inaccessible, relative to the root
    QTest::addColumn<int>("lockedMode");
    QTest::addColumn<QString>("message"); // %R: the temporary root

    QTest::newRow("verify: unreadable checksums file")
        << "verify" << "sums.sha256" << 0 << "Cannot read checksums file \"%R/sums.sha256\": Permission denied.";
    QTest::newRow("create: read-only checksums file")
        << "create" << "sums.sha256" << 0444 << "Cannot write checksums file \"%R/sums.sha256\": Permission denied.";
    // An unreadable entry of the tree is named, and the run goes on.
    QTest::newRow("create: unreadable file in the tree")
        << "create" << "tree/b.txt" << 0 << "Cannot read file \"%R/tree/b.txt\": Permission denied.";
    QTest::newRow("verify: unreadable file in the tree")
        << "verify" << "tree/b.txt" << 0 << "b.txt\tCannot read file: Permission denied";
    QTest::newRow("create: unreadable directory in the tree")
        << "create" << "tree/Y" << 0 << "Cannot read directory \"%R/tree/Y\": Permission denied.";
}

void TestCli::unprivilegedFailures()
{
    QFETCH(QString, command);
    QFETCH(QString, locked);
    QFETCH(int, lockedMode);
    QFETCH(QString, message);

    const QStringList prefix = unprivilegedPrefix();
    if (!prefix.isEmpty() && QStandardPaths::findExecutable(prefix.first()).isEmpty())
        QSKIP("running as root without setpriv: file modes cannot be tested");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    const QString sums = root.filePath("sums.sha256");
    const QByteArray old = sha256Hex("old") + " old\r\n";
    writeFile(sums, old);
    // The unprivileged user may write into the root and the checksums file,
    // so a refusal can only come from the locked entry.
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777)));
    QVERIFY(::chmod(QFile::encodeName(sums).constData(), 0666) == 0);
    const QString lockedPath = root.filePath(locked);
    QVERIFY(::chmod(QFile::encodeName(lockedPath).constData(), static_cast<mode_t>(lockedMode)) == 0);

    const Result r = runCli({command, tree, sums}, root.path(), prefix);
    ::chmod(QFile::encodeName(lockedPath).constData(), 0755);

    QVERIFY(r.normalExit);
    if (locked.startsWith("tree/")) {
        QVERIFY2(wentOnPast(r, message.replace("%R", root.path()).toUtf8()), r.out + r.err);
        return;
    }
    QCOMPARE(r.err, message.replace("%R", root.path()).toUtf8() + '\n');
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(readFile(sums), old);
    QCOMPARE(entries(root.path()), QStringList({"sums.sha256", "tree"}));
}

void TestCli::unusableChecksumsFileStopsVerifyBeforeHashing_data()
{
    QTest::addColumn<QByteArray>("name");     // of the checksums file, in the temporary root
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("message");  // %R: the temporary root

    const QByteArray record = sha256Hex("bee\n") + " b.txt\r\n";
    QTest::newRow("README-like text") << QByteArray("README.md") << QByteArray("# Tree\n\nSee below.\n") << 0644
                                      << QByteArray("\"%R/README.md\" is not a checksums file.");
    QTest::newRow("name with control bytes, escaped")
        << QByteArray("sums\033]0;x\a") << QByteArray("text\n") << 0644
        << QByteArray("\"%R/sums\\x1b]0;x\\x07\" is not a checksums file.");
    QTest::newRow("unreadable checksums file")
        << QByteArray("sums.sha256") << record << 0
        << QByteArray("Cannot read checksums file \"%R/sums.sha256\": Permission denied.");
    // The locked file in the tree shows where hashing begins.
    QTest::newRow("a record among junk: hashing begins")
        << QByteArray("sums.sha256") << "junk\r\n" + record << 0644
        << QByteArray("b.txt\tCannot read file: Permission denied");
}

void TestCli::unusableChecksumsFileStopsVerifyBeforeHashing()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(QByteArray, message);
    if (geteuid() == 0 && QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("running as root without setpriv: file modes cannot be tested");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QByteArray rootPath = QFile::encodeName(root.path());
    QVERIFY(::chmod(rootPath.constData(), 0755) == 0);
    makeSampleTree(root.filePath("tree"));
    QVERIFY(::chmod(QFile::encodeName(root.filePath("tree/b.txt")).constData(), 0) == 0);
    const QByteArray sums = rootPath + '/' + name;
    writeBytesFile(sums, content);
    QVERIFY(::chmod(sums.constData(), static_cast<mode_t>(mode)) == 0);

    QList<QByteArray> args{"verify", QFile::encodeName(root.filePath("tree")), sums};
    if (geteuid() == 0)
        args = QList<QByteArray>{"--reuid=65534", "--regid=65534", "--clear-groups", ORVALEN_CLI} + args;
    const Result r = geteuid() == 0
        ? runProgramBytes(QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("setpriv"))), args, rootPath)
        : runCliBytes(args, rootPath);
    ::chmod(QFile::encodeName(root.filePath("tree/b.txt")).constData(), 0644);
    ::unlink(sums.constData());

    QVERIFY(r.normalExit);
    if (content.startsWith("junk")) {
        QVERIFY2(wentOnPast(r, message), r.out + r.err);
        return;
    }
    QCOMPARE(r.err, message.replace("%R", rootPath) + '\n');
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QByteArray());
}

void TestCli::argumentsQtWouldTakeArePaths_data()
{
    QTest::addColumn<QStringList>("files");  // given to digest after "--"

    QTest::newRow("-qmljsdebugger=x") << QStringList{"a.txt", "-qmljsdebugger=x"};
    QTest::newRow("-qmljsdebugger and the next name") << QStringList{"-qmljsdebugger", "a.txt"};
    QTest::newRow("--qmljsdebugger=x") << QStringList{"--qmljsdebugger=x"};
}

void TestCli::argumentsQtWouldTakeArePaths()
{
    QFETCH(QStringList, files);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QByteArray expected;
    for (const QString &file : files) {
        writeFile(root.filePath(file), file.toUtf8());
        expected += sha256Hex(file.toUtf8()) + "  " + file.toUtf8() + '\n';
    }

    const Result r = runCli(QStringList{"digest", "--"} + files, root.path());
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, expected);
}

void TestCli::createRefusedBeforeHashing_data()
{
    QTest::addColumn<QString>("target");   // relative to the temporary root
    QTest::addColumn<QString>("message");  // %R: the temporary root

    QTest::newRow("read-only folder")
        << "ro/sums.sha256" << "Cannot write checksums file \"%R/ro/sums.sha256\": Permission denied.";
    QTest::newRow("folder given as the file") << "ro" << "Cannot write checksums file \"%R/ro\": Is a directory.";
    QTest::newRow("control byte in the name is escaped")
        << "ro/tab\there" << "Cannot write checksums file \"%R/ro/tab\\there\": Permission denied.";
}

void TestCli::createRefusedBeforeHashing()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    const QStringList prefix = unprivilegedPrefix();
    if (!prefix.isEmpty() && QStandardPaths::findExecutable(prefix.first()).isEmpty())
        QSKIP("running as root without setpriv: file modes cannot be tested");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    QVERIFY(QDir(root.path()).mkdir("ro"));
    QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(root.filePath("ro")).constData(), 0555) == 0);
    // Hashing would stop at this file: only a check made before the scan
    // can report the checksums file.
    QVERIFY(::chmod(QFile::encodeName(tree + "/b.txt").constData(), 0) == 0);

    const Result r = runCli({"create", tree, root.filePath(target)}, root.path(), prefix);
    QVERIFY(r.normalExit);
    QCOMPARE(r.err, message.replace("%R", root.path()).toUtf8() + '\n');
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(entries(root.filePath("ro")), QStringList());
}

void TestCli::createFailsAtTheEndOnFullDisk()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    // Some 1,500 lines of about 80 bytes: more than the 64 KiB that fit.
    for (int i = 0; i < 1500; ++i)
        writeFile(tree + QStringLiteral("/file%1").arg(i), QByteArray::number(i));
    const QString disk = root.filePath("disk");
    QVERIFY(QDir(root.path()).mkdir("disk"));
    if (::mount("orvalen-test", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    const QString sums = disk + "/sums.sha256";
    writeFile(sums, "old\r\n");
    const Result r = runCli({"create", tree, sums}, root.path());
    const QByteArray after = readFile(sums);
    const QStringList left = entries(disk);
    ::umount(QFile::encodeName(disk).constData());

    QVERIFY(r.normalExit);
    QCOMPARE(r.err, "Cannot write checksums file \"" + sums.toUtf8() + "\": No space left on device.\n");
    QCOMPARE(r.code, 2);
    QCOMPARE(after, QByteArray("old\r\n"));
    QCOMPARE(left, QStringList{"sums.sha256"});
}

void TestCli::interrupt_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("second");  // sent right after the first, 0 for none
    QTest::newRow("create, SIGINT") << "create" << int(SIGINT) << 0;
    QTest::newRow("create, SIGTERM") << "create" << int(SIGTERM) << 0;
    QTest::newRow("create, SIGHUP") << "create" << int(SIGHUP) << 0;
    QTest::newRow("create, SIGINT then SIGTERM: no temporary file left")
        << "create" << int(SIGINT) << int(SIGTERM);
    QTest::newRow("verify, SIGINT") << "verify" << int(SIGINT) << 0;
    QTest::newRow("digest, SIGTERM") << "digest" << int(SIGTERM) << 0;
    QTest::newRow("digest --check, SIGINT") << "digest --check" << int(SIGINT) << 0;
}

void TestCli::interrupt()
{
    QFETCH(QString, command);
    QFETCH(int, signal);
    QFETCH(int, second);
    if (!QFileInfo::exists(QStringLiteral("/proc/self/fd")))
        QSKIP("needs /proc to see when hashing has begun");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    QVERIFY(QDir().mkpath(tree));
    // 2 GiB of holes: seconds of work at any hashing speed, no disk space.
    for (int i = 0; i < 64; ++i) {
        QFile file(QStringLiteral("%1/big%2.bin").arg(tree).arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(32) << 20));
    }
    const QString sums = root.filePath("sums.sha256");
    const QByteArray old = sha256Hex("old") + " old line\r\n";
    writeFile(sums, old);

    QProcess process;
    QStringList args{command, tree, sums};
    if (command == "digest") {
        args = QStringList{command};
        const QStringList names = QDir(tree).entryList(QDir::Files);
        for (const QString &name : names)
            args << tree + '/' + name;
    } else if (command == "digest --check") {
        QByteArray list;
        const QStringList names = QDir(tree).entryList(QDir::Files);
        for (const QString &name : names)
            list += sha256Hex("other") + "  " + QFile::encodeName(tree + '/' + name) + '\n';
        writeFile(tree + "/list", list);
        args = QStringList{"digest", "--check", tree + "/list"};
    }
    startCli(process, args, root.path());
    QVERIFY(process.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (!touchesTree(process.processId(), tree) && process.state() == QProcess::Running
           && waited.elapsed() < 60000)
        QThread::msleep(5);
    QVERIFY2(process.state() == QProcess::Running, "the run ended before it could be interrupted");
    QVERIFY(::kill(static_cast<pid_t>(process.processId()), signal) == 0);
    if (second)
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), second) == 0);

    const Result r = finish(process);
    QVERIFY(r.normalExit);
    QCOMPARE(r.code, 130);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(readFile(sums), old);
    QCOMPARE(entries(root.path()), QStringList({"sums.sha256", "tree"}));
}

void TestCli::digestMatchesCoreutils_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("tool");
    QTest::newRow("md5") << QStringList{"--algorithm", "md5"} << "md5sum";
    QTest::newRow("sha1") << QStringList{"--algorithm", "sha1"} << "sha1sum";
    QTest::newRow("sha256") << QStringList{"--algorithm", "sha256"} << "sha256sum";
    QTest::newRow("sha384") << QStringList{"-a", "sha384"} << "sha384sum";
    QTest::newRow("sha512") << QStringList{"-a", "sha512"} << "sha512sum";
    QTest::newRow("default is sha256") << QStringList() << "sha256sum";
    QTest::newRow("upper-case algorithm name") << QStringList{"--algorithm=SHA512"} << "sha512sum";
}

void TestCli::digestMatchesCoreutils()
{
    QFETCH(QStringList, options);
    QFETCH(QString, tool);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP("coreutils tool not installed");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    // Sizes around the block lengths of all five algorithms and the
    // readers' buffer sizes.
    const int sizes[] = {0, 1, 55, 56, 63, 64, 111, 112, 127, 128, 1023, 1024, 1025, 4103, 65536, 1048579};
    const QStringList names = {"plain.bin", "with space.bin", "two  spaces .bin", "grüße.txt",
                               "back\\slash.bin", "line\nfeed.bin", "-dash.bin", "sub dir/inner file"};
    QStringList files;
    int i = 0;
    for (int size : sizes) {
        const QString name = names.at(i % names.size()) + QString::number(i);
        writeFile(root.filePath(name), randomBytes(size));
        files << name;
        ++i;
    }

    const Result ours = runCli(options + QStringList{"digest", "--"} + files, root.path());
    QCOMPARE(ours.err, QByteArray());
    QCOMPARE(ours.code, 0);

    QProcess reference;
    reference.setWorkingDirectory(root.path());
    reference.setProcessEnvironment(cliEnvironment());
    reference.start(tool, QStringList{"--"} + files);
    QVERIFY(reference.waitForFinished());
    QCOMPARE(reference.exitCode(), 0);
    QCOMPARE(ours.out, reference.readAllStandardOutput());
}

void TestCli::digestOfUnreadableFiles()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    writeFile(root.filePath("one"), "1");
    writeFile(root.filePath("two"), "2");
    QVERIFY(QDir(root.path()).mkdir("folder"));

    const Result r = runCli({"digest", "one", "missing file", "folder", "two"}, root.path());
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, sha256(root.filePath("one")) + "  one\n" + sha256(root.filePath("two")) + "  two\n");
    QCOMPARE(r.err, QByteArray("Cannot read file \"missing file\": No such file or directory.\n"
                               "Cannot read file \"folder\": Is a directory.\n"));
}

void TestCli::progressOnlyOnTerminal_data()
{
    QTest::addColumn<bool>("onTerminal");
    QTest::addColumn<bool>("quiet");
    QTest::newRow("terminal") << true << false;
    QTest::newRow("terminal, quiet") << true << true;
    QTest::newRow("pipe") << false << false;
}

void TestCli::progressOnlyOnTerminal()
{
    QFETCH(bool, onTerminal);
    QFETCH(bool, quiet);
    if (onTerminal && QStandardPaths::findExecutable("script").isEmpty())
        QSKIP("needs script(1) for a pseudo-terminal");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    const QString sums = root.filePath("sums.sha256");
    QStringList args{"create", tree, sums};
    if (quiet)
        args.prepend("--quiet");

    // Under script(1), stdout and stderr share the terminal: whatever is not
    // the digest is progress.
    Result r;
    if (onTerminal) {
        QStringList quoted;
        const QStringList commandLine = QStringList{ORVALEN_CLI} + args;
        for (const QString &arg : commandLine)
            quoted << '\'' + arg + '\'';
        QProcess process;
        process.setWorkingDirectory(root.path());
        process.setProcessEnvironment(cliEnvironment());
        process.start("script", {"-qec", quoted.join(' '), "/dev/null"});
        process.closeWriteChannel();
        r = finish(process);
    } else {
        r = runCli(args, root.path());
    }
    QCOMPARE(r.code, 0);
    const QByteArray digest = sha256(sums);
    if (!onTerminal || quiet) {
        QCOMPARE(r.out, digest + (onTerminal ? "\r\n" : "\n"));
        QCOMPARE(r.err, QByteArray());
    } else {
        // The first frame is drawn before any file is hashed.
        QVERIFY2(r.out.startsWith("\r0/6 files"), r.out.constData());
        QVERIFY2(r.out.endsWith("\r\033[K" + digest + "\r\n"), r.out.constData());
    }
}

void TestCli::helpDocumentsExitCodes()
{
    const Result r = runCli({"--help"}, QDir::tempPath());
    QCOMPARE(r.code, 0);
    for (const char *word : {"create", "verify", "digest", "--quiet", "--algorithm", "--version", "--jobs",
                             "start with a dot", "\\xhh", ".orvalenignore", "malformed line"})
        QVERIFY2(r.out.contains(word), word);
    for (const char *line : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  130 "})
        QVERIFY2(r.out.contains(line), line);
}

void TestCli::translatedMessages_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("qmFile");  // copied into the working directory
    QTest::addColumn<QString>("message");

    QTest::newRow("German from the working directory")
        << "de_DE.UTF-8" << "orvalen_de.qm" << "Verzeichnis existiert nicht";
    QTest::newRow("Russian from the working directory")
        << "ru_RU.UTF-8" << "orvalen_ru.qm" << "Каталог не существует";
    QTest::newRow("German locale without translation file")
        << "de_DE.UTF-8" << "" << "Directory is not exists";
}

void TestCli::translatedMessages()
{
    QFETCH(QString, locale);
    QFETCH(QString, qmFile);
    QFETCH(QString, message);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    if (!qmFile.isEmpty())
        QVERIFY(QFile::copy(QStringLiteral(ORVALEN_QM_DIR "/") + qmFile, root.filePath(qmFile)));

    QProcess process;
    startCli(process, {"create", root.filePath("none"), root.filePath("sums")}, root.path(),
             QStringList(), locale);
    const Result r = finish(process);
    QCOMPARE(r.code, 2);
    QCOMPARE(QString::fromUtf8(r.err), message + '\n');
}

void TestCli::unwritableOutputIsAnError_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("digest") << "digest";
    QTest::newRow("verify with discrepancies") << "verify";
}

void TestCli::unwritableOutputIsAnError()
{
    QFETCH(QString, command);
    if (!QFileInfo::exists("/dev/full"))
        QSKIP("needs /dev/full");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);
    writeFile(tree + "/new.txt", "new");

    QProcess process;
    process.setStandardOutputFile("/dev/full");
    startCli(process, command == "digest" ? QStringList{"digest", sums} : QStringList{"-q", "verify", tree, sums},
             root.path());
    const Result r = finish(process);
    QCOMPARE(r.code, 2);
    QCOMPARE(r.err, QByteArray("Cannot write to standard output\n"));
}

void TestCli::sourceDirectoryAsResolved_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("workDir");  // relative to the temporary root
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("jobs");

    QTest::newRow("link/.. is the parent of the link's target") << "link" << "d/cwd" << "link/.." << "2";
    QTest::newRow("link/.. on one thread") << "link" << "d/cwd" << "link/.." << "1";
    QTest::newRow("a removed working directory is not the root") << "removed" << "gone" << "." << "2";
    QTest::newRow("24 levels of 200-byte names") << "deep 24" << "." << "deep" << "2";
    QTest::newRow("24 levels of 200-byte names on one thread") << "deep 24" << "." << "deep" << "1";
    QTest::newRow("70 levels, a side directory on each") << "deep 70 sides" << "." << "deep" << "2";
    QTest::newRow("70 levels, a side directory on each, one thread") << "deep 70 sides" << "." << "deep" << "1";
}

void TestCli::sourceDirectoryAsResolved()
{
    QFETCH(QString, layout);
    QFETCH(QString, workDir);
    QFETCH(QString, source);
    QFETCH(QString, jobs);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    // QTemporaryDir cannot remove a tree this deep; rm(1) can.
    const auto removeAll = qScopeGuard([&] { QProcess::execute("rm", {"-rf", root.path()}); });
    QByteArrayList expected;
    if (layout == "link") {
        writeFile(root.filePath("d/cwd/c.txt"), "c.txt");
        writeFile(root.filePath("d/real/r.txt"), "r.txt");
        writeFile(root.filePath("d/real/sub/s.txt"), "sub/s.txt");
        QVERIFY(QFile::link("../real/sub", root.filePath("d/cwd/link")));
        expected = QByteArrayList{"r.txt", "sub/s.txt"};
    } else if (layout == "removed") {
        QVERIFY(QDir(root.path()).mkpath(workDir));
    } else {
        const QStringList words = layout.split(' ');
        expected = makeDeepTree(QFile::encodeName(root.filePath("deep")), words.at(1).toInt(), words.size() > 2);
    }
    const QString sums = root.filePath("sums.sha256");

    // The shell removes its working directory, then runs both jobs in it.
    const QString script = "cd \"$1\" && if [ \"$2\" = removed ]; then rmdir \"$PWD\" || exit 91; fi\n"
                           "\"$3\" -j \"$4\" create \"$5\" \"$6\" && exec \"$3\" -j \"$4\" verify \"$5\" \"$6\"";
    QProcess process;
    process.setProcessEnvironment(cliEnvironment());
    process.start("sh", {"-c", script, "sh", root.filePath(workDir), layout, ORVALEN_CLI,
                         jobs, source, sums});
    process.closeWriteChannel();
    const Result r = finish(process);

    QCOMPARE(r.err.mid(65), QStringLiteral("%1 files checked: 0 changed, 0 new, 0 missing\n")
                                .arg(expected.size()).toUtf8());
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, sha256(sums) + '\n');
    QCOMPARE(readBytesFile(QFile::encodeName(sums)), recordsOfSelfNamedFiles(expected));
}

void TestCli::unprivilegedNamedFailures_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArrayList>("files");  // below the root, "path>target" for a link
    QTest::addColumn<QByteArray>("locked");     // below the root, mode 0444 or with "*" 0
    QTest::addColumn<QByteArray>("message");    // %R: the temporary root

    const QByteArray closed = "Cannot read directory \"%R/t/closed\": Permission denied.";
    const QByteArray lineFeed = " contains a line feed and cannot be stored in a checksums file.";
    QTest::newRow("create: files in a directory that can be listed, not searched")
        << "create" << QByteArrayList{"t/a", "t/closed/x", "t/z"} << QByteArray("t/closed") << closed;
    QTest::newRow("verify: files in a directory that can be listed, not searched")
        << "verify" << QByteArrayList{"t/a", "t/closed/x", "t/z"} << QByteArray("t/closed")
        << QByteArray("closed\tCannot read directory: Permission denied");
    QTest::newRow("create: its readable subdirectory is not blamed")
        << "create" << QByteArrayList{"t/a", "t/closed/inner/y"} << QByteArray("t/closed") << closed;
    QTest::newRow("create: a link whose target cannot be looked at is an unreadable file")
        << "create" << QByteArrayList{"t/a", "t/m>../secret/s", "secret/s"} << QByteArray("*secret")
        << QByteArray("Cannot read file \"%R/t/m\": Permission denied.");
    // The unreadable file comes first: had anything been hashed, it would
    // have failed the run.
    QTest::newRow("create: a line feed in a name is refused before hashing")
        << "create" << QByteArrayList{"t/0", "t/a\nb"} << QByteArray("*t/0")
        << "File name \"%R/t/a\\nb\"" + lineFeed;
    QTest::newRow("create: a line feed in a directory's name")
        << "create" << QByteArrayList{"t/d\ne/f"} << QByteArray() << "File name \"%R/t/d\\ne/f\"" + lineFeed;
    QTest::newRow("create: terminal controls in an unreadable file's name")
        << "create" << QByteArrayList{"t/f\x1b]0;PWNED\x07\x1b[2J"} << QByteArray("*t/f\x1b]0;PWNED\x07\x1b[2J")
        << QByteArray("Cannot read file \"%R/t/f\\x1b]0;PWNED\\x07\\x1b[2J\": Permission denied.");
    QTest::newRow("verify: invalid UTF-8 in an unreadable file's name, as its bytes")
        << "verify" << QByteArrayList{"t/bad\xff\xfe"} << QByteArray("*t/bad\xff\xfe")
        << QByteArray("bad\xff\xfe\tCannot read file: Permission denied");
    QTest::newRow("create: a tab in a directory that can be listed, not searched")
        << "create" << QByteArrayList{"t/d\tir/f"} << QByteArray("t/d\tir") << QByteArray("Cannot read directory \"%R/t/d\\tir\": Permission denied.");
}

void TestCli::unprivilegedNamedFailures()
{
    QFETCH(QString, command);
    QFETCH(QByteArrayList, files);
    QFETCH(QByteArray, locked);
    QFETCH(QByteArray, message);
    const QStringList prefix = unprivilegedPrefix();
    if (!prefix.isEmpty() && QStandardPaths::findExecutable(prefix.first()).isEmpty())
        QSKIP("running as root without setpriv: file modes cannot be tested");

    QTemporaryDir rootDir;
    QVERIFY(rootDir.isValid());
    const QByteArray root = QFile::encodeName(rootDir.path());
    const ByteTreeRemover remover(root);
    for (const QByteArray &file : files) {
        const QByteArrayList link = file.split('>');
        makeParents(root, link.first());
        if (link.size() > 1)
            QCOMPARE(::symlink(link.last().constData(), (root + '/' + link.first()).constData()), 0);
        else
            writeBytesFile(root + '/' + file, file);
    }
    const QByteArray sums = root + "/sums.sha256";
    const QByteArray old = sha256Hex("old") + " old\r\n";
    writeBytesFile(sums, old);
    // Only the entry under test may refuse: the checksums file is one the
    // unprivileged user may read and replace.
    QVERIFY(QFile::setPermissions(rootDir.path(), QFileDevice::Permissions(0x7777)));
    QCOMPARE(::chmod(sums.constData(), 0666), 0);
    const QByteArray lockedPath = root + '/' + locked.mid(locked.startsWith('*') ? 1 : 0);
    if (!locked.isEmpty())
        QCOMPARE(::chmod(lockedPath.constData(), locked.startsWith('*') ? 0 : 0444), 0);

    const Result r = runCli({command, rootDir.filePath("t"), QFile::decodeName(sums)}, rootDir.path(), prefix);
    ::chmod(lockedPath.constData(), 0755);

    if (!message.contains("line feed")) {
        QVERIFY2(wentOnPast(r, message.replace("%R", root)), r.out + r.err);
        return;
    }
    QCOMPARE(r.err, message.replace("%R", root) + '\n');
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(readBytesFile(sums), old);
}

void TestCli::checksumsFileListingItself_data()
{
    QTest::addColumn<QString>("sumsName");       // below the tree
    QTest::addColumn<QByteArray>("otherRecord"); // one more stored record, or none
    QTest::addColumn<QByteArray>("report");

    QTest::newRow("at the top of the tree") << "sums.sha256" << QByteArray() << QByteArray();
    QTest::newRow("in a subdirectory") << "docs/sums.sha256" << QByteArray() << QByteArray();
    QTest::newRow("another missing file is still reported")
        << "sums.sha256" << QByteArray("gone.txt") << QByteArray("gone.txt\tFile not found\n");
    QTest::newRow("a missing file of the same name elsewhere is still reported")
        << "docs/sums.sha256" << QByteArray("sums.sha256") << QByteArray("sums.sha256\tFile not found\n");
}

void TestCli::checksumsFileListingItself()
{
    QFETCH(QString, sumsName);
    QFETCH(QByteArray, otherRecord);
    QFETCH(QByteArray, report);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    const QByteArrayList files{"a.txt", "docs/b.txt", "z/c.txt"};
    for (const QByteArray &file : files)
        writeFile(tree + '/' + file, file);
    // As written by a program that hashed the tree with the checksums file
    // already in it: a record for the file itself, whose digest cannot match.
    QByteArray sums = recordsOfSelfNamedFiles(files) + QByteArray(64, '0') + ' ' + sumsName.toUtf8() + "\r\n";
    if (!otherRecord.isEmpty())
        sums += recordsOfSelfNamedFiles({otherRecord});
    writeFile(tree + '/' + sumsName, sums);

    const Result r = runCli({"verify", tree, tree + '/' + sumsName}, root.path());
    QCOMPARE(r.out, report);
    QCOMPARE(r.err.mid(65), QByteArray("3 files checked: 0 changed, 0 new, ") + (report.isEmpty() ? "0" : "1")
                                + " missing\n");
    QCOMPARE(r.code, report.isEmpty() ? 0 : 1);
}

void TestCli::progressLineEscapesNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("shown");  // the end of the line

    QTest::newRow("terminal controls") << QByteArray("f\x1b]0;PWNED\x07\x1b[2J")
                                       << QByteArray("  f\\x1b]0;PWNED\\x07\\x1b[2J\x1b[K");
    QTest::newRow("invalid UTF-8 as its bytes") << QByteArray("bad\xff\xfe") << QByteArray("  bad\xff\xfe\x1b[K");
    // Cut to the width of the line at the start of a character.
    QTest::newRow("a long name") << "x" + QByteArray("\xc3\xa9").repeated(100)
                                 << QByteArray("  ...\xc3\xa9\xc3\xa9");
}

void TestCli::progressLineEscapesNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, shown);

    QTemporaryDir capture;
    QVERIFY(capture.isValid());
    const QByteArray path = QFile::encodeName(capture.filePath("stderr"));
    const int file = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int saved = ::dup(STDERR_FILENO);
    std::fflush(stderr);
    QVERIFY(file >= 0 && ::dup2(file, STDERR_FILENO) >= 0);
    {
        ConsoleReport report(QFile::encodeName(capture.path()), true);
        report.reportStart(1);
        // A file is drawn once a tenth of a second has passed since the last frame.
        QTest::qSleep(150);
        report.reportFileBytes(name.toStdString());
    }
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);

    // The frames: the empty start, the file, then the line cleared.
    const QByteArray frame = readBytesFile(path).split('\r').value(2);
    const QByteArray drawn = frame.mid(frame.indexOf("MB/s"));
    QVERIFY2(drawn.contains(shown), frame.toHex().constData());
    QVERIFY2(drawn.count('\x1b') == 1 && !drawn.contains('\x07'), frame.toHex().constData());
    QVERIFY(drawn.startsWith("MB/s  ...") == name.startsWith("x"));
    if (!name.startsWith("bad"))
        QCOMPARE(QString::fromUtf8(drawn).toUtf8(), drawn);
}

void TestCli::machineLimits_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("limits");  // prlimit options
    QTest::addColumn<bool>("asNobody");       // root ignores RLIMIT_NPROC
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("mustSucceed");    // else success or the resource error
    QTest::addColumn<int>("runs");

    QTest::newRow("no thread to spare: hashed on the main thread, large file too")
        << "create" << QStringList{"--nproc=1"} << true << QStringList() << true << 1;
    QTest::newRow("verify, no thread to spare: the checksums file read after the tree")
        << "verify" << QStringList{"--nproc=1"} << true << QStringList() << true << 1;
    QTest::newRow("a few threads to spare")
        << "create" << QStringList{"--nproc=4"} << true << QStringList() << true << 1;
    QTest::newRow("--jobs 20000")
        << "create" << QStringList() << false << QStringList{"--jobs", "20000"} << true << 1;
    QTest::newRow("16 descriptors, --jobs 16")
        << "create" << QStringList{"--nofile=16"} << false << QStringList{"-j", "16"} << true << 3;
    // Standard streams, the temporary checksums file, the source directory
    // and the three levels the listing holds open leave two for hashing.
    QTest::newRow("10 descriptors, --jobs 16")
        << "create" << QStringList{"--nofile=10"} << false << QStringList{"-j", "16"} << true << 3;
    QTest::newRow("no descriptor to spare")
        << "create" << QStringList{"--nofile=4"} << false << QStringList() << false << 1;
    QTest::newRow("200 MB of address space")
        << "create" << QStringList{"--as=200000000"} << false << QStringList() << false << 1;
}

void TestCli::machineLimits()
{
    QFETCH(QString, command);
    QFETCH(QStringList, limits);
    QFETCH(bool, asNobody);
    QFETCH(QStringList, options);
    QFETCH(bool, mustSucceed);
    QFETCH(int, runs);

    QStringList prefix = asNobody ? unprivilegedPrefix() : QStringList();
    if (!limits.isEmpty())
        prefix << QStringLiteral("prlimit") << limits << QStringLiteral("--");
    for (const QString &tool : {QStringLiteral("prlimit"), QStringLiteral("setpriv")})
        if (prefix.contains(tool) && QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + " is missing: the limit cannot be set"));

    // Descriptors this test inherited would reach the child and count
    // against its limit.
    for (int fd = 3; fd < 1024; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags != -1)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777)));
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    for (int i = 0; i < 3000; ++i)
        writeFile(tree + QStringLiteral("/many/%1/%2").arg(i % 30).arg(i), QByteArray::number(i));
    // Large enough to be read on a thread of its own where one is given.
    writeFile(tree + "/large.bin", QByteArray(6 << 20, 'x') + randomBytes(64));
    const QString reference = root.filePath("reference.sha256");
    QCOMPARE(runCli({"create", "-j", "1", tree, reference}, root.path()).code, 0);

    const bool verify = command == "verify";
    const QString sums = verify ? reference : root.filePath("sums.sha256");
    for (int run = 0; run < runs; ++run) {
        if (!verify)
            QFile::remove(sums);
        const Result r = runCli(options + QStringList{"-q", command, tree, sums}, root.path(), prefix);
        QVERIFY2(r.normalExit, "ended by a signal");
        if (r.code == 0 || mustSucceed) {
            QCOMPARE(r.err, QByteArray());
            QCOMPARE(r.code, 0);
            QCOMPARE(readFile(sums), readFile(reference));
        } else {
            // The temporary checksums file may be the first to find no
            // descriptor, before the tree is looked at.
            QVERIFY2(r.err.startsWith("Not enough system resources to hash the tree: ")
                         || r.err == "Cannot write checksums file \"" + QFile::encodeName(sums)
                                + "\": Too many open files.\n",
                     r.err.constData());
            QCOMPARE(r.code, 2);
            QCOMPARE(QFile::exists(sums), verify);
        }
    }
}

// verify under a limit on the address space (ulimit -v), with a checksums
// file of many records whose files are gone: the limit is raised in steps
// until plain verify, one file after another, gets through. A rolling slice,
// which holds no more than plain verify, must get through in it too, and so
// must verify with the jobs chosen from the machine, with fewer threads where
// the limit leaves room for fewer. Below it, a run that fails says that
// memory ran out, and nothing else.
void TestCli::addressSpaceLimit()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    writeFile(tree + "/a.txt", "a");
    QByteArray records = sha256Hex("a") + " a.txt\r\n";
    const QByteArray dir(60, 'd');
    const QByteArray name(60, 'f');
    for (int i = 0; i < 100000; ++i)
        records += sha256Hex("") + ' ' + dir + QByteArray::number(i / 500) + '/' + name + QByteArray::number(i)
                   + "\r\n";
    const QString sums = root.filePath("sums.sha256");
    writeFile(sums, records);

    const auto runUnder = [&](int megabytes, const QStringList &args) {
        const QString limit = QString("ulimit -v %1 && exec \"$0\" \"$@\"").arg(megabytes * 1024);
        return runCli(args + QStringList{"-q", "verify", "--damage-only", tree, sums}, root.path(),
                      {"sh", "-c", limit});
    };
    const QStringList oneJob{"--jobs", "1"};
    const auto plainPasses = [&](int megabytes) {
        const Result plain = runUnder(megabytes, oneJob);
        // 127: too little even to load the program's libraries.
        if (plain.code != 0 && plain.code != 127) {
            [&] {
                QCOMPARE(plain.err, QByteArray("Not enough system resources to hash the tree: not enough memory.\n"));
                QCOMPARE(plain.code, 2);
                const Result automatic = runUnder(megabytes, QStringList());
                QCOMPARE(automatic.err, plain.err);
                QCOMPARE(automatic.code, 2);
            }();
        }
        return plain.code == 0;
    };
    // The least limit, to 4 MiB, that plain verify gets through.
    int failing = 0;
    int limit = 32;
    for (; !plainPasses(limit); limit *= 2) {
        QVERIFY2(limit < 4096 && !QTest::currentTestFailed(), "plain verify fails in 4 GiB");
        failing = limit;
    }
    while (limit - failing > 4 && !QTest::currentTestFailed()) {
        const int middle = (failing + limit) / 2;
        (plainPasses(middle) ? limit : failing) = middle;
    }
    if (QTest::currentTestFailed())
        return;
    const Result slice = runUnder(limit, oneJob + QStringList{"--subset", "1/1000"});
    QCOMPARE(slice.err, QByteArray());
    QCOMPARE(slice.code, 0);
    const Result automatic = runUnder(limit, QStringList());
    QCOMPARE(automatic.err, QByteArray());
    QCOMPARE(automatic.code, 0);
}

namespace {

const long long nanosecond = 1;
const long long second = 1000000000 * nanosecond;
// 2020-01-01, long before any checksums file of a test.
const long long longAgo = 1577836800LL * second;
const char damagedText[] = "Checksums does not match, not modified since the checksums file was written";

long long modifiedAt(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return info.st_mtim.tv_sec * second + info.st_mtim.tv_nsec;
}

bool setModified(const QString &path, long long at)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {at / second, at % second}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

QStringList withJobs(const QStringList &jobs, const QStringList &args)
{
    return jobs + args;
}

// Every row once with one file after another and once as the machine suits.
template <typename Row>
void forBothJobSettings(const char *tag, Row row)
{
    row(QStringList{"--jobs", "1"}, QByteArray(tag) + ", one job");
    row(QStringList(), QByteArray(tag) + ", automatic jobs");
}

} // namespace

void TestCli::damageOrEdit_data()
{
    QTest::addColumn<QStringList>("jobs");
    // The modification time a.txt gets after its content changed: "now"
    // leaves the edit's own, "old" restores the one it had, otherwise
    // milliseconds from the checksums file's time.
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("damaged");

    const auto rows = [](const char *tag, const QString &time, bool damaged) {
        forBothJobSettings(tag, [&](const QStringList &jobs, const QByteArray &name) {
            QTest::newRow(name.constData()) << jobs << time << damaged;
        });
    };
    rows("edited", "now", false);
    rows("damaged, old time restored", "old", true);
    rows("edited within the tolerance", "-1000", false);
    rows("damaged just past the tolerance", "-2500", true);
}

void TestCli::damageOrEdit()
{
    QFETCH(QStringList, jobs);
    QFETCH(QString, time);
    QFETCH(bool, damaged);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    writeFile(tree + "/a.txt", "alpha");
    writeFile(tree + "/b.txt", "beta");
    QVERIFY(setModified(tree + "/a.txt", longAgo));
    QVERIFY(setModified(tree + "/b.txt", longAgo));
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli(withJobs(jobs, {"create", tree, sums}), root.path()).code, 0);
    const long long reference = modifiedAt(sums);
    QVERIFY(reference > longAgo);

    writeFile(tree + "/a.txt", "alpha, changed");
    writeFile(tree + "/new.txt", "new");
    if (time == "old")
        QVERIFY(setModified(tree + "/a.txt", longAgo));
    else if (time != "now")
        QVERIFY(setModified(tree + "/a.txt", reference + time.toLongLong() * 1000000));

    const QByteArray line = "a.txt\t" + (damaged ? QByteArray(damagedText) : QByteArray("Checksums does not match")) + '\n';
    const Result verified = runCli(withJobs(jobs, {"verify", tree, sums}), root.path());
    QCOMPARE(verified.out, line + "new.txt\tNew file\n");
    QVERIFY2(verified.err.endsWith(damaged ? "3 files checked: 0 changed, 1 new, 0 missing, 1 possibly damaged\n"
                                           : "3 files checked: 1 changed, 1 new, 0 missing\n"),
             verified.err.constData());
    QCOMPARE(verified.code, 1);

    // An edit and a new file are no reason for the nightly mail.
    const Result scrub = runCli(withJobs(jobs, {"verify", "--damage-only", tree, sums}), root.path());
    QCOMPARE(scrub.out, damaged ? line : QByteArray());
    QCOMPARE(scrub.code, damaged ? 1 : 0);
}

void TestCli::changedWhileRead_data()
{
    QTest::addColumn<QStringList>("jobs");
    forBothJobSettings("written while hashed, old time restored", [](const QStringList &jobs, const QByteArray &name) {
        QTest::newRow(name.constData()) << jobs;
    });
}

// A file written while it is read, its old time put back at once, must not
// pass for damage: its status changed between the open and the last byte.
void TestCli::changedWhileRead()
{
    QFETCH(QStringList, jobs);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    QVERIFY(QDir().mkpath(tree));
    const QString big = tree + "/big.bin";
    const long long size = 1LL << 30;
    {
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size)); // sparse: cheap to make, slow enough to read
    }
    QVERIFY(setModified(big, longAgo));
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli(withJobs(jobs, {"create", tree, sums}), root.path()).code, 0);

    QProcess process;
    startCli(process, withJobs(jobs, {"verify", tree, sums}), root.path());
    QVERIFY(process.waitForStarted());
    const QString fds = QStringLiteral("/proc/%1/fd").arg(process.processId());
    const QString target = QFileInfo(big).canonicalFilePath();
    bool open = false;
    QElapsedTimer waited;
    waited.start();
    while (!open && process.state() == QProcess::Running && waited.elapsed() < 60000) {
        const QStringList entries = QDir(fds).entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files);
        for (const QString &entry : entries)
            open = open || QFile::symLinkTarget(fds + '/' + entry) == target;
        if (!open)
            QThread::usleep(200);
    }
    QVERIFY2(open, "verify never opened the file");
    // Open is not yet read: the status the file is judged by is taken just
    // after the open, and a write before it is no write during the read.
    // Some megabytes read by the process say the reading is under way.
    const auto bytesRead = [&process]() {
        const QByteArray io = readFile(QStringLiteral("/proc/%1/io").arg(process.processId()));
        const int at = io.indexOf("rchar: ");
        return at < 0 ? -1LL : io.mid(at + 7, io.indexOf('\n', at) - at - 7).toLongLong();
    };
    const long long readBefore = bytesRead();
    while (process.state() == QProcess::Running && bytesRead() < readBefore + (8LL << 20)
           && waited.elapsed() < 60000)
        QThread::usleep(200);
    const int fd = ::open(QFile::encodeName(big).constData(), O_WRONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QCOMPARE(::pwrite(fd, "x", 1, size - 1), ssize_t(1));
    ::close(fd);
    QVERIFY(setModified(big, longAgo));

    const Result verified = finish(process);
    if (verified.out.isEmpty() && verified.code == 0)
        QSKIP("The file was read to its end before it could be changed.");
    QCOMPARE(verified.out, QByteArray("big.bin\tChecksums does not match\n"));
    QCOMPARE(verified.code, 1);
}

void TestCli::moves_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<QStringList>("moves");   // "from>to"
    QTest::addColumn<QStringList>("damaged"); // content changed, old time kept
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QByteArray>("summary");

    const auto rows = [](const char *tag, const QStringList &moves, const QStringList &damaged,
                         const QByteArray &report, const QByteArray &summary) {
        forBothJobSettings(tag, [&](const QStringList &jobs, const QByteArray &name) {
            QTest::newRow(name.constData()) << jobs << moves << damaged << report << summary;
        });
    };
    // The move's line takes the new file's place in the report.
    rows("one file moved", {"sub/c.txt>d/c.txt"}, {},
         "d/c.txt\tMoved from \"sub/c.txt\"\n",
         "6 files checked: 0 changed, 0 new, 0 missing, 1 moved");
    rows("two moved with the same digest: one pair", {"x1.txt>y/x1.txt", "x2.txt>y/x2.txt"}, {},
         "y/x1.txt\tMoved from \"x1.txt\"\n"
         "y/x2.txt\tNew file\n"
         "x2.txt\tFile not found\n",
         "6 files checked: 0 changed, 1 new, 1 missing, 1 moved");
    rows("a move plus damage", {"sub/c.txt>d/c.txt"}, {"a.txt"},
         QByteArray("a.txt\t") + damagedText + "\n"
         "d/c.txt\tMoved from \"sub/c.txt\"\n",
         "6 files checked: 0 changed, 0 new, 0 missing, 1 possibly damaged, 1 moved");
    rows("both names escaped", {"in\tside.txt>out\\.txt"}, {},
         "\\out\\\\.txt\tMoved from \"in\\tside.txt\"\n",
         "6 files checked: 0 changed, 0 new, 0 missing, 1 moved");
}

void TestCli::moves()
{
    QFETCH(QStringList, jobs);
    QFETCH(QStringList, moves);
    QFETCH(QStringList, damaged);
    QFETCH(QByteArray, report);
    QFETCH(QByteArray, summary);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    const QList<QPair<QString, QByteArray>> files{{"a.txt", "one"},   {"b.txt", "two"},
                                                  {"sub/c.txt", "three"}, {"x1.txt", "same"},
                                                  {"x2.txt", "same"}, {"in\tside.txt", "tab"}};
    for (const auto &file : files) {
        writeFile(tree + '/' + file.first, file.second);
        QVERIFY(setModified(tree + '/' + file.first, longAgo));
    }
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli(withJobs(jobs, {"create", tree, sums}), root.path()).code, 0);

    for (const QString &move : moves) {
        const QStringList ends = move.split('>');
        QVERIFY(QDir().mkpath(QFileInfo(tree + '/' + ends.at(1)).absolutePath()));
        QVERIFY(QFile::rename(tree + '/' + ends.at(0), tree + '/' + ends.at(1)));
    }
    for (const QString &name : damaged) {
        writeFile(tree + '/' + name, "bit flip");
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }

    const Result verified = runCli(withJobs(jobs, {"verify", tree, sums}), root.path());
    QCOMPARE(verified.out, report);
    QVERIFY2(verified.err.endsWith(summary + '\n'), verified.err.constData());
    QCOMPARE(verified.code, 1);

    const Result scrub = runCli(withJobs(jobs, {"verify", "--damage-only", tree, sums}), root.path());
    QByteArray damageLines;
    for (const QString &name : damaged)
        damageLines += name.toUtf8() + '\t' + damagedText + '\n';
    QCOMPARE(scrub.out, damageLines);
    QCOMPARE(scrub.code, damaged.isEmpty() ? 0 : 1);
}

void TestCli::updateEqualsCreate_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<bool>("existing"); // a checksums file to update
    QTest::addColumn<QStringList>("edited");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("damaged");
    QTest::addColumn<QByteArray>("summary");
    QTest::addColumn<bool>("capitals"); // the checksums file's digests in capitals, its time kept

    const auto rows = [](const char *tag, bool existing, const QStringList &edited, const QStringList &added,
                         const QStringList &removed, const QStringList &damaged, const QByteArray &summary,
                         bool capitals = false) {
        forBothJobSettings(tag, [&](const QStringList &jobs, const QByteArray &name) {
            QTest::newRow(name.constData()) << jobs << existing << edited << added << removed << damaged
                                            << summary << capitals;
        });
    };
    rows("adds, edits and removals", true, {"b.txt", "sub/d.txt"}, {"0new.txt", "sub/f.txt"},
         {"c.txt"}, {}, "6 files: 2 added, 2 rehashed, 1 removed, 2 kept, 0 held back");
    rows("a damaged file is held back", true, {"b.txt"}, {}, {}, {"sub/d.txt"},
         "5 files: 0 added, 1 rehashed, 0 removed, 3 kept, 1 held back");
    rows("no checksums file yet: create", false, {}, {"0new.txt"}, {}, {}, QByteArray());
    rows("digests in capitals", true, {}, {}, {}, {}, "5 files: 0 added, 0 rehashed, 0 removed, 5 kept, 0 held back",
         true);
}

void TestCli::updateEqualsCreate()
{
    QFETCH(QStringList, jobs);
    QFETCH(bool, existing);
    QFETCH(QStringList, edited);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, damaged);
    QFETCH(QByteArray, summary);
    QFETCH(bool, capitals);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    for (const char *name : {"a.txt", "b.txt", "c.txt", "sub/d.txt", "sub/e.txt"}) {
        writeFile(tree + '/' + name, QByteArray("original ") + name);
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    const QString sums = root.filePath("sums.sha256");
    if (existing) {
        // Files whose inode changed within the tolerance before the scan
        // are read again; the tree's must be older than that.
        QThread::msleep(2200);
        QCOMPARE(runCli(withJobs(jobs, {"create", tree, sums}), root.path()).code, 0);
    }
    if (capitals) {
        const long long reference = modifiedAt(sums);
        QByteArray lines = readFile(sums);
        for (int line = 0; line < lines.size(); line = lines.indexOf('\n', line) + 1)
            lines.replace(line, 64, lines.mid(line, 64).toUpper());
        writeFile(sums, lines);
        QVERIFY(setModified(sums, reference));
    }
    const QByteArray before = readFile(sums);

    for (const QString &name : edited)
        writeFile(tree + '/' + name, "edited");
    for (const QString &name : added)
        writeFile(tree + '/' + name, "added");
    for (const QString &name : removed)
        QVERIFY(QFile::remove(tree + '/' + name));
    for (const QString &name : damaged) {
        writeFile(tree + '/' + name, "bit flip");
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }

    const Result updated = runCli(withJobs(jobs, {"update", tree, sums}), root.path());
    QCOMPARE(updated.out, sha256(sums) + '\n');
    QCOMPARE(updated.code, damaged.isEmpty() ? 0 : 1);
    QByteArray heldBack;
    for (const QString &name : damaged)
        heldBack += name.toUtf8() + '\t' + damagedText + '\n';
    QCOMPARE(updated.err, heldBack + (summary.isEmpty() ? QByteArray() : summary + '\n'));

    // What create writes now, but for the held back records, which keep
    // their old lines.
    const QString fresh = root.filePath("fresh.sha256");
    QCOMPARE(runCli(withJobs(jobs, {"create", tree, fresh}), root.path()).code, 0);
    QByteArray expected = readFile(fresh);
    for (const QString &name : damaged) {
        const QByteArray tail = ' ' + name.toUtf8() + "\r\n";
        const int now = expected.indexOf(tail);
        const int then = before.indexOf(tail);
        QVERIFY(now >= 64 && then >= 64);
        expected.replace(now - 64, 64, before.mid(then - 64, 64));
    }
    QCOMPARE(readFile(sums), expected);
}



void TestCli::ignoreFileOnCreate_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("rules");     // the tree's .orvalenignore
    QTest::addColumn<QStringList>("listed");   // files of the sample tree in the checksums file
    QTest::addColumn<QByteArray>("message");   // %R: the temporary root; empty: success

    // The tree also holds "cache", a directory the scanning user cannot
    // read: each row that succeeds must have left it unopened.
    const QStringList all{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt", "Y/f", "z/f"};
    const QByteArray malformed("\"[\" is not closed.");
    for (const auto &jobs : {std::make_pair("one job", QStringList{"--jobs", "1"}),
                             std::make_pair("automatic jobs", QStringList())}) {
        const auto row = [&jobs](const char *tag) -> QTestData & {
            return QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(tag), QLatin1String(jobs.first))))
                   << jobs.second;
        };
        row("name at any depth") << QByteArray("cache/\nf\n")
                                 << QStringList{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt"} << QByteArray();
        row("anchored path") << QByteArray("# only the top one\n/cache\n\nz/f\n")
                             << QStringList{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt", "Y/f"}
                             << QByteArray();
        row("double star across directories") << QByteArray("**/c?che\n**/f\n")
                                              << QStringList{"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt"}
                                              << QByteArray();
        row("set and negation") << QByteArray("[abc]ache/\n*.txt\n!docs/*.txt\n")
                                << QStringList{"docs/fox.txt", "Y/f", "z/f"} << QByteArray();
        row("no negation below an excluded directory")
            << QByteArray("cache/\nsub dir/\n!sub dir/my file.txt\n")
            << QStringList{"A.txt", "b.txt", "docs/fox.txt", "Y/f", "z/f"} << QByteArray();
        row("closing slash spares files") << QByteArray("cache/\nf/\nb.txt/\n") << all << QByteArray();
        row("locked directory not excluded") << QByteArray("z/\n") << QStringList()
                                             << QByteArray("Cannot read directory \"%R/tree/cache\": Permission denied.");
        row("unclosed set") << QByteArray("cache/\n\n# sets\n[ab.txt\n") << QStringList()
                            << "Malformed pattern in \"%R/tree/.orvalenignore\", line 4: " + malformed;
        row("lone exclamation mark") << QByteArray("!\ncache/\n") << QStringList()
                                     << QByteArray("Malformed pattern in \"%R/tree/.orvalenignore\", line 1: "
                                                   "\"!\" without a pattern.");
    }
}

void TestCli::ignoreFileOnCreate()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, rules);
    QFETCH(QStringList, listed);
    QFETCH(QByteArray, message);
    const QStringList prefix = unprivilegedPrefix();
    if (!prefix.isEmpty() && QStandardPaths::findExecutable(prefix.first()).isEmpty())
        QSKIP("running as root without setpriv: file modes cannot be tested");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777)));
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    writeFile(tree + "/.orvalenignore", rules);
    writeFile(tree + "/cache/blob", "cached");
    const QByteArray cache = QFile::encodeName(tree + "/cache");
    QVERIFY(::chmod(cache.constData(), 0) == 0);
    const QString sums = root.filePath("sums.sha256");

    const Result r = runCli(options + QStringList{"create", tree, sums}, root.path(), prefix);
    ::chmod(cache.constData(), 0755);

    QVERIFY(r.normalExit);
    if (message.startsWith("Cannot read directory")) {
        QVERIFY2(wentOnPast(r, message.replace("%R", QFile::encodeName(root.path()))), r.out + r.err);
        return;
    }
    if (!message.isEmpty()) {
        QCOMPARE(r.err, message.replace("%R", QFile::encodeName(root.path())) + '\n');
        QCOMPARE(r.code, 2);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(!QFile::exists(sums));
        return;
    }
    QByteArray expected;
    for (const QString &name : listed)
        expected += sha256(tree + '/' + name) + ' ' + name.toUtf8() + "\r\n";
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.code, 0);
    QCOMPARE(readFile(sums), expected);
    QCOMPARE(r.out, sha256(sums) + '\n');
}

void TestCli::ignoreFileOnVerify_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("rules");     // written after the checksums file
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QByteArray>("report");

    for (const auto &jobs : {std::make_pair("one job", QStringList{"--jobs", "1"}),
                             std::make_pair("automatic jobs", QStringList())}) {
        const auto row = [&jobs](const char *tag) -> QTestData & {
            return QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(tag), QLatin1String(jobs.first))))
                   << jobs.second;
        };
        row("records below an excluded directory") << QByteArray("docs/\n") << QStringList{"docs/fox.txt"}
                                                   << QStringList() << QByteArray();
        row("records of a name excluded at any depth") << QByteArray("f\n") << QStringList{"z/f"}
                                                       << QStringList{"Y/f"} << QByteArray();
        row("re-included file still checked")
            << QByteArray("*.txt\n!b.txt\n") << QStringList{"A.txt", "b.txt"} << QStringList{"docs/fox.txt"}
            << QByteArray("b.txt\tChecksums does not match\n");
        row("files the rules keep still reported")
            << QByteArray("docs/\n") << QStringList{"docs/fox.txt"} << QStringList{"z/f"}
            << QByteArray("z/f\tFile not found\n");
    }
}

void TestCli::ignoreFileOnVerify()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, rules);
    QFETCH(QStringList, changed);
    QFETCH(QStringList, removed);
    QFETCH(QByteArray, report);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSampleTree(tree);
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);

    writeFile(tree + "/.orvalenignore", rules);
    for (const QString &name : changed)
        writeFile(tree + '/' + name, "changed");
    for (const QString &name : removed)
        QVERIFY(QFile::remove(tree + '/' + name));

    const Result r = runCli(options + QStringList{"-q", "verify", tree, sums}, root.path());
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.out, report);
    QCOMPARE(r.code, report.isEmpty() ? 0 : 1);

    // The desktop application's engine leaves out the same records.
    HashTools engine("sha256");
    std::vector<HashRecord> stored;
    std::vector<HashRecord> current;
    QVERIFY(!engine.loadDB(QFile::encodeName(sums).toStdString(), stored).empty());
    engine.calculateHashes(tree, current, nullptr, sums);
    std::vector<std::unique_ptr<CompareErr>> errors;
    engine.compare(current, stored, errors);
    QByteArray lines;
    for (const std::unique_ptr<CompareErr> &error : errors)
        lines += QByteArray::fromStdString(error->path) + '\t' + error->errorText().toUtf8() + '\n';
    QCOMPARE(lines, report);
}

namespace {

// Every line of a JSON report, parsed by Qt's own reader; a line that is no
// JSON object fails the test.
QList<QJsonObject> jsonLines(const QByteArray &out)
{
    QList<QJsonObject> objects;
    if (!out.endsWith('\n')) {
        [&] { QFAIL(out.constData()); }();
        return objects;
    }
    const QList<QByteArray> lines = out.left(out.size() - 1).split('\n');
    for (const QByteArray &line : lines) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        [&] { QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), line.constData()); }();
        objects << document.object();
    }
    return objects;
}

// The status a line of the text report stands for.
QString statusOfTextLine(const QByteArray &line)
{
    const QByteArray text = line.mid(line.indexOf('\t') + 1);
    if (text == damagedText)
        return "damaged";
    if (text == "Checksums does not match")
        return "modified";
    if (text == "New file")
        return "new";
    if (text == "File not found")
        return "missing";
    return text.startsWith("Moved from ") ? "moved" : "?";
}

} // namespace

void TestCli::jsonVerifyReport_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<bool>("damageOnly");
    forBothJobSettings("every kind of discrepancy", [](const QStringList &jobs, const QByteArray &name) {
        QTest::newRow(name.constData()) << jobs << false;
    });
    forBothJobSettings("damage only", [](const QStringList &jobs, const QByteArray &name) {
        QTest::newRow(name.constData()) << jobs << true;
    });
}

void TestCli::jsonVerifyReport()
{
    QFETCH(QStringList, jobs);
    QFETCH(bool, damageOnly);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QByteArray root = QFile::encodeName(scratch.path());
    const QByteArray tree = root + "/tree";
    QVERIFY(::mkdir(tree.constData(), 0755) == 0);
    ByteTreeRemover remover(tree);
    const QByteArray control("c\x01tl\ttab\x7f.txt");
    const QByteArray invalid("bad\xff\xfe.txt");
    const QList<QPair<QByteArray, QByteArray>> files{{"edited.txt", "one"}, {"flipped.txt", "two"},
                                                     {"gone.txt", "three"}, {"sub/away.txt", "four"},
                                                     {control, "five"}};
    for (const auto &file : files) {
        makeParents(tree, file.first);
        writeBytesFile(tree + '/' + file.first, file.second);
        QVERIFY(setModified(QFile::decodeName(tree + '/' + file.first), longAgo));
    }
    const QList<QByteArray> create{"create", "tree", "sums.sha256"};
    QCOMPARE(runCliBytes(create, root).code, 0);

    writeBytesFile(tree + "/edited.txt", "one, edited");
    for (const QByteArray &name : {QByteArray("flipped.txt"), control}) {
        writeBytesFile(tree + '/' + name, "bit flip");
        QVERIFY(setModified(QFile::decodeName(tree + '/' + name), longAgo));
    }
    QVERIFY(::unlink(tree + "/gone.txt") == 0);
    QVERIFY(::rename(tree + "/sub/away.txt", tree + "/here.txt") == 0);
    writeBytesFile(tree + '/' + invalid, "six");

    const QList<QByteArray> options = damageOnly ? QList<QByteArray>{"--damage-only"} : QList<QByteArray>();
    QList<QByteArray> verify;
    for (const QString &job : jobs)
        verify << job.toUtf8();
    verify += options;
    verify += QList<QByteArray>{"verify", "tree", "sums.sha256"};
    const Result text = runCliBytes(verify, root);
    const Result json = runCliBytes(QList<QByteArray>{"--format", "json"} + verify, root);
    QCOMPARE(json.code, text.code);
    QCOMPARE(json.code, 1);
    QVERIFY2(!json.out.contains('\x7f'), json.out.constData());
    for (const char c : json.out)
        QVERIFY2(static_cast<unsigned char>(c) >= 0x20 || c == '\n', json.out.constData());

    const auto digest = [](const char *content) { return QString::fromLatin1(sha256Hex(content)); };
    const auto entry = [](const QString &path, const QString &status) {
        return QJsonObject{{"path", path}, {"status", status}};
    };
    QJsonObject edited = entry("edited.txt", "modified");
    edited["stored"] = digest("one");
    edited["current"] = digest("one, edited");
    QJsonObject flipped = entry("flipped.txt", "damaged");
    flipped["stored"] = digest("two");
    flipped["current"] = digest("bit flip");
    QJsonObject controlled = entry(QString::fromUtf8(control), "damaged");
    controlled["stored"] = digest("five");
    controlled["current"] = digest("bit flip");
    QJsonObject gone = entry("gone.txt", "missing");
    gone["stored"] = digest("three");
    QJsonObject moved = entry("here.txt", "moved");
    moved["from"] = "sub/away.txt";
    moved["stored"] = digest("four");
    moved["current"] = digest("four");
    QJsonObject added = entry(QString("bad\uFFFD\uFFFD.txt"), "new");
    added["path_base64"] = QString::fromLatin1(invalid.toBase64());
    added["current"] = digest("six");
    QList<QJsonObject> expected{flipped, controlled};
    if (!damageOnly)
        expected += QList<QJsonObject>{edited, gone, moved, added};

    QList<QJsonObject> objects = jsonLines(json.out);
    QVERIFY(!objects.isEmpty());
    const QJsonObject last = objects.takeLast();
    // The order is the text report's.
    const QList<QByteArray> textLines = text.out.left(text.out.size() - 1).split('\n');
    QCOMPARE(objects.size(), textLines.size());
    for (int i = 0; i < objects.size(); ++i)
        QCOMPARE(objects.at(i).value("status").toString(), statusOfTextLine(textLines.at(i)));
    const auto byPath = [](const QJsonObject &a, const QJsonObject &b) {
        return a.value("path").toString() < b.value("path").toString();
    };
    std::sort(objects.begin(), objects.end(), byPath);
    std::sort(expected.begin(), expected.end(), byPath);
    QCOMPARE(objects, expected);

    const QJsonObject counts{{"checked", 5}, {"modified", 1}, {"damaged", 2}, {"new", 1},
                             {"missing", 1}, {"moved", 1}, {"unreadable", 0}, {"not_checked", 0}};
    QCOMPARE(last.value("summary").toObject(), counts);
    QCOMPARE(last.value("checksums_file").toString(), QString("sums.sha256"));
    QCOMPARE(last.value("digest").toString(), QString::fromLatin1(sha256Hex(readBytesFile(root + "/sums.sha256"))));
    QVERIFY(last.value("seconds").isDouble() && last.value("seconds").toDouble() >= 0);
    QCOMPARE(last.size(), 4);
}

void TestCli::jsonSummary_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("existing"); // a checksums file before the run
    QTest::addColumn<int>("code");
    QTest::addColumn<QVariantMap>("counts"); // empty: an error, nothing on stdout

    const QVariantMap created{{"added", 3}, {"unreadable", 0}, {"kept", 0}};
    QTest::newRow("create") << "create" << false << 0 << created;
    QTest::newRow("update: added, rehashed, removed, kept, held back")
        << "update" << true << 1
        << QVariantMap{{"added", 1}, {"rehashed", 1}, {"removed", 1}, {"kept", 0}, {"damaged", 1}, {"unreadable", 0}};
    QTest::newRow("update without checksums file is create") << "update" << false << 0 << created;
    QTest::newRow("verify, no checksums file: error on stderr only") << "verify" << false << 2 << QVariantMap();
}

void TestCli::jsonSummary()
{
    QFETCH(QString, command);
    QFETCH(bool, existing);
    QFETCH(int, code);
    QFETCH(QVariantMap, counts);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    const QString sums = root.filePath("sums \"1\".sha256");
    const QStringList files{"a.txt", "b.txt", "c.txt"};
    for (const QString &name : files) {
        writeFile(tree + '/' + name, name.toUtf8());
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    if (existing) {
        QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);
        writeFile(tree + "/a.txt", "edited");
        writeFile(tree + "/b.txt", "bit flip");
        QVERIFY(setModified(tree + "/b.txt", longAgo));
        QVERIFY(QFile::remove(tree + "/c.txt"));
        writeFile(tree + "/d.txt", "new");
    }

    const Result r = runCli({"--format", "json", command, tree, sums}, root.path());
    QCOMPARE(r.code, code);
    if (counts.isEmpty()) {
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(r.err.contains("does not exist"), r.err.constData());
        return;
    }
    const QList<QJsonObject> objects = jsonLines(r.out);
    // A held back file is told as verify tells damage, before the summary.
    const int heldBack = counts.value("damaged").toInt();
    QCOMPARE(objects.size(), heldBack + 1);
    if (heldBack == 1) {
        const QJsonObject held{{"path", "b.txt"},
                               {"status", "damaged"},
                               {"stored", QString::fromLatin1(sha256Hex("b.txt"))},
                               {"current", QString::fromLatin1(sha256(tree + "/b.txt"))},
                               {"held_back", true}};
        QCOMPARE(objects.first(), held);
    }
    const QJsonObject last = objects.last();
    QCOMPARE(last.value("summary").toObject(), QJsonObject::fromVariantMap(counts));
    QCOMPARE(last.value("checksums_file").toString(), sums);
    QCOMPARE(last.value("digest").toString(), QString::fromLatin1(sha256(sums)));
    QVERIFY(last.value("seconds").isDouble() && last.value("seconds").toDouble() >= 0);
    QCOMPARE(last.size(), 4);
}

void TestCli::updateAccepts_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<QString>("workDir");  // below the temporary folder
    // As given; "@" stands for the temporary folder, "json" asks for --format json.
    QTest::addColumn<QStringList>("accept");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("accepted"); // record paths stored on the caller's word
    QTest::addColumn<QStringList>("heldBack");

    const auto rows = [](const char *tag, const QString &workDir, const QStringList &accept, int code,
                         const QStringList &accepted, const QStringList &heldBack) {
        forBothJobSettings(tag, [&](const QStringList &jobs, const QByteArray &name) {
            QTest::newRow(name.constData()) << jobs << workDir << accept << code << accepted << heldBack;
        });
    };
    // a.txt and sub/b.txt are both edited with their old times kept.
    rows("both accepted, absolute paths", QString(), {"@/tree/a.txt", "@/tree/sub/b.txt"}, 0,
         {"a.txt", "sub/b.txt"}, {});
    rows("one accepted, the other still held back", QString(), {"@/tree/sub/b.txt"}, 1, {"sub/b.txt"},
         {"a.txt"});
    rows("relative to the working directory", "tree/sub", {"b.txt", "../a.txt"}, 0, {"a.txt", "sub/b.txt"}, {});
    rows("as JSON", QString(), {"json", "tree/a.txt"}, 1, {"a.txt"}, {"sub/b.txt"});
    rows("an unchanged file accepted is no discrepancy", QString(), {"tree/c.txt"}, 1, {}, {"a.txt", "sub/b.txt"});
    rows("outside the source directory", QString(), {"tree/a.txt", "other.txt"}, 2, {}, {});
    rows("out through the parent", "tree", {"../other.txt"}, 2, {}, {});
    rows("no such file", QString(), {"tree/gone.txt"}, 2, {}, {});
}

// An edit that kept the file's old modification time is held back by
// update as possible damage until it is accepted by name.
void TestCli::updateAccepts()
{
    QFETCH(QStringList, jobs);
    QFETCH(QString, workDir);
    QFETCH(QStringList, accept);
    QFETCH(int, code);
    QFETCH(QStringList, accepted);
    QFETCH(QStringList, heldBack);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    for (const char *name : {"a.txt", "sub/b.txt", "c.txt"}) {
        writeFile(tree + '/' + name, QByteArray("original ") + name);
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    writeFile(root.filePath("other.txt"), "outside");
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli(withJobs(jobs, {"create", tree, sums}), root.path()).code, 0);
    const QByteArray before = readFile(sums);
    for (const char *name : {"a.txt", "sub/b.txt"}) {
        writeFile(tree + '/' + name, "edited, time kept");
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }

    QStringList args = jobs;
    const bool json = accept.removeAll("json") > 0;
    if (json)
        args << "--format" << "json";
    for (const QString &file : accept)
        args << "--accept" << QString(file).replace('@', root.path());
    const Result updated = runCli(args + QStringList{"update", tree, sums}, root.filePath(workDir));
    QCOMPARE(updated.code, code);
    if (json) {
        const QList<QJsonObject> objects = jsonLines(updated.out);
        QCOMPARE(objects.size(), 3);
        const QJsonObject taken{{"path", "a.txt"},
                                {"status", "accepted"},
                                {"stored", QString::fromLatin1(sha256Hex("original a.txt"))},
                                {"current", QString::fromLatin1(sha256(tree + "/a.txt"))}};
        QCOMPARE(objects.at(1), taken);
        QCOMPARE(objects.at(2).value("summary").toObject().value("accepted").toInt(), 1);
    }
    if (code == 2) {
        QCOMPARE(updated.out, QByteArray());
        const QString named = QString(accept.last()).replace('@', root.path());
        const QByteArray why = named.endsWith("gone.txt") ? "is no regular file" : "is not below the source directory";
        QCOMPARE(updated.err, "File \"" + named.toUtf8() + "\" to accept " + why + ".\n");
        QCOMPARE(readFile(sums), before);
        return;
    }
    QByteArray lines;
    for (const QString &name : heldBack)
        lines += name.toUtf8() + '\t' + damagedText + '\n';
    for (const QString &name : accepted)
        lines += name.toUtf8() + "\tAccepted, although not modified since the checksums file was written\n";
    QVERIFY2(updated.err.startsWith(lines), updated.err.constData());

    // Accepted files hold their new content's digest, held back ones their old.
    const QByteArray after = readFile(sums);
    for (const char *name : {"a.txt", "sub/b.txt", "c.txt"}) {
        const QByteArray tail = QByteArray(" ") + name + "\r\n";
        const QByteArray stored = after.mid(after.indexOf(tail) - 64, 64);
        const QByteArray expected = accepted.contains(name) ? sha256(tree + '/' + name)
                                                            : sha256Hex(QByteArray("original ") + name);
        QCOMPARE(stored, expected);
    }
    QCOMPARE(runCli(withJobs(jobs, {"verify", "--damage-only", tree, sums}), root.path()).code,
             heldBack.isEmpty() ? 0 : 1);
}


void TestCli::sliceOfPath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<quint64>("fnv1a");
    // The published FNV-1a 64 test values: a slice must keep its files in
    // every version.
    QTest::newRow("empty") << QByteArray() << Q_UINT64_C(0xcbf29ce484222325);
    QTest::newRow("a") << QByteArray("a") << Q_UINT64_C(0xaf63dc4c8601ec8c);
    QTest::newRow("foobar") << QByteArray("foobar") << Q_UINT64_C(0x85944171f73967e8);
}

void TestCli::sliceOfPath()
{
    QFETCH(QByteArray, path);
    QFETCH(quint64, fnv1a);
    for (unsigned slices : {1u, 2u, 7u, 30u, 1000u})
        QCOMPARE(HashTools::sliceOf(path.toStdString(), slices), unsigned(fnv1a % slices) + 1);
}

void TestCli::subsetReadsEachFileOnce_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<int>("slices");
    QTest::addColumn<bool>("damageOnly");
    const auto rows = [](const char *tag, int slices, bool damageOnly) {
        forBothJobSettings(tag, [&](const QStringList &jobs, const QByteArray &name) {
            QTest::newRow(name.constData()) << jobs << slices << damageOnly;
        });
    };
    rows("one slice", 1, false);
    rows("three slices", 3, false);
    rows("seven slices, damage only", 7, true);
}

// Every file of the tree is damaged: a file is read where it is reported.
void TestCli::subsetReadsEachFileOnce()
{
    QFETCH(QStringList, jobs);
    QFETCH(int, slices);
    QFETCH(bool, damageOnly);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names << QString("%1/f%2.txt").arg(QString("d%1").arg(i % 5), QString::number(i));
    names << "kept.txt" << "gone.txt";
    for (const QString &name : qAsConst(names)) {
        writeFile(tree + '/' + name, name.toUtf8());
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);
    QVERIFY(QFile::remove(tree + "/" + names.takeLast()));
    // Moved unchanged: its new place has no record, so it is read in
    // every run and matched with the old one.
    QVERIFY(QFile::rename(tree + "/" + names.takeLast(), tree + "/d0/kept.txt"));
    for (const QString &name : qAsConst(names)) {
        writeFile(tree + '/' + name, "bit flip");
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    writeFile(tree + "/new.txt", "new");

    QMap<QString, int> timesRead;
    int held = 0;
    for (int k = 1; k <= slices; ++k) {
        QStringList args = jobs + QStringList{"--format", "json", "--subset", QString("%1/%2").arg(k).arg(slices)};
        if (damageOnly)
            args << "--damage-only";
        const Result r = runCli(args + QStringList{"verify", tree, sums}, root.path());
        QList<QJsonObject> objects = jsonLines(r.out);
        QVERIFY(!objects.isEmpty());
        const QJsonObject last = objects.takeLast();
        int damagedHere = 0;
        QStringList others;
        for (const QJsonObject &object : objects) {
            if (object.value("status") == "damaged") {
                ++timesRead[object.value("path").toString()];
                ++damagedHere;
            } else {
                others << object.value("status").toString() + ' ' + object.value("path").toString();
            }
        }
        // New, missing and moved files are told in every run.
        others.sort();
        const QStringList told = damageOnly ? QStringList()
                                            : QStringList{"missing gone.txt", "moved d0/kept.txt", "new new.txt"};
        QCOMPARE(others, told);
        QCOMPARE(r.code, damagedHere > 0 || !damageOnly ? 1 : 0);
        QCOMPARE(last.value("summary").toObject().value("damaged").toInt(), damagedHere);
        const QJsonObject subset = last.value("subset").toObject();
        QCOMPARE(subset.value("slice").toInt(), k);
        QCOMPARE(subset.value("slices").toInt(), slices);
        held += subset.value("files").toInt();
        QVERIFY2(r.err.contains(QString("Slice %1/%2 read: %3 files").arg(k).arg(slices)
                                    .arg(subset.value("files").toInt()).toUtf8()),
                 r.err.constData());
    }
    QStringList every = names;
    std::sort(every.begin(), every.end());
    QCOMPARE(timesRead.keys(), every);
    for (auto it = timesRead.cbegin(); it != timesRead.cend(); ++it)
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
    // The slices share out the tree, the new and the moved file with it.
    QCOMPARE(held, names.size() + 2);
}

void TestCli::subsetArgument_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("slice"); // 0: refused

    // Counted apart from the program: whole days of the UTC calendar.
    const qint64 days = QDate(1970, 1, 1).daysTo(QDateTime::currentDateTimeUtc().date());
    QTest::newRow("auto/7 is today's slice") << QStringList{"--subset", "auto/7"} << int(days % 7 + 1);
    QTest::newRow("auto/1") << QStringList{"--subset=auto/1"} << 1;
    QTest::newRow("7/7") << QStringList{"--subset", "7/7"} << 7;
    QTest::newRow("0/7") << QStringList{"--subset", "0/7"} << 0;
    QTest::newRow("8/7") << QStringList{"--subset", "8/7"} << 0;
    QTest::newRow("x/7") << QStringList{"--subset", "x/7"} << 0;
    QTest::newRow("1/0") << QStringList{"--subset", "1/0"} << 0;
    QTest::newRow("no slash") << QStringList{"--subset", "3"} << 0;
    QTest::newRow("a sign") << QStringList{"--subset", "+1/7"} << 0;
    QTest::newRow("next/7 without --state") << QStringList{"--subset", "next/7"} << 0;
}

void TestCli::subsetArgument()
{
    QFETCH(QStringList, args);
    QFETCH(int, slice);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    writeFile(tree + "/a.txt", "a");
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);

    const Result r = runCli(args + QStringList{"--format", "json", "verify", tree, sums}, root.path());
    if (slice == 0) {
        QCOMPARE(r.code, 2);
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(r.err.startsWith("The option --subset "), r.err.constData());
        return;
    }
    QCOMPARE(r.code, 0);
    const QList<QJsonObject> objects = jsonLines(r.out);
    QCOMPARE(objects.size(), 1);
    QCOMPARE(objects.first().value("subset").toObject().value("slice").toInt(), slice);
}

void TestCli::subsetNextSlice_data()
{
    QTest::addColumn<QByteArray>("before"); // the state file's bytes; "missing" for none
    QTest::addColumn<QString>("happening"); // "", "interrupted" or "new file"
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("slice");          // the slice read; 0 for none
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("missing state file: made, slice 1 read and kept")
        << QByteArray("missing") << "" << 0 << 1 << QByteArray("1/3\n");
    QTest::newRow("after slice 1 the second run reads slice 2")
        << QByteArray("1/3\n") << "" << 0 << 2 << QByteArray("2/3\n");
    QTest::newRow("after the last slice the first again")
        << QByteArray("3/3\n") << "" << 0 << 1 << QByteArray("1/3\n");
    QTest::newRow("a state of another count starts at slice 1")
        << QByteArray("4/5\n") << "" << 0 << 1 << QByteArray("1/3\n");
    QTest::newRow("discrepancies: the run completed, its slice is kept")
        << QByteArray("1/3\n") << "new file" << 1 << 2 << QByteArray("2/3\n");
    QTest::newRow("interrupted: the state stays, the slice comes again")
        << QByteArray("1/3\n") << "interrupted" << 130 << 0 << QByteArray("1/3\n");
    QTest::newRow("no state file: refused, left as it was")
        << QByteArray("1/3\nmore\n") << "" << 2 << 0 << QByteArray("1/3\nmore\n");
}

void TestCli::subsetNextSlice()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, happening);
    QFETCH(int, code);
    QFETCH(int, slice);
    QFETCH(QByteArray, after);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    for (int i = 0; i < 12; ++i)
        writeFile(tree + QString("/f%1").arg(i), QByteArray::number(i));
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);
    const QString state = root.filePath("state/tree.slice");
    QVERIFY(QDir().mkpath(root.filePath("state")));
    if (before != "missing")
        writeFile(state, before);
    if (happening == "new file")
        writeFile(tree + "/new", "new");
    if (happening == "interrupted") {
        // New files are read in every run: 2 GiB of holes, hashed for
        // seconds at any speed.
        for (int i = 0; i < 64; ++i) {
            QFile file(tree + QString("/big%1").arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(32) << 20));
        }
    }

    const QStringList args{"--format", "json", "verify", "--subset", "next/3", "--state", state, tree, sums};
    Result r;
    if (happening == "interrupted") {
        QProcess process;
        startCli(process, args, root.path());
        QVERIFY(process.waitForStarted());
        const qint64 pid = process.processId();
        QVERIFY(pid > 0);
        while (!touchesTree(pid, tree) && !process.waitForFinished(5)) {
        }
        QVERIFY2(process.state() == QProcess::Running, "the run ended before it could be interrupted");
        QVERIFY(::kill(static_cast<pid_t>(pid), SIGTERM) == 0);
        r = finish(process);
    } else {
        r = runCli(args, root.path());
    }
    QVERIFY(r.normalExit);
    QCOMPARE(r.code, code);
    QCOMPARE(readFile(state), after);
    QCOMPARE(entries(root.filePath("state")), QStringList{"tree.slice"});
    if (slice != 0) {
        const QList<QJsonObject> objects = jsonLines(r.out);
        QVERIFY(!objects.isEmpty());
        QCOMPARE(objects.last().value("subset").toObject().value("slice").toInt(), slice);
    }
}

void TestCli::verifyWithoutListsAsWithLists_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<QString>("format");
    for (const char *format : {"text", "json"}) {
        const QByteArray tag = QByteArray(format) + " report";
        forBothJobSettings(tag.constData(), [format](const QStringList &jobs, const QByteArray &name) {
            QTest::newRow(name.constData()) << jobs << QString(format);
        });
        QTest::newRow(QByteArray(tag + ", two jobs").constData()) << QStringList{"--jobs", "2"} << QString(format);
    }
}

// Plain verify reads the checksums file into its compact index while the
// tree is hashed; a one-slice subset (every file read) reads it first and
// chooses by it what to read. Their reports must not differ by a byte.
void TestCli::verifyWithoutListsAsWithLists()
{
    QFETCH(QStringList, jobs);
    QFETCH(QString, format);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    for (const char *name : {"a", "b c", "d/e", "d/f", "g\\h", "moved-to", "z"})
        writeFile(tree + '/' + name, QByteArray("content of ") + name);
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);

    // Missing records first, in the middle (twice) and last, one of them
    // moved; a path twice, the first record counting; one digest in
    // capitals, which is not the digest the program writes.
    const auto line = [](const QByteArray &content, const QByteArray &path) {
        return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + ' ' + path + "\r\n";
    };
    QByteArray stored = line("first gone", "0 gone");
    const QList<QByteArray> records = readFile(sums).split('\n');
    for (const QByteArray &record : records) {
        if (record.isEmpty())
            continue;
        if (record.endsWith(" moved-to\r"))
            continue;
        if (record.endsWith(" z\r")) {
            stored += line("middle gone", "m gone") + line("middle gone", "m gone");
            stored += record.toUpper().left(64) + record.mid(64) + '\n';
            continue;
        }
        stored += record + '\n';
        if (record.endsWith(" b c\r"))
            stored += line("other", "b c");
    }
    stored += line("content of moved-to", "moved-from");
    stored += line("last gone", "~ gone");
    writeFile(sums, stored);
    writeFile(tree + "/d/e", "edited");
    writeFile(tree + "/new", "new");

    const QStringList args = jobs + QStringList{"--format", format, "verify"};
    const Result plain = runCli(args + QStringList{tree, sums}, root.path());
    const Result lists = runCli(args + QStringList{"--subset", "1/1", tree, sums}, root.path());
    QCOMPARE(plain.code, 1);
    QCOMPARE(lists.code, plain.code);
    QList<QByteArray> plainLines = plain.out.split('\n');
    QList<QByteArray> listLines = lists.out.split('\n');
    QVERIFY2(plainLines.size() >= 8, plain.out.constData());
    if (format == "json") {
        // The summary lines differ in the time taken and the subset.
        QVERIFY(plainLines.at(plainLines.size() - 2).startsWith("{\"summary\":"));
        plainLines.removeAt(plainLines.size() - 2);
        listLines.removeAt(listLines.size() - 2);
    } else {
        QCOMPARE(plain.err.split('\n').at(plain.err.count('\n') - 1),
                 lists.err.split('\n').at(lists.err.count('\n') - 1));
    }
    QCOMPARE(plainLines, listLines);
}

// The file being read grows by one byte after each piece, so that it never
// holds still while the engine reads it.
ino_t growingFile = 0;
QByteArray growingPath;

void growWhileRead(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_ino != growingFile)
        return;
    const int out = ::open(growingPath.constData(), O_WRONLY | O_APPEND);
    if (out >= 0) {
        (void)!::write(out, "x", 1);
        ::close(out);
    }
}

void TestCli::changingFileNamed_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("statuses"); // of the JSON lines before the summary

    QTest::newRow("create") << "create" << 0 << QByteArray();
    QTest::newRow("verify") << "verify" << 1 << QByteArray("modified");
}

// In this process, where the engine's reader can change the file between
// its pieces.
void TestCli::changingFileNamed()
{
    QFETCH(QString, command);
    QFETCH(int, code);
    QFETCH(QByteArray, statuses);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QByteArray tree = QFile::encodeName(root.filePath("tree"));
    const QByteArray sums = QFile::encodeName(root.filePath("sums"));
    QVERIFY(QDir().mkpath(QFile::decodeName(tree)));
    writeBytesFile(tree + "/steady", "steady");
    growingPath = tree + "/log\tname";
    writeBytesFile(growingPath, "0123456789");
    struct stat info;
    QCOMPARE(::stat(growingPath.constData(), &info), 0);
    growingFile = info.st_ino;
    // Runs a job with stdout and stderr into files.
    const QByteArray out = QFile::encodeName(root.filePath("out"));
    const QByteArray err = QFile::encodeName(root.filePath("err"));
    const auto run = [&](const std::function<int(CliJobs &)> &job) {
        const int outFile = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int errFile = ::open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int savedOut = ::dup(STDOUT_FILENO);
        const int savedErr = ::dup(STDERR_FILENO);
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(outFile, STDOUT_FILENO);
        ::dup2(errFile, STDERR_FILENO);
        CliJobs jobs(true, false, 0);
        jobs.setJsonOutput(true);
        const int exitCode = job(jobs);
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(savedOut, STDOUT_FILENO);
        ::dup2(savedErr, STDERR_FILENO);
        for (const int fd : {savedOut, savedErr, outFile, errFile})
            ::close(fd);
        return exitCode;
    };
    if (command == "verify")
        QCOMPARE(run([&](CliJobs &jobs) { return jobs.create(tree, sums); }), 0);
    filereader::setPieceHook(&growWhileRead);
    const int exitCode = run([&](CliJobs &jobs) {
        return command == "create" ? jobs.create(tree, sums) : jobs.verify(tree, sums);
    });
    filereader::setPieceHook(nullptr);

    QCOMPARE(exitCode, code);
    // Named even when quiet, escaped as names in messages are.
    QCOMPARE(readBytesFile(err), "File \"" + tree + "/log\\tname\" changed while it was read.\n");
    QList<QJsonObject> objects = jsonLines(readBytesFile(out));
    QVERIFY(!objects.isEmpty());
    QCOMPARE(objects.takeLast().value("summary").toObject().value("changed_while_read").toInt(), 1);
    QByteArrayList seen;
    for (const QJsonObject &object : objects)
        seen << object.value("status").toString().toUtf8();
    QCOMPARE(seen.join(' '), statuses);
}

void TestCli::folderMovedDuringCreate_data()
{
    QTest::addColumn<QString>("movedTo");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain name") << "out.moved" << "out.moved";
    QTest::newRow("control byte in the name is escaped") << "out\tmoved" << "out\\tmoved";
}

// The writer stays with the folder it opened, which takes the file along;
// the name given then holds no file, and saying it was created would lie.
void TestCli::folderMovedDuringCreate()
{
    QFETCH(QString, movedTo);
    QFETCH(QString, shown);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeSlowTree(tree);
    const QString out = root.filePath("out");
    QVERIFY(QDir().mkdir(out));

    QProcess process;
    startCli(process, {"create", tree, out + "/sums.sha256"}, root.path());
    QVERIFY(process.waitForStarted());
    const bool stopped = stopDuringScan(process, tree);
    const QStringList before = entries(out);
    const bool moved = QDir().rename(out, root.filePath(movedTo)) && QDir().mkdir(out);
    if (stopped)
        ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
    const Result r = finish(process);
    QVERIFY2(stopped, qPrintable("the run ended before it could be stopped: " + QString::fromLocal8Bit(r.err)));
    QCOMPARE(before.size(), 1);
    QVERIFY2(before.first().startsWith(".sums.sha256."), qPrintable(before.first()));
    QVERIFY(moved);

    QVERIFY(r.normalExit);
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(r.err, "Checksums file was written to \"" + QFile::encodeName(root.path()) + '/' + shown.toUtf8()
                        + "/sums.sha256\": its folder was moved during the run.\n");
    QCOMPARE(entries(out), QStringList());
    QCOMPARE(entries(root.filePath(movedTo)), QStringList{"sums.sha256"});
}

// A user may write the checksums file but not its folder, and may not set
// the time of a file that is not theirs: the file is rewritten in place,
// and the user learns that its time is that of the end of the run.
void TestCli::rewrittenInPlaceWithoutItsTime()
{
    const QStringList prefix = unprivilegedPrefix();
    if (prefix.isEmpty())
        QSKIP("needs root to run as a user who may not set the file's time");
    if (QStandardPaths::findExecutable(prefix.first()).isEmpty())
        QSKIP("running as root without setpriv: file modes cannot be tested");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0755) == 0);
    const QString tree = root.filePath("tree");
    makeSlowTree(tree);
    const QString reference = root.filePath("reference.sha256");
    QCOMPARE(runCli({"create", tree, reference}, root.path()).code, 0);
    const QString locked = root.filePath("locked");
    QVERIFY(QDir().mkdir(locked));
    const QString sums = locked + "/sums.sha256";
    writeFile(sums, sha256Hex("old") + " old\r\n");
    QVERIFY(::chmod(QFile::encodeName(sums).constData(), 0666) == 0);
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0555) == 0);

    QProcess process;
    startCli(process, {"--format", "json", "create", tree, sums}, root.path(), prefix);
    QVERIFY(process.waitForStarted());
    const bool stopped = stopDuringScan(process, tree);
    // Longer than the time a verify allows a stamp to be off.
    QThread::msleep(2500);
    if (stopped)
        ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
    const Result r = finish(process);
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    QVERIFY2(stopped, qPrintable("the run ended before it could be stopped: " + QString::fromLocal8Bit(r.err)));

    QVERIFY(r.normalExit);
    QCOMPARE(r.code, 0);
    QCOMPARE(readFile(sums), readFile(reference));
    QCOMPARE(entries(locked), QStringList{"sums.sha256"});
    QVERIFY2(r.err.contains("The file system did not keep the time of checksums file \"" + QFile::encodeName(sums)
                            + "\": files edited during this run cannot be told from damaged ones.\n"),
             r.err.constData());
    const QList<QJsonObject> objects = jsonLines(r.out);
    QCOMPARE(objects.size(), 1);
    QCOMPARE(objects.first().value("digest").toString(), QString::fromLatin1(sha256Hex(readFile(sums))));
    QCOMPARE(objects.first().value("time_kept"), QJsonValue(false));
}

namespace {

// faultfs mounted over a directory for one test: reads of the chosen files
// and listings of the chosen directories fail with EIO, as on a disk with
// bad sectors. Unmounted when it goes, however the test ended.
class FaultMount
{
public:
    FaultMount(const QString &source, const QString &mountPoint, const QStringList &faults)
        : point(QFile::encodeName(mountPoint))
    {
#ifdef ORVALEN_FAULTFS
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            reason = "/dev/fuse cannot be opened here";
            return;
        }
        struct stat before;
        struct stat after;
        QProcess process;
        process.start(QStringLiteral(ORVALEN_FAULTFS), QStringList{source, mountPoint} + faults);
        // It returns once the file system is mounted.
        process.waitForFinished(-1);
        mounted = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
                  && ::stat(QFile::encodeName(source).constData(), &before) == 0
                  && ::stat(point.constData(), &after) == 0 && after.st_dev != before.st_dev;
        if (!mounted)
            reason = "faultfs cannot mount here: " + process.readAllStandardError().trimmed();
#else
        reason = "faultfs was not built: libfuse3-dev is missing";
#endif
    }
    ~FaultMount()
    {
        if (!mounted || ::umount(point.constData()) == 0 || ::umount2(point.constData(), MNT_DETACH) == 0)
            return;
        for (const char *tool : {"fusermount3", "fusermount"}) {
            if (QProcess::execute(QString::fromLatin1(tool), {"-u", "-z", QFile::decodeName(point)}) == 0)
                return;
        }
    }
    FaultMount(const FaultMount &) = delete;
    FaultMount &operator=(const FaultMount &) = delete;

    bool isMounted() const { return mounted; }
    const QByteArray &whyNot() const { return reason; }

private:
    QByteArray point;
    bool mounted = false;
    QByteArray reason;
};

// An ext4 image mounted read-only through a loop device for one test, and
// unmounted (which frees the loop device) when it goes.
class LoopMount
{
public:
    LoopMount(const QString &image, const QString &mountPoint) : point(mountPoint)
    {
        if (::geteuid() != 0) {
            reason = "mounting an ext4 image needs root";
            return;
        }
        QProcess mount;
        mount.start(QStringLiteral("mount"), {"-t", "ext4", "-o", "loop,ro", image, mountPoint});
        mount.waitForFinished(-1);
        mounted = mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
        if (!mounted)
            reason = "cannot mount an ext4 image here: " + mount.readAllStandardError().trimmed();
    }
    ~LoopMount()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {point});
    }
    LoopMount(const LoopMount &) = delete;
    LoopMount &operator=(const LoopMount &) = delete;

    bool isMounted() const { return mounted; }
    const QByteArray &whyNot() const { return reason; }

private:
    QString point;
    bool mounted = false;
    QByteArray reason;
};

} // namespace

void TestCli::failingDisk_data()
{
    // On the failing disk photo.jpg answers EIO from 64 KiB on and old_dir
    // cannot be listed; since the checksums file was written, edited.txt
    // was edited, deleted.txt deleted and added.txt added, a copy of a file
    // below old_dir.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    // %A, %E, %e, %D: the digests of added.txt, edited.txt now and before,
    // deleted.txt; %S: that of the checksums file after the run.
    QTest::addColumn<QByteArray>("out");
    // Each once on stderr.
    QTest::addColumn<QByteArrayList>("errors");
    // What the summary, the last line of a JSON report, holds.
    QTest::addColumn<QByteArray>("summary");
    // create and update: the checksums file then holds what a full create
    // on a sound disk would, with the stored records of what failed.
    QTest::addColumn<bool>("rewritten");

    const QByteArray file = "photo.jpg\tCannot read file: Input/output error\n";
    const QByteArray dir = "old_dir\tCannot read directory: Input/output error\n";
    const QByteArray text = "added.txt\tNew file\nedited.txt\tChecksums does not match\n" + file + dir
                            + "deleted.txt\tFile not found\n";
    const QByteArray fileJson
        = R"({"path":"photo.jpg","status":"unreadable","kind":"file","error":"Input/output error","errno":"EIO"})" "\n";
    const QByteArray dirJson
        = R"({"path":"old_dir","status":"unreadable","kind":"directory","error":"Input/output error","errno":"EIO"})" "\n";
    const QByteArray json = R"({"path":"added.txt","status":"new","current":"%A"})" "\n"
                            R"({"path":"edited.txt","status":"modified","stored":"%e","current":"%E"})" "\n"
                            + fileJson + dirJson + R"({"path":"deleted.txt","status":"missing","stored":"%D"})" "\n";
    const QByteArrayList named{"Cannot read file \"mnt/photo.jpg\": Input/output error.",
                               "Cannot read directory \"mnt/old_dir\": Input/output error."};
    const QByteArray counted = R"("missing":1,"moved":0,"unreadable":2,"not_checked":2})";
    const QStringList one{"--jobs", "1"};

    QTest::newRow("verify, one job") << one + QStringList{"verify", "mnt", "sums"} << 1 << text << QByteArrayList()
                                     << QByteArray() << false;
    QTest::newRow("verify, automatic jobs") << QStringList{"verify", "mnt", "sums"} << 1 << text << QByteArrayList()
                                            << QByteArray() << false;
    QTest::newRow("verify --damage-only: unreadable is damage")
        << QStringList{"verify", "--damage-only", "mnt", "sums"} << 1 << file + dir << QByteArrayList() << QByteArray()
        << false;
    QTest::newRow("verify as JSON, one job") << one + QStringList{"--format", "json", "verify", "mnt", "sums"} << 1
                                             << json << QByteArrayList() << counted << false;
    QTest::newRow("verify as JSON, automatic jobs") << QStringList{"--format", "json", "verify", "mnt", "sums"} << 1
                                                    << json << QByteArrayList() << counted << false;
    QTest::newRow("create, one job") << one + QStringList{"create", "mnt", "sums"} << 1 << QByteArray("%S\n") << named
                                     << QByteArray() << true;
    QTest::newRow("create, automatic jobs") << QStringList{"create", "mnt", "sums"} << 1 << QByteArray("%S\n") << named
                                            << QByteArray() << true;
    QTest::newRow("update, one job") << one + QStringList{"update", "mnt", "sums"} << 1 << QByteArray("%S\n") << named
                                     << QByteArray() << true;
    QTest::newRow("update as JSON, automatic jobs")
        << QStringList{"--format", "json", "update", "mnt", "sums"} << 1 << fileJson + dirJson << named
        << QByteArray(R"("damaged":0,"unreadable":2})") << true;
    QTest::newRow("digest goes on and names the reason")
        << QStringList{"digest", "mnt/a.txt", "mnt/photo.jpg", "mnt/sub/g"} << 2
        << sha256Hex("alpha\n") + "  mnt/a.txt\n" + sha256Hex("g\n") + "  mnt/sub/g\n"
        << QByteArrayList{"Cannot read file \"mnt/photo.jpg\": Input/output error."} << QByteArray() << false;
}

void TestCli::failingDisk()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QByteArray, out);
    QFETCH(QByteArrayList, errors);
    QFETCH(QByteArray, summary);
    QFETCH(bool, rewritten);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString source = root.filePath("src");
    QByteArray photo;
    for (int i = 0; photo.size() < 300000; ++i)
        photo += QByteArray::number(i) + ' ';
    const QList<QPair<QString, QByteArray>> files{{"a.txt", "alpha\n"},   {"deleted.txt", "gone\n"},
                                                  {"edited.txt", "one\n"}, {"photo.jpg", photo},
                                                  {"old_dir/f", "f\n"},    {"old_dir/deep/h", "h\n"},
                                                  {"sub/g", "g\n"}};
    for (const auto &entry : files)
        writeFile(source + '/' + entry.first, entry.second);
    const QString sums = root.filePath("sums");
    QCOMPARE(runCli({"create", source, sums}, root.path()).code, 0);
    writeFile(source + "/edited.txt", "one, edited\n");
    // The content of old_dir/f, whose record is not missing: no move.
    writeFile(source + "/added.txt", "f\n");
    QVERIFY(QFile::remove(source + "/deleted.txt"));
    // Written since the checksums file, so that update reads it.
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(source + "/photo.jpg").constData(), nullptr, 0), 0);
    QVERIFY(QDir(root.path()).mkdir("mnt"));

    const FaultMount mount(source, root.filePath("mnt"), {"--file", "photo.jpg@65536", "--dir", "old_dir"});
    if (!mount.isMounted())
        QSKIP(mount.whyNot().constData());
    const Result r = runCli(args, root.path());

    QVERIFY(r.normalExit);
    QCOMPARE(r.code, code);
    out.replace("%A", sha256Hex("f\n"))
        .replace("%E", sha256Hex("one, edited\n"))
        .replace("%e", sha256Hex("one\n"))
        .replace("%D", sha256Hex("gone\n"))
        .replace("%S", sha256Hex(readFile(sums)));
    QByteArray shown = r.out;
    if (!summary.isEmpty()) {
        const int last = shown.lastIndexOf('\n', -2) + 1;
        QVERIFY2(shown.mid(last).startsWith("{\"summary\":{") && shown.mid(last).contains(summary), shown.constData());
        shown.truncate(last);
    }
    QCOMPARE(shown, out);
    for (const QByteArray &line : errors)
        QVERIFY2(r.err.count(line + '\n') == 1, r.err.constData());
    if (rewritten) {
        QByteArray records;
        for (const char *name : {"a.txt", "added.txt", "edited.txt", "photo.jpg", "old_dir/f", "old_dir/deep/h", "sub/g"}) {
            const QString path = source + '/' + QLatin1String(name);
            // The unreadable ones keep their stored digests, which are
            // those of the content they still have.
            records += sha256(path) + ' ' + name + "\r\n";
        }
        QCOMPARE(readFile(sums), records);
    }
}

void TestCli::brokenExt4Image_data()
{
    // On the image f2's and dir's extent headers are broken: the kernel
    // refuses both with EUCLEAN. The checksums file was made from the same
    // tree before, so nothing else differs.
    QTest::addColumn<QStringList>("args");
    // verify: its whole output; create and update: what stderr names.
    QTest::addColumn<QByteArray>("expected");

    const QByteArray lines = "f2\tCannot read file: Structure needs cleaning\n"
                             "dir\tCannot read directory: Structure needs cleaning\n";
    const QByteArray named = "Cannot read file \"mnt/f2\": Structure needs cleaning.\n"
                             "Cannot read directory \"mnt/dir\": Structure needs cleaning.\n";
    QTest::newRow("verify, one job") << QStringList{"--jobs", "1", "verify", "mnt", "sums"} << lines;
    QTest::newRow("verify, automatic jobs") << QStringList{"verify", "mnt", "sums"} << lines;
    QTest::newRow("verify as JSON")
        << QStringList{"--format", "json", "verify", "mnt", "sums"}
        << QByteArray(R"({"path":"f2","status":"unreadable","kind":"file","error":"Structure needs cleaning","errno":"EUCLEAN"})"
                      "\n"
                      R"({"path":"dir","status":"unreadable","kind":"directory","error":"Structure needs cleaning","errno":"EUCLEAN"})"
                      "\n");
    QTest::newRow("create, one job") << QStringList{"-q", "--jobs", "1", "create", "mnt", "sums"} << named;
    QTest::newRow("create, automatic jobs") << QStringList{"-q", "create", "mnt", "sums"} << named;
    QTest::newRow("update") << QStringList{"-q", "update", "mnt", "sums"} << named;
}

void TestCli::brokenExt4Image()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, expected);
    for (const char *tool : {"mkfs.ext4", "debugfs", "mount"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()
            && QStandardPaths::findExecutable(QString::fromLatin1(tool), {"/sbin", "/usr/sbin"}).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (e2fsprogs, mount)").arg(QLatin1String(tool))));
    }
    const auto tool = [](const char *name) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        return found.isEmpty() ? QStandardPaths::findExecutable(QString::fromLatin1(name), {"/sbin", "/usr/sbin"})
                               : found;
    };

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString source = root.filePath("src");
    writeFile(source + "/f1", "one\n");
    writeFile(source + "/f2", QByteArray(20000, 'x'));
    writeFile(source + "/f3", "three\n");
    writeFile(source + "/dir/g", "inner\n");
    QCOMPARE(runCli({"create", source, root.filePath("sums")}, root.path()).code, 0);
    const QByteArray stored = readFile(root.filePath("sums"));
    const QString image = root.filePath("disk.ext4");
    QCOMPARE(QProcess::execute(tool("mkfs.ext4"), {"-q", "-F", "-d", source, image, "8M"}), 0);
    for (const char *broken : {"/f2", "/dir"})
        QCOMPARE(QProcess::execute(tool("debugfs"), {"-w", "-R", QStringLiteral("sif %1 block[0] 0").arg(broken), image}),
                 0);
    QVERIFY(QDir(root.path()).mkdir("mnt"));
    const LoopMount mount(image, root.filePath("mnt"));
    if (!mount.isMounted())
        QSKIP(mount.whyNot().constData());

    const Result r = runCli(args, root.path());
    QVERIFY(r.normalExit);
    QCOMPARE(r.code, 1);
    if (args.contains("verify")) {
        QByteArray shown = r.out;
        if (args.contains("json")) {
            const int last = shown.lastIndexOf('\n', -2) + 1;
            QVERIFY2(shown.mid(last).contains(R"("unreadable":2,"not_checked":1})"), shown.constData());
            shown.truncate(last);
        }
        QCOMPARE(shown, expected);
        return;
    }
    QCOMPARE(r.err, expected);
    // Every record kept: the new file is the old one.
    QCOMPARE(readFile(root.filePath("sums")), stored);
    QCOMPARE(r.out, sha256Hex(stored) + '\n');
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
