#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

// The figures of one run of create, verify or update in the Prometheus text
// format, for node_exporter's textfile collector: written once the run is
// over, whatever its outcome, into a temporary file beside the target that
// then replaces it, so that a reader never sees half a file.
class MetricsFile
{
public:
    // label: the value of the "name" label, left out when empty. The clock
    // starts here.
    MetricsFile(const QByteArray &path, const QString &label, const QByteArray &command,
                const QByteArray &checksumFile);

    // What the run found. update: checked is every file of the tree, changed
    // the files hashed again, new the files added, missing the files
    // dropped, damaged the files held back. unreadable: files and directories
    // that could not be read.
    struct Counts
    {
        qint64 checked = 0;
        qint64 changed = 0;
        qint64 damaged = 0;
        qint64 added = 0;
        qint64 missing = 0;
        qint64 moved = 0;
        qint64 unreadable = 0;
    };
    void setCounts(const Counts &figures);

    // The file's content for a run that ended now with exitStatus at
    // endMilliseconds since 1970-01-01 UTC.
    QByteArray text(int exitStatus, qint64 endMilliseconds) const;

    // Writes text(exitStatus, now) in place of the file. False with the
    // system's errno in error; no temporary file is left behind.
    bool write(int exitStatus, int &error) const;

    const QByteArray &path() const { return target; }

private:
    QByteArray target;
    QString label;
    QByteArray command;
    QByteArray checksumFile;
    Counts counts;
    QElapsedTimer clock;
};
