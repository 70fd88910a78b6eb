#include "localpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef ORVALEN_POSIX
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

LocalPath::Kind LocalPath::kindOf(const QByteArray &path)
{
    if (path.isEmpty())
        return Missing;
#ifdef ORVALEN_POSIX
    struct stat status;
    if (::stat(path.constData(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Missing : Unreachable;
    if (S_ISDIR(status.st_mode))
        return Directory;
    return S_ISREG(status.st_mode) ? RegularFile : OtherKind;
#else
    const QFileInfo entry(QFile::decodeName(path));
    if (!entry.exists())
        return Missing;
    if (entry.isDir())
        return Directory;
    return entry.isFile() ? RegularFile : OtherKind;
#endif
}

bool LocalPath::below(const QByteArray &directory, const QByteArray &path, QByteArray &recordPath)
{
#if defined(ORVALEN_POSIX)
    const int slash = path.lastIndexOf('/');
    const QByteArray name = path.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return false;
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    const auto resolved = [](const QByteArray &given, QByteArray &result) {
        char *real = ::realpath(given.constData(), nullptr);
        if (!real)
            return false;
        result = QByteArray(real);
        std::free(real);
        return true;
    };
    QByteArray top;
    QByteArray inside;
    if (directory.isEmpty() || !resolved(directory, top) || !resolved(folder, inside))
        return false;
    if (!top.endsWith('/'))
        top += '/';
    inside += '/';
    if (!inside.startsWith(top))
        return false;
    recordPath = inside.mid(top.size()) + name;
    return true;
#else
    (void)directory;
    (void)path;
    (void)recordPath;
    return false;
#endif
}

QString LocalPath::display(const QByteArray &path)
{
    return QFile::decodeName(path);
}
