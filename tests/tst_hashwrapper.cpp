// The wrapper interface without files: the factory's name matching, the
// self-test and its failure text, string digests against published values.

#include "hashfactory.h"
#include "hashwrapper.h"
#include "hlexception.h"
#include "md5wrapper.h"
#include "sha1wrapper.h"
#include "sha256wrapper.h"
#include "sha384wrapper.h"
#include "sha512wrapper.h"

#include <QtTest>

#include <memory>

namespace {

std::unique_ptr<hashwrapper> makeWrapper(const std::string &name)
{
    hashfactory factory;
    return std::unique_ptr<hashwrapper>(factory.makeWrapper(name));
}

QString q(const std::string &text)
{
    return QString::fromStdString(text);
}

// Lets the tests see the self-test input, which is protected.
template <class Wrapper>
class Exposed : public Wrapper
{
public:
    std::string text() const { return this->testText; }
};

// A wrapper whose expectation is wrong, to make selfTest fail.
class WrongExpectation : public sha256wrapper
{
public:
    explicit WrongExpectation(const std::string &expected) : expected(expected) {}
    std::string expectedTestDigest() override { return expected; }

private:
    std::string expected;
};

const char *const emptyDigest[] = {
    "d41d8cd98f00b204e9800998ecf8427e",
    "da39a3ee5e6b4b0d3255bfef95601890afd80709",
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
    "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b",
    "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"};

// FIPS 180-2 appendix examples and RFC 1321 for "abc".
const char *const abcDigest[] = {
    "900150983cd24fb0d6963f7d28e17f72",
    "a9993e364706816aba3e25717850c26c9cd0d89d",
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
    "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"};

// The published digests of "The quick brown fox jumps over the lazy dog".
const char *const foxDigest[] = {
    "9e107d9d372bb6826bd81d3542a419d6",
    "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12",
    "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592",
    "ca737f1014a48f4c0b6dd43cb177b0afd9e5169367544c494011e3317dbf9a509cb1e5dc1e85a941bbee3d7f2afbc9b1",
    "07e547d9586f6a73f73fbac0435ed76951218fb7d0c8d788a309d785436bbb642e93a252a954f23912547d1e8a3b5ed6e1bfd7097821233fa0538f3db854fee6"};

// "abc", a zero byte, "def": computed with Python's hashlib (OpenSSL).
const char *const embeddedZeroDigest[] = {
    "a5e4d5963ae44c1f4bfb37b1a3d55a3c",
    "487b1975d97215516d7267dff3557c0676956056",
    "516a5e926ce20c5f4d80f00e1a01abdf14986def6588d6abeed9fce090bc660c",
    "bc3837e347023944602db615e0e2043d13b85e76bd2b4caaecff8baf20796767353da289710ce9a68ae124d139318f7a",
    "1f3108537ca81c8e53e1dfff2166866fc30b81869de3f9d2bd3a585a95794a29dab168cfb8464119620a991d9ac800f73c0ba0f32342e50ec2db63c28a7ca809"};

const char *const algorithmNames[] = {"MD5", "SHA1", "SHA256", "SHA384", "SHA512"};

} // namespace

class tst_hashwrapper : public QObject
{
    Q_OBJECT

private slots:
    void factoryAccepts_data();
    void factoryAccepts();
    void factoryRefuses_data();
    void factoryRefuses();

    void stringDigests_data();
    void stringDigests();
    void selfTestPasses_data();
    void selfTestPasses();
    void selfTestFailure_data();
    void selfTestFailure();
};

void tst_hashwrapper::factoryAccepts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("algorithm"); // index into the digest tables

    QTest::newRow("md5 lower") << "md5" << 0;
    QTest::newRow("MD5 upper") << "MD5" << 0;
    QTest::newRow("sha1 lower") << "sha1" << 1;
    QTest::newRow("sha256 lower") << "sha256" << 2;
    QTest::newRow("SHA256 upper") << "SHA256" << 2;
    QTest::newRow("Sha256 mixed") << "Sha256" << 2;
    QTest::newRow("sHA256 mixed") << "sHA256" << 2;
    QTest::newRow("SHA384 upper") << "SHA384" << 3;
    QTest::newRow("sha512 lower") << "sha512" << 4;
}

// The wrapper a name yields is told by what it computes, not by its type.
void tst_hashwrapper::factoryAccepts()
{
    QFETCH(QString, name);
    QFETCH(int, algorithm);

    auto wrapper = makeWrapper(name.toStdString());
    QVERIFY(wrapper);
    QCOMPARE(q(wrapper->digestOfString("abc")), QString::fromLatin1(abcDigest[algorithm]));
}

void tst_hashwrapper::factoryRefuses_data()
{
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("hyphen SHA-256") << QByteArray("SHA-256");
    QTest::newRow("space sha 256") << QByteArray("sha 256");
    QTest::newRow("other algorithm SHA224") << QByteArray("SHA224");
    QTest::newRow("other algorithm md4") << QByteArray("md4");
    QTest::newRow("bare number") << QByteArray("256");
    QTest::newRow("trailing space") << QByteArray("sha256 ");
    QTest::newRow("leading space") << QByteArray(" sha256");
    QTest::newRow("prefix only") << QByteArray("sha");
    QTest::newRow("longer name") << QByteArray("sha2560");
    QTest::newRow("embedded zero byte") << QByteArray("sha256\0x", 8);
    QTest::newRow("non-ASCII byte") << QByteArray("sha256\xe9");
}

void tst_hashwrapper::factoryRefuses()
{
    QFETCH(QByteArray, name);
    QVERIFY(!makeWrapper(name.toStdString()));
}

void tst_hashwrapper::stringDigests_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");

    const QByteArray embeddedZero("abc\0def", 7);
    for (int i = 0; i < 5; ++i) {
        const QString name = QString::fromLatin1(algorithmNames[i]);
        QTest::newRow(qPrintable(name + " empty")) << name << QByteArray() << emptyDigest[i];
        QTest::newRow(qPrintable(name + " abc")) << name << QByteArray("abc") << abcDigest[i];
        QTest::newRow(qPrintable(name + " embedded zero byte")) << name << embeddedZero
                                                                << embeddedZeroDigest[i];
    }
}

// Each digest twice on one wrapper: the second must not depend on the first.
void tst_hashwrapper::stringDigests()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);

    auto wrapper = makeWrapper(name.toStdString());
    QVERIFY(wrapper);
    const std::string text = input.toStdString();
    QCOMPARE(q(wrapper->digestOfString(text)), expected);
    QCOMPARE(q(wrapper->digestOfString(text)), expected);
}

void tst_hashwrapper::selfTestPasses_data()
{
    QTest::addColumn<int>("algorithm");
    for (int i = 0; i < 5; ++i)
        QTest::newRow(algorithmNames[i]) << i;
}

void tst_hashwrapper::selfTestPasses()
{
    QFETCH(int, algorithm);

    std::unique_ptr<hashwrapper> wrapper;
    std::string text;
    switch (algorithm) {
    case 0: { auto *w = new Exposed<md5wrapper>; text = w->text(); wrapper.reset(w); break; }
    case 1: { auto *w = new Exposed<sha1wrapper>; text = w->text(); wrapper.reset(w); break; }
    case 2: { auto *w = new Exposed<sha256wrapper>; text = w->text(); wrapper.reset(w); break; }
    case 3: { auto *w = new Exposed<sha384wrapper>; text = w->text(); wrapper.reset(w); break; }
    default: { auto *w = new Exposed<sha512wrapper>; text = w->text(); wrapper.reset(w); break; }
    }

    QCOMPARE(text.size(), std::size_t(43));
    QCOMPARE(q(text), QStringLiteral("The quick brown fox jumps over the lazy dog"));
    QCOMPARE(q(wrapper->expectedTestDigest()), QString::fromLatin1(foxDigest[algorithm]));
    QCOMPARE(q(wrapper->digestOfString(text)), QString::fromLatin1(foxDigest[algorithm]));
    try {
        wrapper->selfTest();
    } catch (const hlException &e) {
        QFAIL(e.messageText().c_str());
    }
}

void tst_hashwrapper::selfTestFailure_data()
{
    QTest::addColumn<QString>("expected");

    QTest::newRow("other digest") << "00";
    QTest::newRow("empty expectation") << "";
    // Case matters: the right digest in capitals is a mismatch.
    QTest::newRow("right digest in upper case")
        << "D7A8FBB307D7809469CA9ABCB0082E4F8D5651E46D3CDB762D02D0BF37C9E592";
}

void tst_hashwrapper::selfTestFailure()
{
    QFETCH(QString, expected);

    WrongExpectation wrapper(expected.toStdString());
    bool thrown = false;
    try {
        wrapper.selfTest();
    } catch (const hlException &e) {
        thrown = true;
        QCOMPARE(e.code, 2);
        QCOMPARE(q(e.messageText()),
                 QStringLiteral("tamrisk test-error: \"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592\""
                                " is not \"")
                     + expected + QStringLiteral("\" as supposed to be."));
    }
    QVERIFY(thrown);
}

QTEST_APPLESS_MAIN(tst_hashwrapper)
#include "tst_hashwrapper.moc"
