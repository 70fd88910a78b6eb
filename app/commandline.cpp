#include "commandline.h"

#include "translationloader.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

#include <cstdio>

bool CommandLine::answered(int argc, char *argv[], int &exitCode)
{
    // A core application only: it needs no display, and a QApplication
    // without one aborts.
    int count = argc;
    const QCoreApplication core(count, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALEN_VERSION));
    // The help in the language the window would speak.
    const QString localeName = QLocale::system().name();
    QTranslator appTranslator;
    TranslationLoader::load(appTranslator, QStringLiteral("orvalen_"), localeName,
                            TranslationLoader::installedDirs());
    QCoreApplication::installTranslator(&appTranslator);
    QTranslator qtTranslator;
    TranslationLoader::load(qtTranslator, QStringLiteral("qtbase_"), localeName, TranslationLoader::qtDirs());
    QCoreApplication::installTranslator(&qtTranslator);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Guard a directory tree against silent change: record the SHA-256 digest of "
           "every file in a checksums file, and later name each file that changed, "
           "appeared or went missing. Without options it opens its window; it also "
           "takes the options every Qt application understands (-platform, -style...). "
           "orvalen-cli does the same jobs from a terminal."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    // Qt's own options are single words after one dash: "-stylesheet" must
    // not read as -s -t ... -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Options the window understands are unknown here; that is no error.
    parser.parse(QCoreApplication::arguments());

    QString text;
    // --help-all would list the Qt options of a core application only.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all")))
        text = parser.helpText();
    else if (parser.isSet(versionOption))
        text = QCoreApplication::applicationName() + QLatin1Char(' ')
               + QCoreApplication::applicationVersion() + QLatin1Char('\n');
    else
        return false;
    const QByteArray bytes = text.toLocal8Bit();
    const bool written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout)
                             == static_cast<size_t>(bytes.size())
                         && std::fflush(stdout) == 0;
    exitCode = written ? 0 : 1;
    return true;
}
