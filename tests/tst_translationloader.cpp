#include "guidriver.h"
#include "mainwindow.h"
#include "translationloader.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace {

// Fixed test data: built once at start-up, where its cost does not matter.
const QString builtQmDir = QStringLiteral(ORVALEN_QM_DIR); // clazy:exclude=non-pod-global-static
const QString sourceDir = QStringLiteral(ORVALEN_SOURCE_DIR); // clazy:exclude=non-pod-global-static

bool copyQm(const QString &language, const QString &toDir, const QString &asName)
{
    QDir().mkpath(toDir);
    return QFile::copy(builtQmDir + QStringLiteral("/orvalen_") + language + QStringLiteral(".qm"),
                       toDir + QLatin1Char('/') + asName);
}

QStringList buttonTexts(MainWindow &window)
{
    QStringList texts;
    const auto buttons = window.findChildren<QAbstractButton *>(QString(), Qt::FindDirectChildrenOnly);
    for (QAbstractButton *button : buttons)
        texts << button->text();
    return texts;
}

// The main window's texts in each language; fixed data like the paths above.
const QStringList english = {QStringLiteral("Create checksums.."), QStringLiteral("Verify checksums.."), // clazy:exclude=non-pod-global-static
                             QStringLiteral("About.."), QStringLiteral("Exit")};
const QStringList german = {QStringLiteral("Prüfsummen erstellen.."), QStringLiteral("Prüfsummen überprüfen.."), // clazy:exclude=non-pod-global-static
                            QStringLiteral("Über.."), QStringLiteral("Beenden")};
const QStringList russian = {QStringLiteral("Создать контрольные суммы.."), // clazy:exclude=non-pod-global-static
                             QStringLiteral("Проверить контрольные суммы.."),
                             QStringLiteral("О программе.."), QStringLiteral("Выход")};

} // namespace

class TestTranslationLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void load_data();
    void load();
    void germanWindowKeepsAboutTextUntranslated();
    void everyTextTranslated_data();
    void everyTextTranslated();

private:
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<QTemporaryDir> settingsDir;
    QString startDir;
};

void TestTranslationLoader::initTestCase()
{
    Q_INIT_RESOURCE(orvalen);
    startDir = QDir::currentPath();
    QVERIFY2(QFile::exists(builtQmDir + QStringLiteral("/orvalen_de.qm")), qPrintable(builtQmDir));
    QVERIFY(QFile::exists(builtQmDir + QStringLiteral("/orvalen_ru.qm")));
}

void TestTranslationLoader::init()
{
    work = std::make_unique<QTemporaryDir>();
    settingsDir = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsDir->path());
    QVERIFY(QDir().mkpath(work->path() + QStringLiteral("/cwd")));
    QVERIFY(QDir::setCurrent(work->path() + QStringLiteral("/cwd")));
}

void TestTranslationLoader::cleanup()
{
    QDir::setCurrent(startDir);
    work.reset();
    settingsDir.reset();
}

void TestTranslationLoader::load_data()
{
    // Files are "<language of the content>:<name>".
    QTest::addColumn<QStringList>("inWorkingDir");
    QTest::addColumn<QStringList>("inInstalledDir");
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("no translation files: built-in English")
            << QStringList() << QStringList() << "de_DE" << false << english;
    QTest::newRow("de_DE finds orvalen_de in the working directory")
            << QStringList{"de:orvalen_de.qm"} << QStringList() << "de_DE" << true << german;
    QTest::newRow("ru_RU finds orvalen_ru in the working directory")
            << QStringList{"ru:orvalen_ru.qm"} << QStringList() << "ru_RU" << true << russian;
    QTest::newRow("full name orvalen_de_AT is preferred")
            << QStringList{"ru:orvalen_de.qm", "de:orvalen_de_AT.qm"} << QStringList() << "de_AT" << true
            << german;
    QTest::newRow("installed folder when the working directory has none")
            << QStringList() << QStringList{"de:orvalen_de.qm"} << "de_DE" << true << german;
    QTest::newRow("working directory wins over the installed folder")
            << QStringList{"de:orvalen_de.qm"} << QStringList{"ru:orvalen_de.qm"} << "de_DE" << true
            << german;
    QTest::newRow("another language's file is not taken")
            << QStringList{"de:orvalen_de.qm"} << QStringList{"ru:orvalen_ru.qm"} << "fr_FR" << false
            << english;
    QTest::newRow("C locale: built-in English")
            << QStringList{"de:orvalen_de.qm"} << QStringList() << "C" << false << english;
}

void TestTranslationLoader::load()
{
    QFETCH(QStringList, inWorkingDir);
    QFETCH(QStringList, inInstalledDir);
    QFETCH(QString, localeName);
    QFETCH(bool, loaded);
    QFETCH(QStringList, texts);

    const QString installed = work->path() + QStringLiteral("/share/orvalen/translations");
    QDir().mkpath(installed);
    for (const QString &file : inWorkingDir)
        QVERIFY(copyQm(file.section(QLatin1Char(':'), 0, 0), QDir::currentPath(), file.section(QLatin1Char(':'), 1)));
    for (const QString &file : inInstalledDir)
        QVERIFY(copyQm(file.section(QLatin1Char(':'), 0, 0), installed, file.section(QLatin1Char(':'), 1)));

    QTranslator translator;
    QCOMPARE(TranslationLoader::load(translator, QStringLiteral("orvalen_"), localeName, {installed}),
             loaded);
    QCoreApplication::installTranslator(&translator);
    {
        MainWindow window;
        QCOMPARE(buttonTexts(window), texts);
    }
    QCoreApplication::removeTranslator(&translator);
}

void TestTranslationLoader::germanWindowKeepsAboutTextUntranslated()
{
    auto aboutBox = [](QStringList *seen) {
        MainWindow window;
        window.show();
        GuiDriver driver;
        driver.expectMessageBox();
        driver.start();
        const auto buttons = window.findChildren<QAbstractButton *>(QString(), Qt::FindDirectChildrenOnly);
        buttons.at(2)->click();
        driver.stop();
        *seen = driver.seenBoxes;
        return driver.failures;
    };

    QStringList englishBox;
    QCOMPARE(aboutBox(&englishBox), QStringList());
    QCOMPARE(englishBox.size(), 1);

    QVERIFY(copyQm(QStringLiteral("de"), QDir::currentPath(), QStringLiteral("orvalen_de.qm")));
    QTranslator translator;
    QVERIFY(TranslationLoader::load(translator, QStringLiteral("orvalen_"), QStringLiteral("de_DE"), {}));
    QCoreApplication::installTranslator(&translator);
    QStringList germanBox;
    const QStringList failures = aboutBox(&germanBox);
    // The discrepancy messages are looked up in the context "QObject".
    const QString absent = QObject::tr("File not found");
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(failures, QStringList());
    QCOMPARE(absent, QStringLiteral("Datei nicht gefunden"));

    QCOMPARE(germanBox.size(), 1);
    const QStringList en = englishBox.first().split(QLatin1Char('|'));
    const QStringList de = germanBox.first().split(QLatin1Char('|'));
    QCOMPARE(en.value(1), QStringLiteral("About"));
    QCOMPARE(de.value(1), QStringLiteral("Über Orvalen"));
    QCOMPARE(de.value(2), en.value(2));
    QVERIFY(de.value(2).contains(QChar(0x00A9)));
}

void TestTranslationLoader::everyTextTranslated_data()
{
    QTest::addColumn<QString>("language");

    QTest::newRow("German") << "de";
    QTest::newRow("Russian") << "ru";
}

// Refreshes a copy of the translation source from the code with lupdate:
// a text without its translation shows up as unfinished.
void TestTranslationLoader::everyTextTranslated()
{
    QFETCH(QString, language);

    const QString lupdate = QStringLiteral(ORVALEN_LUPDATE);
    QVERIFY2(QFileInfo(lupdate).isExecutable(), qPrintable(lupdate));

    const QString ts = work->path() + QStringLiteral("/orvalen_") + language + QStringLiteral(".ts");
    QVERIFY(QFile::copy(sourceDir + QStringLiteral("/translations/orvalen_") + language + QStringLiteral(".ts"), ts));
    QFile::setPermissions(ts, QFile::ReadOwner | QFile::WriteOwner);

    QStringList arguments{QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none")};
    for (const char *layer : {"app", "ui", "core", "cli"}) {
        const QString dir = sourceDir + QLatin1Char('/') + QLatin1String(layer);
        if (QFileInfo(dir).isDir())
            arguments << dir;
    }
    arguments << QStringLiteral("-ts") << ts;
    QProcess process;
    process.start(lupdate, arguments);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);

    QFile file(ts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    QStringList untranslated;
    static const QRegularExpression message(QStringLiteral(
            "<message>\\s*<source>(.*?)</source>\\s*<translation( type=\"unfinished\")?>(.*?)</translation>"),
            QRegularExpression::DotMatchesEverythingOption);
    auto it = message.globalMatch(content);
    int count = 0;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        ++count;
        if (!m.captured(2).isEmpty() || m.captured(3).isEmpty())
            untranslated << m.captured(1);
    }
    QVERIFY(count > 40);
    QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QStringLiteral(" | "))));
}

QTEST_MAIN(TestTranslationLoader)
#include "tst_translationloader.moc"
