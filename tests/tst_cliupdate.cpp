// What orvalen-cli update prints and leaves, the summaries, a file named
// that changed while it was read, and the state of a rolling --subset next/N.

#include "clijobs.h"
#include "clisupport.h"
#include "filereader.h"

#include <csignal>
#include <cstdio>
#include <functional>

namespace {

// The file being read grows by one byte after each piece, so that it never
// holds still while the engine reads it.
ino_t growingFile = 0;
QByteArray &growingPath()
{
    static QByteArray path;
    return path;
}

void growWhileRead(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_ino != growingFile)
        return;
    const int out = ::open(growingPath().constData(), O_WRONLY | O_APPEND);
    if (out >= 0) {
        (void)!::write(out, "x", 1);
        ::close(out);
    }
}

} // namespace

class TestCliUpdate : public QObject
{
    Q_OBJECT

private slots:
    void updateAccepts_data();
    void updateAccepts();
    void jsonSummary_data();
    void jsonSummary();
    void subsetNextSlice_data();
    void subsetNextSlice();
    void changingFileNamed_data();
    void changingFileNamed();
};

void TestCliUpdate::updateAccepts_data()
{
    QTest::addColumn<QString>("workDir");  // below the temporary folder
    // As given; "@" stands for the temporary folder, "json" asks for --format json.
    QTest::addColumn<QStringList>("accept");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("accepted"); // record paths stored on the caller's word
    QTest::addColumn<QStringList>("heldBack");

    const auto rows = [](const char *tag, const QString &workDir, const QStringList &accept, int code,
                         const QStringList &accepted, const QStringList &heldBack) {
        QTest::newRow(tag) << workDir << accept << code << accepted << heldBack;
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
void TestCliUpdate::updateAccepts()
{
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
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);
    const QByteArray before = readFile(sums);
    for (const char *name : {"a.txt", "sub/b.txt"}) {
        writeFile(tree + '/' + name, "edited, time kept");
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }

    QStringList args;
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
    QCOMPARE(runCli({"verify", "--damage-only", tree, sums}, root.path()).code,
             heldBack.isEmpty() ? 0 : 1);
}

void TestCliUpdate::jsonSummary_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("existing"); // a checksums file before the run
    QTest::addColumn<int>("code");
    QTest::addColumn<QVariantMap>("counts"); // empty: an error, nothing on stdout
    QTest::addColumn<QByteArray>("text");    // the stderr of a run without JSON, which it then is

    const QVariantMap created{{"added", 3}, {"unreadable", 0}, {"kept", 0}};
    QTest::newRow("create") << "create" << false << 0 << created << QByteArray();
    QTest::newRow("update: added, rehashed, removed, kept, held back")
        << "update" << true << 1
        << QVariantMap{{"added", 1}, {"rehashed", 1}, {"removed", 1}, {"kept", 0}, {"damaged", 1}, {"unreadable", 0}}
        << QByteArray();
    QTest::newRow("update as text") << "update" << true << 1 << QVariantMap()
                                    << "b.txt\t" + QByteArray(damagedText)
                                           + "\n3 files: 1 added, 1 rehashed, 1 removed, 0 kept, 1 held back\n";
    QTest::newRow("update without checksums file is create") << "update" << false << 0 << created << QByteArray();
    QTest::newRow("verify, no checksums file: error on stderr only")
        << "verify" << false << 2 << QVariantMap() << QByteArray();
}

void TestCliUpdate::jsonSummary()
{
    QFETCH(QString, command);
    QFETCH(bool, existing);
    QFETCH(int, code);
    QFETCH(QVariantMap, counts);
    QFETCH(QByteArray, text);

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

    const QStringList format = text.isEmpty() ? QStringList{"--format", "json"} : QStringList();
    const Result r = runCli(format + QStringList{command, tree, sums}, root.path());
    QCOMPARE(r.code, code);
    if (!text.isEmpty()) {
        QCOMPARE(r.out, sha256(sums) + '\n');
        QCOMPARE(r.err, text);
        return;
    }
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

void TestCliUpdate::subsetNextSlice_data()
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

void TestCliUpdate::subsetNextSlice()
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
    // New files are read in every run.
    if (happening == "interrupted")
        makeHoles(tree);

    const QStringList args{"--format", "json", "verify", "--subset", "next/3", "--state", state, tree, sums};
    Result r;
    if (happening == "interrupted") {
        QProcess process;
        startCli(process, args, root.path());
        QVERIFY(process.waitForStarted());
        QVERIFY2(waitForHashing(process, tree), "the run ended before it could be interrupted");
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGTERM) == 0);
        r = finish(process);
    } else {
        r = runCli(args, root.path());
    }
    QVERIFY(r.code >= 0);
    QCOMPARE(r.code, code);
    QCOMPARE(readFile(state), after);
    QCOMPARE(entries(root.filePath("state")), QStringList{"tree.slice"});
    if (slice != 0) {
        const QList<QJsonObject> objects = jsonLines(r.out);
        QVERIFY(!objects.isEmpty());
        QCOMPARE(objects.last().value("subset").toObject().value("slice").toInt(), slice);
    }
}

void TestCliUpdate::changingFileNamed_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("statuses"); // of the JSON lines before the summary

    QTest::newRow("create") << "create" << 0 << QByteArray();
    QTest::newRow("verify") << "verify" << 1 << QByteArray("modified");
}

// In this process, where the engine's reader can change the file between
// its pieces.
void TestCliUpdate::changingFileNamed()
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
    growingPath() = tree + "/log\tname";
    writeBytesFile(growingPath(), "0123456789");
    struct stat info;
    QCOMPARE(::stat(growingPath().constData(), &info), 0);
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

QTEST_GUILESS_MAIN(TestCliUpdate)
#include "tst_cliupdate.moc"
