#include "ignorerules.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestIgnoreRules : public QObject
{
    Q_OBJECT
private slots:
    void matching_data();
    void matching();
    void malformed_data();
    void malformed();
    void loading_data();
    void loading();
};

void TestIgnoreRules::matching_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<bool>("excluded");

    QTest::newRow("no rules") << QByteArray() << QByteArray("a.tmp") << false << false;
    QTest::newRow("star at any depth") << QByteArray("*.tmp\n") << QByteArray("a/b/x.tmp") << false << true;
    QTest::newRow("star is not the whole name") << QByteArray("*.tmp\n") << QByteArray("x.tmp.keep") << false << false;
    QTest::newRow("star stays in one name") << QByteArray("a/*.tmp\n") << QByteArray("a/b/x.tmp") << false << false;
    QTest::newRow("star in the middle") << QByteArray("a*c*e\n") << QByteArray("abcdcxe") << false << true;
    QTest::newRow("question mark one byte") << QByteArray("?.c\n") << QByteArray("ab.c") << false << false;
    QTest::newRow("question mark one letter") << QByteArray("?.c\n") << QByteArray("\xc3\xa9.c") << false << true;
    QTest::newRow("range") << QByteArray("[a-c]x\n") << QByteArray("bx") << false << true;
    QTest::newRow("outside the range") << QByteArray("[a-c]x\n") << QByteArray("dx") << false << false;
    QTest::newRow("negated set") << QByteArray("[!a-c]x\n") << QByteArray("bx") << false << false;
    QTest::newRow("caret negates") << QByteArray("[^a-c]x\n") << QByteArray("dx") << false << true;
    QTest::newRow("bracket first is a member") << QByteArray("[]a]x\n") << QByteArray("]x") << false << true;
    QTest::newRow("letter case counts") << QByteArray("*.JPG\n") << QByteArray("p.jpg") << false << false;
    QTest::newRow("legacy byte in a set") << QByteArray("[\xe9]t\n") << QByteArray("\xe9t") << false << true;
    QTest::newRow("name at any depth") << QByteArray("core\n") << QByteArray("x/y/core") << false << true;
    QTest::newRow("leading slash anchors") << QByteArray("/core\n") << QByteArray("x/core") << false << false;
    QTest::newRow("leading slash at the top") << QByteArray("/core\n") << QByteArray("core") << false << true;
    QTest::newRow("inner slash anchors") << QByteArray("x/core\n") << QByteArray("y/x/core") << false << false;
    QTest::newRow("double star leading, no depth") << QByteArray("**/cache\n") << QByteArray("cache") << true << true;
    QTest::newRow("double star leading, deep") << QByteArray("**/cache\n") << QByteArray("a/b/cache/f") << false << true;
    QTest::newRow("double star inner, none") << QByteArray("a/**/b\n") << QByteArray("a/b") << false << true;
    QTest::newRow("double star inner, several") << QByteArray("a/**/b\n") << QByteArray("a/x/y/b") << false << true;
    QTest::newRow("double star inner, anchored") << QByteArray("a/**/b\n") << QByteArray("z/a/x/b") << false << false;
    QTest::newRow("double star inner, retried") << QByteArray("a/**/b/c\n") << QByteArray("a/b/x/b/c") << false << true;
    QTest::newRow("double star trailing, inside") << QByteArray("a/**\n") << QByteArray("a/f") << false << true;
    QTest::newRow("double star trailing, not itself") << QByteArray("a/**\n") << QByteArray("a") << true << false;
    QTest::newRow("directory only, directory") << QByteArray("build/\n") << QByteArray("src/build") << true << true;
    QTest::newRow("directory only, file") << QByteArray("build/\n") << QByteArray("src/build") << false << false;
    QTest::newRow("directory only, below") << QByteArray("build/\n") << QByteArray("build/out/x.o") << false << true;
    QTest::newRow("negation takes back") << QByteArray("*.log\n!keep.log\n") << QByteArray("d/keep.log") << false << false;
    QTest::newRow("negation leaves others") << QByteArray("*.log\n!keep.log\n") << QByteArray("d/other.log") << false << true;
    QTest::newRow("later line wins") << QByteArray("!keep.log\n*.log\n") << QByteArray("keep.log") << false << true;
    QTest::newRow("negation below an excluded directory")
        << QByteArray("build/\n!build/keep\n") << QByteArray("build/keep") << false << true;
    QTest::newRow("negation below a kept directory")
        << QByteArray("build/**\n!build/keep\n") << QByteArray("build/keep") << false << false;
    QTest::newRow("comments and blank lines")
        << QByteArray("# notes\n\n   \n#x\n") << QByteArray("# notes") << false << false;
    QTest::newRow("escaped hash") << QByteArray("\\#x\n") << QByteArray("#x") << false << true;
    QTest::newRow("escaped bang") << QByteArray("\\!x\n") << QByteArray("!x") << false << true;
    QTest::newRow("escaped star is plain") << QByteArray("a\\*\n") << QByteArray("ab") << false << false;
    QTest::newRow("trailing blanks dropped") << QByteArray("f.txt \t\n") << QByteArray("f.txt") << false << true;
    QTest::newRow("escaped trailing blank kept") << QByteArray("f\\ \n") << QByteArray("f") << false << false;
    QTest::newRow("CR LF lines, no final line end") << QByteArray("a\r\nb") << QByteArray("b") << false << true;
}

// The walk judges each directory on the way down and never enters an
// excluded one: it must come to the same answer as judging the path alone.
void TestIgnoreRules::matching()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, path);
    QFETCH(bool, isDirectory);
    QFETCH(bool, excluded);

    IgnoreRules rules;
    QVERIFY2(rules.parse(content.toStdString(), QStringLiteral("src/.orvalenignore")), qPrintable(rules.errorText()));
    QCOMPARE(rules.excluded(path.constData(), static_cast<std::size_t>(path.size()), isDirectory), excluded);

    bool walked = false;
    for (int i = 0; i < path.size() && !walked; ++i) {
        if (path.at(i) == '/')
            walked = rules.excludedEntry(path.constData(), static_cast<std::size_t>(i), true);
    }
    if (!walked)
        walked = rules.excludedEntry(path.constData(), static_cast<std::size_t>(path.size()), isDirectory);
    QCOMPARE(walked, excluded);
}

void TestIgnoreRules::malformed_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");

    QTest::newRow("unclosed bracket") << QByteArray("*.tmp\n# [\nab[c\n") << 3;
    QTest::newRow("bracket closing first is a member") << QByteArray("[]\n") << 1;
    QTest::newRow("negated bracket left open") << QByteArray("x\r\n[!]\r\n") << 2;
    QTest::newRow("lone bang") << QByteArray("a\n\n!\n") << 3;
    QTest::newRow("bang before blanks") << QByteArray("! \t\n") << 1;
    QTest::newRow("lone slash") << QByteArray("a\n/\n") << 2;
    QTest::newRow("two slashes") << QByteArray("a//b\n") << 1;
    QTest::newRow("dot dot") << QByteArray("x\nx\nx\nx\n../y\n") << 5;
    QTest::newRow("backslash at the end") << QByteArray("a\\\n") << 1;
    QTest::newRow("backwards range") << QByteArray("\n[z-a]\n") << 2;
    QTest::newRow("NUL byte") << QByteArray("a\nb\0c\n", 7) << 2;
}

// A malformed line throws away the lines before it too: half a rule set would
// hash or leave out files the owner did not mean to.
void TestIgnoreRules::malformed()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);

    const QString file = QStringLiteral("/srv/data/.orvalenignore");
    IgnoreRules rules;
    QVERIFY(rules.parse("*\n", file));
    QVERIFY(!rules.parse(content.toStdString(), file));
    const QString message = rules.errorText();
    QVERIFY2(message.contains(QLatin1Char('"') + file + QLatin1Char('"')), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral(", line %1: ").arg(line)), qPrintable(message));
    QVERIFY(rules.isEmpty());
    QVERIFY(!rules.excluded("a", 1, false));
}

void TestIgnoreRules::loading_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("throughDescriptor");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<bool>("excludesTmp");

    QTest::newRow("none") << "none" << false << true << false;
    QTest::newRow("none, descriptor") << "none" << true << true << false;
    QTest::newRow("rules") << "rules" << false << true << true;
    QTest::newRow("rules, descriptor") << "rules" << true << true << true;
    QTest::newRow("a directory of that name") << "directory" << false << false << false;
    QTest::newRow("a FIFO of that name") << "fifo" << true << false << false;
    QTest::newRow("a malformed file") << "malformed" << true << false << false;
    QTest::newRow("a link to nothing") << "dangling" << false << false << false;
    QTest::newRow("a link to nothing, descriptor") << "dangling" << true << false << false;
    QTest::newRow("a link to rules, descriptor") << "link" << true << true << true;
}

void TestIgnoreRules::loading()
{
    QFETCH(QString, kind);
    QFETCH(bool, throughDescriptor);
    QFETCH(bool, loaded);
    QFETCH(bool, excludesTmp);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.path() + QStringLiteral("/.orvalenignore");
    const QByteArray fileBytes = QFile::encodeName(file);
    if (kind == QLatin1String("rules") || kind == QLatin1String("malformed")) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(kind == QLatin1String("rules") ? "# scratch\n*.tmp\n" : "*.tmp\n[\n");
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(file));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(fileBytes.constData(), 0600), 0);
    } else if (kind == QLatin1String("dangling")) {
        QCOMPARE(::symlink("rules.txt", fileBytes.constData()), 0);
    } else if (kind == QLatin1String("link")) {
        QFile out(dir.filePath(QStringLiteral("rules.txt")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("*.tmp\n");
        QCOMPARE(::symlink("rules.txt", fileBytes.constData()), 0);
    }

    IgnoreRules rules;
    const std::string source = QFile::encodeName(dir.path()).toStdString();
    bool result;
    if (throughDescriptor) {
        const int fd = ::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        result = rules.load(fd, source);
        ::close(fd);
    } else {
        result = rules.load(source);
    }
    QCOMPARE(result, loaded);
    if (!loaded)
        QVERIFY2(rules.errorText().contains(file), qPrintable(rules.errorText()));
    QCOMPARE(rules.excluded("x/y.tmp", 7, false), excludesTmp);
}

QTEST_GUILESS_MAIN(TestIgnoreRules)
#include "tst_ignorerules.moc"
