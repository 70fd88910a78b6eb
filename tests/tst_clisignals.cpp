// orvalen-cli under signals, on a terminal and under the machine's limits:
// what only a running process shows.

#include "clisupport.h"
#include "consolereport.h"

#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <cstdio>

#include <sys/resource.h>

namespace {

// Stops the process once it hashes the tree: the checks made before the
// scan are behind it, the writing after it still ahead. True when it was
// caught running and is stopped.
bool stopDuringScan(QProcess &process, const QString &tree)
{
    const pid_t pid = static_cast<pid_t>(process.processId());
    if (!waitForHashing(process, tree) || ::kill(pid, SIGSTOP) != 0)
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

} // namespace

class TestCliSignals : public QObject
{
    Q_OBJECT

private slots:
    void interrupt_data();
    void interrupt();
    void progressOnlyOnTerminal_data();
    void progressOnlyOnTerminal();
    void progressLineEscapesNames_data();
    void progressLineEscapesNames();
    void folderMovedDuringCreate_data();
    void folderMovedDuringCreate();
    void rewrittenInPlaceWithoutItsTime();
    void machineLimits_data();
    void machineLimits();
    void addressSpaceLimit();
};

void TestCliSignals::interrupt_data()
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

void TestCliSignals::interrupt()
{
    QFETCH(QString, command);
    QFETCH(int, signal);
    QFETCH(int, second);
    if (!QFileInfo::exists(QStringLiteral("/proc/self/fd")))
        QSKIP("needs /proc to see when hashing has begun");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    makeHoles(tree);
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
    QVERIFY2(waitForHashing(process, tree), "the run ended before it could be interrupted");
    QVERIFY(::kill(static_cast<pid_t>(process.processId()), signal) == 0);
    if (second)
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), second) == 0);

    const Result r = finish(process);
    QVERIFY(r.code >= 0);
    QCOMPARE(r.code, 130);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(readFile(sums), old);
    QCOMPARE(entries(root.path()), QStringList({"sums.sha256", "tree"}));
}

void TestCliSignals::progressOnlyOnTerminal_data()
{
    QTest::addColumn<bool>("onTerminal");
    QTest::addColumn<bool>("quiet");
    QTest::newRow("terminal") << true << false;
    QTest::newRow("terminal, quiet") << true << true;
    QTest::newRow("pipe") << false << false;
}

void TestCliSignals::progressOnlyOnTerminal()
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

void TestCliSignals::progressLineEscapesNames_data()
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

void TestCliSignals::progressLineEscapesNames()
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

void TestCliSignals::folderMovedDuringCreate_data()
{
    QTest::addColumn<QString>("movedTo");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain name") << "out.moved" << "out.moved";
    QTest::newRow("control byte in the name is escaped") << "out\tmoved" << "out\\tmoved";
}

// The writer stays with the folder it opened, which takes the file along;
// the name given then holds no file, and saying it was created would lie.
void TestCliSignals::folderMovedDuringCreate()
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

    QVERIFY(r.code >= 0);
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
void TestCliSignals::rewrittenInPlaceWithoutItsTime()
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

    QVERIFY(r.code >= 0);
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

void TestCliSignals::machineLimits_data()
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

void TestCliSignals::machineLimits()
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
        QVERIFY2(r.code >= 0, "ended by a signal");
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
void TestCliSignals::addressSpaceLimit()
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

QTEST_GUILESS_MAIN(TestCliSignals)
#include "tst_clisignals.moc"
