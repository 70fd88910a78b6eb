// Cancelling a create from its progress window keeps the old checksums file.

#include "mainwindow.h"
#include "mainwindowtest.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class TestMainWindowCancel : public MainWindowTest
{
    Q_OBJECT

private slots:
    void cancelledCreateKeepsOldChecksumFile_data();
    void cancelledCreateKeepsOldChecksumFile();
    void dismissedProgressWindowCancels_data();
    void dismissedProgressWindowCancels();
    void realEscapeKeyCancels();
};

void TestMainWindowCancel::cancelledCreateKeepsOldChecksumFile_data()
{
    QTest::addColumn<bool>("insideTree");

    QTest::newRow("checksums file beside the tree") << false;
    QTest::newRow("checksums file inside the tree") << true;
}

void TestMainWindowCancel::cancelledCreateKeepsOldChecksumFile()
{
    QFETCH(bool, insideTree);

    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString sums = insideTree ? tree + QStringLiteral("/old.sha256")
                                    : root + QStringLiteral("/old.sha256");
    const QByteArray old = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03 a.txt\r\n";
    writeFile(sums, old);
    const QString sumsDir = QFileInfo(sums).absolutePath();
    const QStringList entriesBefore = entriesOf(sumsDir);

    MainWindow window;
    window.show();
    GuiDriver driver;
    driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
    driver.expect(QStringLiteral("progress window"),
                  []() { return GuiDriver::topLevelOf("QProgressDialog"); }, pressCancel);
    driver.expectMessageBox();
    runJob(window, QStringLiteral("Create checksums.."), driver);

    QCOMPARE(driver.seenBoxes, QStringList{QStringLiteral("warning|Abort|Interrupted by user")});
    QCOMPARE(readFile(sums), old);
    QCOMPARE(entriesOf(sumsDir), entriesBefore);
}

void TestMainWindowCancel::dismissedProgressWindowCancels_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("Escape key") << "Escape";
    QTest::newRow("reject()") << "reject";
    QTest::newRow("window's close button") << "close";
}

void TestMainWindowCancel::dismissedProgressWindowCancels()
{
    QFETCH(QString, how);

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
    // Dismissed the moment it appears, before any window system has made it
    // the active window: its Escape shortcut does not work yet.
    driver.expect(QStringLiteral("progress window"),
                  []() { return GuiDriver::topLevelOf("QProgressDialog"); },
                  [how](QWidget *progress) {
                      progress->show();
                      if (how == QLatin1String("Escape"))
                          QTest::keyClick(progress, Qt::Key_Escape);
                      else if (how == QLatin1String("reject"))
                          static_cast<QDialog *>(progress)->reject();
                      else
                          progress->close();
                  });
    driver.expectMessageBox();
    runJob(window, QStringLiteral("Create checksums.."), driver);

    QCOMPARE(driver.seenBoxes, QStringList{QStringLiteral("warning|Abort|Interrupted by user")});
    QCOMPARE(readFile(sums), old);
    QCOMPARE(entriesOf(root), entriesBefore);
}

void TestMainWindowCancel::realEscapeKeyCancels()
{
    // Run by CTest under Xvfb with no window manager, as kiosk sessions are.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (QT_QPA_PLATFORM=xcb)");
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty())
        QSKIP("needs xdotool to send a key through the X server");

    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString sums = root + QStringLiteral("/old.sha256");
    const QByteArray old = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03 a.txt\r\n";
    writeFile(sums, old);
    const QStringList entriesBefore = entriesOf(root);

    MainWindow window;
    window.show();
    GuiDriver driver;
    QString xdotoolFailure;
    driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
    driver.expect(QStringLiteral("progress window"),
                  []() { return GuiDriver::topLevelOf("QProgressDialog"); },
                  [&](QWidget *progress) {
                      // The key reaches the window as it first maps, before
                      // it has become the active window: the main window is
                      // still the active one.
                      progress->show();
                      if (!QTest::qWaitForWindowExposed(progress)) {
                          xdotoolFailure = QStringLiteral("progress window never exposed");
                          return;
                      }
                      QApplication::setActiveWindow(&window);
                      const int status = QProcess::execute(xdotool, {QStringLiteral("key"), QStringLiteral("--window"),
                                                                     QString::number(progress->winId()),
                                                                     QStringLiteral("Escape")});
                      if (status != 0) {
                          xdotoolFailure = QStringLiteral("xdotool exited with %1").arg(status);
                          return;
                      }
                      // The scan waits here until the key has done its work:
                      // the window hides, as a cancel or as a bare reject.
                      // The limit only keeps a lost key from hanging the test.
                      QElapsedTimer waited;
                      waited.start();
                      while (progress->isVisible() && waited.elapsed() < 60000)
                          QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                  });
    driver.expectMessageBox();
    runJob(window, QStringLiteral("Create checksums.."), driver);

    QVERIFY2(xdotoolFailure.isEmpty(), qPrintable(xdotoolFailure));
    QCOMPARE(driver.seenBoxes, QStringList{QStringLiteral("warning|Abort|Interrupted by user")});
    QCOMPARE(readFile(sums), old);
    QCOMPARE(entriesOf(root), entriesBefore);
}

QTEST_MAIN(TestMainWindowCancel)
#include "tst_mainwindowcancel.moc"
