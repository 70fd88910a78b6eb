#include "mainwindowtest.h"

#include "hashtools.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QtTest>

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
// it once the progress window is up: sparse files of 256 MiB before it, so
// that no hasher reaches the last file for a good tenth of a second however
// fast the machine. That holds only while every hasher has a large file in
// hand when the last file's turn comes. Near the end of the list a hasher
// claims half of the files left, so the window's scan runs two hashers, and
// three large files keep one claim from taking them all and leaving the
// other hasher free. The large files lie in a folder of their own: a hasher
// opens the files of a run that share a folder together, before it reads
// the first.
void holdBackLastFile(const QString &root, MainWindow &window)
{
    auto *tools = window.findChild<HashTools *>();
    QVERIFY(tools);
    tools->setJobs(2);
    QVERIFY(QDir().mkpath(root + QStringLiteral("/zy")));
    for (int i = 0; i < 3; ++i) {
        QFile big(QStringLiteral("%1/zy/big%2.bin").arg(root).arg(i));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(256LL * 1024 * 1024));
    }
}

// The window is up before the listing ends, and the scan takes in events
// while it waits for the listing, so the window alone does not say that a
// file was listed. Its maximum does: the scan sets it to the count of files
// once the listing is complete.
GuiDriver::Finder progressOnceListed(const QString &root)
{
    int files = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++files;
    }
    return [files]() -> QWidget * {
        auto *progress = qobject_cast<QProgressDialog *>(GuiDriver::topLevelOf("QProgressDialog"));
        return progress && progress->maximum() == files ? progress : nullptr;
    };
}

void MainWindowTest::initTestCase()
{
    Q_INIT_RESOURCE(orvalen);
    startDir = QDir::currentPath();
}

void MainWindowTest::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(settingsDir->isValid());
    QVERIFY(work->isValid());
    // The window's settings are system-wide; every test gets its own file.
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsDir->path());
    root = work->path();
}

void MainWindowTest::cleanup()
{
    QDir::setCurrent(startDir);
    work.reset();
    settingsDir.reset();
}

void MainWindowTest::runJob(MainWindow &window, const QString &button, GuiDriver &driver)
{
    QAbstractButton *jobButton = mainButton(window, button);
    QVERIFY2(jobButton, qPrintable(button));
    driver.start();
    jobButton->click();
    driver.stop();
    QVERIFY2(driver.failures.isEmpty(), qPrintable(driver.failures.join(QStringLiteral("; "))));
}
