#include "checksumfile.h"
#include "checksumline.h"
#include "checksumtestsupport.h"
#include "storedindex.h"
#include "hashtools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(std::vector<HashRecord>)

namespace {

// Fixed test data: built once at start-up, where its cost does not matter.
const std::string empty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"; // clazy:exclude=non-pod-global-static

} // namespace

// The line format: what a checksums file holds for a list of records, and
// what a file read gives back.
class TestChecksumFile : public QObject
{
    Q_OBJECT
private slots:
    void writtenBytes_data();
    void writtenBytes();
    void readLines_data();
    void readLines();
    void onlyFilesWithARecordAreRead_data();
    void onlyFilesWithARecordAreRead();
    void roundTrip();
    void readExtendsTheList();
    void unusableNames_data();
    void unusableNames();
    void refusedRecords_data();
    void refusedRecords();
    void digestsOnOneLine_data();
    void digestsOnOneLine();
};

void TestChecksumFile::writtenBytes_data()
{
    QTest::addColumn<std::vector<HashRecord>>("records");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no records: empty file") << std::vector<HashRecord>{} << QByteArray();
    QTest::newRow("the 79-byte example")
        << std::vector<HashRecord>{{"docs/fox.txt", fox}}
        << QByteArray(fox.c_str()) + " docs/fox.txt\r\n";
    QTest::newRow("spaces, a leading space, in list order")
        << std::vector<HashRecord>{{"z", empty}, {"my file.txt", fox}, {" lead", fox}, {"", empty}}
        << QByteArray(empty.c_str()) + " z\r\n" + fox.c_str() + " my file.txt\r\n" + fox.c_str()
               + "  lead\r\n" + empty.c_str() + " \r\n";
}

void TestChecksumFile::writtenBytes()
{
    QFETCH(std::vector<HashRecord>, records);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums.sha256";
    HashTools tools("sha256");
    const std::string digest = tools.saveDB(name.toStdString(), records);
    const QByteArray written = contentOf(name);
    QCOMPARE(written, expected);
    if (records.size() == 1)
        QCOMPARE(written.size(), 79);
    // The digest is that of the file on disk, checked against coreutils.
    QProcess sum;
    sum.start("sha256sum", {name});
    QVERIFY(sum.waitForFinished());
    QCOMPARE(digest, sum.readAllStandardOutput().left(64).toStdString());
}

void TestChecksumFile::readLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("CR LF lines") << QByteArray("aa x\r\nbb sub/y\r\n") << QStringList{"aa|x", "bb|sub/y"};
    QTest::newRow("LF-only lines") << QByteArray("aa x\nbb sub/y\n") << QStringList{"aa|x", "bb|sub/y"};
    QTest::newRow("last line without line end") << QByteArray("aa x\r\nbb y") << QStringList{"aa|x", "bb|y"};
    QTest::newRow("spaces stay in the path") << QByteArray("aa my file.txt \r\n")
                                             << QStringList{"aa|my file.txt "};
    QTest::newRow("second space belongs to the path") << QByteArray("aa  lead\r\n") << QStringList{"aa| lead"};
    QTest::newRow("tab after the digest") << QByteArray("aa\tx y\r\n") << QStringList{"aa|x y"};
    QTest::newRow("blank line skipped, later lines read")
        << QByteArray("aa x\r\n\r\nbb y\r\n") << QStringList{"aa|x", "bb|y"};
    QTest::newRow("white-space-only line skipped") << QByteArray("aa x\r\n \t \r\nbb y\r\n")
                                                   << QStringList{"aa|x", "bb|y"};
    QTest::newRow("duplicate paths both kept") << QByteArray("aa x\r\nbb x\r\n") << QStringList{"aa|x", "bb|x"};
    QTest::newRow("digest alone: empty path") << QByteArray("aa\r\nbb y\r\n") << QStringList{"aa|", "bb|y"};
    QTest::newRow("digest alone at the end") << QByteArray("aa x\r\nbb") << QStringList{"aa|x", "bb|"};
    QTest::newRow("digest and one space: empty path") << QByteArray("aa \r\n") << QStringList{"aa|"};
    QTest::newRow("one space then digest: empty path") << QByteArray(" aa\r\n") << QStringList{"aa|"};
    // The path starts at the token's length plus one, counted from the
    // start of the line, whatever white space came first.
    QTest::newRow("leading white space shifts the path") << QByteArray("  aa bc\r\n") << QStringList{"aa|a bc"};
    QTest::newRow("byte order mark at the start ignored")
        << QByteArray("\xEF\xBB\xBF" "aa x\r\nbb y\r\n") << QStringList{"aa|x", "bb|y"};
    QTest::newRow("byte order mark elsewhere kept") << QByteArray("aa x\r\n\xEF\xBB\xBF" "bb y\r\n")
                                                    << QStringList{"aa|x", "\xEF\xBB\xBF" "bb|y"};
    QTest::newRow("carriage return inside a line kept, at the very end dropped")
        << QByteArray("aa x\ry\r\r\nbb z\r") << QStringList{"aa|x\ry\r", "bb|z"};
    QTest::newRow("token not a digest taken as it is") << QByteArray("NOT-HEX x\r\n") << QStringList{"NOT-HEX|x"};
    const QByteArray upper = QByteArray(fox.c_str()).toUpper();
    QTest::newRow("digest in capitals kept as written") << upper + " x\r\n" << QStringList{upper + "|x"};
    // Lines whose 65th byte is white space, as a record's is: the token
    // still ends at the first white space, wherever it stands.
    const QByteArray early = "aa " + QByteArray(61, 'c');
    QTest::newRow("token ends early, space at 65th byte") << early + " d\r\n" << QStringList{"aa|" + early.mid(3) + " d"};
    const QByteArray late = QByteArray(63, 'f');
    QTest::newRow("token of 63 bytes, two spaces") << late + "  y\r\n" << QStringList{late + "| y"};
    const QByteArray control = QByteArray(40, 'e') + '\x01' + QByteArray(23, 'e');
    QTest::newRow("control byte in a token of 64") << control + " z\r\n" << QStringList{control + "|z"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
}

void TestChecksumFile::readLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    // The rows' short tokens are no digests: one real record line, after a
    // leading byte order mark, makes each of them a checksums file.
    if (!content.isEmpty()) {
        const QByteArray anchor = QByteArray(fox.c_str()) + " anchor\r\n";
        content.insert(content.startsWith("\xEF\xBB\xBF") ? 3 : 0, anchor);
        expected.prepend(QString::fromStdString(fox) + "|anchor");
    }
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums.sha256";
    QVERIFY(writeFile(name, content));
    HashTools tools("sha256");
    std::vector<HashRecord> records;
    QCOMPARE(tools.loadDB(name.toStdString(), records), sha256Of(content));
    QCOMPARE(describe(records), expected);

    // The compact index verify uses gives back the same records, each path
    // found at its first record, each digest as it was written.
    StoredIndex index;
    QVERIFY(index.load(name.toStdString()));
    QCOMPARE(index.recordCount(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::size_t first = 0;
        while (records[first].path != records[i].path)
            ++first;
        QCOMPARE(index.path(i), records[i].path);
        QCOMPARE(index.digest(i), records[i].hash);
        QVERIFY(index.digestIs(i, records[i].hash));
        QCOMPARE(index.find(records[i].path.data(), records[i].path.size()), first);
        QCOMPARE(index.counting(i), first);
        // Tried first anywhere, a look-up finds the same record and goes on
        // after one with the path, a repeat of it included.
        const std::uint64_t hash = StoredIndex::hashOf(records[i].path.data(), records[i].path.size());
        for (const std::size_t tried : {std::size_t(0), i, i + 1, records.size()}) {
            std::size_t next = tried;
            QCOMPARE(index.find(records[i].path.data(), records[i].path.size(), hash, next), first);
            QVERIFY(next > 0 && next <= records.size());
            QCOMPARE(index.path(next - 1), records[i].path);
        }
    }
    // The first record is the anchor, in small letters: in capitals it is
    // another digest, as a text comparison has it.
    if (!records.empty())
        QVERIFY(!index.digestIs(0, QByteArray(fox.c_str()).toUpper().toStdString()));
    const std::string absent = "not listed";
    QCOMPARE(index.find(absent.data(), absent.size()), StoredIndex::none);
    std::size_t next = 0;
    QCOMPARE(index.find(absent.data(), absent.size(), StoredIndex::hashOf(absent.data(), absent.size()), next),
             StoredIndex::none);
    QCOMPARE(next, std::size_t(0));
}

void TestChecksumFile::onlyFilesWithARecordAreRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("expected");

    const QByteArray upper = QByteArray(fox.c_str()).toUpper();
    QTest::newRow("random text") << QByteArray("\x8f\x01zq\xff\r\n\0\x7f junk\n", 15) << false << QStringList();
    QTest::newRow("README-like text")
        << QByteArray("# Orvalen\n\nGuards a tree.\n\n    orvalen-cli verify DIR SUMS\n") << false << QStringList();
    QTest::newRow("63 digits then a space") << QByteArray(fox.c_str(), 63) + " a\r\n" << false << QStringList();
    QTest::newRow("65 digits then a space") << QByteArray(fox.c_str()) + "0 a\r\n" << false << QStringList();
    QTest::newRow("digits, then no separator") << QByteArray(fox.c_str()) + "\r\n" << false << QStringList();
    QTest::newRow("digits after a leading space") << " " + QByteArray(fox.c_str()) + " a\r\n" << false << QStringList();
    QTest::newRow("empty file: an empty tree") << QByteArray() << true << QStringList();
    QTest::newRow("blank lines only") << QByteArray("\r\n\n \r\n") << false << QStringList();
    QTest::newRow("one record among junk, last")
        << QByteArray("junk\r\n\r\nmore junk\r\n") + fox.c_str() + "\ta\r\n"
        << true << QStringList{"junk|", "more|junk", QString::fromStdString(fox) + "|a"};
    QTest::newRow("upper-case digests") << upper + " a\r\n" + upper + " b" << true
                                      << QStringList{upper + "|a", upper + "|b"};
    QTest::newRow("a record after a byte order mark")
        << "\xEF\xBB\xBF" + QByteArray(fox.c_str()) + " a\r\n" << true
        << QStringList{QString::fromStdString(fox) + "|a"};
}

void TestChecksumFile::onlyFilesWithARecordAreRead()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, accepted);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums.sha256";
    QVERIFY(writeFile(name, content));
    HashTools tools("sha256");
    std::vector<HashRecord> records{{"x", "aa"}};
    const std::string digest = tools.loadDB(name.toStdString(), records);
    int error = -1;
    const ChecksumFile::Verdict verdict = ChecksumFile::inspect(name.toStdString(), error);
    QCOMPARE(error, 0);
    expected.prepend("aa|x");
    QCOMPARE(describe(records), expected);
    QCOMPARE(digest, accepted ? sha256Of(content) : std::string());
    QCOMPARE(int(verdict),
             int(accepted ? ChecksumFile::Verdict::Usable : ChecksumFile::Verdict::NotChecksumsFile));
}

void TestChecksumFile::roundTrip()
{
    // Enough lines that reading crosses its buffer boundaries mid-line.
    std::vector<HashRecord> records;
    for (int i = 0; i < 30000; ++i)
        records.push_back({QStringLiteral("dir %1/\xc3\xa9 file\t%2 ").arg(i % 97).arg(i).toStdString(),
                           sha256Of(QByteArray::number(i))});
    records.push_back({"", fox});
    records.push_back({"ends in CR\r", fox});
    QTemporaryDir dir;
    const std::string name = (dir.path() + "/sums.sha256").toStdString();
    HashTools tools("sha256");
    const std::string saved = tools.saveDB(name, records);
    QVERIFY(!saved.empty());
    std::vector<HashRecord> read;
    QCOMPARE(tools.loadDB(name, read), saved);
    QCOMPARE(describe(read), describe(records));
}

void TestChecksumFile::readExtendsTheList()
{
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums.sha256";
    QVERIFY(writeFile(name, QByteArray(fox.c_str()) + " y\r\n"));
    HashTools tools("sha256");
    std::vector<HashRecord> records{{"x", "aa"}};
    QVERIFY(!tools.loadDB(name.toStdString(), records).empty());
    QCOMPARE(describe(records), (QStringList{"aa|x", QString::fromStdString(fox) + "|y"}));
}

void TestChecksumFile::unusableNames_data()
{
    QTest::addColumn<QString>("name");  // '@' stands for the temporary directory
    QTest::addColumn<bool>("writable");

    QTest::newRow("missing file") << "@/missing" << true;
    QTest::newRow("in a missing directory") << "@/no/such/sums" << false;
    QTest::newRow("a directory") << "@/folder" << false;
    QTest::newRow("a FIFO") << "@/fifo" << false;
    QTest::newRow("empty name") << "" << false;
}

void TestChecksumFile::unusableNames()
{
    QFETCH(QString, name);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.path() + "/fifo").constData(), 0644), 0);
    name.replace("@", dir.path());
    HashTools tools("sha256");
    std::vector<HashRecord> records{{"x", "aa"}};
    QCOMPARE(tools.loadDB(name.toStdString(), records), std::string());
    QCOMPARE(describe(records), QStringList{"aa|x"});
    const std::string digest = tools.saveDB(name.toStdString(), {{"y", fox}});
    QCOMPARE(!digest.empty(), writable);
    QVERIFY(QFileInfo(dir.path() + "/folder").isDir());
    QVERIFY(QFileInfo::exists(dir.path() + "/fifo") && !QFileInfo(dir.path() + "/fifo").isFile());
}

void TestChecksumFile::refusedRecords_data()
{
    QTest::addColumn<std::vector<HashRecord>>("records");
    // Records appended one by one, the caller going on after a refusal:
    // what follows must not reach the file either.
    QTest::addColumn<bool>("appended");

    for (const bool appended : {false, true}) {
        const char *how = appended ? ", appended" : "";
        QTest::newRow(QByteArray("line feed in a path").append(how).constData())
            << std::vector<HashRecord>{{"a", fox}, {"two\nlines", fox}, {"c", fox}} << appended;
        QTest::newRow(QByteArray("empty digest").append(how).constData())
            << std::vector<HashRecord>{{"a", ""}, {"b", fox}} << appended;
        QTest::newRow(QByteArray("space in a digest").append(how).constData())
            << std::vector<HashRecord>{{"a", "ab cd"}} << appended;
    }
}

void TestChecksumFile::refusedRecords()
{
    QFETCH(std::vector<HashRecord>, records);
    QFETCH(bool, appended);
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums.sha256";
    QVERIFY(writeFile(name, "old\r\n"));
    if (appended) {
        ChecksumFile::Writer writer(name.toStdString());
        QVERIFY(writer.prepare());
        int refused = 0;
        for (const HashRecord &record : records)
            refused += writer.append(record.path, record.hash) ? 0 : 1;
        QCOMPARE(refused, int(records.size()) - (records.front().hash == fox ? 1 : 0));
        QVERIFY(!writer.commit());
    } else {
        HashTools tools("sha256");
        QCOMPARE(tools.saveDB(name.toStdString(), records), std::string());
    }
    QCOMPARE(contentOf(name), QByteArray("old\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"sums.sha256"});
}

void TestChecksumFile::digestsOnOneLine_data()
{
    QTest::addColumn<QByteArray>("digest");
    QTest::addColumn<bool>("fits");

    const QByteArray hex(fox.c_str());
    QTest::newRow("lowercase hexadecimal") << hex << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("shorter than a word") << QByteArray("ab") << true;
    QTest::newRow("'!', the first character after the spaces") << QByteArray(64, '!') << true;
    QTest::newRow("bytes above ASCII") << QByteArray("\x80\xa0\xff\xc3\xa4" "ghijkl\x85") << true;
    QTest::newRow("control characters that are not spaces")
        << QByteArray("\x01\x02\x08\x0e\x1f\x7f" "abcdefgh", 14) << true;
    const struct
    {
        char space;
        const char *name;
    } spaces[] = {{' ', "space"}, {'\t', "tab"}, {'\n', "line feed"},
                  {'\v', "vertical tab"}, {'\f', "form feed"}, {'\r', "carriage return"}};
    for (const auto &space : spaces) {
        for (const int at : {0, 7, 8, 61, 63}) {
            QByteArray digest = hex;
            digest[at] = space.space;
            QTest::addRow("%s at %d", space.name, at) << digest << false;
        }
        QTest::addRow("%s after the last whole word", space.name) << hex + space.space << false;
    }
}

// The check that every record of a tree passes before it is written.
void TestChecksumFile::digestsOnOneLine()
{
    QFETCH(QByteArray, digest);
    QFETCH(bool, fits);
    QCOMPARE(ChecksumLine::fits("dir/file", digest.toStdString()), fits);
}

QTEST_GUILESS_MAIN(TestChecksumFile)
#include "tst_checksumfile.moc"
