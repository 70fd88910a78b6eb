// What orvalen-cli verify prints, as text and as JSON, and the checksums
// files create writes for it.

#include "clisupport.h"
#include "hashrecord.h"
#include "hashtools.h"

namespace {

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

class TestCliVerify : public QObject
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
    void jsonVerifyReport_data();
    void jsonVerifyReport();
    void sourceDirectoryAsResolved_data();
    void sourceDirectoryAsResolved();
};

void TestCliVerify::createThenVerifyIsClean_data()
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

void TestCliVerify::createThenVerifyIsClean()
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
    QVERIFY(created.code >= 0);
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

void TestCliVerify::checksumsFileBytes_data()
{
    QTest::addColumn<QString>("sumsName");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("checksums file outside the tree") << "sums.sha256" << QStringList();
    QTest::newRow("checksums file inside the tree is left out") << "tree/sums.sha256" << QStringList();
    QTest::newRow("one file after another") << "tree/sums.sha256" << QStringList{"--jobs", "1"};
    QTest::newRow("eight files at once") << "tree/sums.sha256" << QStringList{"-j8"};
}

void TestCliVerify::checksumsFileBytes()
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

void TestCliVerify::verifyReport_data()
{
    // "name" edited, "!name" damaged (written, its old time put back),
    // "from>to" moved.
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QByteArray>("summary");

    QTest::newRow("one file changed")
        << QStringList{"b.txt"} << QStringList() << QStringList()
        << QByteArray("b.txt\tChecksums does not match\n")
        << QByteArray("6 files checked: 1 changed, 0 new, 0 missing");
    QTest::newRow("one file added")
        << QStringList() << QStringList{"sub/e.txt"} << QStringList()
        << QByteArray("sub/e.txt\tNew file\n")
        << QByteArray("7 files checked: 0 changed, 1 new, 0 missing");
    QTest::newRow("one file deleted")
        << QStringList() << QStringList() << QStringList{"c.txt"}
        << QByteArray("c.txt\tFile not found\n")
        << QByteArray("5 files checked: 0 changed, 0 new, 1 missing");
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
        << QByteArray("6 files checked: 2 changed, 2 new, 2 missing");
    QTest::newRow("percent signs in a name are printed as they are")
        << QStringList{"100%1 off.txt"} << QStringList() << QStringList()
        << QByteArray("100%1 off.txt\tChecksums does not match\n")
        << QByteArray("6 files checked: 1 changed, 0 new, 0 missing");
    // What the engine tells apart (tst_streamverify) as a run says it. The
    // move's line takes the new file's place in the report.
    QTest::newRow("damaged, old time restored")
        << QStringList{"!a.txt"} << QStringList() << QStringList() << QByteArray("a.txt\t") + damagedText + "\n"
        << QByteArray("6 files checked: 0 changed, 0 new, 0 missing, 1 possibly damaged");
    QTest::newRow("a move plus damage") << QStringList{"sub/d.txt>e/d.txt", "!a.txt"} << QStringList() << QStringList()
                                        << QByteArray("a.txt\t") + damagedText + "\n"
                                               "e/d.txt\tMoved from \"sub/d.txt\"\n"
                                        << QByteArray("6 files checked: 0 changed, 0 new, 0 missing, "
                                                      "1 possibly damaged, 1 moved");
    QTest::newRow("both names of a move escaped")
        << QStringList{"in\tside.txt>out\\.txt"} << QStringList() << QStringList()
        << QByteArray("\\out\\\\.txt\tMoved from \"in\\tside.txt\"\n")
        << QByteArray("6 files checked: 0 changed, 0 new, 0 missing, 1 moved");
}

void TestCliVerify::verifyReport()
{
    QFETCH(QStringList, changed);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QFETCH(QByteArray, report);
    QFETCH(QByteArray, summary);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tree = root.filePath("tree");
    for (const char *name : {"a.txt", "b.txt", "c.txt", "sub/d.txt", "100%1 off.txt", "in\tside.txt"}) {
        writeFile(tree + '/' + name, QByteArray("original ") + name);
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    const QString sums = root.filePath("sums.sha256");
    QCOMPARE(runCli({"create", tree, sums}, root.path()).code, 0);
    const QByteArray digest = sha256(sums);

    for (const QString &name : changed) {
        const QString to = tree + '/' + name.section('>', 1);
        if (name.contains('>')) {
            QVERIFY(QDir().mkpath(QFileInfo(to).absolutePath()));
            QVERIFY(QFile::rename(tree + '/' + name.section('>', 0, 0), to));
            continue;
        }
        writeFile(tree + '/' + name.mid(name.startsWith('!')), "changed");
        if (name.startsWith('!'))
            QVERIFY(setModified(tree + '/' + name.mid(1), longAgo));
    }
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

    // An edit, a new, missing or moved file is no reason for the nightly mail.
    const Result scrub = runCli({"verify", "--damage-only", "-q", tree, sums}, root.path());
    const QByteArray damage = report.contains(damagedText) ? report.left(report.indexOf('\n') + 1) : QByteArray();
    QCOMPARE(scrub.out, damage);
    QCOMPARE(scrub.code, damage.isEmpty() ? 0 : 1);
}

void TestCliVerify::verifyReportEscapesNames_data()
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

void TestCliVerify::verifyReportEscapesNames()
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

void TestCliVerify::namesAsBytes_data()
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

void TestCliVerify::namesAsBytes()
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

void TestCliVerify::jsonVerifyReport_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<bool>("damageOnly");
    QTest::newRow("every kind of discrepancy, one job") << QStringList{"--jobs", "1"} << false;
    QTest::newRow("damage only, automatic jobs") << QStringList() << true;
}

void TestCliVerify::jsonVerifyReport()
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

void TestCliVerify::sourceDirectoryAsResolved_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("workDir");  // relative to the temporary root
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("jobs");

    QTest::newRow("link/.. is the parent of the link's target") << "link" << "d/cwd" << "link/.." << "2";
    QTest::newRow("link/.. on one thread") << "link" << "d/cwd" << "link/.." << "1";
    QTest::newRow("a removed working directory is not the root") << "removed" << "gone" << "." << "2";
}

void TestCliVerify::sourceDirectoryAsResolved()
{
    QFETCH(QString, layout);
    QFETCH(QString, workDir);
    QFETCH(QString, source);
    QFETCH(QString, jobs);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QByteArrayList expected;
    if (layout == "link") {
        writeFile(root.filePath("d/cwd/c.txt"), "c.txt");
        writeFile(root.filePath("d/real/r.txt"), "r.txt");
        writeFile(root.filePath("d/real/sub/s.txt"), "sub/s.txt");
        QVERIFY(QFile::link("../real/sub", root.filePath("d/cwd/link")));
        expected = QByteArrayList{"r.txt", "sub/s.txt"};
    } else {
        QVERIFY(QDir(root.path()).mkpath(workDir));
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

QTEST_GUILESS_MAIN(TestCliVerify)
#include "tst_cliverify.moc"
