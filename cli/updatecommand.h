#pragma once

#include "scanningcommand.h"

#include <QByteArray>
#include <QCoreApplication>

// Brings the checksums file up to date, reading only the files that may
// have changed since it was written; create where there is none yet.
class UpdateCommand : public ScanningCommand
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    using ScanningCommand::ScanningCommand;

    int run(const QByteArray &sourceDir, const QByteArray &checksumFile);
};
