#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QVector>

// The command line of orvalen-cli, checked: which job to run and on what.
// --help and --version are answered here and end the process.
class CliArguments
{
    Q_DECLARE_TR_FUNCTIONS(CliArguments)

public:
    enum Command { Create, Verify, Digest, Update };

    // arguments: argv as the process got it, program name first. False when
    // the arguments are unusable; errorText() then says why.
    bool parse(const QList<QByteArray> &arguments);

    Command command = Create;
    // Paths stay the bytes they were given: a file name need not be valid
    // text, and decoding it would name another file.
    QByteArray sourceDir;
    QByteArray checksumFile;
    QList<QByteArray> files;
    // digest: empty with --check when no --algorithm was given.
    QString algorithm;
    // digest: files are lists of digests to check.
    bool check = false;
    // 0: as many as the machine suits.
    int jobs = 0;
    bool quiet = false;
    // verify: report and fail only for files that may be damaged.
    bool damageOnly = false;
    // create, verify, update: JSON Lines on standard output.
    bool json = false;
    // verify: read only slice subsetSlice of subsetSlices; 0 of 0 reads all.
    unsigned subsetSlice = 0;
    unsigned subsetSlices = 0;
    // create, verify, update: the file the run's figures go to, for
    // Prometheus; empty for none. metricsLabel: its "name" label.
    QByteArray metricsFile;
    QString metricsLabel;
    // verify --subset next/N: the slice comes from stateFile, which keeps
    // the last one completed.
    bool subsetNext = false;
    QByteArray stateFile;

    QString errorText() const;

private:
    bool parseJobs(const QByteArray &value);
    bool parseSubset(const QByteArray &value);
    QString standIn(int index) const;
    QByteArray bytesOf(const QString &parsed) const;

    QVector<QByteArray> given;
    QString error;
};
