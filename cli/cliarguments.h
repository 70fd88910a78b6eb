#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The command line of orvalen-cli, checked: which job to run and on what.
// --help and --version are answered here and end the process.
class CliArguments
{
    Q_DECLARE_TR_FUNCTIONS(CliArguments)

public:
    enum Command { Create, Verify, Digest };

    // False when the arguments are unusable; errorText() then says why.
    bool parse(const QStringList &arguments);

    Command command = Create;
    QString sourceDir;
    QString checksumFile;
    QStringList files;
    QString algorithm;
    bool quiet = false;

    QString errorText() const;

private:
    QString error;
};
