#pragma once

#include "clicommand.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

// digest: the digest of each file named, in coreutils' line format.
class DigestCommand : public CliCommand
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    using CliCommand::CliCommand;

    int run(const QString &algorithm, const QList<QByteArray> &files);
};
