#include "hashfactory.h"
#include "hashwrapper.h"
#include "uringreader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files).size());
}

// The files of one run: what the reader gave for each, in list order.
std::vector<UringReader::File> readAll(int dirFd, const std::vector<std::string> &paths)
{
    std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper(QStringLiteral("sha256").toStdString()));
    std::vector<UringReader::File> files(paths.size());
    UringReader reader(dirFd);
    reader.hash(paths.data(), paths.size(), *hasher, files.data());
    return files;
}

} // namespace

class TestUringReader : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { UringReader::refuseSetupForTesting(0); }
    void sameAsPlainPath_data();
    void sameAsPlainPath();
    void refusedSetupFallsBack_data();
    void refusedSetupFallsBack();
};

void TestUringReader::sameAsPlainPath_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("error");
    // The size of the other files; 0: a few bytes each.
    QTest::addColumn<qint64>("others");
    const qint64 piece = static_cast<qint64>(UringReader::pieceBytes);
    QTest::newRow("empty file") << qint64(0) << 0 << qint64(0);
    QTest::newRow("one byte") << qint64(1) << 0 << qint64(0);
    QTest::newRow("one byte short of a piece") << piece - 1 << 0 << qint64(0);
    QTest::newRow("exactly a piece") << piece << 0 << qint64(0);
    QTest::newRow("larger than the batch buffer")
        << static_cast<qint64>(UringReader::batchBytes) + 1 << 0 << qint64(0);
    QTest::newRow("among files that fill the batch buffer") << qint64(1000) << 0 << piece - 1;
    QTest::newRow("a folder") << qint64(-1) << int(EISDIR) << qint64(0);
    QTest::newRow("missing") << qint64(-2) << int(ENOENT) << qint64(0);
}

// The file under test sits in the second batch among small files, so that
// batches meet it next to others; every file must come out as the plain
// path gives it, with the digest sha256 gives and the status stat gives.
void TestUringReader::sameAsPlainPath()
{
    QFETCH(qint64, size);
    QFETCH(int, error);
    QFETCH(qint64, others);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::vector<std::string> paths;
    std::vector<QByteArray> contents;
    const std::size_t target = UringReader::batchFiles + 6;
    for (std::size_t i = 0; i < UringReader::batchFiles + 20; ++i) {
        const std::string path = i == target ? "the file" : "small/f" + std::to_string(i);
        QByteArray content;
        if ((i == target && size >= 0) || (i != target && others > 0)) {
            content.resize(static_cast<int>(i == target ? size : others));
            for (int at = 0; at < content.size(); ++at)
                content[at] = static_cast<char>((at * 131 + at / 977 + i) & 0xff);
        } else if (i != target) {
            content = QByteArray::number(static_cast<qulonglong>(i * i));
        }
        const QString full = dir.path() + QLatin1Char('/') + QString::fromStdString(path);
        QVERIFY(QDir().mkpath(QFileInfo(full).path()));
        if (i == target && size == -1) {
            QVERIFY(QDir().mkpath(full));
        } else if (i != target || size != -2) {
            QFile file(full);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), qint64(content.size()));
        }
        paths.push_back(path);
        contents.push_back(content);
    }
    const int dirFd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(dirFd >= 0);
    const int descriptors = openDescriptors();

    {
        UringReader probe(dirFd);
        if (!probe.batched()) {
            ::close(dirFd);
            QSKIP("io_uring is not to be had here; the fallback is tested below");
        }
    }
    const std::vector<UringReader::File> batched = readAll(dirFd, paths);
    UringReader::refuseSetupForTesting(EPERM);
    const std::vector<UringReader::File> plain = readAll(dirFd, paths);
    QCOMPARE(openDescriptors(), descriptors);

    for (std::size_t i = 0; i < paths.size(); ++i) {
        for (const auto *files : {&batched, &plain}) {
            const UringReader::File &file = (*files)[i];
            const char *run = files == &batched ? "batched" : "plain";
            const int expectedError = i == target ? error : 0;
            QVERIFY2(file.error == expectedError, (paths[i] + ", " + run).c_str());
            if (expectedError != 0) {
                QVERIFY(file.digest.empty());
                continue;
            }
            QCOMPARE(QByteArray::fromStdString(file.digest),
                     QCryptographicHash::hash(contents[i], QCryptographicHash::Sha256).toHex());
            struct stat status;
            QVERIFY(::fstatat(dirFd, paths[i].c_str(), &status, 0) == 0);
            const FileStamp stamp = FileStamp::of(status);
            QVERIFY2(!file.before.differsFrom(stamp), (paths[i] + ", " + run).c_str());
            QVERIFY2(!file.after.differsFrom(stamp), (paths[i] + ", " + run).c_str());
            QVERIFY(!file.changing);
        }
    }
    ::close(dirFd);
}

void TestUringReader::refusedSetupFallsBack_data()
{
    QTest::addColumn<int>("error");
    QTest::newRow("not permitted (io_uring_disabled, a seccomp filter)") << int(EPERM);
    QTest::newRow("no such call (a kernel without io_uring)") << int(ENOSYS);
}

void TestUringReader::refusedSetupFallsBack()
{
    QFETCH(int, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("abc")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write("abc"), qint64(3));
    file.close();
    const int dirFd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(dirFd >= 0);
    const int descriptors = openDescriptors();

    UringReader::refuseSetupForTesting(error);
    {
        UringReader reader(dirFd);
        QVERIFY(!reader.batched());
        QCOMPARE(reader.refusal(), error);
        QCOMPARE(openDescriptors(), descriptors);
    }
    const std::vector<UringReader::File> files = readAll(dirFd, {"abc"});
    ::close(dirFd);
    QCOMPARE(files[0].error, 0);
    // SHA-256 of "abc", FIPS 180-2 appendix B.1.
    QCOMPARE(files[0].digest, std::string("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QVERIFY(files[0].before.known && files[0].before.size == 3);
    QVERIFY(!files[0].after.differsFrom(files[0].before));
}

QTEST_GUILESS_MAIN(TestUringReader)

#include "tst_uringreader.moc"
