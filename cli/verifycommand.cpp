#include "verifycommand.h"

#include "compareerr.h"
#include "exitcode.h"
#include "interruptflag.h"
#include "jsonline.h"
#include "localpath.h"
#include "metricsfile.h"
#include "slicestate.h"
#include "terminalname.h"
#include "unreadablereport.h"
#include "verifysession.h"

#include <QElapsedTimer>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

int VerifyCommand::run(const QByteArray &sourceDir, const QByteArray &checksumFile, bool damageOnly)
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

QByteArray VerifyCommand::moveLine(const std::string &path, const std::string &from)
{
    return TerminalName::moveLine(path, from, tr("Moved from \"%1\""));
}
