#include "cliarguments.h"
#include "clijobs.h"
#include "exitcode.h"
#include "interruptflag.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTranslator>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// The working directory first, as the desktop application does, then the
// folders an installation keeps the files in.
void loadTranslation(QTranslator &translator, const QString &name, const QStringList &fallbackDirs)
{
    if (translator.load(name))
        return;
    for (const QString &dir : fallbackDirs) {
        if (!dir.isEmpty() && translator.load(name, dir))
            return;
    }
}

QStringList installedTranslationDirs()
{
    return QStringList()
           << QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                              + QStringLiteral(ORVALEN_RELATIVE_TRANSLATIONS))
           << QStringLiteral(ORVALEN_INSTALLED_TRANSLATIONS);
}

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

void printError(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    InterruptFlag::install();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvalen-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALEN_VERSION));
    QLocale::setDefault(QLocale(QLocale::C, QLocale::AnyCountry));

    const QString locale = QLocale::system().name();
    QTranslator translator;
    loadTranslation(translator, QStringLiteral("orvalen_") + locale, installedTranslationDirs());
    QCoreApplication::installTranslator(&translator);
    QTranslator qtTranslator;
    loadTranslation(qtTranslator, QStringLiteral("qtbase_") + locale,
                    QStringList() << QLibraryInfo::location(QLibraryInfo::TranslationsPath));
    QCoreApplication::installTranslator(&qtTranslator);

    CliArguments arguments;
    if (!arguments.parse(QCoreApplication::arguments())) {
        printError(arguments.errorText());
        printError(QCoreApplication::translate("main", "Try \"%1 --help\".")
                       .arg(QCoreApplication::applicationName()));
        return ExitError;
    }

    CliJobs jobs(arguments.quiet, stderrIsTerminal());
    int status = ExitError;
    switch (arguments.command) {
    case CliArguments::Create:
        status = jobs.create(arguments.sourceDir, arguments.checksumFile);
        break;
    case CliArguments::Verify:
        status = jobs.verify(arguments.sourceDir, arguments.checksumFile);
        break;
    case CliArguments::Digest:
        status = jobs.digest(arguments.algorithm, arguments.files);
        break;
    }

    // A result that did not reach its reader (full disk, closed pipe) must
    // not end as a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        printError(QCoreApplication::translate("main", "Cannot write to standard output"));
        return ExitError;
    }
    return status;
}
