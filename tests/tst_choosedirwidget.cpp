// A parameter dialog's path rows: the chooser each row opens, and what the
// row takes from it.

#include "checkdbwindow.h"
#include "choosedirwidget.h"
#include "createdbwindow.h"
#include "uitestsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

class TestChooseDirWidget : public IniFileTest
{
    Q_OBJECT

private slots:
    void browseOpensTheRightChooser_data();
    void browseOpensTheRightChooser();
    void browseChoiceIsShownInField_data();
    void browseChoiceIsShownInField();
    void chosenFilterIsRemembered();
    void withoutAStandInTheChooserIsShown();
};

void TestChooseDirWidget::browseOpensTheRightChooser_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("start");  // in the test's folder; "" for the folder itself
    QTest::addColumn<bool>("directory");
    QTest::addColumn<int>("acceptMode");
    QTest::addColumn<QString>("title");
    QTest::newRow("create, source row: directory chooser")
        << "create" << "Source directory" << "start" << true << int(QFileDialog::AcceptOpen) << "Choose directory";
    QTest::newRow("create, checksums row: save dialog")
        << "create" << "Checksums file" << "start" << false << int(QFileDialog::AcceptSave) << "Choose file";
    QTest::newRow("verify, source row: directory chooser")
        << "check" << "Source directory" << "start" << true << int(QFileDialog::AcceptOpen) << "Choose directory";
    QTest::newRow("verify, checksums row: open dialog")
        << "check" << "Checksums file" << "start" << false << int(QFileDialog::AcceptOpen) << "Choose file";
    QTest::newRow("verify, checksums row holding a file: its folder, its name")
        << "check" << "Checksums file" << "start/old.sha256" << false << int(QFileDialog::AcceptOpen) << "Choose file";
    QTest::newRow("create, checksums row holding a new file: its folder, its name")
        << "create" << "Checksums file" << "start/new.sha256" << false << int(QFileDialog::AcceptSave) << "Choose file";
}

void TestChooseDirWidget::browseOpensTheRightChooser()
{
    QFETCH(QString, kind);
    QFETCH(QString, row);
    QFETCH(QString, start);
    QFETCH(bool, directory);
    QFETCH(int, acceptMode);
    QFETCH(QString, title);

    auto dialog = makeDialog(kind);
    ChooseDirWidget *chooser = rowWithCaption(dialog.get(), row);
    QVERIFY(chooser);
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("start")));
    QFile existing(dir->filePath(QStringLiteral("start/old.sha256")));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    const QString startPath = dir->filePath(start);
    const QString startDir = dir->filePath(QStringLiteral("start"));
    editOf(chooser)->setText(startPath);
    dialog->show();

    QString seenTitle, seenSelectedFilter;
    QStringList seenFilters, seenSelection;
    int seenAcceptMode = -1;
    bool dirsOnly = false, directoryMode = false;
    QString seenDirectory;
    QWidget *seenParent = nullptr;
    ChooserStandIn user({chooser}, [&](QFileDialog &fd) {
        seenTitle = fd.windowTitle();
        seenAcceptMode = fd.acceptMode();
        dirsOnly = fd.testOption(QFileDialog::ShowDirsOnly);
        directoryMode = fd.fileMode() != QFileDialog::AnyFile && fd.fileMode() != QFileDialog::ExistingFile
                        && fd.fileMode() != QFileDialog::ExistingFiles;
        seenFilters = fd.nameFilters();
        seenSelectedFilter = fd.selectedNameFilter();
        seenDirectory = fd.directory().absolutePath();
        seenSelection = fd.selectedFiles();
        seenParent = fd.parentWidget();
        return QString();
    });
    QTest::mouseClick(browseOf(chooser), Qt::LeftButton);

    QCOMPARE(user.opened, 1);
    QCOMPARE(seenTitle, title);
    QCOMPARE(seenAcceptMode, acceptMode);
    QCOMPARE(seenParent, static_cast<QWidget *>(chooser));
    QCOMPARE(seenDirectory, startDir);
    QCOMPARE(directoryMode, directory);
    QCOMPARE(dirsOnly, directory);
    if (!directory) {
        QCOMPARE(seenFilters, QStringList({QStringLiteral("All files (*)"), QStringLiteral("SHA256 (*.sha256)")}));
        QCOMPARE(seenSelectedFilter, QStringLiteral("SHA256 (*.sha256)"));
    }
    if (startPath != startDir)
        QCOMPARE(seenSelection, QStringList{startPath});
    // Cancelling the chooser leaves the field alone.
    QCOMPARE(editOf(chooser)->text(), startPath);
}

void TestChooseDirWidget::browseChoiceIsShownInField_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("create, a directory") << "create" << "Source directory" << "tree/sub";
    QTest::newRow("create, a new checksums file") << "create" << "Checksums file" << "new.sha256";
    QTest::newRow("verify, an existing checksums file") << "check" << "Checksums file" << "old.sha256";
}

void TestChooseDirWidget::browseChoiceIsShownInField()
{
    QFETCH(QString, kind);
    QFETCH(QString, row);
    QFETCH(QString, chosen);
    const QString target = dir->filePath(chosen);

    auto dialog = makeDialog(kind);
    ChooseDirWidget *chooser = rowWithCaption(dialog.get(), row);
    QVERIFY(chooser);
    editOf(chooser)->setText(dir->path());
    dialog->show();

    ChooserStandIn user({chooser}, [&](QFileDialog &) { return target; });
    QTest::mouseClick(browseOf(chooser), Qt::LeftButton);
    QCOMPARE(user.opened, 1);
    QCOMPARE(editOf(chooser)->text(), native(target));
    QCOMPARE(chooser->path(), native(target));
}

void TestChooseDirWidget::chosenFilterIsRemembered()
{
    const QString chosen = dir->filePath(QStringLiteral("list.txt"));

    CheckDBWindow dialog(nullptr);
    ChooseDirWidget *chooser = rowWithCaption(&dialog, QStringLiteral("Checksums file"));
    QVERIFY(chooser);
    editOf(chooser)->setText(dir->path());
    dialog.show();

    {
        ChooserStandIn user({chooser}, [&](QFileDialog &fd) {
            fd.selectNameFilter(QStringLiteral("All files (*)"));
            return chosen;
        });
        QTest::mouseClick(browseOf(chooser), Qt::LeftButton);
        QCOMPARE(user.opened, 1);
    }
    QCOMPARE(chooser->selectedFilter, QStringLiteral("All files (*)"));
    QCOMPARE(chooser->path(), native(chosen));

    // A cancelled chooser keeps the earlier choice of filter, whatever was
    // picked in it.
    QString preselected;
    {
        ChooserStandIn user({chooser}, [&](QFileDialog &fd) {
            preselected = fd.selectedNameFilter();
            fd.selectNameFilter(QStringLiteral("SHA256 (*.sha256)"));
            return QString();
        });
        QTest::mouseClick(browseOf(chooser), Qt::LeftButton);
        QCOMPARE(user.opened, 1);
    }
    QCOMPARE(preselected, QStringLiteral("All files (*)"));
    QCOMPARE(chooser->selectedFilter, QStringLiteral("All files (*)"));
}

void TestChooseDirWidget::withoutAStandInTheChooserIsShown()
{
    CreateDBWindow dialog(nullptr);
    ChooseDirWidget *chooser = rowWithCaption(&dialog, QStringLiteral("Checksums file"));
    QVERIFY(chooser);
    editOf(chooser)->setText(dir->path());
    dialog.show();

    // Only cancelled: what a shown chooser answers depends on its focus and
    // on its listing of the folder, which the stand-in above leaves out.
    QString seen;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &dialog, [&] {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            auto *fd = qobject_cast<QFileDialog *>(w);
            if (fd && fd->isVisible()) {
                poll.stop();
                seen = fd->windowTitle() + QLatin1Char('|') + QString::number(fd->isModal());
                fd->reject();
            }
        }
    });
    poll.start(5);
    QTest::mouseClick(browseOf(chooser), Qt::LeftButton);
    QCOMPARE(seen, QStringLiteral("Choose file|1"));
    QCOMPARE(chooser->path(), dir->path());
}

QTEST_MAIN(TestChooseDirWidget)
#include "tst_choosedirwidget.moc"
