#pragma once

// What the tests of hashing a file share: the algorithms, bytes that show a
// dropped or repeated piece, and a folder of its own for each test function.

#include "filereader.h"
#include "hashcpu.h"
#include "hashfactory.h"
#include "hashwrapper.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

const char *const algorithmNames[] = {"md5", "sha1", "sha256", "sha384", "sha512"};

inline std::shared_ptr<hashwrapper> makeWrapper(const QString &name)
{
    hashfactory factory;
    return std::shared_ptr<hashwrapper>(factory.makeWrapper(name.toStdString()));
}

// Deterministic bytes with some zero runs, so that a dropped or repeated
// piece changes the digest.
inline QByteArray testBytes(qint64 size)
{
    QByteArray bytes(static_cast<int>(size), Qt::Uninitialized);
    quint32 x = 0x12345678u ^ static_cast<quint32>(size);
    for (int i = 0; i < bytes.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = (i % 509) < 7 ? char(0) : static_cast<char>(x >> 24);
    }
    return bytes;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class HashFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
    }

    void cleanup()
    {
        hashForcePortable(false);
#if defined(ORVALEN_POSIX)
        filereader::pretendMissFrom(-1);
#endif
        dir.reset();
    }

protected:
    std::unique_ptr<QTemporaryDir> dir;
};
