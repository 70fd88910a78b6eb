// A stop signal or exit() during a create: the old checksums file stays and
// no temporary file is left behind.

#include "mainwindow.h"
#include "mainwindowtest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <cstdlib>

class TestStopSignals : public MainWindowTest
{
    Q_OBJECT

private slots:
    void exitDuringACreateLeavesNoTemporaryFile();
    void stopSignalDuringACreate_data();
    void stopSignalDuringACreate();
};

void TestStopSignals::exitDuringACreateLeavesNoTemporaryFile()
{
    // Ends the process: tests/check_exit_during_create.sh runs it alone and
    // looks at the folder afterwards.
    const QString dir = QString::fromLocal8Bit(qgetenv("ORVALEN_EXIT_TEST_DIR"));
    if (dir.isEmpty())
        QSKIP("ends the process; CTest runs it through check_exit_during_create.sh");

    const QString tree = dir + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString sums = dir + QStringLiteral("/old.sha256");
    writeFile(sums, "old checksums file");

    MainWindow window;
    window.show();
    GuiDriver driver;
    driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
    driver.expect(QStringLiteral("progress window"),
                  []() { return GuiDriver::topLevelOf("QProgressDialog"); },
                  [](QWidget *) { std::exit(3); });
    runJob(window, QStringLiteral("Create checksums.."), driver);
    QFAIL("the run went on after exit()");
}

void TestStopSignals::stopSignalDuringACreate_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestStopSignals::stopSignalDuringACreate()
{
    QFETCH(int, signalNumber);

    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString sums = root + QStringLiteral("/old.sha256");
    const QByteArray old = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03 a.txt\r\n";
    writeFile(sums, old);
    const QStringList entriesBefore = entriesOf(root);

    MainWindow window;
    window.show();
    GuiDriver driver;
    driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
    // The temporary file is there by now, made before the scan began.
    QStringList entriesDuringScan;
    driver.expect(QStringLiteral("progress window"),
                  []() { return GuiDriver::topLevelOf("QProgressDialog"); },
                  [&, signalNumber](QWidget *) {
                      entriesDuringScan = entriesOf(root);
                      ::raise(signalNumber);
                  });
    QTimer::singleShot(0, &window, [&]() {
        driver.start();
        if (QAbstractButton *create = mainButton(window, QStringLiteral("Create checksums..")))
            create->click();
    });
    // Only a guard against a loop that never ends.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, []() { QCoreApplication::exit(99); });
    guard.start(60000);

    QCOMPARE(QApplication::exec(), 128 + signalNumber);
    driver.stop();
    QVERIFY2(driver.failures.isEmpty(), qPrintable(driver.failures.join(QStringLiteral("; "))));
    QCOMPARE(window.stoppedBySignal(), signalNumber);
    QCOMPARE(driver.seenBoxes, QStringList());
    QCOMPARE(entriesDuringScan.size(), entriesBefore.size() + 1);
    QCOMPARE(readFile(sums), old);
    QCOMPARE(entriesOf(root), entriesBefore);
}

QTEST_MAIN(TestStopSignals)
#include "tst_stopsignals.moc"
