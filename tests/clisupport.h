#pragma once

// What the tests of orvalen-cli as a process share: runs of the program,
// files written and read as bytes, the sample tree; enginerun.h adds the
// files written as text and their times.

#include "enginerun.h"
#include "processrun.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

#include <ftw.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// A run's exit code is -1 where it did not end by itself.
using Result = ProcessRun;

// Unless a test asks for a language, no translation may apply: the expected
// texts are the built-in English ones.
inline QProcessEnvironment cliEnvironment(const QString &locale = QStringLiteral("C.UTF-8"))
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LANGUAGE"));
    env.remove(QStringLiteral("LANG"));
    env.remove(QStringLiteral("LC_MESSAGES"));
    env.insert(QStringLiteral("LC_ALL"), locale);
    return env;
}

inline void startCli(QProcess &process, const QStringList &args, const QString &workDir,
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

inline Result runCli(const QStringList &args, const QString &workDir, const QStringList &prefix = QStringList())
{
    if (prefix.isEmpty())
        return runProgram(QStringLiteral(ORVALEN_CLI), args, workDir);
    return runProgram(prefix.first(), prefix.mid(1) + QStringList{QStringLiteral(ORVALEN_CLI)} + args, workDir);
}

inline QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// File names as bytes. QFile and QProcess take names as text, and a name
// that is not valid UTF-8 would reach the file system changed: these go
// straight to the system calls.
inline void writeBytesFile(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    const ssize_t written = ::write(fd, content.constData(), static_cast<size_t>(content.size()));
    ::close(fd);
    QCOMPARE(written, ssize_t(content.size()));
}

inline QByteArray readBytesFile(const QByteArray &path)
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
inline void makeParents(const QByteArray &root, const QByteArray &relativeFile)
{
    const QList<QByteArray> parts = relativeFile.split('/');
    QByteArray dir = root;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        dir += '/' + parts.at(i);
        QVERIFY2(::mkdir(dir.constData(), 0755) == 0 || errno == EEXIST, dir.constData());
    }
}

// A program (a full path) with its arguments given as bytes, run in workDir.
inline Result runProgramBytes(const QByteArray &program, const QList<QByteArray> &args, const QByteArray &workDir)
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
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readBytesFile(outPath);
    r.err = readBytesFile(errPath);
    return r;
}

inline Result runCliBytes(const QList<QByteArray> &args, const QByteArray &workDir)
{
    return runProgramBytes(QByteArray(ORVALEN_CLI), args, workDir);
}

// A run that went on past an unreadable file or directory: it ends with 1,
// and line (a report line on stdout or a message on stderr) names it once.
inline bool wentOnPast(const Result &r, const QByteArray &line)
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

// The lines of a checksums file in byte order: the order the tree lists
// names that decode alike is the engine's to choose.
inline QList<QByteArray> sortedLines(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline QByteArray sha256(const QString &path)
{
    return sha256Hex(readFile(path));
}

inline QStringList unprivilegedPrefix()
{
    if (geteuid() != 0)
        return QStringList();
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                       QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
}

// True once the process has a file of the tree open or mapped, that is,
// once hashing has begun. Each thread's descriptors are looked at: a
// thread may have a table of its own.
inline bool touchesTree(qint64 pid, const QString &tree)
{
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    QDirIterator threads(proc + "/task", QDir::Dirs | QDir::NoDotAndDotDot);
    while (threads.hasNext()) {
        QDirIterator fds(threads.next() + "/fd", QDir::Files | QDir::System);
        while (fds.hasNext()) {
            fds.next();
            if (fds.fileInfo().symLinkTarget().startsWith(tree + '/'))
                return true;
        }
    }
    return readFile(proc + "/maps").contains(QFile::encodeName(tree + '/'));
}

// Waits on the process, for at most a minute, until it hashes the tree;
// true when it runs still.
inline bool waitForHashing(QProcess &process, const QString &tree)
{
    QElapsedTimer waited;
    waited.start();
    while (process.state() == QProcess::Running && !touchesTree(process.processId(), tree)
           && waited.elapsed() < 60000)
        process.waitForFinished(1);
    return process.state() == QProcess::Running;
}

// 2 GiB of holes in dir: seconds of hashing at any speed, no disk space.
inline void makeHoles(const QString &dir)
{
    QVERIFY(QDir().mkpath(dir));
    for (int i = 0; i < 64; ++i) {
        QFile file(QStringLiteral("%1/big%2.bin").arg(dir).arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(32) << 20));
    }
}

inline QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

// Every line of a JSON report, parsed by Qt's own reader; a line that is no
// JSON object fails the test.
inline QList<QJsonObject> jsonLines(const QByteArray &out)
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

const char damagedText[] = "Checksums does not match, not modified since the checksums file was written";

