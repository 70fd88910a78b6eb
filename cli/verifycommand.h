#pragma once

#include "scanningcommand.h"

#include <QByteArray>
#include <QCoreApplication>

#include <string>

// Compares the tree with its checksums file and reports each discrepancy.
class VerifyCommand : public ScanningCommand
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    using ScanningCommand::ScanningCommand;

    // damageOnly: report only files that differ without having been written
    // since the checksums file, and fail only for them.
    int run(const QByteArray &sourceDir, const QByteArray &checksumFile, bool damageOnly = false);

private:
    // "newpath<TAB>Moved from "oldpath"", both paths in the report form.
    static QByteArray moveLine(const std::string &path, const std::string &from);
};
