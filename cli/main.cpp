#include "cliarguments.h"
#include "clicommand.h"
#include "clijobs.h"
#include "digestcheck.h"
#include "exitcode.h"
#include "interruptflag.h"
#include "localpath.h"
#include "metricsfile.h"
#include "translationloader.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QLocale>
#include <QString>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <new>

#ifdef ORVALEN_POSIX
#include <unistd.h>
#endif

namespace {

bool stderrIsTerminal()
{
#ifdef ORVALEN_POSIX
    return isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    InterruptFlag::install();

    // Taken before the application object exists, which removes what it
    // takes for its own options (-qmljsdebugger=...) from argv, even after
    // "--": the paths given are the paths used. Kept as bytes, since
    // QCoreApplication::arguments() decodes each argument, and a path that
    // is not valid text would come out naming another file.
    QList<QByteArray> given;
    for (int i = 0; i < argc; ++i)
        given << QByteArray(argv[i]);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvalen-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALEN_VERSION));
    QLocale::setDefault(QLocale(QLocale::C, QLocale::AnyCountry));

    const QString locale = QLocale::system().name();
    QTranslator translator;
    TranslationLoader::load(translator, QStringLiteral("orvalen_"), locale,
                            TranslationLoader::installedDirs());
    QCoreApplication::installTranslator(&translator);
    QTranslator qtTranslator;
    TranslationLoader::load(qtTranslator, QStringLiteral("qtbase_"), locale,
                            TranslationLoader::qtDirs());
    QCoreApplication::installTranslator(&qtTranslator);

    CliArguments arguments;
    if (!arguments.parse(given)) {
        CliCommand::message(arguments.errorText());
        CliCommand::message(QCoreApplication::translate("main", "Try \"%1 --help\".")
                                .arg(QCoreApplication::applicationName()));
        return ExitError;
    }

    CliJobs jobs(arguments.quiet, stderrIsTerminal(), arguments.jobs);
    jobs.setJsonOutput(arguments.json);
    jobs.setSubset(arguments.subsetSlice, arguments.subsetSlices);
    static const char *const commandNames[] = {"create", "verify", "digest", "update"};
    MetricsFile metrics(arguments.metricsFile, arguments.metricsLabel, commandNames[arguments.command],
                        arguments.checksumFile);
    if (!arguments.metricsFile.isEmpty())
        jobs.setMetrics(&metrics);
    jobs.setAccepted(arguments.accepted);
    if (arguments.subsetNext)
        jobs.setSliceState(arguments.stateFile);
    int status = ExitError;
    try {
        switch (arguments.command) {
        case CliArguments::Create:
            status = jobs.create(arguments.sourceDir, arguments.checksumFile);
            break;
        case CliArguments::Verify:
            status = jobs.verify(arguments.sourceDir, arguments.checksumFile, arguments.damageOnly);
            break;
        case CliArguments::Update:
            status = jobs.update(arguments.sourceDir, arguments.checksumFile);
            break;
        case CliArguments::Digest:
            status = arguments.check
                         ? DigestCheck(arguments.algorithm.toLower().toStdString(), arguments.quiet, arguments.jobs)
                               .run(arguments.files)
                         : jobs.digest(arguments.algorithm, arguments.files);
            break;
        }
    } catch (const std::bad_alloc &) {
        // Wherever memory ran out, the same message as where the scan
        // itself meets it; what the job held is freed by now.
        CliCommand::message(
            QCoreApplication::translate("HashTools", "Not enough system resources to hash the tree: %1.")
                .arg(QCoreApplication::translate("HashTools", "not enough memory")));
        status = ExitError;
    }

    // A result that did not reach its reader (full disk, closed pipe) must
    // not end as a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        CliCommand::message(QCoreApplication::translate("main", "Cannot write to standard output"));
        status = ExitError;
    }
    // Monitoring that cannot learn of the run must not take it for a clean one.
    int metricsError = 0;
    if (!arguments.metricsFile.isEmpty() && !metrics.write(status, metricsError)) {
        CliCommand::message(QCoreApplication::translate("main", "Cannot write metrics file \"%1\": %2.")
                                .arg(LocalPath::display(arguments.metricsFile),
                                     QString::fromLocal8Bit(std::strerror(metricsError))));
        status = status == ExitSuccess ? ExitError : status;
    }
    return status;
}
