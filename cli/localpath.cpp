#include "localpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef ORVALEN_POSIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

LocalPath::Kind LocalPath::kindOf(const QByteArray &path)
{
    if (path.isEmpty())
        return Missing;
#ifdef ORVALEN_POSIX
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Missing : Unreachable;
    if (S_ISDIR(info.st_mode))
        return Directory;
    return S_ISREG(info.st_mode) ? RegularFile : OtherKind;
#else
    const QFileInfo info(QFile::decodeName(path));
    if (!info.exists())
        return Missing;
    if (info.isDir())
        return Directory;
    return info.isFile() ? RegularFile : OtherKind;
#endif
}

QString LocalPath::display(const QByteArray &path)
{
    return QFile::decodeName(path);
}
