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

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

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

// SHA-512 of lengths on both sides of the one-, two- and three-block
// boundaries, of the message byte i = (7 i + 3) mod 251; the digests come
// from Python's hashlib.
struct LengthDigest
{
    int length;
    const char *digest;
};

const LengthDigest sha512Lengths[] = {
    {111, "0ef0e383d1e3b7f1e7477f27d7d62a25b3d637c42b509c96f230889cc05cade87cb595834c2f3cccd4c842221251636e3ef6c8b57ee0656e5352a9e968044ab7"},
    {112, "3b30650ae40d6cf145136a38623ebf064e642157296df6595c6b1a3fac9f5c30461bbc698b19fff7192763656ffc619002ce0cf39eb9efdfd9914a81d81fd71f"},
    {127, "07d05c6a64f1c2ebc735334f428871fca7153286d369318b52427074c3d97e97af523a00b2dd02e5150ee7f962380cf841bcb566cd4921e0226602986e59aff6"},
    {128, "9ac7d9bb8e42c2ce0230fe54f60868dca869afe8c4c02771ae54a7827818e6a8840b1fc2efbf2b5163150ed3710318d750c0ac2998b2c628ce4e66cb12cabfff"},
    {129, "8e14a5884c493da00130dddf9c0140009e7a4fbfebe9c88416bfae10fee38409fa50288087ff2d50e631b0695c95d6bb33a781069487fde48b2fde8d0c4230ab"},
    {239, "f8373d2604653212ce9f3d459ec15a1a6a90dc298270e5534e1a10b764ff554cd26ff0bc636e5f7d618ebadf2f045714d0291a7a8ee3cc0f33bcc82fdfe5e5f6"},
    {240, "d38c90e1c0f034adf600788b6003cda093d79023df22db953fe32b0927339bad44627fe72d86e3d3acac1a5baa4aaafe99b493ec7d5017c8845c9278cc0de8cc"},
    {255, "6b4bc2e04c7515a5c49d7e4760ec83eebfcc561eaff834e8966c7485c1227cfa248ffd7e10bf0a6e4b0f7d2920496d7eeae8534ca01ffa7825b5f16591cc734a"},
    {256, "13b7b7634df11324dc0cba338094805ca25488452ddf08325c14b4f57073d3b4df5ac4088c2ceae9c4b8f8d590704437880f3709f4cadf360b7e9d311c3d8635"},
    {383, "3194e640b5c376e7886209baf971c5388cdff833f719c119abeb518a18787ffa3a78e382d62be66e144d9ffd89c4166981e2ff569f0e3d4a5ced2965c7553a61"},
    {384, "ef9e2d56bb96c7cb567db5fd2e92420b2435352e9ebaba624c0b45b819be7ff80c3eedaf3a10e3411245beb303566f991c63c85f83008603229b176a17b0b9c3"},
    {385, "767cbd3a2404e13843d51104d3c5a7d461998f8f0cbda4a3ec88b96ffb9e7a34842a55067f3c8722ceb362f67d5f85000a609c3265baa6f7a8e6063b0060f4da"},
    {640, "5b7ced8ffbfcb633ee05f36e864c11b776dbeeae6b364504d3c6e3334c30072bdd88c9fd72423f5a420458f887cd297096d52d037dc201439a709ca556dee784"},
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
    void blockBoundaries_data();
    void blockBoundaries();
    void sideBySide_data();
    void sideBySide();
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

void tst_hashvectors::blockBoundaries_data()
{
    QTest::addColumn<uint>("features");
    QTest::addColumn<int>("head");

    // head 0: the message in one piece, so the engine hands every whole
    // block over in one call (pairs, then a lone last block); head 1: one
    // byte first, so the blocks after the first come from an odd address;
    // head -1: byte by byte, one block per call.
    const int heads[] = {0, 1, -1};
    const auto kernels = kernelsOf(QStringLiteral("SHA512"));
    for (const Kernel &kernel : kernels) {
        for (const int head : heads) {
            const char *feed = head == 0 ? "whole" : head == 1 ? "one byte first" : "byte by byte";
            QTest::addRow("%s %s", kernel.name, feed) << kernel.features << head;
        }
    }
}

void tst_hashvectors::blockBoundaries()
{
    QFETCH(uint, features);
    QFETCH(int, head);

    if (!selectKernel(features))
        QSKIP("this CPU lacks the instructions");
    auto wrapper = makeWrapper(QStringLiteral("SHA512"));
    QVERIFY(wrapper);
    for (const LengthDigest &row : sha512Lengths) {
        QByteArray message(row.length, Qt::Uninitialized);
        for (int i = 0; i < row.length; ++i)
            message[i] = static_cast<char>((7 * i + 3) % 251);
        const auto *data = reinterpret_cast<const unsigned char *>(message.constData());
        wrapper->startDigest();
        if (head < 0) {
            for (int i = 0; i < row.length; ++i)
                wrapper->addData(data + i, 1);
        } else {
            wrapper->addData(data, static_cast<unsigned int>(head));
            wrapper->addData(data + head, static_cast<unsigned int>(row.length - head));
        }
        const QByteArray got = QByteArray::fromStdString(wrapper->finishDigest());
        if (got != row.digest)
            QFAIL(qPrintable(QStringLiteral("%1 bytes: got %2, expected %3")
                                 .arg(row.length)
                                 .arg(QString::fromLatin1(got), QString::fromLatin1(row.digest))));
    }
}

void tst_hashvectors::sideBySide_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<uint>("features");
    QTest::addColumn<int>("group");

    // The vector kernel with each one-message kernel finishing the last
    // lanes, and without it. Groups of 2 leave most lanes idle; of 11, a
    // lane takes a new message while the others are part-way through
    // theirs; all of a file at once runs lanes through many messages of
    // ever longer lengths.
    const struct
    {
        const char *name;
        unsigned features;
    } paths[] = {{"side by side, sha-ni after", hashFeatureAvx512 | hashFeatureShaExtensions},
                 {"side by side, portable after", hashFeatureAvx512},
                 {"one at a time", hashFeatureShaExtensions}};
    const char *files[] = {"SHA2/SHA256ShortMsg.rsp", "SHA2/SHA256LongMsg.rsp"};
    const int groups[] = {2, 11, 0};
    for (const char *file : files) {
        for (const auto &kernel : paths) {
            for (const int group : groups) {
                QTest::addRow("%s %s, %s", QString::fromLatin1(file).section('/', -1).toLatin1().constData(),
                              kernel.name,
                              group == 0 ? "all at once" : qPrintable(QStringLiteral("groups of %1").arg(group)))
                        << QString::fromLatin1(file) << kernel.features << group;
            }
        }
    }
}

void tst_hashvectors::sideBySide()
{
    QFETCH(QString, path);
    QFETCH(uint, features);
    QFETCH(int, group);

    QString error;
    QVector<Vector> vectors = readMessageVectors(vectorPath(path), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(vectors.size() >= 64);
    if (!selectKernel(features))
        QSKIP("this CPU lacks the instructions");
    // Shortest last in each group, so that lanes end at different blocks.
    std::reverse(vectors.begin(), vectors.end());
    auto wrapper = makeWrapper(QStringLiteral("SHA256"));
    QVERIFY(wrapper);
    const std::size_t count = static_cast<std::size_t>(vectors.size());
    const std::size_t step = group == 0 ? count : static_cast<std::size_t>(group);
    std::vector<const unsigned char *> data(count);
    std::vector<std::size_t> lengths(count);
    std::vector<std::string> digests(count);
    std::vector<std::string *> into(count);
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = reinterpret_cast<const unsigned char *>(vectors[static_cast<int>(i)].message.constData());
        lengths[i] = static_cast<std::size_t>(vectors[static_cast<int>(i)].message.size());
        into[i] = &digests[i];
    }
    for (std::size_t first = 0; first < count; first += step) {
        const std::size_t n = std::min(step, count - first);
        wrapper->digestsInto(data.data() + first, lengths.data() + first, n, into.data() + first);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Vector &v = vectors[static_cast<int>(i)];
        if (QByteArray::fromStdString(digests[i]) != v.digest)
            QFAIL(qPrintable(QStringLiteral("vector at line %1 (%2 bytes): got %3, expected %4")
                                 .arg(v.line)
                                 .arg(v.message.size())
                                 .arg(QString::fromStdString(digests[i]), QString::fromLatin1(v.digest))));
    }
}

QTEST_APPLESS_MAIN(tst_hashvectors)
#include "tst_hashvectors.moc"
