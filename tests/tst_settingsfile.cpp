// The remembered paths' file: read and written as QSettings reads and writes
// it, in the place the user can write.

#include "settingsfile.h"
#include "uitestsupport.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

class TestSettingsFile : public IniFileTest
{
    Q_OBJECT

private slots:
    void valuesTravelBothWaysWithQSettings_data();
    void valuesTravelBothWaysWithQSettings();
    void pathsAreKeptWhereTheUserCanWrite_data();
    void pathsAreKeptWhereTheUserCanWrite();
};

void TestSettingsFile::valuesTravelBothWaysWithQSettings_data()
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

void TestSettingsFile::valuesTravelBothWaysWithQSettings()
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

void TestSettingsFile::pathsAreKeptWhereTheUserCanWrite_data()
{
    QTest::addColumn<bool>("unprivileged");
    QTest::newRow("root: the system-wide file") << false;
    QTest::newRow("nobody: the user's own file") << true;
}

void TestSettingsFile::pathsAreKeptWhereTheUserCanWrite()
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

QTEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
