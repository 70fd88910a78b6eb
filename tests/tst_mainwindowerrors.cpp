// The main window's error boxes: bad parameters, an unusable checksums file,
// a file or a folder that changes during a run.

#include "mainwindow.h"
#include "mainwindowtest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QtTest>

#include <sys/stat.h>

class TestMainWindowErrors : public MainWindowTest
{
    Q_OBJECT

private slots:
    void errorBoxes_data();
    void errorBoxes();
    void fastFailureShowsOnlyItsErrorBox();
    void unusableChecksumsFileStopsVerifyBeforeHashing_data();
    void unusableChecksumsFileStopsVerifyBeforeHashing();
    void createRefusedBeforeTheScan_data();
    void createRefusedBeforeTheScan();
    void createInFolderMovedDuringTheRun();
};

void TestMainWindowErrors::errorBoxes_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("checksums");
    QTest::addColumn<bool>("fileVanishes");
    QTest::addColumn<QString>("box");

    // "@" stands for the test's temporary folder; @/tree exists, and so
    // does the checksums file @/good.sha256.
    const QString create = QStringLiteral("Create checksums..");
    const QString verify = QStringLiteral("Verify checksums..");
    const QString noDir = QStringLiteral("warning|Error|Directory is not exists");
    const QString noName = QStringLiteral("warning|Error|File name is not specified");
    const QString vanished = QStringLiteral("critical|Error|Cannot read file \"@/tree/zz/last.txt\".");

    QTest::newRow("create: missing source directory")
            << create << "@/missing" << "@/new.sha256" << false << noDir;
    QTest::newRow("create: missing source directory is reported before an empty file name")
            << create << "@/missing" << "" << false << noDir;
    QTest::newRow("create: empty source directory is not the working directory")
            << create << "" << "@/new.sha256" << false << noDir;
    QTest::newRow("create: empty checksums file name")
            << create << "@/tree" << "" << false << noName;
    QTest::newRow("create: folder of the checksums file missing")
            << create << "@/tree" << "@/missing/new.sha256" << false
            << "warning|Error|Checksums file creation error";
    QTest::newRow("create: checksums file name names a directory")
            << create << "@/tree" << "@/tree/d00" << false
            << "warning|Error|Checksums file creation error";
    QTest::newRow("create: a file disappears during the scan")
            << create << "@/tree" << "@/new.sha256" << true << vanished;

    QTest::newRow("verify: missing source directory")
            << verify << "@/missing" << "@/good.sha256" << false << noDir;
    QTest::newRow("verify: missing source directory is reported before a missing file")
            << verify << "@/missing" << "@/missing.sha256" << false << noDir;
    QTest::newRow("verify: empty source directory is not the working directory")
            << verify << "" << "@/good.sha256" << false << noDir;
    QTest::newRow("verify: empty checksums file name")
            << verify << "@/tree" << "" << false << noName;
    QTest::newRow("verify: checksums file does not exist")
            << verify << "@/tree" << "@/missing.sha256" << false << noName;
    QTest::newRow("verify: checksums file name names a directory")
            << verify << "@/tree" << "@/tree/d00" << false
            << "warning|Error|Checksums file load error";
    QTest::newRow("verify: a file disappears during the scan")
            << verify << "@/tree" << "@/good.sha256" << true << vanished;
}

void TestMainWindowErrors::errorBoxes()
{
    QFETCH(QString, button);
    QFETCH(QString, source);
    QFETCH(QString, checksums);
    QFETCH(bool, fileVanishes);
    QFETCH(QString, box);

    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QByteArray good = expectedList(tree, {QStringLiteral("zz/last.txt")});
    writeFile(root + QStringLiteral("/good.sha256"), good);
    source.replace(QLatin1Char('@'), root);
    checksums.replace(QLatin1Char('@'), root);
    box.replace(QLatin1Char('@'), root);
    // An empty source field must not stand for the working directory, which
    // here holds a tree that could be hashed.
    QVERIFY(QDir::setCurrent(root));
    const QStringList entriesBefore = entriesOf(root);

    MainWindow window;
    window.show();
    GuiDriver driver;
    driver.expectModal(button.startsWith(QLatin1String("Create")) ? "CreateDBWindow" : "CheckDBWindow",
                       fillParameters(source, checksums));
    if (fileVanishes) {
        // Gone after the tree has been listed, before its turn comes.
        holdBackLastFile(tree, window);
        driver.expect(QStringLiteral("progress window, the tree listed"), progressOnceListed(tree),
                      [tree](QWidget *) { QFile::remove(tree + QStringLiteral("/zz/last.txt")); });
    }
    driver.expectMessageBox();
    runJob(window, button, driver);

    QCOMPARE(driver.seenBoxes, QStringList{box});
    // Nothing written, nothing left behind, the old checksums file intact.
    QCOMPARE(entriesOf(root), entriesBefore);
    QCOMPARE(readFile(root + QStringLiteral("/good.sha256")), good);
}

void TestMainWindowErrors::fastFailureShowsOnlyItsErrorBox()
{
    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString sums = root + QStringLiteral("/new.sha256");

    MainWindow window;
    holdBackLastFile(tree, window);
    window.show();
    GuiDriver driver;
    bool progressShown = false;
    QString keyTarget;
    driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
    // The run fails at its last file, long before the progress window's
    // minimum duration of 4 s.
    driver.expect(QStringLiteral("progress window, the tree listed"), progressOnceListed(tree),
                  [tree](QWidget *) { QFile::remove(tree + QStringLiteral("/zz/last.txt")); });
    driver.expectModal("QMessageBox", [&](QWidget *box) {
        driver.seenBoxes << GuiDriver::describe(box);
        // On a busy machine the scan itself may outlast the minimum duration;
        // what must not happen is the window coming up over the box.
        const QWidget *before = GuiDriver::topLevelOf("QProgressDialog");
        const bool shownBefore = before && before->isVisible();
        // The user reads the box past the minimum duration; the driver would
        // take a box standing that long for a stray and close it.
        driver.stop();
        QTest::qWait(4500);
        const QWidget *progress = GuiDriver::topLevelOf("QProgressDialog");
        progressShown = !shownBefore && progress && progress->isVisible();
        driver.start();
        // Enter goes to the modal window on top: it must still be the box.
        QWidget *top = QApplication::activeModalWidget();
        keyTarget = top ? GuiDriver::describe(top) : QString();
        if (top)
            QTest::keyClick(top, Qt::Key_Return);
    });
    runJob(window, QStringLiteral("Create checksums.."), driver);

    const QString failure = QStringLiteral("critical|Error|Cannot read file \"%1/zz/last.txt\".").arg(tree);
    QCOMPARE(driver.seenBoxes, QStringList{failure});
    QVERIFY(!progressShown);
    QCOMPARE(keyTarget, failure);
    QVERIFY(!QFile::exists(sums));
}

void TestMainWindowErrors::unusableChecksumsFileStopsVerifyBeforeHashing_data()
{
    QTest::addColumn<QString>("kind");        // "folder", "fifo", or "file" holding content
    QTest::addColumn<QByteArray>("content");  // "@" stands for the record of zz/last.txt
    QTest::addColumn<bool>("refused");

    QTest::newRow("a folder") << "folder" << QByteArray() << true;
    QTest::newRow("a FIFO") << "fifo" << QByteArray() << true;
    QTest::newRow("README-like text") << "file" << QByteArray("# Tree\n\nSee below.\n") << true;
    QTest::newRow("random bytes") << "file" << QByteArray("\x8f\x01z\xff\r\n\x7f\n") << true;
    // Shows that a scan is seen where there is one.
    QTest::newRow("a record among junk: the tree is hashed") << "file" << QByteArray("junk\r\n@") << false;
}

void TestMainWindowErrors::unusableChecksumsFileStopsVerifyBeforeHashing()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(bool, refused);

    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString sums = root + QStringLiteral("/sums.sha256");
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(sums));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(sums).constData(), 0644), 0);
    else
        writeFile(sums, content.replace('@', expectedList(tree, {QStringLiteral("zz/last.txt")})));

    MainWindow window;
    window.show();
    GuiDriver driver;
    // Looked for on every pass of the event loop, also those the progress
    // window makes between two files.
    bool progressSeen = false;
    const auto modalAfterAnyProgress = [&progressSeen](const char *className) {
        return [&progressSeen, className]() {
            progressSeen = progressSeen || GuiDriver::topLevelOf("QProgressDialog");
            return GuiDriver::activeModal(className);
        };
    };
    driver.expectModal("CheckDBWindow", fillParameters(tree, sums));
    CheckResult result;
    if (refused) {
        driver.expect(QStringLiteral("error box"), modalAfterAnyProgress("QMessageBox"), [&driver](QWidget *box) {
            driver.seenBoxes << GuiDriver::describe(box);
            static_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click();
        });
    } else {
        driver.expect(QStringLiteral("check result"), modalAfterAnyProgress("CheckDBResult"),
                      readCheckResult(&result));
    }
    runJob(window, QStringLiteral("Verify checksums.."), driver);

    QCOMPARE(progressSeen, !refused);
    QCOMPARE(driver.seenBoxes,
             refused ? QStringList{QStringLiteral("warning|Error|Checksums file load error")} : QStringList());
    QCOMPARE(result.rows.isEmpty(), refused);
}

void TestMainWindowErrors::createRefusedBeforeTheScan_data()
{
    QTest::addColumn<QString>("checksums");  // "@": the test's temporary folder

    QTest::newRow("folder of the checksums file missing") << "@/missing/new.sha256";
    QTest::newRow("checksums file name names a directory") << "@/tree/d00";
}

void TestMainWindowErrors::createRefusedBeforeTheScan()
{
    QFETCH(QString, checksums);
    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    checksums.replace(QLatin1Char('@'), root);

    MainWindow window;
    window.show();
    GuiDriver driver;
    bool progressMade = false;
    driver.expectModal("CreateDBWindow", fillParameters(tree, checksums));
    // Looked for on every pass of the event loop until the box comes.
    driver.expect(QStringLiteral("error box"),
                  [&]() {
                      progressMade = progressMade || GuiDriver::topLevelOf("QProgressDialog");
                      return GuiDriver::activeModal("QMessageBox");
                  },
                  [&](QWidget *box) {
                      driver.seenBoxes << GuiDriver::describe(box);
                      QTest::keyClick(box, Qt::Key_Return);
                  });
    runJob(window, QStringLiteral("Create checksums.."), driver);

    QCOMPARE(driver.seenBoxes, QStringList{QStringLiteral("warning|Error|Checksums file creation error")});
    QVERIFY(!progressMade);
}

// The folder of the checksums file is moved, and another made in its place,
// while the tree is hashed: the file goes with the folder the writer opened,
// and the name typed holds none.
void TestMainWindowErrors::createInFolderMovedDuringTheRun()
{
    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString out = root + QStringLiteral("/out");
    QVERIFY(QDir().mkdir(out));

    MainWindow window;
    holdBackLastFile(tree, window);
    window.show();
    GuiDriver driver;
    bool moved = false;
    driver.expectModal("CreateDBWindow", fillParameters(tree, out + QStringLiteral("/sums.sha256")));
    driver.expect(QStringLiteral("progress window"), []() { return GuiDriver::topLevelOf("QProgressDialog"); },
                  [&moved, out](QWidget *) {
                      moved = QDir().rename(out, out + QStringLiteral(".moved")) && QDir().mkdir(out);
                  });
    driver.expectMessageBox();
    runJob(window, QStringLiteral("Create checksums.."), driver);

    QVERIFY(moved);
    QCOMPARE(driver.seenBoxes, QStringList{QStringLiteral("warning|Error|Checksums file creation error")});
    QCOMPARE(entriesOf(out), QStringList());
    QCOMPARE(entriesOf(out + QStringLiteral(".moved")), QStringList{QStringLiteral("sums.sha256")});
}

QTEST_MAIN(TestMainWindowErrors)
#include "tst_mainwindowerrors.moc"
