#include "clijobs.h"

#include "checksumfile.h"
#include "compareerr.h"
#include "consolereport.h"
#include "exitcode.h"
#include "hashfactory.h"
#include "hashrecord.h"
#include "hashtools.h"
#include "hashwrapper.h"
#include "hlexception.h"
#include "interruptflag.h"
#include "jsonline.h"
#include "localpath.h"
#include "metricsfile.h"
#include "slicestate.h"
#include "storedindex.h"
#include "terminalname.h"
#include "unreadablereport.h"
#include "verifysession.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

const char engineAlgorithm[] = "sha256";

} // namespace

CliJobs::CliJobs(bool quiet, bool progress, int jobs)
    : quiet(quiet), progress(progress && !quiet), jobs(jobs)
{
}

void CliJobs::setJsonOutput(bool jsonOutput)
{
    json = jsonOutput;
}

void CliJobs::setSubset(unsigned slice, unsigned slices)
{
    subsetSlice = slices == 0 ? 0 : slice;
    subsetSlices = slices;
}

void CliJobs::setMetrics(MetricsFile *metricsFile)
{
    metrics = metricsFile;
}

void CliJobs::setSliceState(const QByteArray &stateFile)
{
    sliceStateFile = stateFile;
}

void CliJobs::setAccepted(const QList<QByteArray> &files)
{
    acceptedFiles = files;
}

bool CliJobs::namesArePlausible(const QByteArray &sourceDir, const QByteArray &checksumFile) const
{
    // An empty path is no directory: taken as the working directory, it would
    // guard whatever folder the command happened to run in.
    if (LocalPath::kindOf(sourceDir) != LocalPath::Directory) {
        message(tr("Directory is not exists"));
        return false;
    }
    if (checksumFile.isEmpty()) {
        message(tr("File name is not specified"));
        return false;
    }
    return true;
}

int CliJobs::create(const QByteArray &sourceDir, const QByteArray &checksumFile)
{
    QElapsedTimer clock;
    clock.start();
    if (!namesArePlausible(sourceDir, checksumFile))
        return ExitError;

    // A checksums file that cannot go where it is asked for is said before
    // the tree is hashed, not hours later; the writer keeps what it found.
    ChecksumFile::Writer writer(checksumFile.toStdString());
    if (!writer.prepare()) {
        cannotWrite(checksumFile, writer.error());
        return ExitError;
    }

    HashTools tools(engineAlgorithm);
    qint64 added = 0;
    std::string digest;
    // The checksums file being replaced is read only once a file or
    // directory cannot be: its records for them are all that is known.
    StoredIndex previous;
    bool previousLoaded = false;
    const auto previousRecords = [&]() -> StoredIndex * {
        if (!previousLoaded) {
            previousLoaded = true;
            if (LocalPath::kindOf(checksumFile) == LocalPath::Missing
                || HashTools(engineAlgorithm).loadDB(checksumFile.toStdString(), previous).empty())
                previous = StoredIndex();
        }
        return previous.recordCount() > 0 ? &previous : nullptr;
    };
    Unreadables unreadables;
    const int written = writeScanned(tools, sourceDir, checksumFile, writer, added, digest,
                                     [&](ICreateHashReport *report, const HashTools::RecordSink &write) {
                                         tools.setUnreadableSink(
                                             keepingUnreadable(sourceDir, previousRecords, write, unreadables));
                                         tools.streamHashes(sourceDir.toStdString(), write, report,
                                                            checksumFile.toStdString());
                                     });
    if (written != ExitSuccess)
        return written;
    if (unreadables.count > 0)
        info(tr("%1 unreadable, %2 records kept from the checksums file replaced")
                 .arg(unreadables.count)
                 .arg(unreadables.kept));
    if (metrics)
        metrics->setCounts({added - unreadables.kept, 0, 0, 0, 0, 0, unreadables.count});
    if (json) {
        JsonLine counts;
        counts.number("added", added - unreadables.kept)
            .number("unreadable", unreadables.count)
            .number("kept", unreadables.kept);
        countChanging(counts, tools);
        output(summaryLine(counts, checksumFile, digest, clock, &writer).line());
    } else {
        output(QByteArray::fromStdString(digest) + '\n');
    }
    return unreadables.count > 0 ? ExitDiscrepancies : ExitSuccess;
}

HashTools::UnreadableSink CliJobs::keepingUnreadable(const QByteArray &sourceDir,
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
        UnreadableReport::forEachHidden(*index, failure, [&](std::size_t record) {
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

int CliJobs::checkReadable(const QByteArray &checksumFile) const
{
    const auto refuse = [this, &checksumFile](const QString &text) {
        messageNaming(text, checksumFile);
        return ExitError;
    };
    int error = 0;
    switch (ChecksumFile::inspect(checksumFile.toStdString(), error)) {
    case ChecksumFile::Verdict::Usable:
        break;
    case ChecksumFile::Verdict::CannotRead: {
        const QString reason = error != 0 ? QString::fromLocal8Bit(std::strerror(error))
                                          : tr("Not a regular file");
        return refuse(tr("Cannot read checksums file \"%1\": %2.").arg(QStringLiteral("%1"), reason));
    }
    case ChecksumFile::Verdict::NotChecksumsFile:
        return refuse(tr("\"%1\" is not a checksums file."));
    }
    return ExitSuccess;
}

int CliJobs::verify(const QByteArray &sourceDir, const QByteArray &checksumFile, bool damageOnly)
{
    QElapsedTimer clock;
    clock.start();
    if (!namesArePlausible(sourceDir, checksumFile))
        return ExitError;
    if (LocalPath::kindOf(checksumFile) == LocalPath::Missing) {
        messageNaming(tr("Checksums file \"%1\" does not exist."), checksumFile);
        return ExitError;
    }
    // Learn of a checksums file that cannot serve before hashing the whole
    // tree, not hours later; the reader below still has the last word.
    const int readable = checkReadable(checksumFile);
    if (readable != ExitSuccess)
        return readable;
    SliceState sliceState(sliceStateFile);
    if (!sliceStateFile.isEmpty()) {
        if (!sliceState.load()) {
            if (sliceState.error() == 0)
                messageNaming(tr("\"%1\" is not a state file of --subset next/N."), sliceStateFile);
            else
                messageNaming(tr("Cannot keep state file \"%1\": %2.")
                                  .arg(QStringLiteral("%1"),
                                       QString::fromLocal8Bit(std::strerror(sliceState.error()))),
                              sliceStateFile);
            return ExitError;
        }
        subsetSlice = sliceState.nextSlice(subsetSlices);
    }

    HashTools tools(engineAlgorithm);
    // The checksums file is read while the first files are hashed; a slice
    // is chosen by the stored records, so with one they come first. Files
    // without one are read in every run, so that a move is still told.
    VerifySession session(subsetSlice, subsetSlices);
    if (!session.load(checksumFile.toStdString(), engineAlgorithm)) {
        message(tr("Checksums file load error"));
        return ExitError;
    }
    const int scanned = scan(tools, sourceDir, [&](ICreateHashReport *report) {
        tools.verifyHashes(sourceDir.toStdString(), session, report, checksumFile.toStdString());
        return true;
    });
    if (scanned != ExitSuccess)
        return scanned;
    // The rest only reads: a signal from now on ends the process at once.
    InterruptFlag::setPhase(InterruptFlag::Reading);
    const std::string digest = session.digest();
    if (digest.empty()) {
        message(tr("Checksums file load error"));
        return ExitError;
    }
    session.finish();
    const std::vector<std::unique_ptr<CompareErr>> &errors = session.errors();
    const qint64 checked = session.checked();
    const qint64 sliceFiles = session.sliceFiles();
    const qint64 notChecked = session.notChecked();

    // A move is told on the new file's line; the missing file's goes.
    const std::size_t none = errors.size();
    std::vector<std::size_t> movedFrom(errors.size(), none);
    std::vector<bool> movedAway(errors.size(), false);
    for (const auto &move : VerifySession::findMoves(errors)) {
        movedFrom[move.first] = move.second;
        movedAway[move.second] = true;
    }

    const auto jsonLine = [&](const CompareErr &error, const char *status) {
        JsonLine line;
        line.path("path", error.path).text("status", status);
        if (error.type == CompareErr::HashDiff) {
            const auto &difference = static_cast<const CE_HashDiff &>(error);
            line.text("stored", difference.storedHash.toLatin1())
                .text("current", difference.currentHash.toLatin1());
        } else if (!error.digest.empty()) {
            line.text(error.type == CompareErr::NewFile ? "current" : "stored",
                      QByteArray::fromStdString(error.digest));
        }
        return line;
    };

    int changed = 0;
    int damaged = 0;
    int added = 0;
    int missing = 0;
    int moved = 0;
    int unreadableCount = 0;
    QByteArray report;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const CompareErr &error = *errors[i];
        switch (error.type) {
        case CompareErr::HashDiff:
            if (static_cast<const CE_HashDiff &>(error).damaged) {
                ++damaged;
                report += json ? jsonLine(error, "damaged").line()
                               : reportLine(error.path,
                                            tr("Checksums does not match, not modified since the "
                                               "checksums file was written"));
            } else {
                ++changed;
                if (!damageOnly)
                    report += json ? jsonLine(error, "modified").line()
                                   : reportLine(error.path, error.errorText());
            }
            break;
        case CompareErr::NewFile:
            if (movedFrom[i] != none) {
                ++moved;
                if (damageOnly)
                    break;
                if (json) {
                    // One content: the stored digest of the old place is the
                    // current one of the new.
                    const CompareErr &from = *errors[movedFrom[i]];
                    JsonLine line;
                    line.path("path", error.path).text("status", "moved").path("from", from.path);
                    if (!from.digest.empty())
                        line.text("stored", QByteArray::fromStdString(from.digest));
                    if (!error.digest.empty())
                        line.text("current", QByteArray::fromStdString(error.digest));
                    report += line.line();
                } else {
                    report += moveLine(error.path, errors[movedFrom[i]]->path);
                }
            } else {
                ++added;
                if (!damageOnly)
                    report += json ? jsonLine(error, "new").line()
                                   : reportLine(error.path, error.errorText());
            }
            break;
        case CompareErr::AbsentFile:
            if (!movedAway[i]) {
                ++missing;
                if (!damageOnly)
                    report += json ? jsonLine(error, "missing").line()
                                   : reportLine(error.path, error.errorText());
            }
            break;
        case CompareErr::IOError: {
            // The loudest damage there is: reported with --damage-only too.
            ++unreadableCount;
            const auto &failed = static_cast<const CE_IOError &>(error);
            const ReadFailure failure{failed.kind, failed.path, failed.error};
            report += json ? UnreadableReport::json(failure).line() : UnreadableReport::reportLine(failure);
            break;
        }
        }
        if (report.size() >= 1 << 16) {
            output(report);
            report.clear();
        }
    }
    output(report);

    info(QString::fromStdString(digest));
    QString summary = tr("%1 files checked: %2 changed, %3 new, %4 missing")
                          .arg(checked)
                          .arg(changed)
                          .arg(added)
                          .arg(missing);
    if (damaged > 0)
        summary += tr(", %1 possibly damaged").arg(damaged);
    if (moved > 0)
        summary += tr(", %1 moved").arg(moved);
    if (unreadableCount > 0)
        summary += tr(", %1 unreadable").arg(unreadableCount);
    if (notChecked > 0)
        summary += tr(", %1 not checked").arg(notChecked);
    if (subsetSlices != 0) {
        info(tr("Slice %1/%2 read: %3 files").arg(subsetSlice).arg(subsetSlices).arg(sliceFiles));
    }
    info(summary);
    if (metrics)
        metrics->setCounts({checked, changed, damaged, added, missing, moved, qint64(unreadableCount)});
    if (json) {
        JsonLine counts;
        counts.number("checked", checked)
            .number("modified", qint64(changed))
            .number("damaged", qint64(damaged))
            .number("new", qint64(added))
            .number("missing", qint64(missing))
            .number("moved", qint64(moved))
            .number("unreadable", qint64(unreadableCount))
            .number("not_checked", notChecked);
        countChanging(counts, tools);
        JsonLine last = summaryLine(counts, checksumFile, digest, clock);
        if (subsetSlices != 0)
            last.object("subset", JsonLine()
                                      .number("slice", qint64(subsetSlice))
                                      .number("slices", qint64(subsetSlices))
                                      .number("files", sliceFiles));
        output(last.line());
    }
    const int status
        = (damageOnly ? damaged + unreadableCount > 0 : !errors.empty()) ? ExitDiscrepancies : ExitSuccess;
    if (!sliceStateFile.isEmpty()) {
        // Only a run that completed moves on; a signal no longer stops it.
        InterruptFlag::setPhase(InterruptFlag::Writing);
        if (!sliceState.record(subsetSlice, subsetSlices)) {
            messageNaming(tr("Cannot keep state file \"%1\": %2.")
                              .arg(QStringLiteral("%1"),
                                   QString::fromLocal8Bit(std::strerror(sliceState.error()))),
                          sliceStateFile);
            return ExitError;
        }
    }
    return status;
}

int CliJobs::update(const QByteArray &sourceDir, const QByteArray &checksumFile)
{
    QElapsedTimer clock;
    clock.start();
    if (!namesArePlausible(sourceDir, checksumFile))
        return ExitError;
    std::set<std::string> accepted;
    for (const QByteArray &file : std::as_const(acceptedFiles)) {
        QByteArray recordPath;
        if (!LocalPath::below(sourceDir, file, recordPath)) {
            messageNaming(tr("File \"%1\" to accept is not below the source directory."), file);
            return ExitError;
        }
        if (LocalPath::kindOf(file) != LocalPath::RegularFile) {
            messageNaming(tr("File \"%1\" to accept is no regular file."), file);
            return ExitError;
        }
        accepted.insert(recordPath.toStdString());
    }
    if (LocalPath::kindOf(checksumFile) == LocalPath::Missing)
        return create(sourceDir, checksumFile);
    const int readable = checkReadable(checksumFile);
    if (readable != ExitSuccess)
        return readable;

    ChecksumFile::Writer writer(checksumFile.toStdString());
    if (!writer.prepare()) {
        cannotWrite(checksumFile, writer.error());
        return ExitError;
    }
    // Read before the scan, and its time with it: the new file replaces it.
    HashTools tools(engineAlgorithm);
    StoredIndex stored;
    if (tools.loadDB(checksumFile.toStdString(), stored).empty()) {
        message(tr("Checksums file load error"));
        return ExitError;
    }
    const long long written = tools.referenceTime();
    tools.setAccepted(std::move(accepted));

    qint64 total = 0;
    std::string digest;
    HashTools::UpdateCounts counts;
    Unreadables unreadables;
    const int rewritten = writeScanned(tools, sourceDir, checksumFile, writer, total, digest,
                                       [&](ICreateHashReport *report, const HashTools::RecordSink &write) {
                                           tools.setUnreadableSink(keepingUnreadable(
                                               sourceDir, [&stored] { return &stored; }, write, unreadables));
                                           tools.updateHashes(sourceDir.toStdString(), stored, written, write,
                                                              counts, report, checksumFile.toStdString());
                                       });
    if (rewritten != ExitSuccess)
        return rewritten;
    if (!json)
        output(QByteArray::fromStdString(digest) + '\n');

    // Held back files are warned of even when quiet: the exit code alone
    // would not say which. A program reads them as verify's damaged lines.
    QByteArray heldBack;
    QByteArray heldBackJson;
    for (const HashTools::UpdateCounts::HeldBack &file : counts.heldBack) {
        heldBack += reportLine(file.path, tr("Checksums does not match, not modified since the "
                                             "checksums file was written"));
        if (json)
            heldBackJson += JsonLine()
                                .path("path", file.path)
                                .text("status", "damaged")
                                .text("stored", QByteArray::fromStdString(file.stored))
                                .text("current", QByteArray::fromStdString(file.current))
                                .boolean("held_back", true)
                                .line();
    }
    // Said even when quiet: the file's content was stored against the
    // evidence of its time, on the caller's word.
    for (const HashTools::UpdateCounts::HeldBack &file : counts.accepted) {
        heldBack += reportLine(file.path, tr("Accepted, although not modified since the checksums file was written"));
        if (json)
            heldBackJson += JsonLine()
                                .path("path", file.path)
                                .text("status", "accepted")
                                .text("stored", QByteArray::fromStdString(file.stored))
                                .text("current", QByteArray::fromStdString(file.current))
                                .line();
    }
    output(heldBackJson);
    std::fflush(stdout);
    std::fwrite(heldBack.constData(), 1, static_cast<size_t>(heldBack.size()), stderr);
    QString summary = tr("%1 files: %2 added, %3 rehashed, %4 removed, %5 kept, %6 held back")
                          .arg(total)
                          .arg(counts.added)
                          .arg(counts.rehashed)
                          .arg(counts.removed)
                          .arg(counts.kept + std::size_t(unreadables.kept))
                          .arg(counts.heldBack.size());
    if (unreadables.count > 0)
        summary += tr(", %1 unreadable").arg(unreadables.count);
    if (!counts.accepted.empty())
        summary += tr(", %1 accepted").arg(counts.accepted.size());
    info(summary);
    if (metrics)
        metrics->setCounts({total, qint64(counts.rehashed), qint64(counts.heldBack.size()),
                            qint64(counts.added), qint64(counts.removed), 0, unreadables.count});
    if (json) {
        // A held back file is one that may be damaged.
        JsonLine numbers;
        numbers.number("added", qint64(counts.added))
            .number("rehashed", qint64(counts.rehashed))
            .number("removed", qint64(counts.removed))
            .number("kept", qint64(counts.kept) + unreadables.kept)
            .number("damaged", qint64(counts.heldBack.size()))
            .number("unreadable", unreadables.count);
        if (!counts.accepted.empty())
            numbers.number("accepted", qint64(counts.accepted.size()));
        countChanging(numbers, tools);
        output(summaryLine(numbers, checksumFile, digest, clock, &writer).line());
    }
    return counts.heldBack.empty() && unreadables.count == 0 ? ExitSuccess : ExitDiscrepancies;
}

int CliJobs::writeScanned(HashTools &tools, const QByteArray &sourceDir, const QByteArray &checksumFile,
                          ChecksumFile::Writer &writer, qint64 &records, std::string &digest,
                          const std::function<void(ICreateHashReport *, const HashTools::RecordSink &)> &scanning)
{
    // Each record goes to the temporary file as it comes, so that memory
    // does not grow with the tree.
    tools.setRecordsToBeWritten(true);
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

void CliJobs::cannotWrite(const QByteArray &checksumFile, int error) const
{
    if (error == 0) {
        message(tr("Checksums file creation error"));
        return;
    }
    messageNaming(tr("Cannot write checksums file \"%1\": %2.")
                      .arg(QStringLiteral("%1"), QString::fromLocal8Bit(std::strerror(error))),
                  checksumFile);
}

int CliJobs::scan(HashTools &tools, const QByteArray &sourceDir,
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

void CliJobs::countChanging(JsonLine &counts, const HashTools &tools)
{
    // Only where there is one, as the fields of names that are not text.
    if (!tools.changingFiles().empty())
        counts.number("changed_while_read", qint64(tools.changingFiles().size()));
}

int CliJobs::digest(const QString &algorithm, const QList<QByteArray> &files)
{
    const std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper(algorithm.toStdString()));
    if (!hasher) {
        message(tr("Unknown algorithm \"%1\".").arg(algorithm));
        return ExitError;
    }

    // Nothing is written but stdout, so a signal may end the process at once
    // even in the middle of a big file.
    InterruptFlag::setPhase(InterruptFlag::Reading);
    int status = ExitSuccess;
    for (const QByteArray &path : files) {
        std::string text;
        try {
            text = hasher->digestOfFile(path.toStdString());
        } catch (const hlException &failure) {
            // Later lines must not overtake earlier ones on a shared terminal.
            std::fflush(stdout);
            messageNaming(tr("Cannot read file \"%1\": %2.")
                              .arg(QStringLiteral("%1"), UnreadableReport::reason(failure.errorNumber)),
                          path);
            status = ExitError;
            continue;
        }
        output(digestLine(text, path));
    }
    return status;
}

QByteArray CliJobs::digestLine(const std::string &digest, const QByteArray &path)
{
    bool escaped = false;
    const QByteArray name = TerminalName::escapedName(path, TerminalName::Form::Coreutils, escaped);
    QByteArray line;
    if (escaped)
        line += '\\';
    line += QByteArray::fromStdString(digest);
    line += "  ";
    line += name;
    line += '\n';
    return line;
}

QByteArray CliJobs::reportLine(const std::string &path, const QString &message)
{
    return TerminalName::reportLine(path, message);
}

QByteArray CliJobs::moveLine(const std::string &path, const std::string &from)
{
    bool escaped = false;
    bool fromEscaped = false;
    const auto form = TerminalName::Form::Report;
    const QByteArray name = TerminalName::escapedName(QByteArray::fromStdString(path), form, escaped);
    const QByteArray old = TerminalName::escapedName(QByteArray::fromStdString(from), form, fromEscaped);
    const QString text = tr("Moved from \"%1\"");
    const int at = text.indexOf(QLatin1String("%1"));
    QByteArray line;
    if (escaped || fromEscaped)
        line += '\\';
    line += name;
    line += '\t';
    line += text.left(at).toLocal8Bit() + old + text.mid(at + 2).toLocal8Bit();
    line += '\n';
    return line;
}

void CliJobs::message(const QString &text) const
{
    writeError(text.toLocal8Bit());
}

void CliJobs::messageNaming(const QString &format, const QByteArray &name) const
{
    // The name goes out as its bytes, escaped as in the report lines, so
    // that it can neither drive the terminal nor turn into other characters.
    writeError(ConsoleReport::withEscapedName(format, name));
}

void CliJobs::writeError(const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

void CliJobs::info(const QString &text) const
{
    if (!quiet)
        message(text);
}

JsonLine CliJobs::summaryLine(const JsonLine &counts, const QByteArray &checksumFile,
                              const std::string &digest, const QElapsedTimer &clock,
                              const ChecksumFile::Writer *written)
{
    JsonLine line;
    line.object("summary", counts)
        .path("checksums_file", checksumFile)
        .text("digest", QByteArray::fromStdString(digest))
        .number("seconds", static_cast<double>(clock.nsecsElapsed()) / 1e9);
    // Only where it went wrong, as the base64 fields appear only where needed.
    if (written && !written->timeKept())
        line.boolean("time_kept", false);
    return line;
}

void CliJobs::output(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}
