#include "metricsfile.h"

#include "atomicfile.h"

#include <QDateTime>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A label value is UTF-8 with a backslash, a double quote and a line feed
// escaped; a path that is not valid UTF-8 shows replacement characters.
QByteArray labelValue(const QByteArray &bytes)
{
    const QByteArray text = QString::fromUtf8(bytes).toUtf8();
    QByteArray escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

MetricsFile::MetricsFile(const QByteArray &path, const QString &label, const QByteArray &command,
                         const QByteArray &checksumFile)
    : target(path), label(label), command(command), checksumFile(checksumFile)
{
    clock.start();
}

void MetricsFile::setCounts(const Counts &figures)
{
    counts = figures;
}

QByteArray MetricsFile::text(int exitStatus, qint64 endMilliseconds) const
{
    QByteArray labels = "command=\"" + labelValue(command) + "\",checksums_file=\"" + labelValue(checksumFile)
                        + '"';
    if (!label.isEmpty())
        labels += ",name=\"" + labelValue(label.toUtf8()) + '"';

    QByteArray out;
    const auto gauge = [&out](const char *name, const char *help) {
        out += QByteArray("# HELP ") + name + ' ' + help + '\n';
        out += QByteArray("# TYPE ") + name + " gauge\n";
    };
    const auto sample = [&out, &labels](const char *name, const QByteArray &extra, const QByteArray &value) {
        out += QByteArray(name) + '{' + labels + extra + "} " + value + '\n';
    };
    gauge("orvalen_run_end_timestamp_seconds", "When the run ended, in seconds since 1970-01-01 UTC.");
    sample("orvalen_run_end_timestamp_seconds", QByteArray(),
           QByteArray::number(static_cast<double>(endMilliseconds) / 1000.0, 'f', 3));
    gauge("orvalen_run_duration_seconds", "How long the run took.");
    sample("orvalen_run_duration_seconds", QByteArray(),
           QByteArray::number(static_cast<double>(clock.nsecsElapsed()) / 1e9, 'f', 3));
    gauge("orvalen_run_exit_status", "The exit status of orvalen-cli: 0 clean, 1 discrepancies, 2 error, "
                                     "130 interrupted.");
    sample("orvalen_run_exit_status", QByteArray(), QByteArray::number(exitStatus));
    gauge("orvalen_files_checked", "Files of the tree the run took into account.");
    sample("orvalen_files_checked", QByteArray(), QByteArray::number(counts.checked));
    gauge("orvalen_discrepancy_files", "Files the run found in each status.");
    const std::pair<const char *, qint64> statuses[] = {
        {"changed", counts.changed}, {"damaged", counts.damaged}, {"new", counts.added},
        {"missing", counts.missing}, {"moved", counts.moved}, {"unreadable", counts.unreadable}};
    for (const auto &status : statuses)
        sample("orvalen_discrepancy_files", QByteArray(",status=\"") + status.first + '"',
               QByteArray::number(status.second));
    return out;
}

bool MetricsFile::write(int exitStatus, int &error) const
{
    // The temporary name does not end in .prom, so the collector never
    // reads it; the file is read by the collector, which runs as another
    // user.
    return AtomicFile::replace(target, target + ".XXXXXX", text(exitStatus, QDateTime::currentMSecsSinceEpoch()),
                               0644, error);
}
