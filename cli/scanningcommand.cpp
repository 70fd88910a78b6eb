#include "scanningcommand.h"

#include "consolereport.h"
#include "exitcode.h"
#include "interruptflag.h"
#include "jsonline.h"
#include "storedindex.h"
#include "unreadablereport.h"
#include "verifysession.h"

#include <cstdio>

HashTools::UnreadableSink ScanningCommand::keepingUnreadable(const QByteArray &sourceDir,
                                                     const std::function<StoredIndex *()> &stored,
                                                     const HashTools::RecordSink &write, Unreadables &tally) const
{
    return [this, sourceDir, stored, &write, &tally](const ReadFailure &failure) {
        ++tally.count;
        // Over the progress line, which is drawn again with the next file.
        if (progress)
            std::fputs("\r\033[K", stderr);
        writeError(UnreadableReport::message(sourceDir, failure));
        if (json)
            output(UnreadableReport::json(failure).line());
        StoredIndex *const index = stored();
        if (!index)
            return true;
        bool written = true;
        VerifySession::forEachHidden(*index, failure, [&](std::size_t record) {
            index->markSeen(record);
            if (!written)
                return;
            std::string path = index->path(record);
            std::string digest = index->digest(record);
            written = write(path, digest, FileStamp(), false);
            ++tally.kept;
        });
        return written;
    };
}

int ScanningCommand::scan(HashTools &tools, const QByteArray &sourceDir,
                  const std::function<bool(ICreateHashReport *)> &run)
{
    // The directory is handed over as it was given, for the kernel to
    // resolve: made absolute and cleaned as text, "link/.." would become the
    // working directory instead of the link target's parent, and "." in a
    // removed working directory would become "/". Record paths are the paths
    // below it, so a relative SOURCE_DIR does not leak into every record
    // ("data/a.txt"): the same records as for the directory chosen in the
    // desktop application's dialog.
    ConsoleReport report(sourceDir, progress);
    tools.setJobs(jobs);
    InterruptFlag::setPhase(InterruptFlag::Scanning);
    if (!run(&report))
        return ExitError;
    // A signal that came after the last file still ends the job here,
    // before anything is written.
    if (report.wasCanceled() || InterruptFlag::raised()) {
        message(tr("Interrupted by user"));
        return ExitInterrupted;
    }
    if (report.isFailed()) {
        writeError(report.errorText());
        return ExitError;
    }
    if (!report.isFinished()) {
        message(tr("Checksums calculation did not finish"));
        return ExitError;
    }
    // Even when quiet: such a file's record holds the digest of one
    // moment's content, which a later verify may well not find.
    QByteArray prefix = sourceDir;
    if (!prefix.endsWith('/'))
        prefix += '/';
    for (const std::string &path : tools.changingFiles())
        messageNaming(tr("File \"%1\" changed while it was read."), prefix + QByteArray::fromStdString(path));
    return ExitSuccess;
}

int ScanningCommand::writeScanned(HashTools &tools, const QByteArray &sourceDir, const QByteArray &checksumFile,
                          ChecksumFile::Writer &writer, qint64 &records, std::string &digest,
                          const std::function<void(ICreateHashReport *, const HashTools::RecordSink &)> &scanning)
{
    // Each record goes to the temporary file as it comes, so that memory
    // does not grow with the tree.
    tools.setRecordsToBeWritten(true);
    tools.digestWhileWriting(writer);
    bool writeFailed = false;
    const HashTools::RecordSink write = [&](std::string &path, std::string &recordDigest, const FileStamp &, bool) {
        writeFailed = !writer.append(path, recordDigest);
        ++records;
        return !writeFailed;
    };
    // A second signal during the scan ends the process at once; the
    // temporary file goes with it.
    InterruptFlag::setLeftover(writer.temporaryFolder(), writer.temporaryName());
    const int scanned = scan(tools, sourceDir, [&](ICreateHashReport *report) {
        scanning(report, write);
        return !writeFailed;
    });
    InterruptFlag::setLeftover(-1, nullptr);
    if (writeFailed) {
        cannotWrite(checksumFile, writer.error());
        return ExitError;
    }
    if (scanned != ExitSuccess)
        return scanned;

    // From here on a signal must not cut the write short; the job then
    // simply completes.
    InterruptFlag::setPhase(InterruptFlag::Writing);
    digest = tools.saveDB(writer);
    if (digest.empty()) {
        cannotWrite(checksumFile, writer.error());
        return ExitError;
    }
    // The folder was moved or replaced during the run: the file went with
    // the folder, and the name given leads elsewhere.
    if (!writer.foundAtName()) {
        const std::string placed = writer.committedPath();
        if (placed.empty())
            messageNaming(tr("Checksums file \"%1\" is not where it was written: its folder was moved "
                             "during the run."),
                          checksumFile);
        else
            messageNaming(tr("Checksums file was written to \"%1\": its folder was moved during the run."),
                          QByteArray::fromStdString(placed));
        return ExitError;
    }
    // Told even when quiet, like a file held back: the next verify cannot
    // tell this run's edits from damage.
    if (!writer.timeKept())
        messageNaming(tr("The file system did not keep the time of checksums file \"%1\": files edited "
                         "during this run cannot be told from damaged ones."),
                      checksumFile);
    return ExitSuccess;
}
