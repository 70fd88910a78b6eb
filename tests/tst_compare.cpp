#include "compareerr.h"
#include "hashtools.h"

#include <QPointer>
#include <QTranslator>
#include <QtTest>

#include <random>

Q_DECLARE_METATYPE(std::vector<HashRecord>)

namespace {

using Errors = std::vector<std::unique_ptr<CompareErr>>;

QStringList describe(const Errors &errors)
{
    static const char *const kinds[] = {"diff", "new", "absent"};
    QStringList lines;
    for (const auto &error : errors) {
        QString line = QString(kinds[error->type]) + " " + error->fileName;
        if (const auto *diff = qobject_cast<const CE_HashDiff *>(error.get()))
            line += " " + diff->currentHash + "/" + diff->storedHash;
        lines << line;
    }
    return lines;
}

// The comparison by plain scans of the other list, kept as the reference
// for the indexed one.
QStringList compareByScans(const std::vector<HashRecord> &current, const std::vector<HashRecord> &stored)
{
    QStringList lines;
    for (const HashRecord &now : current) {
        auto before = std::find_if(stored.begin(), stored.end(),
                                   [&](const HashRecord &r) { return r.path == now.path; });
        if (before == stored.end())
            lines << QString("new ") + QString::fromStdString(now.path);
        else if (before->hash != now.hash)
            lines << QString("diff ") + QString::fromStdString(now.path) + " " + QString::fromStdString(now.hash)
                     + "/" + QString::fromStdString(before->hash);
    }
    for (const HashRecord &before : stored)
        if (std::none_of(current.begin(), current.end(), [&](const HashRecord &r) { return r.path == before.path; }))
            lines << QString("absent ") + QString::fromStdString(before.path);
    return lines;
}

class GermanMessages : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "QObject") == 0 && qstrcmp(source, "File not found") == 0)
            return QStringLiteral("Datei fehlt");
        return QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TestCompare : public QObject
{
    Q_OBJECT
private slots:
    void results_data();
    void results();
    void agreesWithPlainScans_data();
    void agreesWithPlainScans();
    void earlierResultsDestroyed();
    void messages_data();
    void messages();
    void messageTranslatedInQObjectContext();
};

void TestCompare::results_data()
{
    QTest::addColumn<std::vector<HashRecord>>("current");
    QTest::addColumn<std::vector<HashRecord>>("stored");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("example: diff, new, then absent")
        << std::vector<HashRecord>{{"a", "1"}, {"b", "2"}, {"c", "3"}}
        << std::vector<HashRecord>{{"b", "2"}, {"d", "4"}, {"a", "9"}}
        << QStringList{"diff a 1/9", "new c", "absent d"};
    QTest::newRow("both empty") << std::vector<HashRecord>{} << std::vector<HashRecord>{} << QStringList{};
    QTest::newRow("nothing stored: all new in scan order")
        << std::vector<HashRecord>{{"z", "1"}, {"a", "2"}} << std::vector<HashRecord>{}
        << QStringList{"new z", "new a"};
    QTest::newRow("nothing current: all absent in file order")
        << std::vector<HashRecord>{} << std::vector<HashRecord>{{"z", "1"}, {"a", "2"}}
        << QStringList{"absent z", "absent a"};
    QTest::newRow("identical lists") << std::vector<HashRecord>{{"a", "1"}, {"b", "2"}}
                                     << std::vector<HashRecord>{{"b", "2"}, {"a", "1"}} << QStringList{};
    QTest::newRow("new and diff interleaved in current order")
        << std::vector<HashRecord>{{"n1", "1"}, {"d1", "1"}, {"n2", "1"}, {"d2", "1"}}
        << std::vector<HashRecord>{{"d2", "2"}, {"gone", "0"}, {"d1", "2"}}
        << QStringList{"new n1", "diff d1 1/2", "new n2", "diff d2 1/2", "absent gone"};
    QTest::newRow("names differing only in case")
        << std::vector<HashRecord>{{"Readme", "1"}} << std::vector<HashRecord>{{"readme", "1"}}
        << QStringList{"new Readme", "absent readme"};
    QTest::newRow("digests differing only in case") << std::vector<HashRecord>{{"a", "ab"}}
                                                    << std::vector<HashRecord>{{"a", "AB"}}
                                                    << QStringList{"diff a ab/AB"};
    QTest::newRow("paths compared byte for byte")
        << std::vector<HashRecord>{{"a/b", "1"}, {"x", "1"}}
        << std::vector<HashRecord>{{"./a/b", "1"}, {"x ", "1"}}
        << QStringList{"new a/b", "new x", "absent ./a/b", "absent x "};
    QTest::newRow("duplicate stored path: the first decides")
        << std::vector<HashRecord>{{"a", "1"}} << std::vector<HashRecord>{{"a", "9"}, {"a", "1"}}
        << QStringList{"diff a 1/9"};
    QTest::newRow("duplicate stored path: a later wrong digest is not compared")
        << std::vector<HashRecord>{{"a", "1"}} << std::vector<HashRecord>{{"a", "1"}, {"a", "9"}}
        << QStringList{};
    QTest::newRow("duplicate stored path of a missing file: absent twice")
        << std::vector<HashRecord>{} << std::vector<HashRecord>{{"a", "1"}, {"b", "2"}, {"a", "1"}}
        << QStringList{"absent a", "absent b", "absent a"};
    QTest::newRow("empty path") << std::vector<HashRecord>{{"", "1"}} << std::vector<HashRecord>{{"", "2"}}
                                << QStringList{"diff  1/2"};
}

void TestCompare::results()
{
    QFETCH(std::vector<HashRecord>, current);
    QFETCH(std::vector<HashRecord>, stored);
    QFETCH(QStringList, expected);
    HashTools tools("sha256");
    Errors errors;
    tools.compare(current, stored, errors);
    QCOMPARE(describe(errors), expected);
}

void TestCompare::agreesWithPlainScans_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<unsigned>("seed");

    QTest::newRow("small lists") << 50 << 1u;
    QTest::newRow("thousands of records") << 3000 << 2u;
}

void TestCompare::agreesWithPlainScans()
{
    QFETCH(int, size);
    QFETCH(unsigned, seed);
    // Random paths from a small alphabet, so that duplicates, new and absent
    // files, and changed digests all occur.
    std::mt19937 random(seed);
    auto path = [&]() {
        std::string p;
        for (int i = 0, n = 1 + int(random() % 2); i < n; ++i)
            p += "ab/"[random() % 3];
        return p + std::to_string(random() % (size / 10 + 1));
    };
    std::vector<HashRecord> current;
    std::vector<HashRecord> stored;
    for (int i = 0; i < size; ++i) {
        current.push_back({path(), std::to_string(random() % 3)});
        stored.push_back({path(), std::to_string(random() % 3)});
    }
    HashTools tools("sha256");
    Errors errors;
    tools.compare(current, stored, errors);
    QCOMPARE(describe(errors), compareByScans(current, stored));
}

void TestCompare::earlierResultsDestroyed()
{
    HashTools tools("sha256");
    Errors errors;
    errors.push_back(std::make_unique<CE_NewFile>("old"));
    const QPointer<CompareErr> old = errors.front().get();
    tools.compare({{"a", "1"}}, {}, errors);
    QVERIFY(old.isNull());
    QCOMPARE(describe(errors), QStringList{"new a"});
}

void TestCompare::messages_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");

    QTest::newRow("hash differs") << 0 << "CE_HashDiff" << "Checksums does not match";
    QTest::newRow("new file") << 1 << "CE_NewFile" << "New file";
    QTest::newRow("absent file") << 2 << "CE_AbsentFile" << "File not found";
    QTest::newRow("input/output error") << 3 << "CE_IOError" << "Unknown";
}

void TestCompare::messages()
{
    QFETCH(int, kind);
    QFETCH(QString, className);
    QFETCH(QString, text);
    const std::string path = "dir/\xc3\xa9.txt";
    std::unique_ptr<CompareErr> error;
    switch (kind) {
    case 0: error = std::make_unique<CE_HashDiff>(path, "aa", "bb"); break;
    case 1: error = std::make_unique<CE_NewFile>(path); break;
    case 2: error = std::make_unique<CE_AbsentFile>(path); break;
    default: error = std::make_unique<CE_IOError>(path); break;
    }
    QCOMPARE(error->errorText(), text);
    QCOMPARE(QString(error->metaObject()->className()), className);
    QVERIFY(error->inherits("CompareErr"));
    QCOMPARE(error->fileName, QString::fromUtf8("dir/\xc3\xa9.txt"));
}

void TestCompare::messageTranslatedInQObjectContext()
{
    GermanMessages german;
    QVERIFY(QCoreApplication::installTranslator(&german));
    const QString translated = CE_AbsentFile("a").errorText();
    const QString untouched = CE_NewFile("a").errorText();
    QCoreApplication::removeTranslator(&german);
    QCOMPARE(translated, QStringLiteral("Datei fehlt"));
    QCOMPARE(untouched, QStringLiteral("New file"));
}

QTEST_GUILESS_MAIN(TestCompare)
#include "tst_compare.moc"
