#include "checksumfile.h"
#include "checksumtestsupport.h"
#include "hashtools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The way the writer takes to the file it replaces: through links, but not
// through those, nor into files, that another user put in a shared folder,
// and not elsewhere should a link be swapped in during the run.
class TestFolderWalk : public QObject
{
    Q_OBJECT
private slots:
    void writesThroughLink();
    void linkInSharedFolder_data();
    void linkInSharedFolder();
    void linkSwappedDuringWrites();
    void linkToFolderInSharedFolder_data();
    void linkToFolderInSharedFolder();
    void othersFileInSharedFolder_data();
    void othersFileInSharedFolder();
};

void TestFolderWalk::writesThroughLink()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.path() + "/real.sha256", "old\r\n"));
    QVERIFY(QFile::link("real.sha256", dir.path() + "/link.sha256"));
    HashTools tools("sha256");
    QVERIFY(!tools.saveDB((dir.path() + "/link.sha256").toStdString(), {{"a", fox}}).empty());
    QVERIFY(QFileInfo(dir.path() + "/link.sha256").isSymLink());
    QCOMPARE(contentOf(dir.path() + "/real.sha256"), QByteArray(fox.c_str()) + " a\r\n");
}

void TestFolderWalk::linkInSharedFolder_data()
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

void TestFolderWalk::linkInSharedFolder()
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

void TestFolderWalk::linkSwappedDuringWrites()
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

void TestFolderWalk::linkToFolderInSharedFolder_data()
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
void TestFolderWalk::linkToFolderInSharedFolder()
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

void TestFolderWalk::othersFileInSharedFolder_data()
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
void TestFolderWalk::othersFileInSharedFolder()
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

QTEST_GUILESS_MAIN(TestFolderWalk)
#include "tst_folderwalk.moc"
