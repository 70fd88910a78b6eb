#include "cliarguments.h"

#include "hashfactory.h"
#include "hashwrapper.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <memory>

namespace {

const char defaultAlgorithm[] = "sha256";

} // namespace

bool CliArguments::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Checksums of a directory tree, from a terminal.\n"
           "\n"
           "Commands:\n"
           "  create SOURCE_DIR CHECKSUMS_FILE\n"
           "      Hash every file below SOURCE_DIR with SHA-256, write CHECKSUMS_FILE\n"
           "      and print the checksums file's own digest on standard output.\n"
           "  verify SOURCE_DIR CHECKSUMS_FILE\n"
           "      Hash the tree again and compare it with CHECKSUMS_FILE. Every\n"
           "      discrepancy is printed on standard output as path, tab, message;\n"
           "      the checksums file's digest and a summary go to standard error.\n"
           "  digest [--algorithm NAME] FILE...\n"
           "      Print \"digest  path\" for each file, as sha256sum does.\n"
           "\n"
           "Progress is shown on standard error when it is a terminal.\n"
           "\n"
           "Exit codes:\n"
           "  0    success; for verify: no discrepancy\n"
           "  1    verify found discrepancies\n"
           "  2    error: bad arguments, missing directory, checksums file that\n"
           "       cannot be read or written, a file that cannot be hashed\n"
           "  130  interrupted by SIGINT or SIGTERM; an existing checksums file\n"
           "       is left as it was"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption quietOption(
        {QStringLiteral("q"), QStringLiteral("quiet")},
        tr("Write nothing to standard error but error messages."));
    const QCommandLineOption algorithmOption(
        {QStringLiteral("a"), QStringLiteral("algorithm")},
        tr("Algorithm of the digest command: md5, sha1, sha256, sha384 or sha512 "
           "(default: sha256)."),
        tr("NAME"));
    parser.addOption(quietOption);
    parser.addOption(algorithmOption);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 tr("create, verify or digest."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 tr("The command's paths."), tr("[arguments...]"));

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();

    quiet = parser.isSet(quietOption);
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        error = tr("No command given.");
        return false;
    }
    const QString name = positional.takeFirst();

    if (name == QLatin1String("create") || name == QLatin1String("verify")) {
        command = name == QLatin1String("create") ? Create : Verify;
        if (parser.isSet(algorithmOption)) {
            error = tr("The option --algorithm belongs to the digest command only.");
            return false;
        }
        if (positional.size() != 2) {
            error = tr("The command %1 takes SOURCE_DIR and CHECKSUMS_FILE.").arg(name);
            return false;
        }
        sourceDir = positional.at(0);
        checksumFile = positional.at(1);
        return true;
    }

    if (name == QLatin1String("digest")) {
        command = Digest;
        algorithm = parser.isSet(algorithmOption) ? parser.value(algorithmOption)
                                                  : QString::fromLatin1(defaultAlgorithm);
        const std::unique_ptr<hashwrapper> probe(
            hashfactory().makeWrapper(algorithm.toStdString()));
        if (!probe) {
            error = tr("Unknown algorithm \"%1\".").arg(algorithm);
            return false;
        }
        if (positional.isEmpty()) {
            error = tr("The command digest needs at least one FILE.");
            return false;
        }
        files = positional;
        return true;
    }

    error = tr("Unknown command \"%1\".").arg(name);
    return false;
}

QString CliArguments::errorText() const
{
    return error;
}
