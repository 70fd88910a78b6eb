#include "processrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char python[] = "/usr/bin/python3";

// Prometheus' own parser reads the file; each sample comes back as one line
// of JSON.
const char parserScript[] = R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(open(sys.argv[1], encoding='utf-8').read()):
    for sample in family.samples:
        print(json.dumps({'type': family.type, 'name': sample.name, 'labels': sample.labels,
                          'value': sample.value}))
)";

using Run = ProcessRun;

Run run(const QString &program, const QStringList &args, const QString &dir)
{
    return runProgram(program, args, dir);
}

bool parserAvailable()
{
    return QFileInfo::exists(QString::fromLatin1(python))
           && run(QString::fromLatin1(python), {"-c", "import prometheus_client.parser"}, QDir::tempPath()).code == 0;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool setModified(const QString &path, time_t seconds)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// Each sample as "name" or "name{status}" with its value; every sample's
// other labels must be those given.
QMap<QString, double> samples(const QString &file, const QJsonObject &labels)
{
    QMap<QString, double> found;
    const Run parsed = run(QString::fromLatin1(python), {"-c", parserScript, file}, QDir::tempPath());
    if (parsed.code != 0) {
        qWarning("%s", parsed.err.constData());
        return found;
    }
    const QList<QByteArray> lines = parsed.out.trimmed().split('\n');
    for (const QByteArray &line : lines) {
        const QJsonObject sample = QJsonDocument::fromJson(line).object();
        QJsonObject own = sample.value("labels").toObject();
        const QString status = own.take("status").toString();
        if (own != labels || sample.value("type").toString() != "gauge")
            return {};
        const QString name = sample.value("name").toString();
        found.insert(status.isEmpty() ? name : name + '{' + status + '}', sample.value("value").toDouble());
    }
    return found;
}

} // namespace

class TestMetricsFile : public QObject
{
    Q_OBJECT

private slots:
    void figures_data();
    void figures();
    void replacedWhole();
    void unwritableFailsTheRun();
};

void TestMetricsFile::figures_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("exitStatus");
    // checked, changed, damaged, new, missing, moved, unreadable
    QTest::addColumn<QList<int>>("counts");

    QTest::newRow("create, named") << "create" << "photos" << 0 << QList<int>{5, 0, 0, 0, 0, 0, 0};
    QTest::newRow("verify, every status") << "verify" << "" << 1 << QList<int>{5, 1, 1, 1, 1, 1, 0};
    // Every file's inode changed after the checksums file, so update hashes
    // each again, kept ones too; moves it tells as new and missing.
    QTest::newRow("update") << "update" << "" << 1 << QList<int>{5, 2, 1, 2, 2, 0, 0};
    QTest::newRow("verify of a missing checksums file") << "verify-missing" << "x" << 2
                                                        << QList<int>{0, 0, 0, 0, 0, 0, 0};
}

void TestMetricsFile::figures()
{
    QFETCH(QString, command);
    QFETCH(QString, label);
    QFETCH(int, exitStatus);
    QFETCH(QList<int>, counts);
    if (!parserAvailable())
        QSKIP("python3-prometheus-client is not installed");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath("tree"));
    const QStringList names{"edited", "damaged", "gone", "moved", "kept"};
    for (const QString &name : names)
        writeFile(root.filePath("tree/" + name), name.toUtf8() + " content");
    if (command != "create") {
        QCOMPARE(run(ORVALEN_CLI, {"-q", "create", "tree", "sums"}, root.path()).code, 0);
        // The checksums file dated an hour back, however fast the test runs:
        // an edit now comes after it, damage is dated before it.
        QVERIFY(setModified(root.filePath("sums"), QDateTime::currentSecsSinceEpoch() - 3600));
        writeFile(root.filePath("tree/edited"), "edited again");
        writeFile(root.filePath("tree/damaged"), "flipped bit");
        QVERIFY(setModified(root.filePath("tree/damaged"), 1577836800));
        QVERIFY(QFile::remove(root.filePath("tree/gone")));
        QVERIFY(QFile::rename(root.filePath("tree/moved"), root.filePath("tree/moved here")));
        writeFile(root.filePath("tree/new"), "new");
    }

    QStringList args{"-q", "--metrics", "run.prom"};
    if (!label.isEmpty())
        args << "--metrics-label" << label;
    const QString sums = command == "verify-missing" ? "absent" : "sums";
    args << command.section('-', 0, 0) << "tree" << sums;
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const Run ours = run(ORVALEN_CLI, args, root.path());
    QCOMPARE(ours.code, exitStatus);

    QJsonObject labels{{"command", command.section('-', 0, 0)}, {"checksums_file", sums}};
    if (!label.isEmpty())
        labels.insert("name", label);
    const QMap<QString, double> found = samples(root.filePath("run.prom"), labels);
    QCOMPARE(found.size(), 10);
    QCOMPARE(found.value("orvalen_run_exit_status"), double(exitStatus));
    QVERIFY(found.value("orvalen_run_end_timestamp_seconds") >= double(before));
    QVERIFY(found.value("orvalen_run_end_timestamp_seconds") <= double(QDateTime::currentSecsSinceEpoch() + 1));
    QVERIFY(found.value("orvalen_run_duration_seconds") >= 0.0);
    QVERIFY(found.contains("orvalen_run_duration_seconds"));
    const QList<int> got{int(found.value("orvalen_files_checked", -1)),
                         int(found.value("orvalen_discrepancy_files{changed}", -1)),
                         int(found.value("orvalen_discrepancy_files{damaged}", -1)),
                         int(found.value("orvalen_discrepancy_files{new}", -1)),
                         int(found.value("orvalen_discrepancy_files{missing}", -1)),
                         int(found.value("orvalen_discrepancy_files{moved}", -1)),
                         int(found.value("orvalen_discrepancy_files{unreadable}", -1))};
    QCOMPARE(got, counts);
}

void TestMetricsFile::replacedWhole()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath("tree"));
    QVERIFY(QDir(root.path()).mkpath("textfile"));
    writeFile(root.filePath("tree/a"), "a");
    const QString metrics = root.filePath("textfile/orvalen.prom");
    writeFile(metrics, "old\n");
    // A reader that opened the old file keeps reading it whole; a file
    // rewritten in place would change under it.
    QVERIFY(::link(QFile::encodeName(metrics).constData(),
                   QFile::encodeName(root.filePath("reader")).constData())
            == 0);

    QCOMPARE(run(ORVALEN_CLI, {"-q", "create", "tree", "sums", "--metrics", metrics}, root.path()).code, 0);
    QCOMPARE(readFile(root.filePath("reader")), QByteArray("old\n"));
    QVERIFY(readFile(metrics).contains("orvalen_run_exit_status{"));
    QCOMPARE(QFileInfo(metrics).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
    // Nothing else is left beside it.
    QCOMPARE(QDir(root.filePath("textfile")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"orvalen.prom"});
}

void TestMetricsFile::unwritableFailsTheRun()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath("tree"));
    writeFile(root.filePath("tree/a"), "a");
    QCOMPARE(run(ORVALEN_CLI, {"-q", "create", "tree", "sums"}, root.path()).code, 0);

    // A clean run whose figures cannot be left fails: monitoring would
    // otherwise keep an old run's figures for the last.
    const Run clean = run(ORVALEN_CLI, {"-q", "verify", "tree", "sums", "--metrics", "no folder/run.prom"},
                          root.path());
    QCOMPARE(clean.code, 2);
    QCOMPARE(clean.err, QByteArray("Cannot write metrics file \"no folder/run.prom\": No such file or directory.\n"));
}

QTEST_GUILESS_MAIN(TestMetricsFile)
#include "tst_metricsfile.moc"
