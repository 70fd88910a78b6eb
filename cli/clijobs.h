#pragma once

#include "hashtools.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class JsonLine;
class MetricsFile;
class StoredIndex;
class QElapsedTimer;
class ICreateHashReport;
struct HashRecord;

// The three jobs of orvalen-cli. Each returns the process exit code
// (see exitcode.h); results go to stdout, messages to stderr. Paths are the
// bytes the file system takes.
class CliJobs
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    // quiet: nothing but error messages on stderr. progress: draw the
    // progress line on stderr during a scan. jobs: files hashed at once,
    // 0 for the engine's own choice.
    CliJobs(bool quiet, bool progress, int jobs);

    // Standard output of create, verify and update as JSON Lines: an object
    // for each discrepancy verify reports, then one summary object.
    void setJsonOutput(bool json);
    // verify reads only the files of slice `slice` (1 to slices) and new
    // ones; the names of the whole tree are still compared. 0 reads all.
    void setSubset(unsigned slice, unsigned slices);
    // Where create, verify and update leave what they found; none by default.
    void setMetrics(MetricsFile *metricsFile);
    // The slice is the one after the last that a completed verify read, as
    // stateFile keeps it (see SliceState); a run that completes records it.
    void setSliceState(const QByteArray &stateFile);

    // update stores the current digests of these files (named as given,
    // below the source directory) even where they may be damaged.
    void setAccepted(const QList<QByteArray> &files);

    int create(const QByteArray &sourceDir, const QByteArray &checksumFile);
    // damageOnly: report only files that differ without having been written
    // since the checksums file, and fail only for them.
    int verify(const QByteArray &sourceDir, const QByteArray &checksumFile, bool damageOnly = false);
    // Brings the checksums file up to date, reading only the files that may
    // have changed since it was written; create where there is none yet.
    int update(const QByteArray &sourceDir, const QByteArray &checksumFile);
    int digest(const QString &algorithm, const QList<QByteArray> &files);

    // coreutils' line format, so that `sha256sum -c` accepts the output; the
    // line starts with a backslash when the name was escaped.
    static QByteArray digestLine(const std::string &digest, const QByteArray &path);

private:
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
    // ExitSuccess when the existing checksumFile can be read as one,
    // otherwise ExitError with the reason printed.
    int checkReadable(const QByteArray &checksumFile) const;
    // A line of the verify report: TerminalName::reportLine.
    static QByteArray reportLine(const std::string &path, const QString &message);
    // "newpath<TAB>Moved from "oldpath"", both paths in the report form.
    static QByteArray moveLine(const std::string &path, const std::string &from);
    // Names the checksums file and the system's reason (an errno value);
    // the plain creation error where there is no reason to give.
    void cannotWrite(const QByteArray &checksumFile, int error) const;
    // The source is a directory and the checksums file has a name; says
    // which is not.
    bool namesArePlausible(const QByteArray &sourceDir, const QByteArray &checksumFile) const;
    void message(const QString &text) const;
    // One line on stderr, already in the local encoding.
    // text with its "%1" standing for name.
    void messageNaming(const QString &format, const QByteArray &name) const;
    static void writeError(const QByteArray &line);
    void info(const QString &text) const;
    static void output(const QByteArray &bytes);
    // Adds to a JSON summary's counts how many files of the last scan were
    // still changing when their last read ended, where any were.
    static void countChanging(JsonLine &counts, const HashTools &tools);
    // The JSON report's last line; counts is its "summary" object. written:
    // the writer of a job that wrote the checksums file.
    static JsonLine summaryLine(const JsonLine &counts, const QByteArray &checksumFile,
                                const std::string &digest, const QElapsedTimer &clock,
                                const ChecksumFile::Writer *written = nullptr);

    bool quiet;
    bool json = false;
    unsigned subsetSlice = 0;
    unsigned subsetSlices = 0;
    QByteArray sliceStateFile;
    QList<QByteArray> acceptedFiles;
    bool progress;
    int jobs;
    MetricsFile *metrics = nullptr;
};
