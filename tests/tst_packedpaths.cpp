#include "packedpaths.h"

#include <QtTest>

#include <string>
#include <vector>

namespace {

PackedPaths packed(const std::vector<std::string> &paths)
{
    PackedPaths packedPaths;
    for (const std::string &path : paths)
        packedPaths.append(path.data(), path.size());
    return packedPaths;
}

QStringList held(const PackedPaths &paths)
{
    QStringList list;
    for (std::size_t i = paths.first(); i < paths.size(); ++i)
        list << QString::number(i) + "=" + QString::fromStdString(std::string(paths.view(i)));
    return list;
}

} // namespace

// The paths after a forgotten part keep their numbers; a batch appended
// after it, itself with a part forgotten or not, lands at the end.
class TestPackedPaths : public QObject
{
    Q_OBJECT
private slots:
    void forgetThenAppend_data();
    void forgetThenAppend();
};

void TestPackedPaths::forgetThenAppend_data()
{
    QTest::addColumn<int>("forgotten");
    QTest::addColumn<int>("batchForgotten");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("nothing forgotten") << 0 << 0 << QStringList{"0=a", "1=bb", "2=", "3=dddd", "4=x", "5=yy", "6=z"};
    QTest::newRow("a leading part forgotten") << 2 << 0 << QStringList{"2=", "3=dddd", "4=x", "5=yy", "6=z"};
    QTest::newRow("everything forgotten") << 4 << 0 << QStringList{"4=x", "5=yy", "6=z"};
    QTest::newRow("part of the batch forgotten") << 1 << 2 << QStringList{"1=bb", "2=", "3=dddd", "4=z"};
}

void TestPackedPaths::forgetThenAppend()
{
    QFETCH(int, forgotten);
    QFETCH(int, batchForgotten);
    QFETCH(QStringList, expected);
    PackedPaths paths = packed({"a", "bb", "", "dddd"});
    paths.forgetBefore(std::size_t(forgotten));
    QCOMPARE(paths.first(), std::size_t(forgotten));
    PackedPaths batch = packed({"x", "yy", "z"});
    batch.forgetBefore(std::size_t(batchForgotten));
    paths.append(batch);
    QCOMPARE(held(paths), expected);
    QCOMPARE(paths.size(), std::size_t(4 + 3 - batchForgotten));
}

QTEST_GUILESS_MAIN(TestPackedPaths)
#include "tst_packedpaths.moc"
