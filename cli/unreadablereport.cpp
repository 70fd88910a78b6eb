#include "unreadablereport.h"

#include "jsonline.h"
#include "storedindex.h"
#include "terminalname.h"

#include <cerrno>
#include <cstring>

namespace {

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
#define ORVALEN_ERRNO_NAMES
#endif

bool isFile(const ReadFailure &failure)
{
    return failure.kind == ReadFailure::Kind::File;
}

} // namespace

QString UnreadableReport::reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray UnreadableReport::untranslatedReason(int error)
{
#ifdef ORVALEN_ERRNO_NAMES
    if (const char *text = ::strerrordesc_np(error))
        return QByteArray(text);
#endif
    return QByteArray(std::strerror(error));
}

QByteArray UnreadableReport::errnoName(int error)
{
#ifdef ORVALEN_ERRNO_NAMES
    if (const char *name = ::strerrorname_np(error))
        return QByteArray(name);
#else
    // The errors a read or a listing gives in practice.
    static const struct
    {
        int error;
        const char *name;
    } names[] = {
        {EIO, "EIO"},       {EACCES, "EACCES"},   {EPERM, "EPERM"},   {ENOENT, "ENOENT"},
        {ENOTDIR, "ENOTDIR"}, {EISDIR, "EISDIR"}, {EINVAL, "EINVAL"}, {ENAMETOOLONG, "ENAMETOOLONG"},
        {ELOOP, "ELOOP"},   {ENXIO, "ENXIO"},     {ENODEV, "ENODEV"}, {ENOMEM, "ENOMEM"},
        {ETIMEDOUT, "ETIMEDOUT"}, {EBADMSG, "EBADMSG"},
    };
    for (const auto &known : names) {
        if (known.error == error)
            return QByteArray(known.name);
    }
#endif
    return QByteArray::number(error);
}

QByteArray UnreadableReport::reportLine(const ReadFailure &failure)
{
    const QString format = isFile(failure) ? tr("Cannot read file: %1") : tr("Cannot read directory: %1");
    return TerminalName::reportLine(failure.path, format.arg(reason(failure.error)));
}

QByteArray UnreadableReport::message(const QByteArray &sourceDir, const ReadFailure &failure)
{
    QByteArray path = sourceDir;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    if (!path.endsWith('/'))
        path += '/';
    path += QByteArray::fromStdString(failure.path);
    const QString format = isFile(failure) ? tr("Cannot read file \"%1\": %2.") : tr("Cannot read directory \"%1\": %2.");
    return TerminalName::withEscapedName(format.arg(QStringLiteral("%1"), reason(failure.error)), path);
}

JsonLine UnreadableReport::json(const ReadFailure &failure)
{
    JsonLine line;
    line.path("path", failure.path)
        .text("status", "unreadable")
        .text("kind", isFile(failure) ? "file" : "directory")
        .text("error", untranslatedReason(failure.error))
        .text("errno", errnoName(failure.error));
    return line;
}

bool UnreadableReport::hides(const ReadFailure &failure, const std::string &recordPath)
{
    if (isFile(failure))
        return recordPath == failure.path;
    return recordPath.size() > failure.path.size() && recordPath[failure.path.size()] == '/'
           && recordPath.compare(0, failure.path.size(), failure.path) == 0;
}

std::size_t UnreadableReport::forEachHidden(const StoredIndex &stored, const ReadFailure &failure,
                                            const std::function<void(std::size_t record)> &take)
{
    if (isFile(failure)) {
        const std::size_t record = stored.find(failure.path.data(), failure.path.size());
        if (record == StoredIndex::none)
            return 0;
        take(record);
        return 1;
    }
    // Rare, and once per directory: a walk over every record costs less
    // than an index of directories kept for every run.
    std::size_t count = 0;
    for (std::size_t record = 0; record < stored.recordCount(); ++record) {
        if (stored.counting(record) != record || !hides(failure, stored.path(record)))
            continue;
        take(record);
        ++count;
    }
    return count;
}
