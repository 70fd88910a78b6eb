#include "checkdbresult.h"
#include "checkerrtable.h"
#include "compareerr.h"
#include "uitestsupport.h"

#include <QClipboard>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <memory>
#include <vector>

using ErrorList = std::vector<std::unique_ptr<CompareErr>>;

namespace {

const char digest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// kinds: 0 digest differs, 1 new file, 2 file gone.
ErrorList makeErrors(const QList<int> &kinds, const QStringList &paths)
{
    ErrorList errors;
    for (int i = 0; i < kinds.size(); ++i) {
        const std::string path = paths.at(i).toStdString();
        switch (kinds.at(i)) {
        case 0:
            errors.push_back(std::make_unique<CE_HashDiff>(path, std::string(64, 'a'), std::string(64, 'b')));
            break;
        case 1:
            errors.push_back(std::make_unique<CE_NewFile>(path));
            break;
        default:
            errors.push_back(std::make_unique<CE_AbsentFile>(path));
            break;
        }
    }
    return errors;
}

QLabel *labelWithText(const QWidget *parent, const QString &text)
{
    const auto labels = parent->findChildren<QLabel *>();
    for (QLabel *label : labels)
        if (label->text() == text)
            return label;
    return nullptr;
}

QStringList column(const QTableWidget *table, int col)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, col) ? table->item(row, col)->text() : QStringLiteral("<none>"));
    return texts;
}

} // namespace

class TestCheckDBResult : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsTheDiscrepancies_data();
    void showsTheDiscrepancies();
    void cellsCannotBeEdited();
    void recordsAreNotNeededAfterConstruction();
    void setErrorsReplacesEverything();
    void closeAcceptsTheDialog();
    void fitsTheScreenItOpensOn_data();
    void fitsTheScreenItOpensOn();
    void textsUseTheirOwnContexts();
};

void TestCheckDBResult::initTestCase()
{
    Q_INIT_RESOURCE(orvalen);
}

void TestCheckDBResult::showsTheDiscrepancies_data()
{
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("report");

    QTest::newRow("empty list") << QList<int>() << QStringList() << QStringList() << QString();
    QTest::newRow("one of each kind, in list order")
        << QList<int>({0, 1, 2}) << QStringList({"photos/a.jpg", "photos/new.png", "old/gone.txt"})
        << QStringList({"Checksums does not match", "New file", "File not found"})
        << "photos/a.jpg\tChecksums does not match\nphotos/new.png\tNew file\nold/gone.txt\tFile not found\n";
    QTest::newRow("order is the list's, not sorted")
        << QList<int>({2, 1, 2}) << QStringList({"z", "b", "a"})
        << QStringList({"File not found", "New file", "File not found"})
        << "z\tFile not found\nb\tNew file\na\tFile not found\n";
    QTest::newRow("percent signs copied verbatim")
        << QList<int>({1, 2, 0}) << QStringList({"%1", "a%2b%1 100%.txt", "%%1/%L1"})
        << QStringList({"New file", "File not found", "Checksums does not match"})
        << "%1\tNew file\na%2b%1 100%.txt\tFile not found\n%%1/%L1\tChecksums does not match\n";
    QTest::newRow("non-ASCII and blanks kept")
        << QList<int>({1}) << QStringList({" \u00fc dir/\u65e5\u672c.txt "}) << QStringList({"New file"})
        << " \u00fc dir/\u65e5\u672c.txt \tNew file\n";
}

void TestCheckDBResult::showsTheDiscrepancies()
{
    QFETCH(QList<int>, kinds);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, messages);
    QFETCH(QString, report);
    const ErrorList errors = makeErrors(kinds, paths);
    const bool hasErrors = !kinds.isEmpty();

    CheckDBResult dialog(QStringLiteral("sums/%1.sha256"), QString::fromLatin1(digest), errors);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Check results"));

    // The file and digest block is shown whatever the verdict.
    auto *form = dialog.findChild<QFormLayout *>();
    QVERIFY(form);
    QCOMPARE(qobject_cast<QLabel *>(form->itemAt(0, QFormLayout::FieldRole)->widget())->text(),
             QStringLiteral("sums/%1.sha256"));
    QVERIFY(labelWithText(&dialog, QString::fromLatin1(digest)));
    QVERIFY(labelWithText(&dialog, QString::fromLatin1(digest))->isVisible());

    const QString verdict = hasErrors ? QStringLiteral("Following errors were found:")
                                      : QStringLiteral("Check result: no errors");
    QVERIFY(labelWithText(&dialog, verdict));
    QVERIFY(labelWithText(&dialog, verdict)->isVisible());

    auto *table = dialog.findChild<CheckErrTable *>();
    QPushButton *copy = buttonWithText(&dialog, QStringLiteral("Copy report"));
    QVERIFY(table && copy);
    QCOMPARE(table->isVisible(), hasErrors);
    QCOMPARE(copy->isVisible(), hasErrors);
    QVERIFY(buttonWithText(&dialog, QStringLiteral("Close"))->isVisible());

    QCOMPARE(table->columnCount(), 2);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("File"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("Error"));
    QVERIFY(!table->showGrid());
    QCOMPARE(table->rowCount(), kinds.size());
    QCOMPARE(column(table, 0), paths);
    QCOMPARE(column(table, 1), messages);
    QCOMPARE(table->reportText, report);

    if (hasErrors) {
        QGuiApplication::clipboard()->setText(QStringLiteral("old clipboard"));
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), report);
        QCOMPARE(copy->toolTip(), QStringLiteral("Copy to clipboard"));
        QVERIFY(!copy->icon().isNull());
        QCOMPARE(copy->minimumSize(), copy->maximumSize());
    }
}

void TestCheckDBResult::cellsCannotBeEdited()
{
    const ErrorList errors = makeErrors({1, 2}, {QStringLiteral("a"), QStringLiteral("b")});
    CheckDBResult dialog(QStringLiteral("f"), QString::fromLatin1(digest), errors);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *table = dialog.findChild<CheckErrTable *>();
    QVERIFY(table);

    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 2; ++col) {
            const Qt::ItemFlags flags = table->item(row, col)->flags();
            QVERIFY(!(flags & Qt::ItemIsEditable));
            QVERIFY(flags & Qt::ItemIsSelectable);
            QVERIFY(flags & Qt::ItemIsEnabled);
        }
    }

    const QRect cell = table->visualItemRect(table->item(0, 0));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::keyClicks(table, QStringLiteral("xyz"));
    QTest::keyClick(table, Qt::Key_F2);
    QCoreApplication::processEvents();
    const auto editors = table->findChildren<QLineEdit *>();
    for (QLineEdit *editor : editors)
        QVERIFY(!editor->isVisible());
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("a"));
    QVERIFY(table->item(0, 0)->isSelected());
}

void TestCheckDBResult::recordsAreNotNeededAfterConstruction()
{
    ErrorList errors = makeErrors({0, 1}, {QStringLiteral("x/1"), QStringLiteral("x/2")});
    CheckDBResult dialog(QStringLiteral("f"), QString::fromLatin1(digest), errors);
    errors.clear();
    auto *table = dialog.findChild<CheckErrTable *>();
    QVERIFY(table);
    QCOMPARE(column(table, 0), QStringList({QStringLiteral("x/1"), QStringLiteral("x/2")}));
    dialog.show();
    QTest::mouseClick(buttonWithText(&dialog, QStringLiteral("Copy report")), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("x/1\tChecksums does not match\nx/2\tNew file\n"));
}

void TestCheckDBResult::setErrorsReplacesEverything()
{
    CheckErrTable table;
    table.setErrors(makeErrors({1, 1, 1}, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    QCOMPARE(table.rowCount(), 3);
    table.setErrors(makeErrors({2}, {QStringLiteral("d")}));
    QCOMPARE(table.rowCount(), 1);
    QCOMPARE(column(&table, 0), QStringList({QStringLiteral("d")}));
    QCOMPARE(table.reportText, QStringLiteral("d\tFile not found\n"));
    table.setErrors(ErrorList());
    QCOMPARE(table.rowCount(), 0);
    QCOMPARE(table.reportText, QString());
}

void TestCheckDBResult::closeAcceptsTheDialog()
{
    const ErrorList errors = makeErrors({1}, {QStringLiteral("a")});
    CheckDBResult dialog(QStringLiteral("f"), QString::fromLatin1(digest), errors);
    QPushButton *close = buttonWithText(&dialog, QStringLiteral("Close"));
    QVERIFY(close);
    QTimer::singleShot(0, close, [close] { QTest::mouseClick(close, Qt::LeftButton); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
}

void TestCheckDBResult::fitsTheScreenItOpensOn_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<int>>("kinds");
    const QString longPath =
            QStringLiteral("/srv/") + QStringLiteral("deeply nested folder/").repeated(20) + QStringLiteral("a.sha256");
    // Wider than the screen only at a large scale factor.
    QTest::newRow("short path, discrepancies") << QStringLiteral("/srv/a.sha256") << QList<int>({0, 1, 2});
    QTest::newRow("path wider than any screen, no discrepancy") << longPath << QList<int>();
    QTest::newRow("path wider than any screen, discrepancies") << longPath << QList<int>({0, 1, 2});
}

void TestCheckDBResult::fitsTheScreenItOpensOn()
{
    QFETCH(QString, file);
    QFETCH(QList<int>, kinds);
    QStringList paths;
    for (int i = 0; i < kinds.size(); ++i)
        paths << QStringLiteral("folder/file %1.txt").arg(i);
    CheckDBResult dialog(file, QString::fromLatin1(digest), makeErrors(kinds, paths));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QString off = partsOffScreen(dialog);
    QVERIFY2(off.isEmpty(), qPrintable(off));
}

void TestCheckDBResult::textsUseTheirOwnContexts()
{
    ScopedTranslator translator;
    const ErrorList errors = makeErrors({1, 2}, {QStringLiteral("n"), QStringLiteral("g")});
    CheckDBResult dialog(QStringLiteral("f"), QString::fromLatin1(digest), errors);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("CheckDBResult|Check results"));
    QVERIFY(labelWithText(&dialog, QStringLiteral("CheckDBResult|Following errors were found:")));
    QPushButton *copy = buttonWithText(&dialog, QStringLiteral("CheckDBResult|Copy report"));
    QVERIFY(copy);
    QCOMPARE(copy->toolTip(), QStringLiteral("CheckDBResult|Copy to clipboard"));
    QVERIFY(buttonWithText(&dialog, QStringLiteral("CheckDBResult|Close")));
    auto *table = dialog.findChild<CheckErrTable *>();
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("CheckErrTable|File"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("CheckErrTable|Error"));
    // The report follows the translated messages and carries no header line.
    QCOMPARE(table->reportText, QStringLiteral("n\tQObject|New file\ng\tQObject|File not found\n"));

    const ErrorList none;
    CheckDBResult clean(QStringLiteral("f"), QString::fromLatin1(digest), none);
    QVERIFY(labelWithText(&clean, QStringLiteral("CheckDBResult|Check result: no errors")));
}

QTEST_MAIN(TestCheckDBResult)
#include "tst_checkdbresult.moc"
