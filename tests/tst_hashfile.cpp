// digestOfFile: the chunked reading must not show in the result, a file the
// wrapper cannot read completely must throw instead of yielding a digest,
// and anything but a regular file is refused without blocking.

#include "hashcpu.h"
#include "hashfiletest.h"
#include "hashwrapper.h"
#include "hlexception.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#if defined(ORVALEN_POSIX)
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

struct Outcome
{
    bool finished = false;
    bool threw = false;
    int code = 0;
    int errorNumber = 0;
    std::string message;
    std::string digest;
};

// Runs digestOfFile on a thread of its own so that a call that blocks (on a
// FIFO, say) fails the test instead of stalling the whole run. The wrapper is
// shared with that thread, which may outlive the test in that case.
Outcome digestGuarded(const std::shared_ptr<hashwrapper> &wrapper, const std::string &path)
{
    auto task = std::make_shared<std::packaged_task<Outcome()>>([wrapper, path] {
        Outcome outcome;
        try {
            outcome.digest = wrapper->digestOfFile(path);
        } catch (const hlException &e) {
            outcome.threw = true;
            outcome.code = e.code;
            outcome.errorNumber = e.errorNumber;
            outcome.message = e.messageText();
        }
        outcome.finished = true;
        return outcome;
    });
    std::future<Outcome> result = task->get_future();
    std::thread worker([task] { (*task)(); });
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        worker.detach();
        return Outcome();
    }
    worker.join();
    return result.get();
}

QString cannotRead(const QByteArray &path)
{
    return QStringLiteral("Cannot read file \"") + QString::fromLocal8Bit(path) + QStringLiteral("\".");
}

// The digest of a file by a program that does not share our code: Python's
// hashlib (OpenSSL), or else coreutils.
QString independentDigest(const QString &algorithm, const QString &path, QString *error)
{
    QProcess process;
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (!python.isEmpty()) {
        process.start(python, {QStringLiteral("-c"),
                               QStringLiteral("import hashlib, sys\n"
                                              "h = hashlib.new(sys.argv[1])\n"
                                              "with open(sys.argv[2], 'rb') as f:\n"
                                              "    for b in iter(lambda: f.read(1 << 20), b''):\n"
                                              "        h.update(b)\n"
                                              "print(h.hexdigest())\n"),
                               algorithm, path});
    } else {
        process.start(algorithm + QStringLiteral("sum"), {path});
    }
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        *error = QStringLiteral("the reference digest program failed: ")
                 + QString::fromLocal8Bit(process.readAllStandardError());
        return QString();
    }
    return QString::fromLatin1(process.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0).trimmed();
}

} // namespace

class tst_hashfile : public HashFileTest
{
    Q_OBJECT

private slots:
    void chunkBoundaries_data();
    void chunkBoundaries();
    void unusualNames_data();
    void unusualNames();
    void followsLinks_data();
    void followsLinks();
    void refused_data();
    void refused();
    void usableAfterException_data();
    void usableAfterException();
    void largeSparseFile_data();
    void largeSparseFile();

private:
    QString prepare(const QString &kind);
};

void tst_hashfile::chunkBoundaries_data()
{
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("portable");

    const qint64 chunk = hashwrapper::fileChunkSize;
    const qint64 sizes[] = {0,    1,    55,   56,        63,    64,        127,          128,
                            1023, 1024, 1025, 2048,      chunk - 1, chunk, chunk + 1, 2 * chunk + 1};
    for (const char *name : algorithmNames) {
        for (const qint64 size : sizes) {
            for (const bool portable : {true, false}) {
                QTest::newRow(qPrintable(QStringLiteral("%1 %2 bytes %3")
                                             .arg(QLatin1String(name))
                                             .arg(size)
                                             .arg(portable ? QStringLiteral("portable")
                                                           : QStringLiteral("dispatched"))))
                    << QString::fromLatin1(name) << size << portable;
            }
        }
    }
}

// The same wrapper digests the file twice, then the same bytes as a string.
void tst_hashfile::chunkBoundaries()
{
    QFETCH(QString, algorithm);
    QFETCH(qint64, size);
    QFETCH(bool, portable);

    hashForcePortable(portable);
    const QByteArray bytes = testBytes(size);
    const QString path = dir->filePath(QStringLiteral("data.bin"));
    QVERIFY(writeFile(path, bytes));

    auto wrapper = makeWrapper(algorithm);
    QVERIFY(wrapper);
    const std::string first = wrapper->digestOfFile(QFile::encodeName(path).toStdString());
    const std::string second = wrapper->digestOfFile(QFile::encodeName(path).toStdString());
    const std::string fromString = wrapper->digestOfString(bytes.toStdString());
    QCOMPARE(QString::fromStdString(first), QString::fromStdString(fromString));
    QCOMPARE(QString::fromStdString(second), QString::fromStdString(fromString));
}

void tst_hashfile::unusualNames_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("space") << "with space.txt";
    QTest::newRow("non-ASCII") << QStringLiteral("\u00fcber \u00e9t\u00e9.txt");
    QTest::newRow("double quote") << "say \"hi\".txt";
    QTest::newRow("leading dash") << "-rf";
    QTest::newRow("no extension") << "README";
}

void tst_hashfile::unusualNames()
{
    QFETCH(QString, name);

    const QByteArray bytes = testBytes(3000);
    const QString path = dir->filePath(name);
    QVERIFY(writeFile(path, bytes));
    auto wrapper = makeWrapper(QStringLiteral("sha256"));
    QCOMPARE(QString::fromStdString(wrapper->digestOfFile(QFile::encodeName(path).toStdString())),
             QString::fromStdString(wrapper->digestOfString(bytes.toStdString())));
}

void tst_hashfile::followsLinks_data()
{
    QTest::addColumn<int>("links");

    QTest::newRow("link to a regular file") << 1;
    QTest::newRow("link to a link to a regular file") << 2;
}

// Links to regular files are hashed as the file they point to.
void tst_hashfile::followsLinks()
{
    QFETCH(int, links);

    const QByteArray bytes = testBytes(4097);
    QString target = dir->filePath(QStringLiteral("target.bin"));
    QVERIFY(writeFile(target, bytes));
    for (int i = 0; i < links; ++i) {
        const QString link = dir->filePath(QStringLiteral("link%1").arg(i));
        if (!QFile::link(target, link))
            QSKIP("this file system has no symbolic links");
        target = link;
    }
    auto wrapper = makeWrapper(QStringLiteral("sha256"));
    QCOMPARE(QString::fromStdString(wrapper->digestOfFile(QFile::encodeName(target).toStdString())),
             QString::fromStdString(wrapper->digestOfString(bytes.toStdString())));
}

QString tst_hashfile::prepare(const QString &kind)
{
    if (kind == QLatin1String("missing"))
        return dir->filePath(QStringLiteral("no such file"));
    if (kind == QLatin1String("missing folder"))
        return dir->filePath(QStringLiteral("absent/file.txt"));
    if (kind == QLatin1String("empty path"))
        return QString();
    if (kind == QLatin1String("directory"))
        return dir->path();
    if (kind == QLatin1String("directory with slash"))
        return dir->path() + QLatin1Char('/');
#if defined(ORVALEN_POSIX)
    if (kind == QLatin1String("fifo") || kind == QLatin1String("link to fifo")) {
        const QString fifo = dir->filePath(QStringLiteral("pipe"));
        if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
            return QStringLiteral("mkfifo failed");
        if (kind == QLatin1String("fifo"))
            return fifo;
        const QString link = dir->filePath(QStringLiteral("pipe link"));
        return QFile::link(fifo, link) ? link : QStringLiteral("link failed");
    }
    if (kind == QLatin1String("unreadable")) {
        const QString path = dir->filePath(QStringLiteral("secret"));
        writeFile(path, "secret");
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        return path;
    }
    if (kind.startsWith(QLatin1Char('/')))
        return kind;
#endif
    return QStringLiteral("unknown kind ") + kind;
}

void tst_hashfile::refused_data()
{
    QTest::addColumn<QString>("kind");
    // The system's reason, which the exception carries beside its text.
    QTest::addColumn<int>("errorNumber");

    QTest::newRow("missing file") << "missing" << ENOENT;
    QTest::newRow("missing folder") << "missing folder" << ENOENT;
    QTest::newRow("empty path") << "empty path" << ENOENT;
    QTest::newRow("directory") << "directory" << EISDIR;
    QTest::newRow("directory with trailing slash") << "directory with slash" << EISDIR;
#if defined(ORVALEN_POSIX)
    QTest::newRow("no read permission") << "unreadable" << EACCES;
    QTest::newRow("FIFO without writer") << "fifo" << EINVAL;
    QTest::newRow("symbolic link to a FIFO") << "link to fifo" << EINVAL;
    QTest::newRow("endless device /dev/zero") << "/dev/zero" << EINVAL;
    QTest::newRow("empty device /dev/null") << "/dev/null" << EINVAL;
#endif
#if defined(Q_OS_LINUX)
    // Opens as a regular file; the first read fails with EIO.
    QTest::newRow("read error after open") << "/proc/self/mem" << EIO;
#endif
}

void tst_hashfile::refused()
{
    QFETCH(QString, kind);
    QFETCH(int, errorNumber);

    const QString path = prepare(kind);
    const QByteArray native = QFile::encodeName(path);
#if defined(ORVALEN_POSIX)
    if (kind == QLatin1String("unreadable") && ::geteuid() == 0) {
        // The file's own mode must be what refuses the read, not the folder's.
        QVERIFY(QFile::setPermissions(dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                       | QFileDevice::ExeOwner | QFileDevice::ExeOther));
        const QByteArray verdict = asUnprivileged([&]() {
            for (const char *name : algorithmNames) {
                try {
                    makeWrapper(QLatin1String(name))->digestOfFile(native.toStdString());
                    return QByteArray(name) + " gave a digest";
                } catch (const hlException &error) {
                    if (error.code != 1 || error.errorNumber != errorNumber
                        || QString::fromStdString(error.messageText()) != cannotRead(native))
                        return QByteArray(name) + " threw " + QByteArray::fromStdString(error.messageText());
                }
            }
            return QByteArray("refused");
        });
        if (verdict.isNull())
            QSKIP("root reads every file and could not become nobody");
        QCOMPARE(verdict, QByteArray("refused"));
        return;
    }
#endif

    for (const char *name : algorithmNames) {
        const Outcome outcome = digestGuarded(makeWrapper(QLatin1String(name)), native.toStdString());
        QVERIFY2(outcome.finished, "digestOfFile did not return");
        QVERIFY2(outcome.threw, qPrintable(QStringLiteral("%1 gave a digest: %2")
                                               .arg(QLatin1String(name), QString::fromStdString(outcome.digest))));
        QCOMPARE(outcome.code, 1);
        QCOMPARE(outcome.errorNumber, errorNumber);
        QCOMPARE(QString::fromStdString(outcome.message), cannotRead(native));
    }
}

void tst_hashfile::usableAfterException_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("after missing file") << "missing";
    QTest::newRow("after directory") << "directory";
#if defined(ORVALEN_POSIX)
    QTest::newRow("after FIFO") << "fifo";
#endif
#if defined(Q_OS_LINUX)
    QTest::newRow("after read error") << "/proc/self/mem";
#endif
}

// A wrapper that threw part-way must not carry anything into the next digest.
void tst_hashfile::usableAfterException()
{
    QFETCH(QString, kind);

    const QByteArray bytes = testBytes(5000);
    const QString good = dir->filePath(QStringLiteral("good.bin"));
    QVERIFY(writeFile(good, bytes));
    const QString bad = prepare(kind);

    for (const char *name : algorithmNames) {
        auto wrapper = makeWrapper(QLatin1String(name));
        const std::string expected = wrapper->digestOfString(bytes.toStdString());
        const Outcome failed = digestGuarded(wrapper, QFile::encodeName(bad).toStdString());
        QVERIFY2(failed.finished, "digestOfFile did not return");
        QVERIFY(failed.threw);
        const Outcome next = digestGuarded(wrapper, QFile::encodeName(good).toStdString());
        QVERIFY(next.finished && !next.threw);
        QCOMPARE(QString::fromStdString(next.digest), QString::fromStdString(expected));
    }
}

void tst_hashfile::largeSparseFile_data()
{
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("boundary");

    // SHA-256 past 4 GiB: byte counts no longer fit 32 bits. MD5 and SHA-1
    // past 512 MiB: their bit counts are kept as two 32-bit words and carry.
    const qint64 gib4 = Q_INT64_C(1) << 32;
    const qint64 mib512 = Q_INT64_C(1) << 29;
    QTest::newRow("sha256 4 GiB + 4099 bytes") << "sha256" << gib4 + 4099 << gib4;
    QTest::newRow("md5 512 MiB + 77 bytes") << "md5" << mib512 + 77 << mib512;
    QTest::newRow("sha1 512 MiB + 77 bytes") << "sha1" << mib512 + 77 << mib512;
}

// Mostly holes, which read as zeros; a few marks near the start, across the
// boundary and at the end make sure nothing there is skipped or repeated.
void tst_hashfile::largeSparseFile()
{
    QFETCH(QString, algorithm);
    QFETCH(qint64, size);
    QFETCH(qint64, boundary);

    const QString path = dir->filePath(QStringLiteral("sparse.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        const qint64 marks[] = {0, 12345, boundary - 3, size - 9};
        for (const qint64 at : marks) {
            QVERIFY(file.seek(at));
            QCOMPARE(file.write("mark-at-", 8), qint64(8));
        }
        QVERIFY(file.flush());
        QCOMPARE(file.size(), size);
    }

    QString error;
    const QString expected = independentDigest(algorithm, path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!expected.isEmpty());

    auto wrapper = makeWrapper(algorithm);
    QCOMPARE(QString::fromStdString(wrapper->digestOfFile(QFile::encodeName(path).toStdString())), expected);
}

QTEST_APPLESS_MAIN(tst_hashfile)
#include "tst_hashfile.moc"
