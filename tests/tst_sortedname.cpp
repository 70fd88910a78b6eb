#include "sortedname.h"

#include <QtTest>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

// The listing's order taken the long way for every pair, one unit at a
// time: a name beyond ASCII decoded and lowered, compared by UTF-16 code
// units; an ASCII name by its bytes, every byte up to 'Z' raised by 0x20
// (not only the capitals), as the listing has always ordered them. A prefix
// comes first, and the bytes decide between names alike there.
static std::vector<unsigned> unitsOf(const QByteArray &name)
{
    std::vector<unsigned> units;
    bool ascii = true;
    for (const char c : name)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) {
        const QString lowered = QString::fromUtf8(name).toLower();
        for (const QChar c : lowered)
            units.push_back(c.unicode());
        return units;
    }
    for (const char c : name) {
        const unsigned byte = static_cast<unsigned char>(c);
        units.push_back(byte <= 'Z' ? byte + 0x20 : byte);
    }
    return units;
}

static bool referenceLess(const QByteArray &a, const QByteArray &b)
{
    const std::vector<unsigned> unitsA = unitsOf(a);
    const std::vector<unsigned> unitsB = unitsOf(b);
    if (unitsA != unitsB)
        return unitsA < unitsB;
    return a < b;
}

static QByteArrayList sortedByList(const QByteArrayList &names)
{
    SortedNames list;
    for (const QByteArray &name : names)
        list.add(name.constData());
    list.sort();
    QByteArrayList sorted;
    for (std::size_t i = 0; i < list.size(); ++i)
        sorted << QByteArray(list.data(i), static_cast<int>(list.length(i)));
    return sorted;
}

class TestSortedName : public QObject
{
    Q_OBJECT

private slots:
    void orderOfTheLongWay_data();
    void orderOfTheLongWay();
};

void TestSortedName::orderOfTheLongWay_data()
{
    QTest::addColumn<QByteArrayList>("names");

    QTest::newRow("case only") << QByteArrayList{"README", "readme", "ReadMe", "rEADME", "b", "B", "a"};
    QTest::newRow("between the capitals and the small letters")
        << QByteArrayList{"[x", "_x", "`x", "ax", "Zx", "zx", "@x", "{x", "~x", "0x", " x", "!x"};
    QTest::newRow("prefixes of 8 and 16 bytes")
        << QByteArrayList{"abcdefgh", "ABCDEFGH", "abcdefghI", "abcdefghijklmnop", "ABCDEFGHIJKLMNOP",
                          "abcdefghijklmnopq", "abcdefghijklmnopQ", "abcdefghijklmnop_", "abcdefghijklmnoP",
                          "abcdefg", "abcdefgh\x7f"};
    QTest::newRow("alike in 16 bytes, apart after")
        << QByteArrayList{"holiday-2024-augBx1", "holiday-2024-aug_x2", "holiday-2024-aug",
                          "holiday-2024-auga3", "HOLIDAY-2024-AUGA3", "holiday-2024-augA3z"};
    QTest::newRow("beyond ASCII beside ASCII with the same start")
        << QByteArrayList{"abc\xc3\xa4", "abcz", "ABC", "abc", "ABC\xc3\x84", "abc\xc3\xa4x",
                          "abcdefghijklmnop\xc3\xa4", "abcdefghijklmnopz", "\xc3\x89" "a", "f", "Z"};
    QTest::newRow("digits and punctuation beside names beyond ASCII")
        << QByteArrayList{"0a", "0\xc3\xa4", "2024 notes", "2024 \xc3\x84rger", "a-b", "a-\xc3\xa4", "a.b", "a b"};
    QTest::newRow("punctuation below and above the capitals")
        << QByteArrayList{";b", "[a", "@x", "`a", "?z", "_y", ">1", "^1", "=q", "]q", "<", "\\"};
    QTest::newRow("invalid UTF-8 beside the replacement character")
        << QByteArrayList{"a\xff", "a\xef\xbf\xbd", "a\xfe", "a\xc3", "a", "az", "A\xff",
                          "\xff", "\xef\xbf\xbd", "\x80\x80"};
    QTest::newRow("lowering that is not case folding")
        << QByteArrayList{"\xc5\xbf" "a", "sa", "ta", "\xe2\x84\xaa", "k", "\xc4\xb0i", "ii", "\xc3\x9f", "ss",
                          "\xf0\x9f\x98\x80", "\xef\xbd\x81"};

    // Enough names that the sort partitions rather than inserting, drawn
    // from bytes that sit at the edges of the comparisons above.
    const char alphabet[] = {'a', 'A', 'z', 'Z', '_', '[', '`', '.', '-', '0', '\x7f', '\x01', ';', '@', '1', ' ',
                             '\xc3', '\xa4', '\x84', '\xff', '\xef', '\xbf', '\xbd'};
    std::mt19937 random(20261208);
    QByteArrayList many;
    for (int i = 0; i < 600; ++i) {
        QByteArray name(i % 3 == 0 ? "same-start-of-it" : "");
        const int length = 1 + static_cast<int>(random() % 20);
        for (int k = 0; k < length; ++k)
            name += alphabet[random() % sizeof alphabet];
        if (!many.contains(name))
            many << name;
    }
    QTest::newRow("many drawn names") << many;
}

void TestSortedName::orderOfTheLongWay()
{
    QFETCH(QByteArrayList, names);
    QByteArrayList expected = names;
    std::sort(expected.begin(), expected.end(), referenceLess);
    QCOMPARE(sortedByList(names), expected);
    QByteArrayList reversed(names.rbegin(), names.rend());
    QCOMPARE(sortedByList(reversed), expected);
}

QTEST_GUILESS_MAIN(TestSortedName)
#include "tst_sortedname.moc"
