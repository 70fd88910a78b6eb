#pragma once

#include "clisettings.h"

#include <QByteArray>
#include <QList>
#include <QString>

class MetricsFile;

// The four jobs of orvalen-cli with one run's settings, each run by its
// command. Each returns the process exit code (see exitcode.h); results go
// to stdout, messages to stderr. Paths are the bytes the file system takes.
class CliJobs
{
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

private:
    CliSettings settings;
};
