#include "hashwrapper.h"

#include "filereader.h"
#include "hlexception.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <memory>

#if !defined(ORVALEN_POSIX)
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

// error: the errno that says why; a failure the system gave no reason
// for counts as an input/output error.
[[noreturn]] void throwCannotRead(const std::string &path, int error)
{
    throw hlException(1, hashwrapper::cannotReadMessage(path), error != 0 ? error : EIO);
}

#if !defined(ORVALEN_POSIX)

class FileCloser
{
public:
    explicit FileCloser(std::FILE *file) : file(file) {}
    ~FileCloser() { std::fclose(file); }
    FileCloser(const FileCloser &) = delete;
    FileCloser &operator=(const FileCloser &) = delete;

private:
    std::FILE *file;
};

#else

class FdCloser
{
public:
    explicit FdCloser(int fd) : fd(fd) {}
    ~FdCloser() { ::close(fd); }
    FdCloser(const FdCloser &) = delete;
    FdCloser &operator=(const FdCloser &) = delete;

private:
    int fd;
};

#endif

} // namespace

hashwrapper::hashwrapper()
    : testText("The quick brown fox jumps over the lazy dog")
{
}

hashwrapper::~hashwrapper() = default;

std::string hashwrapper::cannotReadMessage(const std::string &path)
{
    return "Cannot read file \"" + path + "\".";
}

void hashwrapper::selfTest()
{
    const std::string computed = digestOfString(testText);
    const std::string expected = expectedTestDigest();
    if (computed != expected)
        throw hlException(2, "tamrisk test-error: \"" + computed + "\" is not \"" + expected
                                 + "\" as supposed to be.");
}

std::string hashwrapper::digestOfString(std::string text)
{
    startDigest();
    // addData takes an unsigned int; strings beyond 4 GiB go in pieces.
    const std::size_t piece = std::size_t(1) << 30;
    const unsigned char *data = reinterpret_cast<const unsigned char *>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        const std::size_t n = left < piece ? left : piece;
        addData(data, static_cast<unsigned int>(n));
        data += n;
        left -= n;
    }
    return finishDigest();
}

std::string hashwrapper::digestOfFile(std::string path)
{
    return digestOfFileWhile(path, KeepGoing());
}

void hashwrapper::finishDigestInto(std::string &text)
{
    text = finishDigest();
}

void hashwrapper::digestsInto(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                              std::string *const *digests)
{
    for (std::size_t i = 0; i < count; ++i) {
        startDigest();
        // addData takes an unsigned int at a time.
        for (std::size_t done = 0; done < lengths[i];) {
            const std::size_t piece = std::min<std::size_t>(lengths[i] - done, 1u << 30);
            addData(data[i] + done, static_cast<unsigned int>(piece));
            done += piece;
        }
        finishDigestInto(*digests[i]);
    }
}

#if !defined(ORVALEN_POSIX)

std::string hashwrapper::digestOfFileWhile(const std::string &path, const KeepGoing &keepGoing)
{
    startDigest();

    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        throwCannotRead(path, errno);
    FileCloser closer(file);

    struct _stat64 info;
    if (_fstat64(_fileno(file), &info) != 0)
        throwCannotRead(path, errno);
    if ((info.st_mode & _S_IFMT) != _S_IFREG)
        throwCannotRead(path, (info.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL);

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[fileChunkSize]);
    for (;;) {
        if (keepGoing && !keepGoing())
            return std::string();
        const std::size_t n = std::fread(buffer.get(), 1, fileChunkSize, file);
        if (n > 0)
            addData(buffer.get(), static_cast<unsigned int>(n));
        if (n < fileChunkSize) {
            if (std::ferror(file))
                throwCannotRead(path, EIO);
            break;
        }
    }
    return finishDigest();
}

#else

namespace {

// Non-blocking, so that opening a FIFO without a writer returns at once and
// the type check after it can refuse it.
int openForHashing(int dirFd, const char *path)
{
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
#ifdef O_CLOEXEC
    flags |= O_CLOEXEC;
#endif
    int fd;
    do {
        fd = dirFd < 0 ? ::open(path, flags) : ::openat(dirFd, path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

int hashwrapper::openPassage(int dirFd, const char *path)
{
#if defined(O_PATH)
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    int fd;
    do {
        fd = ::openat(dirFd, path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

namespace {

// Opens the path relative to dirFd. A path the system would refuse as too
// long is taken in pieces that it accepts, each ending at a slash; at most
// two descriptors of such a walk are open at once.
int openBelow(int dirFd, const char *path, std::size_t length)
{
    const std::size_t longest = PATH_MAX - 1;
    if (length <= longest)
        return openForHashing(dirFd, path);
    int at = dirFd;
    std::size_t begin = 0;
    while (length - begin > longest) {
        std::size_t cut = begin + longest;
        while (cut > begin && path[cut] != '/')
            --cut;
        if (cut == begin) {
            if (at != dirFd)
                ::close(at);
            errno = ENAMETOOLONG;
            return -1;
        }
        const std::string piece(path + begin, cut - begin);
        const int next = hashwrapper::openPassage(at, piece.c_str());
        const int error = errno;
        if (at != dirFd)
            ::close(at);
        if (next < 0) {
            errno = error;
            return -1;
        }
        at = next;
        begin = cut + 1;
    }
    const int fd = openForHashing(at, path + begin);
    const int error = errno;
    if (at != dirFd)
        ::close(at);
    errno = error;
    return fd;
}

int checkedRegular(int fd, long long *size, struct stat *status = nullptr)
{
    if (fd < 0)
        return -1;

    struct stat own;
    struct stat &info = status ? *status : own;
    const int failure = hashwrapper::statRegular(fd, &info);
    if (failure != 0) {
        ::close(fd);
        errno = failure;
        return -1;
    }
    // The flag stays: local file systems ignore it on regular files, and
    // the reader clears it where a file system answers EAGAIN instead.
    if (size)
        *size = static_cast<long long>(info.st_size);
    return fd;
}

} // namespace

int hashwrapper::statRegular(int fd, struct stat *status)
{
    if (::fstat(fd, status) != 0)
        return errno;
    if (!S_ISREG(status->st_mode))
        return S_ISDIR(status->st_mode) ? EISDIR : EINVAL;
    return 0;
}

int hashwrapper::openRegularFile(const std::string &path, long long *size)
{
    return checkedRegular(openForHashing(-1, path.c_str()), size);
}

int hashwrapper::openRegularFileBelow(int dirFd, const std::string &path, std::size_t belowOffset,
                                      long long *size)
{
    if (dirFd < 0)
        return openRegularFile(path, size);
    return checkedRegular(openBelow(dirFd, path.c_str() + belowOffset, path.size() - belowOffset), size);
}

int hashwrapper::openRegularFileBelow(int dirFd, const std::string &path, std::size_t belowOffset,
                                      struct stat *status)
{
    if (dirFd < 0)
        return checkedRegular(openForHashing(-1, path.c_str()), nullptr, status);
    return checkedRegular(openBelow(dirFd, path.c_str() + belowOffset, path.size() - belowOffset), nullptr,
                          status);
}

long hashwrapper::readWithoutWaiting(int fd, unsigned char *buffer, std::size_t length,
                                     long long offset)
{
    return filepieces::readWithoutWaiting(fd, buffer, length, offset);
}

std::string hashwrapper::digestOfFileWhile(const std::string &path, const KeepGoing &keepGoing)
{
    return digestOfFileBelowWhile(-1, path, 0, keepGoing);
}

std::string hashwrapper::digestOfFileBelowWhile(int dirFd, const std::string &path,
                                                std::size_t belowOffset, const KeepGoing &keepGoing)
{
    long long size = 0;
    const int fd = openRegularFileBelow(dirFd, path, belowOffset, &size);
    if (fd < 0)
        throwCannotRead(path, errno);
    FdCloser closer(fd);
#if defined(POSIX_FADV_SEQUENTIAL) && defined(__linux__)
    // A larger read-ahead window helps files that are not in the page
    // cache; a small file is read by its first read-ahead anyway.
    if (size > static_cast<long long>(fileChunkSize))
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return digestOfOpenFile(fd, size, path, size >= overlapFileSize, keepGoing);
}

std::string hashwrapper::digestOfOpenFile(int fd, long long size, const std::string &path,
                                          bool overlap, const KeepGoing &keepGoing,
                                          bool *missedCache)
{
    std::string digest;
    digestOfOpenFile(digest, fd, size, path, overlap, keepGoing, missedCache);
    return digest;
}

void hashwrapper::digestOfOpenFile(std::string &digest, int fd, long long size, const std::string &path,
                                   bool overlap, const KeepGoing &keepGoing, bool *missedCache)
{
    digest.clear();
    startDigest();
    if (!readBuffer)
        readBuffer.reset(new unsigned char[fileChunkSize]);
    filereader reader(fd, overlap, size, missedCache != nullptr, readBuffer.get());
    for (bool first = true;; first = false) {
        if (keepGoing && !keepGoing())
            return;
        const unsigned char *data = nullptr;
        const long n = reader.next(&data);
        if (first && missedCache)
            *missedCache = reader.cacheMissed();
        if (n < 0)
            throwCannotRead(path, reader.error());
        if (n == 0)
            break;
        addData(data, static_cast<unsigned int>(n));
    }
    finishDigestInto(digest);
}

#endif
