// Update: the checksums file rewritten from what may have changed, which
// must come out as create would write it now, but for the damaged files it
// holds back and those accepted by name.

#include "enginerun.h"

#include <QTemporaryDir>
#include <QThread>

class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    void updateEqualsCreate_data();
    void updateEqualsCreate();
};

void TestUpdate::updateEqualsCreate_data()
{
    QTest::addColumn<QStringList>("edited");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("damaged"); // edited with their old times kept
    QTest::addColumn<QStringList>("accept");  // record paths
    QTest::addColumn<bool>("capitals"); // the checksums file's digests in capitals, its time kept

    const QStringList none;
    QTest::newRow("adds, edits and removals") << QStringList{"b.txt", "sub/d.txt"} << QStringList{"0new.txt", "sub/f.txt"}
                                              << QStringList{"c.txt"} << none << none << false;
    QTest::newRow("a damaged file is held back")
        << QStringList{"b.txt"} << none << none << QStringList{"sub/d.txt"} << none << false;
    QTest::newRow("digests in capitals") << none << none << none << none << none << true;
    const QStringList both{"a.txt", "sub/d.txt"};
    QTest::newRow("both accepted") << none << none << none << both << both << false;
    QTest::newRow("one accepted, the other still held back")
        << none << none << none << both << QStringList{"sub/d.txt"} << false;
    QTest::newRow("an unchanged file accepted is no discrepancy")
        << none << none << none << both << QStringList{"c.txt"} << false;
}

void TestUpdate::updateEqualsCreate()
{
    QFETCH(QStringList, edited);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, damaged);
    QFETCH(QStringList, accept);
    QFETCH(bool, capitals);
    QStringList accepted;
    QStringList heldBack;
    for (const QString &name : damaged)
        (accept.contains(name) ? accepted : heldBack) << name;

    // One tree for each job setting, made before a single wait: files whose
    // inode changed within the tolerance before the scan are read again,
    // and those of the trees must be older, so that records are kept unread.
    QTemporaryDir root;
    const QList<int> jobSettings{1, 0};
    for (const int jobs : jobSettings) {
        for (const char *name : {"a.txt", "b.txt", "c.txt", "sub/d.txt", "sub/e.txt"}) {
            const QString path = root.filePath(QStringLiteral("%1/%2").arg(jobs).arg(QLatin1String(name)));
            writeFile(path, QByteArray("original ") + name);
            QVERIFY(setModified(path, longAgo));
        }
    }
    QThread::msleep(2200);
    for (const int jobs : jobSettings) {
        const QString tree = root.filePath(QString::number(jobs));
        const QString sums = tree + ".sha256";
        QVERIFY(writeSums(tree, sums, jobs));
        if (capitals) {
            const long long reference = modifiedAt(sums);
            QByteArray lines = readFile(sums);
            for (int line = 0; line < lines.size(); line = lines.indexOf('\n', line) + 1)
                lines.replace(line, 64, lines.mid(line, 64).toUpper());
            writeFile(sums, lines);
            QVERIFY(setModified(sums, reference));
        }
        const QByteArray before = readFile(sums);
        for (const QString &name : edited)
            writeFile(tree + '/' + name, "edited");
        for (const QString &name : added)
            writeFile(tree + '/' + name, "added");
        for (const QString &name : removed)
            QVERIFY(QFile::remove(tree + '/' + name));
        for (const QString &name : damaged) {
            writeFile(tree + '/' + name, "bit flip");
            QVERIFY(setModified(tree + '/' + name, longAgo));
        }

        HashTools::UpdateCounts counts;
        std::set<std::string> names;
        for (const QString &name : accept)
            names.insert(name.toStdString());
        QVERIFY(writeSums(tree, sums, jobs, &counts, names));
        QCOMPARE(counts.added, std::size_t(added.size()));
        QCOMPARE(counts.removed, std::size_t(removed.size()));
        QCOMPARE(counts.rehashed, std::size_t(edited.size() + accept.size()));
        QStringList told[2];
        for (const auto &file : counts.accepted)
            told[0] << QString::fromStdString(file.path);
        for (const auto &file : counts.heldBack)
            told[1] << QString::fromStdString(file.path);
        QCOMPARE(told[0], accepted);
        QCOMPARE(told[1], heldBack);

        // What create writes now, but for the held back records, which keep
        // their old lines.
        const QString fresh = root.filePath(QStringLiteral("fresh%1.sha256").arg(jobs));
        QVERIFY(writeSums(tree, fresh, jobs));
        QByteArray expected = readFile(fresh);
        for (const QString &name : heldBack) {
            const QByteArray tail = ' ' + name.toUtf8() + "\r\n";
            const int now = expected.indexOf(tail);
            const int then = before.indexOf(tail);
            QVERIFY(now >= 64 && then >= 64);
            expected.replace(now - 64, 64, before.mid(then - 64, 64));
        }
        QCOMPARE(readFile(sums), expected);
        QCOMPARE(verifyLines(tree, sums, jobs).size(), heldBack.size());
    }
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
