#include "atomicfile.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, at, static_cast<size_t>(left));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = EIO;
            return false;
        }
        at += done;
        left -= done;
    }
    return true;
}

// The folder the file lies in, "." for a bare name.
QByteArray folderOf(const QByteArray &fileName)
{
    const int slash = fileName.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : fileName.left(slash);
}

} // namespace

bool AtomicFile::replace(const QByteArray &path, QByteArray temporaryPattern, const QByteArray &content,
                         mode_t mode, int &error)
{
    const int fd = ::mkstemp(temporaryPattern.data());
    if (fd < 0) {
        error = errno;
        return false;
    }
    bool done = ::fchmod(fd, mode) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
    error = done ? 0 : errno;
    if (::close(fd) != 0 && done) {
        done = false;
        error = errno;
    }
    if (done && ::rename(temporaryPattern.constData(), path.constData()) != 0) {
        done = false;
        error = errno;
    }
    if (!done) {
        ::unlink(temporaryPattern.constData());
        return false;
    }
    const int folder = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}
