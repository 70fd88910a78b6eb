// Every digest against the published vectors: the NIST CAVP byte-oriented
// ShortMsg, LongMsg and Monte Carlo files for SHA-1 and SHA-2, and the
// RFC 1321 suite for MD5. Each file runs on every block function the
// algorithm has: the portable code and each instruction-set path (skipped
// where this CPU lacks the instructions).

#include "hashcpu.h"
#include "hashfactory.h"
#include "hashwrapper.h"

#include <QFile>
#include <QVector>
#include <QtTest>

#include <memory>

namespace {

struct Vector
{
    int line;
    QByteArray message;
    QByteArray digest; // lowercase hex
};

QString vectorPath(const QString &relative)
{
    return QStringLiteral(ORVALEN_HASH_VECTORS) + QLatin1Char('/') + relative;
}

// Reads "Len = / Msg = / MD =" triples; Len is in bits, and a zero Len comes
// with a placeholder "00" message.
QVector<Vector> readMessageVectors(const QString &path, QString *error)
{
    QVector<Vector> vectors;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot open ") + path;
        return vectors;
    }
    int lineNo = 0;
    int bits = -1;
    QByteArray message;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++lineNo;
        if (line.startsWith("Len = ")) {
            bits = line.mid(6).toInt();
        } else if (line.startsWith("Msg = ")) {
            message = QByteArray::fromHex(line.mid(6));
        } else if (line.startsWith("MD = ")) {
            if (bits < 0 || bits % 8 != 0 || message.size() < bits / 8) {
                *error = QStringLiteral("malformed vector before line %1").arg(lineNo);
                return vectors;
            }
            vectors.push_back({lineNo, message.left(bits / 8), line.mid(5).toLower()});
            bits = -1;
        }
    }
    return vectors;
}

std::string digestInPieces(hashwrapper &wrapper, const QByteArray &message, int piece)
{
    if (piece == 0)
        return wrapper.digestOfString(message.toStdString());
    wrapper.startDigest();
    const auto *data = reinterpret_cast<const unsigned char *>(message.constData());
    for (int offset = 0; offset < message.size(); offset += piece) {
        const int n = qMin(piece, message.size() - offset);
        wrapper.addData(data + offset, static_cast<unsigned int>(n));
    }
    return wrapper.finishDigest();
}

std::unique_ptr<hashwrapper> makeWrapper(const QString &algorithm)
{
    hashfactory factory;
    return std::unique_ptr<hashwrapper>(factory.makeWrapper(algorithm.toStdString()));
}

struct Kernel
{
    const char *name;
    unsigned features; // what hashAllowFeatures gets
};

// The block functions of an algorithm.
QVector<Kernel> kernelsOf(const QString &algorithm)
{
    QVector<Kernel> kernels{{"portable", 0u}};
    const bool sha512Family = algorithm == QLatin1String("SHA384") || algorithm == QLatin1String("SHA512");
    if (algorithm == QLatin1String("SHA256") || sha512Family)
        kernels.push_back({"bmi2", hashFeatureBmi2});
    if (sha512Family) {
        kernels.push_back({"avx2", hashFeatureAvx2});
        kernels.push_back({"avx512", hashFeatureAvx512});
    }
    if (algorithm == QLatin1String("SHA1") || algorithm == QLatin1String("SHA256"))
        kernels.push_back({"sha-ni", hashFeatureShaExtensions});
    return kernels;
}

// Narrows the dispatch to one kernel; false when this CPU cannot run it.
bool selectKernel(unsigned features)
{
    if ((features & hashFeatureShaExtensions) && !hashCpuHasShaExtensions())
        return false;
    if ((features & hashFeatureBmi2) && !hashCpuHasBmi2())
        return false;
    if ((features & hashFeatureAvx2) && !hashCpuHasAvx2())
        return false;
    if ((features & hashFeatureAvx512) && !hashCpuHasAvx512())
        return false;
    hashAllowFeatures(features);
    return true;
}

struct VectorFile
{
    const char *algorithm;
    const char *path;
    int minimumCount; // guards against a parser that silently finds nothing
};

const VectorFile messageFiles[] = {
    {"MD5", "MD5/rfc-1321.txt", 7},
    {"SHA1", "SHA1/SHA1ShortMsg.rsp", 65},
    {"SHA1", "SHA1/SHA1LongMsg.rsp", 64},
    {"SHA256", "SHA2/SHA256ShortMsg.rsp", 65},
    {"SHA256", "SHA2/SHA256LongMsg.rsp", 64},
    {"SHA384", "SHA2/SHA384ShortMsg.rsp", 129},
    {"SHA384", "SHA2/SHA384LongMsg.rsp", 128},
    {"SHA512", "SHA2/SHA512ShortMsg.rsp", 129},
    {"SHA512", "SHA2/SHA512LongMsg.rsp", 128},
};

const VectorFile monteFiles[] = {
    {"SHA1", "SHA1/SHA1Monte.rsp", 100},
    {"SHA256", "SHA2/SHA256Monte.rsp", 100},
    {"SHA384", "SHA2/SHA384Monte.rsp", 100},
    {"SHA512", "SHA2/SHA512Monte.rsp", 100},
};

} // namespace

class tst_hashvectors : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void messages_data();
    void messages();
    void monteCarlo_data();
    void monteCarlo();
};

void tst_hashvectors::cleanup()
{
    hashAllowFeatures(hashFeaturesAll);
}

void tst_hashvectors::messages_data()
{
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("minimumCount");
    QTest::addColumn<uint>("features");
    QTest::addColumn<int>("piece");

    // piece 0: the whole message through digestOfString; otherwise fed to
    // addData in pieces of that many bytes, which makes every block cross
    // the engine's buffer.
    const int pieces[] = {0, 1, 61};
    for (const VectorFile &file : messageFiles) {
        const QVector<Kernel> kernels = kernelsOf(QString::fromLatin1(file.algorithm));
        for (const Kernel &kernel : kernels) {
            for (const int piece : pieces) {
                const QString tag = QStringLiteral("%1 %2 %3")
                                        .arg(QString::fromLatin1(file.path).section('/', -1),
                                             QString::fromLatin1(kernel.name),
                                             piece == 0 ? QStringLiteral("whole")
                                                        : QStringLiteral("pieces of %1").arg(piece));
                QTest::newRow(qPrintable(tag)) << QString::fromLatin1(file.algorithm)
                                               << QString::fromLatin1(file.path) << file.minimumCount
                                               << kernel.features << piece;
            }
        }
    }
}

void tst_hashvectors::messages()
{
    QFETCH(QString, algorithm);
    QFETCH(QString, path);
    QFETCH(int, minimumCount);
    QFETCH(uint, features);
    QFETCH(int, piece);

    QString error;
    const QVector<Vector> vectors = readMessageVectors(vectorPath(path), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(vectors.size() >= minimumCount, qPrintable(QStringLiteral("only %1 vectors read").arg(vectors.size())));

    if (!selectKernel(features))
        QSKIP("this CPU lacks the instructions");
    auto wrapper = makeWrapper(algorithm);
    QVERIFY(wrapper);
    for (const Vector &v : vectors) {
        const QByteArray got = QByteArray::fromStdString(digestInPieces(*wrapper, v.message, piece));
        if (got != v.digest)
            QFAIL(qPrintable(QStringLiteral("vector at line %1 (%2 bytes): got %3, expected %4")
                                 .arg(v.line)
                                 .arg(v.message.size())
                                 .arg(QString::fromLatin1(got), QString::fromLatin1(v.digest))));
    }
}

void tst_hashvectors::monteCarlo_data()
{
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<QString>("path");
    QTest::addColumn<uint>("features");

    for (const VectorFile &file : monteFiles) {
        const QVector<Kernel> kernels = kernelsOf(QString::fromLatin1(file.algorithm));
        for (const Kernel &kernel : kernels) {
            const QString tag = QStringLiteral("%1 %2").arg(QString::fromLatin1(file.path).section('/', -1),
                                                            QString::fromLatin1(kernel.name));
            QTest::newRow(qPrintable(tag)) << QString::fromLatin1(file.algorithm)
                                           << QString::fromLatin1(file.path) << kernel.features;
        }
    }
}

// The pseudorandom test of the SHA validation system: from a seed, each of
// 100 checkpoints digests 1000 messages, each the concatenation of the
// previous three digests.
void tst_hashvectors::monteCarlo()
{
    QFETCH(QString, algorithm);
    QFETCH(QString, path);
    QFETCH(uint, features);

    QFile file(vectorPath(path));
    QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(path));
    QByteArray seed;
    QVector<QByteArray> checkpoints;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("Seed = "))
            seed = QByteArray::fromHex(line.mid(7));
        else if (line.startsWith("MD = "))
            checkpoints.push_back(line.mid(5).toLower());
    }
    QVERIFY(!seed.isEmpty());
    QCOMPARE(checkpoints.size(), 100);

    if (!selectKernel(features))
        QSKIP("this CPU lacks the instructions");
    auto wrapper = makeWrapper(algorithm);
    QVERIFY(wrapper);
    for (int j = 0; j < checkpoints.size(); ++j) {
        QByteArray md[3] = {seed, seed, seed};
        for (int i = 3; i < 1003; ++i) {
            const QByteArray message = md[0] + md[1] + md[2];
            const QByteArray next = QByteArray::fromHex(
                QByteArray::fromStdString(wrapper->digestOfString(message.toStdString())));
            md[0] = md[1];
            md[1] = md[2];
            md[2] = next;
        }
        seed = md[2];
        if (seed.toHex() != checkpoints.at(j))
            QFAIL(qPrintable(QStringLiteral("checkpoint %1: got %2, expected %3")
                                 .arg(j)
                                 .arg(QString::fromLatin1(seed.toHex()),
                                      QString::fromLatin1(checkpoints.at(j)))));
    }
}

QTEST_APPLESS_MAIN(tst_hashvectors)
#include "tst_hashvectors.moc"
