#pragma once

#include "checksumfile.h"
#include "clisettings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <string>

class HashTools;
class JsonLine;
class QElapsedTimer;

// What the commands of orvalen-cli share: the run's settings, standard
// output and the messages on stderr. A command returns the process exit code
// (see exitcode.h); results go to stdout, messages to stderr. Paths are the
// bytes the file system takes.
class CliCommand : protected CliSettings
{
    // The texts of every command keep the context their translations have.
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    // The command's own copy: verify moves on to the slice a state file names.
    explicit CliCommand(const CliSettings &settings);

    // The two streams as every part of orvalen-cli writes them, main and
    // digest --check too: results on stdout as the bytes they are, messages
    // on stderr a line each.
    static void output(const QByteArray &bytes);
    // line is already in the local encoding.
    static void writeError(const QByteArray &line);
    static void message(const QString &text);

protected:
    // The source is a directory and the checksums file has a name; says
    // which is not.
    bool namesArePlausible(const QByteArray &sourceDir, const QByteArray &checksumFile) const;
    // ExitSuccess when the existing checksumFile can be read as one,
    // otherwise ExitError with the reason printed.
    int checkReadable(const QByteArray &checksumFile) const;
    // Names the checksums file and the system's reason (an errno value);
    // the plain creation error where there is no reason to give.
    void cannotWrite(const QByteArray &checksumFile, int error) const;

    // A line of the verify report: TerminalName::reportLine.
    static QByteArray reportLine(const std::string &path, const QString &message);
    // text with its "%1" standing for name.
    void messageNaming(const QString &format, const QByteArray &name) const;
    // A message that quiet leaves out.
    void info(const QString &text) const;

    // Adds to a JSON summary's counts how many files of the last scan were
    // still changing when their last read ended, where any were.
    static void countChanging(JsonLine &counts, const HashTools &tools);
    // The JSON report's last line; counts is its "summary" object. written:
    // the writer of a job that wrote the checksums file.
    static JsonLine summaryLine(const JsonLine &counts, const QByteArray &checksumFile,
                                const std::string &digest, const QElapsedTimer &clock,
                                const ChecksumFile::Writer *written = nullptr);
};
