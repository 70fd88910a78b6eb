#include "creationdbresult.h"
#include "dbhashwidget.h"
#include "uitestsupport.h"

#include <QClipboard>
#include <QFile>
#include <QFormLayout>
#include <QImage>
#include <QLabel>
#include <QResource>
#include <QtTest>

namespace {

// SHA-256 of "abc", FIPS 180-4 example.
const char abcDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

quint32 bigEndian32(const QByteArray &data, int at)
{
    return (quint32(quint8(data[at])) << 24) | (quint32(quint8(data[at + 1])) << 16)
           | (quint32(quint8(data[at + 2])) << 8) | quint32(quint8(data[at + 3]));
}

// The text of the field in the given row of the file-and-digest form.
QString formField(const QWidget *dialog, int row)
{
    auto *form = dialog->findChild<QFormLayout *>();
    if (!form)
        return QStringLiteral("<no form>");
    QLayoutItem *field = form->itemAt(row, QFormLayout::FieldRole);
    if (!field)
        return QStringLiteral("<no field>");
    if (auto *label = qobject_cast<QLabel *>(field->widget()))
        return label->text();
    // The digest row is a nested layout whose first item is the digest label.
    if (field->layout() && field->layout()->count() > 0)
        if (auto *label = qobject_cast<QLabel *>(field->layout()->itemAt(0)->widget()))
            return label->text();
    return QStringLiteral("<no label>");
}

QString formCaption(const QWidget *dialog, int row)
{
    auto *form = dialog->findChild<QFormLayout *>();
    QLayoutItem *item = form ? form->itemAt(row, QFormLayout::LabelRole) : nullptr;
    auto *label = item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
    return label ? label->text() : QString();
}

} // namespace

class TestCreationDBResult : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void iconIsEmbeddedAsDrawn();
    void iconReadsOnLightAndDarkThemes();
    void showsFileAndDigestAsGiven_data();
    void showsFileAndDigestAsGiven();
    void copyPutsExactlyTheDigestOnTheClipboard_data();
    void copyPutsExactlyTheDigestOnTheClipboard();
    void closeAcceptsTheDialog();
    void copyButtonKeepsItsPlaceAndSize();
    void fitsTheScreenItOpensOn_data();
    void fitsTheScreenItOpensOn();
    void textsUseTheirOwnContexts();
};

void TestCreationDBResult::initTestCase()
{
    Q_INIT_RESOURCE(orvalen);
}

void TestCreationDBResult::iconIsEmbeddedAsDrawn()
{
    QFile icon(QStringLiteral(":/icons/copy.png"));
    QVERIFY(icon.open(QIODevice::ReadOnly));
    const QByteArray png = icon.readAll();
    QFile drawn(QStringLiteral(ORVALEN_SOURCE_DIR "/resources/icons/copy.png"));
    QVERIFY(drawn.open(QIODevice::ReadOnly));
    QCOMPARE(png, drawn.readAll());

    // PNG signature, then IHDR: width, height, bit depth, colour type,
    // compression, filter, interlace.
    QCOMPARE(png.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(bigEndian32(png, 16), 32u);
    QCOMPARE(bigEndian32(png, 20), 32u);
    QCOMPARE(int(quint8(png[24])), 8);
    QCOMPARE(int(quint8(png[25])), 6);
    QCOMPARE(int(quint8(png[28])), 0);

    QResource resource(QStringLiteral(":/icons/copy.png"));
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    QCOMPARE(QDir(QStringLiteral(":/icons")).entryList(), QStringList({QStringLiteral("copy.png")}));
}

void TestCreationDBResult::iconReadsOnLightAndDarkThemes()
{
    const QImage image(QStringLiteral(":/icons/copy.png"));
    QCOMPARE(image.size(), QSize(32, 32));
    QVERIFY(image.hasAlphaChannel());
    int dark = 0, light = 0, clear = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                ++clear;
            else if (c.alpha() == 255 && c.lightness() < 100)
                ++dark;
            else if (c.alpha() == 255 && c.lightness() > 200)
                ++light;
        }
    }
    // Dark outlines carry the shape on a light background, a light fill on a
    // dark one, and the background shows through around the sheets.
    QVERIFY2(dark >= 60, qPrintable(QString::number(dark)));
    QVERIFY2(light >= 200, qPrintable(QString::number(light)));
    QVERIFY2(clear >= 100, qPrintable(QString::number(clear)));
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(image.pixelColor(31, 0).alpha(), 0);
}

void TestCreationDBResult::showsFileAndDigestAsGiven_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("digest");
    QTest::newRow("absolute path") << "/home/ann/photos.sha256" << abcDigest;
    QTest::newRow("relative path kept relative") << "sums/photos.sha256" << abcDigest;
    QTest::newRow("mixed separators not normalised") << "C:/data\\sub/../x.sha256" << abcDigest;
    QTest::newRow("percent signs") << "/tmp/%1%2 100%.sha256" << abcDigest;
    QTest::newRow("empty digest") << "x.sha256" << "";
}

void TestCreationDBResult::showsFileAndDigestAsGiven()
{
    QFETCH(QString, file);
    QFETCH(QString, digest);
    CreationDBResult dialog(file, digest);
    QCOMPARE(formCaption(&dialog, 0), QStringLiteral("File:"));
    QCOMPARE(formCaption(&dialog, 1), QStringLiteral("Hash:"));
    QCOMPARE(formField(&dialog, 0), file);
    QCOMPARE(formField(&dialog, 1), digest);
    QCOMPARE(dialog.windowTitle(), QString());
    const auto labels = dialog.findChildren<QLabel *>();
    const bool hasMessage = std::any_of(labels.begin(), labels.end(), [](QLabel *l) {
        return l->text() == QLatin1String("Checksums file has been created successfully");
    });
    QVERIFY(hasMessage);
}

void TestCreationDBResult::copyPutsExactlyTheDigestOnTheClipboard_data()
{
    QTest::addColumn<QString>("digest");
    QTest::newRow("SHA-256 of abc") << abcDigest;
    // SHA-256 of the empty string, FIPS 180-4 / NIST example.
    QTest::newRow("SHA-256 of nothing") << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
}

void TestCreationDBResult::copyPutsExactlyTheDigestOnTheClipboard()
{
    QFETCH(QString, digest);
    QGuiApplication::clipboard()->setText(QStringLiteral("something else\n"));
    CreationDBResult dialog(QStringLiteral("/tmp/x.sha256"), digest);
    QPushButton *copy = buttonWithText(&dialog, QStringLiteral("Copy"));
    QVERIFY(copy);
    QCOMPARE(copy->toolTip(), QStringLiteral("Copy to clipboard"));
    QVERIFY(!copy->icon().isNull());
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), digest);

    // The widget on its own copies what it shows after setHash.
    DBHashWidget widget(QStringLiteral("f"), QStringLiteral("first"));
    widget.setHash(digest.toUpper());
    QTest::mouseClick(buttonWithText(&widget, QStringLiteral("Copy")), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), digest.toUpper());
}

void TestCreationDBResult::closeAcceptsTheDialog()
{
    CreationDBResult dialog(QStringLiteral("a.sha256"), QString::fromLatin1(abcDigest));
    QPushButton *close = buttonWithText(&dialog, QStringLiteral("Close"));
    QVERIFY(close);
    QTimer::singleShot(0, close, [close] { QTest::mouseClick(close, Qt::LeftButton); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
}

void TestCreationDBResult::copyButtonKeepsItsPlaceAndSize()
{
    CreationDBResult dialog(QStringLiteral("a.sha256"), QString::fromLatin1(abcDigest));
    QPushButton *copy = buttonWithText(&dialog, QStringLiteral("Copy"));
    QVERIFY(copy);
    QCOMPARE(copy->minimumSize(), copy->maximumSize());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QSize size = copy->size();
    dialog.resize(dialog.width() + 600, dialog.height() + 100);
    QCoreApplication::processEvents();
    QCOMPARE(copy->size(), size);

    QLabel *digest = nullptr;
    const auto labels = dialog.findChildren<QLabel *>();
    for (QLabel *label : labels)
        if (label->text() == QLatin1String(abcDigest))
            digest = label;
    QVERIFY(digest);
    // The button stays right of the digest; the spare width is further right.
    const int digestRight = digest->mapTo(&dialog, QPoint(digest->width(), 0)).x();
    const int copyLeft = copy->mapTo(&dialog, QPoint(0, 0)).x();
    QVERIFY(copyLeft >= digestRight);
    QVERIFY2(copyLeft - digestRight < 30, qPrintable(QString::number(copyLeft - digestRight)));
    QVERIFY(dialog.width() - (copyLeft + copy->width()) > 500);
}

void TestCreationDBResult::fitsTheScreenItOpensOn_data()
{
    QTest::addColumn<QString>("file");
    // Wider than the screen only at a large scale factor.
    QTest::newRow("short path") << QStringLiteral("/srv/a.sha256");
    QTest::newRow("path wider than any screen")
        << QStringLiteral("/srv/") + QStringLiteral("deeply nested folder/").repeated(20) + QStringLiteral("a.sha256");
}

void TestCreationDBResult::fitsTheScreenItOpensOn()
{
    QFETCH(QString, file);
    CreationDBResult dialog(file, QString::fromLatin1(abcDigest));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QString off = partsOffScreen(dialog);
    QVERIFY2(off.isEmpty(), qPrintable(off));
}

void TestCreationDBResult::textsUseTheirOwnContexts()
{
    ScopedTranslator translator;
    CreationDBResult dialog(QStringLiteral("f"), QStringLiteral("d"));
    QPushButton *copy = buttonWithText(&dialog, QStringLiteral("DBHashWidget|Copy"));
    QVERIFY(copy);
    QCOMPARE(copy->toolTip(), QStringLiteral("DBHashWidget|Copy to clipboard"));
    QVERIFY(buttonWithText(&dialog, QStringLiteral("CreationDBResult|Close")));
    QCOMPARE(formCaption(&dialog, 0), QStringLiteral("DBHashWidget|File:"));
    QCOMPARE(formCaption(&dialog, 1), QStringLiteral("DBHashWidget|Hash:"));
    const auto labels = dialog.findChildren<QLabel *>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel *l) {
        return l->text() == QLatin1String("CreationDBResult|Checksums file has been created successfully");
    }));
}

QTEST_MAIN(TestCreationDBResult)
#include "tst_creationdbresult.moc"
