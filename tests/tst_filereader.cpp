// Reading a file opened before: the digest must not tell whether it came
// from memory or from the device, on one thread or two, nor what the
// hasher read before, and whatever the file holds when read is hashed.

#include "filereader.h"
#include "hashfiletest.h"
#include "hashwrapper.h"

#include <QFile>
#include <QtTest>

#include <string>

#include <unistd.h>

class tst_filereader : public HashFileTest
{
    Q_OBJECT

private slots:
    void sizeChangedAfterOpen_data();
    void sizeChangedAfterOpen();
    void fromMemoryOrDevice_data();
    void fromMemoryOrDevice();
    void oneHasherManyFiles_data();
    void oneHasherManyFiles();
};

void tst_filereader::sizeChangedAfterOpen_data()
{
    QTest::addColumn<qint64>("before");
    QTest::addColumn<qint64>("after");
    QTest::addColumn<bool>("overlap");
    QTest::addColumn<bool>("probe");

    const qint64 chunk = hashwrapper::fileChunkSize;
    QTest::newRow("grew within a chunk") << qint64(1000) << qint64(5000) << false << true;
    QTest::newRow("grew past a chunk") << qint64(100) << chunk + 5 << false << false;
    QTest::newRow("grew by whole chunks, second thread") << 2 * chunk << 5 * chunk << true << true;
    QTest::newRow("shrank") << qint64(8000) << qint64(3000) << false << true;
    QTest::newRow("emptied") << chunk << qint64(0) << true << false;
    QTest::newRow("was empty") << qint64(0) << qint64(77) << false << true;
}

// The size the file had when opened only saves a read at its end: whatever
// the file holds when it is read is what is hashed.
void tst_filereader::sizeChangedAfterOpen()
{
    QFETCH(qint64, before);
    QFETCH(qint64, after);
    QFETCH(bool, overlap);
    QFETCH(bool, probe);

    const QString path = dir->filePath(QStringLiteral("changing.bin"));
    const QByteArray bytes = testBytes(after);
    QVERIFY(writeFile(path, testBytes(before)));
    const std::string native = QFile::encodeName(path).toStdString();
    long long size = -1;
    const int fd = hashwrapper::openRegularFile(native, &size);
    QVERIFY(fd >= 0);
    QCOMPARE(size, before);
    QVERIFY(writeFile(path, bytes));

    auto wrapper = makeWrapper(QStringLiteral("sha256"));
    bool missed = false;
    const std::string digest = wrapper->digestOfOpenFile(fd, size, native, overlap, {},
                                                         probe ? &missed : nullptr);
    ::close(fd);
    QCOMPARE(QString::fromStdString(digest), QString::fromStdString(wrapper->digestOfString(bytes.toStdString())));
}

void tst_filereader::fromMemoryOrDevice_data()
{
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<qint64>("size");
    // From this offset on the file counts as not in memory; -1: never.
    QTest::addColumn<qint64>("missFrom");
    QTest::addColumn<bool>("overlap");

    const qint64 piece = filereader::defaultMemoryPieceSize;
    const qint64 chunk = hashwrapper::fileChunkSize;
    const qint64 large = hashwrapper::overlapFileSize;
    QTest::newRow("memory, a piece less a byte") << "sha256" << piece - 1 << qint64(-1) << true;
    QTest::newRow("memory, one piece") << "sha256" << piece << qint64(-1) << true;
    QTest::newRow("memory, a chunk and a byte") << "sha512" << chunk + 1 << qint64(-1) << true;
    QTest::newRow("memory, large, one thread") << "md5" << large + piece / 2 << qint64(-1) << false;
    QTest::newRow("device, one chunk") << "sha256" << chunk << qint64(0) << true;
    QTest::newRow("device, a chunk and a byte") << "sha1" << chunk + 1 << qint64(0) << true;
    QTest::newRow("device, large, one thread") << "sha256" << large + 1 << qint64(0) << false;
    QTest::newRow("switch at a piece boundary") << "sha256" << 3 * chunk + 5 << 2 * piece << true;
    QTest::newRow("switch inside a piece") << "sha512" << 2 * chunk << piece + 100 << true;
    QTest::newRow("switch at the last byte") << "sha256" << chunk + piece << chunk + piece - 1 << true;
    QTest::newRow("switch at the end") << "sha256" << 2 * piece << 2 * piece << true;
    QTest::newRow("switch inside, large, one thread") << "md5" << large + 3 << chunk + 7 << false;
}

// A file is read from memory on the hashing thread, from the device with
// the second thread, or from memory until a piece is missing: the digest
// must not tell which.
void tst_filereader::fromMemoryOrDevice()
{
    QFETCH(QString, algorithm);
    QFETCH(qint64, size);
    QFETCH(qint64, missFrom);
    QFETCH(bool, overlap);

    const QString path = dir->filePath(QStringLiteral("large.bin"));
    const QByteArray bytes = testBytes(size);
    QVERIFY(writeFile(path, bytes));
    const std::string native = QFile::encodeName(path).toStdString();
    long long opened = -1;
    const int fd = hashwrapper::openRegularFile(native, &opened);
    QVERIFY(fd >= 0);
    QCOMPARE(opened, size);
    unsigned char first = 0;
    const bool kernelCanTell = hashwrapper::readWithoutWaiting(fd, &first, 1, 0) == 1;

    filereader::pretendMissFrom(missFrom);
    auto wrapper = makeWrapper(algorithm);
    bool missed = false;
    const std::string digest = wrapper->digestOfOpenFile(fd, size, native, overlap, {}, &missed);
    ::close(fd);
    filereader::pretendMissFrom(-1);
    QCOMPARE(QString::fromStdString(digest), QString::fromStdString(wrapper->digestOfString(bytes.toStdString())));
    if (missFrom == 0)
        QVERIFY(missed);
    else if (kernelCanTell)
        QVERIFY(!missed);
}

void tst_filereader::oneHasherManyFiles_data()
{
    QTest::addColumn<QString>("algorithm");
    for (const char *name : algorithmNames)
        QTest::newRow(name) << QString::fromLatin1(name);
}

// A scan's hasher keeps its read buffer and the string it writes digests
// into from file to file: a file read any way after any other, on a second
// thread or not, from memory or not, must get the digest it gets alone.
void tst_filereader::oneHasherManyFiles()
{
    QFETCH(QString, algorithm);

    const qint64 chunk = hashwrapper::fileChunkSize;
    const qint64 large = hashwrapper::overlapFileSize;
    struct Read
    {
        qint64 size;
        bool overlap;
        qint64 missFrom;
    };
    const Read reads[] = {{large + 5, true, -1}, {1000, false, -1}, {2 * chunk + 1, false, 0},
                          {0, false, -1},        {large + 5, true, chunk}, {1, false, -1},
                          {3 * chunk, true, 0},  {55, false, 0}};
    auto wrapper = makeWrapper(algorithm);
    QVERIFY(wrapper);
    std::string digest = "left over from before";
    int n = 0;
    for (const Read &read : reads) {
        const QByteArray bytes = testBytes(read.size + n);
        const QString path = dir->filePath(QStringLiteral("file%1.bin").arg(n++));
        QVERIFY(writeFile(path, bytes));
        const std::string native = QFile::encodeName(path).toStdString();
        long long size = -1;
        const int fd = hashwrapper::openRegularFile(native, &size);
        QVERIFY(fd >= 0);
        filereader::pretendMissFrom(read.missFrom);
        bool missed = false;
        wrapper->digestOfOpenFile(digest, fd, size, native, read.overlap, {}, &missed);
        filereader::pretendMissFrom(-1);
        ::close(fd);
        QCOMPARE(QString::fromStdString(digest), QString::fromStdString(wrapper->digestOfString(bytes.toStdString())));
    }
}

QTEST_APPLESS_MAIN(tst_filereader)
#include "tst_filereader.moc"
