#include "digestcheck.h"
#include "processrun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Run = ProcessRun;

Run runIn(const QString &dir, const QString &program, const QStringList &args)
{
    return runProgram(program, args, dir);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

// The closing warnings: what stands after "WARNING:" on standard error,
// whoever wrote it.
QList<QByteArray> warnings(const QByteArray &err)
{
    QList<QByteArray> found;
    const QList<QByteArray> lines = err.split('\n');
    for (const QByteArray &line : lines) {
        const int at = line.indexOf("WARNING:");
        if (at >= 0)
            found << line.mid(at);
    }
    return found;
}

// The digests of no bytes: RFC 1321, FIPS 180-2.
QMap<QString, QString> emptyDigests()
{
    return {{"md5", "d41d8cd98f00b204e9800998ecf8427e"},
            {"sha1", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
            {"sha256", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
            {"sha384", "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da"
                       "274edebfe76f65fbd51ad2f14898b95b"},
            {"sha512", "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
                       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"}};
}

} // namespace

class TestDigestCheck : public QObject
{
    Q_OBJECT

private slots:
    void parseLine_data();
    void parseLine();
    void matchesCoreutils_data();
    void matchesCoreutils();
    void unusableLists_data();
    void unusableLists();
};

void TestDigestCheck::parseLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("forced");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<QByteArray>("path");

    const QMap<QString, QString> digests = emptyDigests();
    const QByteArray md5 = digests.value("md5").toLatin1();
    const QByteArray sha1 = digests.value("sha1").toLatin1();
    const QByteArray sha256 = digests.value("sha256").toLatin1();
    const QByteArray sha384 = digests.value("sha384").toLatin1();
    const QByteArray sha512 = digests.value("sha512").toLatin1();
    const int entry = int(DigestCheck::LineKind::Entry);
    const int malformed = int(DigestCheck::LineKind::Malformed);
    const int ignored = int(DigestCheck::LineKind::Ignored);

    QTest::newRow("md5 by length") << md5 + "  a b" << "" << entry << "md5" << QByteArray("a b");
    QTest::newRow("sha1 by length") << sha1 + " *a" << "" << entry << "sha1" << QByteArray("a");
    QTest::newRow("sha384 by length") << sha384 + "  x" << "" << entry << "sha384" << QByteArray("x");
    QTest::newRow("sha512 tag") << "SHA512 (p) = " + sha512 << "" << entry << "sha512" << QByteArray("p");
    QTest::newRow("tag touching") << "SHA256(p)= " + sha256 << "" << entry << "sha256" << QByteArray("p");
    QTest::newRow("tag, ') = ' inside the name")
        << "MD5 (a) = b) = " + md5 << "" << entry << "md5" << QByteArray("a) = b");
    QTest::newRow("upper-case digits") << sha256.toUpper() + "  u" << "" << entry << "sha256" << QByteArray("u");
    QTest::newRow("escaped name") << "\\" + sha256 + "  a\\\\b\\nc\\rd" << "" << entry << "sha256"
                                  << QByteArray("a\\b\nc\rd");
    QTest::newRow("escaped tag line") << "\\SHA1 (n\\nm) = " + sha1 << "" << entry << "sha1"
                                      << QByteArray("n\nm");
    QTest::newRow("unknown escape") << "\\" + sha256 + "  a\\tb" << "" << malformed << "" << QByteArray();
    QTest::newRow("no known length") << sha256 + "0  a" << "" << malformed << "" << QByteArray();
    QTest::newRow("forced algorithm, other length") << md5 + "  a" << "sha256" << malformed << ""
                                                    << QByteArray();
    QTest::newRow("forced algorithm, other tag") << "MD5 (a) = " + md5 << "sha256" << malformed << ""
                                                 << QByteArray();
    QTest::newRow("tag, digest one short") << "SHA1 (a) = " + sha1.left(39) << "" << malformed << ""
                                           << QByteArray();
    QTest::newRow("zero byte in the name") << sha256 + QByteArray("  a\0b", 5) << "" << malformed << ""
                                          << QByteArray();
    QTest::newRow("comment") << QByteArray("  # " + sha256 + "  a") << "" << ignored << "" << QByteArray();
    QTest::newRow("blank") << QByteArray(" \t") << "" << ignored << "" << QByteArray();
}

void TestDigestCheck::parseLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, forced);
    QFETCH(int, kind);
    QFETCH(QString, algorithm);
    QFETCH(QByteArray, path);

    DigestCheck check(forced.toStdString(), false, 1);
    DigestCheck::Entry entry;
    QCOMPARE(int(check.parseLine(line, entry)), kind);
    if (kind != int(DigestCheck::LineKind::Entry))
        return;
    QCOMPARE(QString::fromStdString(entry.algorithm), algorithm);
    QCOMPARE(entry.path, path);
    // Every entry row holds the digest of no bytes.
    QCOMPARE(QString::fromStdString(entry.digest), emptyDigests().value(algorithm));
}

void TestDigestCheck::matchesCoreutils_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("tagged");
    // Lines before and after those the tool writes; {a} stands for the
    // digest of the file a.
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("sha256sum") << "sha256sum" << false << QByteArray() << QByteArray();
    QTest::newRow("sha256sum --tag") << "sha256sum" << true << QByteArray() << QByteArray();
    QTest::newRow("md5sum") << "md5sum" << false << QByteArray() << QByteArray();
    QTest::newRow("md5sum --tag") << "md5sum" << true << QByteArray() << QByteArray();
    QTest::newRow("sha512sum") << "sha512sum" << false << QByteArray() << QByteArray();
    QTest::newRow("malformed, blank, comment, CR LF and upper-case lines")
        << "sha256sum" << false << QByteArray("junk\n\n")
        << QByteArray("# note\n{a}  a\r\n{A}  a\n{a}\ta\n{a}0  a\nSHA256(a)= {a}\nSHA256  (a) = {a}\n");
    QTest::newRow("first line without mark: the rest keep theirs in the name")
        << "sha256sum" << false << QByteArray("{a} a\n{a}\ta\n") << QByteArray("{a} *a\n");
}

void TestDigestCheck::matchesCoreutils()
{
    QFETCH(QString, tool);
    QFETCH(bool, tagged);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP("coreutils tool not installed");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    // Odd names, a file that goes and one that changes, and enough files
    // for the engine to read many at once.
    QStringList names{"a", " lead", "sp ace", "back\\slash", "new\nline", "cr\rname", "\\both\n\\", "gone",
                      "changed"};
    for (int i = 0; i < 150; ++i)
        names << QStringLiteral("many/f%1").arg(i, 3, 10, QLatin1Char('0'));
    QVERIFY(QDir(root.path()).mkdir("many"));
    for (int i = 0; i < names.size(); ++i)
        writeFile(root.filePath(names.at(i)), QByteArray::number(i * 7919).repeated(i % 50 + 1));

    const Run listed = runIn(root.path(), tool, QStringList(tagged ? "--tag" : "--") + names);
    QCOMPARE(listed.code, 0);
    QVERIFY(QFile::remove(root.filePath("gone")));
    writeFile(root.filePath("changed"), "other content");
    const QByteArray digest = runIn(root.path(), tool, {"a"}).out.split(' ').value(0);
    const auto filled = [&digest](QByteArray lines) {
        return lines.replace("{a}", digest).replace("{A}", digest.toUpper());
    };
    writeFile(root.filePath("list"), filled(before) + listed.out + filled(after));

    const Run expected = runIn(root.path(), tool, {"-c", "list"});
    for (const QString &jobs : {QStringLiteral("1"), QStringLiteral("4")}) {
        const Run ours = runIn(root.path(), QStringLiteral(ORVALEN_CLI), {"digest", "-j", jobs, "--check", "list"});
        QCOMPARE(ours.out, expected.out);
        QCOMPARE(ours.code, expected.code);
        QCOMPARE(warnings(ours.err), warnings(expected.err));
        QVERIFY(!expected.out.isEmpty());
    }
}

void TestDigestCheck::unusableLists_data()
{
    QTest::addColumn<QStringList>("lists");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("missing") << QStringList{"good", "missing"}
                             << QByteArray("missing: No such file or directory\n");
    QTest::newRow("folder") << QStringList{"folder", "good"} << QByteArray("folder: Is a directory\n");
    QTest::newRow("no usable line")
        << QStringList{"good", "junk"} << QByteArray("junk: no properly formatted checksum lines found\n");
}

void TestDigestCheck::unusableLists()
{
    QFETCH(QStringList, lists);
    QFETCH(QByteArray, message);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    writeFile(root.filePath("a"), "");
    // The digest of no bytes, FIPS 180-2.
    writeFile(root.filePath("good"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  a\n");
    writeFile(root.filePath("junk"), "not a digest\n");
    QVERIFY(QDir(root.path()).mkdir("folder"));

    const Run ours = runIn(root.path(), QStringLiteral(ORVALEN_CLI), QStringList{"digest", "-c"} + lists);
    // Every usable list is still checked; the unusable one fails the run as
    // an error, not as a file that differs.
    QCOMPARE(ours.out, QByteArray("a: OK\n"));
    QCOMPARE(ours.err, message);
    QCOMPARE(ours.code, 2);
}

QTEST_GUILESS_MAIN(TestDigestCheck)
#include "tst_digestcheck.moc"
