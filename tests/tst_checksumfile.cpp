#include "checksumfile.h"
#include "storedindex.h"
#include "hashtools.h"
#include "unprivileged.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::vector<HashRecord>)

namespace {

// Fixed test data: built once at start-up, where its cost does not matter.
const std::string fox = "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"; // clazy:exclude=non-pod-global-static
const std::string empty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"; // clazy:exclude=non-pod-global-static

std::string sha256Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toStdString();
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QStringList describe(const std::vector<HashRecord> &records)
{
    QStringList lines;
    for (const HashRecord &record : records)
        lines << QString::fromStdString(record.hash) + "|" + QString::fromStdString(record.path);
    return lines;
}

int namesIn(const QString &path)
{
    DIR *listing = ::opendir(QFile::encodeName(path).constData());
    if (!listing)
        return -1;
    int entries = 0;
    while (const dirent *entry = ::readdir(listing))
        entries += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
    ::closedir(listing);
    return entries;
}

// Runs a shell script with dir as $1; true when it succeeded.
bool shell(const char *script, const QString &dir)
{
    QProcess process;
    process.start("sh", {"-ec", QString("PATH=$PATH:/usr/sbin:/sbin; ") + script, "sh", dir});
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

// A small exFAT file system mounted through FUSE on a loop device, as a USB
// stick is: its files belong to root and keep no modes, so an ordinary user
// may write them but not chmod them.
struct ExfatStick
{
    explicit ExfatStick(const QString &dir) : dir(dir)
    {
        mounted = ::geteuid() == 0 && QFile::exists("/dev/fuse")
                  && shell("truncate -s 8M \"$1/img\"; mkfs.exfat \"$1/img\" >/dev/null; mkdir \"$1/stick\";"
                           "mount.exfat-fuse \"$(losetup -f --show \"$1/img\")\" \"$1/stick\" 2>/dev/null",
                           dir);
    }
    ~ExfatStick()
    {
        shell("umount \"$1/stick\" 2>/dev/null || true;"
              "losetup -j \"$1/img\" | cut -d: -f1 | xargs -r losetup -d", dir);
    }
    QString dir;
    bool mounted = false;
};

int failWith = 0;
int refusedMode(int, unsigned int)
{
    errno = failWith;
    return -1;
}
int refusedOwner(int, unsigned int, unsigned int)
{
    errno = failWith;
    return -1;
}

} // namespace

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
    void replacesWholeFileKeepingMode_data();
    void replacesWholeFileKeepingMode();
    void writesThroughLink();
    void readOnlyTarget();
    void fullDisk();
    void exfatStick_data();
    void exfatStick();
    void refusedAttributes_data();
    void refusedAttributes();
    void linkInSharedFolder_data();
    void linkInSharedFolder();
    void linkSwappedDuringWrites();
    void timeIsWhenPrepared_data();
    void timeIsWhenPrepared();
    void timeKeptOnExfat();
    void timeKeptIsChecked_data();
    void timeKeptIsChecked();
    void linkToFolderInSharedFolder_data();
    void linkToFolderInSharedFolder();
    void othersFileInSharedFolder_data();
    void othersFileInSharedFolder();
    void rewrittenInPlace_data();
    void rewrittenInPlace();
    void folderMovedDuringTheRun_data();
    void folderMovedDuringTheRun();
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
    }
    // The first record is the anchor, in small letters: in capitals it is
    // another digest, as a text comparison has it.
    if (!records.empty())
        QVERIFY(!index.digestIs(0, QByteArray(fox.c_str()).toUpper().toStdString()));
    const std::string absent = "not listed";
    QCOMPARE(index.find(absent.data(), absent.size()), StoredIndex::none);
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

void TestChecksumFile::replacesWholeFileKeepingMode_data()
{
    QTest::addColumn<QByteArray>("fileName");
    QTest::addColumn<int>("mode");

    QTest::newRow("group and others may read") << QByteArray("sums.sha256") << 0604;
    // Only root may replace a file it cannot write; it stays read-only.
    QTest::newRow("read-only, replaced by root") << QByteArray("sums.sha256") << 0444;
    QTest::newRow("name that is not UTF-8") << QByteArray("sums\xff.sha256") << 0640;
}

void TestChecksumFile::replacesWholeFileKeepingMode()
{
    QFETCH(QByteArray, fileName);
    QFETCH(int, mode);
    if ((mode & 0200) == 0 && ::geteuid() != 0)
        QSKIP("needs root");
    QTemporaryDir dir;
    const std::string name = QFile::encodeName(dir.path()).toStdString() + "/" + fileName.toStdString();
    const QByteArray old = QByteArray(500, 'x') + "\r\nlong old content\r\n";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, old.constData(), old.size()), ssize_t(old.size()));
    ::close(fd);
    QCOMPARE(::chmod(name.c_str(), mode_t(mode)), 0);
    HashTools tools("sha256");
    const std::string digest = tools.saveDB(name, {{"a", fox}});
    const QByteArray expected = QByteArray(fox.c_str()) + " a\r\n";
    QCOMPARE(digest, sha256Of(expected));
    std::vector<HashRecord> back;
    QCOMPARE(tools.loadDB(name, back), digest);
    QCOMPARE(describe(back), QStringList{QString::fromStdString(fox) + "|a"});
    struct stat info;
    QCOMPARE(::stat(name.c_str(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(mode));
    // No temporary file left beside it (QDir cannot list every name).
    DIR *listing = ::opendir(QFile::encodeName(dir.path()).constData());
    QVERIFY(listing);
    int entries = 0;
    while (const dirent *entry = ::readdir(listing))
        entries += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
    ::closedir(listing);
    QCOMPARE(entries, 1);
}

void TestChecksumFile::writesThroughLink()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.path() + "/real.sha256", "old\r\n"));
    QVERIFY(QFile::link("real.sha256", dir.path() + "/link.sha256"));
    HashTools tools("sha256");
    QVERIFY(!tools.saveDB((dir.path() + "/link.sha256").toStdString(), {{"a", fox}}).empty());
    QVERIFY(QFileInfo(dir.path() + "/link.sha256").isSymLink());
    QCOMPARE(contentOf(dir.path() + "/real.sha256"), QByteArray(fox.c_str()) + " a\r\n");
}

void TestChecksumFile::readOnlyTarget()
{
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums.sha256";
    QVERIFY(writeFile(name, "old\r\n"));
    // The directory is writable for everyone: only the file's own mode may
    // stop the writer.
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    QCOMPARE(::chmod(QFile::encodeName(name).constData(), 0444), 0);
    const QByteArray result = asUnprivileged([&]() {
        HashTools tools("sha256");
        return QByteArray::fromStdString(tools.saveDB(name.toStdString(), {{"a", fox}}) + "|");
    });
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QCOMPARE(result, QByteArray("|"));
    QCOMPARE(contentOf(name), QByteArray("old\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"sums.sha256"});
}

void TestChecksumFile::fullDisk()
{
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::mount("orvalen-test", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    const QString name = dir.path() + "/sums.sha256";
    const bool prepared = writeFile(name, "old\r\n");
    // 2,000 lines of some 80 bytes: far more than the 64 KiB that fit.
    std::vector<HashRecord> records;
    for (int i = 0; i < 2000; ++i)
        records.push_back({QStringLiteral("file%1").arg(i).toStdString(), fox});
    HashTools tools("sha256");
    const std::string digest = tools.saveDB(name.toStdString(), records);
    const QByteArray after = contentOf(name);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    ::umount(mountPoint.constData());
    QVERIFY(prepared);
    QCOMPARE(digest, std::string());
    QCOMPARE(after, QByteArray("old\r\n"));
    QCOMPARE(left, QStringList{"sums.sha256"});
}

void TestChecksumFile::exfatStick_data()
{
    QTest::addColumn<bool>("replaces");
    QTest::newRow("new file") << false;
    QTest::newRow("replaced file") << true;
}

void TestChecksumFile::exfatStick()
{
    QFETCH(bool, replaces);
    QTemporaryDir dir;
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const ExfatStick stick(dir.path());
    if (!stick.mounted)
        QSKIP("cannot mount exFAT through FUSE here (needs root, /dev/fuse, a loop device, "
              "exfatprogs and exfat-fuse)");
    const QString name = dir.path() + "/stick/sums.sha256";
    if (replaces)
        QVERIFY(writeFile(name, "old\r\n"));
    const QByteArray result = asUnprivileged([&]() {
        HashTools tools("sha256");
        return QByteArray::fromStdString(tools.saveDB(name.toStdString(), {{"a", fox}}) + "|");
    });
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    const QByteArray expected = QByteArray(fox.c_str()) + " a\r\n";
    QCOMPARE(result, QByteArray::fromStdString(sha256Of(expected) + "|"));
    QCOMPARE(contentOf(name), expected);
    QCOMPARE(namesIn(dir.path() + "/stick"), 1);
}

void TestChecksumFile::refusedAttributes_data()
{
    QTest::addColumn<bool>("owner");  // the owner change fails, else the mode change
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("saved");

    QTest::newRow("mode: not permitted") << false << int(EPERM) << true;
    QTest::newRow("mode: not supported") << false << int(EOPNOTSUPP) << true;
    QTest::newRow("mode: invalid") << false << int(EINVAL) << true;
    QTest::newRow("owner: not permitted") << true << int(EPERM) << true;
    QTest::newRow("mode: input/output error") << false << int(EIO) << false;
    QTest::newRow("owner: input/output error") << true << int(EIO) << false;
}

void TestChecksumFile::refusedAttributes()
{
    QFETCH(bool, owner);
    QFETCH(int, error);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums.sha256";
    QVERIFY(writeFile(name, "old\r\n"));
    // Another user's file: replacing it asks for an owner change, which
    // only root makes.
    if (owner && (::geteuid() != 0 || ::chown(QFile::encodeName(name).constData(), 65534, 65534) != 0))
        QSKIP("needs root to replace another user's file");
    failWith = error;
    ChecksumFile::Writer writer(name.toStdString());
    writer.setAttributeCalls(owner ? nullptr : &refusedMode, owner ? &refusedOwner : nullptr);
    QCOMPARE(writer.commit({{"a", fox}}), saved);
    QCOMPARE(contentOf(name), saved ? QByteArray(fox.c_str()) + " a\r\n" : QByteArray("old\r\n"));
    QCOMPARE(writer.error(), saved ? 0 : error);
    QCOMPARE(namesIn(dir.path()), 1);
}

void TestChecksumFile::linkInSharedFolder_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("folderOwner");
    QTest::addColumn<int>("linkOwner");
    QTest::addColumn<bool>("dangling");
    QTest::addColumn<bool>("followed");

    QTest::newRow("another user's link, shared folder") << 01777 << 0 << 65534 << false << false;
    QTest::newRow("another user's dangling link, shared folder") << 01777 << 0 << 65534 << true << false;
    QTest::newRow("own link, shared folder") << 01777 << 0 << 0 << false << true;
    QTest::newRow("folder owner's link, shared folder") << 01777 << 65534 << 65534 << false << true;
    QTest::newRow("another user's link, folder not sticky") << 0777 << 0 << 65534 << false << true;
    QTest::newRow("own dangling link, shared folder") << 01777 << 0 << 0 << true << true;
    QTest::newRow("another user's dangling link, folder not sticky") << 0777 << 0 << 65534 << true << true;
}

void TestChecksumFile::linkInSharedFolder()
{
    QFETCH(int, folderMode);
    QFETCH(int, folderOwner);
    QFETCH(int, linkOwner);
    QFETCH(bool, dangling);
    QFETCH(bool, followed);
    if (::geteuid() != 0)
        QSKIP("needs root to plant another user's link");
    QTemporaryDir dir;
    const QByteArray shared = QFile::encodeName(dir.path()) + "/shared";
    const QByteArray victim = QFile::encodeName(dir.path()) + "/victim";
    const QByteArray link = shared + "/sums.sha256";
    QCOMPARE(::mkdir(shared.constData(), 0755), 0);
    QCOMPARE(::chown(shared.constData(), uid_t(folderOwner), 0), 0);
    QCOMPARE(::chmod(shared.constData(), mode_t(folderMode)), 0);
    if (!dangling)
        QVERIFY(writeFile(QFile::decodeName(victim), "victim\n"));
    // Relative, as the link's own folder reads it.
    QCOMPARE(::symlink("../victim", link.constData()), 0);
    QCOMPARE(::lchown(link.constData(), uid_t(linkOwner), gid_t(linkOwner)), 0);

    ChecksumFile::Writer writer(link.toStdString());
    QCOMPARE(writer.prepare(), followed);
    QCOMPARE(writer.commit({{"a", fox}}), followed);
    QCOMPARE(writer.error(), followed ? 0 : EACCES);
    struct stat info;
    QCOMPARE(::lstat(link.constData(), &info), 0);
    QVERIFY(S_ISLNK(info.st_mode));
    QCOMPARE(namesIn(QFile::decodeName(shared)), 1);
    const int victimThere = ::stat(victim.constData(), &info);
    if (dangling && !followed) {
        QCOMPARE(victimThere, -1);
        return;
    }
    QCOMPARE(victimThere, 0);
    QVERIFY(S_ISREG(info.st_mode));
    QCOMPARE(info.st_uid, uid_t(0));
    QCOMPARE(contentOf(QFile::decodeName(victim)),
             followed ? QByteArray(fox.c_str()) + " a\r\n" : QByteArray("victim\n"));
}

void TestChecksumFile::linkSwappedDuringWrites()
{
    if (::geteuid() != 0)
        QSKIP("needs root to race another user");
    QTemporaryDir dir;
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QByteArray shared = QFile::encodeName(dir.path()) + "/shared";
    const QByteArray victim = QFile::encodeName(dir.path()) + "/victim";
    const QByteArray sums = shared + "/sums.sha256";
    const QByteArray other = shared + "/other";
    QCOMPARE(::mkdir(shared.constData(), 01777), 0);
    QCOMPARE(::chmod(shared.constData(), 01777), 0);
    QVERIFY(writeFile(QFile::decodeName(victim), "victim\n"));
    struct stat before;
    QCOMPARE(::stat(victim.constData(), &before), 0);

    // Another user keeps swapping a file of its own and a link to the victim
    // at the checksums file's name, and plants the link again whenever a
    // write replaced it.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(1);
        const int fd = ::open(sums.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 || ::symlink(victim.constData(), other.constData()) != 0)
            ::_exit(1);
        ::close(fd);
        for (;;) {
            (void)::renameat2(AT_FDCWD, sums.constData(), AT_FDCWD, other.constData(), RENAME_EXCHANGE);
            struct stat a, b;
            if (::lstat(sums.constData(), &a) == 0 && ::lstat(other.constData(), &b) == 0
                && !S_ISLNK(a.st_mode) && !S_ISLNK(b.st_mode) && ::unlink(other.constData()) == 0)
                (void)::symlink(victim.constData(), other.constData());
        }
    }
    QVERIFY(child > 0);
    struct Reaper
    {
        pid_t pid;
        ~Reaper()
        {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reaper{child};
    struct stat info;
    while (::lstat(other.constData(), &info) != 0) {
        QVERIFY2(::waitpid(child, nullptr, WNOHANG) == 0, "the other user's process ended");
        ::usleep(1000);
    }

    HashTools tools("sha256");
    int written = 0;
    for (int run = 0; run < 50; ++run) {
        written += !tools.saveDB(sums.toStdString(), {{QString::number(run).toStdString(), fox}}).empty();
        QCOMPARE(contentOf(QFile::decodeName(victim)), QByteArray("victim\n"));
        QCOMPARE(::stat(victim.constData(), &info), 0);
        QCOMPARE(info.st_uid, before.st_uid);
        QCOMPARE(info.st_mode, before.st_mode);
    }
    qInfo("%d of 50 writes went through", written);
}

namespace {

long long modifiedAt(const QByteArray &path)
{
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        return -1;
    return info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
}

} // namespace

void TestChecksumFile::timeIsWhenPrepared_data()
{
    QTest::addColumn<bool>("replacing");
    QTest::newRow("a new checksums file") << false;
    QTest::newRow("replacing an older one") << true;
}

// The file's time must be that of the start of the scan, so that a file
// edited during a long scan is later than it; written at commit time, such
// an edit would look like damage.
void TestChecksumFile::timeIsWhenPrepared()
{
    QFETCH(bool, replacing);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray name = QFile::encodeName(dir.filePath("sums.sha256"));
    const QByteArray marker = QFile::encodeName(dir.filePath("marker"));
    if (replacing)
        QVERIFY(ChecksumFile::write(name.toStdString(), {{"old", fox}}));

    ChecksumFile::Writer writer(name.toStdString());
    QVERIFY(writer.prepare());
    // Past the coarse clock tick that stamps files, and a file written then:
    // the scan was under way by its time.
    QThread::msleep(30);
    QFile edited(QString::fromLocal8Bit(marker));
    QVERIFY(edited.open(QIODevice::WriteOnly));
    QVERIFY(edited.write("edited during the scan") > 0);
    edited.close();
    QThread::msleep(30);
    QVERIFY(writer.commit({{"docs/fox.txt", fox}}));

    const long long written = modifiedAt(name);
    const long long edit = modifiedAt(marker);
    QVERIFY(written > 0 && edit > 0);
    QVERIFY2(written < edit, qPrintable(QStringLiteral("%1 not before %2").arg(written).arg(edit)));
    QCOMPARE(contentOf(QString::fromLocal8Bit(name)), QByteArray(fox.c_str()) + " docs/fox.txt\r\n");
}

// exfat-fuse takes an access time left out for "now", and sets the
// modification time to now with it.
void TestChecksumFile::timeKeptOnExfat()
{
    QTemporaryDir dir;
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const ExfatStick stick(dir.path());
    if (!stick.mounted)
        QSKIP("cannot mount exFAT through FUSE here (needs root, /dev/fuse, a loop device, "
              "exfatprogs and exfat-fuse)");
    const QByteArray name = QFile::encodeName(dir.path()) + "/stick/sums.sha256";
    const QByteArray marker = QFile::encodeName(dir.path()) + "/stick/marker";
    ChecksumFile::Writer writer(name.toStdString());
    QVERIFY(writer.prepare());
    // exFAT keeps whole seconds, in steps of two for some times: a file
    // edited later must be stamped later.
    QThread::msleep(2500);
    QVERIFY(writeFile(QFile::decodeName(marker), "edited during the scan"));
    QVERIFY(writer.commit({{"a", fox}}));
    const bool kept = writer.timeKept();
    const long long written = modifiedAt(name);
    const long long edit = modifiedAt(marker);
    QVERIFY(written > 0 && edit > 0);
    QVERIFY2(written < edit, qPrintable(QStringLiteral("%1 not before %2").arg(written).arg(edit)));
    QVERIFY(kept);
    QVERIFY(writer.foundAtName());
}

namespace {

// A file system that stamps a file with a time of its own, whatever it is
// given: an hour on.
int timeOfItsOwn(int fd, const struct timespec times[2])
{
    struct timespec later[2] = {times[0], times[1]};
    later[0].tv_sec += 3600;
    later[1].tv_sec += 3600;
    return ::futimens(fd, later);
}

} // namespace

void TestChecksumFile::timeKeptIsChecked_data()
{
    QTest::addColumn<bool>("ownTime");
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("time kept") << false << false;
    QTest::newRow("a time of the file system's own") << true << false;
    QTest::newRow("rewritten in place, a time of the file system's own") << true << true;
}

void TestChecksumFile::timeKeptIsChecked()
{
    QFETCH(bool, ownTime);
    QFETCH(bool, inPlace);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/out";
    QVERIFY(QDir().mkdir(folder));
    const QString name = folder + "/sums.sha256";
    QVERIFY(writeFile(name, "old\r\n"));
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    // The user's own file, whose times the user may set.
    if (::geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(name).constData(), 65534, 65534), 0);
    QCOMPARE(::chmod(QFile::encodeName(name).constData(), 0666), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), inPlace ? 0555 : 0777), 0);
    const QByteArray result = asUnprivileged([&]() {
        ChecksumFile::Writer writer(name.toStdString());
        if (ownTime)
            writer.setTimesCall(&timeOfItsOwn);
        const bool committed = writer.commit({{"a", fox}});
        return QByteArray(committed ? "committed" : "failed") + (writer.timeKept() ? "|kept" : "|lost");
    });
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QCOMPARE(result, QByteArray(ownTime ? "committed|lost" : "committed|kept"));
    QCOMPARE(contentOf(name), QByteArray(fox.c_str()) + " a\r\n");
}

void TestChecksumFile::linkToFolderInSharedFolder_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("folderOwner");
    QTest::addColumn<int>("linkOwner");
    QTest::addColumn<bool>("followed");

    QTest::newRow("another user's link, shared folder") << 01777 << 0 << 65534 << false;
    QTest::newRow("own link, shared folder") << 01777 << 0 << 0 << true;
    QTest::newRow("folder owner's link, shared folder") << 01777 << 65534 << 65534 << true;
    QTest::newRow("another user's link, folder not sticky") << 0777 << 0 << 65534 << true;
}

// A link another user put in a shared folder may lead to any folder, which
// the caller's rights then write into.
void TestChecksumFile::linkToFolderInSharedFolder()
{
    QFETCH(int, folderMode);
    QFETCH(int, folderOwner);
    QFETCH(int, linkOwner);
    QFETCH(bool, followed);
    if (::geteuid() != 0)
        QSKIP("needs root to plant another user's link");
    QTemporaryDir dir;
    const QByteArray shared = QFile::encodeName(dir.path()) + "/shared";
    const QByteArray victims = QFile::encodeName(dir.path()) + "/victims";
    const QByteArray link = shared + "/sub";
    QCOMPARE(::mkdir(shared.constData(), 0755), 0);
    QCOMPARE(::chown(shared.constData(), uid_t(folderOwner), 0), 0);
    QCOMPARE(::chmod(shared.constData(), mode_t(folderMode)), 0);
    QCOMPARE(::mkdir(victims.constData(), 0755), 0);
    QVERIFY(writeFile(QFile::decodeName(victims + "/victim"), "victim\n"));
    QCOMPARE(::symlink("../victims", link.constData()), 0);
    QCOMPARE(::lchown(link.constData(), uid_t(linkOwner), gid_t(linkOwner)), 0);

    ChecksumFile::Writer writer((link + "/victim").toStdString());
    QCOMPARE(writer.prepare(), followed);
    QCOMPARE(writer.commit({{"a", fox}}), followed);
    QCOMPARE(writer.error(), followed ? 0 : EACCES);
    QCOMPARE(contentOf(QFile::decodeName(victims + "/victim")),
             followed ? QByteArray(fox.c_str()) + " a\r\n" : QByteArray("victim\n"));
    QCOMPARE(namesIn(QFile::decodeName(victims)), 1);
}

void TestChecksumFile::othersFileInSharedFolder_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("folderOwner");
    QTest::addColumn<bool>("duringScan");  // the file appears after prepare()
    QTest::addColumn<bool>("written");

    QTest::newRow("another user's file, shared folder") << 01777 << 0 << false << false;
    QTest::newRow("another user's file put there during the scan, shared folder") << 01777 << 0 << true << false;
    QTest::newRow("folder owner's file, shared folder") << 01777 << 65534 << false << true;
    QTest::newRow("another user's file, folder not sticky") << 0777 << 0 << false << true;
}

// Another user's file in a shared folder, even one writable for all, stays
// theirs to rewrite: replaced with its owner and mode kept, it would let
// them change the caller's digests at will.
void TestChecksumFile::othersFileInSharedFolder()
{
    QFETCH(int, folderMode);
    QFETCH(int, folderOwner);
    QFETCH(bool, duringScan);
    QFETCH(bool, written);
    if (::geteuid() != 0)
        QSKIP("needs root to make another user's file");
    QTemporaryDir dir;
    const QByteArray shared = QFile::encodeName(dir.path()) + "/shared";
    const QByteArray name = shared + "/root.sha";
    QCOMPARE(::mkdir(shared.constData(), 0755), 0);
    QCOMPARE(::chown(shared.constData(), uid_t(folderOwner), 0), 0);
    QCOMPARE(::chmod(shared.constData(), mode_t(folderMode)), 0);
    const auto plant = [&]() {
        return writeFile(QFile::decodeName(name), "planted\r\n") && ::chmod(name.constData(), 0666) == 0
               && ::chown(name.constData(), 65534, 65534) == 0;
    };
    if (!duringScan)
        QVERIFY(plant());

    ChecksumFile::Writer writer(name.toStdString());
    QCOMPARE(writer.prepare(), written || duringScan);
    if (duringScan)
        QVERIFY(plant());
    QCOMPARE(writer.commit({{"a", fox}}), written);
    QCOMPARE(writer.error(), written ? 0 : EACCES);
    QCOMPARE(contentOf(QFile::decodeName(name)),
             written ? QByteArray(fox.c_str()) + " a\r\n" : QByteArray("planted\r\n"));
    struct stat info;
    QCOMPARE(::stat(name.constData(), &info), 0);
    QCOMPARE(info.st_uid, uid_t(65534));
    QCOMPARE(namesIn(QFile::decodeName(shared)), 1);
}

void TestChecksumFile::rewrittenInPlace_data()
{
    QTest::addColumn<int>("fileOwner");
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<bool>("written");

    QTest::newRow("own file") << 65534 << 0644 << true;
    QTest::newRow("another user's file writable for all") << 0 << 0666 << true;
    QTest::newRow("another user's file") << 0 << 0644 << false;
}

// A checksums file the user may write, in a folder that takes no new file
// from them, is written where it stands.
void TestChecksumFile::rewrittenInPlace()
{
    QFETCH(int, fileOwner);
    QFETCH(int, fileMode);
    QFETCH(bool, written);
    QTemporaryDir dir;
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString folder = dir.path() + "/locked";
    QVERIFY(QDir().mkdir(folder));
    const QString name = folder + "/sums.sha256";
    const QByteArray old = QByteArray(300, 'x') + "\r\nlonger old content\r\n";
    QVERIFY(writeFile(name, old));
    const QByteArray encoded = QFile::encodeName(name);
    if (::geteuid() == 0)
        QCOMPARE(::chown(encoded.constData(), uid_t(fileOwner), gid_t(fileOwner)), 0);
    else if (uid_t(fileOwner) != ::geteuid())
        QSKIP("needs root to make another user's file");
    QCOMPARE(::chmod(encoded.constData(), mode_t(fileMode)), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    struct stat before;
    QCOMPARE(::stat(encoded.constData(), &before), 0);

    const QByteArray result = asUnprivileged([&]() {
        HashTools tools("sha256");
        std::vector<HashRecord> records;
        for (int i = 0; i < 20000; ++i)
            records.push_back({"file" + std::to_string(i), fox});
        return QByteArray::fromStdString(tools.saveDB(name.toStdString(), records) + "|");
    });
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    if (result.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QByteArray expected;
    for (int i = 0; i < 20000; ++i)
        expected += QByteArray(fox.c_str()) + " file" + QByteArray::number(i) + "\r\n";
    QCOMPARE(result, written ? QByteArray::fromStdString(sha256Of(expected) + "|") : QByteArray("|"));
    QCOMPARE(contentOf(name), written ? expected : old);
    struct stat after;
    QCOMPARE(::stat(encoded.constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(namesIn(folder), 1);
}

void TestChecksumFile::folderMovedDuringTheRun_data()
{
    QTest::addColumn<bool>("moved");
    QTest::addColumn<bool>("replaced");  // a new folder made at the old name

    QTest::newRow("folder stays") << false << false;
    QTest::newRow("folder moved, a new one made in its place") << true << true;
    QTest::newRow("folder moved, nothing in its place") << true << false;
}

// The writer stays with the folder it opened; the name as given then no
// longer leads to the file it wrote, and the caller must learn so.
void TestChecksumFile::folderMovedDuringTheRun()
{
    QFETCH(bool, moved);
    QFETCH(bool, replaced);
    QTemporaryDir dir;
    const QString out = dir.path() + "/out";
    QVERIFY(QDir().mkdir(out));
    ChecksumFile::Writer writer((out + "/sums.sha256").toStdString());
    QVERIFY(writer.prepare());
    if (moved)
        QVERIFY(QDir().rename(out, out + ".moved"));
    if (replaced)
        QVERIFY(QDir().mkdir(out));
    QVERIFY(writer.commit({{"a", fox}}));
    QCOMPARE(writer.foundAtName(), !moved);
    QCOMPARE(QString::fromStdString(writer.committedPath()), moved ? out + ".moved/sums.sha256" : QString());
    QCOMPARE(contentOf(out + (moved ? ".moved" : "") + "/sums.sha256"), QByteArray(fox.c_str()) + " a\r\n");
}

QTEST_GUILESS_MAIN(TestChecksumFile)
#include "tst_checksumfile.moc"
