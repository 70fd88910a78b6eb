#include "checkdbwindow.h"
#include "choosedirwidget.h"
#include "createdbwindow.h"
#include "qtcompat.h"
#include "settingsfile.h"
#include "uitestsupport.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include <sys/stat.h>

namespace {

std::unique_ptr<DBParamWindow> makeDialog(const QString &kind)
{
    if (kind == QLatin1String("create"))
        return std::make_unique<CreateDBWindow>(nullptr);
    return std::make_unique<CheckDBWindow>(nullptr);
}

ChooseDirWidget *rowWithCaption(const QWidget *dialog, const QString &caption)
{
    const auto rows = dialog->findChildren<ChooseDirWidget *>();
    for (ChooseDirWidget *row : rows) {
        const auto labels = row->findChildren<QLabel *>();
        for (QLabel *label : labels)
            if (label->text() == caption)
                return row;
    }
    return nullptr;
}

QLineEdit *editOf(const ChooseDirWidget *row)
{
    return row->findChild<QLineEdit *>();
}

QPushButton *browseOf(const ChooseDirWidget *row)
{
    return row->findChild<QPushButton *>();
}

// What a stored path looks like in a field on this platform.
QString native(QString path)
{
#ifdef Q_OS_WIN
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
#endif
    return path;
}

// A path no QSettings has seen, holding a copy of the file if there is one.
// QSettings keeps what it read of a file and reads it again only when its
// size or time has changed, which a rewrite of the same length within the
// same millisecond does not show; each look through a copy of its own sees
// the file as it is.
QString freshCopyOf(const QString &path)
{
    static int copies = 0;
    const QString copy = QStringLiteral("%1.copy%2").arg(path).arg(++copies);
    QFile::copy(path, copy);
    return copy;
}

std::unique_ptr<QSettings> freshIni(const QString &path)
{
    auto ini = std::make_unique<QSettings>(freshCopyOf(path), QSettings::IniFormat);
    QtCompat::useUtf8Ini(*ini);
    return ini;
}

// Opens the dialog modally and runs `whileOpen` inside its event loop; the
// dialog is rejected afterwards if `whileOpen` left it open.
int execWith(DBParamWindow &dialog, const std::function<void()> &whileOpen)
{
    QTimer::singleShot(0, &dialog, [&dialog, whileOpen] {
        whileOpen();
        if (dialog.isVisible())
            dialog.reject();
    });
    return dialog.exec();
}

// Types key by key; QTest::keyClicks knows only ASCII, so each character
// goes in as a key event that carries its text.
void typeInto(QLineEdit *edit, const QString &text)
{
    edit->clear();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(edit, &press);
        QCoreApplication::sendEvent(edit, &release);
    }
}

} // namespace

class TestDBParamWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void acceptStoresExactlyWhatIsTyped_data();
    void acceptStoresExactlyWhatIsTyped();
    void rejectStoresNothing_data();
    void rejectStoresNothing();
    void openingLoadsStoredPaths_data();
    void openingLoadsStoredPaths();
    void withoutSettingsNothingIsLoadedOrStored();
    void browseOpensTheRightChooser_data();
    void browseOpensTheRightChooser();
    void browseChoiceIsShownInField_data();
    void browseChoiceIsShownInField();
    void chosenFilterIsRemembered();
    void withoutAStandInTheChooserIsShown();
    void onlyCreateDialogHasFixedHeight_data();
    void onlyCreateDialogHasFixedHeight();
    void enterPressesOk_data();
    void enterPressesOk();
    void tabOrderFollowsVisualOrder_data();
    void tabOrderFollowsVisualOrder();
    void textsUseTheirOwnContexts();
    void valuesTravelBothWaysWithQSettings_data();
    void valuesTravelBothWaysWithQSettings();
    void pathsAreKeptWhereTheUserCanWrite_data();
    void pathsAreKeptWhereTheUserCanWrite();

private:
    // Values are put in and read back with QSettings, which must read what
    // the dialogs store, and the other way round.
    void store(const QString &key, const QVariant &value);
    std::unique_ptr<QSettings> stored() const;

    std::unique_ptr<QTemporaryDir> dir;
    QString iniPath;
    std::unique_ptr<SettingsFile> settings;
};

void TestDBParamWindow::store(const QString &key, const QVariant &value)
{
    const QString copy = freshCopyOf(iniPath);
    {
        QSettings ini(copy, QSettings::IniFormat);
        QtCompat::useUtf8Ini(ini);
        ini.setValue(key, value);
    }
    QFile::remove(iniPath);
    QVERIFY(QFile::rename(copy, iniPath));
}

std::unique_ptr<QSettings> TestDBParamWindow::stored() const
{
    return freshIni(iniPath);
}

void TestDBParamWindow::valuesTravelBothWaysWithQSettings_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes and backslashes") << QStringLiteral("C:\\dir\\\"q\".sha256");
    QTest::newRow("comma, semicolon and equals sign") << QStringLiteral("/a,b;c=d");
    QTest::newRow("blanks around") << QStringLiteral("  /padded  ");
    QTest::newRow("tab, line feed, control byte before a hex digit") << QStringLiteral("/a\tb\nc\x01""f");
    QTest::newRow("starts with an at sign like an encoded value") << QStringLiteral("@Variant(x)");
    QTest::newRow("non-ASCII, beyond the BMP too") << QString::fromUtf8("/\xC3\xBC/\xE6\x97\xA5/\xF0\x9D\x84\x9E");
    QTest::newRow("empty") << QString();
}

void TestDBParamWindow::valuesTravelBothWaysWithQSettings()
{
    QFETCH(QString, value);
    store(QStringLiteral("Other/Kept"), QStringLiteral("a, b"));
    store(QStringLiteral("Alpha"), QStringLiteral("kept too"));

    QVERIFY(settings->setValues({{QStringLiteral("SourceDirectory"), value}}));
    QCOMPARE(stored()->value(QStringLiteral("SourceDirectory")).toString(), value);
    QCOMPARE(stored()->value(QStringLiteral("Other/Kept")).toString(), QStringLiteral("a, b"));
    QCOMPARE(stored()->value(QStringLiteral("Alpha")).toString(), QStringLiteral("kept too"));

    store(QStringLiteral("ChecksumFile"), value);
    QCOMPARE(settings->value(QStringLiteral("ChecksumFile")), value);
}

void TestDBParamWindow::pathsAreKeptWhereTheUserCanWrite_data()
{
    QTest::addColumn<bool>("unprivileged");
    QTest::newRow("root: the system-wide file") << false;
    QTest::newRow("nobody: the user's own file") << true;
}

void TestDBParamWindow::pathsAreKeptWhereTheUserCanWrite()
{
    QFETCH(bool, unprivileged);
    // An administrator's preset, which nobody may read but not change.
    const QString systemIni = dir->filePath(QStringLiteral("system/Varnock/Orvalen.ini"));
    const QString userIni = dir->filePath(QStringLiteral("user/Varnock/Orvalen.ini"));
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("system/Varnock"))));
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("user"))));
    QSettings(systemIni, QSettings::IniFormat).setValue(QStringLiteral("SourceDirectory"), QStringLiteral("/preset"));
    QSettings(systemIni, QSettings::IniFormat).setValue(QStringLiteral("ChecksumFile"), QStringLiteral("/preset.sha256"));
    QVERIFY(::chmod(QFile::encodeName(dir->path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir->filePath(QStringLiteral("user"))).constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(systemIni).constData(), unprivileged ? 0444 : 0644) == 0);
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, dir->filePath(QStringLiteral("system")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir->filePath(QStringLiteral("user")));

    // One run stores a path, the next one reads both back.
    const auto twoRuns = []() {
        std::unique_ptr<SettingsFile>(SettingsFile::openApplicationSettings(nullptr))
                ->setValues({{QStringLiteral("ChecksumFile"), QStringLiteral("/chosen.sha256")}});
        std::unique_ptr<SettingsFile> next(SettingsFile::openApplicationSettings(nullptr));
        return (next->value(QStringLiteral("SourceDirectory")) + QLatin1Char('|')
                + next->value(QStringLiteral("ChecksumFile"))).toUtf8();
    };
    const QByteArray seen = unprivileged ? asUnprivileged(twoRuns) : twoRuns();
    if (seen.isNull())
        QSKIP("cannot run as an unprivileged user here");
    QCOMPARE(seen, QByteArray("/preset|/chosen.sha256"));
    QCOMPARE(freshIni(systemIni)->value(QStringLiteral("ChecksumFile")).toString(),
             unprivileged ? QStringLiteral("/preset.sha256") : QStringLiteral("/chosen.sha256"));
    QCOMPARE(freshIni(userIni)->allKeys(),
             unprivileged ? QStringList{QStringLiteral("ChecksumFile")} : QStringList());
}

void TestDBParamWindow::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    iniPath = dir->filePath(QStringLiteral("orvalen.ini"));
    settings = std::make_unique<SettingsFile>(iniPath, QStringList{iniPath});
}

void TestDBParamWindow::cleanup()
{
    settings.reset();
    dir.reset();
}

void TestDBParamWindow::acceptStoresExactlyWhatIsTyped_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("sums");
    QTest::newRow("create, absolute paths") << "create" << "/home/ann/photos" << "/home/ann/photos.sha256";
    QTest::newRow("verify, relative paths with blanks") << "check" << "my docs/2020" << "sums file.sha256";
    QTest::newRow("create, percent signs and non-ASCII") << "create" << "/tmp/%1 100% \u00fc" << "/tmp/\u03a9mega%2.sha256";
    QTest::newRow("verify, backslashes kept as typed") << "check" << "C:\\data\\x" << "..\\sums.sha256";
    QTest::newRow("create, both fields empty") << "create" << "" << "";
    QTest::newRow("verify, surrounding blanks kept") << "check" << " /a " << "b ";
    QTest::newRow("create, path that does not exist") << "create" << "/no/such/dir" << "/no/such/dir/x.sha256";
}

void TestDBParamWindow::acceptStoresExactlyWhatIsTyped()
{
    QFETCH(QString, kind);
    QFETCH(QString, source);
    QFETCH(QString, sums);
    store(QStringLiteral("SourceDirectory"), QStringLiteral("/old/source"));
    store(QStringLiteral("ChecksumFile"), QStringLiteral("/old/sums.sha256"));

    auto dialog = makeDialog(kind);
    dialog->setSettings(settings.get());
    ChooseDirWidget *sourceRow = rowWithCaption(dialog.get(), QStringLiteral("Source directory"));
    ChooseDirWidget *sumsRow = rowWithCaption(dialog.get(), QStringLiteral("Checksums file"));
    QPushButton *ok = buttonWithText(dialog.get(), QStringLiteral("Ok"));
    QVERIFY(sourceRow && sumsRow && ok);
    QSignalSpy accepted(dialog.get(), &QDialog::accepted);

    const int result = execWith(*dialog, [&] {
        typeInto(editOf(sourceRow), source);
        typeInto(editOf(sumsRow), sums);
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(dialog->sourceDirectory(), source);
    QCOMPARE(dialog->checksumFile(), sums);

    QCOMPARE(stored()->value(QStringLiteral("SourceDirectory")).toString(), source);
    QCOMPARE(stored()->value(QStringLiteral("ChecksumFile")).toString(), sums);

    // The next opening shows what was stored, valid or not.
    QString shownSource, shownSums;
    execWith(*dialog, [&] {
        shownSource = editOf(sourceRow)->text();
        shownSums = editOf(sumsRow)->text();
    });
    QCOMPARE(shownSource, native(source));
    QCOMPARE(shownSums, native(sums));
}

void TestDBParamWindow::rejectStoresNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("create dialog") << "create";
    QTest::newRow("verify dialog") << "check";
}

void TestDBParamWindow::rejectStoresNothing()
{
    QFETCH(QString, kind);
    const QString storedSource = QStringLiteral("/srv/tree");
    const QString storedSums = QStringLiteral("/srv/tree.sha256");
    store(QStringLiteral("SourceDirectory"), storedSource);
    store(QStringLiteral("ChecksumFile"), storedSums);

    auto dialog = makeDialog(kind);
    dialog->setSettings(settings.get());
    ChooseDirWidget *sourceRow = rowWithCaption(dialog.get(), QStringLiteral("Source directory"));
    ChooseDirWidget *sumsRow = rowWithCaption(dialog.get(), QStringLiteral("Checksums file"));
    QPushButton *cancel = buttonWithText(dialog.get(), QStringLiteral("Cancel"));
    QVERIFY(sourceRow && sumsRow && cancel);
    QSignalSpy accepted(dialog.get(), &QDialog::accepted);
    QSignalSpy rejected(dialog.get(), &QDialog::rejected);

    const int result = execWith(*dialog, [&] {
        typeInto(editOf(sourceRow), QStringLiteral("/typed/then/cancelled"));
        typeInto(editOf(sumsRow), QStringLiteral("cancelled.sha256"));
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(accepted.count(), 0);
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(stored()->value(QStringLiteral("SourceDirectory")).toString(), storedSource);
    QCOMPARE(stored()->value(QStringLiteral("ChecksumFile")).toString(), storedSums);

    QString shownSource, shownSums;
    execWith(*dialog, [&] {
        shownSource = editOf(sourceRow)->text();
        shownSums = editOf(sumsRow)->text();
    });
    QCOMPARE(shownSource, native(storedSource));
    QCOMPARE(shownSums, native(storedSums));
}

void TestDBParamWindow::openingLoadsStoredPaths_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("storedSource");
    QTest::addColumn<QVariant>("storedSums");
    QTest::addColumn<QString>("shownSource");
    QTest::addColumn<QString>("shownSums");
    QTest::newRow("create, forward slashes in native form")
        << "create" << QVariant(QStringLiteral("/data/photos")) << QVariant(QStringLiteral("/data/p.sha256"))
        << native(QStringLiteral("/data/photos")) << native(QStringLiteral("/data/p.sha256"));
    QTest::newRow("verify, drive-letter style path")
        << "check" << QVariant(QStringLiteral("C:/Data/sub")) << QVariant(QStringLiteral("C:/Data/sub.sha256"))
        << native(QStringLiteral("C:/Data/sub")) << native(QStringLiteral("C:/Data/sub.sha256"));
    // Left-overs from an earlier opening must not survive a missing key.
    QTest::newRow("create, first opening: nothing stored")
        << "create" << QVariant() << QVariant() << QString() << QString();
    QTest::newRow("verify, first opening: nothing stored")
        << "check" << QVariant() << QVariant() << QString() << QString();
    QTest::newRow("verify, only the source stored")
        << "check" << QVariant(QStringLiteral("/only/source")) << QVariant()
        << native(QStringLiteral("/only/source")) << QString();
}

void TestDBParamWindow::openingLoadsStoredPaths()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, storedSource);
    QFETCH(QVariant, storedSums);
    QFETCH(QString, shownSource);
    QFETCH(QString, shownSums);
    if (storedSource.isValid())
        store(QStringLiteral("SourceDirectory"), storedSource);
    if (storedSums.isValid())
        store(QStringLiteral("ChecksumFile"), storedSums);

    auto dialog = makeDialog(kind);
    dialog->setSettings(settings.get());
    ChooseDirWidget *sourceRow = rowWithCaption(dialog.get(), QStringLiteral("Source directory"));
    ChooseDirWidget *sumsRow = rowWithCaption(dialog.get(), QStringLiteral("Checksums file"));
    QVERIFY(sourceRow && sumsRow);
    editOf(sourceRow)->setText(QStringLiteral("stale"));
    editOf(sumsRow)->setText(QStringLiteral("stale too"));

    QString seenSource, seenSums;
    const int result = execWith(*dialog, [&] {
        seenSource = editOf(sourceRow)->text();
        seenSums = editOf(sumsRow)->text();
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(seenSource, shownSource);
    QCOMPARE(seenSums, shownSums);
    QCOMPARE(dialog->sourceDirectory(), shownSource);
    QCOMPARE(stored()->contains(QStringLiteral("SourceDirectory")), storedSource.isValid());
    QCOMPARE(stored()->contains(QStringLiteral("ChecksumFile")), storedSums.isValid());
}

void TestDBParamWindow::withoutSettingsNothingIsLoadedOrStored()
{
    CheckDBWindow dialog(nullptr);
    ChooseDirWidget *sourceRow = rowWithCaption(&dialog, QStringLiteral("Source directory"));
    QPushButton *ok = buttonWithText(&dialog, QStringLiteral("Ok"));
    QVERIFY(sourceRow && ok);
    editOf(sourceRow)->setText(QStringLiteral("/kept"));

    QString seen;
    const int result = execWith(dialog, [&] {
        seen = editOf(sourceRow)->text();
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(seen, QStringLiteral("/kept"));
    QCOMPARE(dialog.sourceDirectory(), QStringLiteral("/kept"));
    QVERIFY(stored()->allKeys().isEmpty());
}

void TestDBParamWindow::browseOpensTheRightChooser_data()
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

void TestDBParamWindow::browseOpensTheRightChooser()
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

void TestDBParamWindow::browseChoiceIsShownInField_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("create, a directory") << "create" << "Source directory" << "tree/sub";
    QTest::newRow("create, a new checksums file") << "create" << "Checksums file" << "new.sha256";
    QTest::newRow("verify, an existing checksums file") << "check" << "Checksums file" << "old.sha256";
}

void TestDBParamWindow::browseChoiceIsShownInField()
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

void TestDBParamWindow::chosenFilterIsRemembered()
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

void TestDBParamWindow::withoutAStandInTheChooserIsShown()
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

void TestDBParamWindow::onlyCreateDialogHasFixedHeight_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("fixedHeight");
    QTest::newRow("create dialog: fixed height") << "create" << true;
    QTest::newRow("verify dialog: free height") << "check" << false;
}

void TestDBParamWindow::onlyCreateDialogHasFixedHeight()
{
    QFETCH(QString, kind);
    QFETCH(bool, fixedHeight);
    auto dialog = makeDialog(kind);
    QCOMPARE(dialog->minimumHeight() == dialog->maximumHeight(), fixedHeight);
    QCOMPARE(dialog->maximumWidth(), QWIDGETSIZE_MAX);

    dialog->show();
    QPushButton *ok = buttonWithText(dialog.get(), QStringLiteral("Ok"));
    QVERIFY(ok);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const int height = dialog->height();
    const int okTop = ok->mapTo(dialog.get(), QPoint(0, 0)).y();
    dialog->resize(dialog->width() + 200, height + 200);
    QCoreApplication::processEvents();
    QCOMPARE(dialog->height(), fixedHeight ? height : height + 200);
    // Extra height goes below the buttons; the rows and buttons keep their place.
    QCOMPARE(ok->mapTo(dialog.get(), QPoint(0, 0)).y(), okTop);
}

void TestDBParamWindow::enterPressesOk_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("row");
    QTest::newRow("create, Enter in the source field") << "create" << "Source directory";
    QTest::newRow("create, Enter in the checksums field") << "create" << "Checksums file";
    QTest::newRow("verify, Enter in the source field") << "check" << "Source directory";
    QTest::newRow("verify, Enter in the checksums field") << "check" << "Checksums file";
}

void TestDBParamWindow::enterPressesOk()
{
    QFETCH(QString, kind);
    QFETCH(QString, row);
    auto dialog = makeDialog(kind);
    dialog->setSettings(settings.get());
    ChooseDirWidget *field = rowWithCaption(dialog.get(), row);
    QVERIFY(field);
    ChooserStandIn user({rowWithCaption(dialog.get(), QStringLiteral("Source directory")),
                         rowWithCaption(dialog.get(), QStringLiteral("Checksums file"))},
                        [](QFileDialog &) { return QString(); });

    const int result = execWith(*dialog, [&] {
        editOf(field)->setFocus();
        typeInto(editOf(field), QStringLiteral("/typed"));
        QTest::keyClick(editOf(field), Qt::Key_Return);
    });
    QVERIFY2(user.opened == 0, "Enter opened a file chooser");
    QCOMPARE(result, int(QDialog::Accepted));
    const QString key = row == QLatin1String("Source directory") ? QStringLiteral("SourceDirectory")
                                                                  : QStringLiteral("ChecksumFile");
    QCOMPARE(stored()->value(key).toString(), QStringLiteral("/typed"));
}

void TestDBParamWindow::tabOrderFollowsVisualOrder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("create dialog") << "create";
    QTest::newRow("verify dialog") << "check";
}

void TestDBParamWindow::tabOrderFollowsVisualOrder()
{
    QFETCH(QString, kind);
    auto dialog = makeDialog(kind);
    ChooseDirWidget *sourceRow = rowWithCaption(dialog.get(), QStringLiteral("Source directory"));
    ChooseDirWidget *sumsRow = rowWithCaption(dialog.get(), QStringLiteral("Checksums file"));
    QVERIFY(sourceRow && sumsRow);
    const QList<QWidget *> expected = {editOf(sourceRow), browseOf(sourceRow), editOf(sumsRow), browseOf(sumsRow),
                                       buttonWithText(dialog.get(), QStringLiteral("Ok")),
                                       buttonWithText(dialog.get(), QStringLiteral("Cancel"))};

    // The dialog's own focus widget is followed, so the walk does not depend
    // on a window manager making the dialog active.
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    editOf(sourceRow)->setFocus();
    QList<QWidget *> visited = {dialog->focusWidget()};
    for (int i = 1; i < expected.size() + 1; ++i) {
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        visited.append(dialog->focusWidget());
    }
    // One more Tab wraps around to the first field.
    QCOMPARE(visited.takeLast(), expected.first());
    QCOMPARE(visited, expected);
}

void TestDBParamWindow::textsUseTheirOwnContexts()
{
    ScopedTranslator translator;
    CreateDBWindow create(nullptr);
    CheckDBWindow check(nullptr);
    QCOMPARE(create.windowTitle(), QStringLiteral("CreateDBWindow|Create checksums"));
    QCOMPARE(check.windowTitle(), QStringLiteral("CheckDBWindow|Verify checksums"));
    QVERIFY(buttonWithText(&create, QStringLiteral("DBParamWindow|Ok")));
    QVERIFY(buttonWithText(&check, QStringLiteral("DBParamWindow|Cancel")));
    ChooseDirWidget *source = rowWithCaption(&check, QStringLiteral("DBParamWindow|Source directory"));
    ChooseDirWidget *sums = rowWithCaption(&check, QStringLiteral("DBParamWindow|Checksums file"));
    QVERIFY(source && sums);
    QCOMPARE(sums->filter, QStringLiteral("DBParamWindow|All files (*);;SHA256 (*.sha256)"));
    QCOMPARE(sums->selectedFilter, QStringLiteral("DBParamWindow|SHA256 (*.sha256)"));
    QVERIFY(source->filter.isEmpty());
    QVERIFY(source->selectedFilter.isEmpty());

    check.show();
    QStringList titles;
    ChooserStandIn user({source, sums}, [&](QFileDialog &fd) {
        titles << fd.windowTitle();
        return QString();
    });
    for (ChooseDirWidget *row : {source, sums})
        QTest::mouseClick(browseOf(row), Qt::LeftButton);
    QCOMPARE(titles, QStringList({QStringLiteral("ChooseDirWidget|Choose directory"),
                                  QStringLiteral("ChooseDirWidget|Choose file")}));
}

QTEST_MAIN(TestDBParamWindow)
#include "tst_dbparamwindow.moc"
