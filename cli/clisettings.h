#pragma once

#include <QByteArray>
#include <QList>

class MetricsFile;

// What a run of orvalen-cli asks of its command besides the paths it names.
struct CliSettings
{
    // Nothing but error messages on stderr.
    bool quiet = false;
    // The progress line on stderr during a scan; never when quiet.
    bool progress = false;
    // Files hashed at once, 0 for the engine's own choice.
    int jobs = 0;
    // Standard output of create, verify and update as JSON Lines: an object
    // for each discrepancy verify reports, then one summary object.
    bool json = false;
    // verify reads only the files of slice subsetSlice (1 to subsetSlices)
    // and new ones; the names of the whole tree are still compared. 0
    // slices reads all.
    unsigned subsetSlice = 0;
    unsigned subsetSlices = 0;
    // Where --subset next/N keeps the last slice a completed verify read
    // (see SliceState); empty for a slice given by number.
    QByteArray sliceStateFile;
    // update stores the current digests of these files (named as given,
    // below the source directory) even where they may be damaged.
    QList<QByteArray> acceptedFiles;
    // Where create, verify and update leave what they found; none by default.
    MetricsFile *metrics = nullptr;
};
