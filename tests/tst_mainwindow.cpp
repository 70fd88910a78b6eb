// The main window's jobs from its buttons: a create and a verify run to their
// result dialogs, the paths the parameter dialogs remember, and closing.

#include "mainwindow.h"
#include "mainwindowtest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Frees whoever blocks opening a FIFO for reading, once the test has taken
// far longer than it should: it opens the FIFO for writing, which lets the
// reader go on, and notes that someone was blocked. A reader that opens
// without waiting never holds the FIFO long enough to be met.
class FifoWatchdog
{
public:
    explicit FifoWatchdog(const QString &fifo)
        : path(QFile::encodeName(fifo))
        , thread([this] { watch(); })
    {
    }
    ~FifoWatchdog() { finish(); }

    // Ends the watch; true when a reader was found blocked.
    bool finish()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        woken.notify_all();
        if (thread.joinable())
            thread.join();
        return blockedReaderSeen;
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (woken.wait_for(lock, std::chrono::seconds(20), [this] { return done; }))
            return;
        while (!done) {
            const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                blockedReaderSeen = true;
                ::close(fd);
            }
            woken.wait_for(lock, std::chrono::milliseconds(50), [this] { return done; });
        }
    }

    const QByteArray path;
    std::mutex mutex;
    std::condition_variable woken;
    bool done = false;
    std::atomic<bool> blockedReaderSeen{false};
    std::thread thread;
};

} // namespace

class TestMainWindow : public MainWindowTest
{
    Q_OBJECT

private slots:
    void createThenVerifyReportsEachChange();
    void checksumFileInsideTreeVerifiesClean_data();
    void checksumFileInsideTreeVerifiesClean();
    void mainWindowTakesNoInputDuringARun_data();
    void mainWindowTakesNoInputDuringARun();
    void cancelledParameterDialogStartsNoJob_data();
    void cancelledParameterDialogStartsNoJob();
    void pathsRememberedBetweenRuns_data();
    void pathsRememberedBetweenRuns();
    void badSettingsFileLeavesFieldsEmpty_data();
    void badSettingsFileLeavesFieldsEmpty();
    void closingWindowEndsEventLoop_data();
    void closingWindowEndsEventLoop();
    void aboutBoxIsFixedLatin1Text();
};

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

void TestMainWindow::badSettingsFileLeavesFieldsEmpty_data()
{
    QTest::addColumn<QString>("kind");  // "serialized", "fifo" or "plain"
    QTest::addColumn<QStringList>("shown");

    // QSettings would decode the value into whatever it claims to be; one
    // that claims a vast size brings the program down.
    QTest::newRow("a serialized value") << "serialized"
                                        << QStringList{QString(), QStringLiteral("/plain.sha256")};
    QTest::newRow("a FIFO in the file's place") << "fifo" << QStringList{QString(), QString()};
    QTest::newRow("plain values are still read") << "plain"
                                                 << QStringList{QStringLiteral("/tree"), QStringLiteral("/plain.sha256")};
}

void TestMainWindow::badSettingsFileLeavesFieldsEmpty()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, shown);

    const QString ini = settingsDir->path() + QStringLiteral("/Varnock/Orvalen.ini");
    QVERIFY(QDir().mkpath(QFileInfo(ini).absolutePath()));
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(ini).constData(), 0644), 0);
    } else {
        QSettings stored(ini, QSettings::IniFormat);
        if (kind == QLatin1String("serialized"))
            stored.setValue(QStringLiteral("SourceDirectory"), QUrl(QStringLiteral("file:///decoded")));
        else
            stored.setValue(QStringLiteral("SourceDirectory"), QStringLiteral("/tree"));
        stored.setValue(QStringLiteral("ChecksumFile"), QStringLiteral("/plain.sha256"));
    }
    FifoWatchdog watchdog(ini);

    QStringList seen;
    {
        MainWindow window;
        window.show();
        GuiDriver driver;
        driver.expectModal("CreateDBWindow", [&seen](QWidget *dialog) {
            const auto edits = dialog->findChildren<QLineEdit *>();
            for (QLineEdit *edit : edits)
                seen << edit->text();
            GuiDriver::clickButton(dialog, QStringLiteral("Cancel"));
        });
        runJob(window, QStringLiteral("Create checksums.."), driver);
    }
    QVERIFY2(!watchdog.finish(), "the settings file was opened in a way that waits for a writer");
    QCOMPARE(seen, shown);
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
