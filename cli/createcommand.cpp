#include "createcommand.h"

#include "exitcode.h"
#include "jsonline.h"
#include "localpath.h"
#include "metricsfile.h"
#include "storedindex.h"

#include <QElapsedTimer>

#include <string>

int CreateCommand::run(const QByteArray &sourceDir, const QByteArray &checksumFile)
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
