#include "createhashwindow.h"
#include "uitestsupport.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStyle>
#include <QTranslator>
#include <QtTest>

#include <functional>

namespace {

struct Run
{
    int hashed = 0;
    bool stoppedOnCancel = false;
};

// Calls a reporter exactly as the engine does for one run: reportStart, then
// for each file reportFile and isCanceled, then the hashing (whileHashing),
// and at the end reportFinish, or reportError at file failAt.
Run drive(ICreateHashReport *report, int fileCount, const std::function<void(int)> &whileHashing = {},
          int failAt = -1, const QString &failure = QString())
{
    Run run;
    report->reportStart(fileCount);
    for (int i = 0; i < fileCount; ++i) {
        report->reportFile(QStringLiteral("dir/file%1.bin").arg(i));
        if (report->isCanceled()) {
            run.stoppedOnCancel = true;
            return run;
        }
        if (whileHashing)
            whileHashing(i);
        if (i == failAt) {
            report->reportError(failure);
            return run;
        }
        ++run.hashed;
    }
    report->reportFinish();
    return run;
}

// A click that the window system has queued: it reaches the button only
// when events are next processed, as a real click during hashing would.
void postClick(QWidget *button)
{
    const QPoint centre = button->rect().center();
    const QPoint global = button->mapToGlobal(centre);
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
}

QPushButton *cancelButtonOf(const CreateHashWindow &window)
{
    return window.findChild<QPushButton *>();
}

QProgressBar *barOf(const CreateHashWindow &window)
{
    return window.findChild<QProgressBar *>();
}

} // namespace

class TestCreateHashWindow : public QObject
{
    Q_OBJECT

private slots:
    void constructionLeavesAnIdleWindow();
    void castsByName_data();
    void castsByName();
    void runEndsInOneState_data();
    void runEndsInOneState();
    void labelAndBarShowTheCurrentFile_data();
    void labelAndBarShowTheCurrentFile();
    void everyFileIsCountedWhenUpdatesAreSkipped();
    void fileAnnouncedTooSoonIsNamedDuringItsHashing_data();
    void fileAnnouncedTooSoonIsNamedDuringItsHashing();
    void windowIsWideEnoughForItsTitle_data();
    void windowIsWideEnoughForItsTitle();
    void longPathKeepsTheWindowOnTheScreen_data();
    void longPathKeepsTheWindowOnTheScreen();
    void clickQueuedAfterTheRunIsIgnored();
    void cancelDuringALongFileStopsTheRun();
    void textsUseTheirOwnContext();
};

void TestCreateHashWindow::constructionLeavesAnIdleWindow()
{
    CreateHashWindow window;
    QCOMPARE(window.windowModality(), Qt::ApplicationModal);
    QCOMPARE(window.windowTitle(), QStringLiteral("Hash calculation"));
    QVERIFY(barOf(window));
    QCOMPARE(barOf(window)->format(), QStringLiteral("%v / %m"));
    QCOMPARE(window.labelText(), QString());
    QCOMPARE(window.hashState(), CreateHashWindow::Running);
    QVERIFY(!window.isFinished());
    QCOMPARE(window.announcedFiles(), 0);
    QVERIFY(!window.isVisible());
    QVERIFY(!window.wasCanceled());

    const QMetaObject *meta = window.metaObject();
    QCOMPARE(meta->className(), "CreateHashWindow");
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 1);
    const QMetaMethod slot = meta->method(meta->methodOffset());
    QCOMPARE(slot.methodSignature(), QByteArray("cancel()"));
    QCOMPARE(slot.methodType(), QMetaMethod::Slot);
    QCOMPARE(slot.access(), QMetaMethod::Public);
}

void TestCreateHashWindow::castsByName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("own class") << QByteArray("CreateHashWindow") << "window";
    QTest::newRow("report interface") << QByteArray("ICreateHashReport") << "report";
    QTest::newRow("settings base") << QByteArray("ISettings") << "settings";
    QTest::newRow("Qt base") << QByteArray("QProgressDialog") << "window";
    QTest::newRow("QObject") << QByteArray("QObject") << "window";
    QTest::newRow("unrelated name") << QByteArray("CheckDBResult") << "none";
}

void TestCreateHashWindow::castsByName()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, expected);
    CreateHashWindow window;
    void *expectedPointer = nullptr;
    if (expected == QLatin1String("window"))
        expectedPointer = static_cast<QObject *>(&window);
    else if (expected == QLatin1String("report"))
        expectedPointer = static_cast<ICreateHashReport *>(&window);
    else if (expected == QLatin1String("settings"))
        expectedPointer = static_cast<ISettings *>(&window);
    QCOMPARE(window.qt_metacast(name.constData()), expectedPointer);
}

void TestCreateHashWindow::runEndsInOneState_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("failAt");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("hashed");
    QTest::addColumn<int>("announced");
    QTest::addColumn<int>("boxIcon");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<QString>("boxText");

    const int none = -1;
    const int noBox = int(QMessageBox::NoIcon);
    QTest::newRow("empty tree finishes") << 0 << none << QString() << none << int(CreateHashWindow::Finished)
                                         << 0 << 0 << noBox << QString() << QString();
    QTest::newRow("three files finish") << 3 << none << QString() << none << int(CreateHashWindow::Finished)
                                        << 3 << 3 << noBox << QString() << QString();
    QTest::newRow("unreadable first file fails")
        << 4 << 0 << "Cannot open file: dir/file0.bin" << none << int(CreateHashWindow::Failed) << 0 << 1
        << int(QMessageBox::Critical) << "Error" << "Cannot open file: dir/file0.bin";
    QTest::newRow("failure text with %1 and non-ASCII shown unchanged")
        << 5 << 2 << "Read error: 'x/%1 \u00fc%2.bin'\n" << none << int(CreateHashWindow::Failed) << 2 << 3
        << int(QMessageBox::Critical) << "Error" << "Read error: 'x/%1 \u00fc%2.bin'\n";
    QTest::newRow("cancel during file 5 of 200 stops before file 6")
        << 200 << none << QString() << 4 << int(CreateHashWindow::Interrupted) << 5 << 6
        << int(QMessageBox::Warning) << "Abort" << "Interrupted by user";
    QTest::newRow("cancel during the first file")
        << 3 << none << QString() << 0 << int(CreateHashWindow::Interrupted) << 1 << 2
        << int(QMessageBox::Warning) << "Abort" << "Interrupted by user";
    QTest::newRow("cancel during the last file still finishes")
        << 50 << none << QString() << 49 << int(CreateHashWindow::Finished) << 50 << 50 << noBox << QString()
        << QString();
}

void TestCreateHashWindow::runEndsInOneState()
{
    QFETCH(int, files);
    QFETCH(int, failAt);
    QFETCH(QString, failure);
    QFETCH(int, cancelAt);
    QFETCH(int, state);
    QFETCH(int, hashed);
    QFETCH(int, announced);
    QFETCH(int, boxIcon);
    QFETCH(QString, boxTitle);
    QFETCH(QString, boxText);

    int boxesSeen = 0;
    {
        CreateHashWindow window;
        window.show();
        QPushButton *cancel = cancelButtonOf(window);
        QVERIFY(cancel);
        BoxCloser closer(&window);
        const Run run = drive(&window, files, [&](int i) {
            if (i == cancelAt) {
                postClick(cancel);
                // The file takes a while to hash, so the next announcement
                // takes in the click: the window does so only when some time
                // has passed since it last did.
                QTest::qSleep(int(CreateHashWindow::fileEventIntervalMs) + 1);
            }
        }, failAt, failure);

        QCOMPARE(int(window.hashState()), state);
        QCOMPARE(window.isFinished(), state == CreateHashWindow::Finished);
        QCOMPARE(run.hashed, hashed);
        QCOMPARE(run.stoppedOnCancel, state == CreateHashWindow::Interrupted);
        QCOMPARE(window.wasCanceled(), state == CreateHashWindow::Interrupted);
        QCOMPARE(window.announcedFiles(), announced);
        QVERIFY(!window.isVisible());
        if (boxIcon == int(QMessageBox::NoIcon)) {
            QCOMPARE(closer.boxes.size(), 0);
        } else {
            QCOMPARE(closer.boxes.size(), 1);
            const SeenBox &box = closer.boxes.first();
            QCOMPARE(int(box.icon), boxIcon);
            QCOMPARE(box.title, boxTitle);
            QCOMPARE(box.text, boxText);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(box.parentIsWindow);
        }
        boxesSeen = closer.boxes.size();
        // Like the flows: the window goes before events are processed again.
    }
    BoxCloser late;
    QCoreApplication::processEvents();
    QCOMPARE(late.boxes.size(), 0);
    QVERIFY(boxesSeen <= 1);
}

void TestCreateHashWindow::labelAndBarShowTheCurrentFile_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::newRow("plain relative paths") << QStringList({"a.txt", "sub/b.txt", "sub/deeper/c"});
    QTest::newRow("percent signs and non-ASCII appended unchanged")
        << QStringList({"%1.txt", "x/100% \u00e9t\u00e9", "%2%1/\u65e5\u672c"});
}

void TestCreateHashWindow::labelAndBarShowTheCurrentFile()
{
    QFETCH(QStringList, paths);
    CreateHashWindow window;
    window.show();
    QProgressBar *bar = barOf(window);
    window.reportStart(paths.size());
    QCOMPARE(window.value(), 0);
    QCOMPARE(window.minimum(), 0);
    QCOMPARE(window.maximum(), paths.size());

    for (int i = 0; i < paths.size(); ++i) {
        // Files after the first are shown once enough time has passed; the
        // first one is shown at once.
        if (i > 0)
            QTest::qSleep(40);
        window.reportFile(paths.at(i));
        QCOMPARE(window.labelText(), QStringLiteral("Processing ") + paths.at(i));
        QCOMPARE(window.value(), i);
        QCOMPARE(bar->text(), QStringLiteral("%1 / %2").arg(i).arg(paths.size()));
        QCOMPARE(window.announcedFiles(), i + 1);
    }
    window.reportFinish();
    QVERIFY(window.isFinished());
    QVERIFY(!window.isVisible());
}

void TestCreateHashWindow::everyFileIsCountedWhenUpdatesAreSkipped()
{
    CreateHashWindow window;
    window.show();
    const int files = 20000;
    window.reportStart(files);
    for (int i = 0; i < files; ++i)
        window.reportFile(QStringLiteral("f%1").arg(i));
    QCOMPARE(window.announcedFiles(), files);
    // Whatever was shown last, label and bar were changed together.
    const int shown = window.value();
    QVERIFY(shown >= 0 && shown < files);
    QCOMPARE(window.labelText(), QStringLiteral("Processing f%1").arg(shown));

    // A new run starts from zero and shows its first file at once, however
    // recently the previous run changed the label.
    window.reportStart(2);
    QCOMPARE(window.announcedFiles(), 0);
    QCOMPARE(window.hashState(), CreateHashWindow::Running);
    QCOMPARE(window.value(), 0);
    QCOMPARE(window.maximum(), 2);
    window.reportFile(QStringLiteral("first of the second run"));
    QCOMPARE(window.labelText(), QStringLiteral("Processing first of the second run"));
    QCOMPARE(window.announcedFiles(), 1);
}

void TestCreateHashWindow::fileAnnouncedTooSoonIsNamedDuringItsHashing_data()
{
    QTest::addColumn<QStringList>("quickFiles");
    QTest::addColumn<bool>("shownBefore");
    QTest::newRow("one small file, then the long one") << QStringList({"f001", "big.iso"}) << true;
    QTest::newRow("several small files, then the long one")
        << QStringList({"f001", "f002", "f003", "f004", "big.iso"}) << true;
    QTest::newRow("window shows itself during the long one") << QStringList({"f001", "big.iso"}) << false;
}

void TestCreateHashWindow::fileAnnouncedTooSoonIsNamedDuringItsHashing()
{
    QFETCH(QStringList, quickFiles);
    QFETCH(bool, shownBefore);
    CreateHashWindow window;
    if (shownBefore)
        window.show();
    window.reportStart(quickFiles.size() + 1);
    // Back to back, as the engine announces small files: only the first is
    // shown at once.
    for (const QString &file : quickFiles)
        window.reportFile(file);
    if (!shownBefore) {
        QVERIFY(!window.isCanceled());
        window.show();
    }
    // The last one takes long to hash; the engine only asks now and then.
    for (int ask = 0; ask < 2; ++ask) {
        QTest::qSleep(int(CreateHashWindow::idleEventIntervalMs) + 1);
        QVERIFY(!window.isCanceled());
    }
    QCOMPARE(window.labelText(), QStringLiteral("Processing ") + quickFiles.last());
    QCOMPARE(window.value(), quickFiles.size() - 1);
    QCOMPARE(barOf(window)->text(), QStringLiteral("%1 / %2").arg(quickFiles.size() - 1).arg(quickFiles.size() + 1));
}

void TestCreateHashWindow::windowIsWideEnoughForItsTitle_data()
{
    QTest::addColumn<QString>("qmFile");
    QTest::newRow("English") << QString();
    QTest::newRow("German") << QStringLiteral("orvalen_de.qm");
    QTest::newRow("Russian") << QStringLiteral("orvalen_ru.qm");
}

void TestCreateHashWindow::windowIsWideEnoughForItsTitle()
{
    QFETCH(QString, qmFile);
    QTranslator translator;
    if (!qmFile.isEmpty()) {
        const QString path = QStringLiteral(ORVALEN_QM_DIR "/") + qmFile;
        QVERIFY2(translator.load(path), qPrintable(path));
        QCoreApplication::installTranslator(&translator);
    }
    CreateHashWindow window;
    QCoreApplication::removeTranslator(&translator);
    if (!qmFile.isEmpty())
        QVERIFY(window.windowTitle() != QStringLiteral("Hash calculation"));
    window.show();
    // Window managers draw the title in bold, with at least a close, a
    // minimise and a maximise button beside it.
    QFont titleFont = window.font();
    titleFont.setBold(true);
    const int needed = QFontMetrics(titleFont).horizontalAdvance(window.windowTitle())
            + 3 * window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    QVERIFY2(window.width() >= needed, qPrintable(QStringLiteral("%1 < %2").arg(window.width()).arg(needed)));
}

void TestCreateHashWindow::longPathKeepsTheWindowOnTheScreen_data()
{
    QTest::addColumn<bool>("shownBeforeTheLongPath");
    QTest::newRow("path announced while shown") << true;
    QTest::newRow("path announced before the window shows itself") << false;
}

void TestCreateHashWindow::longPathKeepsTheWindowOnTheScreen()
{
    QFETCH(bool, shownBeforeTheLongPath);
    CreateHashWindow window;
    if (shownBeforeTheLongPath)
        window.show();
    window.reportStart(2);
    window.reportFile(QStringLiteral("deeply nested folder/").repeated(30) + QStringLiteral("a.bin"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    const QString off = partsOffScreen(window);
    QVERIFY2(off.isEmpty(), qPrintable(off));
}

void TestCreateHashWindow::clickQueuedAfterTheRunIsIgnored()
{
    CreateHashWindow window;
    window.show();
    QPushButton *cancel = cancelButtonOf(window);
    QVERIFY(cancel);
    BoxCloser closer(&window);
    drive(&window, 3, [&](int i) {
        if (i == 2)
            postClick(cancel);
    });
    QVERIFY(window.isFinished());
    // The window is still alive this time, so the click gets through.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(window.isFinished());
    QCOMPARE(closer.boxes.size(), 0);
}

void TestCreateHashWindow::cancelDuringALongFileStopsTheRun()
{
    CreateHashWindow window;
    window.show();
    QPushButton *cancel = cancelButtonOf(window);
    QVERIFY(cancel);
    BoxCloser closer(&window);
    window.reportStart(2);
    window.reportFile(QStringLiteral("huge.iso"));
    QVERIFY(!window.isCanceled());

    // Hashing the file goes on; the engine asks again now and then, with no
    // new file announced in between.
    postClick(cancel);
    QTest::qSleep(int(CreateHashWindow::idleEventIntervalMs) + 1);
    QVERIFY(window.isCanceled());
    QCOMPARE(window.hashState(), CreateHashWindow::Interrupted);
    QCOMPARE(window.announcedFiles(), 1);
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes.first().title, QStringLiteral("Abort"));
    QCOMPARE(closer.boxes.first().text, QStringLiteral("Interrupted by user"));
    QVERIFY(!window.isVisible());
}

void TestCreateHashWindow::textsUseTheirOwnContext()
{
    ScopedTranslator translator;
    CreateHashWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("CreateHashWindow|Hash calculation"));
    QCOMPARE(barOf(window)->format(), QStringLiteral("%v / %m"));
    BoxCloser closer(&window);
    window.reportStart(2);
    window.reportFile(QStringLiteral("a"));
    QCOMPARE(window.labelText(), QStringLiteral("CreateHashWindow|Processing a"));
    window.cancel();
    window.reportStart(1);
    window.reportError(QStringLiteral("not translated"));
    QCOMPARE(closer.boxes.size(), 2);
    QCOMPARE(closer.boxes.at(0).title, QStringLiteral("CreateHashWindow|Abort"));
    QCOMPARE(closer.boxes.at(0).text, QStringLiteral("CreateHashWindow|Interrupted by user"));
    QCOMPARE(closer.boxes.at(1).title, QStringLiteral("CreateHashWindow|Error"));
    QCOMPARE(closer.boxes.at(1).text, QStringLiteral("not translated"));
}

QTEST_MAIN(TestCreateHashWindow)
#include "tst_createhashwindow.moc"
