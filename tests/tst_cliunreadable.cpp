// Files and directories orvalen-cli cannot read: named, and the run goes on.

#include "clisupport.h"

#include <QStandardPaths>

#include <sys/mount.h>

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

class TestCliUnreadable : public QObject
{
    Q_OBJECT

private slots:
    void unprivilegedNamedFailures_data();
    void unprivilegedNamedFailures();
    void failingDisk_data();
    void failingDisk();
    void brokenExt4Image_data();
    void brokenExt4Image();
};

void TestCliUnreadable::unprivilegedNamedFailures_data()
{
    QTest::addColumn<QString>("command");
    // Below the root, "path>target" for a link; a file holds its path, or
    // what follows "=".
    QTest::addColumn<QByteArrayList>("files");
    QTest::addColumn<QByteArray>("locked");     // below the root, mode 0444 or with "*" 0
    QTest::addColumn<QByteArray>("message");    // %R: the temporary root

    QTest::newRow("create: read-only checksums file")
        << "create" << QByteArrayList{"t/a"} << QByteArray("sums.sha256")
        << QByteArray("Cannot write checksums file \"%R/sums.sha256\": Permission denied.");
    // An unreadable entry of the tree is named, and the run goes on.
    QTest::newRow("create: unreadable file in the tree") << "create" << QByteArrayList{"t/a", "t/b.txt"}
                                                         << QByteArray("*t/b.txt")
                                                         << QByteArray("Cannot read file \"%R/t/b.txt\": Permission denied.");
    QTest::newRow("verify: unreadable file in the tree") << "verify" << QByteArrayList{"t/a", "t/b.txt"}
                                                         << QByteArray("*t/b.txt")
                                                         << QByteArray("b.txt\tCannot read file: Permission denied");
    QTest::newRow("create: unreadable directory in the tree")
        << "create" << QByteArrayList{"t/a", "t/Y/f"} << QByteArray("*t/Y")
        << QByteArray("Cannot read directory \"%R/t/Y\": Permission denied.");
    // The tree's ignore rules are read: a directory they do not exclude is
    // named; a malformed pattern stops the run before hashing.
    QTest::newRow("create: a locked directory the rules do not exclude")
        << "create" << QByteArrayList{"t/.orvalenignore=z/\n", "t/cache/blob", "t/z/f"} << QByteArray("*t/cache")
        << QByteArray("Cannot read directory \"%R/t/cache\": Permission denied.");
    QTest::newRow("create: an unclosed set in the rules")
        << "create" << QByteArrayList{"t/.orvalenignore=cache/\n\n# sets\n[ab.txt\n", "t/cache/blob"}
        << QByteArray("*t/cache")
        << QByteArray("Malformed pattern in \"%R/t/.orvalenignore\", line 4: \"[\" is not closed.");
    QTest::newRow("verify: a lone exclamation mark in the rules")
        << "verify" << QByteArrayList{"t/.orvalenignore=!\ncache/\n", "t/cache/blob"} << QByteArray("*t/cache")
        << QByteArray("Malformed pattern in \"%R/t/.orvalenignore\", line 1: \"!\" without a pattern.");
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

void TestCliUnreadable::unprivilegedNamedFailures()
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
    for (const QByteArray &entry : files) {
        const QByteArray file = entry.left(entry.indexOf('=') < 0 ? entry.size() : entry.indexOf('='));
        const QByteArrayList link = file.split('>');
        makeParents(root, link.first());
        if (link.size() > 1)
            QCOMPARE(::symlink(link.last().constData(), (root + '/' + link.first()).constData()), 0);
        else
            writeBytesFile(root + '/' + file, entry.mid(entry.indexOf('=') + 1));
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

    // Refused before hashing: a name no line can hold, a checksums file that
    // cannot be written, malformed rules.
    if (!message.contains("line feed") && !locked.contains("sums") && !message.startsWith("Malformed")) {
        QVERIFY2(wentOnPast(r, message.replace("%R", root)), r.out + r.err);
        return;
    }
    QCOMPARE(r.err, message.replace("%R", root) + '\n');
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(readBytesFile(sums), old);
    QCOMPARE(entries(rootDir.path()).filter(".sums"), QStringList());
}

void TestCliUnreadable::failingDisk_data()
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

void TestCliUnreadable::failingDisk()
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

    QVERIFY(r.code >= 0);
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

void TestCliUnreadable::brokenExt4Image_data()
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

void TestCliUnreadable::brokenExt4Image()
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
    QVERIFY(r.code >= 0);
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

QTEST_GUILESS_MAIN(TestCliUnreadable)
#include "tst_cliunreadable.moc"
