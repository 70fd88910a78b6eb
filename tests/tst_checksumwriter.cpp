#include "checksumfile.h"
#include "checksumtestsupport.h"
#include "hashtools.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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

namespace {

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

// Replacing a checksums file on POSIX systems: whole or not at all, in
// place where the folder takes no new file, keeping mode, owner and the
// scan's time.
class TestChecksumWriter : public QObject
{
    Q_OBJECT
private slots:
    void replacesWholeFileKeepingMode_data();
    void replacesWholeFileKeepingMode();
    void readOnlyTarget();
    void fullDisk();
    void exfatStick_data();
    void exfatStick();
    void refusedAttributes_data();
    void refusedAttributes();
    void timeIsWhenPrepared_data();
    void timeIsWhenPrepared();
    void timeKeptOnExfat();
    void timeKeptIsChecked_data();
    void timeKeptIsChecked();
    void rewrittenInPlace_data();
    void rewrittenInPlace();
    void folderMovedDuringTheRun_data();
    void folderMovedDuringTheRun();
    void digestOfWhatIsWritten_data();
    void digestOfWhatIsWritten();
};

void TestChecksumWriter::replacesWholeFileKeepingMode_data()
{
    QTest::addColumn<QByteArray>("fileName");
    QTest::addColumn<int>("mode");

    QTest::newRow("group and others may read") << QByteArray("sums.sha256") << 0604;
    // Only root may replace a file it cannot write; it stays read-only.
    QTest::newRow("read-only, replaced by root") << QByteArray("sums.sha256") << 0444;
    QTest::newRow("name that is not UTF-8") << QByteArray("sums\xff.sha256") << 0640;
}

void TestChecksumWriter::replacesWholeFileKeepingMode()
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

void TestChecksumWriter::readOnlyTarget()
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

void TestChecksumWriter::fullDisk()
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

void TestChecksumWriter::exfatStick_data()
{
    QTest::addColumn<bool>("replaces");
    QTest::newRow("new file") << false;
    QTest::newRow("replaced file") << true;
}

void TestChecksumWriter::exfatStick()
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

void TestChecksumWriter::refusedAttributes_data()
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

void TestChecksumWriter::refusedAttributes()
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

namespace {

long long modifiedAt(const QByteArray &path)
{
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        return -1;
    return info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
}

} // namespace

void TestChecksumWriter::timeIsWhenPrepared_data()
{
    QTest::addColumn<bool>("replacing");
    QTest::newRow("a new checksums file") << false;
    QTest::newRow("replacing an older one") << true;
}

// The file's time must be that of the start of the scan, so that a file
// edited during a long scan is later than it; written at commit time, such
// an edit would look like damage.
void TestChecksumWriter::timeIsWhenPrepared()
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
void TestChecksumWriter::timeKeptOnExfat()
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

void TestChecksumWriter::timeKeptIsChecked_data()
{
    QTest::addColumn<bool>("ownTime");
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("time kept") << false << false;
    QTest::newRow("a time of the file system's own") << true << false;
    QTest::newRow("rewritten in place, a time of the file system's own") << true << true;
}

void TestChecksumWriter::timeKeptIsChecked()
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

void TestChecksumWriter::rewrittenInPlace_data()
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
void TestChecksumWriter::rewrittenInPlace()
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

void TestChecksumWriter::folderMovedDuringTheRun_data()
{
    QTest::addColumn<bool>("moved");
    QTest::addColumn<bool>("replaced");  // a new folder made at the old name

    QTest::newRow("folder stays") << false << false;
    QTest::newRow("folder moved, a new one made in its place") << true << true;
    QTest::newRow("folder moved, nothing in its place") << true << false;
}

// The writer stays with the folder it opened; the name as given then no
// longer leads to the file it wrote, and the caller must learn so.
void TestChecksumWriter::folderMovedDuringTheRun()
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

void TestChecksumWriter::digestOfWhatIsWritten_data()
{
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("askedFirst");

    QTest::newRow("sha256, one chunk") << "sha256" << 3 << true;
    QTest::newRow("sha256, several chunks") << "sha256" << 30000 << true;
    QTest::newRow("md5, several chunks") << "md5" << 30000 << true;
    QTest::newRow("no lines") << "sha256" << 0 << true;
    // Asked for after the first line, the digest would miss it: the file
    // is read back instead.
    QTest::newRow("asked for too late") << "sha256" << 30000 << false;
}

// The digest saveDB gives for records appended one by one is the file's,
// in the engine's algorithm, whether taken while writing or read back.
void TestChecksumWriter::digestOfWhatIsWritten()
{
    QFETCH(QString, algorithm);
    QFETCH(int, lines);
    QFETCH(bool, askedFirst);
    QTemporaryDir dir;
    const QString name = dir.path() + "/sums";
    QVERIFY(writeFile(name, "old\r\n"));
    HashTools tools(algorithm.toStdString());
    ChecksumFile::Writer writer(name.toStdString());
    QVERIFY(writer.prepare());
    if (askedFirst)
        tools.digestWhileWriting(writer);
    for (int i = 0; i < lines; ++i) {
        QVERIFY(writer.append("file" + std::to_string(i), fox));
        if (i == 0 && !askedFirst)
            tools.digestWhileWriting(writer);
    }
    const std::string digest = tools.saveDB(writer);
    QCOMPARE(writer.writtenDigest().empty(), !askedFirst);
    const QCryptographicHash::Algorithm kind
        = algorithm == "md5" ? QCryptographicHash::Md5 : QCryptographicHash::Sha256;
    QCOMPARE(digest, QCryptographicHash::hash(contentOf(name), kind).toHex().toStdString());
    QCOMPARE(contentOf(name).count('\n'), lines);
}

QTEST_GUILESS_MAIN(TestChecksumWriter)
#include "tst_checksumwriter.moc"
