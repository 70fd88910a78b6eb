#include "updatecommand.h"

#include "createcommand.h"
#include "exitcode.h"
#include "jsonline.h"
#include "localpath.h"
#include "metricsfile.h"
#include "storedindex.h"

#include <QElapsedTimer>

#include <cstdio>
#include <set>
#include <string>
#include <utility>

int UpdateCommand::run(const QByteArray &sourceDir, const QByteArray &checksumFile)
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
        return CreateCommand(*this).run(sourceDir, checksumFile);
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
