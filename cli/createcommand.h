#pragma once

#include "scanningcommand.h"

#include <QByteArray>
#include <QCoreApplication>

// Hashes the tree and writes its checksums file.
class CreateCommand : public ScanningCommand
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    using ScanningCommand::ScanningCommand;

    int run(const QByteArray &sourceDir, const QByteArray &checksumFile);
};
