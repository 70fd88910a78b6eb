#include "unreadablereport.h"

#include "jsonline.h"
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
