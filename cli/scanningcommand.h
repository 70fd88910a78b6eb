#pragma once

#include "clicommand.h"
#include "hashtools.h"

#include <QByteArray>
#include <QCoreApplication>

#include <functional>
#include <string>

class ICreateHashReport;
class StoredIndex;

// What create, verify and update share: a scan of the tree reported on the
// terminal, and for the two that write, the checksums file put in place.
class ScanningCommand : public CliCommand
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    using CliCommand::CliCommand;

protected:
    // The algorithm of the checksums files.
    static constexpr const char *engineAlgorithm = "sha256";

    // Files and directories a create or update could not read, and the
    // records it kept for them from the checksums file it replaces.
    struct Unreadables
    {
        qint64 count = 0;
        qint64 kept = 0;
    };
    // Names each unreadable file or directory on stderr (and in JSON on
    // stdout) and writes through write the records stored() holds for it,
    // in their place; stored() answers null where there are none.
    HashTools::UnreadableSink keepingUnreadable(const QByteArray &sourceDir,
                                                const std::function<StoredIndex *()> &stored,
                                                const HashTools::RecordSink &write, Unreadables &tally) const;
    // Runs a scan of the tree, which reports to the report it is given;
    // ExitSuccess when the run completed, each file still changing when its
    // last read ended then named on stderr, otherwise the exit code, its
    // message already printed. run answers false when it stopped the scan
    // for a reason of its own, which its caller tells: then ExitError.
    int scan(HashTools &tools, const QByteArray &sourceDir,
             const std::function<bool(ICreateHashReport *)> &run);
    // Runs scanning, whose records go one by one through the sink it is
    // handed to writer's temporary file, and puts the file in place:
    // ExitSuccess with records counted and the digest of the file written,
    // otherwise the exit code, its message already printed.
    int writeScanned(HashTools &tools, const QByteArray &sourceDir, const QByteArray &checksumFile,
                     ChecksumFile::Writer &writer, qint64 &records, std::string &digest,
                     const std::function<void(ICreateHashReport *, const HashTools::RecordSink &)> &scanning);
};
