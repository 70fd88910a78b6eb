#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class HashTools;
class QByteArray;
struct HashRecord;

// The three jobs of orvalen-cli. Each returns the process exit code
// (see exitcode.h); results go to stdout, messages to stderr.
class CliJobs
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    // quiet: nothing but error messages on stderr. progress: draw the
    // progress line on stderr during a scan.
    CliJobs(bool quiet, bool progress);

    int create(const QString &sourceDir, const QString &checksumFile);
    int verify(const QString &sourceDir, const QString &checksumFile);
    int digest(const QString &algorithm, const QStringList &files);

    // coreutils' line format, so that `sha256sum -c` accepts the output:
    // a name holding a backslash, line feed or carriage return is escaped
    // and the line starts with a backslash.
    static QByteArray digestLine(const std::string &digest, const QByteArray &path);

private:
    // Hashes the tree into records; ExitSuccess when the run completed,
    // otherwise the exit code, its message already printed.
    int scan(HashTools &tools, const QString &sourceDir, const QString &checksumFile,
             std::vector<HashRecord> &records);
    void message(const QString &text) const;
    void info(const QString &text) const;
    static void output(const QByteArray &bytes);

    bool quiet;
    bool progress;
};
