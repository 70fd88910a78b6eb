#include "applicationicon.h"
#include "guidriver.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <sys/stat.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The checksums file a create must write for these files, listed in the
// order the tree is walked.
QByteArray expectedList(const QString &root, const QStringList &relativePaths)
{
    QByteArray list;
    for (const QString &path : relativePaths)
        list += sha256Hex(readFile(root + QLatin1Char('/') + path)) + ' ' + path.toUtf8() + "\r\n";
    return list;
}

QAbstractButton *mainButton(MainWindow &window, const QString &text)
{
    const auto buttons = window.findChildren<QAbstractButton *>(QString(), Qt::FindDirectChildrenOnly);
    for (QAbstractButton *button : buttons) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// Types both paths into the parameter dialog and presses "Ok".
GuiDriver::Action fillParameters(const QString &source, const QString &checksums)
{
    return [source, checksums](QWidget *dialog) {
        const auto edits = dialog->findChildren<QLineEdit *>();
        if (edits.size() != 2)
            return;
        edits[0]->setText(source);
        edits[1]->setText(checksums);
        GuiDriver::clickButton(dialog, QStringLiteral("Ok"));
    };
}

struct CheckResult
{
    QStringList labels;
    bool tableHidden = false;
    bool copyHidden = false;
    QStringList rows;  // "path|message"
};

GuiDriver::Action readCheckResult(CheckResult *result)
{
    return [result](QWidget *dialog) {
        result->labels = GuiDriver::labelTexts(dialog);
        if (auto *table = dialog->findChild<QTableWidget *>()) {
            result->tableHidden = table->isHidden();
            for (int row = 0; row < table->rowCount(); ++row) {
                const QTableWidgetItem *file = table->item(row, 0);
                const QTableWidgetItem *error = table->item(row, 1);
                result->rows << (file ? file->text() : QString()) + QLatin1Char('|')
                                + (error ? error->text() : QString());
            }
        }
        const auto buttons = dialog->findChildren<QAbstractButton *>();
        for (QAbstractButton *button : buttons) {
            if (button->text() == QLatin1String("Copy report"))
                result->copyHidden = button->isHidden();
        }
        GuiDriver::clickButton(dialog, QStringLiteral("Close"));
    };
}

GuiDriver::Action readCreationResult(QStringList *labels)
{
    return [labels](QWidget *dialog) {
        *labels = GuiDriver::labelTexts(dialog);
        GuiDriver::clickButton(dialog, QStringLiteral("Close"));
    };
}

// Presses the progress window's cancel button, as a person would while
// the files go by.
void pressCancel(QWidget *progress)
{
    if (auto *button = progress->findChild<QPushButton *>())
        button->click();
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

// A tree large enough that the scan passes through the event loop many
// times, with one file that is walked last.
void makeLargeTree(const QString &root)
{
    const QByteArray block(1024, 'x');
    for (int d = 0; d < 10; ++d) {
        for (int f = 0; f < 200; ++f) {
            writeFile(QStringLiteral("%1/d%2/f%3.bin").arg(root).arg(d, 2, 10, QLatin1Char('0')).arg(f, 3, 10, QLatin1Char('0')),
                      block + QByteArray::number(d * 1000 + f));
        }
    }
    writeFile(root + QStringLiteral("/zz/last.txt"), "walked last");
}

// Makes zz/last.txt wait for its turn long enough that the test can remove
// it once the progress window is up: a sparse file of 256 MiB before it for
// each hasher, which takes one each, so that no hasher reaches the last
// file for a good tenth of a second however fast the machine.
void holdBackLastFile(const QString &root)
{
    const int hashers = std::max(1, QThread::idealThreadCount());
    for (int i = 0; i < hashers; ++i) {
        QFile big(QStringLiteral("%1/zz/big%2.bin").arg(root).arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(256LL * 1024 * 1024));
    }
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void createThenVerifyReportsEachChange();
    void checksumFileInsideTreeVerifiesClean_data();
    void checksumFileInsideTreeVerifiesClean();
    void cancelledCreateKeepsOldChecksumFile_data();
    void cancelledCreateKeepsOldChecksumFile();
    void errorBoxes_data();
    void errorBoxes();
    void fastFailureShowsOnlyItsErrorBox();
    void unusableChecksumsFileStopsVerifyBeforeHashing_data();
    void unusableChecksumsFileStopsVerifyBeforeHashing();
    void createRefusedBeforeTheScan_data();
    void createRefusedBeforeTheScan();
    void mainWindowTakesNoInputDuringARun_data();
    void mainWindowTakesNoInputDuringARun();
    void cancelledParameterDialogStartsNoJob_data();
    void cancelledParameterDialogStartsNoJob();
    void pathsRememberedBetweenRuns_data();
    void pathsRememberedBetweenRuns();
    void closingWindowEndsEventLoop_data();
    void closingWindowEndsEventLoop();
    void aboutBoxIsFixedLatin1Text();
    void everyWindowHasTheIconInEveryShippedSize_data();
    void everyWindowHasTheIconInEveryShippedSize();
    void createInFolderMovedDuringTheRun();

private:
    // Runs one job from its main-window button with the given steps and
    // checks that the driver played all of them and met nothing else.
    void runJob(MainWindow &window, const QString &button, GuiDriver &driver);

    std::unique_ptr<QTemporaryDir> settingsDir;
    std::unique_ptr<QTemporaryDir> work;
    QString root;
    QString startDir;
};

void TestMainWindow::initTestCase()
{
    Q_INIT_RESOURCE(orvalen);
    startDir = QDir::currentPath();
}

void TestMainWindow::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(settingsDir->isValid());
    QVERIFY(work->isValid());
    // The window's settings are system-wide; every test gets its own file.
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsDir->path());
    root = work->path();
}

void TestMainWindow::cleanup()
{
    QDir::setCurrent(startDir);
    work.reset();
    settingsDir.reset();
}

void TestMainWindow::runJob(MainWindow &window, const QString &button, GuiDriver &driver)
{
    QAbstractButton *jobButton = mainButton(window, button);
    QVERIFY2(jobButton, qPrintable(button));
    driver.start();
    jobButton->click();
    driver.stop();
    QVERIFY2(driver.failures.isEmpty(), qPrintable(driver.failures.join(QStringLiteral("; "))));
}

void TestMainWindow::createThenVerifyReportsEachChange()
{
    const QString tree = root + QStringLiteral("/tree");
    const QString sums = root + QStringLiteral("/tree.sha256");
    writeFile(tree + QStringLiteral("/a.txt"), "alpha\n");
    writeFile(tree + QStringLiteral("/b.txt"), "bravo\n");
    writeFile(tree + QStringLiteral("/sub/c.txt"), "charlie");
    writeFile(tree + QStringLiteral("/sub/d.txt"), QByteArray());

    MainWindow window;
    window.show();

    QStringList created;
    {
        GuiDriver driver;
        driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
        driver.expectModal("CreationDBResult", readCreationResult(&created));
        runJob(window, QStringLiteral("Create checksums.."), driver);
        if (QTest::currentTestFailed())
            return;
    }
    const QByteArray list = expectedList(tree, {QStringLiteral("a.txt"), QStringLiteral("b.txt"),
                                                QStringLiteral("sub/c.txt"), QStringLiteral("sub/d.txt")});
    QCOMPARE(readFile(sums), list);
    const QString listDigest = QString::fromLatin1(sha256Hex(list));
    QVERIFY2(created.contains(sums), qPrintable(created.join(QLatin1Char('|'))));
    QVERIFY2(created.contains(listDigest), qPrintable(created.join(QLatin1Char('|'))));

    CheckResult clean;
    {
        GuiDriver driver;
        driver.expectModal("CheckDBWindow", fillParameters(tree, sums));
        driver.expectModal("CheckDBResult", readCheckResult(&clean));
        runJob(window, QStringLiteral("Verify checksums.."), driver);
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(clean.labels.contains(QStringLiteral("Check result: no errors")));
    QVERIFY(clean.labels.contains(listDigest));
    QVERIFY(clean.tableHidden);
    QVERIFY(clean.copyHidden);
    QCOMPARE(clean.rows, QStringList());

    writeFile(tree + QStringLiteral("/b.txt"), "bravo, changed\n");
    writeFile(tree + QStringLiteral("/sub/c2.txt"), "new");
    QVERIFY(QFile::remove(tree + QStringLiteral("/a.txt")));

    CheckResult changed;
    {
        GuiDriver driver;
        driver.expectModal("CheckDBWindow", fillParameters(tree, sums));
        driver.expectModal("CheckDBResult", readCheckResult(&changed));
        runJob(window, QStringLiteral("Verify checksums.."), driver);
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(changed.labels.contains(QStringLiteral("Following errors were found:")));
    QVERIFY(changed.labels.contains(listDigest));
    QVERIFY(!changed.tableHidden);
    QVERIFY(!changed.copyHidden);
    // Changed and new files in the order of the walk, then the missing ones
    // in the order of the checksums file.
    QCOMPARE(changed.rows, QStringList({QStringLiteral("b.txt|Checksums does not match"),
                                        QStringLiteral("sub/c2.txt|New file"),
                                        QStringLiteral("a.txt|File not found")}));
    // Verifying only reads.
    QCOMPARE(readFile(sums), list);
}

void TestMainWindow::checksumFileInsideTreeVerifiesClean_data()
{
    QTest::addColumn<bool>("oldFileThere");
    QTest::addColumn<bool>("relativePaths");

    QTest::newRow("new checksums file, absolute paths") << false << false;
    QTest::newRow("over an older checksums file, absolute paths") << true << false;
    QTest::newRow("over an older checksums file, paths relative to the working directory")
            << true << true;
}

void TestMainWindow::checksumFileInsideTreeVerifiesClean()
{
    QFETCH(bool, oldFileThere);
    QFETCH(bool, relativePaths);

    const QString tree = root + QStringLiteral("/tree");
    writeFile(tree + QStringLiteral("/one.txt"), "one");
    writeFile(tree + QStringLiteral("/two/three.txt"), "three");
    const QString sumsAbsolute = tree + QStringLiteral("/sums.sha256");
    if (oldFileThere)
        writeFile(sumsAbsolute, "0000 one.txt\r\n");

    QString source = tree;
    QString sums = sumsAbsolute;
    if (relativePaths) {
        QVERIFY(QDir::setCurrent(root));
        source = QStringLiteral("tree");
        sums = QStringLiteral("tree/sums.sha256");
    }

    MainWindow window;
    window.show();
    {
        QStringList created;
        GuiDriver driver;
        driver.expectModal("CreateDBWindow", fillParameters(source, sums));
        driver.expectModal("CreationDBResult", readCreationResult(&created));
        runJob(window, QStringLiteral("Create checksums.."), driver);
        if (QTest::currentTestFailed())
            return;
        // The result names the file exactly as it was typed.
        QVERIFY2(created.contains(sums), qPrintable(created.join(QLatin1Char('|'))));
    }
    const QByteArray written = readFile(sumsAbsolute);
    QVERIFY2(!written.contains("sums.sha256"), written.constData());
    QCOMPARE(written.count("\r\n"), 2);
    if (!relativePaths) {
        QCOMPARE(written, expectedList(tree, {QStringLiteral("one.txt"), QStringLiteral("two/three.txt")}));
    }

    CheckResult result;
    {
        GuiDriver driver;
        driver.expectModal("CheckDBWindow", fillParameters(source, sums));
        driver.expectModal("CheckDBResult", readCheckResult(&result));
        runJob(window, QStringLiteral("Verify checksums.."), driver);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(result.rows, QStringList());
    QVERIFY(result.labels.contains(QStringLiteral("Check result: no errors")));
    QVERIFY(result.labels.contains(QString::fromLatin1(sha256Hex(written))));
}

void TestMainWindow::cancelledCreateKeepsOldChecksumFile_data()
{
    QTest::addColumn<bool>("insideTree");

    QTest::newRow("checksums file beside the tree") << false;
    QTest::newRow("checksums file inside the tree") << true;
}

void TestMainWindow::cancelledCreateKeepsOldChecksumFile()
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

void TestMainWindow::errorBoxes_data()
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

void TestMainWindow::errorBoxes()
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
        holdBackLastFile(tree);
        driver.expect(QStringLiteral("progress window"),
                      []() { return GuiDriver::topLevelOf("QProgressDialog"); },
                      [tree](QWidget *) { QFile::remove(tree + QStringLiteral("/zz/last.txt")); });
    }
    driver.expectMessageBox();
    runJob(window, button, driver);

    QCOMPARE(driver.seenBoxes, QStringList{box});
    // Nothing written, nothing left behind, the old checksums file intact.
    QCOMPARE(entriesOf(root), entriesBefore);
    QCOMPARE(readFile(root + QStringLiteral("/good.sha256")), good);
}

void TestMainWindow::fastFailureShowsOnlyItsErrorBox()
{
    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    holdBackLastFile(tree);
    const QString sums = root + QStringLiteral("/new.sha256");

    MainWindow window;
    window.show();
    GuiDriver driver;
    bool progressShown = false;
    QString keyTarget;
    driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
    // The run fails at its last file, long before the progress window's
    // minimum duration of 4 s.
    driver.expect(QStringLiteral("progress window"),
                  []() { return GuiDriver::topLevelOf("QProgressDialog"); },
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

void TestMainWindow::unusableChecksumsFileStopsVerifyBeforeHashing_data()
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

void TestMainWindow::unusableChecksumsFileStopsVerifyBeforeHashing()
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

void TestMainWindow::createRefusedBeforeTheScan_data()
{
    QTest::addColumn<QString>("checksums");  // "@": the test's temporary folder

    QTest::newRow("folder of the checksums file missing") << "@/missing/new.sha256";
    QTest::newRow("checksums file name names a directory") << "@/tree/d00";
}

void TestMainWindow::createRefusedBeforeTheScan()
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

void TestMainWindow::mainWindowTakesNoInputDuringARun_data()
{
    QTest::addColumn<QString>("input");  // a button's text, or a key

    QTest::newRow("About..") << "About..";
    QTest::newRow("Verify checksums..") << "Verify checksums..";
    QTest::newRow("Exit") << "Exit";
    QTest::newRow("Escape key") << "Escape";
}

void TestMainWindow::mainWindowTakesNoInputDuringARun()
{
    QFETCH(QString, input);

    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    const QString sums = root + QStringLiteral("/new.sha256");

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    GuiDriver driver;
    driver.expectModal("CreateDBWindow", fillParameters(tree, sums));
    // The progress window is still hidden: the run is in its first seconds.
    driver.expect(QStringLiteral("progress window"),
                  []() { return GuiDriver::topLevelOf("QProgressDialog"); },
                  [&window, input](QWidget *progress) {
                      QVERIFY(!progress->isVisible());
                      if (input == QLatin1String("Escape")) {
                          QTest::keyClick(&window, Qt::Key_Escape);
                      } else {
                          QAbstractButton *button = mainButton(window, input);
                          QVERIFY(button);
                          QTest::mouseClick(button, Qt::LeftButton);
                      }
                  });
    QStringList created;
    driver.expectModal("CreationDBResult", readCreationResult(&created));
    runJob(window, QStringLiteral("Create checksums.."), driver);

    QCOMPARE(driver.seenBoxes, QStringList());
    QVERIFY(window.isVisible());
    QCOMPARE(readFile(sums).count("\r\n"), 2001);
}

void TestMainWindow::cancelledParameterDialogStartsNoJob_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("dialogClass");

    QTest::newRow("create") << "Create checksums.." << QByteArray("CreateDBWindow");
    QTest::newRow("verify") << "Verify checksums.." << QByteArray("CheckDBWindow");
}

void TestMainWindow::cancelledParameterDialogStartsNoJob()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, dialogClass);

    const QString tree = root + QStringLiteral("/tree");
    writeFile(tree + QStringLiteral("/a.txt"), "a");
    const QString sums = root + QStringLiteral("/a.sha256");
    writeFile(sums, expectedList(tree, {QStringLiteral("a.txt")}));
    const QStringList entriesBefore = entriesOf(root);

    MainWindow window;
    window.show();
    GuiDriver driver;
    driver.expectModal(dialogClass.constData(), [tree, sums](QWidget *dialog) {
        const auto edits = dialog->findChildren<QLineEdit *>();
        if (edits.size() == 2) {
            edits[0]->setText(tree);
            edits[1]->setText(sums);
        }
        GuiDriver::clickButton(dialog, QStringLiteral("Cancel"));
    });
    runJob(window, button, driver);

    QCOMPARE(driver.seenBoxes, QStringList());
    QCOMPARE(entriesOf(root), entriesBefore);
    QSettings stored(QSettings::IniFormat, QSettings::SystemScope, QStringLiteral("Varnock"),
                     QStringLiteral("Orvalen"));
    QCOMPARE(stored.allKeys(), QStringList());
}

void TestMainWindow::pathsRememberedBetweenRuns_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("ASCII with a space") << QStringLiteral("no such tree");
    // Qt 5 would write \x escapes here and Qt 6 plain UTF-8; both builds
    // must write, and read, one and the same file.
    QTest::newRow("German, Japanese and a character beyond the BMP")
            << QString::fromUtf8("Pr\xC3\xBC" "fung \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9D\x84\x9E");
}

void TestMainWindow::pathsRememberedBetweenRuns()
{
    QFETCH(QString, name);

    const QString ini = settingsDir->path() + QStringLiteral("/Varnock/Orvalen.ini");
    auto iniText = [](const QString &source, const QString &sums) {
        return "[General]\nChecksumFile=" + sums.toUtf8() + "\nSourceDirectory=" + source.toUtf8() + '\n';
    };

    const QString source = root + QLatin1Char('/') + name;
    const QString sums = root + QLatin1Char('/') + name + QStringLiteral(".sha256");
    {
        MainWindow first;
        first.show();
        GuiDriver driver;
        driver.expectModal("CreateDBWindow", fillParameters(source, sums));
        driver.expectMessageBox();
        runJob(first, QStringLiteral("Create checksums.."), driver);
        QCOMPARE(driver.seenBoxes, QStringList{QStringLiteral("warning|Error|Directory is not exists")});
    }
    QCOMPARE(readFile(ini), iniText(source, sums));

    // The next run reads the file as another program (or the other Qt
    // build) left it; a new size makes Qt read it again instead of keeping
    // the values it has cached.
    const QString nextSource = source + QStringLiteral(" next");
    const QString nextSums = sums + QStringLiteral(".next");
    writeFile(ini, iniText(nextSource, nextSums));

    MainWindow second;
    second.show();
    for (const char *dialogClass : {"CheckDBWindow", "CreateDBWindow"}) {
        QStringList shown;
        GuiDriver driver;
        driver.expectModal(dialogClass, [&shown](QWidget *dialog) {
            const auto edits = dialog->findChildren<QLineEdit *>();
            for (QLineEdit *edit : edits)
                shown << edit->text();
            GuiDriver::clickButton(dialog, QStringLiteral("Cancel"));
        });
        runJob(second, qstrcmp(dialogClass, "CheckDBWindow") == 0 ? QStringLiteral("Verify checksums..")
                                                                    : QStringLiteral("Create checksums.."),
               driver);
        QCOMPARE(shown, QStringList({QDir::toNativeSeparators(nextSource), QDir::toNativeSeparators(nextSums)}));
    }
}

void TestMainWindow::closingWindowEndsEventLoop_data()
{
    QTest::addColumn<int>("how");

    QTest::newRow("Escape key") << 0;
    QTest::newRow("Exit button") << 1;
    QTest::newRow("window's close button") << 2;
}

void TestMainWindow::closingWindowEndsEventLoop()
{
    QFETCH(int, how);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTimer::singleShot(0, &window, [&window, how]() {
        if (how == 0) {
            QTest::keyClick(&window, Qt::Key_Escape);
        } else if (how == 1) {
            if (QAbstractButton *exit = mainButton(window, QStringLiteral("Exit")))
                exit->click();
        } else {
            window.close();
        }
    });
    // Only a guard against a loop that never ends; the check is the code.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, []() { QCoreApplication::exit(99); });
    guard.start(60000);

    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
}

void TestMainWindow::aboutBoxIsFixedLatin1Text()
{
    MainWindow window;
    window.show();
    GuiDriver driver;
    driver.expectMessageBox();
    runJob(window, QStringLiteral("About.."), driver);

    QCOMPARE(driver.seenBoxes.size(), 1);
    const QStringList parts = driver.seenBoxes.first().split(QLatin1Char('|'));
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0], QStringLiteral("information"));
    QCOMPARE(parts[1], QStringLiteral("About"));
    const QString text = parts[2];
    QVERIFY(text.startsWith(QLatin1String("Orvalen ")));
    QVERIFY2(text.contains(QChar(0x00A9)), qPrintable(text));
    QVERIFY(!text.endsWith(QLatin1Char('\n')));
    QVERIFY(!text.contains(QLatin1Char('\r')));
    for (const QChar c : text)
        QVERIFY(c.unicode() <= 0xFF);
    // Names the toolkit the program was built with, not the one it was
    // first written for.
    QVERIFY2(text.endsWith(QStringLiteral("\nUser interface built with the Qt %1 toolkit (LGPL v3).")
                                   .arg(QT_VERSION_MAJOR)),
             qPrintable(text));
}

void TestMainWindow::everyWindowHasTheIconInEveryShippedSize_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512})
        QTest::newRow(qPrintable(QStringLiteral("%1x%1").arg(size))) << size;
}

void TestMainWindow::everyWindowHasTheIconInEveryShippedSize()
{
    QFETCH(int, size);
    const QSize square(size, size);

    // The file the hicolor theme is given.
    const QString shipped = QStringLiteral(ORVALEN_SOURCE_DIR "/app/icons/orvalen-%1.png").arg(size);
    QCOMPARE(QImage(shipped).size(), square);

    // What main() sets before it opens the first window.
    ApplicationIcon::install();
    QVERIFY(ApplicationIcon::sizes().contains(size));
    QVERIFY(QApplication::windowIcon().availableSizes().contains(square));
    QCOMPARE(QApplication::windowIcon().pixmap(square).size(), square);
    MainWindow window;
    QVERIFY(window.windowIcon().availableSizes().contains(square));
    QMessageBox box;
    QVERIFY(box.windowIcon().availableSizes().contains(square));
}

// The folder of the checksums file is moved, and another made in its place,
// while the tree is hashed: the file goes with the folder the writer opened,
// and the name typed holds none.
void TestMainWindow::createInFolderMovedDuringTheRun()
{
    const QString tree = root + QStringLiteral("/tree");
    makeLargeTree(tree);
    holdBackLastFile(tree);
    const QString out = root + QStringLiteral("/out");
    QVERIFY(QDir().mkdir(out));

    MainWindow window;
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
