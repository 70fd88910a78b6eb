// Rolling scrubs: a verify that reads one slice of the stored records, and
// every file without one, so that the slices share out the tree.

#include "enginerun.h"

#include <QMap>
#include <QTemporaryDir>

class TestSlices : public QObject
{
    Q_OBJECT

private slots:
    void sliceOfPath_data();
    void sliceOfPath();
    void eachFileReadOnce_data();
    void eachFileReadOnce();
    void oneSliceAsNoSlice();
};

void TestSlices::sliceOfPath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<quint64>("fnv1a");
    // The published FNV-1a 64 test values: a slice must keep its files in
    // every version.
    QTest::newRow("empty") << QByteArray() << Q_UINT64_C(0xcbf29ce484222325);
    QTest::newRow("a") << QByteArray("a") << Q_UINT64_C(0xaf63dc4c8601ec8c);
    QTest::newRow("foobar") << QByteArray("foobar") << Q_UINT64_C(0x85944171f73967e8);
}

void TestSlices::sliceOfPath()
{
    QFETCH(QByteArray, path);
    QFETCH(quint64, fnv1a);
    for (unsigned slices : {1u, 2u, 7u, 30u, 1000u})
        QCOMPARE(HashTools::sliceOf(path.toStdString(), slices), unsigned(fnv1a % slices) + 1);
}

void TestSlices::eachFileReadOnce_data()
{
    QTest::addColumn<int>("slices");
    QTest::newRow("one slice") << 1;
    QTest::newRow("three slices") << 3;
    QTest::newRow("seven slices") << 7;
}

// Every file of the tree is damaged: a file is read where it is reported.
void TestSlices::eachFileReadOnce()
{
    QFETCH(int, slices);
    QTemporaryDir root;
    const QString tree = root.filePath("tree");
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names << QString("d%1/f%2.txt").arg(i % 5).arg(i);
    names << "kept.txt" << "gone.txt";
    for (const QString &name : std::as_const(names)) {
        writeFile(tree + '/' + name, name.toUtf8());
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    const QString sums = root.filePath("sums.sha256");
    QVERIFY(writeSums(tree, sums, 0));
    QVERIFY(QFile::remove(tree + "/" + names.takeLast()));
    // Moved unchanged: its new place has no record, so it is read in
    // every run and matched with the old one.
    QVERIFY(QFile::rename(tree + "/" + names.takeLast(), tree + "/d0/kept.txt"));
    for (const QString &name : std::as_const(names)) {
        writeFile(tree + '/' + name, "bit flip");
        QVERIFY(setModified(tree + '/' + name, longAgo));
    }
    writeFile(tree + "/new.txt", "new");

    std::sort(names.begin(), names.end());
    for (const int jobs : {1, 0}) {
        QMap<QString, int> timesRead;
        for (int k = 1; k <= slices; ++k) {
            QStringList others;
            const QStringList lines = verifyLines(tree, sums, jobs, unsigned(k), unsigned(slices));
            for (const QString &line : lines) {
                if (line.startsWith("damaged "))
                    ++timesRead[line.mid(8)];
                else
                    others << line;
            }
            // New, missing and moved files are told in every run.
            others.sort();
            QCOMPARE(others, QStringList({"missing gone.txt", "moved d0/kept.txt from kept.txt", "new new.txt"}));
        }
        QCOMPARE(timesRead.keys(), names);
        for (auto it = timesRead.cbegin(); it != timesRead.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
    }
}

// Plain verify compares what it hashes; a one-slice verify (every file
// read) chooses by the stored records what to read. They must find alike.
void TestSlices::oneSliceAsNoSlice()
{
    QTemporaryDir root;
    const QString tree = root.filePath("tree");
    for (const char *name : {"a", "b c", "d/e", "d/f", "g\\h", "moved-to", "z"})
        writeFile(tree + '/' + name, QByteArray("content of ") + name);
    const QString sums = root.filePath("sums.sha256");
    QVERIFY(writeSums(tree, sums, 1));

    // Missing records first, in the middle (twice) and last, one of them
    // moved; a path twice, the first record counting; one digest in
    // capitals, which is not the digest the program writes.
    const auto line = [](const QByteArray &content, const QByteArray &path) {
        return sha256Hex(content) + ' ' + path + "\r\n";
    };
    QByteArray stored = line("first gone", "0 gone");
    const QList<QByteArray> records = readFile(sums).split('\n');
    for (const QByteArray &record : records) {
        if (record.isEmpty() || record.endsWith(" moved-to\r"))
            continue;
        if (record.endsWith(" z\r")) {
            stored += line("middle gone", "m gone") + line("middle gone", "m gone");
            stored += record.toUpper().left(64) + record.mid(64) + '\n';
            continue;
        }
        stored += record + '\n';
        if (record.endsWith(" b c\r"))
            stored += line("other", "b c");
    }
    stored += line("content of moved-to", "moved-from");
    stored += line("last gone", "~ gone");
    writeFile(sums, stored);
    writeFile(tree + "/d/e", "edited");
    writeFile(tree + "/new", "new");

    for (const int jobs : {1, 2, 0}) {
        const QStringList plain = verifyLines(tree, sums, jobs);
        QVERIFY2(plain.size() >= 6, qPrintable(plain.join('\n')));
        QCOMPARE(verifyLines(tree, sums, jobs, 1, 1), plain);
    }
}

QTEST_GUILESS_MAIN(TestSlices)
#include "tst_slices.moc"
