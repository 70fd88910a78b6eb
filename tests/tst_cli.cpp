// orvalen-cli's arguments, exit codes and messages, seen from outside.

#include "clisupport.h"
#include "hashtools.h"

#include <QDate>
#include <QDateTime>
#include <QStandardPaths>

#include <sys/mount.h>

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void failures_data();
    void failures();
    void unusableChecksumsFileStopsVerifyBeforeHashing_data();
    void unusableChecksumsFileStopsVerifyBeforeHashing();
    void argumentsQtWouldTakeArePaths_data();
    void argumentsQtWouldTakeArePaths();
    void createRefusedBeforeHashing_data();
    void createRefusedBeforeHashing();
    void createFailsAtTheEndOnFullDisk();
    void digestMatchesCoreutils_data();
    void digestMatchesCoreutils();
    void digestOfUnreadableFiles();
    void helpDocumentsExitCodes();
    void translatedMessages_data();
    void translatedMessages();
    void unwritableOutputIsAnError_data();
    void unwritableOutputIsAnError();
    void subsetArgument_data();
    void subsetArgument();
};

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
    QVERIFY(r.code >= 0);
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

    QVERIFY(r.code >= 0);
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
    QVERIFY(r.code >= 0);
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

    QVERIFY(r.code >= 0);
    QCOMPARE(r.err, "Cannot write checksums file \"" + sums.toUtf8() + "\": No space left on device.\n");
    QCOMPARE(r.code, 2);
    QCOMPARE(after, QByteArray("old\r\n"));
    QCOMPARE(left, QStringList{"sums.sha256"});
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
    const QJsonObject subset = objects.first().value("subset").toObject();
    QCOMPARE(subset.value("slice").toInt(), slice);
    // The files the slice holds: a.txt, where it falls into it.
    const int files = int(HashTools::sliceOf("a.txt", unsigned(subset.value("slices").toInt())) == unsigned(slice));
    QCOMPARE(subset.value("files").toInt(), files);
    QVERIFY2(r.err.contains(QStringLiteral("Slice %1/%2 read: %3 files").arg(slice).arg(subset.value("slices").toInt())
                                .arg(files).toUtf8()),
             r.err.constData());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
