#include "checkdbwindow.h"
#include "choosedirwidget.h"
#include "createdbwindow.h"
#include "uitestsupport.h"

#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

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

class TestDBParamWindow : public IniFileTest
{
    Q_OBJECT

private slots:
    void acceptStoresExactlyWhatIsTyped_data();
    void acceptStoresExactlyWhatIsTyped();
    void rejectStoresNothing_data();
    void rejectStoresNothing();
    void openingLoadsStoredPaths_data();
    void openingLoadsStoredPaths();
    void withoutSettingsNothingIsLoadedOrStored();
    void onlyCreateDialogHasFixedHeight_data();
    void onlyCreateDialogHasFixedHeight();
    void enterPressesOk_data();
    void enterPressesOk();
    void tabOrderFollowsVisualOrder_data();
    void tabOrderFollowsVisualOrder();
    void textsUseTheirOwnContexts();
};

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
