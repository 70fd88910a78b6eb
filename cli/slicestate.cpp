#include "slicestate.h"

#include "atomicfile.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder the file lies in, "." for a bare name.
QByteArray folderOf(const QByteArray &fileName)
{
    const int slash = fileName.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : fileName.left(slash);
}

// A decimal number from 1 to 999999999, no sign, no blanks.
unsigned numberOf(const QByteArray &digits)
{
    if (digits.isEmpty() || digits.size() > 9)
        return 0;
    unsigned value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + unsigned(c - '0');
    }
    return value;
}

} // namespace

SliceState::SliceState(const QByteArray &fileName) : name(fileName)
{
}

bool SliceState::load()
{
    failure = 0;
    const int fd = ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        failure = errno;
        return false;
    }
    char buffer[32];
    ssize_t got;
    QByteArray text;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= 32)
        text.append(buffer, int(got));
    const int readError = got < 0 ? errno : 0;
    ::close(fd);
    if (readError != 0) {
        failure = readError;
        return false;
    }
    // The new line goes in by a rename in the folder: better to learn now
    // that it cannot than after hours of reading.
    if (::faccessat(AT_FDCWD, folderOf(name).constData(), W_OK, AT_EACCESS) != 0) {
        failure = errno;
        return false;
    }
    if (text.isEmpty())
        return true;
    const int slash = text.indexOf('/');
    if (!text.endsWith('\n') || slash < 0)
        return false;
    lastSlice = numberOf(text.left(slash));
    lastSlices = numberOf(text.mid(slash + 1, text.size() - slash - 2));
    return lastSlice >= 1 && lastSlice <= lastSlices;
}

unsigned SliceState::nextSlice(unsigned slices) const
{
    if (lastSlices != slices || lastSlice == 0)
        return 1;
    return lastSlice % slices + 1;
}

bool SliceState::record(unsigned slice, unsigned slices)
{
    const QByteArray line = QByteArray::number(slice) + '/' + QByteArray::number(slices) + '\n';
    const int base = name.lastIndexOf('/') + 1;
    const QByteArray temporary = (base > 0 ? name.left(base) : QByteArray()) + '.' + name.mid(base) + ".XXXXXX";
    struct stat old;
    const mode_t mode = ::stat(name.constData(), &old) == 0 ? old.st_mode & 07777 : 0600;
    if (!AtomicFile::replace(name, temporary, line, mode, failure))
        return false;
    lastSlice = slice;
    lastSlices = slices;
    return true;
}
