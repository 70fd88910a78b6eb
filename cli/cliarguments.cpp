#include "cliarguments.h"

#include "hashfactory.h"
#include "hashtools.h"
#include "hashwrapper.h"
#include "localpath.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <memory>

namespace {

const char defaultAlgorithm[] = "sha256";

// Marks the text that stands in for an argument; a noncharacter, so that
// no decoded argument can start with it.
const QChar standInMark(0xFDD0);

} // namespace

bool CliArguments::parse(const QList<QByteArray> &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Checksums of a directory tree, from a terminal.\n"
           "\n"
           "Commands:\n"
           "  create SOURCE_DIR CHECKSUMS_FILE\n"
           "      Hash the files below SOURCE_DIR with SHA-256, write CHECKSUMS_FILE\n"
           "      and print the checksums file's own digest on standard output.\n"
           "  verify SOURCE_DIR CHECKSUMS_FILE\n"
           "      Hash the tree again and compare it with CHECKSUMS_FILE. Every\n"
           "      discrepancy is one line on standard output: path, tab, message;\n"
           "      the checksums file's digest and a summary go to standard error.\n"
           "      A file whose content differs is reported as\n"
           "      \"Checksums does not match\" when it was modified after the checksums\n"
           "      file (its modification time is later, allowing 2 s for coarse\n"
           "      time stamps, or it changed while it was read), and as\n"
           "      \"Checksums does not match, not modified since the checksums file\n"
           "      was written\" otherwise: possibly damaged. A missing file and a new\n"
           "      file with the same content are one line \"Moved from \"oldpath\"\"\n"
           "      on the new file's place.\n"
           "  update SOURCE_DIR CHECKSUMS_FILE\n"
           "      Bring CHECKSUMS_FILE up to date: hash new files and files modified\n"
           "      after it, drop missing ones, keep every other record without\n"
           "      reading its file. A possibly damaged file keeps its stored digest,\n"
           "      is named on standard error, and the exit code is 1. Prints the\n"
           "      digest like create; without CHECKSUMS_FILE it is create.\n"
           "  digest [--algorithm NAME] FILE...\n"
           "      Print \"digest  path\" for each file, as sha256sum does.\n"
           "\n"
           "Not guarded: files and directories whose names start with a dot,\n"
           "and everything below such a directory, are left out of the tree.\n"
           "\n"
           "Ignore file: SOURCE_DIR/.orvalenignore leaves out more, one pattern a\n"
           "line as in .gitignore (*, ?, [...] within a name, ** across\n"
           "directories, a leading or inner / anchors at SOURCE_DIR, a closing /\n"
           "matches directories only, ! takes back, # starts a comment):\n"
           "    *.tmp\n"
           "    /cache/\n"
           "    !keep.tmp\n"
           "An excluded directory is not entered; verify does not report records\n"
           "the rules exclude. The ignore file is a dot name: not guarded itself.\n"
           "\n"
           "Paths are printed as they are, with these exceptions. digest, as\n"
           "sha256sum: a backslash is written \\\\, a line feed \\n, a carriage\n"
           "return \\r. verify: the same, and a tab \\t, every other byte below\n"
           "0x20 and the byte 0x7f as \\xhh (two lowercase hex digits). A line\n"
           "whose path holds any of these starts with a backslash.\n"
           "\n"
           "Reference time: create and update set the checksums file's\n"
           "modification time to the moment their scan began. A copy of the\n"
           "checksums file that does not keep that time (cp without -p) moves\n"
           "the reference, and every mismatch then counts as possible damage.\n"
           "\n"
           "Unreadable files and directories (a failing disk's Input/output error,\n"
           "a wrong chmod) do not end a run; each is named once with the system's\n"
           "reason. verify reports \"path<TAB>Cannot read file: <reason>\" or\n"
           "\"Cannot read directory: <reason>\" in its place; the records below\n"
           "such a directory count as not checked, not as missing. create and\n"
           "update name each on standard error and keep the record the replaced\n"
           "checksums file held for it (below a directory: every record), which\n"
           "was not read again. digest names the reason and goes on. The desktop\n"
           "application still stops at the first read error.\n"
           "\n"
           "Progress is shown on standard error when it is a terminal.\n"
           "\n"
           "Exit codes:\n"
           "  0    success; for verify: no discrepancy (with --damage-only: no\n"
           "       possibly damaged file); for update: no file held back\n"
           "  1    verify found discrepancies, unreadable files among them (with\n"
           "       --damage-only: a possibly damaged or unreadable file); update\n"
           "       held back a possibly damaged file; create or update could not\n"
           "       read a file or directory\n"
           "  2    error: bad arguments, missing or unreadable directory, checksums\n"
           "       file that does not exist, cannot be read or written, or is no\n"
           "       checksums file, an ignore file that cannot be read or holds a\n"
           "       malformed line (named with its line number), no resources; for\n"
           "       digest, a file that cannot be read\n"
           "  130  interrupted by SIGINT, SIGTERM or SIGHUP; an existing checksums\n"
           "       file is left as it was. A signal that comes once create has\n"
           "       begun to write the new checksums file does not stop it: the\n"
           "       file is completed, its digest printed, and the exit code is 0"));
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
    const QCommandLineOption jobsOption(
        {QStringLiteral("j"), QStringLiteral("jobs")},
        tr("How many files create, verify and update hash at once (N at least 1; "
           "more than %1 counts as %1; default: chosen from the machine and its "
           "disks; fewer where threads, descriptors or address space run short; "
           "1: one file after another).")
            .arg(HashTools::maxJobs),
        tr("N"));
    const QCommandLineOption damageOption(
        QStringLiteral("damage-only"),
        tr("verify: print only possibly damaged and unreadable files, and exit with 1 "
           "only for them (edits, new, missing and moved files are not reported)."));
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        tr("create, verify and update: text (default) or json. json: standard output "
           "is JSON Lines, one object a line, in UTF-8; verify writes one object for "
           "each discrepancy, and every command ends with a summary object."),
        tr("FORMAT"));
    const QCommandLineOption subsetOption(
        QStringLiteral("subset"),
        tr("verify: read only the files of slice K of N (K from 1 to N, or auto: the "
           "days since 1970-01-01 UTC modulo N, plus one, so that with N a multiple of 7 "
           "each slice falls on the same weekday, or next: the slice after the last one "
           "a completed run read, as --state keeps it) and new files; names are still "
           "compared for the whole tree."),
        tr("K/N"));
    const QCommandLineOption metricsOption(
        QStringLiteral("metrics"),
        tr("create, verify and update: write the run's figures to FILE in the Prometheus "
           "text format, for node_exporter's textfile collector (FILE ending in .prom), "
           "whatever the outcome. A FILE that cannot be written turns exit code 0 into 2."),
        tr("FILE"));
    const QCommandLineOption metricsLabelOption(
        QStringLiteral("metrics-label"),
        tr("The value of the name label of the --metrics figures."), tr("NAME"));
    parser.addOption(metricsOption);
    parser.addOption(metricsLabelOption);
    const QCommandLineOption checkOption(
        {QStringLiteral("c"), QStringLiteral("check")},
        tr("digest: read each FILE (\"-\" or none: standard input) as a list of digests, "
           "as sha256sum -c does, and check the files it names: lines \"digest  path\", "
           "\"digest *path\" or \"TAG (path) = digest\", the algorithm from TAG or the "
           "digest's length unless --algorithm is given. Prints \"path: OK\", \"path: "
           "FAILED\" or \"path: FAILED open or read\" in list order (-q: no OK lines), "
           "then warnings on standard error; --jobs applies. Exit code 1 when a file "
           "failed, 2 when a list cannot be read or holds no usable line."));
    const QCommandLineOption stateOption(
        QStringLiteral("state"),
        tr("verify --subset next/N: the file that keeps the last slice read, one line "
           "\"K/N\"; made where missing, and written (atomically) only when the run "
           "completes with exit code 0 or 1. Other runs ignore it."),
        tr("FILE"));
    parser.addOption(quietOption);
    parser.addOption(checkOption);
    parser.addOption(damageOption);
    parser.addOption(formatOption);
    parser.addOption(subsetOption);
    parser.addOption(stateOption);
    parser.addOption(algorithmOption);
    parser.addOption(jobsOption);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 tr("create, verify, update or digest."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 tr("The command's paths."), tr("[arguments...]"));

    // The parser works on text. Every argument that may be a path or an
    // option's value reaches it as a stand-in naming its place, so that
    // what the parser hands back turns into the exact bytes given. Options
    // themselves are decoded: their names are ASCII.
    given = arguments.toVector();
    QStringList texts;
    bool optionsEnded = false;
    for (int i = 0; i < given.size(); ++i) {
        const QByteArray &argument = given.at(i);
        if (i == 0 || (!optionsEnded && argument.startsWith('-'))) {
            texts << LocalPath::display(argument);
            optionsEnded = optionsEnded || argument == "--";
        } else {
            texts << standIn(i);
        }
    }

    if (!parser.parse(texts)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();

    quiet = parser.isSet(quietOption);
    QList<QByteArray> positional;
    const QStringList positionalTexts = parser.positionalArguments();
    for (const QString &text : positionalTexts)
        positional << bytesOf(text);
    if (positional.isEmpty()) {
        error = tr("No command given.");
        return false;
    }
    const QByteArray name = positional.takeFirst();

    damageOnly = parser.isSet(damageOption);
    if (damageOnly && name != "verify") {
        error = tr("The option --damage-only belongs to the verify command only.");
        return false;
    }

    if (parser.isSet(subsetOption)) {
        if (name != "verify") {
            error = tr("The option --subset belongs to the verify command only.");
            return false;
        }
        if (!parseSubset(bytesOf(parser.value(subsetOption))))
            return false;
    }
    if (parser.isSet(stateOption)) {
        if (name != "verify") {
            error = tr("The option --state belongs to the verify command only.");
            return false;
        }
        stateFile = bytesOf(parser.value(stateOption));
    }
    if (subsetNext && stateFile.isEmpty()) {
        error = tr("The option --subset next/N needs --state FILE.");
        return false;
    }

    if (parser.isSet(metricsLabelOption) && !parser.isSet(metricsOption)) {
        error = tr("The option --metrics-label needs --metrics.");
        return false;
    }
    if (name == "create" || name == "verify" || name == "update") {
        command = name == "create" ? Create : name == "verify" ? Verify : Update;
        if (parser.isSet(metricsOption)) {
            metricsFile = bytesOf(parser.value(metricsOption));
            metricsLabel = LocalPath::display(bytesOf(parser.value(metricsLabelOption)));
            if (metricsFile.isEmpty()) {
                error = tr("The option --metrics needs a file name.");
                return false;
            }
        }
        if (parser.isSet(formatOption)) {
            const QByteArray format = bytesOf(parser.value(formatOption));
            if (format != "text" && format != "json") {
                error = tr("The option --format takes text or json, not \"%1\".")
                            .arg(LocalPath::display(format));
                return false;
            }
            json = format == "json";
        }
        if (parser.isSet(checkOption)) {
            error = tr("The option --check belongs to the digest command only.");
            return false;
        }
        if (parser.isSet(algorithmOption)) {
            error = tr("The option --algorithm belongs to the digest command only.");
            return false;
        }
        if (positional.size() != 2) {
            error = tr("The command %1 takes SOURCE_DIR and CHECKSUMS_FILE.")
                        .arg(QString::fromLatin1(name));
            return false;
        }
        sourceDir = positional.at(0);
        checksumFile = positional.at(1);
        return !parser.isSet(jobsOption) || parseJobs(bytesOf(parser.value(jobsOption)));
    }

    if (name == "digest") {
        command = Digest;
        if (parser.isSet(metricsOption)) {
            error = tr("The option --metrics belongs to the create, verify and update commands only.");
            return false;
        }
        if (parser.isSet(formatOption)) {
            error = tr("The option --format belongs to the create, verify and update commands only.");
            return false;
        }
        check = parser.isSet(checkOption);
        if (parser.isSet(jobsOption) && !check) {
            error = tr("The option --jobs belongs to the create, verify and update commands "
                       "and to digest --check only.");
            return false;
        }
        if (parser.isSet(jobsOption) && !parseJobs(bytesOf(parser.value(jobsOption))))
            return false;
        algorithm = parser.isSet(algorithmOption)
                        ? LocalPath::display(bytesOf(parser.value(algorithmOption)))
                        : check ? QString() : QString::fromLatin1(defaultAlgorithm);
        const std::unique_ptr<hashwrapper> probe(
            hashfactory().makeWrapper(algorithm.toStdString()));
        if (!probe && !(check && algorithm.isEmpty())) {
            error = tr("Unknown algorithm \"%1\".").arg(algorithm);
            return false;
        }
        if (check && positional.isEmpty())
            positional << QByteArray("-");
        if (positional.isEmpty()) {
            error = tr("The command digest needs at least one FILE.");
            return false;
        }
        files = positional;
        return true;
    }

    error = tr("Unknown command \"%1\".").arg(LocalPath::display(name));
    return false;
}

QString CliArguments::errorText() const
{
    return error;
}

bool CliArguments::parseJobs(const QByteArray &value)
{
    // Digits only: toInt alone would also take blanks and a sign.
    bool digitsOnly = !value.isEmpty();
    for (const char c : value)
        digitsOnly = digitsOnly && c >= '0' && c <= '9';
    bool fits = false;
    const int count = value.toInt(&fits);
    if (!digitsOnly || !fits || count < 1) {
        error = tr("The option --jobs takes a whole number of at least 1, not \"%1\".")
                    .arg(LocalPath::display(value));
        return false;
    }
    jobs = std::min(count, HashTools::maxJobs);
    return true;
}

bool CliArguments::parseSubset(const QByteArray &value)
{
    const auto digitsOnly = [](const QByteArray &text) {
        bool digits = !text.isEmpty() && text.size() <= 9;
        for (const char c : text)
            digits = digits && c >= '0' && c <= '9';
        return digits;
    };
    const int slash = value.indexOf('/');
    const QByteArray slice = value.left(slash);
    const QByteArray slices = value.mid(slash + 1);
    const unsigned count = digitsOnly(slices) ? slices.toUInt() : 0;
    const bool automatic = slice == "auto";
    subsetNext = slice == "next";
    const unsigned chosen = digitsOnly(slice) ? slice.toUInt() : 0;
    if (slash < 0 || count == 0 || (!automatic && !subsetNext && (chosen == 0 || chosen > count))) {
        error = tr("The option --subset takes K/N, N at least 1 and K from 1 to N, auto or next, "
                   "not \"%1\".")
                    .arg(LocalPath::display(value));
        return false;
    }
    subsetSlices = count;
    // Whole days, so that one timer a day reads the next slice each day.
    // A clock set before 1970 still gives a slice from 1 to N.
    const qint64 days = QDateTime::currentSecsSinceEpoch() / 86400;
    subsetSlice = automatic ? static_cast<unsigned>((days % count + count) % count) + 1 : chosen;
    return true;
}

QString CliArguments::standIn(int index) const
{
    return standInMark + QString::number(index);
}

QByteArray CliArguments::bytesOf(const QString &parsed) const
{
    if (parsed.startsWith(standInMark)) {
        bool isIndex = false;
        // midRef is gone in Qt 6, and the copy is a few characters.
        const int index = parsed.mid(1).toInt(&isIndex); // clazy:exclude=qstring-ref
        if (isIndex && index > 0 && index < given.size() && parsed == standIn(index))
            return given.at(index);
    }
    // A value written into its option ("--jobs=4"): decoded with the option.
    return QFile::encodeName(parsed);
}
